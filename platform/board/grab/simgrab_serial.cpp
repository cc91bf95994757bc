// The serial chips on the device-programming register (ICS1522, DS1020, ICD2061A; the
// two DAC8800s are the shared model of simmodchips.cpp) and the DIM shift register on
// DIG_DICTL: each follows its own lines only and loads a word only when the whole
// protocol was kept.
#include "simgrab.h"

namespace boardsim {

using namespace grabregs;

void Ics1522Model::lines(const LineChange& c)
{
    if (c.fell(kIcsStrobe)) {
        open = true;
        bits.clear();
        return;
    }
    if (c.rose(kIcsStrobe)) {
        // A 0 bit, then the register number and the value, both LSB first.
        if (open && bits.size() == 15 && bits[0] == 0) {
            uint32_t reg = 0, v = 0;
            for (int i = 0; i < 3; ++i) reg |= bits[1 + i] << i;
            for (int i = 0; i < 11; ++i) v |= bits[4 + i] << i;
            if (reg <= 6) {
                value[reg] = static_cast<uint16_t>(v);
                Remember(loads, std::make_pair(static_cast<int>(reg), static_cast<uint16_t>(v)));
            }
        }
        open = false;
        return;
    }
    if (open && !c.high(kIcsStrobe) && c.rose(kIcsClock)) {
        if (bits.size() < 64) bits.push_back(c.high(kIcsData) ? 1u : 0u);
    }
}

void Ds1020Model::lines(const LineChange& c)
{
    if (c.rose(kDs1020Enable)) {
        bits = 0;
        shift = 0;
        return;
    }
    if (c.fell(kDs1020Enable)) {
        if (bits == 8) {
            delay = static_cast<int>(shift & 0xFF);
            Remember(loads, static_cast<uint8_t>(shift));
        }
        bits = -1;
        return;
    }
    if (bits >= 0 && c.high(kDs1020Enable) && c.rose(kDs1020Clock)) {
        shift = (shift << 1) | (c.high(kDs1020Data) ? 1u : 0u);
        ++bits;
    }
}

void Icd2061Model::lines(const LineChange& c)
{
    const bool d = c.high(kIcdData);
    if (phase == Phase::Unlock) {
        if (!c.rose(kIcdClock)) return;
        if (d) {
            ++ones;
        } else if (ones >= static_cast<int>(kIcdUnlockOnes)) {
            phase = Phase::Start;   // the start bit; the bits begin after the clock's next rise
        } else {
            ones = 0;
        }
        return;
    }
    if (phase == Phase::Start) {
        if (c.rose(kIcdClock)) {
            phase = Phase::Bits;
            fallData = -1;
            word = 0;
            bits = 0;
        }
        return;
    }
    // Bits: the inverse of the bit at the falling clock, the bit at the rising clock.
    if (c.fell(kIcdClock)) {
        fallData = d ? 1 : 0;
        return;
    }
    if (!c.rose(kIcdClock) || fallData < 0) return;
    const int first = fallData;
    fallData = -1;
    if (first == 1 && d) {
        if (bits == 24) commit(word);   // the stop
        phase = Phase::Unlock;
        ones = 0;
        return;
    }
    if (first == (d ? 1 : 0) || bits >= 24) {
        phase = Phase::Unlock;   // not a bit: the word is dropped
        ones = 0;
        return;
    }
    if (d) word |= 1u << bits;
    ++bits;
}

void Icd2061Model::commit(uint32_t w)
{
    Remember(words, w);
    const uint32_t address = (w >> kIcdAddressShift) & kIcdAddressMask;
    const uint32_t bitsOfData = w & kIcdDataMask;
    if (address <= kIcdSystemClockRegister) {
        clockWord[address] = bitsOfData;
        clockLoaded[address] = true;
    } else if (address == kIcdAddressPowerDown) {
        powerDown = bitsOfData;
    } else if (address == kIcdAddressControl) {
        control = bitsOfData;
        controlLoaded = true;
    }
}

void DimModel::lines(const LineChange& c)
{
    if (!fitted || !c.high(kDimEnable)) return;
    if (c.rose(kDimClock)) shift = static_cast<uint8_t>((shift >> 1) | (c.high(kDimData) ? 0x80 : 0));
    if (c.rose(kDimLatch)) {
        value = shift;
        Remember(loads, shift);
    }
}

} // namespace boardsim
