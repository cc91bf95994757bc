// The register and request maps against the simulated chips and devices: the driver's
// own decode table agrees with the request map, every service request of the map is
// served, and the registers named in the Orlo and display maps act as their names say.
#include "boardsim.h"
#include "device.h"
#include "hwaccess.h"
#include "regmap/display_regs.h"
#include "regmap/driver_requests.h"
#include "regmap/orlo_regs.h"
#include "regmap/service_requests.h"

#include <gtest/gtest.h>

#include <set>

using namespace boardsim;

namespace {

TEST(RequestMap, DriverDecodeTableMatchesTheMapEntryForEntry)
{
    std::set<uint32_t> codes;
    for (const HlcRequestShape& shape : kDriverRequestShapes) {
        SCOPED_TRACE(shape.code);
        EXPECT_TRUE(codes.insert(shape.code).second) << "code listed twice";
        EXPECT_EQ(shape.code, HlcDriverCode((shape.code - HlcDriverCode(0)) / 4));
        uint32_t in = 0, out = 0;
        ASSERT_TRUE(DriverRequestSizes(shape.code, &in, &out)) << "the driver does not decode it";
        EXPECT_EQ(in, shape.inSize);
        EXPECT_EQ(out, shape.outSize);
    }
    // Nothing the driver decodes is missing from the map.
    uint32_t decoded = 0;
    for (uint32_t i = 0; i < 64; ++i) {
        uint32_t in = 0, out = 0;
        if (!DriverRequestSizes(HlcDriverCode(i), &in, &out)) continue;
        ++decoded;
        EXPECT_EQ(codes.count(HlcDriverCode(i)), 1u) << "function " << i;
    }
    EXPECT_EQ(decoded, codes.size());
    uint32_t in = 7, out = 7;
    EXPECT_FALSE(DriverRequestSizes(HlcDriverCode(2), &in, &out));
    EXPECT_EQ(in, 7u);
}

TEST(RequestMap, WaitBufferAndRecordSizesAgreeWithTheDecodeTable)
{
    uint32_t in = 0, out = 0;
    ASSERT_TRUE(DriverRequestSizes(HLC_DRV_INTERRUPT_WAIT, &in, &out));
    EXPECT_EQ(out, HLC_WAIT_BUFFER_BYTES);
    EXPECT_EQ(HLC_WAIT_BUFFER_BYTES, 520u);
    ASSERT_TRUE(DriverRequestSizes(HLC_DRV_BOARD_LIST, &in, &out));
    EXPECT_EQ(in, HLC_BOARD_LIST_BYTES);
    EXPECT_GE(HLC_BOARD_LIST_BYTES, HLC_MAX_BOARD_RECORDS * HLC_BOARD_RECORD_BYTES);
}

TEST(RequestMap, EveryServiceRequestOfTheMapIsServed)
{
    BoardSim::instance().configure();
    const uint32_t all[] = {QVL_GET_REVISION,        QVL_GET_DRIVER_INFO,     QVL_DMA_BUFFER_ALLOC,
                            QVL_DMA_BUFFER_FREE,     QVL_DMA_BUFFER_GET_PTR,  QVL_DMA_BUFFER_CREATE_ID,
                            QVL_DMA_BUFFER_GET_PHYS, QVL_PCI_BIOS_SUPPORT,    QVL_PCI_CONFIG_READ,
                            QVL_PCI_CONFIG_WRITE,    QVL_PCI_GET_INT_OPTION,  QVL_PCI_FIND_DEVICE,
                            QVL_PCI_CONFIG_ACCESS,   QVL_PCI_BRIDGE_CONFIG_ALL, QVL_GET_PAGES,
                            QVL_GET_DMA_OVERVIEW,    QVL_WAIT_DMA_OVERVIEW,   QVL_GET_GUID,
                            QVL_DMA_ADD_TO_POOL,     QVL_DMA_GET_STAT,        QVL_DMA_BUFFER_CLEANUP};
    const DeviceHandle service = DeviceOpen("\\\\.\\QVLSERVICE0");
    ASSERT_NE(service, kInvalidDevice);
    for (uint32_t i = 0; i < sizeof all / sizeof all[0]; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(all[i], QvlServiceCode(i));
        // A malformed request is refused for its sizes, never as an unknown code.
        uint8_t byte = 0;
        uint32_t bytes = 0;
        if (DeviceIoControl(service, all[i], &byte, 1, &byte, 1, &bytes, nullptr) != kDeviceDone) {
            EXPECT_NE(DeviceLastError(), kDeviceErrorNotSupported);
        }
    }
    uint8_t byte = 0;
    uint32_t bytes = 0;
    EXPECT_EQ(DeviceIoControl(service, QvlServiceCode(21), &byte, 1, &byte, 1, &bytes, nullptr), kDeviceFailed);
    EXPECT_EQ(DeviceLastError(), kDeviceErrorNotSupported);
    DeviceClose(service);
}

// Maps the windows of board 0 through the driver.
class RegisterMapTest : public ::testing::Test {
protected:
    void Use(const Topology& t) { BoardSim::instance().configure(t); }
    void TearDown() override
    {
        if (node_ != kInvalidDevice) DeviceClose(node_);
    }
    uint32_t Map(uint32_t region, uint32_t offset, uint32_t size)
    {
        if (node_ == kInvalidDevice) node_ = DeviceOpen(BoardSim::instance().boardDeviceName(0).c_str());
        uint32_t request[5] = {0, 0x11, region, size, offset};
        uint32_t bytes = 0;
        EXPECT_EQ(DeviceIoControl(node_, HLC_DRV_MAP, request, 20, request, 20, &bytes, nullptr), kDeviceDone);
        return request[0];
    }

