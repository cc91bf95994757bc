// Bit-serial writers of the standard grab module's serial devices and the ICD2061A program
// word.  Each line change is one write of the device-programming register through its live
// shadow slot; nothing is read back from the devices.
#include "serialchips.h"

#include "camrec.h"
#include "regaccess.h"
#include "regmap/grab_regs.h"

namespace {

constexpr uint32_t kDevPrg = grabregs::Slot(grabregs::kSerialPort);

// Lines of the device-programming register.
using grabregs::kIcdClock;
using grabregs::kIcdData;
using grabregs::kIcsClock;
using grabregs::kIcsData;
using grabregs::kIcsStrobe;
constexpr uint32_t kDlyEnable = grabregs::kDs1020Enable;
constexpr uint32_t kDlyData = grabregs::kDs1020Data;
constexpr uint32_t kDlyClock = grabregs::kDs1020Clock;
using grabregs::kDac1Clock;
using grabregs::kDac1Data;
using grabregs::kDac1Load;
using grabregs::kDac2Clock;
using grabregs::kDac2Data;
using grabregs::kDac2Load;

constexpr uint32_t kFlagBits = kShadowWritten | kShadowListMode;

// Changes bits of the device-programming register (only its low 16 bits) and writes it.
void DevPrg(uint32_t set, uint32_t clear)
{
    uint32_t* slot = mpPrvExtSlot(kDevPrg);
    if (!slot) return;
    slot[0] = (slot[0] & ~0xFFFFu) | (((slot[0] & 0xFFFFu) & ~clear) | set);
    slot[1] &= ~kFlagBits;
    SetExtShInHw(slot);
}
void Raise(uint32_t line) { DevPrg(line, 0); }
void Lower(uint32_t line) { DevPrg(0, line); }
void Line(uint32_t line, bool high) { high ? Raise(line) : Lower(line); }
void Zero() { DevPrg(0, 0xFFFF); }

// One bit on a DAC8800 or the ICS1522: lower clock, data, raise clock, lower clock.
void ClockedBit(uint32_t clock, uint32_t data, bool bit)
{
    Lower(clock);
    Line(data, bit);
    Raise(clock);
    Lower(clock);
}

void SetDac(uint8_t value, int32_t channel, uint32_t load, uint32_t clock, uint32_t data)
{
    if (channel < 0 || channel > 7) return;
    Zero();
    Raise(load);
    for (int b = 2; b >= 0; --b) ClockedBit(clock, data, (channel >> b) & 1);
    for (int b = 7; b >= 0; --b) ClockedBit(clock, data, (value >> b) & 1);
    Lower(load);
    Raise(load);
    Lower(clock);
    Zero();
}

constexpr uint32_t kRefHz = grabregs::kIcdReferenceHz;
constexpr uint32_t kVcoMin = 50000000;
constexpr uint32_t kVcoMax = 120000000;
constexpr uint32_t kMaxKHz = 120000;
constexpr uint32_t kMinHz = 391000;
constexpr uint32_t kPMinProduct = 114545440;   // 2 x reference x 4
constexpr uint32_t kPMaxProduct = 3722726800u; // 2 x reference x 130
constexpr uint32_t kControlAddress = grabregs::kIcdAddressControl;

// VCO / (prescale x reference) with six decimal places, by decimal long division so that
// no product leaves 32 bits.
uint32_t Ratio(uint32_t vco, uint32_t prescale)
{
    const uint32_t divisor = prescale * kRefHz;
    uint32_t remainder = vco;
    uint32_t r = 0;
    for (int step = 0; step < 7; ++step) {
        const uint32_t digit = remainder / divisor;
        r = r * 10 + digit;
        remainder = 10 * (remainder - digit * divisor);
    }
    return r;
}

} // namespace

// ---- ICD2061A lines --------------------------------------------------------------------

void set_data() { Raise(kIcdData); }
void clr_data() { Lower(kIcdData); }
void set_clk() { Raise(kIcdClock); }
void clr_clk() { Lower(kIcdClock); }
void mp_dig_rst_devprg() { Zero(); }

const uint32_t limit_vco[14] = {50000000, 51000000, 53200000, 58500000, 60700000,
                                64400000, 66800000, 73500000, 75600000, 80900000,
                                83200000, 91500000, 100000000, 120000000};

uint32_t mpPrvIcd2061Index(uint32_t vco)
{
    if (vco >= kVcoMax) return 14;
    uint32_t index = 0;
    for (uint32_t i = 0; i < 14; ++i)
        if (limit_vco[i] <= vco) index = i;
    return index;
}

// ---- writers ---------------------------------------------------------------------------

void mp_dig_set_dac1_reg(uint8_t value, int32_t channel)
try {
    SetDac(value, channel, kDac1Load, kDac1Clock, kDac1Data);
}
HLC_EXPORT_CATCH(mp_dig_set_dac1_reg)

void mp_dig_set_dac2_reg(uint8_t value, int32_t channel)
try {
    SetDac(value, channel, kDac2Load, kDac2Clock, kDac2Data);
}
HLC_EXPORT_CATCH(mp_dig_set_dac2_reg)

