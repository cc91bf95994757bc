#include "dispops.h"
#include "dispreg.h"
#include "disptest.h"

#include <gtest/gtest.h>

#include <memory>

using boardsim::BoardFunction;
using boardsim::DacPll;
using boardsim::DisplayDriverSpec;
using boardsim::VgaGroup;
using disptest::DisplayTest;
using disptest::kNode;

namespace {

std::unique_ptr<_DISP_COM_INFO> Block()
{
    auto info = std::make_unique<_DISP_COM_INFO>();
    std::memset(info.get(), 0, sizeof *info);
    return info;
}

TEST_F(DisplayTest, KeyGoesToTheDriver)
{
    sim().clearRequests();
    EXPECT_EQ(im_disp_key(kNode, 0x12, 0xFF, 3), 0);
    const auto requests = sim().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, HLC_DRV_DISPLAY_KEY);
    EXPECT_EQ(requests[0].input.size(), 12u);
    EXPECT_EQ(requests[0].outSize, 12u);
    EXPECT_EQ(sim().displayKey(0, 0), 0x12u);
    EXPECT_EQ(sim().displayKey(0, 1), 0xFFu);
    EXPECT_EQ(sim().displayKey(0, 2), 3u);
    EXPECT_EQ(im_disp_key(0x44, 1, 1, 1), 1);
    sim().failRequests(HLC_DRV_DISPLAY_KEY);
    EXPECT_EQ(im_disp_key(kNode, 1, 1, 1), 1);
}

TEST_F(DisplayTest, FormatsRouteTheDacByteLanes)
{
    const struct {
        uint32_t format;
        uint8_t router;
    } cases[] = {{0x40000020, 0xFC}, {0x40000060, 0xFC}, {0x40000030, 0xE4}, {0x40000040, 0x54}, {0x40000050, 0xA8}};
    for (const auto& c : cases) {
        EXPECT_EQ(im_disp_mode_select(kNode, c.format), 0);
        EXPECT_EQ(sim().chip(0).dac(0x07), c.router) << std::hex << c.format;
    }
    EXPECT_EQ(im_disp_mode_select(kNode, 0x40000002), 0);
    EXPECT_EQ(sim().chip(0).dac(0x07), 0xA8);
    HlcDacSetByteRouter(kNode, 1, 2, 3, 0x41);
    EXPECT_EQ(sim().chip(0).dac(0x07), 0x40 | 0x30 | 0x08 | 0x01);   // d's high bits fall off the byte
}

TEST_F(DisplayTest, OverlayKeyingByEnableState)
{
    auto info = Block();
    sim().chip(0).setDac(0x1E, 0x2C);
    info->Enable = -9999;   // disabled
    EXPECT_EQ(im_disp_overlay_mode_select(kNode, info.get()), 0);
    EXPECT_EQ(sim().chip(0).dac(0x1E), 0x0C);
    EXPECT_EQ(sim().chip(0).dac(0x18), 0x47);
    info->Enable = -9997;   // enabled
    info->Mode = 3;
    im_disp_overlay_mode_select(kNode, info.get());
    EXPECT_EQ(sim().chip(0).dac(0x1E), 0x2C);
    EXPECT_EQ(sim().chip(0).dac(0x18), 0x07);
    sim().chip(0).setDac(0x1E, 0x0C);
    info->Mode = 2;
    im_disp_overlay_mode_select(kNode, info.get());
    EXPECT_EQ(sim().chip(0).dac(0x1E), 0x0C);
    sim().chip(0).setDac(0x18, 0x55);
    info->Enable = 5;
    im_disp_overlay_mode_select(kNode, info.get());
    EXPECT_EQ(sim().chip(0).dac(0x18), 0x55);
}

TEST_F(DisplayTest, PaletteFromGreyRampOrEntries)
{
    auto info = Block();
    info->Grey = 1;
    im_disp_lut(kNode, info.get());
    EXPECT_EQ(sim().chip(0).palette(0x80), 0x808080u);
    EXPECT_EQ(sim().chip(0).palette(0xFF), 0xFFFFFFu);
    info->Grey = 0;
    info->Count = 2;
    info->Lut[0][0] = 0x10, info->Lut[1][0] = 0x20, info->Lut[2][0] = 0x30;
    info->Lut[0][1] = 0x1FF, info->Lut[1][1] = 0, info->Lut[2][1] = 1;
    info->Lut[0][2] = 0x77;
    im_disp_lut(kNode, info.get());
    EXPECT_EQ(sim().chip(0).palette(0), 0x102030u);
    EXPECT_EQ(sim().chip(0).palette(1), 0xFF0001u);
    EXPECT_EQ(sim().chip(0).palette(2), 0x020202u);   // beyond the count: kept
    info->Count = 100000;                            // at most 256 entries
    im_disp_lut(kNode, info.get());
    EXPECT_EQ(sim().chip(0).palette(255), 0u);
}

