// Display and cursor exports.
#include "imdisp.h"

#include "disphandlers.h"
#include "im_msgio.h"
#include "im_param.h"
#include "imbuf.h"

#include "bufid.h"
#include "dispops.h"
#include "dispreg.h"
#include "disprequest.h"
#include "hlc_errors.h"
#include "consolepipe.h"
#include "hostutil.h"
#include "hwaccess.h"
#include "nodelist.h"
#include "videomode.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kSystemThread = 0x40000010u;
constexpr uint32_t kDefaultCursorNode = 0x11;
constexpr const char* kTextNoFile = "Cannot find file in path";
constexpr const char* kTextExecution = "Error in execution";
constexpr const char* kTextNoHostMemory = "Not enough HOST memory";
constexpr int32_t kEnableOn = -9997;
constexpr int32_t kEnableOff = -9999;
constexpr uint32_t kKindOneBand = 0x40000020u;
constexpr uint32_t kKindThreeBands = 0x40000030u;

uint32_t NodeOf(uint32_t id)
{
    return (id >> 16) & 0xFF;
}

uint32_t Result(const _MSG_ST* msg, uint32_t slot)
{
    return static_cast<uint32_t>(im_msg_get_long(msg, slot));
}

// A thread id goes to that thread object; a device id to its node's system thread object.
void Send(_MSG_ST* msg, uint32_t thread, uint32_t sync)
{
    if (thread & kIdPredefined)
        im_msg_send(msg, 0, thread, 0, sync);
    else
        im_msg_send(msg, thread, kSystemThread | (thread & 0xFF0000u), 0, sync);
}

// The caller of a display conversation: its thread and its node.
struct Caller {
    uint32_t thread;
    uint32_t node;
};

// A phase for the display node: to the caller's thread when the display is on the
// caller's node, else to the display node's system thread.
void SendToDisplayNode(_MSG_ST* msg, const Caller& caller, uint32_t displayNode)
{
    if (displayNode == caller.node)
        Send(msg, caller.thread, IM_SYNC_POLL);
    else
        im_msg_send(msg, 0, kSystemThread | (displayNode << 16), 0, IM_SYNC_POLL);
}

// The message of an export and the text of the first error a phase gave it, kept until
// the message ends.
struct Conversation {
    _MSG_ST msg{};
    std::string text;
};

// Moves the error of a finished phase into the export's own message.  True when there
// was one.
bool Gather(Conversation* into, const _MSG_ST& phase)
{
    const int32_t code = im_msg_cmd_error(&phase);
    if (code == 0) return false;
    if (into->msg.body.error == 0) {
        into->text = phase.body.err.message ? phase.body.err.message : HlcErrorText(code);
        im_msg_log_error(&into->msg, code, into->text.c_str());
    }
    return true;
}

// One phase for the display node with word parameters; false when it failed (its error
// gathered into `into`).
bool Phase(Conversation* into, const char* name, uint32_t opcode, const Caller& caller, uint32_t displayNode,
           std::initializer_list<uint32_t> words, _MSG_ST* reply = nullptr)
{
    _MSG_ST local{};
    _MSG_ST* msg = reply ? reply : &local;
    im_msg_start(msg, opcode, static_cast<uint32_t>(words.size()), name);
    uint32_t slot = 0;
    for (const uint32_t w : words) im_msg_put_long(msg, slot++, static_cast<int32_t>(w));
    SendToDisplayNode(msg, caller, displayNode);
    return !Gather(into, *msg);
}

uint32_t HostAddress(uint32_t node, uint32_t address, uint32_t busFlag)
{
    return busFlag ? mp_util_pci_to_virtual(node, address) : address;
}

template <typename T>
T* HostPointer(uint32_t address)
{
    return reinterpret_cast<T*>(static_cast<uintptr_t>(address));
}

void FreeDisplay(const Caller& caller, uint32_t id)
{
    imDispFree(caller.thread, id);
}

