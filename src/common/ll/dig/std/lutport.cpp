// LUT transfer and FIFO ports: the transfer with its register save and restore and the
// clock switch the LUT ports need, the FIFO write and read of LUT1 and LUT2, the Sorvik II
// port and the LUT get and set requests.
#include "lutport.h"

#include "analog.h"
#include "bufid.h"
#include "camrec.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "nodeopen.h"
#include "pll.h"
#include "regaccess.h"
#include "regmap/grab_regs.h"
#include "reqres.h"
#include "serialchips.h"

using namespace cam0;

namespace {

static_assert(kLutCopyOffset + kLutCopyBytes == kOrloStateBytes, "the copy area ends the Orlo state area");
static_assert(6 * kLutEntries == kLutCopyBytes, "six band copies of 8192 entries");

// INFO_MISC bits of the LUT transfer.
constexpr uint32_t kMiscOneCopy = 1u << 2;
constexpr uint32_t kMiscCopyShift = 3;
constexpr uint32_t kMiscCopyMask = 0x1Fu << kMiscCopyShift;
constexpr uint32_t kMiscNewPath = 1u << 8;
// Register bits.
constexpr uint32_t kGpEnable = 1u << 0;     // DIG_GPCTL: module outputs enabled
constexpr uint32_t kGpBlue = 1u << 5;
constexpr uint32_t kGrabPll = 1u << 15;     // DIG_GRABCTL
constexpr uint32_t kSrcAccess = 0x6000;     // DIG_SRCCFG bits 13-14: LUT port access
constexpr uint32_t kOutLut = 1u << 4;       // DIG_OUTCTL bit 4
constexpr uint32_t kSrsLut = 1u << 4;       // DIG_SRSCTL bit 4
constexpr uint32_t kPsgLut = 1u << 15;      // DIG_PSGCFG bit 15
constexpr uint32_t kFifoBusy = 1u << 10;    // LUT status register
constexpr uint32_t kStatusAltPort = 1u << 14;  // register 70
// Sorvik II port control (register 60).
constexpr uint32_t kS2Write = 1u << 0;
constexpr uint32_t kS2Read = 1u << 1;
constexpr uint32_t kS2Idle = 1u << 2;
constexpr uint32_t kS2Repeat = 1u << 3;
// A band the module asks to have repeated more often than this has failed.
constexpr int kS2MaxRepeats = 3;
constexpr uint32_t kModuleType34 = 34;

uint32_t g_grbSysClk = 0;
uint32_t g_usrClk = 0;
uint32_t g_grbSysClkSorvik2 = 0;

uint32_t Rec(const _MP_CAM_ST_0* camera, uint32_t offset) { return CamSlotAt(camera, offset)->value; }
uint32_t Rec16(const _MP_CAM_ST_0* camera, uint32_t offset) { return Rec(camera, offset) & 0xFFFF; }
uint32_t Live16(uint32_t offset) { return mpPrvDigGet(nullptr, offset) & 0xFFFF; }
void Write(uint32_t offset, uint32_t value) { mpPrvDigPut(nullptr, offset, 0xFFFF, value); }
void Bits(uint32_t offset, uint32_t set, uint32_t clear) { Write(offset, (Live16(offset) & ~clear) | set); }
void Store(uint32_t offset, uint32_t value) { mpPrvDigPut(nullptr, offset, 0xFFFFFFFFu, value, false); }
uint32_t Hardware(uint32_t offset) { return mpPrvReadExtReg(offset) & 0xFFFF; }

// Sends a clock word without recording it in the shadow (the transfer puts the record's
// clocks back at its end).
void SendClock(uint32_t word) { mp_dig_set_icd2061(word); }

// The grab-system and user clocks from the record, stored in the live shadow and sent.
void RestoreClocks(const _MP_CAM_ST_0* camera)
{
    const uint32_t sys = Rec(camera, INFO_GRBSYSCLK);
    const uint32_t usr = Rec(camera, INFO_USRCLK0);
    Store(INFO_GRBSYSCLK, sys);
    Store(INFO_USRCLK0, usr);
    mpPrvSendIcd2061(mp_dig_calc_icd2061(grabregs::kIcdSystemClockRegister, sys / 1000, 0));
    mpPrvSendIcd2061(mp_dig_calc_icd2061(0, usr / 1000, 0));
}

// One LUT port: its register block and its bands in the descriptor and the copy area.
struct Port {
    uint32_t base;        // slot of the start address register (64 or 72)
    uint32_t copyBand0;   // offset of band 0 in the copy area
    uint32_t page;
    uint32_t mask;
    uint8_t* const* band;
};
Port PortOf(_MP_LUT_INFO* info, int lut)
{
    if (lut == 0) return {kLut1Port, 0, info->lut1Page, info->lut1Mask, info->lut1Band};
    return {kLut2Port, 3 * kLutEntries, info->lut2Page, info->lut2Mask, info->lut2Band};
}

// Entries a transfer may move from a start page: the count, clamped to the LUT's end.
uint32_t Clamp(uint32_t page, uint32_t count)
{
    const uint32_t start = page * kLutPageEntries;
    return start + count > kLutEntries ? kLutEntries - start : count;
}

int FifoWrite(_MP_LUT_INFO* info, int lut, int clockRefresh)
{
    const Port port = PortOf(info, lut);
    for (uint32_t b = 0; b < 3; ++b)
        if ((port.mask & (1u << b)) && !port.band[b]) return -1;
    if (!info->copyArea || port.page >= kLutPages) return -1;
    Write(port.base + kLutFifoCtl, 0x0300);
    Write(port.base + kLutAddrLow, 0);
    Write(port.base + kLutAddrPage, port.page << 8);
    const uint32_t first = port.page * kLutPageEntries;
    const uint32_t count = Clamp(port.page, info->count);
    if (clockRefresh) mpPrvUsrClk();
    const uint8_t* source[3] = {port.band[0], port.band[1], port.band[2]};
    const uint32_t stride = info->stride ? info->stride : 1;
    for (uint32_t i = 0; i < count; ++i) {
        if (clockRefresh && i % kLutPageEntries == 0) SendClock(mpPrvUsrClk());
        for (uint32_t b = 0; b < 3; ++b) {
            uint8_t& copy = info->copyArea[port.copyBand0 + b * kLutEntries + first + i];
            if (port.mask & (1u << b)) {
                copy = *source[b];
                source[b] += stride;
            }
            // Low byte 0 first, then the entry in the high byte.
            Write(port.base + kLutData, static_cast<uint32_t>(copy) << 8);
        }
        if ((i + 1) % 64 == 0) {
            uint32_t polls = 0;
            bool busy;
            do {
                busy = (Hardware(port.base + kLutStatus) & kFifoBusy) != 0;
            } while (busy && ++polls < kLutWritePolls);
            if (busy) return -1;
        }
    }
    if (clockRefresh) mp_time_sleep(0.01);
    return 0;
}

int FifoEmpty(uint32_t base)
{
    const double start = mp_time_clock(0.0);
    while (Hardware(base + kLutStatus) & kFifoBusy) {
        if (mp_time_clock(start) >= kLutReadWait) return 1;
        mp_time_sleep(0.0);
    }
    return 0;
}

int FifoRead(_MP_LUT_INFO* info, int lut)
{
    const Port port = PortOf(info, lut);
    for (uint32_t b = 0; b < 3; ++b)
        if ((port.mask & (1u << b)) && !port.band[b]) return -1;
    if (port.page >= kLutPages) return -1;
    Write(port.base + kLutAddrLow, 0);
    Write(port.base + kLutAddrPage, port.page << 8);
    if (FifoEmpty(port.base)) return -1;
    Write(port.base + kLutReadCtl, 0);
    // Mend: the read is clamped to the LUT's end like the write, so no entry is taken from past the LUT memory.
    const uint32_t count = Clamp(port.page, info->count);
    uint8_t* dest[3] = {port.band[0], port.band[1], port.band[2]};
    const uint32_t stride = info->stride ? info->stride : 1;
    for (uint32_t i = 0; i < count; ++i) {
        for (uint32_t b = 0; b < 3; ++b) {
            const uint32_t value = Hardware(port.base + kLutData);
            if (port.mask & (1u << b)) {
                *dest[b] = static_cast<uint8_t>(value >> 8);
                dest[b] += stride;
            }
        }
    }
    Hardware(port.base + kLutReadCtl);
    return 0;
}

// The bands of one LUT that have an address, as a band mask.
uint32_t BoundBands(uint8_t* const band[3])
{
    return (band[0] ? 1u : 0u) | (band[1] ? 2u : 0u) | (band[2] ? 4u : 0u);
}

// The start pages of the copies a transfer makes: 0 when the table cannot be placed.
uint32_t CopyPlan(const _MP_CAM_ST_0* camera, const _MP_LUT_INFO* info, uint32_t pages[kLutPages])
{
    if (info->count == 0) return 0;
    if (info->kind == kLutEight) return 1;
    const uint32_t span = info->count / kLutPageEntries;
    const uint32_t misc = Rec(camera, INFO_MISC);
    if (misc & kMiscOneCopy) {
        const uint32_t k = (misc & kMiscCopyMask) >> kMiscCopyShift;
        const uint32_t page = k * span * span;
        // A copy number past the LUT's end has nowhere to go.
        if (page >= kLutPages) return 0;
        pages[0] = page;
        return 1;
    }
    if (span == 0) {
        pages[0] = 0;
        return 1;
    }
    uint32_t n = kLutEntries / info->count;
    if (n > kLutPages) n = kLutPages;
    for (uint32_t c = 0; c < n; ++c) pages[c] = c * span;
    return n;
}

int Access(_MP_CAM_ST_0* camera, _MP_LUT_INFO* info, int32_t direction, int32_t accessMode, bool newPath)
{
    if (!(Live16(DIG_GPCTL) & kGpEnable)) return -1;
    info->copyArea = mpPrvLutCopyArea();
    if (!info->copyArea) return -1;
    uint32_t plan[kLutPages];
    const uint32_t copies = CopyPlan(camera, info, plan);
    if (copies == 0) return -1;

    if (!newPath) {
        Write(DIG_GRABCTL, Rec16(camera, DIG_GRABCTL));
        Write(DIG_SRCCFG, Rec16(camera, DIG_SRCCFG));
    }
    Bits(DIG_GPCTL, Rec(camera, DIG_GPCTL) & kGpBlue, kGpBlue);

    const uint32_t dictl = Live16(DIG_DICTL);
    const bool dictlChanged = (dictl & 0xE0) == 0x80;
    if (dictlChanged) Write(DIG_DICTL, (dictl & ~0xE0u) | 0x20);

    const bool lutProg = Rec(camera, INFO_LUTPROG) != 0;
    const bool switchClock = accessMode == 0 || accessMode == 2 ||
                             (accessMode == 1 && (!(Rec(camera, DIG_GRABCTL) & kGrabPll) || lutProg));
    if (switchClock) {
        mpPrvGrbSysClk();
        mpPrvUsrClk();
        if (newPath) {
            mp_dig_init_ics1522();
            mp_dig_togPllFB();
        } else {
            Write(DIG_OUTCTL, Rec16(camera, DIG_OUTCTL));
            Write(DIG_SRSCTL, Rec16(camera, DIG_SRSCTL));
        }
        SendClock(mpPrvGrbSysClk());
        SendClock(mpPrvUsrClk());
        if (newPath) mp_time_sleep(0.01);
        Bits(DIG_GRABCTL, 0x1000, 0xE000);
    }

    Bits(DIG_OUTCTL, 0, kOutLut);
    Bits(DIG_SRSCTL, kSrsLut, 0);
    Write(DIG_LUTPAL, Rec16(camera, DIG_LUTPAL));
    Bits(DIG_SRCCFG, kSrcAccess, 0);

    bool refresh = false;
    bool psgSet = false;
    const uint32_t status = Hardware(kModuleStatus);
    if (status & kStatusAltPort) {
        Bits(DIG_SRCCFG, 0, kSrcAccess);
        Bits(DIG_PSGCFG, kPsgLut, 0);
        Bits(DIG_SRCCFG, kSrcAccess, 0);
        CamSlotAt(camera, DIG_PSGCFG)->value |= kPsgLut;
        psgSet = true;
    } else if (((status >> 8) & 0x7) != 1) {
        refresh = true;
    }

    bool failed = false;
    for (uint32_t c = 0; c < copies && !failed; ++c) {
        if (info->kind != kLutEight) {
            // Every band that has an address goes with each copy; a band the caller left
            // out (a range request's band mask) is sent again from the copy area.
            // Mend: not all three bands, so a range request for some of the bands does not always fail.
            info->lut1Page = info->lut2Page = plan[c];
            info->lut1Mask = BoundBands(info->lut1Band);
            info->lut2Mask = BoundBands(info->lut2Band);
        }
        for (int lut = 0; lut < 2 && !failed; ++lut) {
            if (!(info->lutSelect & (1u << lut))) continue;
            const int r = direction == 0 ? FifoWrite(info, lut, refresh) : FifoRead(info, lut);
            if (r == -1) failed = true;
        }
    }

    Bits(DIG_SRCCFG, Rec16(camera, DIG_SRCCFG) & kSrcAccess, kSrcAccess);
    if (switchClock) {
        RestoreClocks(camera);
        if (newPath) mp_time_sleep(0.01);
    }
    Write(DIG_SRSCTL, Rec16(camera, DIG_SRSCTL));
    Write(DIG_OUTCTL, Rec16(camera, DIG_OUTCTL));
    Write(DIG_GRABCTL, Rec16(camera, DIG_GRABCTL));

    int result = failed ? -1 : 0;
    if (!newPath && (Rec(camera, DIG_GRABCTL) & kGrabPll)) {
        mp_dig_start_pll(camera);
        if (mp_dig_wait_pll_lock(Rec(camera, INFO_SPIXCLK) / 1000) == -1)
            result = -1;
        else
            mp_dig_set_pll(nullptr, camera);
    }

    // Mend: clock selection and port flag go back even after a failed lock, so the record is not left changed.
    if (dictlChanged) Write(DIG_DICTL, dictl);
    if (psgSet) {
        Bits(DIG_PSGCFG, 0, kPsgLut);
        CamSlotAt(camera, DIG_PSGCFG)->value &= ~kPsgLut;
    }
    return result;
}

// ---- Sorvik II port --------------------------------------------------------------------

uint32_t S2WidthMode(uint32_t width)
{
    if (width == 10) return 5;
    if (width == 12) return 7;
    return 3;
}

int S2ReadWrite(_MP_CAM_ST_0* camera, _MP_LUT_INFO* info, int32_t direction)
{
    for (uint32_t b = 0; b < 4; ++b)
        if ((info->s2Mask & (1u << b)) && !info->s2Band[b]) return -1;
    if (!info->copyArea || info->s2Page >= kLutPages) return -1;
    const uint32_t count = Clamp(info->s2Page, info->count);
    const uint32_t first = info->s2Page * kLutPageEntries;
    const uint32_t stride = info->stride ? info->stride : 1;
    const bool type34 = Rec(camera, SORVIK2_FLAG) == kModuleType34;

    Bits(kS2Ctl, direction == 0 ? kS2Write : kS2Read, kS2Idle);
    Bits(kS2Mode, S2WidthMode(mp_dig_chan_phys_width(camera)), 0x7);
    bool failed = false;
    for (uint32_t b = 0; b < 4 && !failed; ++b) {
        if (!(info->s2Mask & (1u << b))) continue;
        for (int attempt = 0;; ++attempt) {
            Bits(kS2Mode, b << 3, 0x18);
            uint32_t page = info->s2Page;
            Bits(kS2Page, page, 0x1F);
            Bits(kS2Addr, 0, 0xFF);
            uint8_t* p = info->s2Band[b];
            for (uint32_t i = 0; i < count; ++i) {
                if (i != 0 && i % kLutPageEntries == 0) {
                    ++page;
                    Bits(kS2Page, page, 0x1F);
                    Bits(kS2Addr, 0, 0xFF);
                }
                uint8_t& copy = info->copyArea[b * kLutEntries + first + i];
                if (direction == 0) {
                    copy = *p;
                    Bits(kS2Data, copy, 0xFF);
                } else {
                    *p = static_cast<uint8_t>(Hardware(kS2Data) & 0xFF);
                }
                p += stride;
            }
            if (!type34 || !(Hardware(kS2Ctl) & kS2Repeat)) break;
            Bits(kS2Ctl, 0, kS2Repeat);
            // Mend: a module that keeps asking for the band again fails it, so the transfer cannot repeat without end.
            if (attempt + 1 >= kS2MaxRepeats) {
                failed = true;
                break;
            }
        }
    }
    Bits(kS2Page, info->s2Page, 0x1F);
    Bits(kS2Ctl, kS2Idle, kS2Write | kS2Read);
    return failed ? -1 : 0;
}

} // namespace