TEST_F(DisplayTest, PanningSetsTheStartAddress)
{
    VgaWriteRegisterByByte(kNode, VGA_MISC_READ, 1);
    auto info = Block();
    info->Width = 800;   // pitch 960
    info->PanX = 100;
    info->PanY = 10;
    info->SavedCrtcExt0 = 0xA7;
    im_disp_pan(kNode, info.get());
    // start = 960 / 4 x 10 + 100 / 4 = 2425 = 0x979
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Crtc, 0x0C), 0x09);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Crtc, 0x0D), 0x79);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::CrtcExt, 0), 0xA0);
    info->Width = 1024;
    info->PanX = 8;
    info->PanY = 300;   // 256 x 300 + 2 = 0x12C02
    im_disp_pan(kNode, info.get());
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Crtc, 0x0C), 0x2C);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Crtc, 0x0D), 0x02);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::CrtcExt, 0), 0xA1);
}

VIDEO_PARAM ZoomMode()
{
    VIDEO_PARAM v{};
    const int32_t crtc[10] = {0xA3, 0x7F, 0x7F, 0x07, 0x83, 0x93, 0x24, 0xF5, 0x00, 0x60};
    for (int i = 0; i < 10; ++i) v.Video.Crtc[i] = crtc[i];
    v.Video.Pclk[0] = 48, v.Video.Pclk[1] = 52 | 0xC0, v.Video.Pclk[2] = 0xF1;
    return v;
}

TEST(DispZoom, ZoomedTimingByHand)
{
    const VIDEO_PARAM video = ZoomMode();
    auto info = Block();
    info->ZoomX = 2;
    info->ZoomY = 2;
    EXPECT_EQ(mp_disp_zoom(kNode, kNode, &video, info.get()), 0);
    EXPECT_EQ(info->ZoomPixelClock, 74894 / 2);
    EXPECT_EQ(info->ZoomCrtc[0], 79);     // (168 / 2 - 5)
    EXPECT_EQ(info->ZoomCrtc[1], 63);
    EXPECT_EQ(info->ZoomCrtc[2], 63);
    EXPECT_EQ(info->ZoomCrtc[3], 19);     // E' = 40 / 2 + 63 = 83
    EXPECT_EQ(info->ZoomCrtc[4], 65);
    EXPECT_EQ(info->ZoomCrtc[5], 9);      // W' = 16 / 2 = 8; (8 + 65) & 31
    EXPECT_EQ(info->ZoomCrtc[6], 0x61);
    EXPECT_EQ(info->ZoomCrtcExt1, 64);    // E' bit 6

    info->ZoomX = 1;
    info->ZoomY = 1;
    mp_disp_zoom(kNode, kNode, &video, info.get());
    EXPECT_EQ(info->ZoomCrtc[0], 0xA3);
    EXPECT_EQ(info->ZoomCrtc[1], 0x7F);
    EXPECT_EQ(info->ZoomCrtc[2], 0x7F);
    EXPECT_EQ(info->ZoomCrtc[4], 0x83);
    EXPECT_EQ(info->ZoomCrtc[6], 0x60);
    EXPECT_EQ(info->ZoomPixelClock, 74894);

    auto only = Block();
    only->ZoomX = 0;
    only->ZoomY = 4;
    only->ZoomCrtc[0] = 0x1234;
    EXPECT_EQ(mp_disp_zoom(kNode, kNode, &video, only.get()), 0);
    EXPECT_EQ(only->ZoomCrtc[6], 0x63);
    EXPECT_EQ(only->ZoomCrtc[0], 0x1234);
    EXPECT_EQ(only->ZoomPixelClock, 0);

    EXPECT_EQ(mp_disp_zoom(kNode, kNode, nullptr, info.get()), -1);
    EXPECT_EQ(mp_disp_zoom(kNode, kNode, &video, nullptr), -1);
}

TEST_F(DisplayTest, ZoomIsAppliedOnlyWhenItChanges)
{
    VgaWriteRegisterByByte(kNode, VGA_MISC_READ, 1);
    const VIDEO_PARAM video = ZoomMode();
    auto info = Block();
    info->ZoomX = info->CurrentZoomX = 2;
    info->ZoomY = info->CurrentZoomY = 2;
    mp_disp_zoom(kNode, kNode, &video, info.get());
    sim().setTracing(true);
    im_disp_zoom(kNode, info.get());
    EXPECT_TRUE(sim().trace().empty());
    info->CurrentZoomX = 1;
    im_disp_zoom(kNode, info.get());
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Crtc, 0), 79);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Crtc, 5), 9);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Crtc, 9), 0x61);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::CrtcExt, 1), 64);
    uint32_t m = 0, n = 0, p = 0;
    HlcDacCalculFMNP(74894 / 2, &m, &n, &p);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Pixel, 0), n | 0xC0);
    EXPECT_EQ(sim().chip(0).pll(DacPll::Pixel, 1), m);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Sequencer, 1) & 0x20, 0);   // screen back on
}