// The display controller's set-up on the display node's description from the running
// mode.
void SetUpController(uint32_t node, int32_t* s, uint32_t memoryMiB, uint32_t storeId, uint32_t storeAddress)
{
    const int32_t state = s[DISP_STATE_DISPLAY_MODE];
    const int32_t keying = state == static_cast<int32_t>(IM_DUAL_SCREEN) ? 3 : 2;
    // The set-up word: the parameter store's id once the display has one, else 1.
    int32_t setup = s[DISP_STATE_SETUP];
    if (storeId) setup = static_cast<int32_t>(storeId);
    if (setup == 0) setup = 1;
    im_disp_key(node, 0, 0, static_cast<uint32_t>(keying));
    const uint32_t kind = memoryMiB >= 6 ? kKindThreeBands : kKindOneBand;
    im_disp_mode_select(node, kind);
    uint32_t width = 0, height = 0;
    GetDispResolution(node, &width, &height);
    auto* video = reinterpret_cast<TVIDEO_PARAM*>(s + DISP_STATE_VIDEO);
    HlcPyxGetVideoParam(node, video);

    const auto b = [](int32_t w) { return static_cast<uint32_t>(w) & 0xFF; };
    // Pixel clock from the pixel PLL's M, N and P: (65 - M) x 114544 / ((65 - N) << P).
    const uint32_t m = b(video->Pclk[0]) & 63, n = b(video->Pclk[1]) & 63, p = b(video->Pclk[2]) & 3;
    const uint32_t clock = (7445360u - 114544u * m) / ((65u - n) << p);
    const uint32_t x1 = b(video->CrtcExt[1]), x2 = b(video->CrtcExt[2]);
    const uint32_t c7 = b(video->Crtc[7]);
    const uint32_t htotal = ((x1 & 1) << 8 | b(video->Crtc[0])) * 8 + 40;
    uint32_t vtotal = (b(video->Crtc[6]) | (c7 & 1) << 8 | ((c7 >> 5) & 1) << 9 | (x2 & 3) << 10) + 2;
    uint32_t retrace = b(video->Crtc[0x10]) | ((c7 >> 2) & 1) << 8 | ((c7 >> 7) & 1) << 9 | ((x2 >> 5) & 3) << 10;
    if (b(video->CrtcExt[0]) & 0x80) {
        vtotal *= 2;
        retrace *= 2;
    }
    s[DISP_STATE_WIDTH] = static_cast<int32_t>(width);
    s[DISP_STATE_HEIGHT] = static_cast<int32_t>(height);
    s[DISP_STATE_ZOOM_X] = 1;
    s[DISP_STATE_ZOOM_Y] = 1;
    s[DISP_STATE_VTOTAL] = static_cast<int32_t>(vtotal);
    s[DISP_STATE_HTOTAL] = static_cast<int32_t>(htotal);
    s[DISP_STATE_VRETRACE] = static_cast<int32_t>(retrace);
    s[DISP_STATE_PIXEL_CLOCK] = static_cast<int32_t>(clock);
    s[DISP_STATE_MODE] = keying;
    s[DISP_STATE_FORMAT] = static_cast<int32_t>(kind);
    s[DISP_STATE_ENABLE] = kEnableOn;
    s[DISP_STATE_KEY_COLOUR] = 0xFFFFFF;
    s[DISP_STATE_SETUP] = setup;
    s[DISP_STATE_STORE] = static_cast<int32_t>(storeAddress);
}

// ---- cursor -----------------------------------------------------------------------------

uint32_t CursorNode(uint32_t thread)
{
    const uint32_t node = NodeOf(thread);
    return node ? node : kDefaultCursorNode;
}

void PutPixel(IM_CURSOR_ST* c, uint32_t x, uint32_t y, uint32_t value)
{
    const uint32_t byte = y * (kCursorSide / 8) + x / 8;
    const uint8_t bit = static_cast<uint8_t>(0x80u >> (x % 8));
    for (uint32_t k = 0; k < 2; ++k) {
        if ((value >> k) & 1)
            c->plane[k][byte] |= bit;
        else
            c->plane[k][byte] &= static_cast<uint8_t>(~bit);
    }
}

// The built-in arrow, one text per row of pixel values from column 0.
const char* const kArrow[] = {
    "22",
    "212",
    "2112",
    "21112",
    "211112",
    "2111112",
    "21111112",
    "211111112",
    "2111111112",
    "21111111112",
    "211111111112",
    "2111111222222",
    "21112112",
    "21120212",
    "212002112",
    "220000212",
    "2000002112",
    "0000000212",
    "00000002112",
    "00000000212",
    "0000000022",
};

