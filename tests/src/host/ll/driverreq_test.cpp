#include "hlc_wiring.h"
#include "boardsim.h"
#include "driverreq.h"

#include "../../testwait.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

using boardsim::BoardSim;
using boardsim::RequestRecord;
using boardsim::Topology;

namespace {

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words)
{
    std::vector<uint8_t> bytes;
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(w >> (8 * i)));
    return bytes;
}

class DriverRequestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HlcWireLibrary();
        Use(Topology{});
    }
    void TearDown() override
    {
        if (node_ != kInvalidDevice) DeviceClose(node_);
        HlcDriverSetWaitLimit(10000);
    }
    void Use(const Topology& t)
    {
        if (node_ != kInvalidDevice) DeviceClose(node_);
        BoardSim::instance().configure(t);
        node_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(node_, kInvalidDevice);
        BoardSim::instance().clearRequests();
    }
    RequestRecord Last()
    {
        const auto all = BoardSim::instance().requests();
        return all.empty() ? RequestRecord{} : all.back();
    }
    void ExpectImage(uint32_t code, const std::vector<uint8_t>& input, uint32_t outSize)
    {
        const RequestRecord r = Last();
        EXPECT_EQ(r.code, code);
        EXPECT_EQ(r.input, input) << std::hex << code;
        EXPECT_EQ(r.outSize, outSize) << std::hex << code;
    }

    DeviceHandle node_ = kInvalidDevice;
    DeviceEvent event_{true, false};
};

TEST_F(DriverRequestTest, CodesFollowTheDeviceTypeAndFunctionNumber)
{
    EXPECT_EQ(HlcDriverCode(0), HLC_DRV_INTERFACE_CHECK);
    EXPECT_EQ(HlcDriverCode(4), HLC_DRV_MAP);
    EXPECT_EQ(HlcDriverCode(13), HLC_DRV_BOARD_LIST);
    EXPECT_EQ(HlcDriverCode(20), HLC_DRV_DISPLAY_KEY);
    char name[24];
    HlcNodeDeviceName(0xD04, name, sizeof name);
    EXPECT_STREQ(name, "\\\\.\\HALCYRAd04");
}

TEST_F(DriverRequestTest, InterfaceAttachMapAndRecordImages)
{
    EXPECT_TRUE(HlcDrvInterfaceCheck(node_, nullptr));
    ExpectImage(HLC_DRV_INTERFACE_CHECK, Words({200}), 4);

    int32_t reply = 99;
    EXPECT_TRUE(HlcDrvAttach(node_, nullptr, 0x7E001234u, 0x1234, 0x11, &reply));
    ExpectImage(HLC_DRV_ATTACH, Words({0x7E001234u, 0x1234, 0x11, 0}), 16);
    EXPECT_EQ(reply, 0);
    EXPECT_TRUE(HlcDrvAttach(node_, nullptr, 1, 2, 0, &reply));
    EXPECT_LT(reply, 0);

    uint32_t address = 0;
    EXPECT_TRUE(HlcDrvMap(node_, nullptr, 0x11, HLC_REGION_PRIMARY, 0x4000, 0x4000000, &address));
    ExpectImage(HLC_DRV_MAP, Words({0, 0x11, 4, 0x4000, 0x4000000}), 20);
    EXPECT_NE(address, 0u);
    EXPECT_TRUE(HlcDrvMap(node_, nullptr, 0x11, 4, 0x100, 0x10, &address));
    EXPECT_EQ(address, 0u); // answered, not mapped

    std::vector<uint8_t> record(HLC_NODE_RECORD_BYTES);
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i * 7);
    EXPECT_TRUE(HlcDrvNodeRecord(node_, nullptr, record.data()));
    ExpectImage(HLC_DRV_NODE_RECORD, record, HLC_NODE_RECORD_BYTES);
    EXPECT_EQ(BoardSim::instance().nodeRecord(0), record);
}

TEST_F(DriverRequestTest, AttachReportsANodeHeldByAnotherProcess)
{
    Topology t;
    t.boards[0].heldByOtherProcess = true;
    Use(t);
    int32_t reply = 0;
    EXPECT_TRUE(HlcDrvAttach(node_, nullptr, 1, 2, 0x11, &reply));
    EXPECT_GT(reply, 0);
}

