#include "dispops.h"

#include "displaydriver.h"
#include "disphooks.h"
#include "dispreg.h"
#include "driverreq.h"
#include "pci.h"

#include <algorithm>
#include <cstring>

namespace {

uint32_t Byte(int32_t word)
{
    return static_cast<uint32_t>(word) & 0xFF;
}

// Highest set bit; -1 for 0.
int HighestBit(uint32_t v)
{
    int k = -1;
    while (v) {
        ++k;
        v >>= 1;
    }
    return k;
}

// 2 to the power of (highest set bit of v) + 1: the wrap that turns an end counter into a
// length from v.  A start of 0 has no set bit and needs no wrap: 0.
uint32_t WrapAbove(uint32_t v)
{
    return v ? 1u << (HighestBit(v) + 1) : 0u;
}

bool EscapeSupported(DisplayContext dc, uint32_t escape)
{
    return DisplayEscape(dc, kEscapeQuerySupport, 4, &escape, 0, nullptr) > 0;
}

} // namespace

int im_disp_key(uint32_t node, uint32_t key, uint32_t mask, uint32_t mode)
{
    HlcDisplayLink* link = HlcGetDisplayHooks().displayLink(node);
    if (!link || link->device == kInvalidDevice) return 1;
    HLC_DISPLAY_KEY_REQ request = {key, mask, mode};
    return HlcDrvDisplayKey(link->device, link->overlapped, &request) ? 0 : 1;
}

void HlcDacSetByteRouter(uint32_t node, uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    DacWriteRegisterByByte(node, 0x87, ((d & 63) << 6 | (c & 3) << 4 | (b & 3) << 2 | (a & 3)) & 0xFF);
}

int im_disp_mode_select(uint32_t node, uint32_t format)
{
    switch (format) {
    case 0x40000020:
    case 0x40000060: HlcDacSetByteRouter(node, 0, 3, 3, 3); break;
    case 0x40000030: HlcDacSetByteRouter(node, 0, 1, 2, 3); break;
    case 0x40000040: HlcDacSetByteRouter(node, 0, 1, 1, 1); break;
    case 0x40000050: HlcDacSetByteRouter(node, 0, 2, 2, 2); break;
    default: break;
    }
    return 0;
}

int im_disp_overlay_mode_select(uint32_t node, const _DISP_COM_INFO* info)
{
    if (!info) return 0;
    if (info->Enable == kDispDisabled) {
        DacWriteRegisterByByte(node, 0x9E, DacReadRegisterByByte(node, 0x9E) & ~0x20u);
        DacWriteRegisterByByte(node, 0x98, 0x47);
    } else if (info->Enable == kDispEnabled) {
        const uint32_t v = DacReadRegisterByByte(node, 0x9E);
        DacWriteRegisterByByte(node, 0x9E, info->Mode == 2 ? v : (v | 0x20));
        DacWriteRegisterByByte(node, 0x98, 0x07);
    }
    return 0;
}

int im_disp_lut(uint32_t node, const _DISP_COM_INFO* info)
{
    if (!info) return 0;
    if (info->Grey) {
        for (uint32_t i = 0; i < 256; ++i) DacWriteRegisterByLongIndex(node, DAC_PALETTE_DATA, i, i << 16 | i << 8 | i);
        return 0;
    }
    const int32_t count = std::min<int32_t>(std::max<int32_t>(info->Count, 0), 256);
    for (int32_t i = 0; i < count; ++i)
        DacWriteRegisterByLongIndex(node, DAC_PALETTE_DATA, static_cast<uint32_t>(i),
                                    Byte(info->Lut[0][i]) << 16 | Byte(info->Lut[1][i]) << 8 | Byte(info->Lut[2][i]));
    return 0;
}

