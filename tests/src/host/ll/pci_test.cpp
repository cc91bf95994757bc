#include "hlc_wiring.h"
#include "boardsim.h"
#include "driverreq.h"
#include "pci.h"
#include "qvlservice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using boardsim::BoardFunction;
using boardsim::BoardSim;
using boardsim::RequestRecord;
using boardsim::Topology;

namespace {

class PciTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HlcWireLibrary();
        Use(Topology{});
    }
    void Use(const Topology& t)
    {
        BoardSim::instance().configure(t);
        DefaultAccessType = 0;
        GtPciBios = {0, 0, 0};
        RedoInit = 1;
        BoardSim::instance().clearRequests();
    }
    BoardSim& sim() { return BoardSim::instance(); }
    std::vector<RequestRecord> Requests(uint32_t code)
    {
        std::vector<RequestRecord> list;
        for (const auto& r : sim().requests())
            if (r.code == code) list.push_back(r);
        return list;
    }
    static Topology DecodeOffAtDeviceZero()
    {
        Topology t;
        t.host.multiFunction = true;
        t.boards[0].bridgeDecode = false;
        t.boards[0].slotDevice = 0;
        t.boards[0].bridgeFunction = 1;
        return t;
    }
    uint32_t MapPrimaryRegisters()
    {
        const DeviceHandle node = DeviceOpen(sim().boardDeviceName(0).c_str());
        uint32_t address = 0;
        EXPECT_TRUE(HlcDrvMap(node, nullptr, 0x11, HLC_REGION_PRIMARY, 0x4000, 0x4000000, &address));
        DeviceClose(node);
        return address;
    }
};

TEST_F(PciTest, ByteAndWordReadsComeFromTheAlignedDword)
{
    uint8_t b = 0;
    uint16_t w = 0;
    uint32_t d = 0;
    EXPECT_EQ(PciConfigReadByte(0, 0, 0x0D, 0, 0x0E, &b), 0);
    EXPECT_EQ(b, 0x01);
    EXPECT_EQ(PciConfigReadWord(0, 0, 0x0D, 0, 0x02, &w), 0);
    EXPECT_EQ(w, 0x0A7C);
    EXPECT_EQ(PciConfigReadWord(0, 0, 0x0D, 0, 0x0A, &w), 0);
    EXPECT_EQ(w, 0x0604);
    EXPECT_EQ(PciConfigReadByte(0, 0, 0x0D, 0, 0x0B, &b), 0);
    EXPECT_EQ(b, 0x06);
    EXPECT_EQ(PciConfigReadDword(0, 0, 0x0D, 0, 0x03, &d), 0); // any register of the dword
    EXPECT_EQ(d, 0x0A7C1F3Au);
    for (const auto& r : Requests(QVL_PCI_CONFIG_READ)) {
        ASSERT_EQ(r.input.size(), 14u);
        EXPECT_EQ(r.input[8] & 3, 0);  // register aligned
        EXPECT_EQ(r.input[9], 4);      // always a dword
    }
}

TEST_F(PciTest, ByteAndWordWritesMergeIntoTheDword)
{
    EXPECT_EQ(PciConfigWriteDword(0, 1, 0, 0, 0x40, 0x11223344u), 0);
    EXPECT_EQ(PciConfigWriteByte(0, 1, 0, 0, 0x41, 0xAA), 0);
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x40), 0x1122AA44u);
    EXPECT_EQ(PciConfigWriteWord(0, 1, 0, 0, 0x42, 0xBEEF), 0);
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x40), 0xBEEFAA44u);
    const auto writes = Requests(QVL_PCI_CONFIG_WRITE);
    ASSERT_EQ(writes.size(), 3u);
    const RequestRecord& last = writes.back();
    EXPECT_EQ(last.input[8], 0x40);
    uint32_t value = 0;
    std::memcpy(&value, last.input.data() + 10, 4);
    EXPECT_EQ(value, 0xBEEFAA44u);
}

