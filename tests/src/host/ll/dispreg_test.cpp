#include "dispreg.h"
#include "disptest.h"

#include <gtest/gtest.h>

using boardsim::DacPll;
using boardsim::HwAccess;
using boardsim::VgaGroup;
using disptest::DisplayTest;
using disptest::kNode;

namespace {

struct Fmnp {
    uint32_t kHz, m, n, p, reached;
};

TEST(DacPllValues, GoldenFrequencies)
{
    const Fmnp cases[] = {
        {40000, 58, 60, 2, 40090},    // VCO target 160000
        {75000, 48, 52, 1, 74894},
        {150000, 48, 52, 0, 149788},
        {112000, 62, 62, 0, 114544},  // doubled past 220000: VCO target 114550, P back to 0
        {25175, 35, 48, 3, 25267},
        {14320, 62, 62, 3, 14318},
    };
    for (const Fmnp& c : cases) {
        uint32_t m = 0, n = 0, p = 0;
        EXPECT_EQ(HlcDacCalculFMNP(c.kHz, &m, &n, &p), c.reached) << c.kHz;
        EXPECT_EQ(m, c.m) << c.kHz;
        EXPECT_EQ(n, c.n) << c.kHz;
        EXPECT_EQ(p, c.p) << c.kHz;
    }
}

TEST(DacPllValues, LowRequestsTakeMorePostDivisionAndZeroDoesNotHang)
{
    // 10000 kHz doubles four times to 160000 (P = 4).  For N = 60:
    // M = 65 - (5 x 160000 + 57272) / 114544 = 65 - 7 = 58, reached 7 x 114544 / 5 = 160361,
    // error 361; N = 55 and N = 50 tie at 361 and the first wins.  Result 160361 / 16 = 10022.
    uint32_t m = 0, n = 0, p = 0;
    EXPECT_EQ(HlcDacCalculFMNP(10000, &m, &n, &p), 10022u);
    EXPECT_EQ(m, 58u);
    EXPECT_EQ(n, 60u);
    EXPECT_EQ(p, 4u);
    // 1 kHz: seventeen doublings to 131072.
    EXPECT_EQ(HlcDacCalculFMNP(1, &m, &n, &p), 0u);
    EXPECT_EQ(p, 17u);
    // 14319 kHz still fits three doublings; 0 is taken as 14320.
    for (uint32_t kHz : {0u, 14319u}) {
        p = 9;
        EXPECT_EQ(HlcDacCalculFMNP(kHz, &m, &n, &p), 14318u) << kHz;
        EXPECT_EQ(m, 62u);
        EXPECT_EQ(p, 3u) << kHz;
    }
    // M = 63 is never chosen.
    for (uint32_t kHz = 14320; kHz < 230000; kHz += 997) {
        uint32_t m = 0, n = 0, p = 0;
        HlcDacCalculFMNP(kHz, &m, &n, &p);
        EXPECT_NE(m, 63u) << kHz;
        EXPECT_LE(p, 3u);
        EXPECT_GE(n, 46u);
        EXPECT_LE(n, 63u);
    }
}

// ---------------------------------------------------------------- chip access

TEST_F(DisplayTest, DirectAccessUsesTheWindowAndKeepsTheShadow)
{
    sim().setTracing(true);
    PyxWriteRegisterByByte(kNode, 0x1E90, 0x5A);
    EXPECT_EQ(shadow_[0x290], 0x5A);
    // The hardware answers something else; the read is still made, then answered from the shadow.
    sim().setReadFilter([](const HwAccess& a) { return a.offset == 0x1E90 ? 0x11u : a.value; });
    EXPECT_EQ(PyxReadRegisterByByte(kNode, 0x1E90), 0x5Au);
    sim().setReadFilter(nullptr);
    const auto trace = ChipTrace();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0], W8(0x1E90, 0x5A));
    EXPECT_EQ(trace[1], R8(0x1E90, 0x11));

    // Outside the answered ranges the hardware's value counts, though writes still mirror.
    PyxWriteRegisterByLong(kNode, 0x1E00, 0x12345678);
    EXPECT_EQ(shadow_[0x200], 0x78);
    EXPECT_EQ(shadow_[0x203], 0x12);
    sim().setReadFilter([](const HwAccess& a) { return a.offset == 0x1E00 ? 0xCAFEu : a.value; });
    EXPECT_EQ(PyxReadRegisterByLong(kNode, 0x1E00), 0xCAFEu);
    sim().setReadFilter(nullptr);

    PyxWriteRegisterByShort(kNode, 0x1C11, 0xBEEF);   // a short lands at offset & ~1
    EXPECT_EQ(shadow_[0x10], 0xEF);
    EXPECT_EQ(shadow_[0x11], 0xBE);
    EXPECT_EQ(PyxReadRegisterByShort(kNode, 0x1C10), 0xBEEFu);
    EXPECT_EQ(sim().chip(0).reg(0x1C10) & 0xFFFF, 0xBEEFu);

    PyxWriteRegisterByLong(kNode, 0x0100, 0xA1B2C3D4);   // below the shadow: nothing mirrored
    EXPECT_EQ(PyxReadRegisterByLong(kNode, 0x0100), 0xA1B2C3D4u);
    EXPECT_EQ(sim().strayAccesses(), 0u);
}

