// The second grab-module family as a program meets it: a second-family camera file through
// imCamAlloc on a board whose primary Orlo carries the module, through hlclib.h and
// libhlclib.so only.  What the allocation built and downloaded is read back from the
// simulated module's chips and the board's memory.
#include "hlclib.h"
#include "libsandbox.h"

#include "boardsim.h"
#include "regmap/kvx_regs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kThread = 0x40000010u | (kNode << 16);
using libsandbox::LastText;

// Slot offsets of the second family's record for the timing registers the tests name.
constexpr uint32_t kPtotal = 1024;
constexpr uint32_t TimingIndex(uint32_t slot) { return (slot - kPtotal) / 4; }

// An analogue 640 x 480 camera at 8 bits: timing chip, PLL, DAC and decoder values.
std::vector<std::pair<std::string, uint32_t>> AnalogueCamera()
{
    return {
        {"DESCRIPTION_INFO_XSIZE", 640}, {"DESCRIPTION_INFO_YSIZE", 480}, {"DESCRIPTION_INFO_BITSPERLOGCH", 8},
        {"DESCRIPTION_INFO_CHANNEL", 1},
        {"FAF_PTOTAL", 0x0101}, {"FAF_PSVAL", 0x0202}, {"FAF_HTOTAL", 858}, {"FAF_HSSYNC", 16},
        {"FAF_HESYNC", 80}, {"FAF_VTOTAL", 525}, {"FAF_CLOCKCTL", 0x3}, {"FAF_PLLCTL", 0x2},
        {"FAF_IOENCTL0", 0x7474}, {"FAF_IOENCTL1", 0x7676}, {"FAF_OPAMPCTL", 0x7878}, {"FAF_USERO", 0x8282},
        {"FAF_DEVPROG", 0x8}, {"FAF_GRBCTL0", 0x10},
        {"PLL_ICS1522REG0", 0x35}, {"PLL_ICS1522REG1", 0x21}, {"PLL_ICS1522REG2", 0x06},
        {"PLL_ICS1522REG3", 0x13}, {"PLL_ICS1522REG4", 0x59C}, {"PLL_ICS1522REG5", 0x5C1},
        {"PLL_ICS1522REG6", 0x47},
        {"DAC_CH0POSREF", 0x90}, {"DAC_CH0LVL", 0x20}, {"DAC_CH1POSREF", 0x91}, {"DAC_CH1LVL", 0x21},
        {"DEC_CMDB", 0x11}, {"DEC_HUE", 0x33},
        {"BTC_CLKSEL", 5},
    };
}

class KvxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.useFpgaFile();
        box_.write("halcyra.ini", libsandbox::kOneBoard);
    }
    void TearDown() override
    {
        if (camera_) imCamFree(kThread, camera_);
        libsandbox::FreeDevice(device_);
        boardsim::BoardSim::instance().configure();
    }
    // One board with the module of the type given behind its primary Orlo; with `display`
    // its display Orlo too, and with `chip` the display chip whose memory the second bank
    // takes.
    void Open(uint8_t moduleType = 4, bool display = false, bool chip = false)
    {
        boardsim::Topology topology = libsandbox::KvxModuleBoard(moduleType);
        topology.boards[0].displayOrlo = display;
        topology.boards[0].displayChip = chip;
        boardsim::BoardSim::instance().configure(topology);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
    }
    uint32_t Alloc(const std::vector<std::pair<std::string, uint32_t>>& lines)
    {
        box_.write("kvx.dcf", libsandbox::KvxCameraFile(lines));
        imAppGetError(1, nullptr);
        return imCamAlloc(kThread, box_.path("kvx.dcf").c_str(), 1, &camera_);
    }
    static boardsim::KvxView Kvx() { return boardsim::BoardSim::instance().kvx(0); }

    // Start-up lists in a board memory: the offsets (from the window's start) of each 21-entry
    // list, found by its shape: two jumps, the bank's Orlo control write, the doorbell at 20.
    static std::vector<uint32_t> StartupLists(bool display)
    {
        boardsim::OrloView orlo = boardsim::BoardSim::instance().orlo(0, display);
        const uint32_t size = display ? 0x200000 : 0x400000;
        std::vector<uint32_t> words(size / 4);
        if (!orlo.readMemory(0, words.data(), size)) return {};
        std::vector<uint32_t> found;
        for (uint32_t w = 0; w + 42 <= words.size(); w += 2) {
            const uint32_t* e = &words[w];
            if (e[1] == 0x2002008 && e[3] == 0x2002008 && e[5] == 0x2002020 && e[7] == 0x2002010 &&
                e[41] == 0x2002008 && e[39] == 0x2002030 && e[38] == 128)
                found.push_back(w * 4);
        }
        return found;
    }

    libsandbox::Sandbox box_{"hlckvx"};
    uint32_t device_ = 0;
    uint32_t camera_ = 0;
};

