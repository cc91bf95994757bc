// The second grab-module family's LUTs, camera controls and grab requests as a program meets
// them: a second-family camera file through imCamAlloc, controls and inquiries through
// imCamControl and imCamInquire, grabs through imDigGrab, and what reached the simulated
// module read back from its registers and chips.  Only hlclib.h and libhlclib.so are used.
#include "hlclib.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
using libsandbox::LastText;

std::string CameraFile(const std::map<std::string, uint32_t>& lines)
{
    std::ostringstream f;
    f << "[CONFIG_FILE]\n50CF\nHALCYRA_GRAB_1\nWritten by hand\n\nVDL_AMPL 714\nVDL_PEDEST 0\nVDL_PED_AMP 0\n";
    f << "[REG_DIGIT]\n";
    for (const auto& [keyword, value] : lines) f << keyword << " " << value << "\n";
    f << "[REG_MODIF_STATE]\n\n[EOF]\n";
    return f.str();
}

std::map<std::string, uint32_t> OneTapCamera()
{
    return {{"DESCRIPTION_INFO_XSIZE", 640}, {"DESCRIPTION_INFO_YSIZE", 480}, {"DESCRIPTION_INFO_BITSPERLOGCH", 8},
            {"DESCRIPTION_INFO_CHANNEL", 1}, {"DESCRIPTION_INFO_XTAPSPERCH", 1}, {"DESCRIPTION_INFO_YTAPSPERCH", 1},
            {"DESCRIPTION_INFO_XTAPSPERCHADJ", 1}, {"DESCRIPTION_INFO_YTAPSPERCHADJ", 1}, {"FAF_OPAMPCTL", 0x2},
            {"DEC_BRT", 0x80}};
}

class KvxControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.useFpgaFile();
        box_.write("halcyra.ini", libsandbox::kOneBoard);
        boardsim::Topology topology;
        topology.boards[0].fpgaBytes = libsandbox::kFpgaBytes;
        topology.boards[0].moduleType = 4;
        boardsim::BoardSim::instance().configure(topology);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
    }
    void TearDown() override
    {
        if (camera_) imCamFree(kThread, camera_);
        libsandbox::FreeDevice(device_);
        boardsim::BoardSim::instance().configure();
    }
    uint32_t Alloc(std::map<std::string, uint32_t> lines)
    {
        box_.write("kvx.dcf", CameraFile(lines));
        imAppGetError(1, nullptr);
        return imCamAlloc(kThread, box_.path("kvx.dcf").c_str(), 1, &camera_);
    }
    // Gain and references answer a double, the other controls a 32-bit integer.
    double Ask(int32_t type)
    {
        double v = -1.0;
        imCamInquire(kThread, camera_, type, &v);
        return v;
    }
    int32_t AskInt(int32_t type)
    {
        int32_t v = -1;
        imCamInquire(kThread, camera_, type, &v);
        return v;
    }
    static boardsim::KvxView Kvx() { return boardsim::BoardSim::instance().kvx(0); }

    libsandbox::Sandbox box_{"hlckvxctl"};
    uint32_t device_ = 0;
    uint32_t camera_ = 0;
};

TEST_F(KvxControlTest, ACameraThatProgramsItsLutsLoadsTheRampIntoAllSix)
{
    auto lines = OneTapCamera();
    lines["DESCRIPTION_INFO_LUTPROG"] = 1;
    ASSERT_NE(Alloc(lines), 0u) << LastText();
    libsandbox::ExpectNoError();
    for (int which = 0; which < 6; ++which)
        for (uint32_t entry : {0u, 1u, 127u, 200u, 255u}) EXPECT_EQ(Kvx().lut(which, entry), int(entry)) << which;
}

TEST_F(KvxControlTest, ACameraWithMoreThanTwoTapsFailsItsDownload)
{
    auto lines = OneTapCamera();
    lines["DESCRIPTION_INFO_LUTPROG"] = 1;
    lines["DESCRIPTION_INFO_XTAPSPERCH"] = 3;
    Alloc(lines);
    EXPECT_EQ(imAppGetError(0, nullptr), IM_ERR_RESTRICTED);
    EXPECT_EQ(LastText(), "Error loading digitizer registers");
}

TEST_F(KvxControlTest, PictureControlsAndGainEditTheCameraRecord)
{
    ASSERT_NE(Alloc(OneTapCamera()), 0u) << LastText();
    EXPECT_EQ(Ask(30002), 75.0) << "FAF_OPAMPCTL code 2";
    EXPECT_EQ(imCamControl(kThread, camera_, 30002, 25.1), 0) << LastText();
    EXPECT_EQ(Ask(30002), 50.0);
    EXPECT_EQ(AskInt(30027), 50) << "DEC_BRT 0x80 from the file";
    EXPECT_EQ(imCamControl(kThread, camera_, 30027, 25.0), 0);
    EXPECT_EQ(AskInt(30027), 75) << "stored as 192: the raw byte in percent";
    EXPECT_EQ(imCamControl(kThread, camera_, 30027, 268435456.0), 0);
    EXPECT_EQ(AskInt(30027), 50) << "the default restores the file's value";
    EXPECT_EQ(AskInt(30020), 1);
    libsandbox::ExpectNoError();
}