TEST_F(DisplayTest, WithoutTheWindowEachAccessIsOneDriverRequest)
{
    disptest::g_link.accessMode = 0;
    sim().clearRequests();
    sim().setTracing(true);
    PyxWriteRegisterByByte(kNode, VGA_SEQUENCER, 0x21);
    PyxWriteRegisterByShort(kNode, 0x0200, 0x1234);
    PyxWriteRegisterByLong(kNode, 0x0300, 0xDEADBEEF);
    EXPECT_EQ(PyxReadRegisterByByte(kNode, VGA_SEQUENCER), 0x21u);
    EXPECT_EQ(PyxReadRegisterByShort(kNode, 0x0200), 0x1234u);
    EXPECT_EQ(PyxReadRegisterByLong(kNode, 0x0300), 0xDEADBEEFu);
    const auto requests = sim().requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[0].code, HLC_DRV_CHIP_WRITE8);
    EXPECT_EQ(requests[0].input, (std::vector<uint8_t>{0xC4, 0x1F, 0, 0, 0x21}));
    EXPECT_EQ(requests[1].code, HLC_DRV_CHIP_WRITE16);
    EXPECT_EQ(requests[1].input, (std::vector<uint8_t>{0x00, 0x01, 0, 0, 0x34, 0x12}));   // offset / 2
    EXPECT_EQ(requests[2].code, HLC_DRV_CHIP_WRITE32);
    EXPECT_EQ(requests[2].input[0], 0x300 / 4);
    EXPECT_EQ(requests[3].code, HLC_DRV_CHIP_READ8);
    EXPECT_EQ(requests[4].code, HLC_DRV_CHIP_READ16);
    EXPECT_EQ(requests[5].code, HLC_DRV_CHIP_READ32);
    for (const auto& a : ChipTrace()) EXPECT_TRUE(a.viaDriver);
    EXPECT_EQ(shadow_[0x3C4], 0x21);

    // A refused read answers 0.
    sim().failRequests(HLC_DRV_CHIP_READ32);
    EXPECT_EQ(PyxReadRegisterByLong(kNode, 0x0300), 0u);
}

TEST_F(DisplayTest, UnknownNodeReadsZeroAndWritesNothing)
{
    sim().setTracing(true);
    PyxWriteRegisterByByte(0x22, 0x1E90, 1);
    DacWriteRegisterByLongIndex(0x22, DAC_PALETTE_DATA, 3, 0xFFFFFF);
    EXPECT_EQ(PyxReadRegisterByLong(0x22, 0x1E90), 0u);
    EXPECT_EQ(DacReadRegisterByLongIndex(0x22, DAC_PALETTE_DATA, 3), 0u);
    EXPECT_TRUE(sim().trace().empty());
    EXPECT_EQ(shadow_[0x290], 0);
}

// ---------------------------------------------------------------- DAC

