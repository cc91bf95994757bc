// Host handlers of the display commands.
#include "disphandlers.h"

#include "cmdserver.h"
#include "reqres.h"

#include "bufid.h"
#include "disprequest.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "nodelist.h"
#include "predef.h"
#include "regaccess.h"

#include <cstring>

namespace {

constexpr uint32_t kValidDisplay = kBufKindDisplay;
constexpr uint32_t kValidImageAny = 0xC0000001u;
constexpr uint32_t kDisplayObjectBytes = 4;
constexpr uint32_t kDisplayStartMask = 0x1FFFFF;

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

uint32_t Param(const _MSG_BODY_ST* msg, uint32_t slot)
{
    return mp_msg_param(msg, slot);
}

void PutLong(_MSG_BODY_ST* msg, uint32_t slot, uint32_t value)
{
    mp_msg_put_reply(msg, slot, value);
}

template <typename Work>
void Serve(_MSG_BODY_ST* msg, const char* name, Work work)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, name);
    if (mp_res_ok(res)) work(res);
    mp_res_free(res);
}

// A live display object named by an id; null for anything else.
_MP_BUF_ST* DisplayObject(uint32_t id)
{
    _MP_BUF_ST* b = mp_buf_pointer(id);
    if (!mp_buf_valid(b, kValidDisplay) || Word(b) < kPredefEntries) return nullptr;
    return b;
}

// A display given as 0 (the system's first display) or as a display object; false with
// -1 logged for any other id.
bool OptionalDisplay(MP_RESOURCE_ST* res, uint32_t id, _MP_BUF_ST** display)
{
    *display = nullptr;
    if (id == 0) return true;
    *display = DisplayObject(id);
    if (*display) return true;
    _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
    return false;
}

// A one-band buffer of the node in the descriptor heap; its id, or 0 (freed again).
_MP_BUF_ST* SmallBuffer(uint32_t node, uint32_t bytes, uint32_t type, uint32_t kind, uint32_t* id)
{
    *id = 0;
    _MP_BUF_ST* b = mp_buf_alloc_on_node(node, static_cast<int32_t>(bytes), 1, 1, type, kLocInline);
    if (!b) return nullptr;
    b->kind = kind;
    *id = mp_buf_alloc_id(b);
    if (!*id || !mp_buf_address_band_internal(b, 0)) {
        mp_buf_free(b);
        *id = 0;
        return nullptr;
    }
    return b;
}

// The address of a buffer's band 0 as the caller is to take it: the bus address when
// the descriptor says its addresses are bus addresses.
uint32_t BandAddress(const _MP_BUF_ST* b)
{
    if (b->boardSpace && b->bandTable) return b->bandTable[0].physical;
    return Word(mp_buf_address_band_internal(b, 0));
}

bool IsDisplayNodeOf(uint32_t system, uint32_t node)
{
    for (uint32_t i = 0;; ++i) {
        uint32_t n = 0;
        if (mp_disp_get_node_id(system, i, &n) != 0) return false;
        if (n == node) return true;
    }
}

// Stops the display Orlo's video path, or starts it again with the description's key
// colour and width.
void VideoPath(uint32_t node, const int32_t* s, bool run)
{
    uint32_t token = 0;
    SetToOrlo(node, 1, &token);
    HwRegCtrl_ST* c = HwRegCtrl;
    const auto change = [c](uint32_t offset, uint32_t clear, uint32_t set) {
        if (!c || !c->shadow || !c->regs) return;
        auto* slot = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(c->shadow + offset));
        slot[1] &= ~(kShadowWritten | kShadowListMode);
        slot[0] = (slot[0] & ~clear) | set;
        SetShInHw(slot);
    };
    if (!run) {
        change(kOrloMemControl, kDispPathEnable, 0);
        change(kOrloDisplayControl, kDispControlVideoOn, 0);
    } else {
        change(kOrloMemControl, 0, kDispPathEnable);
        change(kOrloDisplayControl, 0x80 | kDispControlZoomCode, kDispControlVideoOn);
        change(kOrloDisplayStart, kDisplayStartMask, 0);
        change(kOrloDisplayKey, 0xFFFFFFFFu, static_cast<uint32_t>(s[DISP_STATE_KEY_COLOUR]));
        const uint32_t width = static_cast<uint32_t>(s[DISP_STATE_WIDTH]);
        change(kOrloDisplayPitch, kDisplayStartMask, (width == 800 ? 960u : width) & kDisplayStartMask);
    }
    ReleaseAccessOrlo();
}

