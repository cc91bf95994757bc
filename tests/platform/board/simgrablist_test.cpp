// The Orlo's grab-list engine on the virtual clock: a hand-built list grabs a frame in two
// blocks into the halves of a temporary buffer and hands each block to the VM list engine,
// which copies it into host DMA memory; the command form, jumps and the terminator; a
// list looping over frames; a wait held until the library stops the list; the idle
// control; stray list addresses and targets.
#include "boardsim.h"
#include "device.h"
#include "hwaccess.h"
#include "irqwait.h"
#include "regmap/driver_requests.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

using namespace boardsim;
using boardtest::InterruptWords;
using boardtest::SourceWords;

namespace {

constexpr double kPeriod = 0.001;                                   // 1 ms frames
constexpr uint32_t kMemoryFirst = kPrimaryMemoryTop - 0x400000;     // PCI address of memory byte 0
constexpr uint32_t kHalfA = 0x1000, kHalfB = 0x2000;                // temporary buffer halves
constexpr uint32_t kWidth = 64, kHeight = 8, kBlockLines = 4;
constexpr uint32_t kGrabListAt = 0x0, kVmListA = 0x400, kVmListB = 0x600, kImage = 0x1000;   // host offsets
constexpr uint32_t kSend = 0x404;                                   // board to host, one transfer
constexpr uint32_t kEnd = 255;
constexpr uint32_t kVmTransferSource = 48;

using Entries = std::vector<std::pair<uint32_t, uint32_t>>;   // {value, target}

class SimGrabListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Topology t;
        t.clock = ClockMode::Virtual;
        BoardSim::instance().configure(t);
        node_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(node_, kInvalidDevice);
        words_.reset(new InterruptWords(node_));
        ASSERT_TRUE(words_->enable(kGrabStartSourcePrimary));
        ASSERT_TRUE(words_->enable(kGrabEndSourcePrimary));
        regs_ = Map(kOrloRegisterOffset, kOrloRegisterSize);
        memory_ = Map(kMemoryFirst, 0x400000);
        host_ = BoardSim::instance().dmaRegionPhysical(0);
        BoardSim::instance().grabEngine(0).setFramePeriod(kPeriod);
        // An inverting LUT 1 (mode 0, palette 0), so a pixel shows it went through it.
        for (uint32_t e = 0; e < 256; ++e)
            for (int band = 0; band < 3; ++band)
                BoardSim::instance().grab(0).setLut(1, band, e, static_cast<uint8_t>(255 - e));
    }
    void TearDown() override
    {
        words_.reset();
        if (node_ != kInvalidDevice) DeviceClose(node_);
        BoardSim::instance().configure();
    }
    uint32_t Map(uint32_t offset, uint32_t size)
    {
        uint32_t request[5] = {0, 0x11, HLC_REGION_PRIMARY, size, offset};
        uint32_t bytes = 0;
        EXPECT_EQ(DeviceIoControl(node_, HLC_DRV_MAP, request, 20, request, 20, &bytes, nullptr), kDeviceDone);
        EXPECT_NE(request[0], 0u);
        return request[0];
    }
    void W(uint32_t offset, uint32_t value) { HwWrite32(regs_, offset, value); }
    static uint32_t Reg(uint32_t offset) { return BoardSim::instance().orlo(0).reg(offset); }
    static GrabListView List() { return BoardSim::instance().grabList(0); }
    static GrabEngineView Engine() { return BoardSim::instance().grabEngine(0); }

    void HostList(uint32_t offset, const Entries& entries)
    {
        std::vector<uint32_t> words;
        for (const auto& [value, target] : entries) {
            words.push_back(value);
            words.push_back(target);
        }
        ASSERT_TRUE(BoardSim::instance().writePhysical(host_ + offset, words.data(), 4 * words.size()));
    }
    void BoardList(uint32_t offset, const Entries& entries)
    {
        for (const auto& [value, target] : entries) {
            HwWrite32(memory_, offset, value);
            HwWrite32(memory_, offset + 4, target);
            offset += 8;
        }
    }
    // A 64 x 8 raster, every line in the window, one 8-bit sample per pixel.
    void ProgramRaster()
    {
        W(kOrloGrabControl, kGrabControlStop);
        W(kOrloGrabControl, 0);
        W(kOrloGHTOTAL, kWidth - 2);
        W(kOrloGVTOTAL, kHeight - 1);
        W(kOrloGHWSTART, 0);
        W(kOrloGHWSTOP, kWidth - 1);
        W(kOrloGHSCLNG, 0);
        W(kOrloGVSCLNG, 0);
        W(kOrloGPIXFMT, 0x008);
        W(kOrloGDWRTMSK, 0xFFFFFF);
        W(kOrloGLPITCH, kWidth);
    }
    // One block: the window lines and the half that takes them; the first block arms the
    // frame, a later one hands the previous block's copy to the VM list engine; then the
    // wait for the window's last line.
    static Entries Block(uint32_t first, uint32_t half, uint32_t previousCopy)
    {
        Entries e = {{first, kOrloGVWSTART},
                     {first + kBlockLines - 1, kOrloGVWSTOP},
                     {kMemoryFirst + half, kOrloGFSTART},
                     {kInterruptGrabStart | kInterruptGrabEnd, kOrloInterruptClear}};
        if (previousCopy) {
            e.push_back({previousCopy, kOrloVmListPointer});
            e.push_back({3, kOrloVmListControl});
        } else {
            e.push_back({kGrabControlSingle, kOrloGrabControl});
        }
        e.push_back({3, kOrloGrabListControl});
        return e;
    }
    // The copy of one block from its half to its lines of the host image, ended as given.
    Entries Copy(uint32_t half, uint32_t line, std::pair<uint32_t, uint32_t> end) const
    {
        const uint32_t host = host_ + kImage + line * kWidth;
        return {{kMemoryFirst + half, kOrloVmBoardStart},
                {kWidth, kOrloVmBoardPitch},
                {host & 0x7FFFFFF, kOrloVmHostStart},
                {(host >> 26) & 62, kOrloVmHostPage},
                {kWidth, kOrloVmHostPitch},
                {0, kOrloVmFormat},
                {0, kOrloVmHStart},
                {kWidth - 1, kOrloVmHStop},
                {0, kOrloVmVStart},
                {kBlockLines - 1, kOrloVmLastLine},
                {kSend, kOrloVtControl},
                {3, kOrloVmListControl},
                end};
    }
    // The frame's two blocks, the last copy, the end of grab; then the list's end, or a
    // jump back to its start for the next frame.
    void FrameLists(bool loop)
    {
        Entries grab = {{kHeight - 1, kOrloGVTOTAL}};
        for (const Entries& block : {Block(0, kHalfA, 0), Block(kBlockLines, kHalfB, host_ + kVmListA)})
            grab.insert(grab.end(), block.begin(), block.end());
        grab.push_back({host_ + kVmListB, kOrloVmListPointer});
        grab.push_back({3, kOrloVmListControl});
        grab.push_back({kInterruptGrabEnd, kOrloInterruptSet});
        grab.push_back(loop ? std::make_pair(host_ + kGrabListAt, kOrloGrabListPointer) : std::make_pair(0u, kEnd));
        HostList(kGrabListAt, grab);
        HostList(kVmListA, Copy(kHalfA, 0, {0, kOrloVmListControl}));
        HostList(kVmListB, Copy(kHalfB, kBlockLines, {1, kEnd}));
    }
    std::vector<uint8_t> HostImage() const
    {
        std::vector<uint8_t> out(kWidth * kHeight);
        EXPECT_TRUE(BoardSim::instance().readPhysical(host_ + kImage, out.data(), kWidth * kHeight));
        return out;
    }
    // Pixels of the image that differ from the inverted pattern of camera frame n.
    static int Mismatches(const std::vector<uint8_t>& image, uint64_t frame)
    {
        const std::vector<uint16_t> p = Engine().patternBlock(frame, 0, kWidth, kHeight);
        int bad = 0;
        for (size_t i = 0; i < image.size(); ++i)
            if (image[i] != static_cast<uint8_t>(255 - (p[i] & 0xFF))) ++bad;
        return bad;
    }
    // The start and end words delivered, without the transfer engine's.
    std::vector<uint32_t> GrabWords()
    {
        std::vector<uint32_t> words = words_->take();
        const std::vector<uint32_t> transfer = SourceWords(kVmTransferSource);
        words.erase(std::remove_if(words.begin(), words.end(),
                                   [&](uint32_t w) { return w == transfer[0] || w == transfer[1]; }),
                    words.end());
        return words;
    }

    DeviceHandle node_ = kInvalidDevice;
    std::unique_ptr<InterruptWords> words_;
    uint32_t regs_ = 0, memory_ = 0, host_ = 0;
};