TEST_F(DisplayTest, PaletteEntryWrittenAsThreeBytesAndReadBack)
{
    sim().setTracing(true);
    DacWriteRegisterByLongIndex(kNode, DAC_PALETTE_DATA, 0x42, 0x00FF8040);
    const std::vector<HwAccess> expected = {W8(PYX_DAC_INDEX, 0x42), W8(PYX_DAC_BASE + 1, 0xFF), W8(PYX_DAC_BASE + 1, 0x80), W8(PYX_DAC_BASE + 1, 0x40)};
    EXPECT_EQ(ChipTrace(), expected);
    EXPECT_EQ(sim().chip(0).palette(0x42), 0xFF8040u);
    sim().clearTrace();
    EXPECT_EQ(DacReadRegisterByLongIndex(kNode, DAC_PALETTE_DATA, 0x42), 0x00FF8040u);
    const auto trace = ChipTrace();
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(trace[0], W8(PYX_DAC_BASE + 3, 0x42));
    EXPECT_EQ(trace[1], R8(PYX_DAC_BASE + 1, 0xFF));
    EXPECT_EQ(trace[3], R8(PYX_DAC_BASE + 1, 0x40));
    EXPECT_EQ(DacReadRegisterByByte(kNode, DAC_PALETTE_DATA), 0u);   // entry 0, low byte
}

TEST_F(DisplayTest, IndexedCursorRamAndCursorColourRegisters)
{
    DacWriteRegisterByByte(kNode, 0x9E, 0x33);
    EXPECT_EQ(sim().chip(0).dac(0x1E), 0x33);
    EXPECT_EQ(DacReadRegisterByByte(kNode, 0x9E), 0x33u);

    // Cursor RAM address 0x2A5: bits 8-9 into indexed register 6 bits 2-3, the rest kept.
    sim().chip(0).setDac(6, 0xF3);
    DacWriteRegisterByLongIndex(kNode, DAC_CURSOR_RAM, 0x2A5, 0x7E);
    EXPECT_EQ(sim().chip(0).dac(6), 0xFBu);
    EXPECT_EQ(sim().chip(0).cursorRam(0x2A5), 0x7E);
    DacWriteRegisterByLongIndex(kNode, DAC_CURSOR_RAM, 0x0A5, 0x11);
    EXPECT_EQ(sim().chip(0).dac(6), 0xF3u);
    EXPECT_EQ(DacReadRegisterByLongIndex(kNode, DAC_CURSOR_RAM, 0x2A5), 0x7Eu);
    EXPECT_EQ(DacReadRegisterByLongIndex(kNode, DAC_CURSOR_RAM, 0x0A5), 0x11u);

    DacWriteRegisterByLong(kNode, 65, 0x102030);
    EXPECT_EQ(sim().chip(0).cursorColour(1), 0x102030u);
    EXPECT_EQ(DacReadRegisterByLong(kNode, 65), 0x102030u);

    DacWriteRegisterByByte(kNode, DAC_PIXEL_MASK, 0x1FF);   // one byte only
    EXPECT_EQ(DacReadRegisterByByte(kNode, DAC_PIXEL_MASK), 0xFFu);

    sim().setTracing(true);
    DacReadRegisterByByte(kNode, 0xFF);   // register 255 is asked as index 0xFF
    EXPECT_EQ(ChipTrace().front(), W8(PYX_DAC_INDEX, 0xFF));
}

// ---------------------------------------------------------------- VGA

