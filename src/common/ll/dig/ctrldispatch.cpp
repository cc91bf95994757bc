// Control and inquire dispatch: the handler table, the named controls and the entry points.
#include "ctrldispatch.h"

#include "analog.h"
#include "bufchild.h"
#include "bufid.h"
#include "camera.h"
#include "camuart.h"
#include "digitizers.h"
#include "exposure.h"
#include "geometry.h"
#include "hlc_errors.h"
#include "ifacectl.h"
#include "kvxlut.h"
#include "lut.h"
#include "nodelist.h"
#include "pll.h"
#include "regaccess.h"
#include "reqres.h"
#include "strobes.h"
#include "synctiming.h"
#include "timers.h"

#include <cstring>

using namespace cam0;

namespace {

constexpr uint32_t kMiscFieldGrab = 0x1;  // INFO_MISC bit 0: one field per grab
constexpr uint32_t kUartString = IM_DIG_UART_READ_STRING;
constexpr uint32_t kUartWriteString = IM_DIG_UART_WRITE_STRING;

uint32_t Number(int32_t type) { return static_cast<uint32_t>(type) & 0xFFFFu; }
uint32_t Selector(int32_t type) { return static_cast<uint32_t>(type) >> 16; }

// The product rounded to a double, whatever precision the arithmetic carries: volts to
// millivolts must give 700 for 0.7, as double arithmetic does.
double Product(double a, double b)
{
    volatile double p = a * b;
    return p;
}

uint32_t* InfoOf(MP_RESOURCE_ST* res)
{
    if (!res || !res->record || !res->record->nodeState) return nullptr;
    return &res->record->nodeState->nodeInfo;
}

uint32_t ModuleType(MP_RESOURCE_ST* res)
{
    const uint32_t* info = InfoOf(res);
    return info ? info[kNodeInfoModuleType] : 0;
}

bool ModuleUsable(MP_RESOURCE_ST* res)
{
    const uint32_t* info = InfoOf(res);
    return info && info[kNodeInfoModuleType] != 0 && info[kNodeInfoModulePresent] != 0;
}

void SelectModule(MP_RESOURCE_ST* res)
{
    if (res) SetToExt(res->node & 0xFF);
}

template <typename Record>
Record* RecordOf(_MP_BUF_ST* camera)
{
    return static_cast<Record*>(mp_buf_address_band_internal(camera, 0));
}

bool ValidCamera(MP_RESOURCE_ST* res, _MP_BUF_ST* camera)
{
    if (camera && mp_buf_valid(camera, kBufKindCamera) && mp_buf_address_band_internal(camera, 0)) return true;
    if (res) _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
    return false;
}

int32_t Refused(MP_RESOURCE_ST* res, int32_t result)
{
    if (result == -1 && res) _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
    return result;
}

// ---- named controls of this Part --------------------------------------------------------------

int FrameOrField(_MP_CAM_ST_0* camera, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    CamSlot* misc = CamSlotAt(camera, INFO_MISC);
    if (mode != 0) {
        *value = (misc->value & kMiscFieldGrab) ? 1.0 : 2.0;
        return 0;
    }
    const int32_t v = mpPrvToInt(*value);
    if (v == 1) misc->value |= kMiscFieldGrab;
    if (v == 2) misc->value &= ~kMiscFieldGrab;
    return 0;
}

// 30032 video amplitude, 30033 black level, 30034 white level: volts outside, millivolts in
// the record.
int AnalogLevel(_MP_CAM_ST_0* camera, uint32_t control, double* value, int32_t mode)
{
    if (!camera || !value) return -1;
    const uint32_t slot = control == IM_DIG_VIDEO_AMPLITUDE ? VDL_AMPL
                          : control == IM_DIG_BLACK_LEVEL   ? BLACK_LEVEL
                                                            : WHITE_LEVEL;
    if (mode != 0) {
        *value = Product(static_cast<double>(CamSlotAt(camera, slot)->value), 0.001);
        return 0;
    }
    CamSlot* ampl = CamSlotAt(camera, VDL_AMPL);
    CamSlot* black = CamSlotAt(camera, BLACK_LEVEL);
    CamSlot* white = CamSlotAt(camera, WHITE_LEVEL);
    if (mpPrvIsDefault(*value)) {
        if (control == IM_DIG_VIDEO_AMPLITUDE) {
            ampl->value = ampl->file;
            white->value = white->file;
            black->value = black->file;
        } else {
            CamSlotAt(camera, slot)->value = CamSlotAt(camera, slot)->file;
        }
        return 0;
    }
    const uint32_t mv = static_cast<uint32_t>(mpPrvToInt(Product(*value, 1000.0)));
    CamSlotAt(camera, slot)->value = mv;
    if (control == IM_DIG_VIDEO_AMPLITUDE) white->value = black->value + ampl->value;
    return 0;
}

// Timer rows 30008-30011: selector bit 16 timer 1, bit 17 timer 2; the result of the last
// handler called, 0 when none was.
int Timers(MpDigHandler first, MpDigHandler second, _MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode,
           bool selectorZeroIsFirst)
{
    const uint32_t selector = Selector(type);
    int result = 0;
    if ((selectorZeroIsFirst && selector == 0) || (selector & 1)) result = first(camera, type, value, mode);
    if (selector & 2) result = second(camera, type, value, mode);
    return result;
}

// A string of the camera port moved through a block of the library's own: the port reads
// at most 255 bytes into it, and a write never reads past it.
int UartWriteString(uint32_t* nodeInfo, const char* block)
{
    const MP_UART_ST* u = mp_uart_area(nodeInfo);
    if (u && u->writeLength != kUartLengthDefault && u->writeLength > kDigUartStringBytes) return -1;
    return mp_uart_write_string(nodeInfo, block);
}

int Named(uint32_t* nodeInfo, _MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode)
{
    const uint32_t n = Number(type);
    const uint32_t selector = Selector(type);
    switch (n) {
    case IM_DIG_CHANNEL: return mp_dig_channel(camera, type, value, mode);
    case IM_DIG_SYNC_CHANNEL: return mp_dig_sync_channel(camera, type, value, mode);
    case IM_DIG_GAIN: return mp_dig_gain(camera, type, value, mode);
    case IM_DIG_REF_WHITE: return mp_dig_ref_white(camera, type, value, mode);
    case IM_DIG_REF_BLACK: return mp_dig_ref_black(camera, type, value, mode);
    case IM_DIG_LUT_BUF: return mp_dig_lut_buf(camera, type, value, mode);
    case IM_DIG_USER_IN:
        if (selector == 0) return mp_dig_user_in_0(camera, type, value, mode);
        if (selector == 1) return mp_dig_user_in_1(camera, type, value, mode);
        return 0;
    case IM_DIG_USER_OUT:
        switch (selector) {
        case 0: return mp_dig_user_out_0(camera, type, value, mode);
        case 1: return mp_dig_user_out_1(camera, type, value, mode);
        case 2: return mp_dig_user_out_2(camera, type, value, mode);
        case 4: return mp_dig_user_out_3(camera, type, value, mode);
        case 8: return mp_dig_user_out_4(camera, type, value, mode);
        default: return 0;
        }
    case IM_DIG_EXP_ACTIVE:  // exposure time
        if (selector == 0) return mp_dig_exp1_active(camera, type, value, mode | 2);
        return Timers(mp_dig_exp1_active, mp_dig_exp2_active, camera, type, value, mode, false);
    case IM_DIG_EXP_DELAY:  // exposure delay
        if (selector == 0) return mp_dig_exp1_delay(camera, type, value, mode | 2);
        return Timers(mp_dig_exp1_delay, mp_dig_exp2_delay, camera, type, value, mode, false);
    case IM_DIG_TIMER_TRIG_SRC:
        return Timers(mp_dig_timer1_trig_src, mp_dig_timer2_trig_src, camera, type, value, mode, true);
    case IM_DIG_TIMER_POL:
        return Timers(mp_dig_timer1_pol, mp_dig_timer2_pol, camera, type, value, mode, true);
    case IM_DIG_EXP:  // exposure generators on or off
        if (selector == 3 && mp_dig_sync_timers() == 1) return mp_dig_exp_sync(camera, type, value, mode);
        return Timers(mp_dig_exp1, mp_dig_exp2, camera, type, value, mode, true);
    case IM_DIG_CAPT_SRC: return mp_dig_capt_src(camera, type, value, mode);
    case IM_DIG_CAPT_POL: return mp_dig_capt_pol(camera, type, value, mode);
    case IM_DIG_SW_CAPT: return mp_dig_sw_capt(camera, type, value, mode);
    case IM_DIG_SIZE_X: return mp_dig_size_x(camera, type, value, mode);
    case IM_DIG_SIZE_Y: return mp_dig_size_y(camera, type, value, mode);
    case IM_DIG_SIZE_BIT: return mp_dig_size_bit(camera, type, value, mode);
    case IM_DIG_TYPE: return mp_dig_type(camera, type, value, mode);
    case IM_DIG_NUM_BANDS: return mp_dig_num_bands(camera, type, value, mode);
    case IM_DIG_SCAN_MODE: return mp_dig_scan_mode(camera, type, value, mode);
    case IM_DIG_NBR_MAX_CHANNEL: return mp_dig_nbr_max_channel(camera, type, value, mode);
    case IM_DIG_INPUT_MODE: return mp_dig_input_mode(camera, type, value, mode);
    case IM_DIG_USER_IN_FORMAT: return mp_dig_user_in_format(camera, type, value, mode);
    case IM_DIG_USER_OUT_FORMAT: return mp_dig_user_out_format(camera, type, value, mode);
    case IM_DIG_FRAME_FIELD: return FrameOrField(camera, value, mode);
    case IM_DIG_VIDEO_AMPLITUDE:
    case IM_DIG_BLACK_LEVEL:
    case IM_DIG_WHITE_LEVEL: return AnalogLevel(camera, n, value, mode);
    case IM_DIG_PIXEL_CLOCK: return value ? mp_dig_get_pclk(value) : -1;
    case IM_DIG_UART_BAUD_RATE: return mp_uart_baud_rate(nodeInfo, value, mode);
    case IM_DIG_UART_PARITY: return mp_uart_parity(nodeInfo, value, mode);
    case IM_DIG_UART_STOP_BITS: return mp_uart_stop_bits(nodeInfo, value, mode);
    case IM_DIG_UART_DATA_BITS: return mp_uart_data_bits(nodeInfo, value, mode);
    case IM_DIG_UART_TIMEOUT: return mp_uart_timeout(nodeInfo, value, mode);
    case IM_DIG_UART_WRITE_CHAR:
        if (value) mp_uart_write_char(nodeInfo, static_cast<uint8_t>(mpPrvToInt(*value) & 0xFF));
        return 0;
    case IM_DIG_UART_READ_CHAR:
        if (value) *value = static_cast<int8_t>(static_cast<uint8_t>(mp_uart_read_char(nodeInfo) & 0xFF));
        return 0;
    case IM_DIG_UART_READ_LENGTH: return mp_uart_read_length(nodeInfo, value, mode);
    case IM_DIG_UART_READ_MAX_LENGTH: return mp_uart_read_max_length(nodeInfo, value, mode);
    case kUartString: return mp_uart_read_string(nodeInfo, reinterpret_cast<char*>(value));
    case IM_DIG_UART_WRITE_LENGTH: return mp_uart_write_length(nodeInfo, value, mode);
    case kUartWriteString: return UartWriteString(nodeInfo, reinterpret_cast<const char*>(value));
    case IM_DIG_UART_DATA_PRESENT: return mp_uart_data_present(nodeInfo, value, mode);
    case IM_DIG_UART_ERROR:
    case IM_DIG_UART_ERROR_CLEAR: return mp_uart_error(nodeInfo, static_cast<int32_t>(n), value);
    case IM_DIG_UART_READ_CONFIG: return value ? mp_uart_read_config(value) : -1;
    default: return -1;
    }
}

// Runs the standard dispatcher with the string controls of the camera port given a block of
// 256 bytes: the value's 8 bytes come in at its start and go back from there.
int DispatchWithBlock(uint32_t* nodeInfo, int32_t type, double* value, int32_t mode)
{
    const uint32_t n = Number(type);
    if (n != kUartString && n != kUartWriteString) return mp_dig_ctrl_inq(nodeInfo, nullptr, type, value, mode);
    alignas(double) char block[kDigUartStringBytes] = {};
    std::memcpy(block, value, sizeof *value);
    const int result = mp_dig_ctrl_inq(nodeInfo, nullptr, type, reinterpret_cast<double*>(block), mode);
    std::memcpy(value, block, sizeof *value);
    return result;
}

} // namespace

