#include "disprequest.h"

#include "bufchild.h"
#include "bufid.h"
#include "disphooks.h"
#include "hosthooks.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "intserver.h"
#include "nodelist.h"
#include "regaccess.h"
#include "reqres.h"
#include "servinfo.h"
#include "task.h"

#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

constexpr uint32_t kValidImageAny = 0xC0000001u;
constexpr uint32_t kDisplayPitchMask = 0x1FFFFF;   // low 21 bits of the start and pitch registers

// The display Orlo of a node selected under its protect lock for the life of the object.
class DisplayOrlo {
public:
    explicit DisplayOrlo(uint32_t node) { SetToOrlo(node & 0xFF, 1, &token_); }
    ~DisplayOrlo() { ReleaseAccessOrlo(); }
    DisplayOrlo(const DisplayOrlo&) = delete;
    DisplayOrlo& operator=(const DisplayOrlo&) = delete;

    uint32_t value(uint32_t offset) const
    {
        const uint32_t* s = Slot(offset);
        return s ? s[0] : 0;
    }
    // value := (value & ~clear) | set, written to the register at once.
    void change(uint32_t offset, uint32_t clear, uint32_t set)
    {
        uint32_t* s = Slot(offset);
        if (!s) return;
        s[1] &= ~(kShadowWritten | kShadowListMode);
        s[0] = (s[0] & ~clear) | set;
        SetShInHw(s);
    }

private:
    static uint32_t* Slot(uint32_t offset)
    {
        const HwRegCtrl_ST* c = HwRegCtrl;
        if (!c || !c->shadow || !c->regs || offset >= kOrloShadowBytes) return nullptr;
        return reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(c->shadow + offset));
    }
    uint32_t token_ = 0;
};

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

int32_t ZoomCode(int32_t zoom)
{
    return zoom == 4 ? 3 : zoom == 2 ? 1 : 0;
}

bool Field(const _MP_BUF_ST* controls, uint32_t key, int32_t* value)
{
    return controls && mp_buf_get_field(controls, key, value) == 0;
}

// The palette of a control: a grey ramp for 0, else the entries of a buffer of one of the
// layouts below.  False when the buffer is none of them.
bool Palette(int32_t id, _DISP_COM_INFO* info)
{
    if (id == 0) {
        info->Grey = 1;
        info->Count = 256;
        return true;
    }
    const _MP_BUF_ST* b = mp_buf_pointer(static_cast<uint32_t>(id));
    if (!mp_buf_valid(b, kValidImageAny) || Word(b) < kPredefEntries || b->sizeX <= 0 || b->sizeY <= 0) return false;
    const bool threeBands = b->bands == 3 && b->bits == 8;
    const bool wide = b->bands == 1 && (b->bits == 24 || b->bits == 32);
    const bool grey = b->bands == 1 && b->bits == 8;
    if (!threeBands && !wide && !grey) return false;
    const uint64_t pixels = static_cast<uint64_t>(b->sizeX) * static_cast<uint32_t>(b->sizeY);
    const int32_t count = pixels > 256 ? 256 : static_cast<int32_t>(pixels);
    info->Grey = 0;
    info->Count = count;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t x = i % b->sizeX, y = i / b->sizeX;
        for (uint32_t k = 0; k < 3; ++k) {
            int32_t v;
            if (threeBands)
                v = mp_buf_get_pix(b, k, x, y);
            else if (wide)
                v = static_cast<int32_t>((static_cast<uint32_t>(mp_buf_get_pix(b, 0, x, y)) >> (8 * k)) & 0xFF);
            else
                v = mp_buf_get_pix(b, 0, x, y);
            info->Lut[k][i] = v & 0xFF;
        }
    }
    return true;
}