TEST_F(DisplayTest, VgaIndexedGroupsRoundTrip)
{
    VgaWriteRegisterByByte(kNode, VGA_MISC_READ, 0x01);   // colour addressing
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Misc, 0), 0x01);
    VgaWriteRegisterByByteIndex(kNode, VGA_SEQUENCER, 1, 0x21);
    VgaWriteRegisterByByteIndex(kNode, VGA_GRAPHICS, 5, 0x40);
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC_EXT, 3, 0x81);
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC, 0x13, 0x50);
    VgaWriteRegisterByByteIndex(kNode, VGA_ATTRIBUTE, 0x10, 0x41);
    VgaWriteRegisterByByte(kNode, VGA_FEATURE_READ, 0x07);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Sequencer, 1), 0x21);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Graphics, 5), 0x40);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::CrtcExt, 3), 0x81);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Crtc, 0x13), 0x50);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Attribute, 0x10), 0x41);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Feature, 0), 0x07);
    EXPECT_EQ(VgaReadRegisterByByteIndex(kNode, VGA_SEQUENCER, 1), 0x21u);
    EXPECT_EQ(VgaReadRegisterByByteIndex(kNode, VGA_GRAPHICS, 5), 0x40u);
    EXPECT_EQ(VgaReadRegisterByByteIndex(kNode, VGA_CRTC_EXT, 3), 0x81u);
    EXPECT_EQ(VgaReadRegisterByByteIndex(kNode, VGA_CRTC, 0x13), 0x50u);
    EXPECT_EQ(VgaReadRegisterByByteIndex(kNode, VGA_ATTRIBUTE, 0x10), 0x41u);
    EXPECT_EQ(VgaReadRegisterByByte(kNode, VGA_FEATURE_READ), 0x07u);
    EXPECT_EQ(VgaReadRegisterByByte(kNode, VGA_MISC_READ), 0x01u);

    // Monochrome addressing: the CRTC pair and input status 1 move to 0x1FB4 / 0x1FBA.
    VgaWriteRegisterByByte(kNode, VGA_MISC_READ, 0x00);
    sim().setTracing(true);
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC, 0x14, 0x0F);
    VgaReadRegisterByByte(kNode, VGA_STATUS1);
    const auto trace = ChipTrace();
    ASSERT_EQ(trace.size(), 5u);
    EXPECT_EQ(trace[1], W8(VGA_CRTC_MONO, 0x14));
    EXPECT_EQ(trace[2], W8(VGA_CRTC_MONO + 1, 0x0F));
    EXPECT_EQ(trace[4].offset, VGA_STATUS1_MONO);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Crtc, 0x14), 0x0F);
}

TEST_F(DisplayTest, AttributeAccessFollowsTheFlipFlopSequence)
{
    sim().setReadFilter([](const HwAccess& a) { return a.offset == VGA_STATUS1 ? 0x09u : a.value; });
    sim().setTracing(true);
    VgaWriteRegisterByByteIndex(kNode, VGA_ATTRIBUTE, 0x02, 0x3C);
    const std::vector<HwAccess> expected = {R8(VGA_STATUS1, 0x09), W8(VGA_ATTRIBUTE, 0x02), W8(VGA_ATTRIBUTE, 0x3C), R8(VGA_STATUS1, 0x09),
                                            W8(VGA_ATTRIBUTE, 0x29)};
    EXPECT_EQ(ChipTrace(), expected);
    sim().setReadFilter(nullptr);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Attribute, 2), 0x3C);
    EXPECT_EQ(VgaReadRegisterByByteIndex(kNode, VGA_ATTRIBUTE, 2), 0x3Cu);
}

TEST_F(DisplayTest, CrtcWriteBelowIndex8LiftsTheProtectionFirst)
{
    VgaWriteRegisterByByte(kNode, VGA_MISC_READ, 0x01);
    ASSERT_EQ(sim().chip(0).vga(VgaGroup::Crtc, 0x11), 0x80);   // protected since reset
    sim().chip(0).setVga(VgaGroup::Crtc, 0x11, 0x8E);
    sim().setTracing(true);
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC, 3, 0x55);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Crtc, 3), 0x55);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Crtc, 0x11), 0x0E);
    const auto trace = ChipTrace();
    ASSERT_EQ(trace.size(), 6u);   // misc read, 0x11 index, its read, its write, index, value
    EXPECT_EQ(trace[1], W8(VGA_CRTC, 0x11));
    EXPECT_EQ(trace[2], R8(VGA_CRTC + 1, 0x8E));
    EXPECT_EQ(trace[3], W8(VGA_CRTC + 1, 0x0E));
    EXPECT_EQ(trace[4], W8(VGA_CRTC, 0x03));
    EXPECT_EQ(trace[5], W8(VGA_CRTC + 1, 0x55));
    // Index 8 and above: no protection step.
    sim().chip(0).setVga(VgaGroup::Crtc, 0x11, 0x80);
    sim().clearTrace();
    VgaWriteRegisterByByteIndex(kNode, VGA_CRTC, 8, 0x44);
    EXPECT_EQ(ChipTrace().size(), 3u);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Crtc, 0x11), 0x80);
}

