// The second-family grab module's port window: register lanes, the id byte, the serial
// chips on the channels' device-programming registers, the timing chips behind their
// ports, the EEPROM, the input LUTs, and the KvxView inspection calls.
#include "simkvx.h"

#include "simgrabengine.h"
#include "simgrablist.h"
#include "simorlo.h"

#include <algorithm>
#include <string>

namespace boardsim {

using namespace kvxregs;

namespace {

uint32_t WidthMask(int width)
{
    return width >= 4 ? 0xFFFFFFFFu : ((1u << (8 * width)) - 1u);
}

// The EEPROM model decodes the standard module's line positions; BTC_EEPPRG carries the
// same lines at other bits.
uint16_t EepromLines(uint16_t v)
{
    uint16_t out = 0;
    if (v & kEepromClock) out |= grabregs::kEepromClock;
    if (v & kEepromDataIn) out |= grabregs::kEepromDataIn;
    if (v & kEepromSelect) out |= grabregs::kEepromSelect;
    return out;
}

} // namespace

// ---------------------------------------------------------------- decoder

bool KvxDecoderModel::drives() const
{
    return phase == Phase::Read && readBit < 8;
}

bool KvxDecoderModel::out() const
{
    return drives() && ((reg[sub & 0x7F] >> (7 - readBit)) & 1) != 0;
}

void KvxDecoderModel::byteDone(uint8_t byte)
{
    switch (phase) {
    case Phase::Address:
        if (byte == kDecoderWrite) {
            phase = Phase::Write;
            subSet = false;
        } else if (byte == kDecoderRead) {
            phase = Phase::Read;
            readBit = 0;
            readRisen = false;
        } else {
            phase = Phase::Ignore;
        }
        break;
    case Phase::Write:
        if (!subSet) {
            sub = byte & 0x7F;
            subSet = true;
        } else {
            reg[sub] = byte;
            Remember(writes, std::make_pair(sub, byte));
            sub = (sub + 1) & 0x7F;
        }
        break;
    default:
        break;
    }
}

void KvxDecoderModel::lines(bool newScl, bool newSda)
{
    if (scl && newScl && sda != newSda) {
        if (!newSda) {   // start (or repeated start)
            phase = Phase::Address;
            bits = 0;
            shift = 0;
        } else {         // stop
            phase = Phase::Idle;
        }
    } else if (!scl && newScl) {
        switch (phase) {
        case Phase::Address:
        case Phase::Write:
        case Phase::Ignore:
            if (bits < 8) {
                shift = (shift << 1) | (newSda ? 1u : 0u);
                ++bits;
            } else {   // the acknowledge clock ends the byte
                const uint8_t byte = static_cast<uint8_t>(shift);
                bits = 0;
                shift = 0;
                if (phase != Phase::Ignore) byteDone(byte);
            }
            break;
        case Phase::Read:
            if (readBit >= 8) {   // the master's acknowledge: the next register follows
                sub = (sub + 1) & 0x7F;
                readBit = 0;
                readRisen = false;
            } else {
                readRisen = true;
            }
            break;
        case Phase::Idle:
            break;
        }
    } else if (scl && !newScl && phase == Phase::Read && readRisen) {
        readRisen = false;
        if (++readBit == 8) ++reads;
    }
    scl = newScl;
    sda = newSda;
}

// ---------------------------------------------------------------- PLL

void KvxPllModel::lines(const LineChange& c)
{
    if (c.fell(kPllStrobe)) {
        open = true;
        bits.clear();
        return;
    }
    if (c.rose(kPllStrobe)) {
        if (open && bits.size() == 15 && bits[0] == 0) {
            uint32_t r = 0, v = 0;
            for (int i = 0; i < 3; ++i) r |= bits[1 + i] << i;
            for (int i = 0; i < 11; ++i) v |= bits[4 + i] << i;
            if (r <= 6) {
                value[r] = static_cast<uint16_t>(v);
                Remember(loads, std::make_pair(static_cast<int>(r), static_cast<uint16_t>(v)));
            }
        }
        open = false;
        return;
    }
    if (open && !c.high(kPllStrobe) && c.rose(kPllClock) && bits.size() < 64) bits.push_back(c.high(kPllData) ? 1u : 0u);
}

// ---------------------------------------------------------------- the module

KvxModuleChip::KvxModuleChip(Board* board) : FpgaPortChip(board), board_(board)
{
    dac.clock = kDacClock;
    dac.data = kDacData;
    dac.load = kDacLoad;
}

uint64_t KvxModuleChip::now() const
{
    return board_->clock ? board_->clock->nowNanos() : 0;
}

uint8_t KvxModuleChip::idByte() const
{
    switch (board_->spec.moduleType) {
    case 4: return board_->spec.kvxIdByte ? board_->spec.kvxIdByte : kModuleIdType4;
    case 5: return kModuleIdType5;
    case 6: return kModuleIdType6;
    default: return 0xFF;
    }
}

int KvxModuleChip::channelOfPort(uint32_t r) const
{
    for (uint32_t c = 0; c < kChannels; ++c)
        if (r == SinglePort(c) || r == BurstPort(c)) return static_cast<int>(c);
    return -1;
}

bool KvxModuleChip::sdaLine(uint32_t channel, uint16_t value) const
{
    if (value & kSdaDrive) return (value & kSdaOut) != 0;
    return decoder[channel].out();
}

uint16_t KvxModuleChip::readBack(uint32_t r)
{
    const uint16_t v = regs_[r / 8];
    for (uint32_t c = 0; c < kChannels; ++c)
        if (r == DevProg(c)) return static_cast<uint16_t>((v & ~kSdaIn) | (sdaLine(c, v) ? kSdaIn : 0));
    if (r == BTC_EEPPRG) {
        const uint64_t t = now();
        eeprom.settle(t);
        return static_cast<uint16_t>((v & ~kEepromDataOut) | (eeprom.out(t) ? kEepromDataOut : 0));
    }
    return v;
}

uint32_t KvxModuleChip::read(uint32_t offset, int width)
{
    // While the Orlo's port option is off, word 0 answers the module id byte.
    if (offset < 4 && !(board_->primaryRegs->peek(kOrloStatus) & kStatusPortOption))
        return (static_cast<uint32_t>(idByte()) >> (8 * offset)) & WidthMask(width);
    if (offset >= kOrloPortSize) return WidthMask(width);
    if (offset % 8 != 0) return 0;
    const bool high = (offset % 16) != 0;
    const uint32_t r = (high ? offset - 8 : offset) / 2;
    const int port = channelOfPort(r);
    if (port >= 0 && high) {
        KvxTimingModel& t = timing[port];
        const uint8_t byte = t.index < t.bytes.size() ? t.bytes[t.index] : 0;
        ++t.index;
        return byte;
    }
    if (r == ISF_LUTDATA && !high) {
        const uint16_t enabled = regs_[ISF_LUTEN / 8];
        uint8_t byte = 0;
        for (uint32_t l = 0; l < kLutCount; ++l)
            if (enabled & (1u << l)) {
                byte = lut[l][lutIndex];
                break;
            }
        lutIndex = (lutIndex + 1) % kLutEntries;
        return byte;
    }
    const uint16_t v = readBack(r);
    return high ? (v >> 8) : (v & 0xFFu);
}

void KvxModuleChip::write(uint32_t offset, int width, uint32_t value)
{
    if (offset == 0 && !board_->fpga.done) {
        FpgaPortChip::write(offset, width, value);   // the FPGA's data port until it is done
        return;
    }
    if (offset >= kOrloPortSize || offset % 8 != 0) return;
    const bool high = (offset % 16) != 0;
    registerWritten((high ? offset - 8 : offset) / 2, high, static_cast<uint8_t>(value));
}

void KvxModuleChip::registerWritten(uint32_t r, bool high, uint8_t byte)
{
    LineChange c;
    c.before = regs_[r / 8];
    c.after = high ? static_cast<uint16_t>((c.before & 0x00FF) | (byte << 8))
                   : static_cast<uint16_t>((c.before & 0xFF00) | byte);
    if (logged < kGrabLogLimit) {
        log[r / 8].push_back(GrabWrite{high, byte, c.after});
        ++logged;
    }

    // Index registers read back the last index written; data accesses only reach the chips.
    const int port = channelOfPort(r);
    if (port >= 0) {
        KvxTimingModel& t = timing[port];
        if (!high) {
            regs_[r / 8] = c.after;
            t.index = byte;
        } else {
            if (t.index < t.bytes.size()) t.bytes[t.index] = byte;
            Remember(t.written, std::make_pair(t.index, byte));
            ++t.index;
        }
        return;
    }
    if (r == ISF_LUTIDX && !high) {
        regs_[r / 8] = c.after;
        lutIndex = byte;
        return;
    }
    if (r == ISF_LUTDATA && !high) {
        const uint16_t enabled = regs_[ISF_LUTEN / 8];
        for (uint32_t l = 0; l < kLutCount; ++l)
            if (enabled & (1u << l)) lut[l][lutIndex] = byte;
        lutIndex = (lutIndex + 1) % kLutEntries;
        return;
    }
    regs_[r / 8] = c.after;
    for (uint32_t ch = 0; ch < kChannels; ++ch) {
        if (r == DevProg(ch)) devProgWritten(ch, c);
        if (r == GrabControl(ch) && !high) grabControlWritten(ch);
    }
    if (r == kFrameReportAck && !high && (byte & 1) && board_->machine) {
        const std::string name = "kvx frame report board " + std::to_string(board_->index);
        board_->machine->scheduleEvent(now(), name, [this] { frameReportTaken(); });
    }
    if (r == BTC_EEPPRG) {
        LineChange e;
        e.before = EepromLines(c.before);
        e.after = EepromLines(c.after);
        eeprom.lines(e, now());
    }
}

void KvxModuleChip::devProgWritten(uint32_t channel, const LineChange& c)
{
    KvxDecoderModel& d = decoder[channel];
    d.lines((c.after & kScl) != 0, sdaLine(channel, c.after));
    pll[channel].lines(c);
    if (channel == 0) dac.lines(c);
}

// ---------------------------------------------------------------- grab path
//
// A write of FAF_GRBCTL0 only schedules: the buffer controller acts on it in an event of
// the machine's clock.  Bit 0 aborts the channel at once; bit 3 (one frame) or bit 1
// (continuous) starts an idle channel.  A running channel digitises one block of lines
// into its line buffer per block time (a frame spread evenly over its blocks) and holds
// it for the Orlo, marks the frame's end in its status line when the last block is done,
// and either goes on with the next frame (continuous) or clears its grab-active bit.

namespace {
constexpr uint16_t kTestActive = 0x40;        // FAF_TSTSTS: the channel digitises
constexpr uint16_t kTestArmed = 0x20;
constexpr uint16_t kControlAbort = 0x1;       // FAF_GRBCTL0
constexpr uint16_t kControlContinuous = 0x2;
constexpr uint16_t kControlSingle = 0x8;
constexpr uint32_t kMaxLineBytes = 16384;
constexpr uint32_t kMaxFrameLines = 8192;
} // namespace

void KvxModuleChip::grabControlWritten(uint32_t channel)
{
    Machine* m = board_->machine;
    if (!m) return;
    const std::string name = "kvx grab control channel " + std::to_string(channel) + " board " +
                             std::to_string(board_->index);
    m->scheduleEvent(now(), name, [this, channel] { grabCommand(channel); });
}

void KvxModuleChip::grabCommand(uint32_t channel)
{
    const uint16_t control = regs_[GrabControl(channel) / 8];
    KvxGrabChannel& g = grab[channel];
    if (control & kControlAbort) {
        stopGrab(channel);
        return;
    }
    if (g.active) {
        // Clearing the continuous bit lets the frame in progress be the last one.
        if (!(control & kControlContinuous)) g.continuous = false;
        return;
    }
    if (control & (kControlSingle | kControlContinuous)) startGrab(channel);
}

void KvxModuleChip::startGrab(uint32_t channel)
{
    KvxGrabChannel& g = grab[channel];
    const uint32_t bank = channel & 1;   // the buffer controller serves two channels
    g.lineBytes = (static_cast<uint32_t>(regs_[BTC_GWRPT(bank) / 8]) + 2) * 4;
    g.blockLines = static_cast<uint32_t>(regs_[BTC_GLINE(bank) / 8]) + 1;
    const uint16_t full = regs_[BTC_DFULL(bank) / 8];
    g.blocks = (full & 0x1FFu) + 1;
    g.interlaced = (full & 0x200) != 0;
    // A plan the buffer cannot hold starts nothing: the channel stays idle.
    if (g.lineBytes > kMaxLineBytes || g.blockLines * g.blocks > kMaxFrameLines) return;
    // The status line lands where the idle grab set of the Orlo that takes the grab points
    // (its frame start less 2): the Orlo on its idle set whose lists run, else the first one
    // on its idle set, the primary before the display Orlo.  An Orlo left on another grab's
    // registers gets no status line, so no image is touched.
    g.statusAddress = 0;
    g.statusFeed = 0;
    for (const bool needRunning : {true, false}) {
        for (int feed = 0; feed < 2 && !g.statusAddress; ++feed) {
            OrloChip* orlo = orloOf(feed);
            if (!orlo || !onIdleSet(feed) || (needRunning && !orlo->grabList().running())) continue;
            g.statusAddress = orlo->peek(kOrloGFSTART) - 2;
            g.statusFeed = feed;
        }
    }
    // A frame end of the channel's last grab that the lists never acknowledged (the
    // display Orlo's lists cannot reach the module's register) is not this grab's.
    if (reportChannel_ == static_cast<int>(channel)) reportChannel_ = -1;
    g.continuous = (regs_[GrabControl(channel) / 8] & kControlContinuous) != 0;
    // Blocks of an earlier grab the Orlo never took are not this grab's.
    dropHeld(channel);
    // The one-frame bit is a command: taken, it clears.
    regs_[GrabControl(channel) / 8] &= static_cast<uint16_t>(~kControlSingle);
    g.active = true;
    g.block = 0;
    g.samples.clear();
    g.lines.assign(static_cast<size_t>(g.lineBytes) * g.blockLines, 0);
    regs_[TestStatus(channel) / 8] = static_cast<uint16_t>((regs_[TestStatus(channel) / 8] & ~kTestArmed) | kTestActive);
    scheduleBlock(channel, now() + frameNanos / g.blocks);
}

void KvxModuleChip::stopGrab(uint32_t channel)
{
    KvxGrabChannel& g = grab[channel];
    if (g.event && board_->clock) board_->clock->cancel(g.event);
    g.event = 0;
    g.active = false;
    g.continuous = false;
    regs_[TestStatus(channel) / 8] &= static_cast<uint16_t>(~(kTestActive | kTestArmed));
    // An aborted channel's blocks are not sent any more.
    dropHeld(channel);
}

void KvxModuleChip::dropHeld(uint32_t channel)
{
    for (auto it = held_.begin(); it != held_.end();)
        it = it->channel == channel ? held_.erase(it) : it + 1;
}

void KvxModuleChip::scheduleBlock(uint32_t channel, uint64_t at)
{
    KvxGrabChannel& g = grab[channel];
    const std::string name = "kvx block channel " + std::to_string(channel) + " board " +
                             std::to_string(board_->index);
    g.event = board_->machine->scheduleEvent(at, name, [this, channel] {
        grab[channel].event = 0;
        digitiseBlock(channel);
    });
}

// One block: lines block x n .. block x n + n - 1 of the frame (of a field, interlaced: the
// first half of the blocks holds the even lines), one byte per sample through the
// channel's first input LUT (channels 2 and 3 have none and pass the samples).
void KvxModuleChip::digitiseBlock(uint32_t channel)
{
    KvxGrabChannel& g = grab[channel];
    if (!g.active) return;
    const uint32_t width = g.lineBytes;
    const uint32_t height = g.blockLines * g.blocks;
    if (g.samples.empty())
        g.samples = RenderSamples(*board_->machine->frames, g.frame, channel, 8, width, height);
    const uint32_t half = g.interlaced ? std::max<uint32_t>(1, g.blocks / 2) : g.blocks;
    const uint32_t field = g.interlaced ? std::min<uint32_t>(1, g.block / half) : 0;
    const uint32_t step = g.interlaced ? 2 : 1;
    const std::array<uint8_t, kLutEntries>* table = channel < 2 ? &lut[3 * channel] : nullptr;
    for (uint32_t k = 0; k < g.blockLines; ++k) {
        const uint32_t y = ((g.block % half) * g.blockLines + k) * step + field;
        uint8_t* out = g.lines.data() + static_cast<size_t>(k) * width;
        if (y >= height) {
            std::fill(out, out + width, 0);
            continue;
        }
        const uint16_t* in = g.samples.data() + static_cast<size_t>(y) * width;
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t v = static_cast<uint8_t>(in[x]);
            out[x] = table ? (*table)[v] : v;
        }
    }
    ++g.blocksDone;
    // The block waits in the buffer controller until the Orlo takes it.
    KvxHeldBlock held;
    held.channel = channel;
    held.block = g.block;
    held.lines = g.blockLines;
    held.lineBytes = g.lineBytes;
    held.interlaced = g.interlaced;
    held.last = g.block + 1 == g.blocks;
    held.data = g.lines;
    if (held_.size() >= kKvxHeldBlocks) {
        held_.pop_front();
        ++blocksDropped;
    }
    held_.push_back(std::move(held));
    scheduleTransfers();
    ++g.block;
    if (g.block < g.blocks) {
        scheduleBlock(channel, now() + frameNanos / g.blocks);
        return;
    }
    ++g.fields[g.statusFeed];
    ++g.frames;
    writeStatus(channel);
    g.block = 0;
    g.samples.clear();
    ++g.frame;
    if (g.continuous) {
        scheduleBlock(channel, now() + frameNanos / g.blocks);
        return;
    }
    g.active = false;
    regs_[TestStatus(channel) / 8] &= static_cast<uint16_t>(~kTestActive);
}

