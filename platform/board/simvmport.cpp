// VM ports between the Orlos of the simulated boards of one VM ring.
#include "simvmport.h"

#include "boardsim.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace boardsim {

namespace {

constexpr uint32_t kPortRegister = kOrloVmChannelControl;   // low 4 bits: the VM port
constexpr uint64_t kPortSetupNanos = 2000;

int64_t Signed26(uint32_t value)
{
    value &= 0x3FFFFFF;
    return (value & 0x2000000) ? static_cast<int64_t>(value) - 0x4000000 : static_cast<int64_t>(value);
}

uint32_t UnitBytes(uint32_t format)
{
    return std::min<uint32_t>((format & 7) + 1, 4);
}

// One-byte units carry their bands side by side in the format's band count.
uint32_t Bands(uint32_t format)
{
    return UnitBytes(format) == 1 ? ((format >> 4) & 3) + 1 : 1;
}

uint32_t Lines(uint32_t vStart, uint32_t vStop)
{
    return vStop >= vStart ? vStop - vStart + 1 : 1;
}

} // namespace

VmTransferEngine::Latched VmPort::latch(const VmTransferEngine& e)
{
    VmTransferEngine::Latched r;
    const uint32_t timing = e.reg(kOrloVtControl);
    r.kind = (timing >> 8) & 15;
    r.mirror = (timing & kVtMirror) != 0;
    r.format = e.reg(kOrloVmFormat);
    r.hStart = e.reg(kOrloVmHStart) & 0xFFFF;
    r.hStop = e.reg(kOrloVmHStop) & 0xFFFF;
    r.vStart = e.reg(kOrloVmVStart) & 0xFFFF;
    r.vStop = e.reg(kOrloVmLastLine) & 0xFFFF;
    r.board = e.reg(kOrloVmBoardStart) & 0x3FFFFFF;
    r.boardPitch = e.reg(kOrloVmBoardPitch) & 0x3FFFFFF;
    r.band1 = e.reg(kOrloVmBand1) & 0x3FFFFFF;
    r.band2 = e.reg(kOrloVmBand2) & 0x3FFFFFF;
    return r;
}

VmTransferEngine* VmPort::findReceiver(VmTransferEngine& sender, uint32_t port)
{
    Board& from = sender.board();
    const uint8_t ring = from.spec.vmRing;
    for (int i = 0;; ++i) {
        Board* b = from.machine->board(i);
        if (!b) break;
        // A board outside the sender's ring is not joined to it; the sender's own board
        // reaches its other Orlo through the port as well.
        if (b != &from && (ring == 0 || b->spec.vmRing != ring)) continue;
        for (OrloChip* orlo : {b->primaryRegs.get(), b->displayRegs.get()}) {
            if (!orlo || orlo == sender.orlo_ || !orlo->transferEngine_) continue;
            VmTransferEngine& e = *orlo->transferEngine_;
            if (e.receiving_ && e.receivePort_ == port) return &e;
        }
    }
    return nullptr;
}

void VmPort::arm(VmTransferEngine& receiver)
{
    receiver.received_ = latch(receiver);
    receiver.receivePort_ = receiver.reg(kPortRegister) & 15;
    receiver.receiving_ = true;
    // A sender of the ring already waits on this port: it runs now.
    Board& at = receiver.board();
    for (int i = 0;; ++i) {
        Board* b = at.machine->board(i);
        if (!b) break;
        if (b != &at && (at.spec.vmRing == 0 || b->spec.vmRing != at.spec.vmRing)) continue;
        for (OrloChip* orlo : {b->primaryRegs.get(), b->displayRegs.get()}) {
            if (!orlo || !orlo->transferEngine_ || orlo == receiver.orlo_) continue;
            VmTransferEngine& e = *orlo->transferEngine_;
            if (e.waitingForReceiver_ && e.sendPort_ == receiver.receivePort_) {
                e.waitingForReceiver_ = false;
                start(e, receiver);
                return;
            }
        }
    }
}

void VmPort::send(VmTransferEngine& sender)
{
    sender.latched_ = latch(sender);
    sender.sendPort_ = sender.reg(kPortRegister) & 15;
    if (sender.neverEnds) {
        // The injected fault: the send hangs (its receiver stays armed) until a reset.
        sender.hung_ = true;
        return;
    }
    VmTransferEngine* receiver = findReceiver(sender, sender.sendPort_);
    if (!receiver) {
        sender.waitingForReceiver_ = true;
        return;
    }
    start(sender, *receiver);
}

void VmPort::reset(VmTransferEngine& engine)
{
    engine.receiving_ = false;
    engine.waitingForReceiver_ = false;
    engine.peer_ = nullptr;
}