// ---------------------------------------------------------------- clocks

TEST_F(DisplayTest, PixelClockProgramsPixelAndLoopPll)
{
    sim().chip(0).setDac(0x39, 0x07);
    sim().chip(0).setVga(VgaGroup::Misc, 0, 0x01);
    EXPECT_EQ(HlcDacSetClk(kNode, PLL_PIXEL, 75000, 8, 0), 0u);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Misc, 0), 0x0D);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Pixel, 0), 52 | 0xC0);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Pixel, 1), 48);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Pixel, 2), 0xF1);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Pixel, 3), 0x40);
    // Loop: N = 65 - 128 / 8 = 49, K = 44000, F = 74, R = 594 -> P = 2.
    EXPECT_EQ(sim().chip(0).pll(DacPll::Loop, 0), 49 | 0xC0);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Loop, 1), 0x3D);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Loop, 2), 0xF2);
    EXPECT_EQ(sim().chip(0).dac(0x39), 0x20);   // (0x07 & 0xF8) | 0x20

    // Below the minimum: 14320 kHz, R = 44000 / 14 = 3142 -> P = 3 with divider 1.
    EXPECT_EQ(HlcDacSetClk(kNode, PLL_PIXEL, 5000, 8, 0), 0u);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Pixel, 0), 62 | 0xC0);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Pixel, 1), 62);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Pixel, 2), 0xF3);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Loop, 2), 0xF3);
    EXPECT_EQ(sim().chip(0).dac(0x39), 0x21);

    EXPECT_EQ(HlcDacSetClk(kNode, 0x12, 75000, 8, 0), 1u);
}

TEST_F(DisplayTest, MemoryClockGoesThroughThePixelPllAndRestoresIt)
{
    sim().chip(0).setVga(VgaGroup::Misc, 0, 0x23);
    ASSERT_EQ(HlcDacWriteFreqParam(kNode, PLL_PIXEL, 35, 48, 3), 0u);
    sim().chip(0).setDac(0x39, 0x04);
    EXPECT_EQ(HlcDacSetClk(kNode, PLL_MEMORY, 75000, 8, 0), 0u);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Memory, 0), 52 | 0x80);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Memory, 1), 48);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Memory, 2), 0xB1);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Pixel, 0), (48 & 0x3F) | 0x80);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Pixel, 1), 35);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Pixel, 2), 0xF3);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Misc, 0), 0x23);   // restored
    EXPECT_EQ(sim().chip(0).dac(0x1A), 7);
    EXPECT_EQ(sim().chip(0).dac(0x39), 0x04 | 0x18);
}

TEST_F(DisplayTest, LockWaitAndFrequencyParameters)
{
    EXPECT_EQ(HlcDacWaitPllLock(kNode, 0x55), 1u);
    EXPECT_EQ(HlcDacWriteFreqParam(kNode, PLL_LOOP, 0x3D, 0xF1, 0x02), 0u);
    uint32_t m = 0, n = 0, p = 0;
    HlcDacReadFreqParam(kNode, PLL_LOOP, &m, &n, &p);
    EXPECT_EQ(m, 0x3Du);
    EXPECT_EQ(n, 0xF1u);
    EXPECT_EQ(p, 0xB2u);
    EXPECT_EQ(HlcDacWaitPllLock(kNode, PLL_LOOP), 0u);

    sim().chip(0).setPllLocks(DacPll::Memory, false);
    EXPECT_EQ(HlcDacWaitPllLock(kNode, PLL_MEMORY), 2u);
    EXPECT_EQ(HlcDacSetClk(kNode, PLL_MEMORY, 75000, 8, 0), 2u);   // reported, not taken as done
    sim().chip(0).setPllLocks(DacPll::Pixel, false);
    EXPECT_EQ(HlcDacSetClk(kNode, PLL_PIXEL, 75000, 8, 0), 2u);
}

} // namespace
