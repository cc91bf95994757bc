// Slot layout of the camera records of both grab-module families and the second family's
// per-node record.  A camera record is band 0 of a camera buffer: an array of 8-byte slots,
// word 0 the current value (for a register, the 16-bit value in its low half) and word 1
// the value the camera file gave.  The standard module's live register shadow has the
// standard record's layout slot for slot (word 1 holds the write flags there), so one
// handler can act on a record or on the shadow.  Offsets are byte offsets of the slot.
#pragma once

#include "regmap/grab_regs.h"

#include <cstdint>

struct _MP_BUF_ST;

// One slot of a record or of the live shadow.
struct CamSlot {
    uint32_t value;  // current value
    uint32_t file;   // camera-file value (record) or write flags (shadow)
};
static_assert(sizeof(CamSlot) == 8, "a record slot is 8 bytes");

// Slot at a byte offset of a record or shadow base.
inline CamSlot* CamSlotAt(void* base, uint32_t offset) {
    return reinterpret_cast<CamSlot*>(static_cast<uint8_t*>(base) + offset);
}
inline const CamSlot* CamSlotAt(const void* base, uint32_t offset) {
    return reinterpret_cast<const CamSlot*>(static_cast<const uint8_t*>(base) + offset);
}

// Buffer attributes of a camera record: the buffer type and the field that holds the
// module type the record was made for.
constexpr uint32_t kCamBufferType = 0x10000008u;
constexpr uint32_t kCamModuleTypeField = 20000;

// Colour channel bits of the controls, inquiries and loads (bits 16-19 of a type or mask).
constexpr uint32_t kChanRed = 0x10000;
constexpr uint32_t kChanGreen = 0x20000;
constexpr uint32_t kChanBlue = 0x40000;
constexpr uint32_t kChanAlpha = 0x80000;