TEST_F(KvxTest, ModuleTypesFromTheIdByte)
{
    for (uint8_t type : {4, 5, 6}) {
        boardsim::Topology topology;
        topology.boards[0].moduleType = type;
        boardsim::BoardSim::instance().configure(topology);
        const uint8_t expected[] = {0, 0, 0, 0, 32, 252, 33};
        EXPECT_EQ(Kvx().idByte(), expected[type]) << int(type);
        EXPECT_TRUE(Kvx().fitted());
    }
    boardsim::Topology topology;
    topology.boards[0].moduleType = 4;
    topology.boards[0].kvxIdByte = 253;
    boardsim::BoardSim::instance().configure(topology);
    EXPECT_EQ(Kvx().idByte(), 253);
    topology.boards[0].moduleType = 3;
    boardsim::BoardSim::instance().configure(topology);
    EXPECT_EQ(Kvx().idByte(), 255) << "type 3 answers no id byte";
    topology.boards[0].moduleType = 1;
    boardsim::BoardSim::instance().configure(topology);
    EXPECT_FALSE(Kvx().fitted());
}

TEST_F(KvxTest, CameraAllocationDownloadsChannelZero)
{
    Open();
    ASSERT_NE(Alloc(AnalogueCamera()), 0u) << LastText();
    libsandbox::ExpectNoError();
    // Timing chip of channel 0, at the indices of its registers.
    EXPECT_EQ(Kvx().timing(0, TimingIndex(1024)), 0x0101);
    EXPECT_EQ(Kvx().timing(0, TimingIndex(1032)), 0x0202);
    EXPECT_EQ(Kvx().timing(0, 74), 0x7474);
    EXPECT_EQ(Kvx().timing(0, 76), 0x7676);
    EXPECT_EQ(Kvx().timing(0, 78), 0x7878);
    EXPECT_EQ(Kvx().timing(0, 82), 0x8282);
    EXPECT_EQ(Kvx().timing(0, TimingIndex(1048)), 858);
    EXPECT_EQ(Kvx().timing(1, TimingIndex(1048)), 0) << "one channel is loaded";
    EXPECT_EQ(Kvx().reg(kvxregs::GrabControl(0)), 0x10);
    // PLL, DAC and decoder.
    const int pll[7] = {0x35, 0x21, 0x06, 0x13, 0x59C, 0x5C1, 0x47};
    for (int r = 0; r < 7; ++r) EXPECT_EQ(Kvx().pll(0, r), pll[r]) << r;
    EXPECT_EQ(Kvx().dac(0), 0x90);
    EXPECT_EQ(Kvx().dac(4), 0x20);
    EXPECT_EQ(Kvx().dac(1), 0x91);
    EXPECT_EQ(Kvx().dac(5), 0x21);
    EXPECT_EQ(Kvx().decoder(0, 2), 0x11);
    EXPECT_EQ(Kvx().decoder(0, 22), 0x33);
    // The buffer controller's start values.
    EXPECT_EQ(Kvx().reg(kvxregs::BTC_CLKSEL), 5) << "a camera's clock selection stays";
    EXPECT_EQ(Kvx().reg(kvxregs::BTC_AIDCYC), 17);
    EXPECT_EQ(Kvx().reg(kvxregs::BTC_GGRBIX), 0xED1);
    EXPECT_EQ(Kvx().reg(kvxregs::BTC_DDMAIX), 0xED3);
    EXPECT_EQ(Kvx().reg(kvxregs::BTC_GBUFCTL) & 0x5, 0x5);
    EXPECT_EQ(Kvx().reg(kvxregs::BTC_GDUMID), 32512) << "the dummy target of the 64 KB aligned entry";
}

TEST_F(KvxTest, ClockSelectionZeroBecomesNine)
{
    Open();
    auto lines = AnalogueCamera();
    lines.pop_back();   // BTC_CLKSEL
    ASSERT_NE(Alloc(lines), 0u) << LastText();
    EXPECT_EQ(Kvx().reg(kvxregs::BTC_CLKSEL), 9);
}

