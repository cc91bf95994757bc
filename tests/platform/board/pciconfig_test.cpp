#include "boardsim.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace boardsim;

namespace {

class PciConfigTest : public ::testing::Test {
protected:
    void SetUp() override { BoardSim::instance().configure(); }
    BoardSim& sim() { return BoardSim::instance(); }
};

TEST_F(PciConfigTest, AbsentFunctionsReadAllOnes)
{
    EXPECT_EQ(sim().configRead(0, 3, 0, 0x00), 0xFFFFFFFFu);
    EXPECT_EQ(sim().configRead(0, 0, 5, 0x08), 0xFFFFFFFFu);
    EXPECT_EQ(sim().configRead(9, 0, 0, 0x00), 0xFFFFFFFFu);
    EXPECT_EQ(sim().configRead(0, 40, 0, 0x00), 0xFFFFFFFFu);
}

TEST_F(PciConfigTest, HostBridgeAndBoardBridgeIdentifyThemselves)
{
    EXPECT_EQ(sim().configRead(0, 0, 0, 0x00), (uint32_t{kHostBridgeDeviceId} << 16) | kHostVendor);
    EXPECT_EQ(sim().configRead(0, 0, 0, 0x08) >> 8, 0x060000u);
    const uint32_t bridge = sim().configRead(0, 0x0D, 0, 0x00);
    EXPECT_EQ(bridge, 0x0A7C1F3Au);
    EXPECT_EQ(sim().configRead(0, 0x0D, 0, 0x08) >> 8, 0x060400u);
    EXPECT_EQ((sim().configRead(0, 0x0D, 0, 0x0C) >> 16) & 0x7F, 1u); // type-1 header
}

TEST_F(PciConfigTest, FirmwareNumberedTheDecodingBridgeAndAssignedTheOrlo)
{
    EXPECT_EQ((sim().configRead(0, 0x0D, 0, 0x18) >> 8) & 0xFFFF, 0x0101u); // secondary 1, subordinate 1
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x00), 0x3E911F3Au);
    const uint32_t bar = sim().configRead(1, 0, 0, 0x10);
    EXPECT_EQ(bar & 0xF, 8u);            // prefetchable memory
    EXPECT_GE(bar & ~0xFu, 16u);
    EXPECT_EQ((bar & ~0xFu) % kOrloBarSize, 0u);
    EXPECT_TRUE(sim().memoryReachable(0, BoardFunction::PrimaryOrlo, 0));
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x04) & 7, 7u);
}

TEST_F(PciConfigTest, BaseAddressRegistersAnswerTheirSizes)
{
    const uint32_t saved = sim().configRead(1, 0, 0, 0x10);
    sim().configWrite(1, 0, 0, 0x10, 0xFFFFFFFFu);
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x10), 0xF8000008u);
    sim().configWrite(1, 0, 0, 0x10, saved);
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x10), saved);
    // Unimplemented registers stay 0.
    sim().configWrite(1, 0, 0, 0x14, 0xFFFFFFFFu);
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x14), 0u);
    // 16-bit I/O register of 256 bytes on the bus-0 system device.
    sim().configWrite(0, 7, 0, 0x14, 0xFFFFFFFFu);
    EXPECT_EQ(sim().configRead(0, 7, 0, 0x14), 0x0000FF01u);
    // Identification is read-only.
    sim().configWrite(1, 0, 0, 0x00, 0);
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x00), 0x3E911F3Au);
}

