// Register download of the second grab-module family.  The timing chip is reached through
// the channel's index/data ports, the decoder, PLL and DAC through their serial protocols;
// every register written is copied into the channel's live shadow in the same step.
#include "kvxload.h"

#include "hwlock.h"
#include "kvxio.h"
#include "kvxlut.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

using namespace cam1;

namespace {

constexpr uint32_t kTimingFirst = FAF_PTOTAL;
constexpr uint32_t kTimingLastPorted = FAF_USERO;      // the last register behind the ports
constexpr uint32_t kBurstLast = FAF_TSETEXP2;          // the burst's first run ends here
constexpr uint32_t kDecoderRegisters = 64;
constexpr uint32_t kGammaEntries = 32;
constexpr uint32_t kDescriptorFirst = DESCRIPTION_INFO_XSIZE;
constexpr uint32_t kDescriptorLast = DESCRIPTION_CH3LVL;
constexpr uint32_t DESCRIPTION_INFO_INPUT = cam0::INFO_INPUT + kInfoToStandard;
constexpr uint32_t DESCRIPTION_INFO_LUTPROG = cam0::INFO_LUTPROG + kInfoToStandard;
constexpr uint32_t DEC_CMDA = DEC_STAT + 8 * 1;
constexpr uint32_t DEC_OFMTA = DEC_STAT + 8 * 30;
constexpr uint32_t kBypassRegister = BTC_BTCBPASS;

constexpr double kDecoderSettle = 0.25;
constexpr double kPllSettle = 0.05;
constexpr double kDacSettle = 0.1;

constexpr uint32_t SFAF(uint32_t slot) { return slot + kSecondTimingSet; }
constexpr uint32_t DecoderSlot(uint32_t reg)
{
    return reg < kDecoderRegisters ? DEC_STAT + 8 * reg
                                   : (reg < 96 ? DEC_GAMMA + 8 * (reg - 64) : DEC_GAMMAD + 8 * (reg - 96));
}

uint32_t& Word(void* record, uint32_t slot) { return CamSlotAt(record, slot)->value; }
uint32_t Cam(const _MP_CAM_ST_1* camera, uint32_t slot) { return CamSlotAt(camera, slot)->value; }
uint32_t Low16(uint32_t v) { return v & 0xFFFF; }

// The ports and plain registers of one channel, with its live shadow.
struct Channel {
    uint32_t index;
    uint8_t* shadow;
    uint32_t single() const { return KvxRegAddr(KvxSinglePort(index)); }
    uint32_t burst() const { return KvxRegAddr(KvxBurstPort(index)); }
    uint32_t& operator[](uint32_t slot) const { return Word(shadow, slot); }

    // The register's index, then its shadow value, through the single port.
    void write(uint32_t slot) const
    {
        flushIndexHw(single(), slot, kTimingFirst);
        flushDataHw(single(), Low16(Word(shadow, slot)));
    }
    // An index, then the shadow values of the given registers as successive data.
    void run(uint32_t first, std::initializer_list<uint32_t> slots) const
    {
        flushIndexHw(single(), first, kTimingFirst);
        for (uint32_t slot : slots) flushDataHw(single(), Low16(Word(shadow, slot)));
    }
    // A plain timing register (GRBCTL0, DEVPROG, TSTSTS) from the shadow.
    void flush(uint32_t slot) const
    {
        uint32_t r = KvxGrabControl(index);
        if (slot == FAF_DEVPROG) r = KvxDevProg(index);
        else if (slot == FAF_TSTSTS) r = KvxTestStatus(index);
        flushHw(KvxRegAddr(r), static_cast<int32_t>(Low16(Word(shadow, slot))));
    }
    void take(const _MP_CAM_ST_1* camera, std::initializer_list<uint32_t> slots) const
    {
        for (uint32_t slot : slots) Word(shadow, slot) = Cam(camera, slot);
    }
    // The shadow takes the start set's values of the given registers.
    void takeStart(const _MP_CAM_ST_1* camera, std::initializer_list<uint32_t> slots) const
    {
        for (uint32_t slot : slots) Word(shadow, slot) = Cam(camera, SFAF(slot));
    }
    void bits(uint32_t slot, uint32_t set, uint32_t clear) const
    {
        Word(shadow, slot) = (Word(shadow, slot) & ~clear) | set;
    }
};

bool ChannelOf(uint32_t channel, Channel* c)
{
    uint8_t* shadow = mpPrvKvxShadow(channel);
    if (!shadow) return false;
    *c = Channel{channel, shadow};
    return true;
}

bool PllLoop(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode, uint32_t (*slotOf)(uint32_t))
{
    Channel c;
    if (!camera || !ChannelOf(channel, &c)) return false;
    bool wrote = false;
    for (uint32_t n = 0; n < 7; ++n) {
        const uint32_t slot = slotOf(n);
        const uint32_t value = Cam(camera, slot);
        if (mode != kKvxLoadFull && c[slot] == value) continue;
        c[slot] = value;
        mp_kvx_set_pll_reg(channel, value, n);
        wrote = true;
    }
    return wrote;
}

uint32_t PllSlot(uint32_t n) { return PLL_ICS1522REG(n); }
uint32_t StartPllSlot(uint32_t n) { return SPLL_ICS1522REG(n); }

uint8_t* DacBytes(_MP_CAM_ST_1* camera) { return camera->bytes + DAC_BYTES; }

} // namespace