// The video record phase 0 works with: the stored parameters when the display has them,
// else a copy made from the node state (owned by *copy).
const VIDEO_PARAM* VideoRecord(const int32_t* s, VIDEO_PARAM** copy)
{
    *copy = nullptr;
    if (s[DISP_STATE_DISPLAY_MODE] == IM_DUAL_SCREEN || s[DISP_STATE_SETUP] >= 2) {
        const _MP_BUF_ST* store = mp_buf_pointer(static_cast<uint32_t>(s[DISP_STATE_SETUP]));
        if (mp_buf_valid(store, 0) && Word(store) >= kPredefEntries && store->pitch * store->sizeY >= sizeof(VIDEO_PARAM))
            if (const void* p = mp_buf_address_band_internal(store, 0)) return static_cast<const VIDEO_PARAM*>(p);
    }
    auto* v = static_cast<VIDEO_PARAM*>(std::calloc(1, sizeof(VIDEO_PARAM)));
    if (!v) return nullptr;
    v->InfoXSize = s[DISP_STATE_WIDTH];
    v->InfoYSize = s[DISP_STATE_HEIGHT];
    v->InfoMode = 1;
    v->InfoDepth = 8;
    v->InfoBand = 1;
    std::memcpy(&v->Video, s + DISP_STATE_VIDEO, sizeof v->Video);
    *copy = v;
    return v;
}

// Phase 0.  False (logged) at the first control refused.
bool Record(MP_RESOURCE_ST* res, const int32_t* s, const _MP_BUF_ST* controls, _DISP_COM_INFO* info, uint32_t node,
            int32_t* mask)
{
    const bool dualScreen = s[DISP_STATE_DISPLAY_MODE] == IM_DUAL_SCREEN;
    VIDEO_PARAM* copy = nullptr;
    const VIDEO_PARAM* video = VideoRecord(s, &copy);
    const auto refuse = [&](int32_t code, const char* text) {
        _mp_res_log_error(res, code, text);
        std::free(copy);
        return false;
    };
    int32_t v = 0;
    uint32_t m = 0;
    if (Field(controls, IM_DISP_SELECT, &v)) {
        const _MP_BUF_ST* b = nullptr;
        if (v != 0) {
            b = mp_buf_pointer(static_cast<uint32_t>(v));
            if (!mp_buf_valid(b, kValidImageAny) || Word(b) < kPredefEntries)
                return refuse(HLC_ERR_INVALID_BUFFER, nullptr);
            if (b->location == kLocSdram || b->location == kLocHostDma)
                return refuse(HLC_ERR_BUFFER_ATTRIBUTE, nullptr);
        }
        const uint32_t bytes = b && b->bits > 8 ? (b->bits + 7) / 8 : 1;
        info->Start = b ? static_cast<int32_t>(b->pitch / bytes * static_cast<uint32_t>(b->offsetY) +
                                               static_cast<uint32_t>(b->offsetX))
                        : 0;
        info->BufferId = v;
        m |= DISP_CHANGE_START | DISP_CHANGE_LOCK;
    }
    if (Field(controls, IM_DISP_ENABLE, &v)) {
        if (v != kDispEnabled && v != kDispDisabled) return refuse(HLC_ERR_INVALID_PARAMETER, kDispTextBadParameter);
        info->Enable = v;
        m |= DISP_CHANGE_ENABLE;
    }
    if (Field(controls, IM_DISP_KEY_MODE, &v)) {
        if (v < 2 || v > 5) return refuse(HLC_ERR_INVALID_PARAMETER, kDispTextBadParameter);
        int32_t key = 0, keyMask = 0;
        const bool haveMask = Field(controls, IM_DISP_KEY_MASK, &keyMask);
        const bool haveKey = Field(controls, IM_DISP_KEY_VALUE, &key);
        if (v >= 4 && (!haveKey || !haveMask || key < 0 || key > 255 || keyMask < 0 || keyMask > 255))
            return refuse(HLC_ERR_INVALID_PARAMETER, kDispTextBadParameter);
        info->Mode = v;
        info->Key[0] = keyMask;
        info->Key[1] = key;
        m |= DISP_CHANGE_KEY;
    }
    if (Field(controls, IM_DISP_LUT, &v)) {
        if (!Palette(v, info)) return refuse(HLC_ERR_INVALID_PARAMETER, kDispTextBadParameter);
        m |= DISP_CHANGE_LUT;
    }
    if (Field(controls, IM_DISP_FORMAT, &v)) {
        const uint32_t f = static_cast<uint32_t>(v);
        const bool known = f == 0x40000020u || f == 0x40000030u || f == 0x40000040u || f == 0x40000050u ||
                           f == 0x40000060u || (f == 0x40000002u && !dualScreen);
        if (!known) return refuse(HLC_ERR_INVALID_PARAMETER, kDispTextBadParameter);
        info->Format = v;
        m |= DISP_CHANGE_FORMAT;
    }
    for (const uint32_t type : {IM_DISP_PAN_X, IM_DISP_PAN_Y}) {
        if (!Field(controls, type, &v)) continue;
        (type == IM_DISP_PAN_X ? info->PanX : info->PanY) = v;
        m |= DISP_CHANGE_LOCK | (type == IM_DISP_PAN_X ? DISP_CHANGE_PAN_X : DISP_CHANGE_PAN_Y);
        if (dualScreen) {
            info->SavedCrtcExt0 = video ? video->Video.CrtcExt[0] : 0;
            info->Width = s[DISP_STATE_WIDTH];
            m |= DISP_CHANGE_CRTC_PAN;
        }
    }
    if (Field(controls, IM_DISP_KEY_COLOUR, &v)) {
        info->Word13 = v;
        m |= DISP_CHANGE_KEY_COLOUR | DISP_CHANGE_LOCK;
    }
    if (Field(controls, IM_DISP_ZOOM, &v)) {
        if (v != 1 && v != 2 && v != 4) return refuse(HLC_ERR_INVALID_PARAMETER, kDispTextBadParameter);
        if (!video) v = 1;
        info->ZoomX = info->ZoomY = v;
        mp_disp_zoom(node, node, video, info);
        m |= DISP_CHANGE_ZOOM | DISP_CHANGE_LOCK;
    }
    if (Field(controls, IM_DISP_ZOOM_CODE, &v)) {
        info->ZoomY = v;
        m |= DISP_CHANGE_ZOOM_CODE | DISP_CHANGE_LOCK;
    }
    std::free(copy);
    *mask = static_cast<int32_t>(m);
    return true;
}