TEST_F(PciConfigTest, ExpansionRomIsSizedWithAllOnesButTheEnableBit)
{
    Topology t;
    t.boards[0].displayOrlo = true;
    t.boards[0].displayChip = true;
    sim().configure(t);
    uint8_t bus = 9, device = 0, function = 0;
    ASSERT_TRUE(sim().functionLocation(0, BoardFunction::ChipFunction1, &bus, &device, &function));
    EXPECT_EQ(bus, 0);
    EXPECT_EQ(device, 0x0D);
    EXPECT_EQ(function, 1);
    sim().configWrite(0, 0x0D, 1, 0x30, 0xFFFFFFFEu);
    EXPECT_EQ(sim().configRead(0, 0x0D, 1, 0x30), 0xFFFF0000u);
    EXPECT_EQ(sim().configRead(0, 0x0D, 0, 0x0C) >> 16 & 0x80, 0x80u); // multi-function bridge device
    EXPECT_EQ(sim().configRead(1, 1, 0, 0x00), 0x3E921F3Au);              // display Orlo
    EXPECT_EQ(sim().configRead(1, 2, 0, 0x08) >> 8, 0x030000u);           // display chip
}

TEST_F(PciConfigTest, UnconfiguredBridgeHidesItsBusUntilNumbered)
{
    Topology t;
    t.boards[0].bridgeDecode = false;
    sim().configure(t);
    EXPECT_EQ(sim().configRead(0, 0x0D, 0, 0x18), 0u);
    EXPECT_EQ(sim().configRead(1, 0, 0, 0x00), 0xFFFFFFFFu);
    EXPECT_FALSE(sim().functionLocation(0, BoardFunction::PrimaryOrlo, nullptr, nullptr, nullptr));
    sim().configWrite(0, 0x0D, 0, 0x18, 0x00050500u); // secondary and subordinate 5
    EXPECT_EQ(sim().configRead(5, 0, 0, 0x00), 0x3E911F3Au);
    EXPECT_EQ(sim().configRead(5, 0, 0, 0x10), 8u); // not assigned
    EXPECT_FALSE(sim().memoryReachable(0, BoardFunction::PrimaryOrlo, 0));
    // Assigned, decoding, but the bridge forwards nothing yet.
    sim().configWrite(5, 0, 0, 0x10, 0xE0000000u);
    sim().configWrite(5, 0, 0, 0x04, 7);
    EXPECT_FALSE(sim().memoryReachable(0, BoardFunction::PrimaryOrlo, 0));
    sim().configWrite(0, 0x0D, 0, 0x24, 0xE7F0E000u); // prefetchable window 0xE0000000-0xE7FFFFFF
    sim().configWrite(0, 0x0D, 0, 0x04, 6);
    EXPECT_TRUE(sim().memoryReachable(0, BoardFunction::PrimaryOrlo, 0));
}

TEST_F(PciConfigTest, TwoBoardsGetTheirOwnBusesAndRecordsSuffixes)
{
    Topology t;
    t.boards.resize(2);
    sim().configure(t);
    EXPECT_EQ((sim().configRead(0, 0x0E, 0, 0x18) >> 8) & 0xFF, 2u);
    EXPECT_EQ(sim().configRead(2, 0, 0, 0x00), 0x3E911F3Au);
    EXPECT_EQ(sim().boardSuffix(0), 0xD04u);
    EXPECT_EQ(sim().boardSuffix(1), 0xE04u);
    EXPECT_NE(sim().functionConfig(0, BoardFunction::PrimaryOrlo, 0x10), sim().functionConfig(1, BoardFunction::PrimaryOrlo, 0x10));
}

TEST_F(PciConfigTest, ImpossibleTopologiesAreRefused)
{
    Topology t;
    t.boards[0].displayChip = true; // without its display Orlo
    EXPECT_THROW(sim().configure(t), std::invalid_argument);
    Topology u;
    u.boards.resize(2);
    u.boards[1].slotDevice = 0x0D; // same slot as board 0
    EXPECT_THROW(sim().configure(u), std::invalid_argument);
    Topology v;
    v.boards[0].slotDevice = 5;
    v.boards[0].bridgeFunction = 1; // no function 0 at that device
    EXPECT_THROW(sim().configure(v), std::invalid_argument);
    sim().configure();
}

} // namespace
