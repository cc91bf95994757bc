#include "../../../fuzz/seeds.h"
#include "../../../fuzz/namedpipe.h"
#include "boardsim.h"
#include "driverreq.h"
#include "fpgaload.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "nodeopen.h"

#include <gtest/gtest.h>

#include <optional>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using boardsim::BoardSim;
using boardsim::HwArea;
using boardsim::HwOp;
using boardsim::Topology;

namespace {

constexpr uint32_t kNode = 0x11;
_NODE_MAIN_RESOURCE_ST g_record;
uint32_t g_module = 1;
std::vector<double> g_sleeps;

_NODE_MAIN_RESOURCE_ST* Resource(uint32_t node)
{
    return node == kNode ? &g_record : nullptr;
}
uint32_t Module(_NODE_MAIN_RESOURCE_ST*)
{
    return g_module;
}
void Sleep(double s)
{
    g_sleeps.push_back(s);
}

class FpgaLoaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/fpgaloadXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        unsetenv("FPGANAME");
        unsetenv("FPGAPATH");
        unsetenv("COFFLOADOPTION");
        g_module = 1;
        g_sleeps.clear();
        Use(7, false);
    }
    void TearDown() override
    {
        if (device_ != kInvalidDevice) DeviceClose(device_);
        board_.reset();
        unsetenv("FPGANAME");
        unsetenv("FPGAPATH");
        unsetenv("COFFLOADOPTION");
        std::system(("rm -rf " + dir_).c_str());
    }
    void Use(uint32_t fpgaBytes, bool configured, bool primary = true)
    {
        Topology t;
        t.boards[0].fpgaBytes = fpgaBytes;
        t.boards[0].fpgaConfigured = configured;
        t.boards[0].primaryOrlo = primary;
        t.boards[0].displayOrlo = !primary;
        BoardSim::instance().configure(t);
        if (device_ != kInvalidDevice) DeviceClose(device_);
        device_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(device_, kInvalidDevice);
        g_record = _NODE_MAIN_RESOURCE_ST{};
        const uint32_t region = primary ? HLC_REGION_PRIMARY : HLC_REGION_DISPLAY;
        uint32_t regs = 0, port = 0;
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, region, 0x4000, 0x4000000, &regs));
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, region, 0x800, 0x4080000, &port));
        (primary ? g_record.primaryRegs : g_record.displayRegs) = regs;
        (primary ? g_record.primaryPort : g_record.displayPort) = port;
        HlcWireLibrary();
        board_.emplace();
        board_->table.nodeResource = Resource;
        board_->table.externalBoardId = Module;
        board_->table.sleep = Sleep;
        ASSERT_EQ(board_->Install(), 0);
    }
    std::string Write(const std::string& name, const std::string& text)
    {
        const std::string path = dir_ + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        qsrf_fuzz::SaveFuzzSeed("fpga", path);
        return path;
    }
    std::vector<uint8_t> Decode(const std::string& text, uint32_t* status = nullptr)
    {
        FILE* f = std::fopen(Write("decode.res", text).c_str(), "rb");
        uint8_t* image = nullptr;
        uint32_t length = 0;
        const uint32_t s = PrFpgaReadGeneric(f, &image, &length);
        std::fclose(f);
        if (status) *status = s;
        std::vector<uint8_t> v(image, image + length);
        std::free(image);
        return v;
    }

    DeviceHandle device_ = kInvalidDevice;
    std::optional<HlcBoardHookOverride> board_;
    std::string dir_;
};

// ---------------------------------------------------------------- bit file format

TEST_F(FpgaLoaderTest, LanesCombineWithTheirTrailers)
{
    EXPECT_EQ(Decode("Generic[0]=0110\nGeneric[1]=1\n"), (std::vector<uint8_t>{0x02, 0x03, 0x01, 0x02, 0x01, 0x00, 0x01}));
}

TEST_F(FpgaLoaderTest, PlainGenericIsLaneThreeAndSeparatorsAreSkipped)
{
    EXPECT_EQ(Decode("Generic=1 0\r\n1=0\nx"), (std::vector<uint8_t>{8, 0, 8, 0, 8, 0, 8}));
    // Any other character ends the run.
    EXPECT_EQ(Decode("Generic[7]=11;111"), (std::vector<uint8_t>{0x80, 0x80, 0x80, 0x00, 0x80}));
}

TEST_F(FpgaLoaderTest, MalformedDataIsRefused)
{
    uint32_t status = 0;
    Decode("no data here\n", &status);
    EXPECT_EQ(status, FPGA_READ_NO_DATA);
    Decode("Generic[8]=0101\n", &status);
    EXPECT_EQ(status, FPGA_READ_NO_DATA);
    Decode("Generic[x]=0101\n", &status);
    EXPECT_EQ(status, FPGA_READ_NO_DATA);
    Decode("Generic(9)=0101\n", &status);
    EXPECT_EQ(status, FPGA_READ_NO_DATA);
}

