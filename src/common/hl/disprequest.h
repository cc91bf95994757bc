// The display requests a display node serves on its command server: display control in
// phases (check and record, stop, apply, restart at vertical sync) and display inquiry;
// and the display description of a node that they and the display exports share.
//
// The description lies in the node state block from word 128 on (124 words); its words
// are named below by their state word number.  Words the display code keeps beside the
// ones dispops.h names: the totals, the retrace start and the pixel clock that the
// display set-up derives from the running mode, the display state, the set-up word and
// the address of the node's stored video parameters.
//
// Threads: mpDispControl and mpDispInquire run on the display node's command-server task
// (they take the node's Orlo protect lock while writing its display registers);
// mp_disp_description on any thread that works on the node's display.
#pragma once

#include "hlc_arch.h"
#include "dispops.h"

#include <cstdint>

struct MP_RESOURCE_ST;
struct _MP_BUF_ST;

constexpr uint32_t kDispDescriptionWord = 128;
constexpr uint32_t kDispDescriptionWords = 124;

enum : uint32_t {
    DISP_STATE_VTOTAL = 134,
    DISP_STATE_HTOTAL = 135,
    DISP_STATE_VRETRACE = 136,
    DISP_STATE_PIXEL_CLOCK = 137,   // kHz
    DISP_STATE_KEY_COLOUR = DISP_STATE_13008,
    DISP_STATE_SETUP = DISP_STATE_BUFFER,   // the parameter store's id once set up (1 without one)
    DISP_STATE_STORE = 146,                 // address of the stored video parameters
    DISP_STATE_FILLED = 148,                // 1 once the description was given its display state
};

// Display states (state word 143, the node's display mode).
constexpr int32_t kDispStateNone = 0x20000000;   // IM_NONE: the node shows no display

// Display control types and inquiry types: IM_DISP_SELECT to IM_DISP_ENABLE of
// hlclib_defs.h.

// Change mask of a control request.
enum : uint32_t {
    DISP_CHANGE_START = 0x01,
    DISP_CHANGE_KEY = 0x02,
    DISP_CHANGE_LUT = 0x04,
    DISP_CHANGE_FORMAT = 0x08,
    DISP_CHANGE_PAN_X = 0x10,
    DISP_CHANGE_PAN_Y = 0x20,
    DISP_CHANGE_KEY_COLOUR = 0x40,
    DISP_CHANGE_ZOOM = 0x80,
    DISP_CHANGE_LOCK = 0x100,
    DISP_CHANGE_CRTC_PAN = 0x400,
    DISP_CHANGE_ZOOM_CODE = 0x800,
    DISP_CHANGE_ENABLE = 0x1000,
};

// Registers of the display Orlo the requests write (through their shadow slots).
constexpr uint32_t kDispControlVideoOn = 0x40;     // display control bit 6
constexpr uint32_t kDispControlInterlace = 0x10;   // display control bit 4
constexpr uint32_t kDispControlRestart = 0x08;     // bit 3: restart at the display line
constexpr uint32_t kDispControlRestartNow = 0x04;  // bit 2
constexpr uint32_t kDispControlZoomCode = 0x03;
constexpr uint32_t kDispPathEnable = 0x80000;      // memory control bit 19: the video path runs

// Longest wait of phase 4 for the vertical-sync interrupt, seconds.
constexpr double kDispVsyncWaitSeconds = 1.0;

inline constexpr const char* kDispTextBadNode = "Invalid display node Id";
inline constexpr const char* kDispTextBadParameter = "Invalid Parameter";
inline constexpr const char* kDispTextBadDisplay = "Invalid display";
inline constexpr const char* kDispTextNoVsync = "Vertical sync did not come";

// The node's display state words (the whole state block, indexed by state word), null
// when the node is not open or has no state block.  The first call on a node gives its
// description the display state: the node's ini display mode for a node with a display
// chip, kDispStateNone for any other.
int32_t* mp_disp_description(uint32_t node);

// Phase 0 checks the controls of the control buffer, fills the block and writes the
// change mask (-1 when refused) and the display node; phases 1-4 act on the display node
// given in *node.  0 done, -1 refused (the error is on the resource).
int mpDispControl(MP_RESOURCE_ST* res, _MP_BUF_ST* display, _MP_BUF_ST* controls, _DISP_COM_INFO* info,
                  uint32_t type, uint32_t phase, int32_t* mask, uint32_t* node);
// One word of the display state by inquiry type; 0, or -1 with the error on the resource.
int mpDispInquire(MP_RESOURCE_ST* res, _MP_BUF_ST* display, uint32_t type, int32_t* value);

// The display node a display object names (its one word), 0 for none.
uint32_t mp_disp_object_node(const _MP_BUF_ST* display);
