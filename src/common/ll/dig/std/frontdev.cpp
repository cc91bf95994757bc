// Front-end devices and the DIM register of the standard grab module.
#include "frontdev.h"

#include "regaccess.h"
#include "regmap/grab_regs.h"
#include "serialchips.h"

#include <initializer_list>

namespace {

constexpr uint32_t kFlagBits = kShadowWritten | kShadowListMode;
constexpr uint32_t kSrcCfgPortBits = grabregs::kSrcCfgAccess;
constexpr uint32_t kByteLane = 0xFF00;  // index or value in bits 8-15 of registers 106 and 107

// DIG_DICTL lines of the DIM register.
using grabregs::kDimClock;
using grabregs::kDimData;
using grabregs::kDimEnable;
using grabregs::kDimLatch;
using grabregs::kDimSelect;

const uint32_t kSrcCfg = grabregs::Slot(grabregs::DIG_SRCCFG);
const uint32_t kBtAddress = grabregs::Slot(grabregs::kBt261Address);
const uint32_t kBtData = grabregs::Slot(grabregs::kBt261Data);
const uint32_t kDiCtl = grabregs::Slot(grabregs::DIG_DICTL);

// Level DAC channels 0-7 and reference DAC channels 0-4, 7: the record slot and the index
// of the value in refDacBytes.
struct DacChannel {
    uint32_t slot;
    int32_t refIndex;  // -1: the record slot's own low byte
};
const DacChannel kLevel[8] = {
    {cam0::DAC8800LVL_ALPHAC, int32_t(cam0::RefDacIndex(3, 1))}, {cam0::DAC8800LVL_REDC, int32_t(cam0::RefDacIndex(0, 1))},
    {cam0::DAC8800LVL_GREENC, int32_t(cam0::RefDacIndex(1, 1))}, {cam0::DAC8800LVL_BLUEC, int32_t(cam0::RefDacIndex(2, 1))},
    {cam0::DAC8800LVL_ALPHAF, int32_t(cam0::RefDacIndex(3, 2))}, {cam0::DAC8800LVL_REDF, int32_t(cam0::RefDacIndex(0, 2))},
    {cam0::DAC8800LVL_GREENF, int32_t(cam0::RefDacIndex(1, 2))}, {cam0::DAC8800LVL_BLUEF, int32_t(cam0::RefDacIndex(2, 2))},
};
const DacChannel kReference[8] = {
    {cam0::DAC8800REF_ALPHAR, int32_t(cam0::RefDacIndex(3, 0))}, {cam0::DAC8800REF_REDR, int32_t(cam0::RefDacIndex(0, 0))},
    {cam0::DAC8800REF_GREENR, int32_t(cam0::RefDacIndex(1, 0))}, {cam0::DAC8800REF_BLUER, int32_t(cam0::RefDacIndex(2, 0))},
    {cam0::DAC8800REF_NREF, int32_t(cam0::kRefNref)},            {cam0::DAC8800REF_EXPFCTL, -1},
    {cam0::DAC8800REF_EXPGCTL, -1},                              {cam0::DAC8800REF_PLLFINE, -1},
};
// Requested channels in load order (alpha, red, green, blue) and their DAC channels: the
// coarse level and the reference channel c, the fine level c + 4.
const uint32_t kChanOrder[4][2] = {{kChanAlpha, 0}, {kChanRed, 1}, {kChanGreen, 2}, {kChanBlue, 3}};

uint32_t Word(const _MP_CAM_ST_0* cam, uint32_t offset) { return CamSlotAt(cam, offset)->value; }

uint32_t* Live(uint32_t offset) { return mpPrvExtSlot(offset); }
uint32_t LiveWord(uint32_t offset)
{
    const uint32_t* slot = Live(offset);
    return slot ? slot[0] : 0;
}
// Stores a value in a live slot without writing the hardware.
void Mirror(uint32_t offset, uint32_t value)
{
    if (uint32_t* slot = Live(offset)) {
        slot[0] = value;
        slot[1] &= ~kFlagBits;
    }
}
// Changes bits of a live register and writes it at once.
void Update(uint32_t offset, uint32_t set, uint32_t clear)
{
    if (uint32_t* slot = Live(offset)) {
        slot[0] = (slot[0] & ~clear) | set;
        mpPrvWriteExtSlot(offset);
    }
}
void ClearLane(uint32_t offset)
{
    if (uint32_t* slot = Live(offset)) slot[0] &= ~kByteLane;
}

uint8_t DacValue(const _MP_CAM_ST_0* cam, const DacChannel& ch)
{
    if (ch.refIndex < 0) return static_cast<uint8_t>(Word(cam, ch.slot));
    return cam->bytes[cam0::REF_DAC_BYTES + static_cast<uint32_t>(ch.refIndex)];
}

// Sends a DAC channel when the mode asks for all or its value differs from the live
// slot; the live slot receives the byte sent.  True when sent.
bool SendDac(const _MP_CAM_ST_0* cam, const DacChannel* table, int32_t channel, bool always, bool level, bool send)
{
    const uint8_t value = DacValue(cam, table[channel]);
    if (!always && LiveWord(table[channel].slot) == value) return false;
    Mirror(table[channel].slot, value);
    if (send) level ? mp_dig_set_dac1_reg(value, channel) : mp_dig_set_dac2_reg(value, channel);
    return true;
}

// The reference DAC of the requested channels, then NREF and PLL fine, as far as they differ.
uint32_t ReferencesThatDiffer(const _MP_CAM_ST_0* cam, uint32_t chanBits, bool send)
{
    uint32_t sent = 0;
    for (const auto& [bit, channel] : kChanOrder)
        if ((chanBits & bit) && SendDac(cam, kReference, int32_t(channel), false, false, send)) ++sent;
    if (SendDac(cam, kReference, 4, false, false, send)) ++sent;
    if (SendDac(cam, kReference, 7, false, false, send)) ++sent;
    return sent;
}

bool BtDiffers(const _MP_CAM_ST_0* cam, uint32_t index)
{
    const uint32_t slot = mpPrvBt261Slot(index);
    return Word(cam, slot) != LiveWord(slot);
}

} // namespace

