#include "boardsim.h"
#include "driverreq.h"
#include "hlc_wiring.h"
#include "hosthooks.h"
#include "sysutil.h"
#include "w32thread.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using boardsim::BoardSim;
using boardsim::HwArea;
using boardsim::Topology;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> v;
    for (int x : values) v.push_back(static_cast<uint8_t>(x));
    return v;
}

// ---------------------------------------------------------------- swap

TEST(SwapEndians, ReversesEachEightByteUnit)
{
    std::vector<uint8_t> b(16);
    for (int i = 0; i < 16; ++i) b[i] = static_cast<uint8_t>(i);
    im_doSwapEndians(b.data(), 16);
    EXPECT_EQ(b, Bytes({7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8}));
    uint64_t word = 0x0102030405060708ull;
    im_doSwapEndians(&word, 8);
    EXPECT_EQ(word, 0x0807060504030201ull);
}

TEST(SwapEndians, RoundsUpToTheNextUnitAndNoFurther)
{
    std::vector<uint8_t> b(24, 0xEE);
    for (int i = 0; i < 12; ++i) b[i] = static_cast<uint8_t>(i);
    im_doSwapEndians(b.data(), 12); // two units
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 16),
              Bytes({7, 6, 5, 4, 3, 2, 1, 0, 0xEE, 0xEE, 0xEE, 0xEE, 11, 10, 9, 8}));
    for (int i = 16; i < 24; ++i) EXPECT_EQ(b[i], 0xEE) << i;
    std::vector<uint8_t> exact(17, 0xEE);
    im_doSwapEndians(exact.data(), 16);
    EXPECT_EQ(exact[16], 0xEE);
}

TEST(SwapEndians, ShortLengthsAreLeftAlone)
{
    uint8_t b[8] = {1, 2, 3, 0, 0, 0, 0, 0};
    im_doSwapEndians(b, 3);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[2], 3);
    im_doSwapEndians(b, 4); // one unit of 8
    EXPECT_EQ(b[7], 1);
    EXPECT_EQ(b[5], 3);
    im_doSwapEndians(nullptr, 16);
}

// ---------------------------------------------------------------- 2-D copy

TEST(LoadSwapStore, PlainCopyKeepsLineTails)
{
    std::vector<uint8_t> src(30), dst(40, 0xEE);
    for (int i = 0; i < 30; ++i) src[i] = static_cast<uint8_t>(i);
    im_doLoadSwapStore(src.data(), dst.data(), 7, 3, 10, 12, 0);
    for (int line = 0; line < 3; ++line) {
        for (int i = 0; i < 7; ++i) EXPECT_EQ(dst[12 * line + i], 10 * line + i);
        for (int i = 7; i < 12; ++i) EXPECT_EQ(dst[12 * line + i], 0xEE);
    }
    EXPECT_EQ(dst[36], 0xEE);
}

TEST(LoadSwapStore, SwappingCopyReversesUnitsAndCopiesTheTail)
{
    std::vector<uint8_t> src(32), dst(32, 0xEE);
    for (int i = 0; i < 32; ++i) src[i] = static_cast<uint8_t>(i);
    im_doLoadSwapStore(src.data(), dst.data(), 11, 2, 16, 16, 1);
    EXPECT_EQ(std::vector<uint8_t>(dst.begin(), dst.begin() + 12), Bytes({7, 6, 5, 4, 3, 2, 1, 0, 8, 9, 10, 0xEE}));
    EXPECT_EQ(std::vector<uint8_t>(dst.begin() + 16, dst.begin() + 28),
              Bytes({23, 22, 21, 20, 19, 18, 17, 16, 24, 25, 26, 0xEE}));
    // Lines shorter than a unit are copied as they are.
    std::vector<uint8_t> small(8, 0xEE);
    im_doLoadSwapStore(src.data(), small.data(), 5, 1, 5, 5, 1);
    EXPECT_EQ(small, Bytes({0, 1, 2, 3, 4, 0xEE, 0xEE, 0xEE}));
}

TEST(LoadSwapStore, NothingHappensWithoutBytesOrLines)
{
    std::vector<uint8_t> src(8, 1), dst(8, 0xEE);
    im_doLoadSwapStore(src.data(), dst.data(), 0, 4, 8, 8, 0);
    im_doLoadSwapStore(src.data(), dst.data(), 8, 0, 8, 8, 1);
    EXPECT_EQ(dst, std::vector<uint8_t>(8, 0xEE));
}

