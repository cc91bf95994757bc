// The digitizer list of a system (head made, joined, entries found and counted, freed,
// cameras detached), the driver's node set, the grab interrupt sources of the external
// module families, and the size and rectangle utilities.
#include "../core/buftest.h"
#include "digitizers.h"
#include "reqres.h"

#include "boardsim.h"
#include "device.h"
#include "driverreq.h"
#include "hlc_errors.h"
#include "hwaccess.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

using buftest::BufTest;
using buftest::kNode;
using buftest::W;

namespace {

constexpr uint32_t kSecondNode = 0x13;   // a second digitizer of system 0
constexpr uint32_t kOtherSystem = 0x21;

class DigitizerListTest : public BufTest {
protected:
    void SetUp() override
    {
        BufTest::SetUp();
        block_.moduleType = 1;
        ASSERT_EQ(mp_sys_insert_node(kSecondNode, &second_), 0);
        second_.moduleType = 4;
        secondRecord_ = mp_sys_node_resource_ptr(kSecondNode);
        ASSERT_NE(secondRecord_, nullptr);
        secondRecord_->nodeState = &second_;
        ASSERT_EQ(mp_buf_init(kSecondNode, 100, 50), 0);
        res_ = Resource(record_);
    }
    void TearDown() override
    {
        mp_sys_remove_node(kSecondNode);
        BufTest::TearDown();
    }
    static MP_RESOURCE_ST Resource(_NODE_MAIN_RESOURCE_ST* record)
    {
        MP_RESOURCE_ST r{};
        r.node = static_cast<uint32_t>(record->nodeNumber);
        r.record = record;
        r.name = "DigAlloc";
        return r;
    }
    static uint32_t* Words(const _MP_BUF_ST* entry)
    {
        return static_cast<uint32_t*>(mp_buf_address_band_internal(entry, 0));
    }
    _NODE_ST second_{};
    _NODE_MAIN_RESOURCE_ST* secondRecord_ = nullptr;
    MP_RESOURCE_ST res_{};
};

TEST_F(DigitizerListTest, HeadIsMadeOnceAndCachedInTheNodeState)
{
    _MP_BUF_ST* head = mp_sys_alloc_dig(&res_, -1, -1);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(res_.err.code, 0);
    EXPECT_EQ(head->kind, kBufKindDigitizer);
    EXPECT_EQ(head->sizeX, 128);
    EXPECT_EQ(head->location, kLocInline);
    const uint32_t* w = Words(head);
    EXPECT_EQ(w[kDigWordId], head->id);
    EXPECT_EQ(w[kDigWordNumber], 0u);
    EXPECT_EQ(w[kDigWordSystem], 0u);
    EXPECT_EQ(w[kDigWordNode], kNode);
    EXPECT_EQ(w[kDigWordValid], 1u);
    EXPECT_EQ(w[kDigWordNext], 0u);
    EXPECT_EQ(block_.digitizerList[0], head->id);
    EXPECT_NE(block_.digitizerList[1], 0u);
    EXPECT_EQ(block_.digitizerList[2], W(head));
    EXPECT_EQ(mp_sys_alloc_dig(&res_, -1, -1), head);
}

TEST_F(DigitizerListTest, AnotherNodeOfTheSystemJoinsTheOfferedHead)
{
    block_.digitizerShared = 1;
    _MP_BUF_ST* head = mp_sys_alloc_dig(&res_, -1, -1);
    ASSERT_NE(head, nullptr);
    // The second node is listed after the first: it finds the head all the same.
    MP_RESOURCE_ST other = Resource(secondRecord_);
    EXPECT_EQ(mp_sys_alloc_dig(&other, -1, -1), head);
    EXPECT_EQ(second_.digitizerList[2], W(head));
    EXPECT_EQ(second_.digitizerList[1], block_.digitizerList[1]);
}

TEST_F(DigitizerListTest, ANodeThatIsNoDigitizerAndHasNoListToJoinGetsNone)
{
    block_.moduleType = 0;
    // Every node open asks for the head: a node without one is no error there...
    EXPECT_EQ(mp_sys_alloc_dig(&res_, -1, -1), nullptr);
    EXPECT_EQ(res_.err.code, 0);
    EXPECT_EQ(block_.digitizerList[2], 0u);
    // ...but an entry of a list that does not exist is not present.
    EXPECT_EQ(mp_sys_alloc_dig(&res_, 0, 0), nullptr);
    EXPECT_EQ(res_.err.code, HLC_ERR_NOT_PRESENT);
}

TEST_F(DigitizerListTest, EntriesAreCountedOverTheSystemsDigitizersAndLinked)
{
    _MP_BUF_ST* head = mp_sys_alloc_dig(&res_, -1, -1);
    ASSERT_NE(head, nullptr);
    // Entry (0, 0) is the head itself, its use count raised.
    EXPECT_EQ(mp_sys_alloc_dig(&res_, 0, 0), head);
    EXPECT_EQ(Words(head)[kDigWordUses], 1u);
    // Entry (0, 1): the second digitizer node of system 0.
    _MP_BUF_ST* one = mp_sys_alloc_dig(&res_, 0, 1);
    ASSERT_NE(one, nullptr);
    const uint32_t* w = Words(one);
    EXPECT_EQ(w[kDigWordNumber], 1u);
    EXPECT_EQ(w[kDigWordSystem], 0u);
    EXPECT_EQ(w[kDigWordNode], kSecondNode);
    EXPECT_EQ(w[kDigWordValid], 1u);
    EXPECT_EQ(Words(head)[kDigWordNext], one->id);
    EXPECT_EQ(w[kDigWordUses], 1u) << "its first user";
    // Asked again: the same entry, counted.
    EXPECT_EQ(mp_sys_alloc_dig(&res_, 0, 1), one);
    EXPECT_EQ(Words(one)[kDigWordUses], 2u);
    // There is no third digitizer in system 0.
    EXPECT_EQ(mp_sys_alloc_dig(&res_, 0, 2), nullptr);
    EXPECT_EQ(res_.err.code, HLC_ERR_NOT_PRESENT);
}

TEST_F(DigitizerListTest, NodesOfOtherSystemsAreNotCounted)
{
    _NODE_ST other{};
    other.moduleType = 2;
    ASSERT_EQ(mp_sys_insert_node(kOtherSystem, &other), 0);
    mp_sys_node_resource_ptr(kOtherSystem)->nodeState = &other;
    second_.moduleType = 0;   // the only digitizer of system 0 is the serving node
    ASSERT_NE(mp_sys_alloc_dig(&res_, -1, -1), nullptr);
    EXPECT_EQ(mp_sys_alloc_dig(&res_, 0, 1), nullptr);
    EXPECT_EQ(res_.err.code, HLC_ERR_NOT_PRESENT);
    mp_sys_remove_node(kOtherSystem);
}

TEST_F(DigitizerListTest, FreeLowersTheUseCountDownToZeroAndRefusesOtherIds)
{
    _MP_BUF_ST* head = mp_sys_alloc_dig(&res_, -1, -1);
    ASSERT_NE(mp_sys_alloc_dig(&res_, 0, 0), nullptr);
    mp_sys_free_dig(&res_, head->id);
    EXPECT_EQ(Words(head)[kDigWordUses], 0u);
    EXPECT_EQ(res_.err.code, 0);
    // A free beyond the last use leaves the count at 0 and is no error.
    mp_sys_free_dig(&res_, head->id);
    EXPECT_EQ(Words(head)[kDigWordUses], 0u);
    EXPECT_EQ(res_.err.code, 0);

    _MP_BUF_ST* image = mp_buf_alloc_on_node(kNode, 8, 8, 1, 8, kLocInline);
    ASSERT_NE(image, nullptr);
    mp_sys_free_dig(&res_, mp_buf_alloc_id(image));
    EXPECT_EQ(res_.err.code, HLC_ERR_INVALID_BUFFER);
    EXPECT_STREQ(res_.err.message, "Invalid buffer ID");
    mp_buf_free(image);
}

TEST_F(DigitizerListTest, CameraIsDetachedFromEveryEntryThatHoldsIt)
{
    _MP_BUF_ST* head = mp_sys_alloc_dig(&res_, -1, -1);
    _MP_BUF_ST* one = mp_sys_alloc_dig(&res_, 0, 1);
    ASSERT_NE(one, nullptr);
    Words(head)[kDigWordCamera] = 0x110007;
    Words(one)[kDigWordCamera] = 0x110007;
    mp_sys_cam_free_for_dig(&res_, 0x110008);
    EXPECT_EQ(Words(head)[kDigWordCamera], 0x110007u);
    mp_sys_cam_free_for_dig(&res_, 0x110007);
    EXPECT_EQ(Words(head)[kDigWordCamera], 0u);
    EXPECT_EQ(Words(one)[kDigWordCamera], 0u);
}

TEST(DigitizerKind, ModuleTypesOneToSixAreDigitizers)
{
    _NODE_ST state{};
    for (uint32_t type : {0u, 7u, 34u, 64u, 0xFFFFFFFFu}) {
        state.moduleType = type;
        EXPECT_EQ(isValidDigitizer(&state.nodeInfo), 0) << type;
    }
    for (uint32_t type = 1; type <= 6; ++type) {
        state.moduleType = type;
        EXPECT_EQ(isValidDigitizer(&state.nodeInfo), 1) << type;
    }
    EXPECT_EQ(isValidDigitizer(nullptr), 0);
}

// ---- node set ---------------------------------------------------------------------------

TEST_F(BufTest, NodeSetRequestsCarryTheirWordOnTheNodesDevice)
{
    boardsim::Topology t;
    t.boards[0].primaryOrlo = true;
    boardsim::BoardSim::instance().configure(t);
    const DeviceHandle device = DeviceOpen(boardsim::BoardSim::instance().boardDeviceName(0).c_str());
    ASSERT_NE(device, kInvalidDevice);
    record_->device = device;
    EXPECT_EQ(mp_sys_add_node_to_nodes(kNode << 16), 1);
    auto requests = boardsim::BoardSim::instance().requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().code, HLC_DRV_NODESET_ADD);
    const std::vector<uint8_t> added{0, 0, 0x11, 0};
    EXPECT_EQ(requests.back().input, added);
    EXPECT_GE(mp_sys_remove_node_to_nodes(kNode), 0);
    requests = boardsim::BoardSim::instance().requests();
    EXPECT_EQ(requests.back().code, HLC_DRV_NODESET_REMOVE);
    const std::vector<uint8_t> removed{0x11, 0, 0, 0};
    EXPECT_EQ(requests.back().input, removed);
    // A node that is not open is not asked for.
    EXPECT_EQ(mp_sys_add_node_to_nodes(0x550000), -1);
    EXPECT_EQ(mp_sys_remove_node_to_nodes(0), -1);
    record_->device = kInvalidDevice;
    DeviceClose(device);
    boardsim::BoardSim::instance().configure();
}