uint32_t mpPrvBt261Slot(uint32_t index)
{
    return cam0::BT261_CMD_REG0 + 8 * index;
}

void mp_dig_load_bt261(const _MP_CAM_ST_0* cam, uint32_t mode)
{
    bool changed[30] = {};
    bool any = false;
    for (uint32_t index = 0; index <= kBt261Count; ++index) {
        if (index == 7) continue;
        changed[index] = mode == 0 || BtDiffers(cam, index);
        any = any || changed[index];
    }
    if (!any) return;

    Update(kSrcCfg, kSrcCfgPortBits, 0);
    if (mode == 0) {
        Update(kBtAddress, 0, kByteLane);
        for (uint32_t index = 0; index <= kBt261Count; ++index) {
            if (index == 7) continue;
            const uint32_t value = Word(cam, mpPrvBt261Slot(index));
            Mirror(mpPrvBt261Slot(index), value);
            Update(kBtData, (value & 0xFF) << 8, kByteLane);
            const uint32_t next = index == 6 ? 8 : index + 1;
            Update(kBtAddress, next << 8, kByteLane);
        }
    } else {
        for (uint32_t index = 0; index <= kBt261Count; ++index) {
            if (!changed[index]) continue;
            Update(kBtAddress, index << 8, kByteLane);
            const uint32_t value = Word(cam, mpPrvBt261Slot(index));
            Mirror(mpPrvBt261Slot(index), value);
            Update(kBtData, (value & 0xFF) << 8, kByteLane);
        }
    }
    ClearLane(kBtAddress);
    ClearLane(kBtData);
    Update(kSrcCfg, Word(cam, cam0::DIG_SRCCFG) & kSrcCfgPortBits, kSrcCfgPortBits);
}

void mp_dig_load_ds1020(const _MP_CAM_ST_0* cam, uint32_t mode)
{
    const uint32_t value = Word(cam, cam0::DS1020DLY);
    if (mode != 0 && value == LiveWord(cam0::DS1020DLY)) return;
    Mirror(cam0::DS1020DLY, value);
    mp_dig_set_1020_delay(static_cast<uint8_t>(value));
}

