// Register primitives of the second grab-module family and the bit-serial protocols of its
// decoder, DAC and PLLs.  Every line change of a protocol is one flushHw of the channel's
// whole FAF_DEVPROG working value; the order of the edges is what the chips decode.
#include "kvxio.h"

#include "camrec.h"
#include "eeprom.h"
#include "hwaccess.h"
#include "nodeopen.h"
#include "nodelist.h"
#include "regaccess.h"
#include "reqres.h"

// The module registers that have slots in the camera record lie at their slot offsets.
static_assert(cam1::BTC_GDBUF(1) == kvxregs::BTC_GDBUF(1) && cam1::BTC_START(1) == kvxregs::BTC_START(1) &&
                  cam1::BTC_NODMA(1) == kvxregs::BTC_NODMA(1) && cam1::BTC_AIDCYC == kvxregs::BTC_AIDCYC &&
                  cam1::BTC_GDUMID == kvxregs::BTC_GDUMID && cam1::BTC_DDUMID == kvxregs::BTC_DDUMID &&
                  cam1::BTC_BTCBPASS == kvxregs::BTC_BTCBPASS && cam1::BTC_CLKSEL == kvxregs::BTC_CLKSEL &&
                  cam1::BTC_GBUFCTL == kvxregs::BTC_GBUFCTL && cam1::BTC_EEPPRG == kvxregs::BTC_EEPPRG &&
                  cam1::ISF_LUTEN == kvxregs::ISF_LUTEN && cam1::ISF_LUTDATA == kvxregs::ISF_LUTDATA &&
                  cam1::ISF_BMODE == kvxregs::ISF_BMODE,
              "controller registers at their record slots");
static_assert((cam1::FAF_TSTSTS - cam1::FAF_PTOTAL) / 8 + 1 == kvxregs::kTimingRegisters, "timing-chip registers");

namespace {

uint32_t SelectedPort()
{
    const HwRegCtrl_ST* c = HwRegCtrl;
    if (!c) return 0;
    return c->extCurrentPort ? c->extCurrentPort : c->extPort;
}

uint32_t SelectedNode()
{
    const HwRegCtrl_ST* c = HwRegCtrl;
    if (!c) return 0;
    return c->extNode ? c->extNode : c->node;
}

// The window lane of a register address's low byte: W + 2r with r = address - B.
uint32_t Lane(uint32_t port, uint32_t address)
{
    return port + 2 * (address - port);
}

// The delay a device edge needs: a loop the optimiser must keep.
void FlushDelay()
{
    const uint32_t loops = mpPrvKvxFlushLoops();
    for (volatile uint32_t i = 0; i < loops; i = i + 1) {
    }
}

// One channel's FAF_DEVPROG working value: changed bit by bit, written whole.
class DevProg {
public:
    explicit DevProg(uint32_t channel) : channel_(channel)
    {
        uint8_t* shadow = mpPrvKvxShadow(channel);
        slot_ = shadow ? &CamSlotAt(shadow, cam1::FAF_DEVPROG)->value : nullptr;
    }
    bool usable() const { return slot_ != nullptr && KvxRegAddr(0) != 0; }