int32_t* Description(uint32_t node)
{
    return mp_disp_description(node);
}

} // namespace

// ---- display ------------------------------------------------------------------------------

uint32_t imDispAlloc(uint32_t thread, uint32_t system, uint32_t board, const char* vcf, uint32_t mode,
                     uint32_t* display)
try {
    Conversation talk;
    _MSG_ST& msg = talk.msg;
    im_msg_start(&msg, kOpDispAlloc, 4, "imDispAlloc");
    const bool trial = thread == kSystemThread;
    const uint32_t target = ((system + 1) & 15) << 4 | ((board + 1) & 15);
    const Caller caller = trial ? Caller{kSystemThread | (target << 16), target} : Caller{thread, NodeOf(thread)};
    const auto finish = [&](uint32_t id) {
        if (display) *display = id;
        im_msg_end(&msg);
        return id;
    };
    im_msg_put_long(&msg, 0, 0);
    im_msg_put_long(&msg, 1, static_cast<int32_t>(system));
    im_msg_put_long(&msg, 2, static_cast<int32_t>(board | (trial ? kDispAllocNoCheck : 0)));
    im_msg_put_long(&msg, 3, static_cast<int32_t>(mode));
    Send(&msg, caller.thread, IM_SYNC_POLL);
    const uint32_t id = im_msg_cmd_error(&msg) == 0 ? Result(&msg, 0) : 0;
    if (!id) return finish(0);
    const uint32_t displayNode = Result(&msg, 1) & 0xFF;
    const uint32_t memoryMiB = Result(&msg, 2);
    const int32_t state = static_cast<int32_t>(Result(&msg, 3));
    bool setUp = Result(&msg, 4) != 0;
    uint32_t storeAddress = HostAddress(displayNode, Result(&msg, 5), Result(&msg, 6));
    const auto fail = [&](int32_t code, const char* text) {
        if (code) im_msg_log_error(&msg, code, text);
        FreeDisplay(caller, id);
        return finish(0);
    };

    if (trial && (displayNode != target || setUp)) {
        FreeDisplay(caller, id);
        return finish(0);
    }
    uint32_t storeId = 0;
    if (state == static_cast<int32_t>(IM_DUAL_SCREEN)) {
        const char* name = vcf ? vcf : im_getenv(displayNode, "VCFNAME");
        char* path = nullptr;
        const int found = name ? im_search_env(displayNode, name, ".vcf", "VCFPATH", "r", &path) : 0;
        if (!found) {
            std::free(path);
            if (trial) return fail(0, nullptr);
            im_print_not_found("video configuration file", name, name ? "VCFPATH" : "VCFNAME",
                               name ? im_getenv(displayNode, "VCFPATH") : nullptr);
            // Only a call that names no file at all is an error; a named file that is not
            // there frees the display (id 0) and is told on the console line above.
            return fail(name ? 0 : HLC_ERR_FILE_ACCESS, name ? nullptr : kTextNoFile);
        }
        auto* params = static_cast<VIDEO_PARAM*>(std::calloc(1, sizeof(VIDEO_PARAM)));
        if (!params) {
            std::free(path);
            return fail(HLC_ERR_NO_RESOURCES, kTextNoHostMemory);
        }
        const int loaded = im_vcf_load_file(path, params);
        std::free(path);
        if (loaded != 0) {
            std::free(params);
            return fail(HLC_ERR_RESTRICTED, kTextExecution);
        }
        if (setUp) {
            const auto* stored = HostPointer<const VIDEO_PARAM>(storeAddress);
            if (mode == kDispAllocDefault && stored && std::memcmp(stored, params, sizeof *params) == 0) {
                std::free(params);
                return finish(id);
            }
            setUp = false;
        }
        if (!storeAddress) {
            _MSG_ST reply{};
            if (!Phase(&talk, "imDispAlloc", kOpDispAlloc, caller, displayNode, {1, displayNode}, &reply) ||
                Result(&reply, 0) == 0) {
                std::free(params);
                return fail(HLC_ERR_RESTRICTED, msg.body.error ? nullptr : kTextExecution);
            }
            storeId = Result(&reply, 0);
            storeAddress = HostAddress(displayNode, Result(&reply, 1), Result(&reply, 2));
        }
        if (!Phase(&talk, "imDispAlloc", kOpDispAlloc, caller, displayNode, {2, displayNode})) {
            std::free(params);
            return fail(0, nullptr);
        }
        im_disp_set_pyx_mode(displayNode, params);
        if (auto* store = HostPointer<VIDEO_PARAM>(storeAddress)) std::memcpy(store, params, sizeof *params);
        std::free(params);
    }
    if (state == kDispStateNone) return finish(id);
    if (setUp && mode != kDispAllocForce) return finish(id);
    int32_t* s = Description(displayNode);
    if (!s) return fail(HLC_ERR_INVALID_PARAMETER, nullptr);
    SetUpController(displayNode, s, memoryMiB, storeId, storeAddress);
    if (!Phase(&talk, "imDispAlloc", kOpDispAlloc, caller, displayNode, {3, displayNode})) return fail(0, nullptr);
    return finish(id);
}
HLC_EXPORT_CATCH(imDispAlloc)

