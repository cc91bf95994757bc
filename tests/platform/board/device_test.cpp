#include "boardsim.h"
#include "regmap/driver_requests.h"
#include "regmap/service_requests.h"
#include "device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

using boardsim::BoardSim;
using boardsim::Topology;

namespace {


class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override { BoardSim::instance().configure(); }
    DeviceHandle OpenNode(int board = 0) { return DeviceOpen(BoardSim::instance().boardDeviceName(board).c_str()); }
};

TEST_F(DeviceTest, OpensTheDriverTheServiceAndEachBoardByName)
{
    const DeviceHandle list = DeviceOpen("\\\\.\\HALCYRA");
    const DeviceHandle service = DeviceOpen("\\\\.\\QVLSERVICE0");
    const DeviceHandle node = OpenNode();
    EXPECT_NE(list, kInvalidDevice);
    EXPECT_NE(service, kInvalidDevice);
    EXPECT_NE(node, kInvalidDevice);
    EXPECT_EQ(BoardSim::instance().boardDeviceName(0), "\\\\.\\HALCYRAd04"); // device 0x0D, kind 4
    EXPECT_NE(DeviceOpen("\\\\.\\halcyraD04"), kInvalidDevice);             // names ignore case
    EXPECT_TRUE(DeviceClose(list));
    EXPECT_TRUE(DeviceClose(service));
    EXPECT_TRUE(DeviceClose(node));
    EXPECT_FALSE(DeviceClose(node));
    EXPECT_EQ(DeviceLastError(), kDeviceErrorInvalidHandle);
}

TEST_F(DeviceTest, UnknownNamesAndMissingDevicesDoNotOpen)
{
    EXPECT_EQ(DeviceOpen("\\\\.\\HALCYRAe04"), kInvalidDevice);
    EXPECT_EQ(DeviceLastError(), kDeviceErrorNotFound);
    EXPECT_EQ(DeviceOpen("\\\\.\\HALCYRAxyz"), kInvalidDevice);
    EXPECT_EQ(DeviceOpen("\\\\.\\QVLSERVICE1"), kInvalidDevice);
    EXPECT_EQ(DeviceOpen(nullptr), kInvalidDevice);

    Topology t;
    t.driverPresent = false;
    t.service.present = false;
    BoardSim::instance().configure(t);
    EXPECT_EQ(DeviceOpen("\\\\.\\HALCYRA"), kInvalidDevice);
    EXPECT_EQ(DeviceOpen("\\\\.\\QVLSERVICE0"), kInvalidDevice);
}

TEST_F(DeviceTest, ReconfiguringInvalidatesBoardHandlesButKeepsTheService)
{
    const DeviceHandle node = OpenNode();
    const DeviceHandle service = DeviceOpen("\\\\.\\QVLSERVICE0");
    BoardSim::instance().configure();
    uint32_t word = 200, bytes = 0;
    EXPECT_EQ(DeviceIoControl(node, HLC_DRV_INTERFACE_CHECK, &word, 4, &word, 4, &bytes, nullptr), kDeviceFailed);
    EXPECT_EQ(DeviceLastError(), kDeviceErrorInvalidHandle);
    uint32_t revision[4] = {0xFFFE0000u, 3, 0, 0};
    EXPECT_EQ(DeviceIoControl(service, QVL_GET_REVISION, revision, 16, revision, 16, &bytes, nullptr), kDeviceDone);
    EXPECT_EQ(revision[1], 3u);
    DeviceClose(node);
    DeviceClose(service);
}

TEST_F(DeviceTest, RequestsCheckSizesAndUnknownCodes)
{
    const DeviceHandle node = OpenNode();
    uint32_t word = 200, bytes = 0;
    EXPECT_EQ(DeviceIoControl(node, HLC_DRV_INTERFACE_CHECK, &word, 4, &word, 4, &bytes, nullptr), kDeviceDone);
    EXPECT_EQ(word, 200u);
    EXPECT_EQ(bytes, 4u);
    EXPECT_EQ(DeviceIoControl(node, HLC_DRV_INTERFACE_CHECK, &word, 2, &word, 4, &bytes, nullptr), kDeviceFailed);
    EXPECT_EQ(DeviceLastError(), kDeviceErrorInvalidParameter);
    EXPECT_EQ(DeviceIoControl(node, 0xAA552008u, &word, 4, &word, 4, &bytes, nullptr), kDeviceFailed);
    EXPECT_EQ(DeviceLastError(), kDeviceErrorNotSupported);
    EXPECT_EQ(DeviceIoControl(node, HLC_DRV_INTERFACE_CHECK, nullptr, 4, &word, 4, &bytes, nullptr), kDeviceFailed);
    DeviceClose(node);
}