// The status line: bits 3-14 of the channel's 16-bit word in the status buffer toggle
// between 0 and 1 at the end of each frame (every grab of the channel since power-up), so
// the module server tells a frame's end from the doorbells before it.
void KvxModuleChip::writeStatus(uint32_t channel)
{
    KvxGrabChannel& g = grab[channel];
    if (!g.statusAddress) return;
    uint8_t* at = memoryAt(g.statusFeed, g.statusAddress + kStatusFieldCount + kStatusChannelStride * channel, 2);
    if (!at) return;
    const uint16_t word = static_cast<uint16_t>((g.fields[g.statusFeed] & 1) << 3);
    at[0] = static_cast<uint8_t>(word);
    at[1] = static_cast<uint8_t>(word >> 8);
}

// ---------------------------------------------------------------- inspection

#define LOCKED SimState& s = SimState::get(); std::lock_guard<boardsim::MachineMutex> guard(s.mutex)

KvxModuleChip* FittedKvx(SimState& s, int board)
{
    if (board < 0 || board >= static_cast<int>(s.m().boards.size())) return nullptr;
    return s.m().boards[board]->kvx;
}

namespace {
bool GoodChannel(int channel)
{
    return channel >= 0 && channel < static_cast<int>(kChannels);
}
} // namespace