// ---- the handler table --------------------------------------------------------------------------

const MpDigHandler mpDigFunc[kDigFuncCount + 1] = {
    // 0-8 analog front end
    mp_dig_gain, mp_dig_sync_channel, mp_dig_sample_mode, mp_dig_clock_phase, mp_dig_ref_white, mp_dig_ref_black,
    mp_dig_level_coarse, mp_dig_level_fine, mp_dig_filters,
    // 9-13 lookup tables
    mp_dig_lut_mode, mp_dig_lut_blue_mode, mp_dig_lut1_palette, mp_dig_lut2_palette, mp_dig_lut_tri_state,
    // 14-39 timers
    mp_dig_timer1_cnt, mp_dig_timer2_cnt, mp_dig_exp1_active, mp_dig_exp2_active, mp_dig_exp1_output,
    mp_dig_exp2_output, mp_dig_timer1_combine, mp_dig_timer2_combine, mp_dig_timer1_trig_prescal,
    mp_dig_timer2_trig_prescal, mp_dig_timer1_trig_scaler, mp_dig_timer2_trig_scaler, mp_dig_timer1_mode,
    mp_dig_timer2_mode, mp_dig_timer1_trig_pol, mp_dig_timer2_trig_pol, mp_dig_timer1_clk_pol, mp_dig_timer2_clk_pol,
    mp_dig_timer1_clk_src, mp_dig_timer2_clk_src, mp_dig_timer1_clear_pol, mp_dig_timer2_clear_pol,
    mp_dig_timer1_clear_src, mp_dig_timer2_clear_src, mp_dig_timer1_armen, mp_dig_timer2_armen,
    // 40-71 sync generator
    mp_dig_hcnt, mp_dig_shcnt, mp_dig_vcnt, mp_dig_svcnt, mp_dig_htotal_cnt, mp_dig_vtotal_cnt, mp_dig_hstart_sync,
    mp_dig_hend_sync, mp_dig_vstart_sync, mp_dig_vend_sync, mp_dig_hstart_blank, mp_dig_hend_blank,
    mp_dig_vstart_blank, mp_dig_vend_blank, mp_dig_hstart_clamp, mp_dig_hend_clamp, mp_dig_vstart_clamp,
    mp_dig_vend_clamp, mp_dig_hstart_pll_feedback, mp_dig_hend_pll_feedback, mp_dig_vstart_ngate_vreset,
    mp_dig_vend_ngate_vreset, mp_dig_hstart_csync_gate, mp_dig_hend_csync_gate, mp_dig_vstart_phase_detect,
    mp_dig_vend_phase_detect, mp_dig_end_csync_ngate, mp_dig_nbr_csync_missed, mp_dig_nbr_csync_found,
    mp_dig_vsync_sample, mp_dig_start_field_gate, mp_dig_end_field_gate,
    // 72-86 DIG_HVRCTL, DIG_OUTCTL
    mp_dig_vreset_ngate_enable, mp_dig_align_vrst_sel, mp_dig_vrst_enable, mp_dig_vrst_polarity, mp_dig_vrst_src,
    mp_dig_hrst_enable, mp_dig_hrst_polarity, mp_dig_hrst_src, mp_dig_field_control, mp_dig_hsync_polarity,
    mp_dig_vsync_polarity, mp_dig_csync_polarity, mp_dig_blank_polarity, mp_dig_clamp_polarity,
    mp_dig_field_polarity,
    // 87-94 DIG_SRSCTL
    mp_dig_hsync_reset, mp_dig_vsync_reset, mp_dig_ngvr_reset, mp_dig_blank_reset, mp_dig_clamp_reset,
    mp_dig_phdetect_reset, mp_dig_hcount_reset, mp_dig_vcount_reset,
    // 95-105 DIG_PLLCTL
    mp_dig_pll_lksts1_rst, mp_dig_pll_lksts0_rst, mp_dig_pll_lckst3, mp_dig_pll_lckst2, mp_dig_pll_lckst1,
    mp_dig_pll_lckst0, mp_dig_pll_pdtcouen, mp_dig_pll_pdtcpol, mp_dig_pll_phdtsel, mp_dig_pll_fbpol,
    mp_dig_pll_refpol,
    // 106-113 DIG_NGCTL
    mp_dig_xhsync_pol, mp_dig_xvsync_pol, mp_dig_xcsync_pol, mp_dig_vcsync_pol, mp_dig_btsync_pol, mp_dig_ext_sync,
    mp_dig_delay_pllref, mp_dig_ngate_ccen,
    // 114-121 DIG_PSGCFG
    mp_dig_psgcfg_nbfscnd, mp_dig_psgcfg_vgrstmd, mp_dig_psgcfg_vclpdfn, mp_dig_psgcfg_pclktest,
    mp_dig_psgcfg_frmscan, mp_dig_psgcfg_lnscan, mp_dig_psgcfg_rmvhlfln, mp_dig_psgcfg_interlace,
    // 122-125 DIG_SRCCFG
    mp_dig_strc_fifofull, mp_dig_strc_resync, mp_dig_strc_holdsys, mp_dig_strc_dlkprtcn,
    // 126-133 DIG_GRABCTL
    mp_dig_pll_used, mp_dig_pixel_clock_src, mp_dig_valid_src, mp_dig_hvsynsel, mp_dig_adgaen, mp_dig_adrben,
    mp_dig_diouen, mp_dig_didir,
    // 134-148 DIG_DICTL, DIG_DLYLN, DIG_INTCTL, DIG_GPCTL
    mp_dig_usr422out, mp_dig_usr422in, mp_dig_syn422out, mp_dig_syn422in, mp_dig_usrttlout, mp_dig_usrttlin,
    mp_dig_synttlout, mp_dig_synttlin, mp_dig_iclksel, mp_dig_clock_delay, mp_dig_int_pol, mp_dig_int_src,
    mp_dig_gpouen, mp_dig_gpinen, mp_dig_gbouen,
    // 149-153 DIMREG0
    mp_dig_dim_alf422ou, mp_dig_dim_blu422ou, mp_dig_dim_grn422ou, mp_dig_dim_red422ou, mp_dig_dim_dimsynsl,
    // 154-161 description fields
    mp_dig_bits_per_channel, mp_dig_time_multi_channel, mp_dig_time_multi_pixel, mp_dig_xtaps_per_channel,
    mp_dig_ytaps_per_channel, mp_dig_xtaps_per_channel_adj, mp_dig_ytaps_per_channel_adj, mp_dig_packed_pixels,
    // 162 channel mapping
    mp_dig_map_channel,
    // 163-166
    mp_dig_user_clock, mp_dig_display_grabadis, mp_dig_primary_grabadis, mp_dig_pixel_clock,
    nullptr,
};