void VmPort::start(VmTransferEngine& sender, VmTransferEngine& receiver)
{
    receiver.receiving_ = false;
    sender.peer_ = &receiver;
    const VmTransferEngine::Latched& r = sender.latched_;
    const uint64_t bytes = static_cast<uint64_t>(Lines(r.vStart, r.vStop)) * (r.hStop + 1) * UnitBytes(r.format) *
                           Bands(r.format);
    const uint32_t mhz = std::max<uint32_t>(sender.board().spec.vmPortMHz, 1);
    const uint64_t nanos = kPortSetupNanos + bytes * 1000 / (static_cast<uint64_t>(mhz) * 4);
    Board& b = sender.board();
    VmTransferEngine* s = &sender;
    sender.event_ = b.machine->scheduleEvent(b.clock->nowNanos() + nanos, "VM port transfer", [s] {
        s->event_ = 0;
        VmTransferEngine* to = s->peer_;
        s->peer_ = nullptr;
        if (to) {
            move(*s, *to);
            ++to->portReceives;
            to->finish();
        }
        ++s->portSends;
        ++s->transfers;
        s->finish();
    });
}

// Each line of each band of the sender goes to the same line and band of the receiver:
// the receiver drops its start count of units at the head of the line and keeps the line
// up to its own stop.
void VmPort::move(VmTransferEngine& sender, VmTransferEngine& receiver)
{
    const VmTransferEngine::Latched& s = sender.latched_;
    const VmTransferEngine::Latched& d = receiver.received_;
    const uint32_t unit = UnitBytes(s.format);
    const uint32_t sendBytes = (s.hStop + 1) * unit;
    const uint32_t skip = d.hStart * UnitBytes(d.format);
    const uint32_t keep = (d.hStop + 1) * UnitBytes(d.format);
    const uint32_t lines = std::min(Lines(s.vStart, s.vStop), Lines(d.vStart, d.vStop));
    const uint32_t bands = std::min(Bands(s.format), Bands(d.format));
    const int64_t sendBand[3] = {0, Signed26(s.band1), Signed26(s.band2)};
    const int64_t receiveBand[3] = {0, Signed26(d.band1), Signed26(d.band2)};
    std::vector<uint8_t> line(sendBytes);
    for (uint32_t j = 0; j < lines; ++j) {
        for (uint32_t b = 0; b < bands; ++b) {
            const int64_t from = static_cast<int64_t>(s.board) + sendBand[b] + j * Signed26(s.boardPitch);
            const uint8_t* run = s.mirror ? nullptr : sender.boardByte(static_cast<uint32_t>(from));
            if (run && sender.boardByte(static_cast<uint32_t>(from + sendBytes - 1)) == run + sendBytes - 1) {
                // The line lies in the memory whole: it goes at once.
                std::memcpy(line.data(), run, sendBytes);
            } else {
                for (uint32_t k = 0; k < sendBytes; ++k) {
                    const uint32_t at = s.mirror ? static_cast<uint32_t>(from - (k / unit) * unit + k % unit)
                                                 : static_cast<uint32_t>(from + k);
                    const uint8_t* p = sender.boardByte(at);
                    if (!p) ++sender.strays;
                    line[k] = p ? *p : 0;
                }
            }
            const int64_t to = static_cast<int64_t>(d.board) + receiveBand[b] + j * Signed26(d.boardPitch);
            const uint32_t end = std::min(keep, sendBytes);
            uint8_t* into = d.mirror || end <= skip ? nullptr : receiver.boardByte(static_cast<uint32_t>(to));
            if (into && receiver.boardByte(static_cast<uint32_t>(to + (end - skip) - 1)) == into + (end - skip) - 1) {
                std::memcpy(into, line.data() + skip, end - skip);
                receiver.portBytes += end - skip;
                receiver.bytes += end - skip;
                continue;
            }
            for (uint32_t k = skip; k < keep && k < sendBytes; ++k) {
                const uint32_t offset = k - skip;
                const uint32_t at = d.mirror ? static_cast<uint32_t>(to - (offset / unit) * unit + offset % unit)
                                             : static_cast<uint32_t>(to + offset);
                uint8_t* p = receiver.boardByte(at);
                if (!p) {
                    ++receiver.strays;
                    continue;
                }
                *p = line[k];
                ++receiver.portBytes;
                ++receiver.bytes;
            }
        }
    }
}

// ---------------------------------------------------------------- facade

namespace {

#define LOCKED SimState& s = SimState::get(); std::lock_guard<boardsim::MachineMutex> guard(s.mutex)

const VmTransferEngine* Engine(SimState& s, int board, bool display)
{
    Board* b = s.m().board(board);
    if (!b) return nullptr;
    OrloChip* orlo = display ? b->displayRegs.get() : b->primaryRegs.get();
    return orlo ? &orlo->transferEngine() : nullptr;
}

} // namespace

bool VmTransferView::receiverArmed() const
{
    LOCKED;
    const VmTransferEngine* e = Engine(s, board, display);
    return e && e->receiverArmed();
}

uint64_t VmTransferView::portSends() const
{
    LOCKED;
    const VmTransferEngine* e = Engine(s, board, display);
    return e ? e->portSends : 0;
}

uint64_t VmTransferView::portReceives() const
{
    LOCKED;
    const VmTransferEngine* e = Engine(s, board, display);
    return e ? e->portReceives : 0;
}

uint64_t VmTransferView::portBytes() const
{
    LOCKED;
    const VmTransferEngine* e = Engine(s, board, display);
    return e ? e->portBytes : 0;
}

} // namespace boardsim