bool KvxView::fitted() const
{
    LOCKED;
    return FittedKvx(s, board) != nullptr;
}

uint8_t KvxView::idByte() const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    return k ? k->idByte() : 0xFF;
}

uint16_t KvxView::reg(uint32_t r) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    return k ? k->reg(r) : 0;
}

void KvxView::preset(uint32_t r, uint16_t value) const
{
    LOCKED;
    if (KvxModuleChip* k = FittedKvx(s, board)) k->preset(r, value);
}

std::vector<GrabWrite> KvxView::writes(uint32_t r) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    if (!k || r >= kRegisterSpace) return {};
    return k->log[r / 8];
}

std::vector<uint16_t> KvxView::values(uint32_t r) const
{
    std::vector<uint16_t> v;
    for (const GrabWrite& w : writes(r))
        if (w.high) v.push_back(w.value);
    return v;
}

size_t KvxView::writeCount() const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    return k ? k->logged : 0;
}

void KvxView::clearLog() const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    if (!k) return;
    for (auto& l : k->log) l.clear();
    k->logged = 0;
    for (auto& d : k->decoder) {
        d.writes.clear();
        d.reads = 0;
    }
    for (auto& p : k->pll) p.loads.clear();
    for (auto& t : k->timing) t.written.clear();
    k->dac.loads.clear();
}