// ---- dispatchers ----------------------------------------------------------------------------------

int CheckIfSorvik2(MP_RESOURCE_ST* res, int32_t type)
{
    const uint32_t module = ModuleType(res);
    if (module != 2 && module != 34) return 0;
    const uint32_t n = Number(type);
    if (n == 127 || n == IM_DIG_USER_IN) return 2;
    if (n == IM_DIG_USER_OUT && Selector(type) != 0 && Selector(type) != 1) return 2;
    return 0;
}

int mp_dig_ctrl_inq(uint32_t* nodeInfo, _MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode)
{
    const uint32_t n = Number(type);
    if (n < static_cast<uint32_t>(kDigFuncCount)) return mpDigFunc[n](camera, type, value, mode);
    if (n >= static_cast<uint32_t>(kDigNamedFirst) && n <= static_cast<uint32_t>(kDigNamedLast))
        return Named(nodeInfo, camera, type, value, mode);
    return -1;
}

int mp_kvx_ctrl_inq(_MP_CAM_ST_1* camera, int32_t type, double* value, int32_t mode)
{
    const uint32_t n = Number(type);
    if (n < static_cast<uint32_t>(kDigNamedFirst)) return -1;
    if (n > static_cast<uint32_t>(kKvxNamedLast)) return 0;
    switch (n) {
    case IM_DIG_CHANNEL: return mp_kvx_channel(camera, value, mode);
    case IM_DIG_GAIN:
        // The record's FAF_IOENCTL1 bit 0 picks the decoder's gain; without a record both
        // handlers refuse, so the live path needs no choice.
        if (camera && (CamSlotAt(camera, cam1::FAF_IOENCTL1)->value & 1))
            return mp_kvx_dec_gain(camera, type, value, mode);
        return mp_kvx_gain(camera, type, value, mode);
    case IM_DIG_REF_WHITE: return mp_kvx_ref_white(camera, type, value, mode);
    case IM_DIG_REF_BLACK: return mp_kvx_ref_black(camera, type, value, mode);
    case IM_DIG_LUT_BUF: return mp_kvx_lut_buf(camera, value, mode);
    case IM_DIG_SIZE_X: return mp_kvx_size_x(camera, value, mode);
    case IM_DIG_SIZE_Y: return mp_kvx_size_y(camera, value, mode);
    case IM_DIG_SIZE_BIT: return mp_kvx_size_bit(camera, value, mode);
    case IM_DIG_TYPE: return mp_kvx_type(camera, value, mode);
    case IM_DIG_NUM_BANDS: return mp_kvx_num_bands(camera, value, mode);
    case IM_DIG_SCAN_MODE: return mp_kvx_scan_mode(camera, value, mode);
    case IM_DIG_BRIGHTNESS: return mp_kvx_brightness(camera, type, value, mode);
    case IM_DIG_CONTRAST: return mp_kvx_contrast(camera, type, value, mode);
    case IM_DIG_HUE: return mp_kvx_hue(camera, type, value, mode);
    case IM_DIG_SATURATION: return mp_kvx_saturation(camera, type, value, mode);
    case IM_DIG_DEC_GAIN: return mp_kvx_dec_gain(camera, type, value, mode);
    default: return 0;
    }
}