// Phases 2 and 3.
void Apply(int32_t* s, const _DISP_COM_INFO* info, uint32_t node, uint32_t mask)
{
    const bool locked = mask & DISP_CHANGE_LOCK;
    std::optional<DisplayOrlo> held;
    DisplayOrlo* orlo = nullptr;
    if (locked) {
        orlo = &held.emplace(node);
        if (mask & DISP_CHANGE_ZOOM) orlo->change(kOrloMemControl, 0, kDispPathEnable);
    }
    if (mask & DISP_CHANGE_START) {
        if (orlo) orlo->change(kOrloDisplayStart, kDisplayPitchMask, static_cast<uint32_t>(info->Start) & kDisplayPitchMask);
        s[DISP_STATE_START] = info->Start;
    }
    if (mask & DISP_CHANGE_KEY) {
        s[DISP_STATE_MODE] = info->Mode;
        s[DISP_STATE_MODE + 1] = info->Key[0];
        s[DISP_STATE_MODE + 2] = info->Key[1];
    }
    if (mask & DISP_CHANGE_FORMAT) s[DISP_STATE_FORMAT] = info->Format;
    if (mask & DISP_CHANGE_ENABLE) s[DISP_STATE_ENABLE] = info->Enable;
    if (mask & (DISP_CHANGE_PAN_X | DISP_CHANGE_PAN_Y)) {
        const uint32_t pitch = orlo ? orlo->value(kOrloDisplayPitch) & kDisplayPitchMask : 0;
        const uint32_t start = pitch * static_cast<uint32_t>(info->PanY) + static_cast<uint32_t>(info->PanX);
        if (orlo) orlo->change(kOrloDisplayStart, 0xFFFFFFFFu, start);
        s[DISP_STATE_START] = static_cast<int32_t>(start);
        s[DISP_STATE_PAN_X] = info->PanX;
        s[DISP_STATE_PAN_Y] = info->PanY;
    }
    if (mask & DISP_CHANGE_KEY_COLOUR) {
        if (orlo) orlo->change(kOrloDisplayKey, 0xFFFFFFFFu, static_cast<uint32_t>(info->Word13));
        s[DISP_STATE_13008] = info->Word13;
    }
    if (mask & DISP_CHANGE_ZOOM) {
        if (orlo)
            orlo->change(kOrloDisplayControl, kDispControlZoomCode,
                         static_cast<uint32_t>(ZoomCode(info->ZoomY)) | kDispControlVideoOn);
        s[DISP_STATE_ZOOM_X] = info->ZoomY;
        s[DISP_STATE_ZOOM_Y] = info->ZoomY;
    }
    if (mask & DISP_CHANGE_ZOOM_CODE) {
        if (orlo) orlo->change(kOrloDisplayControl, kDispControlZoomCode, static_cast<uint32_t>(ZoomCode(info->ZoomY)));
        s[DISP_STATE_ZOOM_Y] = info->ZoomY;
    }
}