int KvxView::decoder(int channel, uint32_t reg) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    if (!k || !GoodChannel(channel) || reg >= kDecoderRegisters) return -1;
    return k->decoder[channel].reg[reg];
}

void KvxView::setDecoder(int channel, uint32_t reg, uint8_t value) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    if (k && GoodChannel(channel) && reg < kDecoderRegisters) k->decoder[channel].reg[reg] = value;
}

std::vector<std::pair<uint8_t, uint8_t>> KvxView::decoderWrites(int channel) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    if (!k || !GoodChannel(channel)) return {};
    return k->decoder[channel].writes;
}

uint32_t KvxView::decoderReads(int channel) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    return k && GoodChannel(channel) ? k->decoder[channel].reads : 0;
}

int KvxView::dac(int channel) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    if (!k || channel < 0 || channel >= static_cast<int>(kDacChannels)) return -1;
    return k->dac.value[channel];
}

std::vector<std::pair<int, uint8_t>> KvxView::dacLoads() const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    return k ? k->dac.loads : std::vector<std::pair<int, uint8_t>>{};
}

int KvxView::pll(int channel, int reg) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    if (!k || !GoodChannel(channel) || reg < 0 || reg > 6) return -1;
    return k->pll[channel].value[reg];
}

std::vector<std::pair<int, uint16_t>> KvxView::pllLoads(int channel) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    if (!k || !GoodChannel(channel)) return {};
    return k->pll[channel].loads;
}