// ---- standard family entry points ------------------------------------------------------------------

int32_t mpCamControl_Std(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t type, double value)
{
    if (!ValidCamera(res, camera)) return -1;
    MpCtrlScope scope(res, nullptr);
    return Refused(res, mp_dig_ctrl_inq(nullptr, RecordOf<_MP_CAM_ST_0>(camera), type, &value, 0));
}

int32_t mpCamInquire_Std(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t type, void* out)
{
    double value = 0.0;
    int32_t result = -1;
    if (ValidCamera(res, camera)) {
        MpCtrlScope scope(res, nullptr);
        result = Refused(res, mp_dig_ctrl_inq(nullptr, RecordOf<_MP_CAM_ST_0>(camera), type, &value, 1));
    }
    if (out) std::memcpy(out, &value, sizeof value);
    return result;
}

int32_t mpDigControl_Std(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, int32_t type, double value)
{
    if (!ModuleUsable(res)) return 0;
    MpCtrlScope scope(res, digitizer);
    SelectModule(res);
    return Refused(res, DispatchWithBlock(InfoOf(res), type, &value, CheckIfSorvik2(res, type)));
}

int32_t mpDigInquire_Std(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, int32_t type, void* out)
{
    const bool string = Number(type) == kUartString;
    double value = 0.0;
    int32_t result = 0;
    // Unlike the control, an inquiry makes no module test: the handlers read the shadow and
    // the module's registers as they are.
    {
        MpCtrlScope scope(res, digitizer);
        SelectModule(res);
        const int32_t mode = CheckIfSorvik2(res, type) + 1;
        if (string)
            result = out ? mp_dig_ctrl_inq(InfoOf(res), nullptr, type, static_cast<double*>(out), mode) : -1;
        else
            result = DispatchWithBlock(InfoOf(res), type, &value, mode);
        Refused(res, result);
    }
    if (!string && out) std::memcpy(out, &value, sizeof value);
    return result;
}