std::vector<uint32_t> Join(std::initializer_list<std::vector<uint32_t>> parts)
{
    std::vector<uint32_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST_F(SimGrabListTest, TwoBlocksOfOneFrameReachHostMemoryThroughTheTemporaryHalves)
{
    BoardSim& sim = BoardSim::instance();
    ProgramRaster();
    FrameLists(false);
    EXPECT_EQ(Reg(kOrloGrabListControl), 0u) << "idle before the start";
    W(kOrloGrabListPointer, host_ + kGrabListAt);
    W(kOrloGrabListControl, 3);
    EXPECT_EQ(List().entriesPlayed(), 0u) << "nothing runs inside the write";
    EXPECT_TRUE(List().running());

    sim.advance(0.005);
    sim.runUntilIdle();
    EXPECT_FALSE(List().running());
    EXPECT_EQ(Reg(kOrloGrabListControl), 0u) << "idle after the end";
    EXPECT_EQ(Reg(kOrloVmListControl), 0u) << "the VM list reads 0 after its copy";
    EXPECT_EQ(List().entriesPlayed(), 18u);
    EXPECT_EQ(List().waits(), 2u);
    EXPECT_EQ(Reg(kOrloGrabListPointer), host_ + kGrabListAt + 18 * 8);

    // One camera frame, its blocks in the two halves and in the host image.
    EXPECT_EQ(Engine().framesStarted(), 1u);
    EXPECT_EQ(Engine().framesWritten(), 1u);
    const uint64_t frame = static_cast<uint64_t>(Engine().lastFrame());
    EXPECT_EQ(Mismatches(HostImage(), frame), 0);
    std::vector<uint8_t> half(kWidth * kBlockLines);
    ASSERT_TRUE(sim.orlo(0).readMemory(kHalfB, half.data(), half.size()));
    const std::vector<uint8_t> image = HostImage();
    EXPECT_TRUE(std::equal(half.begin(), half.end(), image.begin() + kWidth * kBlockLines));
    EXPECT_EQ(sim.vmTransfer(0).transfers(), 2u);
    EXPECT_EQ(sim.vmTransfer(0).bytesMoved(), uint64_t{kWidth} * kHeight);

    // The last window's end sets bit 13 here and in 0x2800 (the list cleared bit 12 with
    // the block); the start source comes with the frame, the end source from the list.
    EXPECT_EQ(Reg(kOrloInterruptSet) & (kInterruptGrabStart | kInterruptGrabEnd), kInterruptGrabEnd);
    EXPECT_EQ(Reg(kOrloBlockStatus) & kBlockStatusEnd, kBlockStatusEnd);
    EXPECT_EQ(GrabWords(), Join({SourceWords(kGrabStartSourcePrimary), SourceWords(kGrabEndSourcePrimary)}));
    EXPECT_EQ(sim.strayAccesses(), 0u);
    EXPECT_EQ(Engine().strayBytes(), 0u);
}

TEST_F(SimGrabListTest, AListLoopingOverFramesRaisesTheEndOfEachFrame)
{
    BoardSim& sim = BoardSim::instance();
    ProgramRaster();
    FrameLists(true);
    W(kOrloGrabListPointer, host_ + kGrabListAt);
    W(kOrloGrabListControl, 3);
    for (int i = 0; i < 100 && Engine().framesStarted() < 3; ++i) sim.advance(0.0005);
    ASSERT_GE(Engine().framesStarted(), 3u);
    EXPECT_GE(Engine().framesWritten(), 2u);
    const std::vector<uint32_t> frame = Join({SourceWords(kGrabStartSourcePrimary), SourceWords(kGrabEndSourcePrimary)});
    const std::vector<uint32_t> words = GrabWords();
    ASSERT_GE(words.size(), 2 * frame.size());
    EXPECT_EQ(std::vector<uint32_t>(words.begin(), words.begin() + 4), frame);
    EXPECT_EQ(std::vector<uint32_t>(words.begin() + 4, words.begin() + 8), frame);

    // The library stops it: no end source for the frame under way.
    W(kOrloGrabListControl, 0);
    EXPECT_FALSE(List().running());
    EXPECT_EQ(Reg(kOrloGrabListControl), 0u);
    W(kOrloGrabControl, kGrabControlStop);
    sim.runUntilIdle();
    for (uint32_t w : GrabWords()) EXPECT_NE(w, SourceWords(kGrabEndSourcePrimary)[1]);
    EXPECT_EQ(sim.strayAccesses(), 0u);
}

// The halt of a host grab stops only the list: the frame the list was placing, and one it
// had armed, go with it at once, so the engine reads idle and raises nothing more.
TEST_F(SimGrabListTest, StoppingALoopingListMidFrameDropsItsFrame)
{
    BoardSim& sim = BoardSim::instance();
    ProgramRaster();
    FrameLists(true);
    W(kOrloGrabListPointer, host_ + kGrabListAt);
    W(kOrloGrabListControl, 3);
    for (int i = 0; i < 100 && Engine().framesStarted() < 2; ++i) sim.advance(0.0001);
    ASSERT_EQ(Engine().framesStarted(), 2u);
    sim.advance(kPeriod / 4);
    ASSERT_TRUE(Engine().inFlight());
    ASSERT_NE(Reg(kOrloGrabStatus) & kGrabStatusInFlight, 0u);
    const uint64_t written = Engine().framesWritten();
    GrabWords();

    W(kOrloGrabListControl, 0);
    EXPECT_FALSE(List().running());
    EXPECT_FALSE(Engine().inFlight());
    EXPECT_FALSE(Engine().armed());
    EXPECT_EQ(Reg(kOrloGrabStatus) & (kGrabStatusInFlight | kGrabStatusArmed), 0u);
    EXPECT_EQ(Engine().framesAborted(), 1u);

    sim.advance(10 * kPeriod);
    sim.runUntilIdle();
    EXPECT_EQ(Engine().framesStarted(), 2u) << "no frame after the stop";
    EXPECT_EQ(Engine().framesWritten(), written);
    EXPECT_TRUE(GrabWords().empty()) << "neither a start nor an end after the stop";
    EXPECT_EQ(sim.strayAccesses(), 0u);
}

TEST_F(SimGrabListTest, CommandFormJumpsAndTheTerminatorInBoardMemory)
{
    BoardSim& sim = BoardSim::instance();
    const uint32_t first = 0x3000, second = 0x3100;
    BoardList(first, {{0x111, kListCommandBit | kOrloGC1FOFF}, {kMemoryFirst + second, kListCommandBit | kOrloGrabListPointer}});
    BoardList(second, {{0x222, kOrloGC2FOFF},
                       {0x34, kListCommandBit | (kListPortBase + 16 * 4)},   // module register 4, low byte
                       {0, kListCommandBit | kOrloGrabListControl},
                       {0x333, kOrloGC3FOFF}});
    W(kOrloGrabListPointer, kMemoryFirst + first);
    W(kOrloGrabListControl, 3);
    sim.runUntilIdle();
    EXPECT_EQ(Reg(kOrloGC1FOFF), 0x111u);
    EXPECT_EQ(Reg(kOrloGC2FOFF), 0x222u);
    EXPECT_EQ(sim.grab(0).reg(4) & 0xFF, 0x34u);
    EXPECT_EQ(Reg(kOrloGC3FOFF), 0u) << "nothing after the terminator";
    EXPECT_EQ(Reg(kOrloGrabListControl), 0u);
    EXPECT_EQ(Reg(kOrloGrabListPointer), kMemoryFirst + second + 24);
    EXPECT_EQ(List().entriesPlayed(), 5u);
    EXPECT_TRUE(GrabWords().empty()) << "no block, no frame";
    EXPECT_EQ(sim.strayAccesses(), 0u);
}

TEST_F(SimGrabListTest, AWaitWithNothingArmedHoldsUntilTheLibraryStopsIt)
{
    BoardSim& sim = BoardSim::instance();
    HostList(kGrabListAt, {{3, kOrloGrabListControl}, {0x444, kOrloGC1FOFF}, {0, kEnd}});
    W(kOrloGrabListPointer, host_ + kGrabListAt);
    W(kOrloGrabListControl, 3);
    sim.advance(0.01);
    EXPECT_TRUE(List().running());
    EXPECT_TRUE(List().waiting());
    EXPECT_NE(Reg(kOrloGrabListControl), 0u) << "busy while it waits";
    EXPECT_EQ(Reg(kOrloGC1FOFF), 0u);
    W(kOrloGrabListControl, 0);
    sim.runUntilIdle();
    EXPECT_FALSE(List().running());
    EXPECT_EQ(Reg(kOrloGrabListControl), 0u);
    EXPECT_EQ(Reg(kOrloGC1FOFF), 0u) << "a stopped list plays nothing more";
}

TEST_F(SimGrabListTest, StrayListAddressesAndTargetsAreRecordedNotFollowed)
{
    BoardSim& sim = BoardSim::instance();
    // Nothing answers at this bus address: one stray access, and the list stops.
    W(kOrloGrabListPointer, 0x20000000u);
    W(kOrloGrabListControl, 3);
    sim.runUntilIdle();
    EXPECT_EQ(sim.strayAccesses(), 1u);
    EXPECT_EQ(List().strays(), 1u);
    EXPECT_FALSE(List().running());
    EXPECT_EQ(Reg(kOrloGrabListControl), 0u);

    // A target that is no register is skipped; the list goes on to its end.
    HostList(kGrabListAt, {{1, 0x12345678u}, {0x555, kOrloGC1FOFF}, {0, kEnd}});
    W(kOrloGrabListPointer, host_ + kGrabListAt);
    W(kOrloGrabListControl, 3);
    sim.runUntilIdle();
    EXPECT_EQ(sim.strayAccesses(), 2u);
    EXPECT_EQ(Reg(kOrloGC1FOFF), 0x555u);
    EXPECT_EQ(Reg(kOrloGrabListControl), 0u);

    // A VM list at a bad address stops without a copy.
    HostList(kGrabListAt, {{0x20000000u, kOrloVmListPointer}, {3, kOrloVmListControl}, {0, kEnd}});
    W(kOrloGrabListPointer, host_ + kGrabListAt);
    W(kOrloGrabListControl, 3);
    sim.runUntilIdle();
    EXPECT_EQ(sim.vmTransfer(0).transfers(), 0u);
    EXPECT_EQ(sim.vmTransfer(0).strayBytes(), 1u);
    EXPECT_EQ(Reg(kOrloVmListControl), 0u);
}

} // namespace