TEST_F(KvxTest, OneOrloGivesOneBankAndItsStartupList)
{
    Open();
    ASSERT_NE(Alloc(AnalogueCamera()), 0u) << LastText();
    const auto lists = StartupLists(false);
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0] % 65536, 32512u) << "at entry 1 + 32512";
    boardsim::OrloView orlo = boardsim::BoardSim::instance().orlo(0);
    uint32_t list[42] = {};
    ASSERT_TRUE(orlo.readMemory(lists[0], list, sizeof list));
    const uint32_t commands[21] = {0x2002008, 0x2002008, 0x2002020, 0x2002010, 0x2002028, 0x2001830, 0x2001830,
                                   0x2002020, 0x2002010, 0x2002028, 0x2002008, 0x2002020, 0x2002010, 0x2002028,
                                   0x2001830, 0x2001830, 0x2002020, 0x2002010, 0x2002028, 0x2002030, 0x2002008};
    for (int i = 0; i < 21; ++i) EXPECT_EQ(list[2 * i + 1], commands[i]) << "entry " << i + 1;
    EXPECT_EQ(list[2 * 3], 3u);
    EXPECT_EQ(list[2 * 4], 8192u);
    EXPECT_EQ(list[2 * 5], 0xCD381Bu);
    EXPECT_EQ(list[2 * 6], 0xCD381Au);
    EXPECT_EQ(list[2 * 9], 4096u);
    EXPECT_EQ(list[2 * 2] & 0x800000u, 0x800000u) << "the Orlo control with bit 23 set";
    EXPECT_EQ(list[2 * 7] & 0x800000u, 0u) << "and cleared";
    EXPECT_EQ(list[2 * 2] & 0x2000u, 0u) << "bit 13 cleared";
    EXPECT_EQ(list[2 * 10], list[2 * 20]) << "both jump to entry 0 + 256";
    EXPECT_EQ(list[2 * 1] - list[2 * 0], 72u) << "entry 1 + 32528 and + 32600";
    EXPECT_EQ(list[2 * 0] % 65536, 32528u);
    EXPECT_TRUE(StartupLists(true).empty());
}

TEST_F(KvxTest, PrimaryOrloAloneWritesTheDummyTargetsOnce)
{
    Open();
    ASSERT_NE(Alloc(AnalogueCamera()), 0u) << LastText();
    EXPECT_EQ(Kvx().values(kvxregs::BTC_GDUMID).size(), 1u);
    EXPECT_EQ(Kvx().values(kvxregs::BTC_DDUMID).size(), 1u);
}

TEST_F(KvxTest, FailedBankFailsTheCameraAndLeavesTheModuleUnloaded)
{
    // A display Orlo without the display chip has no memory for the second bank.
    Open(4, true, false);
    EXPECT_EQ(Alloc(AnalogueCamera()), 0u);
    EXPECT_EQ(camera_, 0u);
    EXPECT_EQ(imAppGetError(0, nullptr), IM_ERR_NO_RESOURCES) << LastText();
    imAppGetError(1, nullptr);
    EXPECT_TRUE(Kvx().pllLoads(0).empty()) << "nothing downloaded";
    // Every attempt fails the same way: the node never counts as loaded.
    EXPECT_EQ(Alloc(AnalogueCamera()), 0u);
    EXPECT_EQ(imAppGetError(0, nullptr), IM_ERR_NO_RESOURCES);
    imAppGetError(1, nullptr);
}

// The device control's serial access: the operation in bits 8-11 of the type, the channel
// in bits 16-31 and the register in bits 0-7 of the value's low word, the data in its high
// word.
double SerialValue(uint32_t channel, uint32_t reg, uint32_t data)
{
    const uint64_t bits = (static_cast<uint64_t>(data) << 32) | (channel << 16) | reg;
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

TEST_F(KvxTest, SerialAccessThroughTheDeviceControl)
{
    Open();
    ASSERT_NE(Alloc(AnalogueCamera()), 0u) << LastText();
    Kvx().clearLog();
    constexpr uint32_t kSerial = 19;
    imDevControl(device_, kSerial | 256, SerialValue(3, 40, 0x6D));
    imDevControl(device_, kSerial | 1024, SerialValue(0, 7, 0xE1));
    imDevControl(device_, kSerial | 2048, SerialValue(2, 5, 0x4AB));
    uint32_t ignored = 0;
    imDevInquire(device_, 3, &ignored);   // a waiting command: the controls before it are done
    libsandbox::ExpectNoError();
    EXPECT_EQ(Kvx().decoder(3, 40), 0x6D);
    EXPECT_EQ(Kvx().dac(7), 0xE1);
    EXPECT_EQ(Kvx().pll(2, 5), 0x4AB);
    // The inquiry reads the decoder register back: channel 3 in the high half, register 40.
    uint32_t asked = (3u << 16) | 40u;
    EXPECT_EQ(imDevInquire(device_, kSerial, &asked), 0x6Du);
    EXPECT_EQ(asked, 0x6Du);
    // A channel past the module's four writes nothing.
    Kvx().clearLog();
    imDevControl(device_, kSerial | 256, SerialValue(4, 40, 0x11));
    imDevControl(device_, kSerial | 2048, SerialValue(9, 1, 0x11));
    imDevInquire(device_, 3, &ignored);
    EXPECT_EQ(Kvx().writeCount(), 0u);
}

} // namespace