int32_t imDispControl(uint32_t thread, uint32_t display, uint32_t controls, uint32_t type)
try {
    Conversation talk;
    _MSG_ST& msg = talk.msg;
    im_msg_start(&msg, kOpDispControl, 4, "imDispControl");
    const Caller caller{thread, NodeOf(thread)};
    im_msg_put_long(&msg, 0, 0);
    im_msg_put_long(&msg, 1, static_cast<int32_t>(display));
    im_msg_put_long(&msg, 2, static_cast<int32_t>(controls));
    im_msg_put_long(&msg, 3, static_cast<int32_t>(type));
    Send(&msg, thread, IM_SYNC_POLL);
    const auto end = [&] {
        im_msg_end(&msg);
        return im_msg_cmd_error(&msg);
    };
    if (im_msg_cmd_error(&msg) != 0) return end();
    const int32_t flags = static_cast<int32_t>(Result(&msg, 0));
    if (flags == -1) return end();
    const uint32_t node = Result(&msg, 1) & 0xFF;
    const uint32_t block = Result(&msg, 2);
    const auto* info = HostPointer<const _DISP_COM_INFO>(HostAddress(node, Result(&msg, 3), Result(&msg, 4)));
    const auto f = static_cast<uint32_t>(flags);
    bool ok = info != nullptr;
    if (ok && type == 2) ok = Phase(&talk, "imDispControl", kOpDispControl, caller, node, {4, node});
    if (ok) {
        if (f & DISP_CHANGE_KEY)
            im_disp_key(node, static_cast<uint32_t>(info->Key[1]), static_cast<uint32_t>(info->Key[0]),
                        static_cast<uint32_t>(info->Mode));
        if (f & DISP_CHANGE_FORMAT) im_disp_mode_select(node, static_cast<uint32_t>(info->Format));
        if (f & DISP_CHANGE_LUT) im_disp_lut(node, info);
        if (f & DISP_CHANGE_CRTC_PAN) im_disp_pan(node, info);
        if (f & DISP_CHANGE_ZOOM) {
            ok = Phase(&talk, "imDispControl", kOpDispControl, caller, node, {1, node});
            if (ok) im_disp_zoom(node, info);
        }
        if (ok && (f & DISP_CHANGE_ENABLE)) im_disp_overlay_mode_select(node, info);
    }
    // The final phase also ends a failed control, so that the block is freed.
    const uint32_t applied = ok ? f : static_cast<uint32_t>(-1);
    if (node == caller.node) {
        Phase(&talk, "imDispControl", kOpDispControl, caller, node, {2, applied, block, node});
    } else {
        Phase(&talk, "imDispControl", kOpDispControl, caller, node, {3, applied, block, node});
        imBufFree(kSystemThread | (node << 16), block);
    }
    return end();
}
HLC_EXPORT_CATCH(imDispControl)

int32_t imDispInquire(uint32_t thread, uint32_t display, uint32_t type, int32_t* value)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpDispInquire, 2, "imDispInquire");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(display));
    im_msg_put_long(&msg, 1, static_cast<int32_t>(type));
    Send(&msg, thread, IM_SYNC_POLL);
    const int32_t result = im_msg_cmd_error(&msg) == 0 ? static_cast<int32_t>(Result(&msg, 0)) : 0;
    im_msg_end(&msg);
    if (value) *value = result;
    return result;
}
HLC_EXPORT_CATCH(imDispInquire)