void mp_dig_set_ics1522_reg(uint32_t value, int32_t reg)
try {
    if (reg < 0 || reg > 6) return;
    Zero();
    Raise(kIcsStrobe);
    Lower(kIcsStrobe);
    ClockedBit(kIcsClock, kIcsData, false);
    for (int b = 0; b < 3; ++b) ClockedBit(kIcsClock, kIcsData, (reg >> b) & 1);
    for (int b = 0; b < 11; ++b) ClockedBit(kIcsClock, kIcsData, (value >> b) & 1);
    Raise(kIcsStrobe);
    Lower(kIcsClock);
    Lower(kIcsData);
    Raise(kIcsClock);
    Lower(kIcsClock);
    mp_dig_rst_devprg();
}
HLC_EXPORT_CATCH(mp_dig_set_ics1522_reg)

void mp_dig_set_1020_delay(uint8_t value)
try {
    Zero();
    Lower(kDlyEnable);
    Raise(kDlyEnable);
    for (int b = 7; b >= 0; --b) {
        Lower(kDlyClock);
        Line(kDlyData, (value >> b) & 1);
        Raise(kDlyClock);
    }
    Lower(kDlyClock);
    Lower(kDlyEnable);
    Zero();
}
HLC_EXPORT_CATCH(mp_dig_set_1020_delay)

uint32_t mp_dig_calc_icd2061(uint32_t address, uint32_t kHz, uint32_t extra)
try {
    // The frequency is checked in kHz first: kHz x 1000 leaves 32 bits above 4,294,967 kHz.
    // Mend: checked before the multiplication, so a huge frequency cannot wrap into a valid-looking word.
    if (address > 3 || kHz > kMaxKHz) return 0;
    const uint32_t f = kHz * 1000;
    if (f < kMinHz) return 0;

    uint32_t bestError = 0xFFFFFFFFu;
    uint32_t result = 0;
    const uint32_t lastPrescale = address == 3 ? 2 : 4;
    for (uint32_t prescale = 2; prescale <= lastPrescale; prescale += 2) {
        uint32_t qMax = kRefHz / (400000 / prescale);
        if (qMax > 129) qMax = 129;
        uint32_t m = 0;
        while (m < 7 && (f << m) < kVcoMin) ++m;
        if ((f << m) < kVcoMin) continue;
        for (;;) {
            const uint32_t vco = f << m;
            const uint32_t r = Ratio(vco, prescale);
            for (uint32_t q = 15; q <= qMax; ++q) {
                const uint32_t pBase = r * q / 1000000;
                for (uint32_t p = pBase; p <= pBase + 1; ++p) {
                    const uint64_t product = 2ull * kRefHz * p;
                    if (product < kPMinProduct || product > kPMaxProduct) continue;
                    const uint32_t synthesized = static_cast<uint32_t>(product / q) * (prescale / 2);
                    const uint32_t error = vco > synthesized ? vco - synthesized : synthesized - vco;
                    if (error >= bestError) continue;
                    bestError = error;
                    result = (address << 21) | (mpPrvIcd2061Index(vco) << 17) | ((p - 3) << 10) | (m << 7) | (q - 2);
                    if (address <= 2) {
                        if (prescale == 4) result |= 1u << (24 + address);
                        result |= ((extra >> 15) & 0x1F) << 27;
                    }
                }
            }
            if (m >= 7 || (f << (m + 1)) >= kVcoMax) break;
            ++m;
        }
    }
    return result;
}
HLC_EXPORT_CATCH(mp_dig_calc_icd2061)

void mp_dig_set_icd2061(uint32_t word)
try {
    // A calculation that found no word gives 0; sending it would program clock register 0
    // with P and Q outside their ranges.
    // Mend: the 0 of a failed calculation is not sent, so clock register 0 is not programmed with P 3 and Q 2.
    if (word == 0) return;
    Zero();
    const uint32_t address = (word >> 21) & 7;
    if (address <= 2) {
        const uint32_t* control = mpPrvExtSlot(cam0::ICD2061CONTROL);
        const uint32_t current = control ? control[0] : 0;
        mp_dig_set_icd2061((current & ~(1u << (12 + address))) | (((word >> 24) & 0xFF) << 12) |
                           (kControlAddress << 21));
    }
    if (address == kControlAddress) {
        if (uint32_t* control = mpPrvExtSlot(cam0::ICD2061CONTROL)) {
            control[0] = word & 0x1FFFFF;
            control[1] &= ~kFlagBits;
        }
    }
    const uint32_t selection = address <= 2 ? (address == 2 ? 3 : address) : 0;

    // Unlock sequence.
    clr_clk();
    set_data();
    for (int i = 0; i < 5; ++i) {
        set_clk();
        clr_clk();
    }
    clr_data();
    set_clk();
    clr_clk();
    set_clk();
    // 24 bits, least significant first, each preceded by its inverse.
    for (int b = 0; b < 24; ++b) {
        const bool bit = (word >> b) & 1;
        bit ? clr_data() : set_data();
        clr_clk();
        bit ? set_data() : clr_data();
        set_clk();
    }
    // Stop sequence.
    set_data();
    clr_clk();
    set_clk();
    clr_clk();
    for (int i = 0; i < 3; ++i) clr_clk();
    // Leave the selection on the lines, then clear.
    (selection & 2) ? set_data() : clr_data();
    (selection & 1) ? set_clk() : clr_clk();
    mp_dig_rst_devprg();
}
HLC_EXPORT_CATCH(mp_dig_set_icd2061)