TEST(LoadSwapStore, NegativePitchesWalkUpwards)
{
    std::vector<uint8_t> src = Bytes({1, 2, 3, 4, 5, 6, 7, 8}), dst(8, 0);
    im_doLoadSwapStore(src.data(), dst.data() + 4, 4, 2, 4, -4, 0);
    EXPECT_EQ(dst, Bytes({5, 6, 7, 8, 1, 2, 3, 4}));
}

// ---------------------------------------------------------------- 2-D fill

TEST(Memset, ThreeBytePixelsTakeTheValuesLowBytesInOrder)
{
    std::vector<uint8_t> b(40, 0xEE);
    im_doMemset(b.data(), 5, 2, 20, static_cast<double>(0x123456), 3);
    for (int line = 0; line < 2; ++line) {
        for (int p = 0; p < 5; ++p) {
            EXPECT_EQ(b[20 * line + 3 * p], 0x56);
            EXPECT_EQ(b[20 * line + 3 * p + 1], 0x34);
            EXPECT_EQ(b[20 * line + 3 * p + 2], 0x12);
        }
        for (int i = 15; i < 20; ++i) EXPECT_EQ(b[20 * line + i], 0xEE) << line << ":" << i;
    }
}

TEST(Memset, OneBitPixelsFillWholeBytesIncludingThePartialOne)
{
    std::vector<uint8_t> b(4, 0xEE);
    im_doMemset(b.data(), 12, 1, 4, 1.0, 0);
    EXPECT_EQ(b, Bytes({0x01, 0x01, 0xEE, 0xEE}));
    std::vector<uint8_t> c(3, 0xEE);
    im_doMemset(c.data(), 16, 1, 3, 255.0, 0);
    EXPECT_EQ(c, Bytes({0xFF, 0xFF, 0xEE}));
}

TEST(Memset, ByteWordAndLongPixelsReplicateTheValue)
{
    std::vector<uint8_t> b(8, 0xEE);
    im_doMemset(b.data(), 7, 1, 8, static_cast<double>(0x1AB), 1);
    EXPECT_EQ(b, Bytes({0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xEE}));
    std::vector<uint8_t> w(8, 0xEE);
    im_doMemset(w.data(), 3, 1, 8, static_cast<double>(0x51234), 2);
    EXPECT_EQ(w, Bytes({0x34, 0x12, 0x34, 0x12, 0x34, 0x12, 0xEE, 0xEE}));
    std::vector<uint8_t> l(12, 0xEE);
    im_doMemset(l.data(), 2, 1, 12, static_cast<double>(0xDEADBEEFu), 4);
    EXPECT_EQ(l, Bytes({0xEF, 0xBE, 0xAD, 0xDE, 0xEF, 0xBE, 0xAD, 0xDE, 0xEE, 0xEE, 0xEE, 0xEE}));
    std::vector<uint8_t> n(4, 0xEE);
    im_doMemset(n.data(), 2, 1, 4, -1.0, 2);
    EXPECT_EQ(n, Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(Memset, EightBytePixelsHoldTheDoubleAndOtherSizesDoNothing)
{
    std::vector<double> d(3, 0.0);
    im_doMemset(d.data(), 2, 1, 24, 1.5, 8);
    EXPECT_EQ(d[0], 1.5);
    EXPECT_EQ(d[1], 1.5);
    EXPECT_EQ(d[2], 0.0);
    std::vector<uint8_t> b(8, 0xEE);
    im_doMemset(b.data(), 1, 1, 8, 7.0, 5);
    im_doMemset(b.data(), 0, 1, 8, 7.0, 1);
    im_doMemset(b.data(), 4, 0, 8, 7.0, 1);
    EXPECT_EQ(b, std::vector<uint8_t>(8, 0xEE));
}

// ---------------------------------------------------------------- CPU

std::string CpuInfoField(const std::string& name)
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, name.size(), name) != 0) continue;
        const auto colon = line.find(':');
        if (colon != std::string::npos) return line.substr(colon + 2);
    }
    return {};
}