int32_t imDispFree(uint32_t thread, uint32_t display)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpDispFree, 1, "imDispFree");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(display));
    if (thread == kSystemThread) thread |= display & 0xFF0000u;
    Send(&msg, thread, IM_SYNC_NOWAIT);
    im_msg_end(&msg);
    return im_msg_cmd_error(&msg);
}
HLC_EXPORT_CATCH(imDispFree)

// ---- cursor -----------------------------------------------------------------------------

void im_cur_builtin(IM_CURSOR_ST* c)
{
    std::memset(c->plane, 0, sizeof c->plane);
    for (uint32_t y = 0; y < sizeof kArrow / sizeof kArrow[0]; ++y)
        for (uint32_t x = 0; kArrow[y][x]; ++x) PutPixel(c, x, y, static_cast<uint32_t>(kArrow[y][x] - '0'));
    c->colour[0] = 0x000000;
    c->colour[1] = 0xFFFFFF;
    c->colour[2] = 0x000000;
    c->colour[3] = 0x000000;
    c->hotX = c->hotY = 0;
}

int32_t imCurAlloc(uint32_t, uint32_t mode, void** record)
try {
    auto* c = static_cast<IM_CURSOR_ST*>(std::calloc(1, sizeof(IM_CURSOR_ST)));
    if (record) *record = c;
    if (!c) return HLC_ERR_NO_RESOURCES;
    c->mode = mode == kDispAllocDefault ? 1 : (mode & 3);
    return 0;
}
HLC_EXPORT_CATCH(imCurAlloc)

int32_t imCurFree(uint32_t, void* record)
try {
    std::free(record);
    return 0;
}
HLC_EXPORT_CATCH(imCurFree)

int32_t imCurDefine(uint32_t, void* record, uint32_t width, uint32_t height, uint32_t hotX, uint32_t hotY,
                    const uint8_t* pixels)
try {
    auto* c = static_cast<IM_CURSOR_ST*>(record);
    if (!c) return 0;
    if (width > kCursorSide || height > kCursorSide || (!pixels && width * height != 0)) {
        // The image planes hold 64 x 64 pixels: a larger image is refused whole, and so
        // is an image without its pixels.
        _MSG_ST msg{};
        im_msg_start(&msg, 0, 0, "imCurDefine");
        im_msg_log_error(&msg, HLC_ERR_INVALID_PARAMETER, nullptr);
        im_msg_end(&msg);
        return HLC_ERR_INVALID_PARAMETER;
    }
    c->width = width;
    c->height = height;
    c->hotX = hotX;
    c->hotY = hotY;
    const uint32_t outside = c->mode == 2 ? 2 : 0;
    for (uint32_t y = 0; y < kCursorSide; ++y)
        for (uint32_t x = 0; x < kCursorSide; ++x)
            PutPixel(c, x, y, x < width && y < height ? pixels[y * width + x] & 3u : outside);
    return 0;
}
HLC_EXPORT_CATCH(imCurDefine)

int32_t imCurSetColor(uint32_t thread, void* record, uint32_t index, uint32_t red, uint32_t green, uint32_t blue)
try {
    const uint32_t rgb = (red & 0xFF) << 16 | (green & 0xFF) << 8 | (blue & 0xFF);
    if (auto* c = static_cast<IM_CURSOR_ST*>(record))
        c->colour[index & 3] = rgb;
    else
        DacWriteRegisterByLong(CursorNode(thread), DAC_CURSOR_COLOUR_FIRST + (index & 3), rgb);
    return 0;
}
HLC_EXPORT_CATCH(imCurSetColor)