TEST_F(KvxControlTest, RecordOnlyControlsAreRefusedOnTheLiveModule)
{
    ASSERT_NE(Alloc(OneTapCamera()), 0u) << LastText();
    imAppGetError(1, nullptr);
    int32_t v = 0;
    imDigInquire(kThread, 0, 30027, &v);
    EXPECT_EQ(imAppGetError(0, nullptr), IM_ERR_INVALID_PARAMETER);
    imAppGetError(1, nullptr);
    imDigInquire(kThread, 0, 30005, &v);
    libsandbox::ExpectNoError();
}


// ---- grab requests -------------------------------------------------------------------------

constexpr uint32_t kBoardMemory = 1;
constexpr uint32_t kDone = 50;

class KvxGrabRequest : public KvxControlTest {
protected:
    uint32_t Destination()
    {
        uint32_t id = 0;
        EXPECT_NE(imBufAlloc(device_, 640, 480, 1, 8, kBoardMemory, &id), 0u) << LastText();
        return id;
    }
    static uint32_t Sync() { return libsandbox::HeldSyncObject(kThread); }
    // One lane write of the library carried the bits (all in one byte).  Not the register's
    // value after the write: the module acts on the low lane at once and takes its command
    // bits (the one-frame bit clears) before the high lane follows.
    static bool Wrote(uint32_t reg, uint16_t bits)
    {
        const auto w = Kvx().writes(reg);
        return std::any_of(w.begin(), w.end(), [bits](const boardsim::GrabWrite& x) {
            return ((x.high ? x.byte << 8 : x.byte) & bits) == bits;
        });
    }
    // Waits on the thread until the grab request has started the module's channel 0 with
    // the bits.  At least one wait: the thread serves it only after the request is through,
    // grab-control record included, which a halt that follows reads.
    static bool Started(uint32_t sync, uint16_t bits)
    {
        for (int i = 0; i < 2000; ++i) {
            imSyncHost(kThread, sync, 30);
            if (Wrote(0x308, bits)) return true;
        }
        return false;
    }
};

TEST_F(KvxGrabRequest, TwoChannelCamerasAreRefusedAndTheThreadStaysUsable)
{
    auto lines = OneTapCamera();
    lines["DESCRIPTION_INFO_CHANNEL"] = 2;
    ASSERT_NE(Alloc(lines), 0u) << LastText();
    const uint32_t destination = Destination();
    const uint32_t sync = Sync();
    EXPECT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, 0, sync), 0);
    EXPECT_EQ(imSyncHost(kThread, sync, kDone), static_cast<int32_t>(kDone)) << "a refused grab ends its sync";
    char text[200] = {};
    EXPECT_EQ(imThrGetError(kThread, 0, nullptr), IM_ERR_RESTRICTED);
    imThrGetError(kThread, 4 | 1, text);
    EXPECT_STREQ(text, "Invalid channel");
    EXPECT_FALSE(Wrote(0x308, 0x8)) << "nothing was started";
    imSyncFree(kThread, sync);
    imBufFree(device_, destination);
}

TEST_F(KvxGrabRequest, ASingleFrameGrabProgramsTheBufferControllerAndStartsChannelZero)
{
    ASSERT_NE(Alloc(OneTapCamera()), 0u) << LastText();
    const uint32_t destination = Destination();
    Kvx().clearLog();
    const uint32_t sync = Sync();
    EXPECT_EQ(imDigGrab(kThread, 0, camera_, destination, 1, 0, sync), 0) << LastText();
    EXPECT_TRUE(Started(sync, 0x8)) << "FAF_GRBCTL0 bit 3: one frame";
    EXPECT_EQ(Kvx().reg(0x18), 1) << "BTC_GDBUF_0";
    EXPECT_EQ(Kvx().reg(0x40), 23) << "BTC_GLINE_0: 24 lines per block";
    EXPECT_EQ(Kvx().reg(0x48), 19) << "BTC_GBLCK_0: 20 blocks";
    EXPECT_EQ(Kvx().reg(0x60), 1) << "BTC_START_0";
    EXPECT_EQ(imThrGetError(kThread, 0, nullptr), 0);
}

TEST_F(KvxGrabRequest, AContinuousGrabRunsUntilTheHaltAbortsIt)
{
    ASSERT_NE(Alloc(OneTapCamera()), 0u) << LastText();
    const uint32_t destination = Destination();
    Kvx().clearLog();
    const uint32_t sync = Sync();
    EXPECT_EQ(imDigGrab(kThread, 0, camera_, destination, static_cast<uint32_t>(-1), 0, sync), 0) << LastText();
    ASSERT_TRUE(Started(sync, 0x2)) << "FAF_GRBCTL0 bit 1: continuous";
    EXPECT_FALSE(Wrote(0x308, 0x1)) << "not aborted yet";
    EXPECT_EQ(imThrHalt(kThread, 1), 0) << LastText();
    // The halt runs on the node; the grab's end reaches the sync object after the abort.
    EXPECT_EQ(imSyncHost(kThread, sync, kDone), static_cast<int32_t>(kDone)) << LastText();
    EXPECT_EQ(Kvx().reg(0x308), 0x1) << "the halt aborts the channel and ends its continuous mode";
    imSyncFree(kThread, sync);
}

}  // namespace