TEST_F(DeviceTest, InjectedRefusalsCountDown)
{
    const DeviceHandle node = OpenNode();
    BoardSim::instance().failRequests(HLC_DRV_INTERFACE_CHECK, 1);
    uint32_t word = 200, bytes = 0;
    EXPECT_EQ(DeviceIoControl(node, HLC_DRV_INTERFACE_CHECK, &word, 4, &word, 4, &bytes, nullptr), kDeviceFailed);
    EXPECT_EQ(DeviceLastError(), kDeviceErrorRefused);
    EXPECT_EQ(DeviceIoControl(node, HLC_DRV_INTERFACE_CHECK, &word, 4, &word, 4, &bytes, nullptr), kDeviceDone);
    DeviceClose(node);
}

TEST(DeviceEventTest, ManualAndAutomaticResetAndTimeouts)
{
    DeviceEvent manual(true, false), automatic(false, false);
    EXPECT_FALSE(manual.wait(0));
    manual.set();
    EXPECT_TRUE(manual.wait(0));
    EXPECT_TRUE(manual.wait(0));
    manual.reset();
    EXPECT_FALSE(manual.isSet());
    automatic.set();
    EXPECT_TRUE(automatic.wait(0));
    EXPECT_FALSE(automatic.wait(10));
    DeviceEvent* both[2] = {&manual, &automatic};
    EXPECT_EQ(DeviceEvent::waitAny(both, 2, 5), -1);
    std::thread setter([&] { automatic.set(); });
    EXPECT_EQ(DeviceEvent::waitAny(both, 2, 5000), 1);
    setter.join();
    EXPECT_FALSE(automatic.isSet());
}

TEST_F(DeviceTest, PendedInterruptWaitCompletesWhenWordsArrive)
{
    const DeviceHandle node = OpenNode();
    uint32_t buffer[130] = {45, 0};
    DeviceEvent event(true, true);
    DeviceOverlapped ov;
    ov.event = &event;
    uint32_t bytes = 0;
    ASSERT_EQ(DeviceIoControl(node, HLC_DRV_INTERRUPT_WAIT, buffer, 8, buffer, 520, &bytes, &ov), kDevicePending);
    EXPECT_FALSE(event.isSet());
    EXPECT_FALSE(DeviceGetOverlappedResult(node, &ov, &bytes, false));
    EXPECT_EQ(DeviceLastError(), kDeviceErrorIncomplete);
    EXPECT_EQ(BoardSim::instance().pendingRequests(), 1);

    BoardSim::instance().postInterruptWords(0, {0x00400003u, 0x80000001u});
    EXPECT_TRUE(event.wait(1000));
    ASSERT_TRUE(DeviceGetOverlappedResult(node, &ov, &bytes, false));
    EXPECT_EQ(bytes, 16u);
    EXPECT_EQ(buffer[0], 45u);
    EXPECT_EQ(buffer[1], 2u);
    EXPECT_EQ(buffer[2], 0x00400003u);
    EXPECT_EQ(buffer[3], 0x80000001u);

    // Words already queued complete the next wait at once.
    BoardSim::instance().postInterruptWords(0, {7});
    ASSERT_EQ(DeviceIoControl(node, HLC_DRV_INTERRUPT_WAIT, buffer, 8, buffer, 520, &bytes, &ov), kDeviceDone);
    EXPECT_EQ(bytes, 12u);
    EXPECT_EQ(buffer[2], 7u);
    DeviceClose(node);
}

TEST_F(DeviceTest, CancelledRequestNeverTouchesItsBufferAgain)
{
    const DeviceHandle node = OpenNode();
    std::vector<uint32_t> buffer(130, 0xA5A5A5A5u);
    buffer[0] = 45;
    buffer[1] = 0;
    DeviceEvent event(true, false);
    DeviceOverlapped ov;
    ov.event = &event;
    uint32_t bytes = 0;
    ASSERT_EQ(DeviceIoControl(node, HLC_DRV_INTERRUPT_WAIT, buffer.data(), 8, buffer.data(), 520, &bytes, &ov), kDevicePending);
    EXPECT_TRUE(DeviceCancelIo(node, &ov));
    EXPECT_TRUE(event.isSet());
    EXPECT_FALSE(DeviceGetOverlappedResult(node, &ov, &bytes, true));
    EXPECT_EQ(DeviceLastError(), kDeviceErrorCancelled);
    EXPECT_EQ(BoardSim::instance().pendingRequests(), 0);
    BoardSim::instance().postInterruptWords(0, {1, 2, 3});
    EXPECT_EQ(buffer[2], 0xA5A5A5A5u);
    EXPECT_FALSE(DeviceCancelIo(node, &ov));
    DeviceClose(node);
}

