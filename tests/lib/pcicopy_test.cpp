// Bus-master copies between two boards that share no VM port, as a program sees them,
// through hlclib.h and libhlclib.so only: a copy asked of one node and driven by the
// other node's Orlo, band by band, with exact bytes, and a copy whose driving node's VM
// section cannot be had, which moves nothing.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kFirst = 0x11, kSecond = 0x12;
constexpr uint32_t kBoard = 1, kHostDma = 3;
constexpr uint32_t kSectionWord = 0x810, kPrimarySection = 8;
constexpr const char* kTwoBoards =
    "[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n[Node]\nNodeId=0x12\nSlotNbr=2\nDeviceNbr=0x000e04\n";

using libsandbox::BytePattern;
using libsandbox::ExpectError;
using libsandbox::ExpectNoError;
using libsandbox::LastText;

class TwoNodePciTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.write("halcyra.ini", kTwoBoards);
        boardsim::Topology topology;
        topology.boards.resize(2);
        for (auto& b : topology.boards) b.moduleType = 0;
        topology.service.dmaRegions = {0x400000, 0x400000};
        Sim().configure(topology);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &first_), 0u) << LastText();
        ASSERT_NE(imDevAlloc(0, 1, 0, 0, &second_), 0u) << LastText();
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        Sim().setWriteFilter(nullptr);
        for (auto& [device, id] : buffers_) imBufFree(device, id);
        for (uint32_t device : {second_, first_}) {
            if (device) {
                EXPECT_EQ(imDevFree(device), 0) << LastText();
            }
        }
        for (uint32_t node : {kFirst, kSecond})
            for (int i = 0; i < 256 && mp_sys_node_resource_ptr(node); ++i) imDevFree(node << 16);
        Sim().configure();
    }
    static boardsim::BoardSim& Sim() { return boardsim::BoardSim::instance(); }
    uint32_t Alloc(uint32_t device, int32_t x, int32_t y, uint32_t bands, uint32_t location)
    {
        uint32_t id = 0;
        EXPECT_NE(imBufAlloc(device, x, y, bands, 8, location, &id), 0u) << LastText();
        buffers_.push_back({device, id});
        return id;
    }
    std::vector<uint8_t> Get(uint32_t device, uint32_t id, size_t bytes)
    {
        std::vector<uint8_t> out(bytes);
        EXPECT_EQ(imBufGet(device, id, out.data()), 0) << LastText();
        return out;
    }

    libsandbox::Sandbox box_{"hlcpci2"};
    uint32_t first_ = 0, second_ = 0;
    std::vector<std::pair<uint32_t, uint32_t>> buffers_;
};

// The second node is asked to copy the first board's three-band buffer into its own host
// memory: the source's node drives the transfer, one band child of each buffer at a time,
// each child named to the first node by its id.
TEST_F(TwoNodePciTest, AThreeBandCopyIsDrivenByTheOtherNodeBandByBand)
{
    constexpr int32_t kX = 160, kY = 20;
    constexpr size_t kBytes = size_t{kX} * kY * 3;
    const uint32_t source = Alloc(first_, kX, kY, 3, kBoard);
    const uint32_t destination = Alloc(second_, kX, kY, 3, kHostDma);
    const std::vector<uint8_t> in = BytePattern(kBytes, 7);
    ASSERT_EQ(imBufPut(first_, source, in.data()), 0);
    ASSERT_EQ(imBufPut(second_, destination, std::vector<uint8_t>(kBytes, 0xEE).data()), 0);
    const uint64_t before = Sim().vmTransfer(0).transfers();

    ASSERT_EQ(imBufCopy(second_, source, destination, 0, 0), 0) << LastText();
    ASSERT_EQ(imDevInquire(second_, 3, nullptr), 1u);
    ExpectNoError();
    EXPECT_EQ(Get(second_, destination, kBytes), in);
    EXPECT_GE(Sim().vmTransfer(0).transfers() - before, 3u) << "the first board's Orlo moved every band";
    EXPECT_EQ(Sim().vmTransfer(1).transfers(), 0u);
    EXPECT_EQ(Get(first_, source, kBytes), in);
}

// The first board's section word never takes the VM section's bit: the copy driven there
// gives up with -11 before anything moves, and gives the node's copy semaphore back.
TEST_F(TwoNodePciTest, ASectionThatCannotBeHadFailsTheCopyAndMovesNothing)
{
    constexpr int32_t kX = 128, kY = 8;
    constexpr size_t kBytes = size_t{kX} * kY;
    const uint32_t source = Alloc(first_, kX, kY, 1, kBoard);
    const uint32_t destination = Alloc(first_, kX, kY, 1, kHostDma);
    const std::vector<uint8_t> in = BytePattern(kBytes, 90);
    const std::vector<uint8_t> untouched(kBytes, 0x5A);
    ASSERT_EQ(imBufPut(first_, source, in.data()), 0);
    ASSERT_EQ(imBufPut(first_, destination, untouched.data()), 0);
    const uint64_t before = Sim().vmTransfer(0).transfers();
    Sim().setWriteFilter([](boardsim::HwAccess& a) {
        return !(a.board == 0 && a.area == boardsim::HwArea::PrimaryRegs && a.offset == kSectionWord &&
                 (a.value & kPrimarySection));
    });

    imBufCopy(first_, source, destination, 0, 0);
    ASSERT_EQ(imDevInquire(first_, 3, nullptr), 1u);
    ExpectError(-11, "Board did not respond within the timeout period", "BufCopy");
    EXPECT_EQ(Get(first_, destination, kBytes), untouched);
    EXPECT_EQ(Sim().vmTransfer(0).transfers(), before);

    Sim().setWriteFilter(nullptr);
    ASSERT_EQ(imBufCopy(first_, source, destination, 0, 0), 0) << LastText();
    ASSERT_EQ(imDevInquire(first_, 3, nullptr), 1u);
    ExpectNoError();
    EXPECT_EQ(Get(first_, destination, kBytes), in);
}

}  // namespace