// ---- second family entry points ------------------------------------------------------------------

int32_t mpCamControl_Async(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t type, double value)
{
    if (!ValidCamera(res, camera)) return -1;
    MpCtrlScope scope(res, nullptr);
    return Refused(res, mp_kvx_ctrl_inq(RecordOf<_MP_CAM_ST_1>(camera), type, &value, 0));
}

int32_t mpCamInquire_Async(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t type, void* out)
{
    double value = 0.0;
    int32_t result = -1;
    if (ValidCamera(res, camera)) {
        MpCtrlScope scope(res, nullptr);
        result = Refused(res, mp_kvx_ctrl_inq(RecordOf<_MP_CAM_ST_1>(camera), type, &value, 1));
    }
    if (out) std::memcpy(out, &value, sizeof value);
    return result;
}

int32_t mpDigControl_Async(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, int32_t type, double value)
{
    if (!ModuleUsable(res)) return 0;
    MpCtrlScope scope(res, digitizer);
    SelectModule(res);
    return Refused(res, mp_kvx_ctrl_inq(nullptr, type, &value, 0));
}

int32_t mpDigInquire_Async(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, int32_t type, void* out)
{
    double value = 0.0;
    int32_t result = 0;
    // As in the standard family, an inquiry makes no module test.
    {
        MpCtrlScope scope(res, digitizer);
        SelectModule(res);
        result = Refused(res, mp_kvx_ctrl_inq(nullptr, type, &value, 1));
    }
    if (Number(type) != kUartString && out) std::memcpy(out, &value, sizeof value);
    return result;
}