    void set(uint32_t bits) { change(bits, 0); }
    void clear(uint32_t bits) { change(0, bits); }
    void line(uint32_t bit, bool high) { high ? set(bit) : clear(bit); }
    void change(uint32_t set, uint32_t clear)
    {
        *slot_ = (*slot_ & ~0xFFFFu) | (((*slot_ & 0xFFFFu) & ~clear) | set);
        write();
    }
    // Sets the whole working value and writes it.
    void assign(uint32_t value)
    {
        *slot_ = (*slot_ & ~0xFFFFu) | (value & 0xFFFFu);
        write();
    }
    void write() { flushHw(KvxRegAddr(KvxDevProg(channel_)), static_cast<int32_t>(*slot_ & 0xFFFFu)); }
    // The decoder data line as the module samples it.
    bool sda() const { return (ReadVExtRegHW(KvxRegAddr(KvxDevProg(channel_))) & kvxregs::kSdaIn) != 0; }

private:
    uint32_t channel_;
    uint32_t* slot_ = nullptr;
};

// ---- two-wire decoder bus ------------------------------------------------------------------

void Start(DevProg& d)
{
    d.set(kvxregs::kScl);
    d.set(kvxregs::kSdaOut);
    d.clear(kvxregs::kSdaOut);
}

// One byte MSB first and the acknowledge clock, during which the module keeps SDA low.
void SendByte(DevProg& d, uint32_t byte)
{
    for (int b = 7; b >= 0; --b) {
        d.clear(kvxregs::kScl);
        d.line(kvxregs::kSdaOut, ((byte >> b) & 1) != 0);
        d.set(kvxregs::kScl);
        d.clear(kvxregs::kScl);
    }
    d.clear(kvxregs::kScl);
    d.clear(kvxregs::kSdaOut);
    d.set(kvxregs::kScl);
    d.clear(kvxregs::kScl);
}

void Begin(DevProg& d)
{
    d.assign(kvxregs::kSdaDrive);
    Start(d);
}

// ---- PLL -----------------------------------------------------------------------------------

void PllBit(DevProg& d, uint32_t bit)
{
    d.clear(kvxregs::kPllClock);
    d.line(kvxregs::kPllData, bit != 0);
    d.set(kvxregs::kPllClock);
    d.clear(kvxregs::kPllClock);
}

} // namespace

// ---- register primitives ------------------------------------------------------------------

uint32_t KvxRegAddr(uint32_t r)
{
    const uint32_t port = SelectedPort();
    return port ? port + r : 0;
}

uint8_t* mpPrvKvxShadow(uint32_t channel)
{
    if (channel >= kKvxChannels) return nullptr;
    KVX_INFO* info = mpPrvKvxInfo(SelectedNode());
    return info ? info->regs[channel] : nullptr;
}

uint32_t mpPrvKvxFlushLoops()
{
    double speed = 1000000000.0;
    if (imNodeSt && imNodeSt->cpuFrequency != 0) speed = imNodeSt->cpuFrequency;
    // The speed in MHz divided exactly, so 1 GHz gives 250 rather than 249.99...
    return static_cast<uint32_t>(speed / 1e6 * 0.25);
}

void flushHw(uint32_t address, int32_t value)
{
    const uint32_t port = SelectedPort();
    FlushDelay();
    if (!port || address < port) return;
    const uint32_t lane = Lane(port, address);
    HwWrite32(lane, 0, static_cast<uint32_t>(value) & 0xFF);
    HwWrite32(lane, 8, static_cast<uint32_t>(value >> 8));
}

void flushIndexHw(uint32_t portAddress, uint32_t slotAddress, uint32_t baseSlotAddress)
{
    const uint32_t port = SelectedPort();
    if (!port || portAddress < port) return;
    HwWrite32(Lane(port, portAddress), 0, (slotAddress - baseSlotAddress) >> 2);
}

void flushDataHw(uint32_t portAddress, uint32_t value)
{
    const uint32_t port = SelectedPort();
    if (!port || portAddress < port) return;
    const uint32_t lane = Lane(port, portAddress);
    HwWrite32(lane, 8, value);
    HwWrite32(lane, 8, value >> 8);
}

uint32_t readDataHw(uint32_t portAddress)
{
    const uint32_t port = SelectedPort();
    if (!port || portAddress < port) return 0;
    const uint32_t lane = Lane(port, portAddress);
    const uint32_t low = HwRead32(lane, 8) & 0xFF;
    const uint32_t high = HwRead32(lane, 8) & 0xFF;
    return low | (high << 8);
}

// ---- serial chips -------------------------------------------------------------------------

void mp_kvx_set_dec_reg(uint32_t channel, uint32_t reg, uint32_t value)
try {
    DevProg d(channel);
    if (!d.usable()) return;
    Begin(d);
    SendByte(d, kvxregs::kDecoderWrite);
    SendByte(d, reg & 0xFF);
    SendByte(d, value & 0xFF);
    d.set(kvxregs::kScl);
    d.clear(kvxregs::kSdaOut);
    d.set(kvxregs::kSdaOut);
    d.clear(kvxregs::kScl);
    d.clear(kvxregs::kSdaOut);
    d.assign(0);
}
HLC_EXPORT_CATCH(mp_kvx_set_dec_reg)