int mp_kvx_load(_MP_CAM_ST_1* camera, _MP_BUF_ST* lut, uint32_t channel, int32_t mode)
{
    (void)lut;
    // A channel past the module's four would reach registers outside the window, and a
    // full timing download can fill only the shadow of the channel it writes.
    if (!camera || channel >= kKvxChannels) return -1;
    if (mode == kKvxLoadFull && channel >= 2) return -1;
    Channel c, c0;
    if (!ChannelOf(channel, &c) || !ChannelOf(0, &c0)) return -1;

    // Step 1.
    uint32_t loadedOnce = 0;
    std::memcpy(&loadedOnce, camera->bytes + LOADED_ONCE, 4);
    const uint32_t clock = Cam(camera, FAF_CLOCKCTL) & 15;
    const bool pllClock = clock == 1 || clock == 5;
    bool firstPll = false;
    int32_t m = mode;
    if (loadedOnce == 0) {
        uint8_t* dac = DacBytes(camera);
        dac[0] = static_cast<uint8_t>(Cam(camera, DAC_CH0POSREF));
        dac[1] = static_cast<uint8_t>(Cam(camera, DAC_CH0LVL));
        dac[2] = static_cast<uint8_t>(Cam(camera, DAC_CH1POSREF));
        dac[3] = static_cast<uint8_t>(Cam(camera, DAC_CH1LVL));
        firstPll = pllClock;
        if (mode == kKvxLoadSame) m = kKvxLoadFull;
        loadedOnce = 1;
        std::memcpy(camera->bytes + LOADED_ONCE, &loadedOnce, 4);
    }

    // Step 2.
    const bool input = Cam(camera, DESCRIPTION_INFO_INPUT) != 0;
    if (input || (Cam(camera, DEC_CMDA) & 0x80)) {
        c[DEC_CMDA] = 0x80;
        c[DEC_OFMTA] = 0x20;
        mp_kvx_set_dec_reg(channel, 1, 0x80);
        mp_kvx_set_dec_reg(channel, 30, 0x20);
    } else {
        mp_kvx_load_dec(camera, channel, m);
    }

    // Steps 3 and 4.
    const bool pllChanged = !input && pllClock && (c[FAF_PLLCTL] & 7) != (Cam(camera, FAF_PLLCTL) & 7);
    if ((pllChanged || firstPll) && !input) mp_kvx_prelock_pll(camera, channel, m);
    mp_kvx_load_faf(camera, channel, mode);
    if (!input) mp_kvx_set_pll(camera, channel, m);

    // Step 5.
    int result = 0;
    if (Cam(camera, DESCRIPTION_INFO_LUTPROG) == 1 && mp_kvx_prog_lut(camera, channel) == -1) result = -1;

    // Step 6.
    c0[kBypassRegister] = Low16(Cam(camera, kBypassRegister));
    flushHw(KvxRegAddr(kBypassRegister), static_cast<int32_t>(c0[kBypassRegister]));

    // Step 7.
    mp_kvx_load_dac(camera, channel, m);
    mp_kvx_load_dim(camera, channel, m);
    if (m == kKvxLoadFull) mp_kvx_load_descr(camera, channel);
    return result;
}