TEST_F(PciTest, FailedAccessesReportOneAndLeaveTheValue)
{
    sim().failRequests(QVL_PCI_CONFIG_READ);
    uint32_t d = 0x5555u;
    uint8_t b = 0x66;
    EXPECT_EQ(PciConfigReadDword(0, 0, 0, 0, 0, &d), 1);
    EXPECT_EQ(PciConfigReadByte(0, 0, 0, 0, 0, &b), 1);
    EXPECT_EQ(d, 0x5555u);
    EXPECT_EQ(b, 0x66);
    EXPECT_EQ(PciConfigWriteByte(0, 1, 0, 0, 0x41, 1), 1); // its read fails first
    EXPECT_TRUE(Requests(QVL_PCI_CONFIG_WRITE).empty());
}

TEST_F(PciTest, AccessTypeIsChosenFromTheBiosLevel)
{
    uint32_t d = 0;
    EXPECT_EQ(PciConfigReadDword(0, 0, 0, 0, 0, &d), 0);
    EXPECT_EQ(DefaultAccessType, PCI_ACCESS_32);
    EXPECT_EQ(Requests(QVL_PCI_CONFIG_READ).back().input[4], PCI_ACCESS_32);

    EXPECT_EQ(PciConfigReadDword(PCI_ACCESS_IO, 0, 0, 0, 0, &d), 0);
    EXPECT_EQ(Requests(QVL_PCI_CONFIG_READ).back().input[4], PCI_ACCESS_IO);
    EXPECT_EQ(DefaultAccessType, PCI_ACCESS_32); // sent as given, default kept

    EXPECT_EQ(PciConfigReadDword(PCI_ACCESS_INT, 0, 0, 0, 0, &d), 0);
    EXPECT_EQ(DefaultAccessType, PCI_ACCESS_INT);
    EXPECT_EQ(Requests(QVL_PCI_CONFIG_READ).back().input[4], PCI_ACCESS_INT);
    const size_t bios = Requests(QVL_PCI_BIOS_SUPPORT).size();
    EXPECT_EQ(InitDefaultAccessType(PCI_ACCESS_INT), PCI_ACCESS_INT); // the same request keeps it
    EXPECT_EQ(Requests(QVL_PCI_BIOS_SUPPORT).size(), bios);

    Topology old;
    old.service.biosLevel = 0x0200;
    Use(old);
    EXPECT_EQ(InitDefaultAccessType(0), PCI_ACCESS_IO);
    EXPECT_EQ(InitDefaultAccessType(PCI_ACCESS_INT), PCI_ACCESS_IO);

    Use(Topology{});
    sim().failRequests(QVL_PCI_BIOS_SUPPORT);
    EXPECT_EQ(InitDefaultAccessType(0), PCI_ACCESS_IO);
    EXPECT_EQ(InitDefaultAccessType(PCI_ACCESS_32), PCI_ACCESS_IO);
    DefaultAccessType = 0;
    EXPECT_EQ(InitDefaultAccessType(PCI_ACCESS_INT), PCI_ACCESS_IO);
}

TEST_F(PciTest, ExportedFamiliesUseTheirAccessTypes)
{
    uint32_t v = 0;
    EXPECT_EQ(PciConfigRead32(0xDEAD, 0, 0x0D, 0, 0x02, 2, &v), 0);
    EXPECT_EQ(v, 0x0A7Cu);
    EXPECT_EQ(Requests(QVL_PCI_CONFIG_READ).back().input[4], PCI_ACCESS_32);
    EXPECT_EQ(PciConfigReadInt(0, 0x0D, 0, 0x0E, 1, &v), 0);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(Requests(QVL_PCI_CONFIG_READ).back().input[4], PCI_ACCESS_INT);
    EXPECT_EQ(PciConfigReadIo(0, 0x0D, 0, 0x00, 4, &v), 0);
    EXPECT_EQ(v, 0x0A7C1F3Au);
    EXPECT_EQ(Requests(QVL_PCI_CONFIG_READ).back().input[4], PCI_ACCESS_IO);
    EXPECT_EQ(PciConfigWriteIo(1, 0, 0, 0x44, 2, 0x1234), 0);
    EXPECT_EQ(PciConfigWriteInt(1, 0, 0, 0x47, 1, 0x56), 0);
    EXPECT_EQ(PciConfigWrite32(0, 1, 0, 0, 0x48, 4, 0xCAFEu), 0);
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x44), 0x56001234u);
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x48), 0xCAFEu);
    EXPECT_EQ(PciConfigReadIo(0, 0x0D, 0, 0x00, 3, &v), 1);

    EXPECT_EQ(CallPciBiosService(0, nullptr), 1);
    EXPECT_EQ(CallPciBiosService32(0, nullptr), 1);
    EXPECT_EQ(GetBios32Service(0, nullptr), 1);
    EXPECT_EQ(PciSetHwInt(0, 0, 1, 11), 1);
    EXPECT_EQ(GetBios32EntryPoint(), 0u);
    uint32_t bios32[3] = {9, 9, 9};
    EXPECT_EQ(CheckPciBios32(bios32), 0);
    EXPECT_EQ(bios32[1], 0x0210u);
    _TPciBios record = {};
    EXPECT_EQ(CheckPciBios(&record), 0);
    EXPECT_EQ(record.mechanism, 1u);
    uint8_t table[256];
    uint16_t mask = 0;
    EXPECT_EQ(PciGetIntOption(0, table, &mask), 0);
    EXPECT_EQ(mask, 0x0E20);
}