int KvxView::timing(int channel, uint32_t index) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    if (!k || !GoodChannel(channel) || index % 2 != 0 || index + 1 >= kTimingBytes) return -1;
    const auto& b = k->timing[channel].bytes;
    return b[index] | (b[index + 1] << 8);
}

void KvxView::setTiming(int channel, uint32_t index, uint16_t value) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    if (!k || !GoodChannel(channel) || index + 1 >= kTimingBytes) return;
    k->timing[channel].bytes[index] = static_cast<uint8_t>(value);
    k->timing[channel].bytes[index + 1] = static_cast<uint8_t>(value >> 8);
}

std::vector<std::pair<uint32_t, uint8_t>> KvxView::timingWrites(int channel) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    if (!k || !GoodChannel(channel)) return {};
    return k->timing[channel].written;
}

int KvxView::lut(int which, uint32_t entry) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    if (!k || which < 0 || which >= static_cast<int>(kLutCount) || entry >= kLutEntries) return -1;
    return k->lut[which][entry];
}

int KvxView::eeprom(uint32_t address) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    if (!k || address >= grabregs::kEepromWords) return -1;
    return k->eeprom.words[address];
}

void KvxView::setEeprom(uint32_t address, uint16_t value) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    if (k && address < grabregs::kEepromWords) k->eeprom.words[address] = value;
}