int32_t imCurSelect(uint32_t thread, const void* record)
try {
    const uint32_t node = CursorNode(thread);
    IM_CURSOR_ST builtin{};
    const IM_CURSOR_ST* c = static_cast<const IM_CURSOR_ST*>(record);
    if (!c) {
        im_cur_builtin(&builtin);
        c = &builtin;
    }
    const int32_t* s = Description(node);
    uint32_t control = DacReadRegisterByByte(node, kDacCursorControl);
    if (s && s[DISP_STATE_WIDTH] > 1280)
        control |= kCursorWideBit;
    else
        control &= ~kCursorWideBit;
    DacWriteRegisterByByte(node, kDacCursorControl, control & ~0x0Cu);
    PyxWriteRegisterByByte(node, kChipDacAddress, 0);
    for (const auto& plane : c->plane)
        for (const uint8_t byte : plane) PyxWriteRegisterByByte(node, kChipCursorRam, byte);
    DacWriteRegisterByByte(node, kDacCursorControl, control);
    for (uint32_t i = 1; i < 4; ++i) DacWriteRegisterByLong(node, DAC_CURSOR_COLOUR_FIRST + i, c->colour[i]);
    DacWriteRegisterByByte(node, kDacCursorHotX, c->hotX);
    DacWriteRegisterByByte(node, kDacCursorHotY, c->hotY);
    return 0;
}
HLC_EXPORT_CATCH(imCurSelect)

int32_t imCurEnable(uint32_t thread, int32_t mode)
try {
    const uint32_t node = CursorNode(thread);
    const uint32_t m = mode == kEnableOff ? 0u : mode == kEnableOn ? 1u : static_cast<uint32_t>(mode) & 3;
    const _NODE_MAIN_RESOURCE_ST* r = mp_sys_node_resource_ptr(node);
    const uint32_t regs = r ? mp_adr_dorlo_reg(r) : 0;
    const bool interlace = regs && (HwRead32(regs, kOrloDisplayControl) & 0x10);
    const uint32_t control = m | (DacReadRegisterByByte(node, kDacCursorControl) & 0xDC) | (interlace ? 0x20 : 0);
    DacWriteRegisterByByte(node, kDacCursorControl, control);
    return 0;
}
HLC_EXPORT_CATCH(imCurEnable)

int32_t imCurSetPosition(uint32_t thread, int32_t x, int32_t y)
try {
    const uint32_t node = CursorNode(thread);
    const int32_t* s = Description(node);
    const int32_t panX = s ? s[DISP_STATE_PAN_X] : 0, panY = s ? s[DISP_STATE_PAN_Y] : 0;
    const int32_t zoomY = s ? s[DISP_STATE_ZOOM_Y] : 1;
    const auto hotX = static_cast<int32_t>(DacReadRegisterByByte(node, kDacCursorHotX));
    const auto hotY = static_cast<int32_t>(DacReadRegisterByByte(node, kDacCursorHotY));
    const int32_t low = x - hotX - (panX & ~3) + 64;
    const int32_t high = (y - panY) * zoomY - hotY + 64;
    PyxWriteRegisterByLong(node, kChipCursorPosition,
                           (static_cast<uint32_t>(low) & 0xFFFF) | (static_cast<uint32_t>(high) & 0xFFFF) << 16);
    return 0;
}
HLC_EXPORT_CATCH(imCurSetPosition)

int32_t imCurGetPosition(uint32_t thread, int32_t* x, int32_t* y)
try {
    const uint32_t node = CursorNode(thread);
    const int32_t* s = Description(node);
    const int32_t panX = s ? s[DISP_STATE_PAN_X] : 0, panY = s ? s[DISP_STATE_PAN_Y] : 0;
    // Before a mode is set the zoom is 0: the position is then taken unzoomed.
    int32_t zoomY = s ? s[DISP_STATE_ZOOM_Y] : 1;
    if (zoomY <= 0) zoomY = 1;
    const uint32_t position = PyxReadRegisterByLong(node, kChipCursorPosition);
    const auto hotX = static_cast<int32_t>(DacReadRegisterByByte(node, kDacCursorHotX));
    const auto hotY = static_cast<int32_t>(DacReadRegisterByByte(node, kDacCursorHotY));
    const int32_t gx = static_cast<int32_t>(position & 0xFFFF) + hotX + (panX & ~3) - 64;
    const int32_t gy = (static_cast<int32_t>(position >> 16) + hotY - 64) / zoomY + panY;
    if (x) *x = gx;
    if (y) *y = gy;
    return gy;
}
HLC_EXPORT_CATCH(imCurGetPosition)