int im_disp_pan(uint32_t node, const _DISP_COM_INFO* info)
{
    if (!info) return 0;
    const uint32_t pitch = info->Width == 800 ? 960u : static_cast<uint32_t>(info->Width);
    const uint32_t start = (pitch / 4) * static_cast<uint32_t>(info->PanY) + static_cast<uint32_t>(info->PanX) / 4;
    VgaWriteRegisterByByteIndex(node, VGA_CRTC, 0x0C, (start >> 8) & 0xFF);
    VgaWriteRegisterByByteIndex(node, VGA_CRTC, 0x0D, start & 0xFF);
    VgaWriteRegisterByByteIndex(node, VGA_CRTC_EXT, 0, (Byte(info->SavedCrtcExt0) & 0xF0) | ((start >> 16) & 0x0F));
    return 0;
}

int mp_disp_zoom(uint32_t, uint32_t, const VIDEO_PARAM* video, _DISP_COM_INFO* info)
{
    if (!video || !info) return -1;
    const TVIDEO_PARAM& v = video->Video;
    const int32_t z = info->ZoomX;
    const auto refreshRowScan = [&] {
        if (info->ZoomY) info->ZoomCrtc[6] = (info->ZoomY - 1) | v.Crtc[9];
    };
    if (z <= 0) {
        // No horizontal zoom (a negative one cannot divide the timing either).
        refreshRowScan();
        return 0;
    }
    const uint32_t zu = static_cast<uint32_t>(z);
    const uint32_t x1 = Byte(v.CrtcExt[1]);
    const uint32_t c3 = Byte(v.Crtc[3]), c5 = Byte(v.Crtc[5]);

    const uint32_t m = Byte(v.Pclk[0]) & 63, n = Byte(v.Pclk[1]) & 63, p = Byte(v.Pclk[2]) & 3;
    info->ZoomPixelClock = static_cast<int32_t>((65 - m) * kDacReferenceKHz / ((65 - n) << p) / zu);

    const uint32_t total = Byte(v.Crtc[0]) | (x1 & 1) << 8;
    const uint32_t display = Byte(v.Crtc[1]) + 1;
    const uint32_t blankStart = Byte(v.Crtc[2]) | ((x1 >> 1) & 1) << 8;
    const uint32_t blankEnd = (c3 & 31) | ((c5 >> 7) & 1) << 5 | (x1 & 0x40);
    const uint32_t syncStart = Byte(v.Crtc[4]) | ((x1 >> 2) & 1) << 8;
    const uint32_t syncEnd = c5 & 31;

    const uint32_t t2 = (total + 5) / zu;
    const uint32_t b2 = blankStart / zu;
    const uint32_t e2 = ((WrapAbove(blankStart) - blankStart + blankEnd) & 127) / zu + b2;
    const uint32_t s2 = syncStart / zu;
    const uint32_t w2 = ((WrapAbove(syncStart) - syncStart + syncEnd) & 31) / zu;

    const uint32_t t5 = t2 - 5;
    info->ZoomCrtc[0] = static_cast<int32_t>(t5 & 255);
    info->ZoomCrtc[1] = static_cast<int32_t>((display / zu - 1) & 255);
    info->ZoomCrtc[2] = static_cast<int32_t>(b2 & 255);
    info->ZoomCrtc[3] = static_cast<int32_t>((c3 & 0xE0) | (e2 & 31));
    info->ZoomCrtc[4] = static_cast<int32_t>(s2 & 255);
    info->ZoomCrtc[5] = static_cast<int32_t>(((w2 + s2) & 31) | ((e2 >> 5) & 1) << 7 | (c5 & 0x60));
    info->ZoomCrtcExt1 = static_cast<int32_t>(((t5 >> 8) & 1) | ((b2 >> 8) & 1) << 1 | ((s2 >> 8) & 1) << 2 |
                                              (x1 & 0xB8) | (e2 & 64));
    refreshRowScan();
    return 0;
}

void im_disp_zoom(uint32_t node, const _DISP_COM_INFO* info)
{
    if (!info) return;
    if (info->ZoomX == info->CurrentZoomX && info->ZoomY == info->CurrentZoomY) return;
    HlcPyxScreenOff(node);
    VgaWriteRegisterByByteIndex(node, VGA_CRTC_EXT, 1, Byte(info->ZoomCrtcExt1));
    for (uint32_t i = 0; i < 6; ++i) VgaWriteRegisterByByteIndex(node, VGA_CRTC, i, Byte(info->ZoomCrtc[i]));
    HlcDacSetClk(node, PLL_PIXEL, static_cast<uint32_t>(std::max<int32_t>(info->ZoomPixelClock, 0)), 8, 0);
    VgaWriteRegisterByByteIndex(node, VGA_CRTC, 9, Byte(info->ZoomCrtc[6]));
    HlcPyxScreenOn(node);
}

