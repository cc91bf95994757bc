// Copies between two boards through their VM ports as a program sees them, through
// hlclib.h and libhlclib.so only: exact bytes of one- and three-band buffers, the line
// corrections the sending and receiving Orlos are loaded with, and a copy whose VM ring
// names a node that is not open, after which both nodes still work.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kFirst = 0x11, kSecond = 0x12, kThird = 0x13;
constexpr uint32_t kBoard = 1, kHostDma = 3;
// The VM engine's registers the corrections land in.
constexpr uint32_t kBurst = 0x28A8, kBoardStart = 0x28D0, kHStart = 0x3808, kHStop = 0x3810;

// Nodes 0x11 and 0x12 (and 0x13) whose VM ports form one ring; extra: added to the first
// node's section.
std::string Ini(int nodes, const std::string& extra = "")
{
    std::string ring = "VmPortConnection=0x000d04,0x000e04";
    if (nodes > 2) ring += ",0x000f04";
    std::string text = "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n" + ring + "\n" + extra;
    text += "[Node]\nNodeId=0x12\nSlotNbr=2\nDeviceNbr=0x000e04\n" + ring + "\n";
    if (nodes > 2) text += "[Node]\nNodeId=0x13\nSlotNbr=3\nDeviceNbr=0x000f04\n" + ring + "\n";
    return text;
}

using libsandbox::BytePattern;
using libsandbox::ExpectError;
using libsandbox::ExpectNoError;
using libsandbox::LastText;

class VmCopyTest : public ::testing::Test {
protected:
    // boards: simulated boards (all of one VM ring); ini: the ini file.
    void Open(int boards, const std::string& ini)
    {
        box_.write("halcyra.ini", ini);
        boardsim::Topology topology;
        topology.boards.resize(static_cast<size_t>(boards));
        for (auto& b : topology.boards) {
            b.moduleType = 0;
            b.vmRing = 1;
        }
        topology.service.dmaRegions = std::vector<uint32_t>(static_cast<size_t>(boards), 0x400000);
        boardsim::BoardSim::instance().configure(topology);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &first_), 0u) << LastText();
        ASSERT_NE(imDevAlloc(0, 1, 0, 0, &second_), 0u) << LastText();
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        for (auto& [device, id] : buffers_) imBufFree(device, id);
        for (uint32_t device : {second_, first_}) {
            if (device) {
                EXPECT_EQ(imDevFree(device), 0) << LastText();
            }
        }
        for (uint32_t node : {kFirst, kSecond, kThird})
            for (int i = 0; i < 256 && mp_sys_node_resource_ptr(node); ++i) imDevFree(node << 16);
        EXPECT_EQ(mp_sys_node_resource_ptr(kFirst), nullptr);
        EXPECT_EQ(mp_sys_node_resource_ptr(kSecond), nullptr);
        boardsim::BoardSim::instance().configure();
    }
    uint32_t Alloc(uint32_t device, int32_t x, int32_t y, uint32_t bands, uint32_t location = kBoard)
    {
        uint32_t id = 0;
        EXPECT_NE(imBufAlloc(device, x, y, bands, 8, location, &id), 0u) << LastText();
        buffers_.push_back({device, id});
        return id;
    }
    // Copies on a node's thread and waits for the node's answer.
    static int32_t Copy(uint32_t device, uint32_t source, uint32_t destination)
    {
        const int32_t result = imBufCopy(device, source, destination, 0, 0);
        EXPECT_EQ(imDevInquire(device, 3, nullptr), 1u);
        return result;
    }
    std::vector<uint8_t> Get(uint32_t device, uint32_t id, size_t bytes)
    {
        std::vector<uint8_t> out(bytes);
        EXPECT_EQ(imBufGet(device, id, out.data()), 0) << LastText();
        return out;
    }
    static boardsim::VmTransferView Port(int board) { return boardsim::BoardSim::instance().vmTransfer(board); }
    static uint32_t Reg(int board, uint32_t offset) { return boardsim::BoardSim::instance().orlo(board).reg(offset); }

    libsandbox::Sandbox box_{"hlcvm"};
    uint32_t first_ = 0, second_ = 0;
    std::vector<std::pair<uint32_t, uint32_t>> buffers_;
};