TEST_F(FpgaLoaderTest, LaneMayBeWrittenBetweenAnyTwoCharacters)
{
    EXPECT_EQ(Decode("Generic(5)=1\n"), (std::vector<uint8_t>{0x20, 0x20, 0x00, 0x20}));
    // Lane 2: 0, 1 and the trailer 1, 0, 1; lane 0: 1 and the trailer 1, 0, 1.
    EXPECT_EQ(Decode("Generic 2 =01\nGeneric<0>=1\n"), (std::vector<uint8_t>{0x01, 0x05, 0x04, 0x01, 0x04}));
}

TEST_F(FpgaLoaderTest, SeekCapturesVersionsAndStopsAtTheFirstDataLine)
{
    const std::string path = Write("v.res", "design x\nSW_Version 2.15\nHW_Version 3.5abc\nGeneric device\nGeneric[2]=1\n");
    FILE* f = nullptr;
    double sw = 0, hw = 0;
    ASSERT_EQ(PrFpgaSeekGeneric(kNode, path.c_str(), &f, &sw, &hw), 0u);
    EXPECT_DOUBLE_EQ(sw, 2.15);
    EXPECT_DOUBLE_EQ(hw, 3.5);
    char rest[16] = {};
    ASSERT_TRUE(std::fgets(rest, sizeof rest, f));
    EXPECT_STREQ(rest, "Generic[2]=1\n");
    EXPECT_EQ(PrFileSize(f), 71);
    std::fclose(f);
    EXPECT_EQ(PrFpgaSeekGeneric(kNode, Write("none.res", "Generic\n").c_str(), &f, nullptr, nullptr), FPGA_READ_NO_DATA);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(PrFileSize(nullptr), -1);
}

// ---------------------------------------------------------------- loading

TEST_F(FpgaLoaderTest, LoadsThroughTheDataPortUntilDone)
{
    Write("grab.res", "SW_Version 1.0\nGeneric[0]=0110\nGeneric[1]=1\n");
    setenv("FPGAPATH", dir_.c_str(), 1);
    BoardSim::instance().setTracing(true);
    EXPECT_EQ(mp_sys_load_fpga(kNode, "grab", 0), 0u);
    EXPECT_EQ(BoardSim::instance().fpga(0).data(), (std::vector<uint8_t>{0x02, 0x03, 0x01, 0x02, 0x01, 0x00, 0x01}));
    EXPECT_EQ(BoardSim::instance().fpga(0).pulses(), 1u);
    EXPECT_TRUE(BoardSim::instance().fpga(0).done());
    EXPECT_EQ(g_sleeps, (std::vector<double>{0.040, 0.040}));
    // Program bit set, then cleared, before the first data word; each data word is
    // followed by a read of the control word.
    std::vector<std::string> seen;
    for (const auto& a : BoardSim::instance().trace()) {
        if (a.area == HwArea::PrimaryRegs && a.op == HwOp::Write && a.offset == kOrloControl)
            seen.push_back(a.value & 0x40000000u ? "pulse" : "release");
        if (a.area == HwArea::PrimaryPort && a.op == HwOp::Write) seen.push_back("data");
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"pulse", "release", "data", "data", "data", "data", "data", "data", "data"}));
}

TEST_F(FpgaLoaderTest, DataBytesAreSignExtended)
{
    Use(1, false);
    const std::string path = Write("hi.res", "Generic[7]=1\n");
    BoardSim::instance().setTracing(true);
    EXPECT_EQ(mp_sys_load_fpga(kNode, path.c_str(), 0), 0u);
    for (const auto& a : BoardSim::instance().trace())
        if (a.area == HwArea::PrimaryPort && a.op == HwOp::Write) {
            EXPECT_EQ(a.value, 0xFFFFFF80u);
            break;
        }
}

TEST_F(FpgaLoaderTest, DisplayOrloCarriesTheFpgaWithoutAPrimary)
{
    Use(7, false, false);
    EXPECT_EQ(mp_sys_load_fpga(kNode, Write("d.res", "Generic[0]=0110\nGeneric[1]=1\n").c_str(), 0), 0u);
    EXPECT_TRUE(BoardSim::instance().fpga(0).done());
}

TEST_F(FpgaLoaderTest, ShortImageLeavesDoneClear)
{
    Use(100, false);
    EXPECT_EQ(mp_sys_load_fpga(kNode, Write("s.res", "Generic=0101\n").c_str(), 0), FPGA_NOT_DONE);
}

TEST_F(FpgaLoaderTest, DoneAfterThePulseMeansNoModule)
{
    Topology t;
    t.boards[0].fpgaBytes = 7;
    t.boards[0].fpgaDoneStuck = true;
    BoardSim::instance().configure(t);
    DeviceClose(device_);
    device_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
    ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_PRIMARY, 0x4000, 0x4000000, &g_record.primaryRegs));
    ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_PRIMARY, 0x800, 0x4080000, &g_record.primaryPort));
    EXPECT_EQ(mp_sys_load_fpga(kNode, Write("s.res", "Generic=0101\n").c_str(), 0), FPGA_NO_MODULE);
}