void mp_kvx_load_dec(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode)
{
    Channel c;
    if (!camera || !ChannelOf(channel, &c)) return;
    bool wrote = false;
    auto one = [&](uint32_t reg) {
        const uint32_t slot = DecoderSlot(reg);
        const uint32_t byte = Cam(camera, slot) & 0xFF;
        if (mode != kKvxLoadFull && (c[slot] & 0xFF) == byte) return;
        c[slot] = byte;
        mp_kvx_set_dec_reg(channel, reg, byte);
        wrote = true;
    };
    for (uint32_t reg = 1; reg <= 32; ++reg) one(reg);
    for (uint32_t reg = 35; reg < kDecoderRegisters; ++reg) one(reg);
    for (uint32_t k = 0; k < kGammaEntries; ++k) {
        one(64 + k);
        one(96 + k);
    }
    if (mode == kKvxLoadFull || wrote) mp_time_sleep(kDecoderSettle);
}

void mp_kvx_load_faf(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode)
{
    Channel c;
    if (!camera || !ChannelOf(channel, &c)) return;
    if (mode != kKvxLoadFull) {
        for (uint32_t slot = kTimingFirst; slot <= kTimingLastPorted; slot += 8) {
            if (Low16(c[slot]) == Low16(Cam(camera, slot))) continue;
            flushIndexHw(c.single(), slot, kTimingFirst);
            c[slot] = Cam(camera, slot);
            flushDataHw(c.single(), Low16(c[slot]));
        }
        for (uint32_t slot : {FAF_GRBCTL0, FAF_DEVPROG, FAF_TSTSTS}) {
            if (Low16(c[slot]) == Low16(Cam(camera, slot))) continue;
            c[slot] = Cam(camera, slot);
            c.flush(slot);
        }
        return;
    }
    // A full download of channel 2 or 3 is refused by mp_kvx_load; here it writes nothing.
    if (channel >= 2) return;
    // (a) the I/O-enable pair through the single port.
    c.take(camera, {FAF_IOENCTL0, FAF_IOENCTL1});
    c.run(FAF_IOENCTL0, {FAF_IOENCTL0, FAF_IOENCTL1});
    // (b) every other timing register into this channel's shadow: only what is written
    // below, so the shadow never runs ahead of the hardware.
    // Mend: the other channel's shadow is left alone, so its next difference download still writes what its chip lacks.
    for (uint32_t slot = kTimingFirst; slot <= FAF_TSTSTS; slot += 8)
        if (slot != FAF_IOENCTL0 && slot != FAF_IOENCTL1) c[slot] = Cam(camera, slot);
    // (c) the burst: index 0 and the first 37 registers, then index 78 and the last three.
    flushIndexHw(c.burst(), kTimingFirst, kTimingFirst);
    for (uint32_t slot = kTimingFirst; slot <= kBurstLast; slot += 8) flushDataHw(c.burst(), Low16(c[slot]));
    flushIndexHw(c.burst(), FAF_OPAMPCTL, kTimingFirst);
    for (uint32_t slot : {FAF_OPAMPCTL, FAF_PLLCTL, FAF_USERO}) flushDataHw(c.burst(), Low16(c[slot]));
    // (d) the plain registers.
    for (uint32_t slot : {FAF_GRBCTL0, FAF_DEVPROG, FAF_TSTSTS}) c.flush(slot);
}

int mp_kvx_load_pll(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode)
{
    return PllLoop(camera, channel, mode, PllSlot) ? 1 : 0;
}

int mp_kvx_load_prelock_pll(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode)
{
    return PllLoop(camera, channel, mode, StartPllSlot) ? 1 : 0;
}

void mp_kvx_set_pll(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode)
{
    Channel c;
    if (!camera || !ChannelOf(channel, &c)) return;
    if (mp_kvx_load_pll(camera, channel, mode) != 1) return;
    c.take(camera, {FAF_HTOTAL, FAF_HSSYNC, FAF_HESYNC, FAF_TSETCNT, FAF_TSETEXP0, FAF_PLLCTL, FAF_TMRCTL0,
                    FAF_TMRCTL1, FAF_VCRSTCTL, FAF_HCRSTCTL, FAF_GRBCTL0, FAF_GRBCTL1});
    c.run(FAF_HTOTAL, {FAF_HTOTAL, FAF_HSSYNC, FAF_HESYNC});
    c.run(FAF_TSETCNT, {FAF_TSETCNT, FAF_TSETEXP0});
    c.run(FAF_PLLCTL, {FAF_PLLCTL});
    c.run(FAF_TMRCTL0, {FAF_TMRCTL0, FAF_TMRCTL1});
    c.run(FAF_VCRSTCTL, {FAF_VCRSTCTL, FAF_HCRSTCTL});
    c.run(FAF_GRBCTL1, {FAF_GRBCTL1});
    c.flush(FAF_GRBCTL0);
    mp_time_sleep(kPllSettle);
}