TEST(CpuInformation, MatchesWhatTheSystemReports)
{
    // Under user-mode emulation the program sees the emulator's processor, not the host's.
    if (const char* e = std::getenv("QSRF_I386_EMULATED"); e && std::string(e) == "ON")
        GTEST_SKIP() << "32-bit programs run emulated here";
    EXPECT_EQ(SysCpuIdSupport(), 1u);
    const uint32_t ext = SysCpuIdExt();
    ASSERT_NE(ext, 0u);
    const std::string family = CpuInfoField("cpu family"), model = CpuInfoField("model\t"),
                      stepping = CpuInfoField("stepping");
    if (!family.empty()) {
        const int f = std::stoi(family);
        EXPECT_EQ((ext >> 8) & 0xF, static_cast<uint32_t>(f >= 15 ? 15 : f));
    }
    if (!model.empty()) {
        EXPECT_EQ((ext >> 4) & 0xF, static_cast<uint32_t>(std::stoi(model) & 0xF));
    }
    if (!stepping.empty() && stepping != "unknown") {
        EXPECT_EQ(ext & 0xF, static_cast<uint32_t>(std::stoi(stepping)));
    }
    const uint32_t features = SysCpuFeatures();
    const std::string flags = " " + CpuInfoField("flags") + " ";
    EXPECT_EQ((features & 1) != 0, flags.find(" fpu ") != std::string::npos);
    EXPECT_EQ((features & 0x10) != 0, flags.find(" tsc ") != std::string::npos);
}

TEST(CpuInformation, ClockRateIsPlausible)
{
    if (!(SysCpuFeatures() & 0x10)) {
        EXPECT_EQ(SysCpuFreq(), 0u);
        return;
    }
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    const uint32_t hz = SysCpuFreq();
    EXPECT_GT(hz, 200000000u);
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_ABOVE_NORMAL); // restored
    EXPECT_EQ(SysCpuFreq(), hz) << "measured once and kept (a second timing would differ)";
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
}

// ---------------------------------------------------------------- cache flush

HlcNodeLink g_link;
std::string g_printed;
HlcNodeLink* Link(uint32_t node)
{
    return node == g_link.node ? &g_link : nullptr;
}
void Print(const char* text)
{
    g_printed += text;
}

class CacheFlushTest : public ::testing::Test {
protected:
    void Use(int32_t latency, bool cache)
    {
        Topology t;
        t.boards[0].boardCache = true;
        t.boards[0].flushLatency = latency;
        BoardSim::instance().configure(t);
        const DeviceHandle node = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        uint32_t regs = 0;
        ASSERT_TRUE(HlcDrvMap(node, nullptr, 0x11, HLC_REGION_PRIMARY, 0x4000, 0x4000000, &regs));
        DeviceClose(node);
        g_link = HlcNodeLink{};
        g_link.node = 0x11;
        g_link.primaryOrloRegs = regs;
        g_link.boardCache = cache ? 1 : 0;
        g_printed.clear();
        HlcWireLibrary();
        host_.emplace();
        host_->table.nodeLink = Link;
        host_->table.print = Print;
        ASSERT_EQ(host_->Install(), 0);
        BoardSim::instance().setTracing(true);
    }
    void TearDown() override { host_.reset(); }
    std::optional<HlcHostHookOverride> host_;
};

TEST_F(CacheFlushTest, WritesTheFlushBitAndPollsUntilItClears)
{
    Use(2, true);
    EXPECT_EQ(mp_util_cache_flush(0x11), 0);
    const auto trace = BoardSim::instance().trace();
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(trace[0], boardsim::Write(HwArea::PrimaryRegs, kOrloInterruptSet, 0x40000000u));
    EXPECT_EQ(trace[1], boardsim::Read(HwArea::PrimaryRegs, kOrloInterruptSet, 0x40000000u));
    EXPECT_EQ(trace[2], boardsim::Read(HwArea::PrimaryRegs, kOrloInterruptSet, 0x40000000u));
    EXPECT_EQ(trace[3], boardsim::Read(HwArea::PrimaryRegs, kOrloInterruptSet, 0));
    EXPECT_TRUE(g_printed.empty());
}

TEST_F(CacheFlushTest, ReportsAFlushBitThatNeverClears)
{
    Use(-1, true);
    EXPECT_EQ(mp_util_cache_flush(0x11), 1);
    EXPECT_EQ(BoardSim::instance().trace().size(), 100001u);
    EXPECT_EQ(g_printed, "Board cache flush of node 0x11 did not complete.\n");
}

TEST_F(CacheFlushTest, NodesWithoutACacheAreLeftAlone)
{
    Use(2, false);
    EXPECT_EQ(mp_util_cache_flush(0x11), 0);
    EXPECT_EQ(mp_util_cache_flush(0x22), 0);
    EXPECT_TRUE(BoardSim::instance().trace().empty());
}

} // namespace