TEST_F(PciTest, SearchesFindByIdAndByClassFromAPosition)
{
    Topology t;
    t.boards.resize(2);
    Use(t);
    uint8_t bus = 0, device = 0, function = 0;
    ASSERT_EQ(FindPciDevice(0, 0x3E91, 0x1F3A, 0, &bus, &device, &function), 0);
    EXPECT_EQ(bus, 1);
    EXPECT_EQ(device, 0);
    bus = device = function = 0;
    ASSERT_EQ(FindPciDevice(0, 0x3E91, 0x1F3A, 1, &bus, &device, &function), 0);
    EXPECT_EQ(bus, 2);
    bus = device = 0;
    EXPECT_EQ(FindPciDevice(0, 0x3E91, 0x1F3A, 2, &bus, &device, &function), 1);
    EXPECT_EQ(bus, 0); // left alone
    ASSERT_EQ(FindPciClassCode(0, 0x06, 0x04, 0, &bus, &device, &function), 0);
    EXPECT_EQ(device, 0x0D);
    device = 0x0E;
    ASSERT_EQ(FindPciClassCode(0, 0x06, 0x04, 0, &bus, &device, &function), 0); // continues from there
    EXPECT_EQ(device, 0x0E);
    bus = device = 0;
    ASSERT_EQ(FindPciClassCode(0, 0x06, 0x00, 0, &bus, &device, &function), 0);
    EXPECT_EQ(device, 0);
    bus = 1;
    device = 0;
    ASSERT_EQ(FindPciDevice(0, 0x3E91, 0x1F3A, 0, &bus, &device, &function), 0); // from bus 1
    EXPECT_EQ(bus, 1);
}

TEST_F(PciTest, SixteenDevicesPerBusWithoutTheMechanismBit)
{
    Topology t;
    t.boards[0].slotDevice = 20;
    t.service.biosMechanism = 0;
    Use(t);
    uint8_t bus = 0, device = 0, function = 0;
    EXPECT_EQ(FindPciClassCode(0, 0x06, 0x04, 0, &bus, &device, &function), 1);
    t.service.biosMechanism = 1;
    Use(t);
    EXPECT_EQ(FindPciClassCode(0, 0x06, 0x04, 0, &bus, &device, &function), 0);
    EXPECT_EQ(device, 20);
}

TEST_F(PciTest, HostBridgeErratumIsDetectedAndChangesTheSearch)
{
    EXPECT_FALSE(PciCheckIntelHostBridgeBug(0));
    Topology t;
    t.host.vendor = 0x8086;
    t.host.device = 0x04A3;
    t.host.revision = 5;
    Use(t);
    EXPECT_TRUE(PciCheckIntelHostBridgeBug(0));
    uint8_t bus = 0, device = 0, function = 0;
    EXPECT_EQ(FindPciDevice(0, 0x3E91, 0x1F3A, 0, &bus, &device, &function), 1); // device 0 of bus 1 skipped
    EXPECT_EQ(FindPciClassCode(0, 0x06, 0x04, 0, &bus, &device, &function), 0);
    EXPECT_EQ(device, 0x0D);
    t.host.revision = 16;
    Use(t);
    EXPECT_FALSE(PciCheckIntelHostBridgeBug(0));
}