uint32_t mp_kvx_read_dec_reg(uint32_t channel, uint32_t reg)
try {
    DevProg d(channel);
    if (!d.usable()) return 0;
    Begin(d);
    SendByte(d, kvxregs::kDecoderWrite);
    SendByte(d, reg & 0xFF);
    Start(d);
    SendByte(d, kvxregs::kDecoderRead);
    uint32_t value = 0;
    for (int i = 0; i < 8; ++i) {
        d.clear(kvxregs::kSdaDrive);
        d.clear(kvxregs::kScl);
        d.set(kvxregs::kScl);
        value |= d.sda() ? 1u : 0u;
        d.clear(kvxregs::kScl);
        d.set(kvxregs::kSdaDrive);
        if (i < 7) value <<= 1;
    }
    d.set(kvxregs::kScl);
    d.clear(kvxregs::kSdaOut);
    d.set(kvxregs::kSdaOut);
    d.assign(0);
    return value & 0xFF;
}
HLC_EXPORT_CATCH(mp_kvx_read_dec_reg)

void mp_kvx_set_dac_reg(uint32_t value, uint32_t address)
try {
    if (address > 7) return;
    DevProg d(0);
    if (!d.usable()) return;
    d.clear(kvxregs::kDacData | kvxregs::kDacClock | kvxregs::kDacLoad);
    d.set(kvxregs::kDacLoad);
    const uint32_t word = ((address & 7) << 8) | (value & 0xFF);
    for (int b = 10; b >= 0; --b) {
        d.clear(kvxregs::kDacClock);
        d.line(kvxregs::kDacData, ((word >> b) & 1) != 0);
        d.set(kvxregs::kDacClock);
        d.clear(kvxregs::kDacClock);
    }
    d.clear(kvxregs::kDacLoad);
    d.set(kvxregs::kDacLoad);
    d.clear(kvxregs::kDacClock);
    d.clear(kvxregs::kDacData | kvxregs::kDacClock | kvxregs::kDacLoad);
}
HLC_EXPORT_CATCH(mp_kvx_set_dac_reg)

void mp_kvx_set_pll_reg(uint32_t channel, uint32_t value, uint32_t reg)
try {
    if (reg > 6) return;
    DevProg d(channel);
    if (!d.usable()) return;
    d.change(kvxregs::kPllStrobe, kvxregs::kPllData | kvxregs::kPllClock);
    d.clear(kvxregs::kPllStrobe);
    PllBit(d, 0);
    for (int b = 0; b < 3; ++b) PllBit(d, (reg >> b) & 1);
    for (int b = 0; b < 11; ++b) PllBit(d, (value >> b) & 1);
    d.set(kvxregs::kPllStrobe);
    mp_kvx_set_pll_bit(channel, 0);
}
HLC_EXPORT_CATCH(mp_kvx_set_pll_reg)

void mp_kvx_set_pll_bit(uint32_t channel, uint32_t bit)
{
    DevProg d(channel);
    if (!d.usable()) return;
    PllBit(d, bit);
}

uint32_t mpDigSerAccess_Async(MP_RESOURCE_ST* res, uint32_t operation, uint32_t channel, uint32_t value, uint32_t reg)
{
    if (operation != 0 && operation != 256 && operation != 1024 && operation != 2048) return 0;
    if (res) {
        const uint32_t node = res->record ? static_cast<uint32_t>(res->record->nodeNumber) & 0xFF : res->node & 0xFF;
        SetToExt(node);
    }
    switch (operation) {
    case 256:
        mp_kvx_set_dec_reg(channel, reg, value);
        return 0;
    case 0:
        return mp_kvx_read_dec_reg(channel, reg);
    case 1024:
        mp_kvx_set_dac_reg(value, reg);
        return 0;
    default:
        mp_kvx_set_pll_reg(channel, value, reg);
        return 0;
    }
}
