#include "boardsim.h"
#include "regmap/driver_requests.h"
#include "device.h"
#include "hwaccess.h"

#include <gtest/gtest.h>

#include <vector>

using namespace boardsim;

namespace {


class SimCpuTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (node_ != kInvalidDevice) DeviceClose(node_);
    }
    void Use(const BoardSpec& spec)
    {
        Topology t;
        t.boards = {spec};
        BoardSim::instance().configure(t);
        node_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        regs_ = Map(kOrloRegisterOffset, kOrloRegisterSize);
        port_ = Map(kOrloPortOffset, kOrloPortSize);
        memory_ = Map(kPrimaryMemoryTop - spec.primaryMemory, spec.primaryMemory);
    }
    uint32_t Map(uint32_t offset, uint32_t size)
    {
        uint32_t request[5] = {0, 0x11, 4, size, offset};
        uint32_t bytes = 0;
        EXPECT_EQ(DeviceIoControl(node_, HLC_DRV_MAP, request, 20, request, 20, &bytes, nullptr), kDeviceDone);
        return request[0];
    }
    void Start()
    {
        HwWrite32(regs_, kOrloInterruptClear, kInterruptCpuStart);
        HwWrite32(regs_, kOrloInterruptSet, kInterruptCpuStart);
        HwWrite32(regs_, kOrloInterruptClear, kInterruptCpuStart);
    }
    void Reset()
    {
        HwWrite32(regs_, kOrloMemControl, HwRead32(regs_, kOrloMemControl) | kMemControlCpuReset);
        HwWrite32(regs_, kOrloMemControl, HwRead32(regs_, kOrloMemControl) & ~kMemControlCpuReset);
    }
    std::vector<uint32_t> Mailbox(int reads)
    {
        std::vector<uint32_t> v;
        for (int i = 0; i < reads; ++i) v.push_back(HwRead32(regs_, kOrloMailbox));
        return v;
    }

    DeviceHandle node_ = kInvalidDevice;
    uint32_t regs_ = 0, port_ = 0, memory_ = 0;
};

TEST_F(SimCpuTest, HandshakeFollowsTheStarts)
{
    BoardSpec spec;
    spec.processor = true;
    Use(spec);
    HwWrite32(memory_, spec.primaryMemory - 8, 0x12345678);   // a reset vector
    Reset();
    EXPECT_EQ(BoardSim::instance().cpu(0).resets(), 1u);
    Start();
    EXPECT_EQ(Mailbox(5), (std::vector<uint32_t>{0, 0, 0xCAFEFADEu, 0xCAFEFADEu, 0xDEADBEEFu}));
    EXPECT_EQ(BoardSim::instance().driverSemaphore(0, 33), 0u);
    Start();
    EXPECT_EQ(Mailbox(1), (std::vector<uint32_t>{0xFEEDDEADu}));
    EXPECT_TRUE(BoardSim::instance().cpu(0).running());
    EXPECT_EQ(BoardSim::instance().driverSemaphore(0, 33), 1u);
    EXPECT_EQ(BoardSim::instance().cpu(0).starts(), 2u);
    Reset();
    EXPECT_FALSE(BoardSim::instance().cpu(0).running());
    EXPECT_EQ(Mailbox(1), (std::vector<uint32_t>{0}));
}

TEST_F(SimCpuTest, NoResetVectorNoBoot)
{
    BoardSpec spec;
    spec.processor = true;
    Use(spec);
    Reset();
    Start();
    EXPECT_EQ(Mailbox(10), std::vector<uint32_t>(10, 0));
}

TEST_F(SimCpuTest, StallModes)
{
    BoardSpec spec;
    spec.processor = true;
    spec.cpuBootReads = 0;
    spec.cpuStartup = CpuStartup::BadStartup;
    Use(spec);
    HwWrite32(memory_, spec.primaryMemory - 8, 1);
    Start();
    EXPECT_EQ(Mailbox(6), std::vector<uint32_t>(6, 0xCAFEFADEu));
    spec.cpuStartup = CpuStartup::NoInterrupt;
    Use(spec);
    HwWrite32(memory_, spec.primaryMemory - 8, 1);
    Start();
    Mailbox(3);
    Start();
    EXPECT_EQ(Mailbox(2), std::vector<uint32_t>(2, 0xDEADBEEFu));
    EXPECT_FALSE(BoardSim::instance().cpu(0).running());
}

TEST_F(SimCpuTest, EmulatorClearsBit4)
{
    BoardSpec spec;
    Use(spec);
    EXPECT_EQ(HwRead32(regs_, kOrloControl) & 0x10, 0x10u);
    spec.emulatorActive = true;
    Use(spec);
    EXPECT_EQ(HwRead32(regs_, kOrloControl) & 0x10, 0u);
}