TEST_F(DisplayTest, ScreenOffAndOnWaitForRetrace)
{
    sim().setTracing(true);
    im_disp_screen_off(kNode);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Sequencer, 1) & 0x20, 0x20);
    const auto trace = ChipTrace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace[0].offset, static_cast<uint32_t>(PYX_STATUS));
    EXPECT_EQ(trace[0].value & PYX_STATUS_RETRACE, PYX_STATUS_RETRACE);
    im_disp_screen_on(kNode);
    EXPECT_EQ(sim().chip(0).vga(VgaGroup::Sequencer, 1) & 0x20, 0);
}

TEST_F(DisplayTest, DisplayNodesOfASystemByBoardNumber)
{
    uint32_t id = 99;
    EXPECT_EQ(mp_disp_get_node_id(0, 0, &id), -1);   // no node list
    EXPECT_EQ(id, 0u);
    disptest::g_linked = false;
    disptest::g_displays = {0x13, 0x12, 0x21};
    disptest::g_nodes = {0x13, 0x14, 0x12, 0x21};    // 0x14 is not a display
    EXPECT_EQ(mp_disp_get_node_id(0, 0, &id), 0);
    EXPECT_EQ(id, 0x12u);
    EXPECT_EQ(mp_disp_get_node_id(0, 1, &id), 0);
    EXPECT_EQ(id, 0x13u);
    id = 99;
    EXPECT_EQ(mp_disp_get_node_id(0, 2, &id), -1);   // index equal to the count
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(mp_disp_get_node_id(1, 0, &id), 0);
    EXPECT_EQ(id, 0x21u);
    EXPECT_EQ(mp_disp_get_node_id(2, 0, &id), -1);
    EXPECT_EQ(mp_disp_get_node_id(15, 0, &id), -1);
    disptest::g_link.isDisplay = 0;
    EXPECT_EQ(mp_disp_get_node_id(0, 0, &id), -1);
}

TEST_F(DisplayTest, DualHeadAndDualScreenDetection)
{
    uint8_t bus = 0, device = 0, function = 0;
    ASSERT_TRUE(sim().functionLocation(0, BoardFunction::ChipFunction1, &bus, &device, &function));
    _PCI_FOUND_DEVICE record{};
    record.bus = bus;
    record.device = device;
    const uint32_t base = sim().functionConfig(0, BoardFunction::ChipFunction1, 0x14);
    uint32_t mode = 99;

    // A desktop driver without the private escapes: one screen.
    EXPECT_EQ(IsDualHeadActive(), 0);
    EXPECT_EQ(IsBoardInDualScreen(base), 0);
    EXPECT_EQ(mp_disp_get_mode(&record, &mode), IM_SINGLE_SCREEN);
    EXPECT_EQ(mode, IM_SINGLE_SCREEN);

    DisplayDriverSpec spec;
    spec.privateEscapes = true;
    spec.columns = 1;
    spec.rows = 1;
    spec.screenBases = {base & ~0xFu};
    sim().setDisplayDriver(spec);
    EXPECT_EQ(IsDualHeadActive(), 0);
    EXPECT_EQ(IsBoardInDualScreen(base), 0);   // the desktop's screen lies on this board

    spec.columns = 2;
    spec.screenBases = {0xE0000008u, base};
    sim().setDisplayDriver(spec);
    EXPECT_EQ(IsDualHeadActive(), 1);
    EXPECT_EQ(mp_disp_get_mode(&record, &mode), IM_DUAL_HEAD);

    spec.screenBases = {0xE0000008u, 0xE1000008u};
    sim().setDisplayDriver(spec);
    EXPECT_EQ(IsBoardInDualScreen(base), 1);
    EXPECT_EQ(mp_disp_get_mode(&record, &mode), IM_DUAL_SCREEN);
    EXPECT_EQ(mode, IM_DUAL_SCREEN);

    // A driver that answers 0 x 0 shows no screen: neither dual screen nor dual head.
    spec.columns = 0;
    spec.rows = 0;
    sim().setDisplayDriver(spec);
    EXPECT_EQ(IsBoardInDualScreen(base), 0);
    EXPECT_EQ(mp_disp_get_mode(&record, &mode), IM_SINGLE_SCREEN);

    // More screens than the table holds: only the first 16 are asked.
    spec.columns = 40;
    spec.rows = 1;
    spec.screenBases.assign(40, 0xE0000000u);
    spec.screenBases[20] = base;
    sim().setDisplayDriver(spec);
    EXPECT_EQ(IsBoardInDualScreen(base), 1);
    EXPECT_EQ(sim().openDisplayContexts(), 0u);
}

} // namespace