TEST_F(PciTest, SizingRecordsBaseAddressSizeWordsAndRestores)
{
    Topology t;
    t.boards[0].displayOrlo = true;
    t.boards[0].displayChip = true;
    Use(t);
    const uint32_t saved = sim().configRead(1, 0, 0, 0x10);
    _TPciDevInfo r;
    ASSERT_EQ(PciFillDeviceInfo(0, 1, 0, 0, &r), 1);
    EXPECT_EQ(r.vendorId, 0x1F3A);
    EXPECT_EQ(r.deviceId, 0x3E91);
    EXPECT_EQ(r.classCode[2], 0x04);
    EXPECT_EQ(r.classCode[1], 0x80);
    EXPECT_EQ(r.revision, 2);
    EXPECT_EQ(r.interruptPin, 1);
    EXPECT_EQ(r.sizeWord[0], 0xF8000008u);
    EXPECT_EQ(PciBarSize(r.sizeWord[0]), 0x8000000u);
    EXPECT_EQ(r.sizeWord[1], 0u);
    EXPECT_EQ(r.baseAddress[0], saved);
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x10), saved);

    ASSERT_EQ(PciFillDeviceInfo(0, 0, 7, 0, &r), 1);
    EXPECT_EQ(r.sizeWord[1], 0xFF01u);
    EXPECT_EQ(PciBarSize(r.sizeWord[1]), 0x100u);
    EXPECT_EQ(PciBarSize(r.sizeWord[0]), 0x1000u);

    const uint32_t rom = sim().configRead(0, 0x0D, 1, 0x30);
    ASSERT_EQ(PciFillDeviceInfo(0, 0, 0x0D, 1, &r), 1);
    EXPECT_EQ(r.romSize, 0x10000u);
    EXPECT_EQ(r.romAddress, rom);
    EXPECT_EQ(sim().configRead(0, 0x0D, 1, 0x30), rom);
    EXPECT_EQ(PciBarSize(r.sizeWord[1]), 0x400000u);

    EXPECT_EQ(PciFillDeviceInfo(0, 0, 3, 0, &r), 0); // absent
    ASSERT_EQ(PciFillDeviceInfo(0, 0, 0x0D, 0, &r), 1);
    EXPECT_TRUE(PciIsBridge(r));
    EXPECT_EQ(r.sizeWord[0], 0u); // bridges are not sized
}

TEST_F(PciTest, ScanPciBusListsFunctionZeroOfEveryDevice)
{
    EXPECT_EQ(ScanPciBus(0, nullptr), 4u);
    std::vector<_TPciDevInfo> records(kPciMaxScanRecords);
    ASSERT_EQ(ScanPciBus(0, records.data()), 4u);
    EXPECT_EQ(records[0].deviceId, boardsim::kHostBridgeDeviceId);
    EXPECT_EQ(records[1].deviceId, boardsim::kSystemDeviceId);
    EXPECT_EQ(records[2].deviceId, 0x0A7C);
    EXPECT_EQ(records[3].bus, 1);
    EXPECT_EQ(records[3].deviceId, 0x3E91);
}

TEST_F(PciTest, TheBusScanStoresNoMoreRecordsThanItHasRoomFor)
{
    _TPciDevInfo records[4];
    std::memset(records, 0xAB, sizeof records);
    EXPECT_EQ(PciScanBus(0, records, 2, 0), 4u);
    EXPECT_EQ(records[0].deviceId, 0x0A7C); // devices are walked from the top down
    EXPECT_EQ(records[1].deviceId, 0x3E91);
    const uint8_t* rest = reinterpret_cast<const uint8_t*>(&records[2]);
    for (size_t i = 0; i < 2 * sizeof(_TPciDevInfo); ++i) ASSERT_EQ(rest[i], 0xAB) << i;
    EXPECT_EQ(wNbBusInSys, 1u);
}

TEST_F(PciTest, NoBridgeGivesOneAndKeepsTheSetUpArmed)
{
    Topology t;
    t.boards.clear();
    Use(t);
    EXPECT_EQ(ConfigAllPciDevices(0), PCI_CONFIG_NO_BRIDGE);
    EXPECT_EQ(RedoInit, 1);
}