// ---- shared state ------------------------------------------------------------------------

uint8_t* mpPrvLutCopyArea()
{
    const HwRegCtrl_ST* c = HwRegCtrl;
    if (!c) return nullptr;
    const uint32_t node = c->extNode ? c->extNode : c->node;
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    if (!record || !record->orloState) return nullptr;
    return record->orloState + kLutCopyOffset;
}

uint32_t mpPrvGrbSysClk()
{
    if (g_grbSysClk == 0) g_grbSysClk = mp_dig_calc_icd2061(grabregs::kIcdSystemClockRegister, 14318, 0);
    return g_grbSysClk;
}

uint32_t mpPrvUsrClk()
{
    if (g_usrClk == 0) g_usrClk = mp_dig_calc_icd2061(0, 28636, 0);
    return g_usrClk;
}

uint32_t mpPrvGrbSysClkSorvik2()
{
    if (g_grbSysClkSorvik2 == 0) g_grbSysClkSorvik2 = mp_dig_calc_icd2061(grabregs::kIcdSystemClockRegister, 20000, 0);
    return g_grbSysClkSorvik2;
}

// ---- transfers -----------------------------------------------------------------------------

int mp_dig_lut_access(_MP_CAM_ST_0* camera, _MP_LUT_INFO* info, int32_t direction, int32_t accessMode)
{
    if (!camera || !info) return -1;
    return Access(camera, info, direction, accessMode, (Rec(camera, INFO_MISC) & kMiscNewPath) != 0);
}