    DeviceHandle node_ = kInvalidDevice;
};

TEST_F(RegisterMapTest, OrloRegistersActAsTheMapNamesThem)
{
    Topology t;
    t.boards[0].processor = true;
    Use(t);
    const uint32_t regs = Map(HLC_REGION_PRIMARY, kOrloRegisterOffset, kOrloRegisterSize);
    ASSERT_NE(regs, 0u);

    EXPECT_EQ(HwRead32(regs, kOrloStatus) & kStatusProcessor, kStatusProcessor);
    EXPECT_EQ(HwRead32(regs, kOrloControl) & kControlEmulatorAbsent, kControlEmulatorAbsent);

    EXPECT_EQ(HwRead32(regs, kOrloLock) & 1, 0u);   // free: the read takes it
    EXPECT_EQ(HwRead32(regs, kOrloLock) & 1, 1u);
    HwWrite32(regs, kOrloLock, 0);
    EXPECT_EQ(BoardSim::instance().orlo(0, false).reg(kOrloLock), 0u);

    HwWrite32(regs, kOrloInterruptSet, kInterruptTimer | kInterruptDoorbell);
    HwWrite32(regs, kOrloInterruptClear, kInterruptTimer);
    EXPECT_EQ(HwRead32(regs, kOrloInterruptSet), kInterruptDoorbell);

    HwWrite32(regs, kOrloMemControl, kMemControlCpuReset);
    EXPECT_EQ(BoardSim::instance().cpu(0).resets(), 1u);
    HwWrite32(regs, kOrloMemControl, 0);
    const uint32_t state = (HwRead32(regs, kOrloMemControl) & kMemControlResetStateMask) >> kMemControlResetStateShift;
    EXPECT_EQ(state, kResetStateFirst);

    HwWrite32(regs, kOrloControl, HwRead32(regs, kOrloControl) | kControlFpgaProgram);
    EXPECT_EQ(BoardSim::instance().fpga(0).pulses(), 1u);
    EXPECT_EQ(HwRead32(regs, kOrloControl) & kControlFpgaDone, 0u);
}

TEST_F(RegisterMapTest, DisplayChipRegistersActAsTheMapNamesThem)
{
    Topology t;
    t.boards[0].displayOrlo = true;
    t.boards[0].displayChip = true;
    Use(t);
    const uint32_t chip = Map(HLC_REGION_CHIP, 0, kChipRegisterSize);
    ASSERT_NE(chip, 0u);

    // The retrace bit alternates, set first.
    EXPECT_EQ(HwRead8(chip, PYX_STATUS) & PYX_STATUS_RETRACE, PYX_STATUS_RETRACE);
    EXPECT_EQ(HwRead8(chip, PYX_STATUS) & PYX_STATUS_RETRACE, 0u);

    // Miscellaneous output: written at one port, read back at the other.
    HwWrite8(chip, VGA_MISC_WRITE, 0x0D);
    EXPECT_EQ(HwRead8(chip, VGA_MISC_READ), 0x0Du);
    EXPECT_EQ(BoardSim::instance().chip(0).vga(VgaGroup::Misc, 0), 0x0Du);

    // Sequencer behind its index/data pair.
    HwWrite8(chip, VGA_SEQUENCER, 3);
    HwWrite8(chip, VGA_SEQUENCER + 1, 0x5A);
    EXPECT_EQ(BoardSim::instance().chip(0).vga(VgaGroup::Sequencer, 3), 0x5Au);

    // Palette entry through the DAC's write address and data registers.
    HwWrite8(chip, PYX_DAC_BASE + DAC_PALETTE_WRITE, 9);
    for (uint8_t c : {0x11, 0x22, 0x33}) HwWrite8(chip, PYX_DAC_BASE + DAC_PALETTE_DATA, c);
    EXPECT_EQ(BoardSim::instance().chip(0).palette(9), 0x112233u);

    // A PLL enabled through its P value reports lock in its status sub-address.
    HwWrite8(chip, PYX_DAC_INDEX, DAC_PLL_ADDRESS & 127);
    HwWrite8(chip, PYX_DAC_DATA, 0);
    HwWrite8(chip, PYX_DAC_INDEX, DAC_PIXEL_PLL_DATA & 127);
    for (uint8_t v : {0x3C, 0x3A, 0xF0}) HwWrite8(chip, PYX_DAC_DATA, v);
    EXPECT_EQ(BoardSim::instance().chip(0).pll(DacPll::Pixel, 2), 0xF0u);
    HwWrite8(chip, PYX_DAC_INDEX, DAC_PLL_ADDRESS & 127);
    HwWrite8(chip, PYX_DAC_DATA, 3);
    HwWrite8(chip, PYX_DAC_INDEX, DAC_PIXEL_PLL_DATA & 127);
    EXPECT_EQ(HwRead8(chip, PYX_DAC_DATA) & PLL_STATUS_LOCKED, PLL_STATUS_LOCKED);
}

} // namespace