void mp_kvx_prelock_pll(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode)
{
    Channel c;
    if (!camera || !ChannelOf(channel, &c)) return;
    // 1.
    c.take(camera, {FAF_TMRCTL0, FAF_TMRCTL1});
    c.run(FAF_TMRCTL0, {FAF_TMRCTL0, FAF_TMRCTL1});
    // 2.
    c.bits(FAF_TMRCTL0, 0, (1u << 15) | (1u << 12) | (1u << 13));
    c.write(FAF_TMRCTL0);
    c.bits(FAF_TMRCTL1, 0, 1u << 1);
    c.write(FAF_TMRCTL1);
    c.bits(FAF_TMRCTL1, 0, 1u << 0);
    c.write(FAF_TMRCTL1);
    c.bits(FAF_TMRCTL1, 1u << 2, 0);
    c.write(FAF_TMRCTL1);
    // 3.
    if ((Cam(camera, SFAF(FAF_TMRCTL0)) & 7) == 2) {
        c.takeStart(camera, {FAF_TSETCNT, FAF_TSETEXP0, FAF_TMRCTL0, FAF_TMRCTL1});
        c.run(FAF_TSETCNT, {FAF_TSETCNT, FAF_TSETEXP0});
        c.write(FAF_TMRCTL1);
        c.write(FAF_TMRCTL0);
        c.bits(FAF_TMRCTL0, 0x3, (1u << 2) | (1u << 4));
        c.write(FAF_TMRCTL0);
        c.bits(FAF_TMRCTL0, 1u << 12, 1u << 13);
        c.write(FAF_TMRCTL0);
        c.bits(FAF_TMRCTL0, 0, 1u << 3);
        c.write(FAF_TMRCTL0);
        c.bits(FAF_TMRCTL0, 1u << 3, 0);
        c.write(FAF_TMRCTL0);
    }
    // 4.
    c.takeStart(camera, {FAF_HTOTAL, FAF_TSETCNT, FAF_TSETEXP0, FAF_PLLCTL, FAF_TMRCTL0, FAF_TMRCTL1, FAF_GRBCTL0,
                         FAF_GRBCTL1, FAF_CLOCKCTL});
    c.write(FAF_HTOTAL);
    c.run(FAF_TSETCNT, {FAF_TSETCNT, FAF_TSETEXP0});
    c.write(FAF_PLLCTL);
    c.run(FAF_TMRCTL0, {FAF_TMRCTL0, FAF_TMRCTL1});
    c.write(FAF_GRBCTL1);
    c.write(FAF_CLOCKCTL);
    c.flush(FAF_GRBCTL0);
    // 5.
    mp_kvx_load_prelock_pll(camera, channel, mode);
    // 6.
    c.takeStart(camera, {FAF_HSSYNC, FAF_HESYNC, FAF_VCRSTCTL, FAF_HCRSTCTL});
    c.run(FAF_HSSYNC, {FAF_HSSYNC, FAF_HESYNC});
    c.run(FAF_VCRSTCTL, {FAF_VCRSTCTL, FAF_HCRSTCTL});
}

void mp_kvx_load_dac(_MP_CAM_ST_1* camera, uint32_t channel, int32_t mode)
{
    Channel c0;
    if (!camera || !ChannelOf(0, &c0)) return;
    const uint8_t* dac = DacBytes(camera);
    bool wrote = false;
    auto one = [&](uint32_t slot, uint8_t value, uint32_t address) {
        if (mode != kKvxLoadFull && (c0[slot] & 0xFF) == value) return;
        c0[slot] = value;
        mp_kvx_set_dac_reg(value, address);
        wrote = true;
    };
    if (mode == kKvxLoadFull || channel == 0) {
        one(DAC_CH0POSREF, dac[0], 0);
        one(DAC_CH0LVL, dac[1], 4);
    }
    if (mode == kKvxLoadFull || (channel & 1)) {
        one(DAC_CH1POSREF, dac[2], 1);
        one(DAC_CH1LVL, dac[3], 5);
    }
    if (wrote) mp_time_sleep(kDacSettle);
}