int mp_dig_lut_access_new(_MP_CAM_ST_0* camera, _MP_LUT_INFO* info, int32_t direction, int32_t accessMode)
{
    if (!camera || !info) return -1;
    return Access(camera, info, direction, accessMode, true);
}

int mp_dig_lut1_write(_MP_CAM_ST_0*, _MP_LUT_INFO* info, int clockRefresh) { return FifoWrite(info, 0, clockRefresh); }
int mp_dig_lut2_write(_MP_CAM_ST_0*, _MP_LUT_INFO* info, int clockRefresh) { return FifoWrite(info, 1, clockRefresh); }
int mp_dig_lut1_read(_MP_CAM_ST_0*, _MP_LUT_INFO* info) { return FifoRead(info, 0); }
int mp_dig_lut2_read(_MP_CAM_ST_0*, _MP_LUT_INFO* info) { return FifoRead(info, 1); }
int mp_dig_lut1_fifo_empty() { return FifoEmpty(kLut1Port); }
int mp_dig_lut2_fifo_empty() { return FifoEmpty(kLut2Port); }

int mp_dig_lut_access_sorvik2(_MP_CAM_ST_0* camera, _MP_LUT_INFO* info, int32_t direction, int32_t accessMode)
{
    if (!camera || !info) return -1;
    info->copyArea = mpPrvLutCopyArea();
    if (!info->copyArea) return -1;
    Write(DIG_GRABCTL, Rec16(camera, DIG_GRABCTL));
    const bool switchClock =
        accessMode == 0 || accessMode == 2 || (accessMode == 1 && Rec(camera, INFO_LUTPROG) != 0);
    if (switchClock) {
        mpPrvGrbSysClkSorvik2();
        mpPrvUsrClk();
        Write(DIG_OUTCTL, Rec16(camera, DIG_OUTCTL));
        Write(DIG_SRSCTL, Rec16(camera, DIG_SRSCTL));
        Bits(SORVIK2_CONTROL, 0x10, 0x60);
        SendClock(mpPrvGrbSysClkSorvik2());
        SendClock(mpPrvUsrClk());
        mp_time_sleep(0.01);
    }
    Bits(DIG_OUTCTL, 0, kOutLut);
    Bits(DIG_SRSCTL, kSrsLut, 0);
    const int result = S2ReadWrite(camera, info, direction);
    Write(DIG_SRSCTL, Rec16(camera, DIG_SRSCTL));
    Write(DIG_OUTCTL, Rec16(camera, DIG_OUTCTL));
    Write(SORVIK2_CONTROL, Rec16(camera, SORVIK2_CONTROL));
    if (switchClock) {
        RestoreClocks(camera);
        mp_time_sleep(0.01);
    }
    return result;
}