// ---- grab path ---------------------------------------------------------------------------

bool KvxView::grabActive(int channel) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    return k && GoodChannel(channel) && k->grab[channel].active;
}

uint64_t KvxView::framesDigitised(int channel) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    return k && GoodChannel(channel) ? k->grab[channel].frames : 0;
}

uint64_t KvxView::blocksDigitised(int channel) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    return k && GoodChannel(channel) ? k->grab[channel].blocksDone : 0;
}

std::vector<uint8_t> KvxView::lineBuffer(int channel) const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    return k && GoodChannel(channel) ? k->grab[channel].lines : std::vector<uint8_t>{};
}

void KvxView::setFrameNanos(uint64_t nanos) const
{
    LOCKED;
    if (KvxModuleChip* k = FittedKvx(s, board)) k->frameNanos = nanos ? nanos : 1;
}

#define KVX_COUNT(name, member)                                                                                        \
    uint64_t KvxView::name() const                                                                                     \
    {                                                                                                                  \
        LOCKED;                                                                                                        \
        KvxModuleChip* k = FittedKvx(s, board);                                                                        \
        return k ? k->member : 0;                                                                                      \
    }
KVX_COUNT(blocksTaken, blocksTaken)
KVX_COUNT(statusLines, statusLines)
KVX_COUNT(blocksDropped, blocksDropped)
KVX_COUNT(transferStrays, transferStrays)
#undef KVX_COUNT

bool KvxView::holdsBlock() const
{
    LOCKED;
    KvxModuleChip* k = FittedKvx(s, board);
    return k && k->holdsBlock();
}

} // namespace boardsim