TEST_F(VmCopyTest, ThreeBandBuffersGoToTheOtherBoardInOneTransfer)
{
    Open(2, Ini(2));
    constexpr int32_t kX = 200, kY = 30;
    constexpr size_t kBytes = size_t{kX} * kY * 3;
    const uint32_t source = Alloc(first_, kX, kY, 3);
    const uint32_t destination = Alloc(second_, kX, kY, 3);
    const std::vector<uint8_t> in = BytePattern(kBytes, 3);
    ASSERT_EQ(imBufPut(first_, source, in.data()), 0);
    ASSERT_EQ(imBufPut(second_, destination, std::vector<uint8_t>(kBytes, 0xEE).data()), 0);

    ASSERT_EQ(Copy(first_, source, destination), 0) << LastText();
    ExpectNoError();
    EXPECT_EQ(Get(second_, destination, kBytes), in);
    // Both 8-bit: the three bands cross in one transfer.
    EXPECT_EQ(Port(0).portSends(), 1u);
    EXPECT_EQ(Port(1).portReceives(), 1u);
    EXPECT_EQ(Port(1).portBytes(), kBytes);
    EXPECT_FALSE(Port(0).busy());
    EXPECT_FALSE(Port(1).receiverArmed());
    EXPECT_EQ(boardsim::BoardSim::instance().strayAccesses(), 0u);
    // The source is left as it was.
    EXPECT_EQ(Get(first_, source, kBytes), in);
}

TEST_F(VmCopyTest, TheCopysSyncObjectEndsDoneWithTheLinesOfTheTransfer)
{
    Open(2, Ini(2));
    constexpr int32_t kX = 128, kY = 24;
    const uint32_t source = Alloc(first_, kX, kY, 1);
    const uint32_t destination = Alloc(second_, kX, kY, 1);
    const std::vector<uint8_t> in = BytePattern(size_t{kX} * kY, 9);
    ASSERT_EQ(imBufPut(first_, source, in.data()), 0);
    constexpr uint32_t kThread = 0x40000010u | (kFirst << 16);
    const uint32_t sync = libsandbox::HeldSyncObject(kThread);
    ASSERT_NE(sync, 0u) << LastText();
    ASSERT_EQ(imBufCopy(kThread, source, destination, 0, sync), 0) << LastText();
    EXPECT_EQ(imSyncHost(kThread, sync, 50), 50);
    // The count form of the state: the last line of the transfer's window.
    EXPECT_EQ(imSyncHost(kThread, sync, 0x1800000u), kY - 1);
    ExpectNoError();
    EXPECT_EQ(Get(second_, destination, in.size()), in);
    EXPECT_EQ(imSyncFree(kThread, sync), 0);
}

TEST_F(VmCopyTest, SixteenBitThreeBandBuffersGoBandByBand)
{
    Open(2, Ini(2));
    constexpr int32_t kX = 96, kY = 10;
    constexpr size_t kBytes = size_t{kX} * kY * 3 * 2;
    uint32_t source = 0, destination = 0;
    ASSERT_NE(imBufAlloc(first_, kX, kY, 3, 16, kBoard, &source), 0u) << LastText();
    buffers_.push_back({first_, source});
    ASSERT_NE(imBufAlloc(second_, kX, kY, 3, 16, kBoard, &destination), 0u) << LastText();
    buffers_.push_back({second_, destination});
    const std::vector<uint8_t> in = BytePattern(kBytes, 77);
    ASSERT_EQ(imBufPut(first_, source, in.data()), 0);
    ASSERT_EQ(Copy(first_, source, destination), 0) << LastText();
    ExpectNoError();
    EXPECT_EQ(Get(second_, destination, kBytes), in);
    EXPECT_EQ(Port(0).portSends(), 3u) << "one transfer per band";
    EXPECT_EQ(Port(1).portReceives(), 3u);
    EXPECT_EQ(Port(1).portBytes(), kBytes);
}