// ---- requests ----------------------------------------------------------------------------------

namespace {

constexpr const char kReadFailed[] = "Lut read operation failed";
constexpr const char kWriteFailed[] = "Lut write operation failed";

// Entries one band of a LUT buffer holds (one byte per entry at stride 1).
uint32_t BandEntries(const _MP_BUF_ST* lut)
{
    if (lut->sizeX <= 0 || lut->sizeY <= 0) return 0;
    const uint32_t x = static_cast<uint32_t>(lut->sizeX);
    const uint32_t y = static_cast<uint32_t>(lut->sizeY);
    return y > 1 && lut->pitch != x * (lut->bits > 8 ? (lut->bits + 7) / 8 : 1) ? x : x * y;
}

// The request's descriptor: the range and the buffer's bands bound in order to the
// selected LUT bands (LUT1 first), the last buffer band reused.  False for a range that
// is empty or starts past the LUT's end.
bool BuildRange(_MP_CAM_ST_0* camera, _MP_BUF_ST* lut, LutBufferView& view, int32_t bandMask, int32_t start,
                int32_t count, _MP_LUT_INFO* info)
{
    if (count <= 0 || start < 0 || start >= static_cast<int32_t>(kLutEntries)) return false;
    uint32_t n = static_cast<uint32_t>(count);
    const uint32_t held = BandEntries(lut);
    if (n > held) n = held;
    if (n == 0) return false;
    info->kind = kLutWide;
    info->stride = 1;
    info->width = 8;
    info->count = n;
    const uint32_t bands = lut->bands ? lut->bands : 1;
    uint32_t next = 0;
    auto bind = [&](uint8_t** slot) {
        *slot = view.band(next < bands ? next : bands - 1);
        ++next;
    };
    if (Rec(camera, SORVIK2_FLAG) != 0) {
        const uint32_t width = mp_dig_chan_phys_width(camera);
        const uint32_t scale = width == 10 ? 4 : width == 12 ? 16 : 1;
        const uint64_t page = static_cast<uint64_t>(start) * scale;
        if (page >= kLutPages) return false;
        info->s2Page = static_cast<uint32_t>(page);
        info->s2Mask = static_cast<uint32_t>(bandMask) & 0xF;
        for (uint32_t b = 0; b < 4; ++b)
            if (info->s2Mask & (1u << b)) bind(&info->s2Band[b]);
        return true;
    }
    const uint32_t mask = static_cast<uint32_t>(bandMask);
    info->lut1Mask = mask & 7;
    info->lut2Mask = (mask >> 3) & 7;
    info->lutSelect = (info->lut1Mask ? 1 : 0) | (info->lut2Mask ? 2 : 0);
    info->lut1Page = info->lut2Page = static_cast<uint32_t>(start) / kLutPageEntries;
    for (uint32_t b = 0; b < 3; ++b)
        if (info->lut1Mask & (1u << b)) bind(&info->lut1Band[b]);
    for (uint32_t b = 0; b < 3; ++b)
        if (info->lut2Mask & (1u << b)) bind(&info->lut2Band[b]);
    return true;
}

_MP_CAM_ST_0* CameraOf(_MP_BUF_ST* camera)
{
    return static_cast<_MP_CAM_ST_0*>(mp_buf_address_band_internal(camera, 0));
}

void SelectNode(MP_RESOURCE_ST* resource)
{
    if (resource) SetToExt(resource->node & 0xFF);
}

} // namespace