// ---- standard family (_MP_CAM_ST_0) ---------------------------------------------------
namespace cam0 {

constexpr uint32_t kRecordBytes = 4544;   // buffer width in elements of one byte
constexpr uint32_t kKeywordRows = 199;

// Digitizer registers: the slot of register n is at 8 n (the register map's numbers).
constexpr uint32_t DIG_SHCNT = grabregs::Slot(grabregs::DIG_SHCNT);
constexpr uint32_t DIG_SVCNT = grabregs::Slot(grabregs::DIG_SVCNT);
constexpr uint32_t DIG_HTOTAL = grabregs::Slot(grabregs::DIG_HTOTAL);
constexpr uint32_t DIG_VTOTAL = grabregs::Slot(grabregs::DIG_VTOTAL);
constexpr uint32_t DIG_HSSYNC = grabregs::Slot(grabregs::DIG_HSSYNC);
constexpr uint32_t DIG_HESYNC = grabregs::Slot(grabregs::DIG_HESYNC);
constexpr uint32_t DIG_VSSYNC = grabregs::Slot(grabregs::DIG_VSSYNC);
constexpr uint32_t DIG_VESYNC = grabregs::Slot(grabregs::DIG_VESYNC);
constexpr uint32_t DIG_HSBLNK = grabregs::Slot(grabregs::DIG_HSBLNK);
constexpr uint32_t DIG_HEBLNK = grabregs::Slot(grabregs::DIG_HEBLNK);
constexpr uint32_t DIG_VSBLNK = grabregs::Slot(grabregs::DIG_VSBLNK);
constexpr uint32_t DIG_VEBLNK = grabregs::Slot(grabregs::DIG_VEBLNK);
constexpr uint32_t DIG_HSCLMP = grabregs::Slot(grabregs::DIG_HSCLMP);
constexpr uint32_t DIG_HECLMP = grabregs::Slot(grabregs::DIG_HECLMP);
constexpr uint32_t DIG_VSCLMP = grabregs::Slot(grabregs::DIG_VSCLMP);
constexpr uint32_t DIG_VECLMP = grabregs::Slot(grabregs::DIG_VECLMP);
constexpr uint32_t DIG_HSPLLF = grabregs::Slot(grabregs::DIG_HSPLLF);
constexpr uint32_t DIG_HEPLLF = grabregs::Slot(grabregs::DIG_HEPLLF);
constexpr uint32_t DIG_VSNGVR = grabregs::Slot(grabregs::DIG_VSNGVR);
constexpr uint32_t DIG_VENGVR = grabregs::Slot(grabregs::DIG_VENGVR);
constexpr uint32_t DIG_HSCSGT = grabregs::Slot(grabregs::DIG_HSCSGT);
constexpr uint32_t DIG_HECSGT = grabregs::Slot(grabregs::DIG_HECSGT);
constexpr uint32_t DIG_VSPDTC = grabregs::Slot(grabregs::DIG_VSPDTC);
constexpr uint32_t DIG_VEPDTC = grabregs::Slot(grabregs::DIG_VEPDTC);
constexpr uint32_t DIG_HVRCTL = grabregs::Slot(grabregs::DIG_HVRCTL);
constexpr uint32_t DIG_PLLCTL = grabregs::Slot(grabregs::DIG_PLLCTL);
constexpr uint32_t DIG_SRSCTL = grabregs::Slot(grabregs::DIG_SRSCTL);
constexpr uint32_t DIG_OUTCTL = grabregs::Slot(grabregs::DIG_OUTCTL);
constexpr uint32_t DIG_NGCSFM = grabregs::Slot(grabregs::DIG_NGCSFM);
constexpr uint32_t DIG_PSGCFG = grabregs::Slot(grabregs::DIG_PSGCFG);
constexpr uint32_t DIG_ANACTL = grabregs::Slot(grabregs::DIG_ANACTL);
constexpr uint32_t DIG_GRABCTL = grabregs::Slot(grabregs::DIG_GRABCTL);
constexpr uint32_t DIG_DTCVSR = grabregs::Slot(grabregs::DIG_DTCVSR);
constexpr uint32_t DIG_T1SCNT = grabregs::Slot(grabregs::DIG_T1SCNT);
constexpr uint32_t DIG_EXP1S = grabregs::Slot(grabregs::DIG_EXP1S);
constexpr uint32_t DIG_T1CTL = grabregs::Slot(grabregs::DIG_T1CTL);
constexpr uint32_t DIG_T2SCNT = grabregs::Slot(grabregs::DIG_T2SCNT);
constexpr uint32_t DIG_EXP2S = grabregs::Slot(grabregs::DIG_EXP2S);
constexpr uint32_t DIG_T2CTL = grabregs::Slot(grabregs::DIG_T2CTL);
constexpr uint32_t DIG_FLDSG = grabregs::Slot(grabregs::DIG_FLDSG);
constexpr uint32_t DIG_FLDEG = grabregs::Slot(grabregs::DIG_FLDEG);
constexpr uint32_t DIG_ECSNGT = grabregs::Slot(grabregs::DIG_ECSNGT);
constexpr uint32_t DIG_NGCTL = grabregs::Slot(grabregs::DIG_NGCTL);
constexpr uint32_t DIG_TMRCLR = grabregs::Slot(grabregs::DIG_TMRCLR);
constexpr uint32_t DIG_MISCTL = grabregs::Slot(grabregs::DIG_MISCTL);
constexpr uint32_t DIG_CPTCTL = grabregs::Slot(grabregs::DIG_CPTCTL);
constexpr uint32_t DIG_USRREG = grabregs::Slot(grabregs::DIG_USRREG);
constexpr uint32_t DIG_INTCTL = grabregs::Slot(grabregs::DIG_INTCTL);
constexpr uint32_t DIG_LUTPAL = grabregs::Slot(grabregs::DIG_LUTPAL);
constexpr uint32_t DIG_DICTL = grabregs::Slot(grabregs::DIG_DICTL);
constexpr uint32_t DIG_GPCTL = grabregs::Slot(grabregs::DIG_GPCTL);
constexpr uint32_t DIG_DLYLN = grabregs::Slot(grabregs::DIG_DLYLN);
constexpr uint32_t DIG_SRCCFG = grabregs::Slot(grabregs::DIG_SRCCFG);

// Unnamed register slots used by the drivers.
constexpr uint32_t UART_CONTROL = grabregs::Slot(grabregs::kUartPort);     // register 43: camera UART lines (low half)
constexpr uint32_t SORVIK2_CONTROL = grabregs::Slot(grabregs::kSorvikControl);  // register 47: Sorvik II control word
constexpr uint32_t DEVPRG = grabregs::Slot(grabregs::kSerialPort);           // register 102: serial-device programming lines

// Level DACs (coarse and fine per colour) and reference DACs.
constexpr uint32_t DAC8800LVL_ALPHAC = 1024;
constexpr uint32_t DAC8800LVL_REDC = 1032;
constexpr uint32_t DAC8800LVL_GREENC = 1040;
constexpr uint32_t DAC8800LVL_BLUEC = 1048;
constexpr uint32_t DAC8800LVL_ALPHAF = 1056;
constexpr uint32_t DAC8800LVL_REDF = 1064;
constexpr uint32_t DAC8800LVL_GREENF = 1072;
constexpr uint32_t DAC8800LVL_BLUEF = 1080;
constexpr uint32_t DAC8800REF_ALPHAR = 1088;
constexpr uint32_t DAC8800REF_REDR = 1096;
constexpr uint32_t DAC8800REF_GREENR = 1104;
constexpr uint32_t DAC8800REF_BLUER = 1112;
constexpr uint32_t DAC8800REF_NREF = 1120;
constexpr uint32_t DAC8800REF_EXPFCTL = 1128;
constexpr uint32_t DAC8800REF_EXPGCTL = 1136;
constexpr uint32_t DAC8800REF_PLLFINE = 1144;

// Line-lock PLL registers 0-6, delay line, clock synthesizer.
constexpr uint32_t ICS1522REG0 = 1152;
constexpr uint32_t ICS1522REG(uint32_t n) { return ICS1522REG0 + 8 * n; }
constexpr uint32_t DS1020DLY = 1208;
constexpr uint32_t ICD2061PWRDWN = 1248;
constexpr uint32_t ICD2061CONTROL = 1264;

// Line-lock controller registers.
constexpr uint32_t BT261_CMD_REG0 = 1280;
constexpr uint32_t BT261_CMD_REG1 = 1288;
constexpr uint32_t BT261_CMD_REG2 = 1296;
constexpr uint32_t BT261_CMD_REG3 = 1304;
constexpr uint32_t BT261_VSYNC_SPL = 1312;
constexpr uint32_t BT261_OSC_COUNT_L = 1320;
constexpr uint32_t BT261_OSC_COUNT_H = 1328;
constexpr uint32_t BT261_HSYNC_STAL = 1344;
constexpr uint32_t BT261_HSYNC_STAH = 1352;
constexpr uint32_t BT261_HSYNC_STOL = 1360;
constexpr uint32_t BT261_HSYNC_STOH = 1368;
constexpr uint32_t BT261_CLAMP_STAL = 1376;
constexpr uint32_t BT261_CLAMP_STAH = 1384;
constexpr uint32_t BT261_CLAMP_STOL = 1392;
constexpr uint32_t BT261_CLAMP_STOH = 1400;
constexpr uint32_t BT261_ZERO_STAL = 1408;
constexpr uint32_t BT261_ZERO_STAH = 1416;
constexpr uint32_t BT261_ZERO_STOL = 1424;
constexpr uint32_t BT261_ZERO_STOH = 1432;
constexpr uint32_t BT261_FIELD_GT_STAL = 1440;
constexpr uint32_t BT261_FIELD_GT_STAH = 1448;
constexpr uint32_t BT261_FIELD_GT_STOL = 1456;
constexpr uint32_t BT261_FIELD_GT_STOH = 1464;
constexpr uint32_t BT261_NOISE_GT_STAL = 1472;
constexpr uint32_t BT261_NOISE_GT_STAH = 1480;
constexpr uint32_t BT261_NOISE_GT_STOL = 1488;
constexpr uint32_t BT261_NOISE_GT_STOH = 1496;
constexpr uint32_t BT261_HCOUNT_STAL = 1504;
constexpr uint32_t BT261_HCOUNT_STAH = 1512;

constexpr uint32_t DIMREG0 = 1520;

// Description fields.
constexpr uint32_t INFO_XSIZE = 1528;
constexpr uint32_t INFO_YSIZE = 1536;
constexpr uint32_t INFO_MODE = 1544;
constexpr uint32_t INFO_TYPE = 1552;
constexpr uint32_t INFO_INPUT = 1560;
constexpr uint32_t INFO_PIXCLK = 1568;
constexpr uint32_t INFO_SPIXCLK = 1576;
constexpr uint32_t INFO_CONTPCLK = 1584;
constexpr uint32_t INFO_USRCLK0 = 1592;
constexpr uint32_t INFO_USRCLK1 = 1600;
constexpr uint32_t INFO_USRCLK2 = 1608;
constexpr uint32_t INFO_USRCLKSEL = 1616;
constexpr uint32_t INFO_GRBSYSCLK = 1624;
constexpr uint32_t INFO_SAMPLEMODE = 1632;
constexpr uint32_t INFO_CHANNEL = 1640;
constexpr uint32_t INFO_BITSPERLOGCH = 1648;
constexpr uint32_t INFO_TIMEMULTICH = 1656;
constexpr uint32_t INFO_TIMEMULTIPIX = 1664;
constexpr uint32_t INFO_XTAPSPERCH = 1672;
constexpr uint32_t INFO_YTAPSPERCH = 1680;
constexpr uint32_t INFO_XTAPSPERCHADJ = 1688;
constexpr uint32_t INFO_YTAPSPERCHADJ = 1696;
constexpr uint32_t INFO_PACKEDPIXELS = 1704;
constexpr uint32_t INFO_SYNCGRABCHAN = 1712;
constexpr uint32_t INFO_LUTBUFID = 1720;
constexpr uint32_t INFO_LUTPROG = 1728;
constexpr uint32_t INFO_T1DELAY = 1736;
constexpr uint32_t INFO_T2DELAY = 1744;
constexpr uint32_t INFO_TRIGSRC = 1752;
constexpr uint32_t INFO_T1TRGSRC = 1760;
constexpr uint32_t INFO_T2TRGSRC = 1768;
constexpr uint32_t INFO_T1CLKSRC = 1776;
constexpr uint32_t INFO_T2CLKSRC = 1784;
constexpr uint32_t INFO_T1EXPMOD = 1792;
constexpr uint32_t INFO_T2EXPMOD = 1800;
constexpr uint32_t INFO_XYSIZEMOD = 1808;
constexpr uint32_t INFO_CLAMP = 1816;
constexpr uint32_t INFO_LINEDELAY = 1824;
constexpr uint32_t INFO_MISC = 1832;

// Analog levels in millivolts.
constexpr uint32_t VDL_AMPL = 1840;
constexpr uint32_t VDL_PED_AMP = 1848;
constexpr uint32_t SYN_AMPL = 1856;

// Reference levels: black and white level in millivolts, black and white references in
// percent (white per colour channel).
constexpr uint32_t BLACK_LEVEL = 1864;
constexpr uint32_t WHITE_LEVEL = 1872;
constexpr uint32_t BLACK_REF = 1880;
constexpr uint32_t WHITE_REF_RED = 1888;
constexpr uint32_t WHITE_REF_GREEN = 1896;
constexpr uint32_t WHITE_REF_BLUE = 1904;
constexpr uint32_t WHITE_REF_ALPHA = 1912;

// The Orlo's grab-controller registers.
constexpr uint32_t ORLOGREG_GHCOUNT = 2032;
constexpr uint32_t ORLOGREG_GVCOUNT = 2040;
constexpr uint32_t ORLOGREG_GHSCLNG = 2048;
constexpr uint32_t ORLOGREG_GHTOTAL = 2056;
constexpr uint32_t ORLOGREG_GHWSTART = 2064;
constexpr uint32_t ORLOGREG_GHWSTOP = 2072;
constexpr uint32_t ORLOGREG_GLNINT = 2080;
constexpr uint32_t ORLOGREG_GPIXFMT = 2088;
constexpr uint32_t ORLOGREG_GRABCTRL = 2096;
constexpr uint32_t ORLOGREG_GVSCLNG = 2104;
constexpr uint32_t ORLOGREG_GVTOTAL = 2112;
constexpr uint32_t ORLOGREG_GVWSTART = 2120;
constexpr uint32_t ORLOGREG_GVWSTOP = 2128;
constexpr uint32_t ORLOGREG_GARPADDR = 2136;
constexpr uint32_t ORLOGREG_GARPCTRL = 2144;
constexpr uint32_t ORLOGREG_GSTATUS = 2152;
constexpr uint32_t ORLOGREG_GBLENGTH = 2160;
constexpr uint32_t ORLOGREG_GC1FOFF = 2168;
constexpr uint32_t ORLOGREG_GC1TOFF = 2176;
constexpr uint32_t ORLOGREG_GC2FOFF = 2184;
constexpr uint32_t ORLOGREG_GC2TOFF = 2192;
constexpr uint32_t ORLOGREG_GC3FOFF = 2200;
constexpr uint32_t ORLOGREG_GC3TOFF = 2208;
constexpr uint32_t ORLOGREG_GDWRTMSK = 2216;
constexpr uint32_t ORLOGREG_GFSTART = 2224;
constexpr uint32_t ORLOGREG_GLPITCH = 2232;
constexpr uint32_t ORLOGREG_GTAGCTL = 2240;
constexpr uint32_t ORLOGREG_GTLPITCH = 2248;

// Second set of some digitizer registers.
constexpr uint32_t SDIG_HTOTAL = 2264;
constexpr uint32_t SDIG_HSSYNC = 2272;
constexpr uint32_t SDIG_HESYNC = 2280;
constexpr uint32_t SDIG_GRABCTL = 2288;
constexpr uint32_t SDIG_GPCTL = 2296;
constexpr uint32_t SDIG_HVRCTL = 2304;
constexpr uint32_t SDIG_HSPLLF = 2312;
constexpr uint32_t SDIG_HEPLLF = 2320;
constexpr uint32_t SDIG_T2SCNT = 2328;
constexpr uint32_t SDIG_EXP2S = 2336;
constexpr uint32_t SDIG_T2CTL = 2344;
constexpr uint32_t SDIG_MISCTL = 2352;
constexpr uint32_t SDIG_PSGCFG = 2360;

// Second set of the line-lock PLL registers.
constexpr uint32_t SICS1522REG0 = 2368;
constexpr uint32_t SICS1522REG(uint32_t n) { return SICS1522REG0 + 8 * n; }

// Sorvik II flag (isSorvik2): word 0 holds the module type 2 or 34, or 0.
constexpr uint32_t SORVIK2_FLAG = 2448;

// Working fields behind the slots (not in the keyword table, never saved):
// loadedOnce: 32-bit flag, 0 until the record's first load has programmed its LUTs.
constexpr uint32_t LOADED_ONCE = 2456;
// refDacBytes: the 13 DAC values to load, in the order NREF, then per channel red, green,
// blue, alpha: reference, coarse level, fine level.
constexpr uint32_t REF_DAC_BYTES = 2464;
constexpr uint32_t kRefDacCount = 13;
// calData: image of EEPROM words 0-969 (little-endian 16-bit words, 1940 bytes).
constexpr uint32_t CAL_DATA = 2480;
constexpr uint32_t kCalWords = 970;

// lutModeSeen: 0 until the record's first LUT mode decision.
constexpr uint32_t LUT_MODE_SEEN = 4424;
// comparedOnce: non-zero once the record has been compared with the live registers.
constexpr uint32_t COMPARED_ONCE = 4432;

// Bytes a never-loaded record takes over from the record loaded on its digitizer: the
// slots, the module flag and every working word up to the compared-once flag.
constexpr uint32_t kTakeOverBytes = 4517;

// Indices into refDacBytes.
constexpr uint32_t kRefNref = 0;
constexpr uint32_t RefDacIndex(uint32_t channel, uint32_t which) {  // which: 0 REF, 1 coarse, 2 fine
    return 1 + 3 * channel + which;
}

static_assert(ICS1522REG(6) == 1200 && SICS1522REG(6) == 2416, "PLL register runs");
static_assert(INFO_MISC == 1528 + 38 * 8, "39 description fields");
static_assert(ORLOGREG_GTLPITCH == 2032 + 27 * 8, "28 grab-controller registers");
static_assert(REF_DAC_BYTES + kRefDacCount <= CAL_DATA, "DAC bytes before the calibration image");
static_assert(CAL_DATA + 2 * kCalWords <= LUT_MODE_SEEN && LUT_MODE_SEEN + 4 <= COMPARED_ONCE &&
                  COMPARED_ONCE + 4 <= kTakeOverBytes && kTakeOverBytes <= kRecordBytes,
              "every field lies inside the taken-over part of the record, the working words behind the "
              "calibration image");

} // namespace cam0