void im_disp_screen_off(uint32_t node)
{
    HlcPyxWaitVerticalRetrace(node);
    HlcPyxScreenOff(node);
}

void im_disp_screen_on(uint32_t node)
{
    HlcPyxWaitVerticalRetrace(node);
    HlcPyxScreenOn(node);
}

int mp_disp_get_node_id(uint32_t system, uint32_t index, uint32_t* node)
{
    if (node) *node = 0;
    if (system > 14) return -1;
    uint32_t list[256];
    const uint32_t count = std::min<uint32_t>(HlcGetDisplayHooks().nodeList(list, 256), 256);
    // Display nodes of the system by board number.
    uint32_t found[16] = {};
    uint32_t displays = 0;
    for (uint32_t board = 1; board <= 15; ++board) {
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t n = list[i];
            if (((n >> 4) & 0xF) != system + 1 || (n & 0xF) != board) continue;
            const HlcDisplayLink* link = HlcGetDisplayHooks().displayLink(n);
            if (!link || !link->isDisplay) continue;
            found[displays++] = n;
            break;
        }
    }
    if (index >= displays) return -1;
    if (node) *node = found[index];
    return 0;
}

uint32_t mp_disp_get_mode(const _PCI_FOUND_DEVICE* device, uint32_t* mode)
{
    uint32_t result = IM_SINGLE_SCREEN;
    uint32_t base = 0;
    if (device && PciConfigReadDword(DefaultAccessType, device->bus, device->device, 1, 0x14, &base) == 0 &&
        IsBoardInDualScreen(base))
        result = IM_DUAL_SCREEN;
    else if (IsDualHeadActive())
        result = IM_DUAL_HEAD;
    if (mode) *mode = result;
    return result;
}

int IsDualHeadActive()
{
    const DisplayContext dc = DisplayCreateContext("DISPLAY");
    if (!dc) return 0;
    int active = 0;
    if (EscapeSupported(dc, kEscapeDisplayLayout)) {
        uint32_t layout[2] = {1, 1};
        // Dual head needs two screens at least: a driver answering 0 x 0 shows none.
        if (DisplayEscape(dc, kEscapeDisplayLayout, 0, nullptr, sizeof layout, layout) > 0)
            active = static_cast<uint64_t>(layout[0]) * layout[1] > 1;
    }
    DisplayDeleteContext(dc);
    return active;
}

int IsBoardInDualScreen(uint32_t base)
{
    const DisplayContext dc = DisplayCreateContext("DISPLAY");
    if (!dc) return 0;
    int separate = 0;
    if (EscapeSupported(dc, kEscapeDisplayLayout)) {
        uint32_t layout[2] = {1, 1};
        uint32_t screens = 1;
        if (DisplayEscape(dc, kEscapeDisplayLayout, 0, nullptr, sizeof layout, layout) > 0)
            screens = layout[0] * layout[1];
        // The screen table holds at most kMaxScreens records.  A driver answering 0 x 0
        // shows no screen at all, which is no second screen either.
        screens = std::min(screens, kMaxScreens);
        uint32_t table[kMaxScreens][kEscapeScreenRecordBytes / 4] = {};
        separate = screens > 0 ? 1 : 0;
        for (uint32_t i = 0; i < screens; ++i) {
            if (DisplayEscape(dc, kEscapeScreenInfo, 4, &i, kEscapeScreenRecordBytes, table[i]) <= 0) continue;
            const uint32_t screenBase = table[i][kEscapeScreenRecordBytes / 4 - 1];
            if ((screenBase & ~0xFu) == (base & ~0xFu)) {
                separate = 0;
                break;
            }
        }
    }
    DisplayDeleteContext(dc);
    return separate;
}