void AllocObject(MP_RESOURCE_ST* res, _MSG_BODY_ST* msg)
{
    const uint32_t system = Param(msg, 1);
    const uint32_t boardWord = Param(msg, 2);
    PutLong(msg, 0, 0);
    const uint32_t board = boardWord & ~kDispAllocNoCheck;
    const uint32_t node = ((system + 1) & 15) << 4 | ((board + 1) & 15);
    if (system > 14 || board > 14 || !mp_sys_node_resource_ptr(node) ||
        (!(boardWord & kDispAllocNoCheck) && !IsDisplayNodeOf(system, node))) {
        _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
        return;
    }
    int32_t* s = mp_disp_description(node);
    if (!s) {
        _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
        return;
    }
    // A node without a display of its own shows board 0's display.
    uint32_t first = 0;
    if (s[DISP_STATE_DISPLAY_MODE] == kDispStateNone && mp_disp_get_node_id(system, 0, &first) == 0 &&
        (first & 0xF) == 1 && first != node) {
        if (int32_t* own = mp_disp_description(res->node)) {
            if (const int32_t* shown = mp_disp_description(first)) {
                std::memcpy(own + kDispDescriptionWord, shown + kDispDescriptionWord, kDispDescriptionWords * 4);
                own[DISP_STATE_DISPLAY_MODE] = kDispStateNone;
                own[DISP_STATE_FILLED] = 1;
                mp_init_predef_buffers(res->node, res->node);
            }
        }
    }
    uint32_t id = 0;
    _MP_BUF_ST* b = SmallBuffer(res->node, kDisplayObjectBytes, 8, kBufKindDisplay, &id);
    if (!b) {
        _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
        return;
    }
    *static_cast<uint32_t*>(mp_buf_address_band_internal(b, 0)) = node;
    const _NODE_MAIN_RESOURCE_ST* r = mp_sys_node_resource_ptr(node);
    PutLong(msg, 0, id);
    PutLong(msg, 1, node);
    PutLong(msg, 2, r ? r->displayMemoryWord >> 20 : 0);
    PutLong(msg, 3, static_cast<uint32_t>(s[DISP_STATE_DISPLAY_MODE]));
    PutLong(msg, 4, static_cast<uint32_t>(s[DISP_STATE_SETUP]));
    PutLong(msg, 5, static_cast<uint32_t>(s[DISP_STATE_STORE]));
    PutLong(msg, 6, b->boardSpace);
}

void AllocStore(MP_RESOURCE_ST* res, _MSG_BODY_ST* msg)
{
    PutLong(msg, 0, 0);
    uint32_t id = 0;
    _MP_BUF_ST* b = SmallBuffer(res->node, kDispStoreBytes, 8, kBufKindImage, &id);
    if (!b) {
        _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
        return;
    }
    PutLong(msg, 0, id);
    PutLong(msg, 1, BandAddress(b));
    PutLong(msg, 2, b->boardSpace);
}

} // namespace

void mp_DispAlloc(_MSG_BODY_ST* msg)
{
    Serve(msg, "DispAlloc", [msg](MP_RESOURCE_ST* res) {
        const uint32_t phase = Param(msg, 0);
        const uint32_t node = Param(msg, 1) & 0xFF;
        switch (phase) {
        case 0: AllocObject(res, msg); break;
        case 1: AllocStore(res, msg); break;
        case 2:
            if (node == (res->node & 0xFF)) VideoPath(node, mp_disp_description(node), false);
            break;
        case 3: {
            const int32_t* s = mp_disp_description(node);
            const _NODE_MAIN_RESOURCE_ST* r = mp_sys_node_resource_ptr(node);
            if (s && r && r->nodeState && r->nodeState->displayBlock[1]) {
                const double start = mp_time_clock(0.0);
                while (mp_time_clock(start) < kDispRestartDelay) mp_time_sleep(0.0);
                VideoPath(node, s, true);
            }
            if (mp_init_predef_buffers(res->node, node) != 0) _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
            break;
        }
        default: _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr); break;
        }
    });
}