// ---- second family (_MP_CAM_ST_1) -----------------------------------------------------
namespace cam1 {

constexpr uint32_t kRecordBytes = 5760;
constexpr uint32_t kKeywordRows = 335;

// Buffer-controller registers of buffer n (0-3).
constexpr uint32_t BTC_GOVRN(uint32_t n) { return 8 + 128 * n; }
constexpr uint32_t BTC_GORST(uint32_t n) { return 16 + 128 * n; }
constexpr uint32_t BTC_GDBUF(uint32_t n) { return 24 + 128 * n; }
constexpr uint32_t BTC_DOVRN(uint32_t n) { return 32 + 128 * n; }
constexpr uint32_t BTC_DORST(uint32_t n) { return 40 + 128 * n; }
constexpr uint32_t BTC_GWRPT(uint32_t n) { return 48 + 128 * n; }
constexpr uint32_t BTC_GRDPT(uint32_t n) { return 56 + 128 * n; }
constexpr uint32_t BTC_GLINE(uint32_t n) { return 64 + 128 * n; }
constexpr uint32_t BTC_GBLCK(uint32_t n) { return 72 + 128 * n; }
constexpr uint32_t BTC_DFULL(uint32_t n) { return 80 + 128 * n; }
constexpr uint32_t BTC_DBLCK(uint32_t n) { return 88 + 128 * n; }
constexpr uint32_t BTC_START(uint32_t n) { return 96 + 128 * n; }
constexpr uint32_t BTC_NODMA(uint32_t n) { return 104 + 128 * n; }

constexpr uint32_t BTC_AIDCYC = 512;
constexpr uint32_t BTC_GGRBIX = 520;
constexpr uint32_t BTC_GDUMID = 528;
constexpr uint32_t BTC_DDMAIX = 536;
constexpr uint32_t BTC_DDUMID = 544;
constexpr uint32_t BTC_DDMADONE = 552;
constexpr uint32_t BTC_DDMABUSY = 560;
constexpr uint32_t BTC_BTCBPASS = 568;
constexpr uint32_t BTC_RDBAKREQ = 576;
constexpr uint32_t BTC_RDBAKSND = 584;
constexpr uint32_t BTC_ISFBMODE = 592;
constexpr uint32_t BTC_BTCREV = 600;
constexpr uint32_t BTC_BRDREV = 608;
constexpr uint32_t BTC_CLKSEL = 616;
constexpr uint32_t BTC_GBUFCTL = 624;
constexpr uint32_t BTC_EEPPRG = 632;
constexpr uint32_t ISF_LUTEN = 640;
constexpr uint32_t ISF_LUTIDX = 648;
constexpr uint32_t ISF_LUTDATA = 656;
constexpr uint32_t ISF_BMODE = 664;

// Timing chip, in the order PTOTAL ... TSTSTS, every 8 from 1024; the second set at 3264.
constexpr uint32_t FAF_PTOTAL = 1024;
constexpr uint32_t FAF_PSVAL = 1032;
constexpr uint32_t FAF_HCNT = 1040;
constexpr uint32_t FAF_HTOTAL = 1048;
constexpr uint32_t FAF_HSSYNC = 1056;
constexpr uint32_t FAF_HESYNC = 1064;
constexpr uint32_t FAF_HSVAL = 1072;
constexpr uint32_t FAF_HEVAL = 1080;
constexpr uint32_t FAF_HSCLMP = 1088;
constexpr uint32_t FAF_HECLMP = 1096;
constexpr uint32_t FAF_VCNT = 1104;
constexpr uint32_t FAF_VTOTAL = 1112;
constexpr uint32_t FAF_VSSYNC = 1120;
constexpr uint32_t FAF_VESYNC = 1128;
constexpr uint32_t FAF_VSVAL = 1136;
constexpr uint32_t FAF_VEVAL = 1144;
constexpr uint32_t FAF_VSCLMP = 1152;
constexpr uint32_t FAF_VECLMP = 1160;
constexpr uint32_t FAF_VCRSTCTL = 1168;
constexpr uint32_t FAF_HCRSTCTL = 1176;
constexpr uint32_t FAF_PCRSTCTL = 1184;
constexpr uint32_t FAF_CLOCKCTL = 1192;
constexpr uint32_t FAF_CLAMPCTL = 1200;
constexpr uint32_t FAF_FIELDCTL = 1208;
constexpr uint32_t FAF_SYNCCTL = 1216;
constexpr uint32_t FAF_VALIDCTL = 1224;
constexpr uint32_t FAF_GRBCTL1 = 1232;
constexpr uint32_t FAF_NGCTL = 1240;
constexpr uint32_t FAF_NGCSEND = 1248;
constexpr uint32_t FAF_NGVSDET = 1256;
constexpr uint32_t FAF_NGFEND = 1264;
constexpr uint32_t FAF_TMRCTL0 = 1272;
constexpr uint32_t FAF_TMRCTL1 = 1280;
constexpr uint32_t FAF_TSETCNT = 1288;
constexpr uint32_t FAF_TSETEXP0 = 1296;
constexpr uint32_t FAF_TSETEXP1 = 1304;
constexpr uint32_t FAF_TSETEXP2 = 1312;
constexpr uint32_t FAF_IOENCTL0 = 1320;
constexpr uint32_t FAF_IOENCTL1 = 1328;
constexpr uint32_t FAF_OPAMPCTL = 1336;
constexpr uint32_t FAF_PLLCTL = 1344;
constexpr uint32_t FAF_USERO = 1352;
constexpr uint32_t FAF_GRBCTL0 = 1360;
constexpr uint32_t FAF_DEVPROG = 1368;
constexpr uint32_t FAF_TSTSTS = 1376;
constexpr uint32_t kSecondTimingSet = 3264 - 1024;  // SFAF_x = FAF_x + this

constexpr uint32_t PLL_ICS1522REG0 = 1384;
constexpr uint32_t PLL_ICS1522REG(uint32_t n) { return PLL_ICS1522REG0 + 8 * n; }
constexpr uint32_t SPLL_ICS1522REG0 = 3624;
constexpr uint32_t SPLL_ICS1522REG(uint32_t n) { return SPLL_ICS1522REG0 + 8 * n; }

constexpr uint32_t DAC_CH0POSREF = 1440;
constexpr uint32_t DAC_CH1POSREF = 1448;
constexpr uint32_t DAC_RESERVED0 = 1456;
constexpr uint32_t DAC_RESERVED1 = 1464;
constexpr uint32_t DAC_CH0LVL = 1472;
constexpr uint32_t DAC_CH1LVL = 1480;
constexpr uint32_t DAC_RESERVED2 = 1488;
constexpr uint32_t DAC_RESERVED3 = 1496;

// Video decoder registers run every 8 from DEC_STAT (1504) to DEC_GAMMA (2016); the
// decoder's sub-address of a register is its index in that run.
constexpr uint32_t DEC_STAT = 1504;
constexpr uint32_t DEC_CDEM = 1504 + 13 * 8;
constexpr uint32_t DEC_GAMMA = 2016;
constexpr uint32_t DEC_GAMMAD = 2272;

constexpr uint32_t DIM = 2528;

// Description fields in the order of the standard record's INFO_ fields.
constexpr uint32_t DESCRIPTION_INFO_XSIZE = 2536;
constexpr uint32_t DESCRIPTION_INFO_MISC = 2840;
constexpr uint32_t kInfoToStandard = 2536 - cam0::INFO_XSIZE;  // DESCRIPTION_INFO_x = INFO_x + this

constexpr uint32_t VDL_AMPL = 2848;
constexpr uint32_t VDL_PED_AMP = 2856;
constexpr uint32_t SYN_AMPL = 2864;
constexpr uint32_t DESCRIPTION_INFO_REFNEG = 2872;
constexpr uint32_t DESCRIPTION_INFO_REFPOSRED = 2880;
constexpr uint32_t DESCRIPTION_INFO_REFPOSGREEN = 2888;
constexpr uint32_t DESCRIPTION_INFO_REFPOSBLUE = 2896;
constexpr uint32_t DESCRIPTION_INFO_REFPOSALPHA = 2904;
constexpr uint32_t BLACK_LEVEL = 2912;  // millivolts
constexpr uint32_t WHITE_LEVEL = 2920;  // millivolts

constexpr uint32_t DESCRIPTION_PIXSIZE = 2928;
constexpr uint32_t DESCRIPTION_CH0REF = 2936;
constexpr uint32_t DESCRIPTION_CH0LVL = 2944;
constexpr uint32_t DESCRIPTION_CH1REF = 2952;
constexpr uint32_t DESCRIPTION_CH1LVL = 2960;
constexpr uint32_t DESCRIPTION_CH2REF = 2968;
constexpr uint32_t DESCRIPTION_CH2LVL = 2976;
constexpr uint32_t DESCRIPTION_CH3REF = 2984;
constexpr uint32_t DESCRIPTION_CH3LVL = 2992;

// The Orlo's grab-controller registers, in the standard record's order.
constexpr uint32_t ORLOGREG_GHCOUNT = 3032;
constexpr uint32_t kOrloToStandard = 3032 - cam0::ORLOGREG_GHCOUNT;  // cam1 = cam0 + this

static_assert(BTC_NODMA(3) == 488, "four buffer register runs");
static_assert(ISF_BMODE == 664, "controller run ends at ISF_BMODE");
static_assert(FAF_TSTSTS == 1376 && FAF_IOENCTL0 + 8 == FAF_IOENCTL1, "timing-chip run");
static_assert(DEC_STAT + 64 * 8 == DEC_GAMMA, "65 decoder registers in the run");
static_assert(DESCRIPTION_INFO_MISC - DESCRIPTION_INFO_XSIZE ==
                  cam0::INFO_MISC - cam0::INFO_XSIZE, "description fields mirror INFO_");
// Working fields behind the slots: loadedOnce (32-bit flag) and dacBytes (working values of
// DAC channels 0, 4, 1, 5 in the order CH0POSREF, CH0LVL, CH1POSREF, CH1LVL).
constexpr uint32_t LOADED_ONCE = 3680;
constexpr uint32_t DAC_BYTES = 3688;

static_assert(SPLL_ICS1522REG(6) + 8 <= LOADED_ONCE, "working fields behind the slots");
static_assert(DAC_BYTES + 4 <= kRecordBytes, "every field lies inside the record");

} // namespace cam1