TEST_F(VmCopyTest, ACopyBackAndASecondCopyFindTheEnginesIdle)
{
    Open(2, Ini(2));
    constexpr int32_t kX = 320, kY = 16;
    constexpr size_t kBytes = size_t{kX} * kY;
    const uint32_t a = Alloc(first_, kX, kY, 1);
    const uint32_t b = Alloc(second_, kX, kY, 1);
    const std::vector<uint8_t> there = BytePattern(kBytes, 41);
    const std::vector<uint8_t> back = BytePattern(kBytes, 99);
    ASSERT_EQ(imBufPut(first_, a, there.data()), 0);
    ASSERT_EQ(Copy(first_, a, b), 0) << LastText();
    EXPECT_EQ(Get(second_, b, kBytes), there);
    // The other direction: the second board sends, the first receives.
    ASSERT_EQ(imBufPut(second_, b, back.data()), 0);
    ASSERT_EQ(Copy(second_, b, a), 0) << LastText();
    ExpectNoError();
    EXPECT_EQ(Get(first_, a, kBytes), back);
    EXPECT_EQ(Port(0).portSends(), 1u);
    EXPECT_EQ(Port(0).portReceives(), 1u);
    EXPECT_EQ(Port(1).portSends(), 1u);
    EXPECT_EQ(Port(1).portReceives(), 1u);
}

TEST_F(VmCopyTest, TheLineStartShiftAndTheBurstAreLoadedOnBothOrlos)
{
    Open(2, Ini(2));
    // One band of 100 bytes from a board address on an 8-byte boundary: the sender starts
    // one byte early and sends one unit more, the receiver drops that unit at the head
    // (start 1) and ends the line one unit later (stop 1 + 99).
    constexpr int32_t kX = 100, kY = 8;
    const uint32_t source = Alloc(first_, kX, kY, 1);
    const uint32_t destination = Alloc(second_, kX, kY, 1);
    const std::vector<uint8_t> in = BytePattern(size_t{kX} * kY, 17);
    ASSERT_EQ(imBufPut(first_, source, in.data()), 0);
    ASSERT_EQ(Copy(first_, source, destination), 0) << LastText();
    ExpectNoError();
    EXPECT_EQ((Reg(0, kBoardStart) + 1) % 8, 0u) << "the sender's start moved back by one byte";
    EXPECT_EQ(Reg(0, kHStop) & 0xFFFF, 100u);
    EXPECT_EQ(Reg(1, kHStart) & 0xFFFF, 1u);
    EXPECT_EQ(Reg(1, kHStop) & 0xFFFF, 100u);
    EXPECT_EQ(Reg(1, kBoardStart) % 8, 0u) << "the receiver writes from the band's own start";
    EXPECT_EQ(Get(second_, destination, in.size()), in);

    // Three 8-bit bands between board memories: burst code 4 on both sides, the same
    // shift of the line start.
    constexpr int32_t kW = 200;
    const uint32_t rgbSource = Alloc(first_, kW, kY, 3);
    const uint32_t rgbDestination = Alloc(second_, kW, kY, 3);
    const std::vector<uint8_t> rgb = BytePattern(size_t{kW} * kY * 3, 61);
    ASSERT_EQ(imBufPut(first_, rgbSource, rgb.data()), 0);
    ASSERT_EQ(Copy(first_, rgbSource, rgbDestination), 0) << LastText();
    ExpectNoError();
    EXPECT_EQ(Reg(0, kBurst), 4u);
    EXPECT_EQ(Reg(1, kBurst), 4u);
    EXPECT_EQ(Reg(0, kHStop) & 0xFFFF, 200u);
    EXPECT_EQ(Reg(1, kHStart) & 0xFFFF, 1u);
    EXPECT_EQ(Reg(1, kHStop) & 0xFFFF, 200u);
    EXPECT_EQ(Get(second_, rgbDestination, rgb.size()), rgb);

    // A line end in a phase the engine mishandles moves out of it by the sender's own
    // width: 529 bytes plus the shift of 1 end at 0x212, seven steps below 0x219, so the
    // sender's stop is 528 + 1 + 7; the receiver keeps its line of 529.
    constexpr int32_t kOdd = 529;
    const uint32_t oddSource = Alloc(first_, kOdd, kY, 1);
    const uint32_t oddDestination = Alloc(second_, kOdd, kY, 1);
    const std::vector<uint8_t> odd = BytePattern(size_t{kOdd} * kY, 5);
    ASSERT_EQ(imBufPut(first_, oddSource, odd.data()), 0);
    ASSERT_EQ(Copy(first_, oddSource, oddDestination), 0) << LastText();
    ExpectNoError();
    EXPECT_EQ(Reg(0, kHStop) & 0xFFFF, 536u);
    EXPECT_EQ(Reg(1, kHStop) & 0xFFFF, 529u);
    EXPECT_EQ(Get(second_, oddDestination, odd.size()), odd);
}