// Phase 4: the display restarts at its last line; the wait for the line's interrupt is
// bounded.  False when it did not come in time.
bool RestartAtVerticalSync(int32_t* s, uint32_t node)
{
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node & 0xFF);
    SERVINFO_ST* serv = record ? mp_servinfo(record, 1) : nullptr;
    const int32_t sema = serv ? serv->displayLineSema : 0;
    DisplayOrlo orlo(node);
    if (sema) TaskResetSema(sema);
    uint32_t line = static_cast<uint32_t>(s[DISP_STATE_HEIGHT]);
    if (orlo.value(kOrloDisplayControl) & kDispControlInterlace) line /= 2;
    orlo.change(kOrloDisplayLine, 0xFFF, line & 0xFFF);
    orlo.change(kOrloDisplayControl, kDispControlRestartNow, kDispControlRestart);
    bool came = false;
    if (sema) {
        const double start = mp_time_clock(0.0);
        while (!(came = TaskCheckSema(sema) == 1) && mp_time_clock(start) < kDispVsyncWaitSeconds) mp_time_sleep(0.0);
    }
    orlo.change(kOrloDisplayControl, kDispControlRestart | kDispControlRestartNow, 0);
    return came;
}

} // namespace

int32_t* mp_disp_description(uint32_t node)
{
    HlcDisplayLink* link = HlcGetDisplayHooks().displayLink(node & 0xFF);
    if (!link || !link->state) return nullptr;
    int32_t* s = link->state;
    if (s[DISP_STATE_FILLED] != 1) {
        int32_t state = kDispStateNone;
        if (link->isDisplay) {
            // The display mode the ini file gives the node (its [Node] record's, as the
            // rewrite found it on the desktop); single screen without one.
            int32_t mode = 0;
            state = HlcGetHostHooks().iniReadInt(node & 0xFF, "DisplayMode", &mode) == 0
                        ? mode
                        : static_cast<int32_t>(IM_SINGLE_SCREEN);
        }
        s[DISP_STATE_DISPLAY_MODE] = state;
        s[DISP_STATE_FILLED] = 1;
    }
    return s;
}

uint32_t mp_disp_object_node(const _MP_BUF_ST* display)
{
    if (!display || display->kind != kBufKindDisplay) return 0;
    const auto* word = static_cast<const uint32_t*>(mp_buf_address_band_internal(display, 0));
    return word ? *word & 0xFF : 0;
}

