#include "camrec.h"
#include "dcftable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

namespace {

struct Expected {
    const char* keyword;
    uint32_t offset;
};

// Every keyword of the standard family with its slot, through the record layout.
const Expected kStandard[] = {
    {"DIG_SHCNT", cam0::DIG_SHCNT}, {"DIG_SVCNT", cam0::DIG_SVCNT}, {"DIG_HTOTAL", cam0::DIG_HTOTAL},
    {"DIG_VTOTAL", cam0::DIG_VTOTAL}, {"DIG_HSSYNC", cam0::DIG_HSSYNC}, {"DIG_HESYNC", cam0::DIG_HESYNC},
    {"DIG_VSSYNC", cam0::DIG_VSSYNC}, {"DIG_VESYNC", cam0::DIG_VESYNC}, {"DIG_HSBLNK", cam0::DIG_HSBLNK},
    {"DIG_HEBLNK", cam0::DIG_HEBLNK}, {"DIG_VSBLNK", cam0::DIG_VSBLNK}, {"DIG_VEBLNK", cam0::DIG_VEBLNK},
    {"DIG_HSCLMP", cam0::DIG_HSCLMP}, {"DIG_HECLMP", cam0::DIG_HECLMP}, {"DIG_VSCLMP", cam0::DIG_VSCLMP},
    {"DIG_VECLMP", cam0::DIG_VECLMP}, {"DIG_HSPLLF", cam0::DIG_HSPLLF}, {"DIG_HEPLLF", cam0::DIG_HEPLLF},
    {"DIG_VSNGVR", cam0::DIG_VSNGVR}, {"DIG_VENGVR", cam0::DIG_VENGVR}, {"DIG_HSCSGT", cam0::DIG_HSCSGT},
    {"DIG_HECSGT", cam0::DIG_HECSGT}, {"DIG_VSPDTC", cam0::DIG_VSPDTC}, {"DIG_VEPDTC", cam0::DIG_VEPDTC},
    {"DIG_HVRCTL", cam0::DIG_HVRCTL}, {"DIG_PLLCTL", cam0::DIG_PLLCTL}, {"DIG_SRSCTL", cam0::DIG_SRSCTL},
    {"DIG_OUTCTL", cam0::DIG_OUTCTL}, {"DIG_NGCSFM", cam0::DIG_NGCSFM}, {"DIG_PSGCFG", cam0::DIG_PSGCFG},
    {"DIG_ANACTL", cam0::DIG_ANACTL}, {"DIG_GRABCTL", cam0::DIG_GRABCTL}, {"DIG_DTCVSR", cam0::DIG_DTCVSR},
    {"DIG_T1SCNT", cam0::DIG_T1SCNT}, {"DIG_EXP1S", cam0::DIG_EXP1S}, {"DIG_T1CTL", cam0::DIG_T1CTL},
    {"DIG_T2SCNT", cam0::DIG_T2SCNT}, {"DIG_EXP2S", cam0::DIG_EXP2S}, {"DIG_T2CTL", cam0::DIG_T2CTL},
    {"DIG_FLDSG", cam0::DIG_FLDSG}, {"DIG_FLDEG", cam0::DIG_FLDEG}, {"DIG_ECSNGT", cam0::DIG_ECSNGT},
    {"DIG_NGCTL", cam0::DIG_NGCTL}, {"DIG_TMRCLR", cam0::DIG_TMRCLR}, {"DIG_MISCTL", cam0::DIG_MISCTL},
    {"DIG_CPTCTL", cam0::DIG_CPTCTL}, {"DIG_USRREG", cam0::DIG_USRREG}, {"DIG_INTCTL", cam0::DIG_INTCTL},
    {"DIG_LUTPAL", cam0::DIG_LUTPAL}, {"DIG_DICTL", cam0::DIG_DICTL}, {"DIG_GPCTL", cam0::DIG_GPCTL},
    {"DIG_DLYLN", cam0::DIG_DLYLN}, {"DIG_SRCCFG", cam0::DIG_SRCCFG},
    {"DAC8800LVL_ALPHAC", cam0::DAC8800LVL_ALPHAC}, {"DAC8800LVL_REDC", cam0::DAC8800LVL_REDC},
    {"DAC8800LVL_GREENC", cam0::DAC8800LVL_GREENC}, {"DAC8800LVL_BLUEC", cam0::DAC8800LVL_BLUEC},
    {"DAC8800LVL_ALPHAF", cam0::DAC8800LVL_ALPHAF}, {"DAC8800LVL_REDF", cam0::DAC8800LVL_REDF},
    {"DAC8800LVL_GREENF", cam0::DAC8800LVL_GREENF}, {"DAC8800LVL_BLUEF", cam0::DAC8800LVL_BLUEF},
    {"DAC8800REF_ALPHAR", cam0::DAC8800REF_ALPHAR}, {"DAC8800REF_REDR", cam0::DAC8800REF_REDR},
    {"DAC8800REF_GREENR", cam0::DAC8800REF_GREENR}, {"DAC8800REF_BLUER", cam0::DAC8800REF_BLUER},
    {"DAC8800REF_NREF", cam0::DAC8800REF_NREF}, {"DAC8800REF_EXPFCTL", cam0::DAC8800REF_EXPFCTL},
    {"DAC8800REF_EXPGCTL", cam0::DAC8800REF_EXPGCTL}, {"DAC8800REF_PLLFINE", cam0::DAC8800REF_PLLFINE},
    {"ICS1522REG0", cam0::ICS1522REG(0)}, {"ICS1522REG1", cam0::ICS1522REG(1)},
    {"ICS1522REG2", cam0::ICS1522REG(2)}, {"ICS1522REG3", cam0::ICS1522REG(3)},
    {"ICS1522REG4", cam0::ICS1522REG(4)}, {"ICS1522REG5", cam0::ICS1522REG(5)},
    {"ICS1522REG6", cam0::ICS1522REG(6)}, {"DS1020DLY", cam0::DS1020DLY}, {"ICD2061PWRDWN", cam0::ICD2061PWRDWN},
    {"ICD2061CONTROL", cam0::ICD2061CONTROL}, {"BT261_CMD_REG0", cam0::BT261_CMD_REG0},
    {"BT261_CMD_REG1", cam0::BT261_CMD_REG1}, {"BT261_CMD_REG2", cam0::BT261_CMD_REG2},
    {"BT261_CMD_REG3", cam0::BT261_CMD_REG3}, {"BT261_VSYNC_SPL", cam0::BT261_VSYNC_SPL},
    {"BT261_OSC_COUNT_L", cam0::BT261_OSC_COUNT_L}, {"BT261_OSC_COUNT_H", cam0::BT261_OSC_COUNT_H},
    {"BT261_HSYNC_STAL", cam0::BT261_HSYNC_STAL}, {"BT261_HSYNC_STAH", cam0::BT261_HSYNC_STAH},
    {"BT261_HSYNC_STOL", cam0::BT261_HSYNC_STOL}, {"BT261_HSYNC_STOH", cam0::BT261_HSYNC_STOH},
    {"BT261_CLAMP_STAL", cam0::BT261_CLAMP_STAL}, {"BT261_CLAMP_STAH", cam0::BT261_CLAMP_STAH},
    {"BT261_CLAMP_STOL", cam0::BT261_CLAMP_STOL}, {"BT261_CLAMP_STOH", cam0::BT261_CLAMP_STOH},
    {"BT261_ZERO_STAL", cam0::BT261_ZERO_STAL}, {"BT261_ZERO_STAH", cam0::BT261_ZERO_STAH},
    {"BT261_ZERO_STOL", cam0::BT261_ZERO_STOL}, {"BT261_ZERO_STOH", cam0::BT261_ZERO_STOH},
    {"BT261_FIELD_GT_STAL", cam0::BT261_FIELD_GT_STAL}, {"BT261_FIELD_GT_STAH", cam0::BT261_FIELD_GT_STAH},
    {"BT261_FIELD_GT_STOL", cam0::BT261_FIELD_GT_STOL}, {"BT261_FIELD_GT_STOH", cam0::BT261_FIELD_GT_STOH},
    {"BT261_NOISE_GT_STAL", cam0::BT261_NOISE_GT_STAL}, {"BT261_NOISE_GT_STAH", cam0::BT261_NOISE_GT_STAH},
    {"BT261_NOISE_GT_STOL", cam0::BT261_NOISE_GT_STOL}, {"BT261_NOISE_GT_STOH", cam0::BT261_NOISE_GT_STOH},
    {"BT261_HCOUNT_STAL", cam0::BT261_HCOUNT_STAL}, {"BT261_HCOUNT_STAH", cam0::BT261_HCOUNT_STAH},
    {"DIMREG0", cam0::DIMREG0}, {"INFO_XSIZE", cam0::INFO_XSIZE}, {"INFO_YSIZE", cam0::INFO_YSIZE},
    {"INFO_MODE", cam0::INFO_MODE}, {"INFO_TYPE", cam0::INFO_TYPE}, {"INFO_INPUT", cam0::INFO_INPUT},
    {"INFO_PIXCLK", cam0::INFO_PIXCLK}, {"INFO_SPIXCLK", cam0::INFO_SPIXCLK},
    {"INFO_CONTPCLK", cam0::INFO_CONTPCLK}, {"INFO_USRCLK0", cam0::INFO_USRCLK0},
    {"INFO_USRCLK1", cam0::INFO_USRCLK1}, {"INFO_USRCLK2", cam0::INFO_USRCLK2},
    {"INFO_USRCLKSEL", cam0::INFO_USRCLKSEL}, {"INFO_GRBSYSCLK", cam0::INFO_GRBSYSCLK},
    {"INFO_SAMPLEMODE", cam0::INFO_SAMPLEMODE}, {"INFO_CHANNEL", cam0::INFO_CHANNEL},
    {"INFO_BITSPERLOGCH", cam0::INFO_BITSPERLOGCH}, {"INFO_TIMEMULTICH", cam0::INFO_TIMEMULTICH},
    {"INFO_TIMEMULTIPIX", cam0::INFO_TIMEMULTIPIX}, {"INFO_XTAPSPERCH", cam0::INFO_XTAPSPERCH},
    {"INFO_YTAPSPERCH", cam0::INFO_YTAPSPERCH}, {"INFO_XTAPSPERCHADJ", cam0::INFO_XTAPSPERCHADJ},
    {"INFO_YTAPSPERCHADJ", cam0::INFO_YTAPSPERCHADJ}, {"INFO_PACKEDPIXELS", cam0::INFO_PACKEDPIXELS},
    {"INFO_SYNCGRABCHAN", cam0::INFO_SYNCGRABCHAN}, {"INFO_LUTBUFID", cam0::INFO_LUTBUFID},
    {"INFO_LUTPROG", cam0::INFO_LUTPROG}, {"INFO_T1DELAY", cam0::INFO_T1DELAY},
    {"INFO_T2DELAY", cam0::INFO_T2DELAY}, {"INFO_TRIGSRC", cam0::INFO_TRIGSRC},
    {"INFO_T1TRGSRC", cam0::INFO_T1TRGSRC}, {"INFO_T2TRGSRC", cam0::INFO_T2TRGSRC},
    {"INFO_T1CLKSRC", cam0::INFO_T1CLKSRC}, {"INFO_T2CLKSRC", cam0::INFO_T2CLKSRC},
    {"INFO_T1EXPMOD", cam0::INFO_T1EXPMOD}, {"INFO_T2EXPMOD", cam0::INFO_T2EXPMOD},
    {"INFO_XYSIZEMOD", cam0::INFO_XYSIZEMOD}, {"INFO_CLAMP", cam0::INFO_CLAMP},
    {"INFO_LINEDELAY", cam0::INFO_LINEDELAY}, {"INFO_MISC", cam0::INFO_MISC}, {"VDL_AMPL", cam0::VDL_AMPL},
    {"VDL_PED_AMP", cam0::VDL_PED_AMP}, {"SYN_AMPL", cam0::SYN_AMPL}, {"ORLOGREG_GHCOUNT", cam0::ORLOGREG_GHCOUNT},
    {"ORLOGREG_GVCOUNT", cam0::ORLOGREG_GVCOUNT}, {"ORLOGREG_GHSCLNG", cam0::ORLOGREG_GHSCLNG},
    {"ORLOGREG_GHTOTAL", cam0::ORLOGREG_GHTOTAL}, {"ORLOGREG_GHWSTART", cam0::ORLOGREG_GHWSTART},
    {"ORLOGREG_GHWSTOP", cam0::ORLOGREG_GHWSTOP}, {"ORLOGREG_GLNINT", cam0::ORLOGREG_GLNINT},
    {"ORLOGREG_GPIXFMT", cam0::ORLOGREG_GPIXFMT}, {"ORLOGREG_GRABCTRL", cam0::ORLOGREG_GRABCTRL},
    {"ORLOGREG_GVSCLNG", cam0::ORLOGREG_GVSCLNG}, {"ORLOGREG_GVTOTAL", cam0::ORLOGREG_GVTOTAL},
    {"ORLOGREG_GVWSTART", cam0::ORLOGREG_GVWSTART}, {"ORLOGREG_GVWSTOP", cam0::ORLOGREG_GVWSTOP},
    {"ORLOGREG_GARPADDR", cam0::ORLOGREG_GARPADDR}, {"ORLOGREG_GARPCTRL", cam0::ORLOGREG_GARPCTRL},
    {"ORLOGREG_GSTATUS", cam0::ORLOGREG_GSTATUS}, {"ORLOGREG_GBLENGTH", cam0::ORLOGREG_GBLENGTH},
    {"ORLOGREG_GC1FOFF", cam0::ORLOGREG_GC1FOFF}, {"ORLOGREG_GC1TOFF", cam0::ORLOGREG_GC1TOFF},
    {"ORLOGREG_GC2FOFF", cam0::ORLOGREG_GC2FOFF}, {"ORLOGREG_GC2TOFF", cam0::ORLOGREG_GC2TOFF},
    {"ORLOGREG_GC3FOFF", cam0::ORLOGREG_GC3FOFF}, {"ORLOGREG_GC3TOFF", cam0::ORLOGREG_GC3TOFF},
    {"ORLOGREG_GDWRTMSK", cam0::ORLOGREG_GDWRTMSK}, {"ORLOGREG_GFSTART", cam0::ORLOGREG_GFSTART},
    {"ORLOGREG_GLPITCH", cam0::ORLOGREG_GLPITCH}, {"ORLOGREG_GTAGCTL", cam0::ORLOGREG_GTAGCTL},
    {"ORLOGREG_GTLPITCH", cam0::ORLOGREG_GTLPITCH}, {"SDIG_HTOTAL", cam0::SDIG_HTOTAL},
    {"SDIG_HSSYNC", cam0::SDIG_HSSYNC}, {"SDIG_HESYNC", cam0::SDIG_HESYNC}, {"SDIG_GRABCTL", cam0::SDIG_GRABCTL},
    {"SDIG_GPCTL", cam0::SDIG_GPCTL}, {"SDIG_HVRCTL", cam0::SDIG_HVRCTL}, {"SDIG_HSPLLF", cam0::SDIG_HSPLLF},
    {"SDIG_HEPLLF", cam0::SDIG_HEPLLF}, {"SDIG_T2SCNT", cam0::SDIG_T2SCNT}, {"SDIG_EXP2S", cam0::SDIG_EXP2S},
    {"SDIG_T2CTL", cam0::SDIG_T2CTL}, {"SDIG_MISCTL", cam0::SDIG_MISCTL}, {"SDIG_PSGCFG", cam0::SDIG_PSGCFG},
    {"SICS1522REG0", cam0::SICS1522REG(0)}, {"SICS1522REG1", cam0::SICS1522REG(1)},
    {"SICS1522REG2", cam0::SICS1522REG(2)}, {"SICS1522REG3", cam0::SICS1522REG(3)},
    {"SICS1522REG4", cam0::SICS1522REG(4)}, {"SICS1522REG5", cam0::SICS1522REG(5)},
    {"SICS1522REG6", cam0::SICS1522REG(6)},
};

// Every keyword of the second family with its slot, through the record layout.
const Expected kSecond[] = {
    {"BTC_GOVRN_0", cam1::BTC_GOVRN(0)}, {"BTC_GORST_0", cam1::BTC_GORST(0)}, {"BTC_GDBUF_0", cam1::BTC_GDBUF(0)},
    {"BTC_DOVRN_0", cam1::BTC_DOVRN(0)}, {"BTC_DORST_0", cam1::BTC_DORST(0)}, {"BTC_GWRPT_0", cam1::BTC_GWRPT(0)},
    {"BTC_GRDPT_0", cam1::BTC_GRDPT(0)}, {"BTC_GLINE_0", cam1::BTC_GLINE(0)}, {"BTC_GBLCK_0", cam1::BTC_GBLCK(0)},
    {"BTC_DFULL_0", cam1::BTC_DFULL(0)}, {"BTC_DBLCK_0", cam1::BTC_DBLCK(0)}, {"BTC_START_0", cam1::BTC_START(0)},
    {"BTC_NODMA_0", cam1::BTC_NODMA(0)}, {"BTC_GOVRN_1", cam1::BTC_GOVRN(1)}, {"BTC_GORST_1", cam1::BTC_GORST(1)},
    {"BTC_GDBUF_1", cam1::BTC_GDBUF(1)}, {"BTC_DOVRN_1", cam1::BTC_DOVRN(1)}, {"BTC_DORST_1", cam1::BTC_DORST(1)},
    {"BTC_GWRPT_1", cam1::BTC_GWRPT(1)}, {"BTC_GRDPT_1", cam1::BTC_GRDPT(1)}, {"BTC_GLINE_1", cam1::BTC_GLINE(1)},
    {"BTC_GBLCK_1", cam1::BTC_GBLCK(1)}, {"BTC_DFULL_1", cam1::BTC_DFULL(1)}, {"BTC_DBLCK_1", cam1::BTC_DBLCK(1)},
    {"BTC_START_1", cam1::BTC_START(1)}, {"BTC_NODMA_1", cam1::BTC_NODMA(1)}, {"BTC_GOVRN_2", cam1::BTC_GOVRN(2)},
    {"BTC_GORST_2", cam1::BTC_GORST(2)}, {"BTC_GDBUF_2", cam1::BTC_GDBUF(2)}, {"BTC_DOVRN_2", cam1::BTC_DOVRN(2)},
    {"BTC_DORST_2", cam1::BTC_DORST(2)}, {"BTC_GWRPT_2", cam1::BTC_GWRPT(2)}, {"BTC_GRDPT_2", cam1::BTC_GRDPT(2)},
    {"BTC_GLINE_2", cam1::BTC_GLINE(2)}, {"BTC_GBLCK_2", cam1::BTC_GBLCK(2)}, {"BTC_DFULL_2", cam1::BTC_DFULL(2)},
    {"BTC_DBLCK_2", cam1::BTC_DBLCK(2)}, {"BTC_START_2", cam1::BTC_START(2)}, {"BTC_NODMA_2", cam1::BTC_NODMA(2)},
    {"BTC_GOVRN_3", cam1::BTC_GOVRN(3)}, {"BTC_GORST_3", cam1::BTC_GORST(3)}, {"BTC_GDBUF_3", cam1::BTC_GDBUF(3)},
    {"BTC_DOVRN_3", cam1::BTC_DOVRN(3)}, {"BTC_DORST_3", cam1::BTC_DORST(3)}, {"BTC_GWRPT_3", cam1::BTC_GWRPT(3)},
    {"BTC_GRDPT_3", cam1::BTC_GRDPT(3)}, {"BTC_GLINE_3", cam1::BTC_GLINE(3)}, {"BTC_GBLCK_3", cam1::BTC_GBLCK(3)},
    {"BTC_DFULL_3", cam1::BTC_DFULL(3)}, {"BTC_DBLCK_3", cam1::BTC_DBLCK(3)}, {"BTC_START_3", cam1::BTC_START(3)},
    {"BTC_NODMA_3", cam1::BTC_NODMA(3)}, {"BTC_AIDCYC", cam1::BTC_AIDCYC}, {"BTC_GGRBIX", cam1::BTC_GGRBIX},
    {"BTC_GDUMID", cam1::BTC_GDUMID}, {"BTC_DDMAIX", cam1::BTC_DDMAIX}, {"BTC_DDUMID", cam1::BTC_DDUMID},
    {"BTC_DDMADONE", cam1::BTC_DDMADONE}, {"BTC_DDMABUSY", cam1::BTC_DDMABUSY},
    {"BTC_BTCBPASS", cam1::BTC_BTCBPASS}, {"BTC_RDBAKREQ", cam1::BTC_RDBAKREQ},
    {"BTC_RDBAKSND", cam1::BTC_RDBAKSND}, {"BTC_ISFBMODE", cam1::BTC_ISFBMODE}, {"BTC_BTCREV", cam1::BTC_BTCREV},
    {"BTC_BRDREV", cam1::BTC_BRDREV}, {"BTC_CLKSEL", cam1::BTC_CLKSEL}, {"BTC_GBUFCTL", cam1::BTC_GBUFCTL},
    {"BTC_EEPPRG", cam1::BTC_EEPPRG}, {"ISF_LUTEN", cam1::ISF_LUTEN}, {"ISF_LUTIDX", cam1::ISF_LUTIDX},
    {"ISF_LUTDATA", cam1::ISF_LUTDATA}, {"ISF_BMODE", cam1::ISF_BMODE}, {"FAF_PTOTAL", cam1::FAF_PTOTAL},
    {"FAF_PSVAL", cam1::FAF_PSVAL}, {"FAF_HCNT", cam1::FAF_HCNT}, {"FAF_HTOTAL", cam1::FAF_HTOTAL},
    {"FAF_HSSYNC", cam1::FAF_HSSYNC}, {"FAF_HESYNC", cam1::FAF_HESYNC}, {"FAF_HSVAL", cam1::FAF_HSVAL},
    {"FAF_HEVAL", cam1::FAF_HEVAL}, {"FAF_HSCLMP", cam1::FAF_HSCLMP}, {"FAF_HECLMP", cam1::FAF_HECLMP},
    {"FAF_VCNT", cam1::FAF_VCNT}, {"FAF_VTOTAL", cam1::FAF_VTOTAL}, {"FAF_VSSYNC", cam1::FAF_VSSYNC},
    {"FAF_VESYNC", cam1::FAF_VESYNC}, {"FAF_VSVAL", cam1::FAF_VSVAL}, {"FAF_VEVAL", cam1::FAF_VEVAL},
    {"FAF_VSCLMP", cam1::FAF_VSCLMP}, {"FAF_VECLMP", cam1::FAF_VECLMP}, {"FAF_VCRSTCTL", cam1::FAF_VCRSTCTL},
    {"FAF_HCRSTCTL", cam1::FAF_HCRSTCTL}, {"FAF_PCRSTCTL", cam1::FAF_PCRSTCTL},
    {"FAF_CLOCKCTL", cam1::FAF_CLOCKCTL}, {"FAF_CLAMPCTL", cam1::FAF_CLAMPCTL},
    {"FAF_FIELDCTL", cam1::FAF_FIELDCTL}, {"FAF_SYNCCTL", cam1::FAF_SYNCCTL}, {"FAF_VALIDCTL", cam1::FAF_VALIDCTL},
    {"FAF_GRBCTL1", cam1::FAF_GRBCTL1}, {"FAF_NGCTL", cam1::FAF_NGCTL}, {"FAF_NGCSEND", cam1::FAF_NGCSEND},
    {"FAF_NGVSDET", cam1::FAF_NGVSDET}, {"FAF_NGFEND", cam1::FAF_NGFEND}, {"FAF_TMRCTL0", cam1::FAF_TMRCTL0},
    {"FAF_TMRCTL1", cam1::FAF_TMRCTL1}, {"FAF_TSETCNT", cam1::FAF_TSETCNT}, {"FAF_TSETEXP0", cam1::FAF_TSETEXP0},
    {"FAF_TSETEXP1", cam1::FAF_TSETEXP1}, {"FAF_TSETEXP2", cam1::FAF_TSETEXP2},
    {"FAF_IOENCTL0", cam1::FAF_IOENCTL0}, {"FAF_IOENCTL1", cam1::FAF_IOENCTL1},
    {"FAF_OPAMPCTL", cam1::FAF_OPAMPCTL}, {"FAF_PLLCTL", cam1::FAF_PLLCTL}, {"FAF_USERO", cam1::FAF_USERO},
    {"FAF_GRBCTL0", cam1::FAF_GRBCTL0}, {"FAF_DEVPROG", cam1::FAF_DEVPROG}, {"FAF_TSTSTS", cam1::FAF_TSTSTS},
    {"PLL_ICS1522REG0", cam1::PLL_ICS1522REG(0)}, {"PLL_ICS1522REG1", cam1::PLL_ICS1522REG(1)},
    {"PLL_ICS1522REG2", cam1::PLL_ICS1522REG(2)}, {"PLL_ICS1522REG3", cam1::PLL_ICS1522REG(3)},
    {"PLL_ICS1522REG4", cam1::PLL_ICS1522REG(4)}, {"PLL_ICS1522REG5", cam1::PLL_ICS1522REG(5)},
    {"PLL_ICS1522REG6", cam1::PLL_ICS1522REG(6)}, {"DAC_CH0POSREF", cam1::DAC_CH0POSREF},
    {"DAC_CH1POSREF", cam1::DAC_CH1POSREF}, {"DAC_RESERVED0", cam1::DAC_RESERVED0},
    {"DAC_RESERVED1", cam1::DAC_RESERVED1}, {"DAC_CH0LVL", cam1::DAC_CH0LVL}, {"DAC_CH1LVL", cam1::DAC_CH1LVL},
    {"DAC_RESERVED2", cam1::DAC_RESERVED2}, {"DAC_RESERVED3", cam1::DAC_RESERVED3}, {"DEC_STAT", cam1::DEC_STAT},
    {"DEC_CMDA", cam1::DEC_STAT + 8 * 1}, {"DEC_CMDB", cam1::DEC_STAT + 8 * 2},
    {"DEC_CMDC", cam1::DEC_STAT + 8 * 3}, {"DEC_CMDD", cam1::DEC_STAT + 8 * 4},
    {"DEC_HAVB", cam1::DEC_STAT + 8 * 5}, {"DEC_HAVE", cam1::DEC_STAT + 8 * 6},
    {"DEC_HS1B", cam1::DEC_STAT + 8 * 7}, {"DEC_HS1E", cam1::DEC_STAT + 8 * 8},
    {"DEC_HS2B", cam1::DEC_STAT + 8 * 9}, {"DEC_HS2E", cam1::DEC_STAT + 8 * 10},
    {"DEC_AGC", cam1::DEC_STAT + 8 * 11}, {"DEC_HXTRA", cam1::DEC_STAT + 8 * 12}, {"DEC_CDEM", cam1::DEC_CDEM},
    {"DEC_PORTAB", cam1::DEC_STAT + 8 * 14}, {"DEC_LUMA", cam1::DEC_STAT + 8 * 15},
    {"DEC_CON", cam1::DEC_STAT + 8 * 16}, {"DEC_BRT", cam1::DEC_STAT + 8 * 17},
    {"DEC_CHROMA", cam1::DEC_STAT + 8 * 18}, {"DEC_CHROMB", cam1::DEC_STAT + 8 * 19},
    {"DEC_DEMOD", cam1::DEC_STAT + 8 * 20}, {"DEC_SAT", cam1::DEC_STAT + 8 * 21},
    {"DEC_HUE", cam1::DEC_STAT + 8 * 22}, {"DEC_VERTIA", cam1::DEC_STAT + 8 * 23},
    {"DEC_VERTIB", cam1::DEC_STAT + 8 * 24}, {"DEC_VERTIC", cam1::DEC_STAT + 8 * 25},
    {"DEC_HSCLL", cam1::DEC_STAT + 8 * 26}, {"DEC_HSCLH", cam1::DEC_STAT + 8 * 27},
    {"DEC_VSCLL", cam1::DEC_STAT + 8 * 28}, {"DEC_VSCLH", cam1::DEC_STAT + 8 * 29},
    {"DEC_OFMTA", cam1::DEC_STAT + 8 * 30}, {"DEC_OFMTB", cam1::DEC_STAT + 8 * 31},
    {"DEC_VBICTL", cam1::DEC_STAT + 8 * 32}, {"DEC_CCDAT2", cam1::DEC_STAT + 8 * 33},
    {"DEC_CCDAT1", cam1::DEC_STAT + 8 * 34}, {"DEC_VBIL30", cam1::DEC_STAT + 8 * 35},
    {"DEC_VBIL74", cam1::DEC_STAT + 8 * 36}, {"DEC_VBIL118", cam1::DEC_STAT + 8 * 37},
    {"DEC_VBIL1512", cam1::DEC_STAT + 8 * 38}, {"DEC_TTFRAM", cam1::DEC_STAT + 8 * 39},
    {"DEC_TESTA", cam1::DEC_STAT + 8 * 40}, {"DEC_UVOFFH", cam1::DEC_STAT + 8 * 41},
    {"DEC_UVOFFL", cam1::DEC_STAT + 8 * 42}, {"DEC_UGAIN", cam1::DEC_STAT + 8 * 43},
    {"DEC_VGAIN", cam1::DEC_STAT + 8 * 44}, {"DEC_VAVB", cam1::DEC_STAT + 8 * 45},
    {"DEC_VAVE", cam1::DEC_STAT + 8 * 46}, {"DEC_CTRACK", cam1::DEC_STAT + 8 * 47},
    {"DEC_POLCTL", cam1::DEC_STAT + 8 * 48}, {"DEC_REFCOD", cam1::DEC_STAT + 8 * 49},
    {"DEC_INVALY", cam1::DEC_STAT + 8 * 50}, {"DEC_INVALU", cam1::DEC_STAT + 8 * 51},
    {"DEC_INVALV", cam1::DEC_STAT + 8 * 52}, {"DEC_UNUSEY", cam1::DEC_STAT + 8 * 53},
    {"DEC_UNUSEU", cam1::DEC_STAT + 8 * 54}, {"DEC_UNUSEV", cam1::DEC_STAT + 8 * 55},
    {"DEC_USRSAV", cam1::DEC_STAT + 8 * 56}, {"DEC_USREAV", cam1::DEC_STAT + 8 * 57},
    {"DEC_SHS1A", cam1::DEC_STAT + 8 * 58}, {"DEC_SHS1B", cam1::DEC_STAT + 8 * 59},
    {"DEC_SHS1C", cam1::DEC_STAT + 8 * 60}, {"DEC_CMDE", cam1::DEC_STAT + 8 * 61},
    {"DEC_VSDEL", cam1::DEC_STAT + 8 * 62}, {"DEC_CMDF", cam1::DEC_STAT + 8 * 63}, {"DEC_GAMMA", cam1::DEC_GAMMA},
    {"DEC_GAMMAD", cam1::DEC_GAMMAD}, {"DIM", cam1::DIM},
    {"DESCRIPTION_INFO_XSIZE", cam0::INFO_XSIZE + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_YSIZE", cam0::INFO_YSIZE + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_MODE", cam0::INFO_MODE + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_TYPE", cam0::INFO_TYPE + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_INPUT", cam0::INFO_INPUT + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_PIXCLK", cam0::INFO_PIXCLK + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_SPIXCLK", cam0::INFO_SPIXCLK + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_CONTPCLK", cam0::INFO_CONTPCLK + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_USRCLK0", cam0::INFO_USRCLK0 + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_USRCLK1", cam0::INFO_USRCLK1 + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_USRCLK2", cam0::INFO_USRCLK2 + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_USRCLKSEL", cam0::INFO_USRCLKSEL + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_GRBSYSCLK", cam0::INFO_GRBSYSCLK + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_SAMPLEMODE", cam0::INFO_SAMPLEMODE + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_CHANNEL", cam0::INFO_CHANNEL + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_BITSPERLOGCH", cam0::INFO_BITSPERLOGCH + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_TIMEMULTICH", cam0::INFO_TIMEMULTICH + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_TIMEMULTIPIX", cam0::INFO_TIMEMULTIPIX + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_XTAPSPERCH", cam0::INFO_XTAPSPERCH + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_YTAPSPERCH", cam0::INFO_YTAPSPERCH + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_XTAPSPERCHADJ", cam0::INFO_XTAPSPERCHADJ + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_YTAPSPERCHADJ", cam0::INFO_YTAPSPERCHADJ + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_PACKEDPIXELS", cam0::INFO_PACKEDPIXELS + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_SYNCGRABCHAN", cam0::INFO_SYNCGRABCHAN + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_LUTBUFID", cam0::INFO_LUTBUFID + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_LUTPROG", cam0::INFO_LUTPROG + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_T1DELAY", cam0::INFO_T1DELAY + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_T2DELAY", cam0::INFO_T2DELAY + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_TRIGSRC", cam0::INFO_TRIGSRC + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_T1TRGSRC", cam0::INFO_T1TRGSRC + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_T2TRGSRC", cam0::INFO_T2TRGSRC + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_T1CLKSRC", cam0::INFO_T1CLKSRC + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_T2CLKSRC", cam0::INFO_T2CLKSRC + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_T1EXPMOD", cam0::INFO_T1EXPMOD + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_T2EXPMOD", cam0::INFO_T2EXPMOD + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_XYSIZEMOD", cam0::INFO_XYSIZEMOD + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_CLAMP", cam0::INFO_CLAMP + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_LINEDELAY", cam0::INFO_LINEDELAY + cam1::kInfoToStandard},
    {"DESCRIPTION_INFO_MISC", cam0::INFO_MISC + cam1::kInfoToStandard}, {"VDL_AMPL", cam1::VDL_AMPL},
    {"VDL_PED_AMP", cam1::VDL_PED_AMP}, {"SYN_AMPL", cam1::SYN_AMPL},
    {"DESCRIPTION_INFO_REFNEG", cam1::DESCRIPTION_INFO_REFNEG},
    {"DESCRIPTION_INFO_REFPOSRED", cam1::DESCRIPTION_INFO_REFPOSRED},
    {"DESCRIPTION_INFO_REFPOSGREEN", cam1::DESCRIPTION_INFO_REFPOSGREEN},
    {"DESCRIPTION_INFO_REFPOSBLUE", cam1::DESCRIPTION_INFO_REFPOSBLUE},
    {"DESCRIPTION_INFO_REFPOSALPHA", cam1::DESCRIPTION_INFO_REFPOSALPHA},
    {"DESCRIPTION_PIXSIZE", cam1::DESCRIPTION_PIXSIZE}, {"DESCRIPTION_CH0REF", cam1::DESCRIPTION_CH0REF},
    {"DESCRIPTION_CH0LVL", cam1::DESCRIPTION_CH0LVL}, {"DESCRIPTION_CH1REF", cam1::DESCRIPTION_CH1REF},
    {"DESCRIPTION_CH1LVL", cam1::DESCRIPTION_CH1LVL}, {"DESCRIPTION_CH2REF", cam1::DESCRIPTION_CH2REF},
    {"DESCRIPTION_CH2LVL", cam1::DESCRIPTION_CH2LVL}, {"DESCRIPTION_CH3REF", cam1::DESCRIPTION_CH3REF},
    {"DESCRIPTION_CH3LVL", cam1::DESCRIPTION_CH3LVL},
    {"ORLOGREG_GHCOUNT", cam0::ORLOGREG_GHCOUNT + cam1::kOrloToStandard},
    {"ORLOGREG_GVCOUNT", cam0::ORLOGREG_GVCOUNT + cam1::kOrloToStandard},
    {"ORLOGREG_GHSCLNG", cam0::ORLOGREG_GHSCLNG + cam1::kOrloToStandard},
    {"ORLOGREG_GHTOTAL", cam0::ORLOGREG_GHTOTAL + cam1::kOrloToStandard},
    {"ORLOGREG_GHWSTART", cam0::ORLOGREG_GHWSTART + cam1::kOrloToStandard},
    {"ORLOGREG_GHWSTOP", cam0::ORLOGREG_GHWSTOP + cam1::kOrloToStandard},
    {"ORLOGREG_GLNINT", cam0::ORLOGREG_GLNINT + cam1::kOrloToStandard},
    {"ORLOGREG_GPIXFMT", cam0::ORLOGREG_GPIXFMT + cam1::kOrloToStandard},
    {"ORLOGREG_GRABCTRL", cam0::ORLOGREG_GRABCTRL + cam1::kOrloToStandard},
    {"ORLOGREG_GVSCLNG", cam0::ORLOGREG_GVSCLNG + cam1::kOrloToStandard},
    {"ORLOGREG_GVTOTAL", cam0::ORLOGREG_GVTOTAL + cam1::kOrloToStandard},
    {"ORLOGREG_GVWSTART", cam0::ORLOGREG_GVWSTART + cam1::kOrloToStandard},
    {"ORLOGREG_GVWSTOP", cam0::ORLOGREG_GVWSTOP + cam1::kOrloToStandard},
    {"ORLOGREG_GARPADDR", cam0::ORLOGREG_GARPADDR + cam1::kOrloToStandard},
    {"ORLOGREG_GARPCTRL", cam0::ORLOGREG_GARPCTRL + cam1::kOrloToStandard},
    {"ORLOGREG_GSTATUS", cam0::ORLOGREG_GSTATUS + cam1::kOrloToStandard},
    {"ORLOGREG_GBLENGTH", cam0::ORLOGREG_GBLENGTH + cam1::kOrloToStandard},
    {"ORLOGREG_GC1FOFF", cam0::ORLOGREG_GC1FOFF + cam1::kOrloToStandard},
    {"ORLOGREG_GC1TOFF", cam0::ORLOGREG_GC1TOFF + cam1::kOrloToStandard},
    {"ORLOGREG_GC2FOFF", cam0::ORLOGREG_GC2FOFF + cam1::kOrloToStandard},
    {"ORLOGREG_GC2TOFF", cam0::ORLOGREG_GC2TOFF + cam1::kOrloToStandard},
    {"ORLOGREG_GC3FOFF", cam0::ORLOGREG_GC3FOFF + cam1::kOrloToStandard},
    {"ORLOGREG_GC3TOFF", cam0::ORLOGREG_GC3TOFF + cam1::kOrloToStandard},
    {"ORLOGREG_GDWRTMSK", cam0::ORLOGREG_GDWRTMSK + cam1::kOrloToStandard},
    {"ORLOGREG_GFSTART", cam0::ORLOGREG_GFSTART + cam1::kOrloToStandard},
    {"ORLOGREG_GLPITCH", cam0::ORLOGREG_GLPITCH + cam1::kOrloToStandard},
    {"ORLOGREG_GTAGCTL", cam0::ORLOGREG_GTAGCTL + cam1::kOrloToStandard},
    {"ORLOGREG_GTLPITCH", cam0::ORLOGREG_GTLPITCH + cam1::kOrloToStandard},
    {"SFAF_PTOTAL", cam1::FAF_PTOTAL + cam1::kSecondTimingSet},
    {"SFAF_PSVAL", cam1::FAF_PSVAL + cam1::kSecondTimingSet},
    {"SFAF_HCNT", cam1::FAF_HCNT + cam1::kSecondTimingSet},
    {"SFAF_HTOTAL", cam1::FAF_HTOTAL + cam1::kSecondTimingSet},
    {"SFAF_HSSYNC", cam1::FAF_HSSYNC + cam1::kSecondTimingSet},
    {"SFAF_HESYNC", cam1::FAF_HESYNC + cam1::kSecondTimingSet},
    {"SFAF_HSVAL", cam1::FAF_HSVAL + cam1::kSecondTimingSet},
    {"SFAF_HEVAL", cam1::FAF_HEVAL + cam1::kSecondTimingSet},
    {"SFAF_HSCLMP", cam1::FAF_HSCLMP + cam1::kSecondTimingSet},
    {"SFAF_HECLMP", cam1::FAF_HECLMP + cam1::kSecondTimingSet},
    {"SFAF_VCNT", cam1::FAF_VCNT + cam1::kSecondTimingSet},
    {"SFAF_VTOTAL", cam1::FAF_VTOTAL + cam1::kSecondTimingSet},
    {"SFAF_VSSYNC", cam1::FAF_VSSYNC + cam1::kSecondTimingSet},
    {"SFAF_VESYNC", cam1::FAF_VESYNC + cam1::kSecondTimingSet},
    {"SFAF_VSVAL", cam1::FAF_VSVAL + cam1::kSecondTimingSet},
    {"SFAF_VEVAL", cam1::FAF_VEVAL + cam1::kSecondTimingSet},
    {"SFAF_VSCLMP", cam1::FAF_VSCLMP + cam1::kSecondTimingSet},
    {"SFAF_VECLMP", cam1::FAF_VECLMP + cam1::kSecondTimingSet},
    {"SFAF_VCRSTCTL", cam1::FAF_VCRSTCTL + cam1::kSecondTimingSet},
    {"SFAF_HCRSTCTL", cam1::FAF_HCRSTCTL + cam1::kSecondTimingSet},
    {"SFAF_PCRSTCTL", cam1::FAF_PCRSTCTL + cam1::kSecondTimingSet},
    {"SFAF_CLOCKCTL", cam1::FAF_CLOCKCTL + cam1::kSecondTimingSet},
    {"SFAF_CLAMPCTL", cam1::FAF_CLAMPCTL + cam1::kSecondTimingSet},
    {"SFAF_FIELDCTL", cam1::FAF_FIELDCTL + cam1::kSecondTimingSet},
    {"SFAF_SYNCCTL", cam1::FAF_SYNCCTL + cam1::kSecondTimingSet},
    {"SFAF_VALIDCTL", cam1::FAF_VALIDCTL + cam1::kSecondTimingSet},
    {"SFAF_GRBCTL1", cam1::FAF_GRBCTL1 + cam1::kSecondTimingSet},
    {"SFAF_NGCTL", cam1::FAF_NGCTL + cam1::kSecondTimingSet},
    {"SFAF_NGCSEND", cam1::FAF_NGCSEND + cam1::kSecondTimingSet},
    {"SFAF_NGVSDET", cam1::FAF_NGVSDET + cam1::kSecondTimingSet},
    {"SFAF_NGFEND", cam1::FAF_NGFEND + cam1::kSecondTimingSet},
    {"SFAF_TMRCTL0", cam1::FAF_TMRCTL0 + cam1::kSecondTimingSet},
    {"SFAF_TMRCTL1", cam1::FAF_TMRCTL1 + cam1::kSecondTimingSet},
    {"SFAF_TSETCNT", cam1::FAF_TSETCNT + cam1::kSecondTimingSet},
    {"SFAF_TSETEXP0", cam1::FAF_TSETEXP0 + cam1::kSecondTimingSet},
    {"SFAF_TSETEXP1", cam1::FAF_TSETEXP1 + cam1::kSecondTimingSet},
    {"SFAF_TSETEXP2", cam1::FAF_TSETEXP2 + cam1::kSecondTimingSet},
    {"SFAF_IOENCTL0", cam1::FAF_IOENCTL0 + cam1::kSecondTimingSet},
    {"SFAF_IOENCTL1", cam1::FAF_IOENCTL1 + cam1::kSecondTimingSet},
    {"SFAF_OPAMPCTL", cam1::FAF_OPAMPCTL + cam1::kSecondTimingSet},
    {"SFAF_PLLCTL", cam1::FAF_PLLCTL + cam1::kSecondTimingSet},
    {"SFAF_USERO", cam1::FAF_USERO + cam1::kSecondTimingSet},
    {"SFAF_GRBCTL0", cam1::FAF_GRBCTL0 + cam1::kSecondTimingSet},
    {"SFAF_DEVPROG", cam1::FAF_DEVPROG + cam1::kSecondTimingSet},
    {"SFAF_TSTSTS", cam1::FAF_TSTSTS + cam1::kSecondTimingSet}, {"SPLL_ICS1522REG0", cam1::SPLL_ICS1522REG(0)},
    {"SPLL_ICS1522REG1", cam1::SPLL_ICS1522REG(1)}, {"SPLL_ICS1522REG2", cam1::SPLL_ICS1522REG(2)},
    {"SPLL_ICS1522REG3", cam1::SPLL_ICS1522REG(3)}, {"SPLL_ICS1522REG4", cam1::SPLL_ICS1522REG(4)},
    {"SPLL_ICS1522REG5", cam1::SPLL_ICS1522REG(5)}, {"SPLL_ICS1522REG6", cam1::SPLL_ICS1522REG(6)},
};

std::map<std::string, uint32_t> TableMap(const _DCF_NAME_ROW* table, size_t rows)
{
    std::map<std::string, uint32_t> map;
    for (size_t i = 0; i < rows; ++i) map[table[i].keyword] = table[i].offset;
    return map;
}

// ---- slot offsets --------------------------------------------------------------------------

TEST(DcfTableTest, EveryStandardKeywordNamesItsSlot)
{
    ASSERT_EQ(sizeof kStandard / sizeof kStandard[0], 199u);
    const auto table = TableMap(cam0::dcfNameTable, 199);
    ASSERT_EQ(table.size(), 199u) << "199 distinct keywords";
    for (const Expected& e : kStandard) {
        const auto found = table.find(e.keyword);
        ASSERT_NE(found, table.end()) << e.keyword;
        EXPECT_EQ(found->second, e.offset) << e.keyword;
    }
}

TEST(DcfTableTest, EverySecondFamilyKeywordNamesItsSlot)
{
    ASSERT_EQ(sizeof kSecond / sizeof kSecond[0], 335u);
    const auto table = TableMap(cam1::dcfNameTable, 335);
    ASSERT_EQ(table.size(), 335u) << "335 distinct keywords";
    for (const Expected& e : kSecond) {
        const auto found = table.find(e.keyword);
        ASSERT_NE(found, table.end()) << e.keyword;
        EXPECT_EQ(found->second, e.offset) << e.keyword;
    }
}

TEST(DcfTableTest, SlotsAtTheEndsOfEachRunHaveTheirByteOffsets)
{
    const auto s = TableMap(cam0::dcfNameTable, 199);
    EXPECT_EQ(s.at("DIG_SHCNT"), 0u);
    EXPECT_EQ(s.at("DIG_VEPDTC"), 216u);
    EXPECT_EQ(s.at("DIG_SRCCFG"), 840u);
    EXPECT_EQ(s.at("DAC8800REF_PLLFINE"), 1144u);
    EXPECT_EQ(s.at("ICD2061CONTROL"), 1264u);
    EXPECT_EQ(s.at("BT261_HCOUNT_STAH"), 1512u);
    EXPECT_EQ(s.at("INFO_MISC"), 1832u);
    EXPECT_EQ(s.at("SYN_AMPL"), 1856u);
    EXPECT_EQ(s.at("ORLOGREG_GTLPITCH"), 2248u);
    EXPECT_EQ(s.at("SDIG_PSGCFG"), 2360u);
    EXPECT_EQ(s.at("SICS1522REG6"), 2416u);
    const auto a = TableMap(cam1::dcfNameTable, 335);
    EXPECT_EQ(a.at("BTC_GOVRN_0"), 8u);
    EXPECT_EQ(a.at("BTC_NODMA_3"), 488u);
    EXPECT_EQ(a.at("BTC_GBUFCTL"), 624u);
    EXPECT_EQ(a.at("ISF_BMODE"), 664u);
    EXPECT_EQ(a.at("FAF_IOENCTL1"), 1328u);
    EXPECT_EQ(a.at("FAF_TSTSTS"), 1376u);
    EXPECT_EQ(a.at("DAC_RESERVED3"), 1496u);
    EXPECT_EQ(a.at("DEC_CDEM"), 1608u);
    EXPECT_EQ(a.at("DEC_GAMMA"), 2016u);
    EXPECT_EQ(a.at("DEC_GAMMAD"), 2272u);
    EXPECT_EQ(a.at("DIM"), 2528u);
    EXPECT_EQ(a.at("DESCRIPTION_INFO_MISC"), 2840u);
    EXPECT_EQ(a.at("DESCRIPTION_INFO_REFPOSALPHA"), 2904u);
    EXPECT_EQ(a.at("DESCRIPTION_CH3LVL"), 2992u);
    EXPECT_EQ(a.at("ORLOGREG_GHCOUNT"), 3032u);
    EXPECT_EQ(a.at("ORLOGREG_GTLPITCH"), 3248u);
    EXPECT_EQ(a.at("SFAF_PTOTAL"), 3264u);
    EXPECT_EQ(a.at("SFAF_TSTSTS"), 3616u);
    EXPECT_EQ(a.at("SPLL_ICS1522REG6"), 3672u);
}

// ---- order and shape -----------------------------------------------------------------------

template <size_t N>
void ExpectStrictlyAscending(const _DCF_NAME_ROW (&table)[N], uint32_t recordBytes)
{
    for (size_t i = 0; i < N; ++i) {
        ASSERT_NE(table[i].keyword, nullptr) << i;
        EXPECT_LT(std::strlen(table[i].keyword), kDcfNameBytes) << table[i].keyword;
        EXPECT_EQ(table[i].offset % 8, 0u) << table[i].keyword;
        EXPECT_LE(table[i].offset + 8, recordBytes) << table[i].keyword;
        if (i > 0) {
            EXPECT_LT(std::strcmp(table[i - 1].keyword, table[i].keyword), 0) << table[i].keyword;
        }
    }
}

TEST(DcfTableTest, TablesAreInStrictlyIncreasingByteOrder)
{
    ExpectStrictlyAscending(cam0::dcfNameTable, cam0::kRecordBytes);
    ExpectStrictlyAscending(cam1::dcfNameTable, cam1::kRecordBytes);
    // Plain byte order: '_' (0x5F) sorts after the digits and capitals.
    int32_t cursor = -1;
    const int32_t ics = cam0::mp_dig_find_loc("ICS1522REG0", &cursor);
    const int32_t icd = cam0::mp_dig_find_loc("ICD2061PWRDWN", &cursor);
    EXPECT_LT(icd, ics);
}

TEST(DcfTableTest, NoTwoKeywordsShareASlot)
{
    std::map<uint32_t, std::string> standard;
    for (const _DCF_NAME_ROW& r : cam0::dcfNameTable)
        EXPECT_TRUE(standard.emplace(r.offset, r.keyword).second) << r.keyword;
    std::map<uint32_t, std::string> second;
    for (const _DCF_NAME_ROW& r : cam1::dcfNameTable)
        EXPECT_TRUE(second.emplace(r.offset, r.keyword).second) << r.keyword;
}

// ---- lookup ------------------------------------------------------------------------------

template <size_t N>
void ExpectEveryKeywordFound(const _DCF_NAME_ROW (&table)[N], int32_t (*find)(const char*, int32_t*))
{
    for (size_t i = 0; i < N; ++i) {
        // A cursor on the row itself makes the next-row guess miss: the search must find it
        // within its pass limit.
        int32_t cursor = static_cast<int32_t>(i);
        EXPECT_EQ(find(table[i].keyword, &cursor), static_cast<int32_t>(i)) << table[i].keyword;
        EXPECT_EQ(cursor, static_cast<int32_t>(i));
        // From a cursor far away as well.
        cursor = static_cast<int32_t>((i + N / 2) % N);
        EXPECT_EQ(find(table[i].keyword, &cursor), static_cast<int32_t>(i)) << table[i].keyword;
        // And by the guess of the row after the cursor.
        cursor = static_cast<int32_t>(i) - 1;
        EXPECT_EQ(find(table[i].keyword, &cursor), static_cast<int32_t>(i)) << table[i].keyword;
    }
}

TEST(DcfTableTest, EveryKeywordIsFoundFromAnyCursor)
{
    ExpectEveryKeywordFound(cam0::dcfNameTable, cam0::mp_dig_find_loc);
    ExpectEveryKeywordFound(cam1::dcfNameTable, cam1::mp_dig_find_loc);
}

TEST(DcfTableTest, TheGuessWrapsFromTheLastRowToTheFirst)
{
    int32_t cursor = 198;
    EXPECT_EQ(cam0::mp_dig_find_loc(cam0::dcfNameTable[0].keyword, &cursor), 0);
    cursor = 334;
    EXPECT_EQ(cam1::mp_dig_find_loc(cam1::dcfNameTable[0].keyword, &cursor), 0);
    // A cursor outside the table starts the guess at row 0.
    cursor = 5000;
    EXPECT_EQ(cam0::mp_dig_find_loc(cam0::dcfNameTable[0].keyword, &cursor), 0);
    cursor = -77;
    EXPECT_EQ(cam0::mp_dig_find_loc("DIG_HTOTAL", &cursor), cursor);
    EXPECT_EQ(cam0::dcfNameTable[cursor].offset, cam0::DIG_HTOTAL);
}

TEST(DcfTableTest, DecoderKeywordIsFoundWhereverItStands)
{
    for (int32_t start = -1; start < 335; ++start) {
        int32_t cursor = start;
        const int32_t row = cam1::mp_dig_find_loc("DEC_CDEM", &cursor);
        ASSERT_GE(row, 0) << start;
        EXPECT_EQ(cam1::dcfNameTable[row].offset, cam1::DEC_CDEM);
    }
}

TEST(DcfTableTest, MissingKeywordsGiveMinusOneAndResetTheCursor)
{
    const char* const misses[] = {
        "",                       // empty
        "dig_htotal",             // comparisons are case-sensitive
        "DIG_HTOTAL ",            // a trailing blank is part of the name
        "HALCYRA_GRAB_0",         // the type line matches no row
        "AAAA",                   // before the first row
        "ZZZZ",                   // after the last row
        "DIG_HTOTALX",            // a longer name
        "DIG_HTOTA",              // a shorter one
    };
    for (const char* key : misses) {
        int32_t cursor = 3;
        EXPECT_EQ(cam0::mp_dig_find_loc(key, &cursor), -1) << key;
        EXPECT_EQ(cursor, -1) << key;
        cursor = 3;
        EXPECT_EQ(cam1::mp_dig_find_loc(key, &cursor), -1) << key;
        EXPECT_EQ(cursor, -1) << key;
    }
    int32_t cursor = 3;
    EXPECT_EQ(cam0::mp_dig_find_loc(nullptr, &cursor), -1);
    EXPECT_EQ(cursor, -1);
}

TEST(DcfTableTest, ComparisonsStopAtTheNameFieldsLength)
{
    // A keyword followed by garbage beyond the 32 bytes of a name field still differs
    // inside them (the keyword's own end); a 32-byte name without its zero is read only
    // up to its 32 bytes.
    char name[64];
    std::memset(name, 'A', sizeof name);
    name[63] = '\0';
    int32_t cursor = -1;
    EXPECT_EQ(cam0::mp_dig_find_loc(name, &cursor), -1);
    // The longest keywords stay well inside the field.
    size_t longest = 0;
    for (const _DCF_NAME_ROW& r : cam1::dcfNameTable) longest = std::max(longest, std::strlen(r.keyword));
    EXPECT_EQ(longest, std::strlen("DESCRIPTION_INFO_YTAPSPERCHADJ"));
}

TEST(DcfTableTest, AListInTableOrderIsMatchedRowAfterRow)
{
    int32_t cursor = -1;
    for (int32_t i = 0; i < 199; ++i) {
        EXPECT_EQ(cam0::mp_dig_find_loc(cam0::dcfNameTable[i].keyword, &cursor), i);
        EXPECT_EQ(cursor, i);
    }
    // An unknown name in between restarts the guess at row 0.
    EXPECT_EQ(cam0::mp_dig_find_loc("UNKNOWN_KEY", &cursor), -1);
    EXPECT_EQ(cam0::mp_dig_find_loc(cam0::dcfNameTable[0].keyword, &cursor), 0);
}

}  // namespace