void mpDigLutGet_Std(MP_RESOURCE_ST* resource, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, _MP_BUF_ST* lut,
                     int32_t bandMask, int32_t start, int32_t count)
{
    if ((digitizer && !mp_buf_valid(digitizer, kBufKindDigitizer)) || !camera ||
        !mp_buf_valid(camera, kBufKindCamera) || !lut || !mp_buf_valid(lut, kBufKindImage)) {
        _mp_res_log_error(resource, HLC_ERR_INVALID_BUFFER, nullptr);
        return;
    }
    _MP_CAM_ST_0* record = CameraOf(camera);
    _MP_LUT_INFO info{};
    LutBufferView view(lut);
    if (!record || !BuildRange(record, lut, view, bandMask, start, count, &info)) {
        _mp_res_log_error(resource, HLC_ERR_INVALID_PARAMETER, nullptr);
        return;
    }
    SelectNode(resource);
    int result;
    if (Rec(record, SORVIK2_FLAG) != 0) {
        const uint32_t recordMode = Rec(record, kS2Mode) & 0x7;
        const uint32_t liveMode = Live16(kS2Mode) & 0x7;
        result = mp_dig_lut_access_sorvik2(record, &info, 1, 0);
        CamSlotAt(record, kS2Mode)->value = (Rec(record, kS2Mode) & ~0x7u) | recordMode;
        Bits(kS2Mode, liveMode, 0x7);
    } else {
        result = mp_dig_lut_access(record, &info, 1, 0);
    }
    if (result == -1) _mp_res_log_error(resource, HLC_ERR_RESTRICTED, kReadFailed);
    else view.writeBack();
}

