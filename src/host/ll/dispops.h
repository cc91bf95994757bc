// Display operations on a display node: keying, DAC byte-lane routing, overlay keying,
// palette, panning, zoom, screen off and on; the lookup of a system's display nodes; and
// the tests whether the desktop's display driver runs two screens.
#pragma once

#include "hlc_arch.h"
#include "displaydriver.h"
#include "videomode.h"

#include <cstddef>
#include <cstdint>

struct _PCI_FOUND_DEVICE;

// Display command block of a display node.
struct _DISP_COM_INFO {
    int32_t Start;          // 0: display start in pixels
    int32_t BufferId;       // 1
    int32_t Mode;           // 2: 2-5
    int32_t Key[2];         // 3, 4: 0-255
    int32_t Format;         // 5
    int32_t Enable;         // 6: -9997 / -9999
    int32_t PanX;           // 7
    int32_t PanY;           // 8
    int32_t ZoomX;          // 9: 1, 2, 4
    int32_t ZoomY;          // 10
    int32_t CurrentZoomX;   // 11
    int32_t CurrentZoomY;   // 12
    int32_t Word13;         // 13 (type 13008)
    int32_t Reserved[2];    // 14, 15
    int32_t ZoomCrtc[7];    // 16-22: zoomed CRTC 0, 1, 2, 3, 4, 5, 9
    int32_t ZoomCrtcExt1;   // 23
    int32_t SavedCrtcExt0;  // 24
    int32_t Width;          // 25
    int32_t ZoomPixelClock; // 26: kHz
    int32_t Grey;           // 27: grey-ramp flag
    int32_t Count;          // 28: palette entries
    int32_t Lut[3][256];    // 29-284, 285-540, 541-796: first, second, third colour byte
};
static_assert(sizeof(_DISP_COM_INFO) == 797 * 4, "display command block is 797 words");
static_assert(offsetof(_DISP_COM_INFO, ZoomCrtc) == 16 * 4 && offsetof(_DISP_COM_INFO, ZoomPixelClock) == 26 * 4 &&
                  offsetof(_DISP_COM_INFO, Lut) == 29 * 4,
              "display command block word order");

// Display modes of a node.
enum : uint32_t {
    IM_SINGLE_SCREEN = 0,
    IM_DUAL_SCREEN = 1,
    IM_DUAL_HEAD = 2,
};
constexpr int32_t kDispEnabled = -9997;
constexpr int32_t kDispDisabled = -9999;

// Node display state: words of the node's board description.
enum : uint32_t {
    DISP_STATE_WIDTH = 128,
    DISP_STATE_HEIGHT = 129,
    DISP_STATE_PAN_X = 130,
    DISP_STATE_PAN_Y = 131,
    DISP_STATE_ZOOM_X = 132,
    DISP_STATE_ZOOM_Y = 133,
    DISP_STATE_MODE = 138,      // 138-140: mode and keys
    DISP_STATE_FORMAT = 141,
    DISP_STATE_ENABLE = 142,
    DISP_STATE_DISPLAY_MODE = 143,
    DISP_STATE_13008 = 144,
    DISP_STATE_BUFFER = 145,
    DISP_STATE_START = 147,
    DISP_STATE_VIDEO = 149,     // 103 words of the current TVIDEO_PARAM
};

// Screens the dual-head detection asks the display driver about.
constexpr uint32_t kMaxScreens = 16;

int im_disp_key(uint32_t node, uint32_t key, uint32_t mask, uint32_t mode);   // 0, 1 no node or refused
int im_disp_mode_select(uint32_t node, uint32_t format);                       // 0
void HlcDacSetByteRouter(uint32_t node, uint32_t a, uint32_t b, uint32_t c, uint32_t d);
int im_disp_overlay_mode_select(uint32_t node, const _DISP_COM_INFO* info);    // 0
int im_disp_lut(uint32_t node, const _DISP_COM_INFO* info);                    // 0
int im_disp_pan(uint32_t node, const _DISP_COM_INFO* info);                    // 0
// Zoomed timing from the video record into words 16-23 and 26 of the block; -1 when
// either pointer is null.
int mp_disp_zoom(uint32_t node, uint32_t displayNode, const VIDEO_PARAM* video, _DISP_COM_INFO* info);
void im_disp_zoom(uint32_t node, const _DISP_COM_INFO* info);
void im_disp_screen_off(uint32_t node);
void im_disp_screen_on(uint32_t node);

// index-th display node of a system, by board number: 0 and the id, or -1 with id 0.
int mp_disp_get_node_id(uint32_t system, uint32_t index, uint32_t* node);
uint32_t mp_disp_get_mode(const _PCI_FOUND_DEVICE* device, uint32_t* mode);
int IsDualHeadActive();
int IsBoardInDualScreen(uint32_t base);