TEST_F(SimCpuTest, FpgaConfiguresAfterItsBytes)
{
    BoardSpec spec;
    spec.fpgaBytes = 3;
    Use(spec);
    EXPECT_EQ(HwRead32(regs_, kOrloControl) & 0x20, 0u);
    HwWrite32(regs_, kOrloControl, 0x40000000u);
    HwWrite32(port_, 0, 0xAB);            // ignored while the program bit is held
    HwWrite32(regs_, kOrloControl, 0);
    HwWrite32(port_, 0, 0xFFFFFF81u);
    HwWrite32(port_, 4, 0x55);             // not the data port
    HwWrite32(port_, 0, 2);
    EXPECT_EQ(HwRead32(regs_, kOrloControl) & 0x20, 0u);
    HwWrite32(port_, 0, 3);
    EXPECT_EQ(HwRead32(regs_, kOrloControl) & 0x20, 0x20u);
    HwWrite32(port_, 0, 4);                // after done: ignored
    EXPECT_EQ(BoardSim::instance().fpga(0).data(), (std::vector<uint8_t>{0x81, 2, 3}));
    EXPECT_EQ(BoardSim::instance().fpga(0).pulses(), 1u);
    // A new pulse clears the done bit and the data.
    HwWrite32(regs_, kOrloControl, 0x40000000u);
    EXPECT_EQ(HwRead32(regs_, kOrloControl) & 0x20, 0u);
    EXPECT_TRUE(BoardSim::instance().fpga(0).data().empty());
}

TEST_F(SimCpuTest, InterruptsNeedAnEnabledSource)
{
    BoardSpec spec;
    Use(spec);
    EXPECT_FALSE(BoardSim::instance().raiseInterrupt(0, 40));
    EXPECT_EQ(BoardSim::instance().droppedInterrupts(0), 1u);
    uint32_t enable[2] = {40, 1};
    uint32_t bytes = 0;
    ASSERT_EQ(DeviceIoControl(node_, HLC_DRV_SOURCE_ENABLE, enable, 8, enable, 8, &bytes, nullptr), kDeviceDone);
    EXPECT_FALSE(BoardSim::instance().raiseInterrupt(0, 54));   // bit 22 is no source bit
    EXPECT_FALSE(BoardSim::instance().raiseInterrupt(0, 96));
    EXPECT_TRUE(BoardSim::instance().raiseInterrupt(0, 41));
    EXPECT_TRUE(BoardSim::instance().raiseSpecial(0, 1, 0x5));
    EXPECT_FALSE(BoardSim::instance().raiseSpecial(0, 0, 0x400000));
    uint32_t buffer[130] = {40, 0};
    ASSERT_EQ(DeviceIoControl(node_, HLC_DRV_INTERRUPT_WAIT, buffer, 8, buffer, 520, &bytes, nullptr), kDeviceDone);
    EXPECT_EQ(bytes, 16u);
    EXPECT_EQ(buffer[1], 2u);
    EXPECT_EQ(buffer[2], (1u << 22) | (1u << 9));
    EXPECT_EQ(buffer[3], 0x80000000u | (1u << 22) | 5u);
}

} // namespace

TEST_F(SimCpuTest, ResetFollowsBit16OfTheMemoryControlWord)
{
    BoardSpec spec;
    spec.processor = true;
    Use(spec);
    HwWrite32(memory_, spec.primaryMemory - 8, 0x12345678);
    // The control word's bit 0 is no reset.
    HwWrite32(regs_, kOrloControl, HwRead32(regs_, kOrloControl) | 1);
    EXPECT_EQ(BoardSim::instance().cpu(0).resets(), 0u);
    // Held in reset: one reset however often the bit is written, and no start.
    HwWrite32(regs_, kOrloMemControl, kMemControlCpuReset);
    HwWrite32(regs_, kOrloMemControl, kMemControlCpuReset);
    EXPECT_EQ(BoardSim::instance().cpu(0).resets(), 1u);
    Start();
    EXPECT_EQ(Mailbox(3), (std::vector<uint32_t>{0, 0, 0}));
    // Released, the processor boots on the start.
    HwWrite32(regs_, kOrloMemControl, 0);
    Start();
    EXPECT_EQ(Mailbox(5), (std::vector<uint32_t>{0, 0, 0xCAFEFADEu, 0xCAFEFADEu, 0xDEADBEEFu}));
}

TEST_F(SimCpuTest, ResetPulseStepsTheProcessorStatesAndASecondPulseHaltsIt)
{
    BoardSpec spec;
    spec.processor = true;
    Use(spec);
    auto state = [&] { return (HwRead32(regs_, kOrloMemControl) >> 8) & 0xF; };
    EXPECT_EQ(state(), 0u);
    HwWrite32(regs_, kOrloMemControl, kMemControlCpuReset);
    HwWrite32(regs_, kOrloMemControl, 0);
    // 4, advancing by one every fourth read, up to 10.
    std::vector<uint32_t> seen;
    for (int i = 0; i < 30; ++i) seen.push_back(state());
    EXPECT_EQ(seen.front(), 4u);
    EXPECT_EQ(seen[3], 5u);
    EXPECT_EQ(seen.back(), 10u);
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i] - seen[i - 1], 1u);
    // A pulse at 10 halts it in 11.
    HwWrite32(regs_, kOrloMemControl, HwRead32(regs_, kOrloMemControl) | kMemControlCpuReset);
    HwWrite32(regs_, kOrloMemControl, HwRead32(regs_, kOrloMemControl) & ~kMemControlCpuReset);
    EXPECT_EQ(state(), 11u);
    EXPECT_EQ(state(), 11u);
}

TEST_F(SimCpuTest, BoardWithoutProcessorKeepsStateZero)
{
    Use(BoardSpec{});
    HwWrite32(regs_, kOrloMemControl, kMemControlCpuReset);
    HwWrite32(regs_, kOrloMemControl, 0);
    EXPECT_EQ((HwRead32(regs_, kOrloMemControl) >> 8) & 0xF, 0u);
}