// ---- grab interrupt sources -----------------------------------------------------------------

// The port window holds the grab module the board carries: a standard module (types 1, 2
// and 34) keeps the low byte of each register lane; behind a second-family module (types
// 3-6) the simulated window is plain memory.
class GrabSourceTest : public ::testing::Test {
protected:
    void SetUp() override { Bring(1); }
    void TearDown() override
    {
        DeviceClose(device_);
        boardsim::BoardSim::instance().configure();
    }
    void Bring(uint8_t moduleType)
    {
        if (device_ != kInvalidDevice) DeviceClose(device_);
        boardsim::Topology t;
        t.boards[0].primaryOrlo = true;
        t.boards[0].moduleType = moduleType;
        boardsim::BoardSim::instance().configure(t);
        device_ = DeviceOpen(boardsim::BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(device_, kInvalidDevice);
        ASSERT_TRUE(HlcDrvMap(device_, nullptr, kNode, HLC_REGION_PRIMARY, kOrloPortSize, kOrloPortOffset, &port_));
        ASSERT_NE(port_, 0u);
        orlo_[kOrloResourcePortWord] = port_;
    }
    void SetByte(uint32_t offset, uint32_t value) { HwWrite32(port_, offset, value); }
    uint32_t Byte(uint32_t offset) const { return HwRead32(port_, offset); }
    void ClearPort()
    {
        for (uint32_t offset = 0; offset < kOrloPortSize; offset += 4) HwWrite32(port_, offset, 0);
    }
    // (word 0 answers the module's id byte while the FPGA is not configured)
    bool PortClear() const
    {
        for (uint32_t offset = 4; offset < kOrloPortSize; offset += 4)
            if (HwRead32(port_, offset) != 0) return false;
        return true;
    }
    DeviceHandle device_ = kInvalidDevice;
    uint32_t port_ = 0;
    uint32_t orlo_[223]{};
};

TEST_F(GrabSourceTest, InquiryTakesEachFamilysSourceBits)
{
    uint32_t out = 0x1;
    SetByte(kExtGrabSourceLow1, 0xFF);
    SetByte(kExtGrabSourceHigh1, 0x08);   // bit 11
    mp_sys_inq_grab_irq_src(1, orlo_, &out);
    EXPECT_EQ(out, 0x801u);
    SetByte(kExtGrabSourceHigh1, 0xF7);
    mp_sys_inq_grab_irq_src(1, orlo_, &out);
    EXPECT_EQ(out, 0x1u);

    out = 0;
    SetByte(kExtGrabSourceHigh2, 0x80);   // bit 15
    mp_sys_inq_grab_irq_src(34, orlo_, &out);
    EXPECT_EQ(out, 0x8000u);

    Bring(4);
    out = 0;
    SetByte(kExtGrabStatusA, 0x1F5);
    SetByte(kExtGrabStatusB, 0x03);
    mp_sys_inq_grab_irq_src(4, orlo_, &out);
    EXPECT_EQ(out, (0xF5u << 16) | (0x03u << 21));

    out = 0x1234;
    mp_sys_inq_grab_irq_src(64, orlo_, &out);
    EXPECT_EQ(out, 0x1234u);
    orlo_[kOrloResourcePortWord] = 0;
    mp_sys_inq_grab_irq_src(4, orlo_, &out);
    EXPECT_EQ(out, 0x1234u);
}

TEST_F(GrabSourceTest, ClearWritesTheSourcesRegister)
{
    Bring(3);
    for (uint32_t source : {16u, 21u, 26u, 31u}) {
        mp_sys_clr_grab_irq_src(3, orlo_, source);
        EXPECT_EQ(Byte(kExtGrabClearFirst + kExtGrabClearStep * ((source - 16) / 5)), 1u) << source;
    }
    ClearPort();
    mp_sys_clr_grab_irq_src(5, orlo_, 17);
    EXPECT_TRUE(PortClear());

    Bring(1);

    // Type 1 ends with control bit 15 clear, types 2 and 34 with it set.
    SetByte(kExtGrabControlLow, 0x12);
    SetByte(kExtGrabControlHigh, 0x80);
    mp_sys_clr_grab_irq_src(1, orlo_, 11);
    EXPECT_EQ(Byte(kExtGrabControlLow), 0x12u);
    EXPECT_EQ(Byte(kExtGrabControlHigh), 0x00u);
    mp_sys_clr_grab_irq_src(2, orlo_, 11);
    EXPECT_EQ(Byte(kExtGrabControlHigh), 0x80u);
    EXPECT_EQ(Byte(kExtGrabSourceHigh2), 0x80u);
    // Another source changes nothing.
    SetByte(kExtGrabControlHigh, 0);
    mp_sys_clr_grab_irq_src(1, orlo_, 12);
    EXPECT_EQ(Byte(kExtGrabControlHigh), 0u);
}

// ---- utilities ------------------------------------------------------------------------------

_MP_BUF_ST Sized(int32_t x, int32_t y)
{
    _MP_BUF_ST b{};
    b.sizeX = x;
    b.sizeY = y;
    return b;
}

TEST(BufferUtilities, MinSizeTakesTheSmallestOfTheGivenBuffers)
{
    const _MP_BUF_ST a = Sized(640, 480), b = Sized(320, 512), c = Sized(800, 200);
    int32_t w = -1, h = -1;
    mp_util_min_size(&a, nullptr, &b, &c, &w, &h);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 200);
    mp_util_min_size(nullptr, nullptr, nullptr, &a, &w, &h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    mp_util_min_size(nullptr, nullptr, nullptr, nullptr, &w, &h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
}

TEST(BufferUtilities, RectangleMustLieWhollyInsideTheBuffer)
{
    const _MP_BUF_ST b = Sized(100, 50);
    EXPECT_EQ(mp_util_rect_in_buf(&b, 0, 100, 0, 50), 0);
    EXPECT_EQ(mp_util_rect_in_buf(&b, 10, 90, 5, 45), 0);
    EXPECT_EQ(mp_util_rect_in_buf(&b, 99, 1, 49, 1), 0);
    // One pixel past the right or the bottom edge.
    EXPECT_EQ(mp_util_rect_in_buf(&b, 10, 91, 0, 50), -1);
    EXPECT_EQ(mp_util_rect_in_buf(&b, 0, 100, 1, 50), -1);
    EXPECT_EQ(mp_util_rect_in_buf(&b, 100, 0, 0, 1), -1);
    EXPECT_EQ(mp_util_rect_in_buf(&b, 0, 101, 0, 1), -1);
    // Negative positions and sizes, and sums that would wrap.
    EXPECT_EQ(mp_util_rect_in_buf(&b, -1, 10, 0, 10), -1);
    EXPECT_EQ(mp_util_rect_in_buf(&b, 0, -5, 0, 10), -1);
    EXPECT_EQ(mp_util_rect_in_buf(&b, 50, 0x7FFFFFFF, 0, 10), -1);
    EXPECT_EQ(mp_util_rect_in_buf(nullptr, 0, 1, 0, 1), -1);
}

}  // namespace