void mp_kvx_load_dim(_MP_CAM_ST_1*, uint32_t, int32_t) {}

void mp_kvx_load_descr(_MP_CAM_ST_1* camera, uint32_t channel)
{
    Channel c;
    if (!camera || !ChannelOf(channel, &c)) return;
    for (uint32_t slot = kDescriptorFirst; slot <= kDescriptorLast; slot += 8) c[slot] = Cam(camera, slot);
}

int mp_kvx_check_pclk_ok(uint32_t expected)
{
    // No expected count, no deviation to measure against.
    if (expected == 0) return 0;
    Channel c;
    if (!ChannelOf(0, &c)) return 0;
    const uint32_t saved[6] = {c[FAF_VTOTAL], c[FAF_TMRCTL0], c[FAF_TMRCTL1], c[FAF_TSETCNT], c[FAF_TSETEXP0],
                               c[FAF_TSTSTS]};
    flushIndexHw(c.single(), FAF_VTOTAL, kTimingFirst);
    flushDataHw(c.single(), 0xFFFF);
    c.bits(FAF_TSTSTS, 1u << 8, 0);
    c.flush(FAF_TSTSTS);
    // Timer 0 counts the pixel clock over timer 1's window.
    c[FAF_TMRCTL0] = (saved[1] & ~0x703Fu) | 0x2;
    c[FAF_TMRCTL1] = (saved[2] & ~0x7u) | 0x4;
    c.run(FAF_TMRCTL0, {FAF_TMRCTL0, FAF_TMRCTL1});
    mp_time_sleep(10e-6);
    flushIndexHw(c.single(), FAF_TSETEXP0, kTimingFirst);
    for (uint32_t v : {24000u, 0u, 0u}) flushDataHw(c.single(), v);
    flushIndexHw(c.single(), FAF_TSETCNT, kTimingFirst);
    flushDataHw(c.single(), 35000);
    auto pulseReset = [&] {
        flushIndexHw(c.single(), FAF_VCRSTCTL, kTimingFirst);
        flushDataHw(c.single(), Low16(c[FAF_VCRSTCTL] | 1));
        flushIndexHw(c.single(), FAF_VCRSTCTL, kTimingFirst);
        flushDataHw(c.single(), Low16(c[FAF_VCRSTCTL] & ~1u));
    };
    pulseReset();
    c.bits(FAF_TMRCTL0, 1u << 3, 0);
    c.write(FAF_TMRCTL0);

    // Readings over the window: any above 65000 fails; the last must lie within 0.5 %.
    bool over = false;
    uint32_t count = 0;
    const double start = mp_time_clock(0.0);
    do {
        flushIndexHw(c.single(), FAF_VCNT, kTimingFirst);
        count = readDataHw(c.single());
        if (count > 65000) over = true;
        mp_time_sleep(0.001);
    } while (mp_time_clock(start) < 0.1);
    const double deviation = (static_cast<double>(expected) - count) / expected * 100.0;
    const bool ok = !over && std::fabs(deviation) <= 0.5;

    c[FAF_VTOTAL] = saved[0];
    c[FAF_TMRCTL0] = saved[1];
    c[FAF_TMRCTL1] = saved[2];
    c[FAF_TSETCNT] = saved[3];
    c[FAF_TSETEXP0] = saved[4];
    c[FAF_TSTSTS] = saved[5];
    c.write(FAF_VTOTAL);
    c.run(FAF_TMRCTL0, {FAF_TMRCTL0, FAF_TMRCTL1});
    c.run(FAF_TSETCNT, {FAF_TSETCNT, FAF_TSETEXP0});
    c.flush(FAF_TSTSTS);
    pulseReset();
    return ok ? 1 : 0;
}

int mp_kvx_check_pll_lock(uint32_t expected)
{
    if (mp_kvx_check_pclk_ok(expected)) return 0;
    for (int i = 0; i < 20; ++i) {
        mp_time_sleep(0.04);
        if (mp_kvx_check_pclk_ok(expected)) return 0;
    }
    return -1;
}