TEST_F(PciTest, FirmwareConfiguredBoardIsOnlyTunedOnce)
{
    const uint32_t bar = sim().configRead(1, 0, 0, 0x10);
    EXPECT_EQ(ConfigAllPciDevices(0), 0u);
    EXPECT_EQ(sim().configRead(0, 0x0D, 0, 0x44), 0x1E00u);
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x10), bar);
    EXPECT_EQ(RedoInit, 0);
    sim().clearRequests();
    EXPECT_EQ(ConfigAllPciDevices(0), 0u);
    EXPECT_TRUE(sim().requests().empty());
    EXPECT_EQ(ConfigAllPciDevices(0xFFFE), 0u); // re-armed
    EXPECT_FALSE(sim().requests().empty());

    Use(Topology{});
    EXPECT_EQ(ConfigAllPciDevices(1), 0u);
    EXPECT_EQ(sim().configRead(0, 0x0D, 0, 0x44), 0u);
}

TEST_F(PciTest, DecodeOffBridgeIsNumberedSizedAssignedAndOpened)
{
    Use(DecodeOffAtDeviceZero());
    EXPECT_EQ(MapPrimaryRegisters(), 0u);
    EXPECT_EQ(ConfigAllPciDevices(0), 0u);

    const uint32_t buses = sim().configRead(0, 0, 1, 0x18);
    EXPECT_EQ(buses & 0xFFFFFF, 0x010100u); // primary 0, secondary 1, subordinate 1
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x00), 0x3E911F3Au);
    // Below the bus-0 system device at 0xFEBFF000: the 1 MB boundary, then 128 MB aligned.
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x10), 0xF0000008u);
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x04) & 7, 6u);
    EXPECT_EQ(sim().configRead(0, 0, 1, 0x24), 0xF7F0F000u); // prefetchable window
    EXPECT_EQ(sim().configRead(0, 0, 1, 0x20) & 0xFFFF, 0xFFF0u); // no plain memory behind it
    EXPECT_EQ((sim().configRead(0, 0, 1, 0x3C) >> 16) & 4, 4u);
    EXPECT_EQ(sim().configRead(0, 0, 1, 0x04) & 7, 7u);
    EXPECT_EQ(sim().configRead(0, 0, 1, 0x44), 0x1E00u);
    EXPECT_TRUE(sim().memoryReachable(0, BoardFunction::PrimaryOrlo, 0));
    EXPECT_NE(MapPrimaryRegisters(), 0u);
}

TEST_F(PciTest, DecodeOffDisplayBoardGetsMemoryIoAndWindows)
{
    Topology t;
    t.host.slotDevice = 0x1F;
    t.boards[0].slotDevice = 0;
    t.boards[0].bridgeDecode = false;
    t.boards[0].displayOrlo = true;
    t.boards[0].displayChip = true;
    Use(t);
    EXPECT_EQ(ConfigAllPciDevices(0), 0u);
    // Bus-0 memory starts with the chip's frame at 0xFE400000.
    EXPECT_EQ(sim().configRead(1, 1, 0, 0x10), 0xF0000008u);  // display Orlo, first in record order
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x10), 0xE8000008u);  // primary Orlo
    EXPECT_EQ(sim().configRead(1, 2, 0, 0x10), 0xE7FF0000u);  // display chip memory
    EXPECT_EQ(sim().configRead(1, 2, 0, 0x14), 0x0000DC01u);  // its I/O below the system device's 0xEF00
    EXPECT_EQ(sim().configRead(1, 2, 0, 0x04) & 7, 7u);       // display class: I/O enabled too
    EXPECT_EQ(sim().configRead(1, 2, 0, 0x3C) & 0xFF, 0xFFu);
    EXPECT_EQ((sim().configRead(1, 2, 0, 0x0C) >> 8) & 0xFF, 0xF8u);
    EXPECT_EQ(sim().configRead(0, 0, 0, 0x20), 0xE7F0E7F0u);
    EXPECT_EQ(sim().configRead(0, 0, 0, 0x24), 0xF7F0E800u);
    EXPECT_EQ(sim().configRead(0, 0, 0, 0x1C) & 0xFFFF, 0xD0D0u);
    EXPECT_TRUE(sim().memoryReachable(0, BoardFunction::DisplayOrlo, 0));
    EXPECT_TRUE(sim().memoryReachable(0, BoardFunction::Chip, 0));
}