TEST_F(DriverRequestTest, DriverSemaphoresCountSignals)
{
    uint32_t answer = 77;
    EXPECT_TRUE(HlcDrvSemaCheck(node_, nullptr, 33, &answer));
    ExpectImage(HLC_DRV_SEMA_CHECK, Words({33}), 4);
    EXPECT_EQ(answer, 0u);
    EXPECT_TRUE(HlcDrvSemaSignal(node_, nullptr, 33));
    ExpectImage(HLC_DRV_SEMA_SIGNAL, Words({33}), 0);
    EXPECT_TRUE(HlcDrvSemaSignal(node_, nullptr, 33));
    EXPECT_TRUE(HlcDrvSemaCheck(node_, nullptr, 33, &answer));
    EXPECT_EQ(answer, 1u);
    EXPECT_EQ(BoardSim::instance().driverSemaphore(0, 33), 1u);
    EXPECT_TRUE(HlcDrvSemaReset(node_, nullptr, 33, &answer));
    ExpectImage(HLC_DRV_SEMA_RESET, Words({33}), 4);
    EXPECT_EQ(BoardSim::instance().driverSemaphore(0, 33), 0u);
}

TEST_F(DriverRequestTest, InterruptSourcesWaitsAndNodeSets)
{
    EXPECT_TRUE(HlcDrvEnableSource(node_, nullptr, 33, 1));
    ExpectImage(HLC_DRV_SOURCE_ENABLE, Words({33, 1}), 8);
    EXPECT_TRUE(BoardSim::instance().sourceEnabled(0, 33));
    EXPECT_TRUE(HlcDrvEnableSource(node_, nullptr, 33, 0));
    EXPECT_FALSE(BoardSim::instance().sourceEnabled(0, 33));

    HLC_WAIT_BUFFER wait = {};
    wait.type = 160;
    DeviceOverlapped ov;
    ov.event = &event_;
    EXPECT_EQ(HlcDrvPendInterruptWait(node_, &ov, &wait), kDevicePending);
    ExpectImage(HLC_DRV_INTERRUPT_WAIT, Words({160, 0}), 520);
    EXPECT_TRUE(HlcDrvCancelInterruptWait(node_, nullptr, &wait));
    ExpectImage(HLC_DRV_CANCEL_WAIT, Words({160, 0}), 0);
    EXPECT_EQ(BoardSim::instance().pendingRequests(), 0);
    EXPECT_EQ(ov.status, static_cast<uint32_t>(kDeviceErrorCancelled));

    uint32_t answer = 0;
    EXPECT_TRUE(HlcDrvNodeSetAdd(node_, nullptr, 0x11, &answer));
    ExpectImage(HLC_DRV_NODESET_ADD, Words({0x11}), 4);
    EXPECT_EQ(answer, 1u);
    EXPECT_TRUE(BoardSim::instance().nodeInSet(0x11));
    EXPECT_TRUE(HlcDrvNodeSetRemove(node_, nullptr, 0x11, &answer));
    ExpectImage(HLC_DRV_NODESET_REMOVE, Words({0x11}), 4);
    EXPECT_EQ(answer, 0u);
    EXPECT_FALSE(BoardSim::instance().nodeInSet(0x11));
}

TEST_F(DriverRequestTest, BoardListRecordsAre19BytesEach)
{
    Topology t;
    t.boards.resize(2);
    t.boards[1].moduleType = 6;
    Use(t);
    uint8_t records[HLC_BOARD_LIST_BYTES];
    uint32_t count = 0;
    EXPECT_TRUE(HlcDrvBoardList(node_, nullptr, records, &count));
    ExpectImage(HLC_DRV_BOARD_LIST, std::vector<uint8_t>(608, 0), 608);
    ASSERT_EQ(count, 2u);
    _PCI_FOUND_DEVICE second;
    std::memcpy(&second, records + 19, 19);
    EXPECT_EQ(second.slot, 2);
    EXPECT_EQ(second.device, 0x0E);
    EXPECT_EQ(second.kind, 4);
    EXPECT_EQ(second.moduleType, 6);
    EXPECT_EQ(second.functions, 0x05);   // primary Orlo and bridge
    EXPECT_EQ(second.secondaryBus, 2);
    EXPECT_EQ(HlcBoardSuffix(second), 0xE04u);
    EXPECT_EQ(records[38], 0);           // nothing after the two records
}