void mp_dig_load_dac1(const _MP_CAM_ST_0* cam, uint32_t chanBits, uint32_t mode, uint32_t* changes)
{
    if (mode == 0) {
        for (int32_t channel : {0, 4, 1, 5, 2, 6, 3, 7}) SendDac(cam, kLevel, channel, true, true, true);
        if (changes) ++*changes;
        return;
    }
    for (const auto& [bit, channel] : kChanOrder) {
        if (!(chanBits & bit)) continue;
        for (int32_t c : {int32_t(channel), int32_t(channel + 4)})
            if (SendDac(cam, kLevel, c, false, true, true) && changes) ++*changes;
    }
}

void mp_dig_load_dac2(const _MP_CAM_ST_0* cam, uint32_t chanBits, uint32_t mode, uint32_t* changes)
{
    if (mode == 0) {
        for (int32_t channel : {0, 1, 2, 3, 4, 7}) SendDac(cam, kReference, channel, true, false, true);
        if (changes) ++*changes;
        return;
    }
    const uint32_t sent = ReferencesThatDiffer(cam, chanBits, true);
    if (changes) *changes += sent;
}

int mp_dig_dim_present(const _MP_CAM_ST_0*)
{
    const uint32_t kept = LiveWord(kDiCtl);
    Update(kDiCtl, 0, kDimEnable);
    const uint32_t readBack = mpPrvReadExtReg(kDiCtl);
    Update(kDiCtl, kept, 0xFFFFFFFFu);
    return (readBack & kDimSelect) ? 1 : 0;
}

void mp_dig_set_dimreg(uint32_t value)
{
    Update(kDiCtl, kDimSelect, kDimData | kDimClock | kDimLatch);
    Update(kDiCtl, kDimEnable, 0);
    for (int b = 0; b < 8; ++b) {
        ((value >> b) & 1) ? Update(kDiCtl, kDimData, 0) : Update(kDiCtl, 0, kDimData);
        Update(kDiCtl, kDimClock, 0);
        Update(kDiCtl, 0, kDimClock);
    }
    Update(kDiCtl, kDimLatch, 0);
    Update(kDiCtl, 0, kDimLatch);
    Update(kDiCtl, 0, kDimEnable);
}

void mp_dig_load_dimreg(const _MP_CAM_ST_0* cam, uint32_t mode)
{
    const uint32_t kept = LiveWord(kDiCtl);
    const uint32_t wanted = Word(cam, cam0::DIMREG0);
    uint32_t previous;
    if (mode == 0) {
        previous = wanted;
        Mirror(cam0::DIMREG0, wanted);
    } else {
        previous = LiveWord(cam0::DIMREG0) & 0xFFFF;
    }
    if (mp_dig_dim_present(cam) && (mode == 0 || wanted != previous)) {
        Mirror(cam0::DIMREG0, wanted);
        mp_dig_set_dimreg(wanted);
    }
    Update(kDiCtl, kept, 0xFFFFFFFFu);
}

void mp_dig_load_descr(const _MP_CAM_ST_0* cam)
{
    for (uint32_t offset = cam0::INFO_XSIZE; offset <= cam0::INFO_XYSIZEMOD; offset += 8)
        Mirror(offset, Word(cam, offset));
    for (uint32_t offset : {cam0::INFO_LINEDELAY, cam0::INFO_CLAMP, cam0::INFO_MISC, cam0::VDL_AMPL,
                            cam0::VDL_PED_AMP, cam0::SYN_AMPL, cam0::BLACK_LEVEL, cam0::WHITE_LEVEL,
                            cam0::BLACK_REF, cam0::WHITE_REF_RED, cam0::WHITE_REF_GREEN, cam0::WHITE_REF_BLUE,
                            cam0::WHITE_REF_ALPHA})
        Mirror(offset, Word(cam, offset));
}

void load_serial_dev_2_sh(const _MP_CAM_ST_0* cam, uint32_t chanBits, uint32_t mode)
{
    for (uint32_t index = 0; index <= kBt261Count; ++index) {
        if (index == 7 || (mode != 0 && !BtDiffers(cam, index))) continue;
        Mirror(mpPrvBt261Slot(index), Word(cam, mpPrvBt261Slot(index)));
    }
    ClearLane(kBtAddress);
    ClearLane(kBtData);
    if (mode == 0) {
        for (int32_t channel = 0; channel < 8; ++channel) Mirror(kLevel[channel].slot, DacValue(cam, kLevel[channel]));
        return;
    }
    ReferencesThatDiffer(cam, chanBits, false);
}