TEST_F(VmCopyTest, ASendThatNeverEndsGivesUpAfterTheTimeOutAndTheNodesCopyOn)
{
    Open(2, Ini(2));
    constexpr int32_t kX = 64, kY = 8;
    const uint32_t source = Alloc(first_, kX, kY, 1);
    const uint32_t destination = Alloc(second_, kX, kY, 1);
    const std::vector<uint8_t> in = BytePattern(size_t{kX} * kY, 31);
    ASSERT_EQ(imBufPut(first_, source, in.data()), 0);
    Port(0).setNeverEnds(true);
    imAppControl(1, 0.5);
    EXPECT_EQ(imBufCopy(first_, source, destination, 0, 0), 0) << "posted";
    for (int i = 0; i < 5000 && !Port(0).busy(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(Port(0).busy());
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    imAppControl(1, 10.0);
    ASSERT_EQ(imDevInquire(first_, 3, nullptr), 1u);
    ExpectError(-11, "Board did not respond within the timeout period", "BufCopy");
    EXPECT_FALSE(Port(0).busy()) << "the sender was stopped";
    EXPECT_FALSE(Port(1).receiverArmed()) << "the receiver was disarmed";

    Port(0).setNeverEnds(false);
    ASSERT_EQ(Copy(first_, source, destination), 0) << LastText();
    ExpectNoError();
    EXPECT_EQ(Get(second_, destination, in.size()), in);
}

TEST_F(VmCopyTest, ARingWithANodeThatIsNotOpenRefusesTheCopyAndLeavesBothNodesWorking)
{
    // The ring names a third board that no one opened, and the first node reserves VM
    // number 5 for an external device: its port cannot be numbered.
    Open(3, Ini(3, "VmExternalDeviceId=5\n"));
    constexpr int32_t kX = 64, kY = 4;
    constexpr size_t kBytes = size_t{kX} * kY;
    const uint32_t source = Alloc(first_, kX, kY, 1);
    const uint32_t destination = Alloc(second_, kX, kY, 1);
    const std::vector<uint8_t> in = BytePattern(kBytes, 5);
    const std::vector<uint8_t> untouched(kBytes, 0x3C);
    ASSERT_EQ(imBufPut(first_, source, in.data()), 0);
    ASSERT_EQ(imBufPut(second_, destination, untouched.data()), 0);

    Copy(first_, source, destination);
    EXPECT_EQ(imAppGetError(0, nullptr), -11);
    // The error record keeps the first 79 characters of the text.
    const std::string text =
        "VmPortConnection not found: must alloc all nodes if an external VM device must be included";
    EXPECT_EQ(LastText(), text.substr(0, 79));
    imAppGetError(1, nullptr);
    EXPECT_EQ(Get(second_, destination, kBytes), untouched);
    EXPECT_EQ(Port(0).portSends(), 0u);
    EXPECT_FALSE(Port(1).receiverArmed());

    // A bus-master copy on the first node takes the same VM section and is refused the same
    // way, again (its copy semaphore comes back each time); both nodes go on reading and
    // writing.
    const uint32_t dma = Alloc(first_, kX, kY, 1, kHostDma);
    for (int i = 0; i < 2; ++i) {
        Copy(first_, source, dma);
        EXPECT_EQ(imAppGetError(0, nullptr), -11);
        EXPECT_EQ(LastText(), text.substr(0, 79));
        imAppGetError(1, nullptr);
    }
    const std::vector<uint8_t> other = BytePattern(kBytes, 200);
    ASSERT_EQ(imBufPut(second_, destination, other.data()), 0);
    EXPECT_EQ(Get(second_, destination, kBytes), other);
    ExpectNoError();
}

}  // namespace