TEST_F(DeviceTest, CancelRequestOfTheDriverEndsThePendingWait)
{
    const DeviceHandle node = OpenNode();
    uint32_t buffer[130] = {45, 0};
    DeviceEvent event(true, false);
    DeviceOverlapped ov;
    ov.event = &event;
    uint32_t bytes = 0;
    ASSERT_EQ(DeviceIoControl(node, HLC_DRV_INTERRUPT_WAIT, buffer, 8, buffer, 520, &bytes, &ov), kDevicePending);
    uint32_t cancel[2] = {45, 0};
    EXPECT_EQ(DeviceIoControl(node, HLC_DRV_CANCEL_WAIT, cancel, 8, nullptr, 0, &bytes, nullptr), kDeviceDone);
    EXPECT_FALSE(DeviceGetOverlappedResult(node, &ov, &bytes, true));
    EXPECT_EQ(DeviceLastError(), kDeviceErrorCancelled);
    EXPECT_EQ(BoardSim::instance().pendingRequests(), 0);
    DeviceClose(node);
}

TEST_F(DeviceTest, HeldRequestsCompleteOnRelease)
{
    const DeviceHandle node = OpenNode();
    BoardSim::instance().signalDriverSemaphore(0, 33);
    BoardSim::instance().holdRequests(HLC_DRV_SEMA_CHECK, true);
    uint32_t word = 33, bytes = 0;
    DeviceEvent event(true, false);
    DeviceOverlapped ov;
    ov.event = &event;
    ASSERT_EQ(DeviceIoControl(node, HLC_DRV_SEMA_CHECK, &word, 4, &word, 4, &bytes, &ov), kDevicePending);
    EXPECT_EQ(BoardSim::instance().driverSemaphore(0, 33), 1u);
    EXPECT_EQ(BoardSim::instance().releaseHeld(), 1);
    ASSERT_TRUE(DeviceGetOverlappedResult(node, &ov, &bytes, true));
    EXPECT_EQ(word, 1u);
    EXPECT_EQ(BoardSim::instance().driverSemaphore(0, 33), 0u);
    DeviceClose(node);
}

TEST_F(DeviceTest, ClosingCancelsPendingRequests)
{
    const DeviceHandle node = OpenNode();
    uint32_t buffer[130] = {45, 0};
    DeviceEvent event(true, false);
    DeviceOverlapped ov;
    ov.event = &event;
    uint32_t bytes = 0;
    ASSERT_EQ(DeviceIoControl(node, HLC_DRV_INTERRUPT_WAIT, buffer, 8, buffer, 520, &bytes, &ov), kDevicePending);
    DeviceClose(node);
    EXPECT_EQ(ov.status, static_cast<uint32_t>(kDeviceErrorCancelled));
    EXPECT_EQ(BoardSim::instance().pendingRequests(), 0);
}

TEST_F(DeviceTest, PageLockingCountsAgainstTheWorkingSetMinimum)
{
    uint32_t minimum = 0, maximum = 0;
    DeviceGetWorkingSet(&minimum, &maximum);
    EXPECT_EQ(minimum, 0x32000u);
    EXPECT_EQ(maximum, 0x159000u);
    std::vector<uint8_t> big(0x40000);
    EXPECT_FALSE(DeviceLockPages(big.data(), static_cast<uint32_t>(big.size())));
    EXPECT_TRUE(DeviceSetWorkingSet(minimum + 0x42000, maximum + 0x42000));
    EXPECT_TRUE(DeviceLockPages(big.data(), static_cast<uint32_t>(big.size())));
    ASSERT_EQ(BoardSim::instance().lockedRanges().size(), 1u);
    EXPECT_EQ(BoardSim::instance().lockedRanges()[0].second, 0x40000u);
    EXPECT_FALSE(DeviceUnlockPages(big.data(), 0x1000));
    EXPECT_TRUE(DeviceUnlockPages(big.data(), static_cast<uint32_t>(big.size())));
    EXPECT_TRUE(BoardSim::instance().lockedRanges().empty());
    EXPECT_FALSE(DeviceSetWorkingSet(0x100000, 0x80000));
}

TEST_F(DeviceTest, DriverFileVersionComesFromTheService)
{
    uint32_t ms = 0, ls = 0;
    EXPECT_TRUE(DeviceGetDriverFileVersion(&ms, &ls));
    EXPECT_EQ(ms, 0x00030002u);
    EXPECT_EQ(ls, 0x00000007u);
    EXPECT_NE(DeviceOpenOwnProcess(), 0u);
    EXPECT_EQ(DeviceProcessId() & 0xFFFFFu, DeviceOpenOwnProcess() & 0xFFFFFu);
}

} // namespace
