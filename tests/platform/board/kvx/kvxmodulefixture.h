// A board with the second-family grab module on the virtual clock, its Orlo registers, port
// window and board memory mapped (and, when a fixture asks for it, a display Orlo with its
// registers and memory): the common ground of the module's simulator tests.
#pragma once

#include "boardsim.h"
#include "device.h"
#include "hwaccess.h"
#include "regmap/driver_requests.h"
#include "regmap/kvx_regs.h"
#include "regmap/orlo_regs.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace kvxfixture {

constexpr uint32_t kMemoryFirst = kPrimaryMemoryTop - 0x400000;   // PCI address of memory byte 0
constexpr uint32_t kDisplayFirst = kDisplayMemoryTop - 0x200000;  // the display Orlo's memory byte 0
constexpr uint64_t kFrameNanos = 3000000;

class KvxModuleBoardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        boardsim::Topology t;
        t.boards[0].moduleType = 4;
        t.boards[0].fpgaConfigured = true;
        t.boards[0].displayOrlo = displayOrlo_;
        t.clock = boardsim::ClockMode::Virtual;
        boardsim::BoardSim::instance().configure(t);
        node_ = DeviceOpen(boardsim::BoardSim::instance().boardDeviceName(0).c_str());
        ASSERT_NE(node_, kInvalidDevice);
        regs_ = Map(kOrloRegisterOffset, kOrloRegisterSize);
        port_ = Map(kOrloPortOffset, kOrloPortSize);
        memory_ = Map(kMemoryFirst, 0x400000);
        if (displayOrlo_) {
            displayRegs_ = Map(kOrloRegisterOffset, kOrloRegisterSize, HLC_REGION_DISPLAY);
            displayMemory_ = Map(kDisplayFirst, 0x200000, HLC_REGION_DISPLAY);
        }
        HwWrite32(regs_, kOrloStatus, HwRead32(regs_, kOrloStatus) | kStatusPortOption);
        Kvx().setFrameNanos(kFrameNanos);
    }
    void TearDown() override
    {
        if (node_ != kInvalidDevice) DeviceClose(node_);
        boardsim::BoardSim::instance().configure();
    }
    uint32_t Map(uint32_t offset, uint32_t size, uint32_t region = HLC_REGION_PRIMARY)
    {
        uint32_t request[5] = {0, 0x11, region, size, offset};
        uint32_t bytes = 0;
        EXPECT_EQ(DeviceIoControl(node_, HLC_DRV_MAP, request, 20, request, 20, &bytes, nullptr), kDeviceDone);
        return request[0];
    }
    // Module register r: its low byte at 2r of the port window, its high byte 8 above.
    void Set(uint32_t r, uint16_t v)
    {
        HwWrite32(port_, 2 * r, v & 0xFF);
        HwWrite32(port_, 2 * r + 8, v >> 8);
    }
    // Channel 0's block plan as the library leaves it in the buffer controller.
    void PlanBlocks(uint32_t lineBytes, uint32_t blockLines, uint32_t blocks)
    {
        Set(kvxregs::BTC_GWRPT(0), static_cast<uint16_t>(lineBytes / 4 - 2));
        Set(kvxregs::BTC_GLINE(0), static_cast<uint16_t>(blockLines - 1));
        Set(kvxregs::BTC_DFULL(0), static_cast<uint16_t>(blocks - 1));
    }
    uint16_t Get(uint32_t r)
    {
        return static_cast<uint16_t>((HwRead32(port_, 2 * r) & 0xFF) | ((HwRead32(port_, 2 * r + 8) & 0xFF) << 8));
    }
    // Moves the clock on in small steps until the condition holds or the time is up.
    template <class F>
    bool RunUntil(F done, double seconds = 0.1)
    {
        for (int i = 0; i < 1000 && !done(); ++i) boardsim::BoardSim::instance().advance(seconds / 1000);
        return done();
    }
    // Runs what falls due within a microsecond: a command, never a whole block.
    static void Settle() { boardsim::BoardSim::instance().advance(1e-6); }
    static boardsim::KvxView Kvx() { return boardsim::BoardSim::instance().kvx(0); }

    bool displayOrlo_ = false;   // set by a derived fixture's constructor: the board has one
    DeviceHandle node_ = kInvalidDevice;
    uint32_t regs_ = 0, port_ = 0, memory_ = 0;
    uint32_t displayRegs_ = 0, displayMemory_ = 0;
};

}  // namespace kvxfixture