int mpDispControl(MP_RESOURCE_ST* res, _MP_BUF_ST* display, _MP_BUF_ST* controls, _DISP_COM_INFO* info,
                  uint32_t /*type*/, uint32_t phase, int32_t* mask, uint32_t* node)
{
    if (phase == 0) {
        if (mask) *mask = -1;
        uint32_t n = display ? mp_disp_object_node(display) : 0;
        if (!display) {
            const uint32_t system = ((res ? res->node : 0) >> 4 & 0xF) - 1;
            if (mp_disp_get_node_id(system, 0, &n) != 0) {
                _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, kDispTextBadNode);
                return -1;
            }
        }
        if (node) *node = n;
        int32_t* s = n ? mp_disp_description(n) : nullptr;
        if (!s || !info || s[DISP_STATE_DISPLAY_MODE] == kDispStateNone) {
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, kDispTextBadNode);
            return -1;
        }
        info->PanX = s[DISP_STATE_PAN_X];
        info->PanY = s[DISP_STATE_PAN_Y];
        info->CurrentZoomX = s[DISP_STATE_ZOOM_X];
        info->CurrentZoomY = s[DISP_STATE_ZOOM_Y];
        int32_t m = -1;
        if (!Record(res, s, controls, info, n, &m)) return -1;
        if (mask) *mask = m;
        return 0;
    }
    const uint32_t n = node ? *node & 0xFF : 0;
    int32_t* s = n ? mp_disp_description(n) : nullptr;
    if (!s || s[DISP_STATE_DISPLAY_MODE] == kDispStateNone) {
        _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, kDispTextBadParameter);
        return -1;
    }
    switch (phase) {
    case 1: {
        DisplayOrlo orlo(n);
        orlo.change(kOrloDisplayControl, kDispControlVideoOn, 0);
        orlo.change(kOrloMemControl, kDispPathEnable, 0);
        return 0;
    }
    case 2:
    case 3: {
        if (!info || !mask) {
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, kDispTextBadParameter);
            return -1;
        }
        if (*mask != -1) Apply(s, info, n, static_cast<uint32_t>(*mask));
        return 0;
    }
    case 4:
        if (!RestartAtVerticalSync(s, n)) {
            _mp_res_log_error(res, HLC_ERR_TIMEOUT, kDispTextNoVsync);
            return -1;
        }
        return 0;
    default:
        _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, kDispTextBadParameter);
        return -1;
    }
}

int mpDispInquire(MP_RESOURCE_ST* res, _MP_BUF_ST* display, uint32_t type, int32_t* value)
{
    uint32_t n = display ? mp_disp_object_node(display) : 0;
    if (!display) {
        const uint32_t system = ((res ? res->node : 0) >> 4 & 0xF) - 1;
        if (mp_disp_get_node_id(system, 0, &n) != 0) {
            if (type == IM_DISP_FORMAT || type == IM_DISP_MODE) {
                if (value) *value = kDispStateNone;
                return 0;
            }
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
            return -1;
        }
    }
    const int32_t* s = n ? mp_disp_description(n) : nullptr;
    if (!s) {
        _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, kDispTextBadDisplay);
        return -1;
    }
    uint32_t word = 0;
    switch (type) {
    case IM_DISP_KEY_MODE: word = DISP_STATE_MODE; break;
    case IM_DISP_KEY_MASK: word = DISP_STATE_MODE + 1; break;
    case IM_DISP_KEY_VALUE: word = DISP_STATE_MODE + 2; break;
    case IM_DISP_FORMAT: word = DISP_STATE_FORMAT; break;
    case IM_DISP_PAN_X: word = DISP_STATE_PAN_X; break;
    case IM_DISP_PAN_Y: word = DISP_STATE_PAN_Y; break;
    case IM_DISP_KEY_COLOUR: word = DISP_STATE_13008; break;
    case IM_DISP_ZOOM: word = DISP_STATE_ZOOM_Y; break;
    case IM_DISP_WIDTH: word = DISP_STATE_WIDTH; break;
    case IM_DISP_HEIGHT: word = DISP_STATE_HEIGHT; break;
    case IM_DISP_MODE: word = DISP_STATE_DISPLAY_MODE; break;
    case IM_DISP_ENABLE: word = DISP_STATE_ENABLE; break;
    default: _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr); return -1;
    }
    if (value) *value = s[word];
    return 0;
}