TEST_F(DriverRequestTest, DisplayChipRegisterAndKeyImages)
{
    Topology t;
    t.boards[0].displayOrlo = true;
    t.boards[0].displayChip = true;
    Use(t);
    EXPECT_TRUE(HlcDrvChipWrite32(node_, nullptr, 0x1E90, 0x11223344u));
    ExpectImage(HLC_DRV_CHIP_WRITE32, Words({0x1E90 / 4, 0x11223344u}), 0);
    EXPECT_TRUE(HlcDrvChipWrite16(node_, nullptr, 0x1E94, 0xBEEF));
    ExpectImage(HLC_DRV_CHIP_WRITE16, {0x4A, 0x0F, 0, 0, 0xEF, 0xBE}, 0);
    EXPECT_TRUE(HlcDrvChipWrite8(node_, nullptr, 0x1E97, 0x5A));
    ExpectImage(HLC_DRV_CHIP_WRITE8, {0x97, 0x1E, 0, 0, 0x5A}, 0);

    uint32_t v32 = 0;
    uint16_t v16 = 0;
    uint8_t v8 = 0;
    EXPECT_TRUE(HlcDrvChipRead32(node_, nullptr, 0x1E94, &v32));
    ExpectImage(HLC_DRV_CHIP_READ32, Words({0x1E94 / 4, 0}), 8);
    EXPECT_EQ(v32, 0x5A00BEEFu);
    EXPECT_TRUE(HlcDrvChipRead16(node_, nullptr, 0x1E92, &v16));
    ExpectImage(HLC_DRV_CHIP_READ16, {0x49, 0x0F, 0, 0, 0, 0}, 6);
    EXPECT_EQ(v16, 0x1122);
    EXPECT_TRUE(HlcDrvChipRead8(node_, nullptr, 0x1E90, &v8));
    ExpectImage(HLC_DRV_CHIP_READ8, {0x90, 0x1E, 0, 0, 0}, 5);
    EXPECT_EQ(v8, 0x44);

    HLC_DISPLAY_KEY_REQ key = {0x20, 0xFF, 3};
    EXPECT_TRUE(HlcDrvDisplayKey(node_, nullptr, &key));
    ExpectImage(HLC_DRV_DISPLAY_KEY, Words({0x20, 0xFF, 3}), 12);
    EXPECT_EQ(BoardSim::instance().displayKey(0, 2), 3u);
}

TEST_F(DriverRequestTest, FailedRequestsLeaveTheCallersOutputsAlone)
{
    BoardSim::instance().failRequests(HLC_DRV_MAP);
    BoardSim::instance().failRequests(HLC_DRV_ATTACH);
    BoardSim::instance().failRequests(HLC_DRV_SEMA_CHECK);
    BoardSim::instance().failRequests(HLC_DRV_BOARD_LIST);
    uint32_t address = 0x12345678u, answer = 0xCCCCCCCCu, count = 55;
    int32_t reply = -77;
    EXPECT_FALSE(HlcDrvMap(node_, nullptr, 0x11, 4, 0x4000, 0x4000000, &address));
    EXPECT_EQ(address, 0x12345678u);
    EXPECT_FALSE(HlcDrvAttach(node_, nullptr, 1, 2, 0x11, &reply));
    EXPECT_EQ(reply, -77);
    EXPECT_FALSE(HlcDrvSemaCheck(node_, nullptr, 5, &answer));
    EXPECT_EQ(answer, 0xCCCCCCCCu);
    uint8_t records[HLC_BOARD_LIST_BYTES];
    EXPECT_FALSE(HlcDrvBoardList(node_, nullptr, records, &count));
    EXPECT_EQ(count, 55u);
    EXPECT_FALSE(HlcDriverRequest(kInvalidDevice, nullptr, HLC_DRV_INTERFACE_CHECK, &answer, 4, 4));
}

TEST_F(DriverRequestTest, AWaitThatRunsOutCancelsTheRequest)
{
    HlcDriverSetWaitLimit(30);
    BoardSim::instance().holdRequests(HLC_DRV_SEMA_CHECK, true);
    uint32_t answer = 0xABCDu;
    DeviceOverlapped ov;
    ov.event = &event_;
    EXPECT_FALSE(HlcDrvSemaCheck(node_, &ov, 33, &answer));
    EXPECT_EQ(answer, 0xABCDu);
    EXPECT_EQ(BoardSim::instance().pendingRequests(), 0);
    EXPECT_EQ(BoardSim::instance().releaseHeld(), 0);
    EXPECT_EQ(ov.event, &event_);

    // Released in time, the same request succeeds on the caller's record.
    HlcDriverSetWaitLimit(5000);
    BoardSim::instance().signalDriverSemaphore(0, 33);
    testwait::Thread releaser([] {
        if (!testwait::WaitUntil([] { return BoardSim::instance().pendingRequests() != 0; })) {
            ADD_FAILURE() << "the check never reached the driver";
            return;
        }
        BoardSim::instance().releaseHeld();
    });
    EXPECT_TRUE(HlcDrvSemaCheck(node_, &ov, 33, &answer));
    releaser.Join();
    EXPECT_EQ(answer, 1u);
}

} // namespace