void mp_DispControl(_MSG_BODY_ST* msg)
{
    Serve(msg, "DispControl", [msg](MP_RESOURCE_ST* res) {
        const uint32_t phase = Param(msg, 0);
        if (phase == 0) {
            const uint32_t displayId = Param(msg, 1), controlsId = Param(msg, 2), type = Param(msg, 3);
            PutLong(msg, 0, static_cast<uint32_t>(-1));
            _MP_BUF_ST* display = nullptr;
            if (!OptionalDisplay(res, displayId, &display)) return;
            _MP_BUF_ST* controls = nullptr;
            if (controlsId) {
                controls = mp_buf_pointer(controlsId);
                if (!mp_buf_valid(controls, kValidImageAny) || Word(controls) < kPredefEntries) {
                    _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
                    return;
                }
            }
            uint32_t blockId = 0;
            _MP_BUF_ST* block = SmallBuffer(res->node, kDispBlockBytes, kDispBlockType, kBufKindImage, &blockId);
            if (!block) {
                _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
                return;
            }
            auto* info = static_cast<_DISP_COM_INFO*>(mp_buf_address_band_internal(block, 0));
            std::memset(info, 0, sizeof *info);
            int32_t mask = -1;
            uint32_t node = 0;
            mpDispControl(res, display, controls, info, type, 0, &mask, &node);
            PutLong(msg, 0, static_cast<uint32_t>(mask));
            PutLong(msg, 1, node);
            if (mask == -1) {
                // Nothing for the caller to apply: the block is not handed out.
                mp_buf_free(block);
                return;
            }
            PutLong(msg, 2, blockId);
            PutLong(msg, 3, BandAddress(block));
            PutLong(msg, 4, block->boardSpace);
            return;
        }
        if (phase == 1 || phase == 4) {
            uint32_t node = Param(msg, 1) & 0xFF;
            mpDispControl(res, nullptr, nullptr, nullptr, 0, phase, nullptr, &node);
            return;
        }
        if (phase == 2 || phase == 3) {
            int32_t mask = static_cast<int32_t>(Param(msg, 1));
            const uint32_t blockId = Param(msg, 2);
            uint32_t node = Param(msg, 3) & 0xFF;
            _MP_BUF_ST* block = mp_buf_pointer(blockId);
            if (!mp_buf_valid(block, kValidImageAny) || Word(block) < kPredefEntries ||
                block->pitch < sizeof(_DISP_COM_INFO)) {
                _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
                return;
            }
            auto* info = static_cast<_DISP_COM_INFO*>(mp_buf_address_band_internal(block, 0));
            mpDispControl(res, nullptr, nullptr, info, 0, phase, &mask, &node);
            if (phase == 2) mp_buf_free(block);
            return;
        }
        _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
    });
}

void mp_DispFree(_MSG_BODY_ST* msg)
{
    Serve(msg, "DispFree", [msg](MP_RESOURCE_ST* res) {
        _MP_BUF_ST* display = DisplayObject(Param(msg, 0));
        if (!display) {
            _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
            return;
        }
        mp_buf_free(display);
    });
}

void mp_DispInquire(_MSG_BODY_ST* msg)
{
    Serve(msg, "DispInquire", [msg](MP_RESOURCE_ST* res) {
        const uint32_t displayId = Param(msg, 0), type = Param(msg, 1);
        _MP_BUF_ST* display = nullptr;
        if (!OptionalDisplay(res, displayId, &display)) return;
        int32_t value = 0;
        if (mpDispInquire(res, display, type, &value) == 0) PutLong(msg, 0, static_cast<uint32_t>(value));
    });
}

void mp_disp_install()
{
    mp_server_set_handler(kOpDispAlloc, mp_DispAlloc);
    mp_server_set_handler(kOpDispControl, mp_DispControl);
    mp_server_set_handler(kOpDispFree, mp_DispFree);
    mp_server_set_handler(kOpDispInquire, mp_DispInquire);
}
