// VM-port sections of a copy on one node of the simulated board: the port numbering of
// the highest Orlo, the joined node that is not open, the sections a resource holds and
// gives back.
#include "vmsection.h"

#include "bufid.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "reqres.h"
#include "../../../cbinding/ringnode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using namespace ringnode;

double g_times[11] = {5.0, 5.0, 0.2, 5.0, 0.05, 0.02, 0.0, -1.0, 0.0, 0.0, 5.0};

class VmSectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_ = SetUpRingNode(g_times);
        ASSERT_NE(device_, kInvalidDevice);
        mp_res_vm_forget(kNode);
        resource_.node = kNode;
        resource_.record = &g_record;
        buffer_.node = kNode;
        buffer_.location = kLocSdram;
        buffer_.bands = 1;
    }
    void TearDown() override
    {
        mp_res_vm_forget(kNode);
        TearDownRingNode(device_);
    }
    uint8_t* State() { return reinterpret_cast<uint8_t*>(&g_nodeState); }
    uint32_t VmId() { return HwRead32(g_record.primaryRegs, kVmIdRegister); }

    DeviceHandle device_ = kInvalidDevice;
    MP_RESOURCE_ST resource_{};
    _MP_BUF_ST buffer_{};
};

TEST_F(VmSectionTest, HighestVmIdIsKeptAcrossBlocks)
{
    HwWrite32(g_record.primaryRegs, kVmIdRegister, 0x25);   // id 5 in the low four bits
    uint32_t best = 0;
    int32_t highest = -1;
    findMaxId(&g_record, &best, &highest);
    EXPECT_EQ(best, g_record.primaryRegs);
    EXPECT_EQ(highest, 5);
    best = 0;
    highest = 9;
    findMaxId(&g_record, &best, &highest);   // not above the one already kept
    EXPECT_EQ(best, 0u);
    EXPECT_EQ(highest, 9);
}

TEST_F(VmSectionTest, FirstSectionNumbersThePortWithItsSmallestVmNumberOnce)
{
    State()[kVmNumbersByte] = 5;
    State()[kVmNumbersByte + 3] = 3;
    HwWrite32(g_record.primaryRegs, kVmIdRegister, 0);
    ASSERT_EQ(mp_res_alloc_vm(&resource_, &buffer_), 0);
    EXPECT_EQ(VmId() & 0xFF, 3u << 4);
    mp_res_free_vm(&resource_);
    HwWrite32(g_record.primaryRegs, kVmIdRegister, 0);
    ASSERT_EQ(mp_res_alloc_vm(&resource_, &buffer_), 0);
    EXPECT_EQ(VmId() & 0xFF, 0u);   // numbered already
    mp_res_free_vm(&resource_);
    EXPECT_EQ(resource_.err.code, 0);
}

TEST_F(VmSectionTest, JoinedNodeNotOpenIsReportedAsNotFound)
{
    State()[kVmNumbersByte] = 2;
    State()[kVmPortListByte] = 0x12;   // no such node is open
    EXPECT_EQ(mp_res_alloc_vm(&resource_, &buffer_), -1);
    EXPECT_EQ(resource_.err.code, -11);
    ASSERT_NE(resource_.err.message, nullptr);
    EXPECT_EQ(std::string(resource_.err.message), kVmTextNoConnection);
    EXPECT_EQ(resource_.vmCount, 0u);
}

TEST_F(VmSectionTest, SectionsAreHeldByKindAndGivenBackInReverse)
{
    ASSERT_EQ(mp_res_alloc_vm(&resource_, &buffer_), 0);
    _MP_BUF_ST display = buffer_;
    display.location = 5;   // display memory on a node with a display Orlo of its own
    g_record.displayRegs = g_record.primaryRegs;
    ASSERT_EQ(mp_res_alloc_vm(&resource_, &display), 0);
    EXPECT_EQ(resource_.vmCount, 2u);
    EXPECT_EQ(resource_.vmNode[0], kNode);
    EXPECT_EQ(resource_.vmKind[0], 8u);
    EXPECT_EQ(resource_.vmKind[1], 16u);
    // A third is refused, not written past the two slots.
    EXPECT_EQ(mp_res_alloc_vm(&resource_, &buffer_), -1);
    EXPECT_EQ(resource_.err.code, -4);
    mp_res_free_vm(&resource_);
    EXPECT_EQ(resource_.vmCount, 0u);
    // Both sections are free again for the next copy.
    EXPECT_EQ(mp_sys_section_wait(kNode, 8), 0);
    EXPECT_EQ(mp_sys_section_wait(kNode, 16), 0);
    mp_sys_section_unlock(kNode, 16);
    mp_sys_section_unlock(kNode, 8);
}

}  // namespace