TEST_F(FpgaLoaderTest, ConfiguredFpgaIsKeptUnlessForced)
{
    Use(7, true);
    const std::string path = Write("k.res", "Generic[0]=0110\nGeneric[1]=1\n");
    EXPECT_EQ(mp_sys_load_fpga(kNode, path.c_str(), 1), 0u);
    EXPECT_EQ(BoardSim::instance().fpga(0).pulses(), 0u);
    EXPECT_EQ(mp_sys_load_fpga(kNode, path.c_str(), 0x20000001u), 0u); // bit 29 ignored
    EXPECT_EQ(BoardSim::instance().fpga(0).pulses(), 0u);
    // Kept as well when no file is named at all.
    EXPECT_EQ(mp_sys_load_fpga(kNode, nullptr, 1), 0u);
    EXPECT_EQ(mp_sys_load_fpga(kNode, "", 1), 0u);
    EXPECT_EQ(mp_sys_load_fpga(kNode, nullptr, 0), FPGA_NO_FILE);
    EXPECT_EQ(BoardSim::instance().fpga(0).pulses(), 0u);
    setenv("COFFLOADOPTION", "s+f+", 1);
    EXPECT_EQ(mp_sys_load_fpga(kNode, path.c_str(), 1), 0u);
    EXPECT_EQ(BoardSim::instance().fpga(0).pulses(), 1u);
    // Options 0 and 2 always load.
    EXPECT_EQ(mp_sys_load_fpga(kNode, path.c_str(), 0), 0u);
    EXPECT_EQ(mp_sys_load_fpga(kNode, path.c_str(), 2), 0u);
    EXPECT_EQ(BoardSim::instance().fpga(0).pulses(), 3u);
}

TEST_F(FpgaLoaderTest, RefusalsBeforeAnythingIsWritten)
{
    BoardSim::instance().setTracing(true);
    EXPECT_EQ(mp_sys_load_fpga(kNode, nullptr, 0), FPGA_NO_FILE);
    EXPECT_EQ(mp_sys_load_fpga(kNode, "missing", 0), FPGA_NO_FILE);
    EXPECT_EQ(mp_sys_load_fpga(0x22, "missing", 0), FPGA_NO_WINDOW);
    g_module = 0;
    EXPECT_EQ(mp_sys_load_fpga(kNode, "missing", 0), FPGA_NO_MODULE);
    g_module = 1;
    EXPECT_EQ(mp_sys_load_fpga(kNode, Write("empty.res", "nothing\n").c_str(), 0), FPGA_READ_NO_DATA);
    for (const auto& a : BoardSim::instance().trace()) EXPECT_NE(a.op, HwOp::Write) << a.toString();
    // The name may come from the setting.
    setenv("FPGANAME", Write("named.res", "Generic[0]=0110\nGeneric[1]=1\n").c_str(), 1);
    EXPECT_EQ(mp_sys_load_fpga(kNode, nullptr, 0), 0u);
}

} // namespace

TEST_F(FpgaLoaderTest, NamedPipeIsRefusedAtOnce)
{
    const std::string pipe = dir_ + "/pipe.res";
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(pipe));
    uint32_t status = 0;
    EXPECT_TRUE(qsrf_test::ReadWithDeadline(pipe, [&] {
        status = mp_sys_load_fpga(kNode, pipe.c_str(), 0);
        return std::string();
    }).has_value());
    EXPECT_EQ(status, FPGA_NO_FILE);   // the search takes no pipe for the file
    FILE* f = reinterpret_cast<FILE*>(1);
    EXPECT_TRUE(qsrf_test::ReadWithDeadline(pipe, [&] {
        status = PrFpgaSeekGeneric(kNode, pipe.c_str(), &f, nullptr, nullptr);
        return std::string();
    }).has_value());
    EXPECT_EQ(status, FPGA_READ_NO_DATA);
    EXPECT_EQ(f, nullptr);
    // A pipe along FPGAPATH is passed over for the file behind it.
    ASSERT_EQ(mkdir((dir_ + "/a").c_str(), 0755), 0);
    ASSERT_TRUE(qsrf_test::MakeNamedPipe(dir_ + "/a/grab.res"));
    Write("grab.res", "Generic[0]=0110\nGeneric[1]=1\n");
    setenv("FPGAPATH", (dir_ + "/a;" + dir_).c_str(), 1);
    EXPECT_TRUE(qsrf_test::ReadWithDeadline(dir_ + "/a/grab.res", [&] {
        status = mp_sys_load_fpga(kNode, "grab", 0);
        return std::string();
    }).has_value());
    EXPECT_EQ(status, 0u);
}