void mpDigLutSet_Std(MP_RESOURCE_ST* resource, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, _MP_BUF_ST* lut,
                     int32_t bandMask, int32_t start, int32_t count, int32_t mode)
{
    if ((digitizer && !mp_buf_valid(digitizer, kBufKindDigitizer)) || !camera ||
        !mp_buf_valid(camera, kBufKindCamera) || (mode != 1 && (!lut || !mp_buf_valid(lut, kBufKindImage)))) {
        _mp_res_log_error(resource, HLC_ERR_INVALID_BUFFER, nullptr);
        return;
    }
    _MP_CAM_ST_0* record = CameraOf(camera);
    if (!record) {
        _mp_res_log_error(resource, HLC_ERR_INVALID_BUFFER, nullptr);
        return;
    }
    SelectNode(resource);
    int result;
    if (mode == 1) {
        _MP_BUF_ST* own = mp_buf_pointer(Rec(record, INFO_LUTBUFID));
        if (!own || !mp_buf_valid(own, kBufKindImage)) {
            _mp_res_log_error(resource, HLC_ERR_INVALID_BUFFER, nullptr);
            return;
        }
        _MP_LUT_INFO info{};
        LutBufferView view(own);
        if (!BuildRange(record, own, view, bandMask, start, count, &info)) {
            _mp_res_log_error(resource, HLC_ERR_INVALID_PARAMETER, nullptr);
            return;
        }
        result = Rec(record, SORVIK2_FLAG) != 0 ? mp_dig_lut_access_sorvik2(record, &info, 0, 0)
                                                : mp_dig_lut_access(record, &info, 0, 0);
    } else {
        result = mp_dig_load_lut(record, lut, 0);
    }
    if (result == -1) _mp_res_log_error(resource, HLC_ERR_RESTRICTED, kWriteFailed);
}