TEST_F(PciTest, UnassignedOrloWithDecodingOnRunsTheSetUpAgain)
{
    Topology t = DecodeOffAtDeviceZero();
    t.boards[0].bridgeDecode = true;
    Use(t);
    sim().configWrite(1, 0, 0, 0x10, 0);
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x10), 8u);
    EXPECT_EQ(ConfigAllPciDevices(0), 0u);
    EXPECT_GE(sim().configRead(1, 0, 0, 0x10), 16u);
    EXPECT_TRUE(sim().memoryReachable(0, BoardFunction::PrimaryOrlo, 0));
}

TEST_F(PciTest, BridgeResetProgramsBusesAndClosesWindows)
{
    ResetPPBridge(0, 0, 5, 0x0D, 0, 0);
    EXPECT_EQ(sim().configRead(0, 0x0D, 0, 0x18), 0x00FF0500u);
    EXPECT_EQ(sim().configRead(0, 0x0D, 0, 0x1C) & 0xFFFF, 0x00F0u);
    EXPECT_EQ(sim().configRead(0, 0x0D, 0, 0x20), 0x0000FFF0u);
    EXPECT_EQ(sim().configRead(0, 0x0D, 0, 0x24), 0x0000FFF0u);
    EXPECT_EQ(sim().configRead(0, 0x0D, 0, 0x04) & 0xFFFF, 7u);
    EXPECT_EQ(sim().configRead(0, 0x0D, 0, 0x0C) & 0xFFFF, 0u);

    Use(Topology{});
    const uint32_t window = sim().configRead(0, 0x0D, 0, 0x24);
    ResetPPBridge(0, 0, 3, 0x0D, 0, 3); // windows kept
    EXPECT_EQ(sim().configRead(0, 0x0D, 0, 0x24), window);
    EXPECT_EQ((sim().configRead(0, 0x0D, 0, 0x18) >> 8) & 0xFFFF, 0xFF03u);
}

TEST_F(PciTest, DisableAllBridgesClearsTheirBusNumbers)
{
    Topology t;
    t.boards.resize(2);
    Use(t);
    DisableAllPPBridge(0);
    EXPECT_EQ(sim().configRead(0, 0x0D, 0, 0x18) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(sim().configRead(0, 0x0E, 0, 0x18) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x00), 0xFFFFFFFFu);
}

TEST_F(PciTest, MapStartIsTheLowestAddressInUseOnBusZero)
{
    _TPciDevInfo r[3] = {};
    r[0].bus = 0;
    r[0].baseAddress[0] = 0xFEBFF000u;
    r[0].sizeWord[0] = 0xFFFFF000u;
    r[0].baseAddress[1] = 0xEF01u;
    r[0].sizeWord[1] = 0xFF01u;
    r[1].bus = 1;
    r[1].baseAddress[0] = 0xE0000008u;
    r[1].sizeWord[0] = 0xF8000008u;
    r[2].bus = 0;
    r[2].classCode[2] = 0x06;
    r[2].classCode[1] = 0x04;
    r[2].baseAddress[0] = 0x10000000u;
    r[2].sizeWord[0] = 0xFFF00000u;
    uint32_t memory = 0, io = 0;
    GetMapStartAddr(r, 3, 0, &memory, &io);
    EXPECT_EQ(memory, 0xFEBFF000u);
    EXPECT_EQ(io, 0xEF00u);
    GetMapStartAddr(r, 3, 3, &memory, &io);
    EXPECT_EQ(memory, 0xE0000000u);
    GetMapStartAddr(r, 0, 0, &memory, &io);
    EXPECT_EQ(memory, 0xFEC00000u);
    EXPECT_EQ(io, 0x10000u);
}

TEST_F(PciTest, AssignmentThatRunsOutOfAddressesReportsIt)
{
    Use(DecodeOffAtDeviceZero());
    DisableAllPPBridge(0);
    std::vector<_TPciDevInfo> records(8);
    const uint32_t count = PciScanBus(0, records.data(), 8, 0);
    ASSERT_EQ(count, 4u); // host bridge, system device, board bridge, Orlo
    EXPECT_EQ(MapAllPciDevices(0, records.data(), count, 0x100000, 0x1000, 0), 1);
    EXPECT_EQ(MapAllPciDevices(0, nullptr, 0, 0, 0, 0), 0);
}

} // namespace