// The records as types, so that handlers can tell which family they take.  The live
// shadow of the standard module may stand in for an _MP_CAM_ST_0 where a handler acts on
// the live registers.
struct _MP_CAM_ST_0 {
    uint8_t bytes[cam0::kRecordBytes];
};
struct _MP_CAM_ST_1 {
    uint8_t bytes[cam1::kRecordBytes];
};

inline CamSlot* CamSlotAt(_MP_CAM_ST_0* cam, uint32_t offset) { return CamSlotAt(cam->bytes, offset); }
inline const CamSlot* CamSlotAt(const _MP_CAM_ST_0* cam, uint32_t offset) { return CamSlotAt(cam->bytes, offset); }
inline CamSlot* CamSlotAt(_MP_CAM_ST_1* cam, uint32_t offset) { return CamSlotAt(cam->bytes, offset); }
inline const CamSlot* CamSlotAt(const _MP_CAM_ST_1* cam, uint32_t offset) { return CamSlotAt(cam->bytes, offset); }

// ---- the second family's per-node record ----------------------------------------------
// Kept in the node record's camera-UART word.  Two banks (primary and display Orlo grab
// path) of five buffers each, and four register copies of the module in the layout of the
// second family's camera record (the first is the current copy used by controls, EEPROM
// port and load).
struct KVX_BANK_ENTRY {
    _MP_BUF_ST* buffer;  // null when not allocated
    uint8_t* address;    // host address of its band 0
};

struct KVX_INFO {
    KVX_BANK_ENTRY bank[2][5];
    uint8_t* regs[4];        // register copies; regs[0] is the current one
    uint32_t reserved[6];
};

// Bank entries: sizes in bytes.
constexpr uint32_t kKvxEntryBytes[5] = {576, 131136, 10304, 32832, 832};

#if defined(__i386__)
static_assert(sizeof(KVX_INFO) == 120, "the per-node record is 120 bytes");
#endif
