// Bus-master transfers of an Orlo between its board memory and host physical memory, and
// its register-list engine.  A start latches the registers and schedules the end; at the
// end the bytes move, then the list (when armed) programs the next page and starts it, and
// when nothing follows the Orlo raises its transfer-done source.
#include "simvmxfer.h"

#include "boardsim.h"
#include "simgrabengine.h"
#include "simgrablist.h"
#include "simvmport.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace boardsim {

namespace {

constexpr uint32_t kTiming = kOrloVtControl;
constexpr uint32_t kListAddress = kOrloVmListPointer;
constexpr uint32_t kListControl = kOrloVmListControl;
constexpr uint32_t kHostStart = kOrloVmHostStart, kHostPitch = kOrloVmHostPitch, kHostPage = kOrloVmHostPage;
constexpr uint32_t kBoardStart = kOrloVmBoardStart, kBoardPitch = kOrloVmBoardPitch;
constexpr uint32_t kHStart = kOrloVmHStart, kHStop = kOrloVmHStop, kFormat = kOrloVmFormat;
constexpr uint32_t kVStart = kOrloVmVStart, kVStop = kOrloVmLastLine;
constexpr uint32_t kKindSend = kVtKindPciSend, kKindReceive = kVtKindPciReceive, kKindBlit = kVtKindBlit;
constexpr uint32_t kBand1 = kOrloVmBand1, kBand2 = kOrloVmBand2, kOffset = kOrloVmBand3;
constexpr uint32_t kPage = 4096;
constexpr int kDoneSourcePrimary = kXferDoneSourcePrimary;
constexpr int kDoneSourceDisplay = kXferDoneSourceDisplay;

int64_t Signed26(uint32_t value)
{
    value &= 0x3FFFFFF;
    return (value & 0x2000000) ? static_cast<int64_t>(value) - 0x4000000 : static_cast<int64_t>(value);
}

} // namespace

uint32_t VmTransferEngine::reg(uint32_t offset) const
{
    return orlo_->regs_[offset / 4];
}

Board& VmTransferEngine::board() const
{
    return *orlo_->board_;
}

void VmTransferEngine::timingWritten(uint32_t before, uint32_t written)
{
    const uint32_t value = reg(kTiming);
    if (written & 1) {
        // A reset pulse stops a running transfer and its list, and disarms the VM port.
        if (event_) board().clock->cancel(event_);
        if (kickEvent_) board().clock->cancel(kickEvent_);
        event_ = kickEvent_ = 0;
        hung_ = false;
        listRunning_ = kickPending_ = false;
        VmPort::reset(*this);
        return;
    }
    const uint32_t kind = (value >> 8) & 15;
    // A VM port side starts when bit 1 or 2 rises: the second write of a reset pulse that
    // leaves them set keeps the side idle.
    if ((kind == kVtKindVmReceive || kind == kVtKindVmSend) && (value & 6) && !(before & 6) && !busy()) {
        if (kind == kVtKindVmReceive)
            VmPort::arm(*this);
        else
            VmPort::send(*this);
        return;
    }
    if ((kind == kKindSend || kind == kKindReceive || kind == kKindBlit) && (value & 6) && !busy()) start();
}

void VmTransferEngine::listWritten()
{
    const uint32_t value = reg(kListControl);
    if ((value & 3) == 3) {
        listAt_ = reg(kListAddress);
        listRunning_ = false;
    } else if ((value & 3) == 0) {
        listRunning_ = false;
    }
}

void VmTransferEngine::start()
{
    Latched r;
    const uint32_t timing = reg(kTiming);
    r.kind = (timing >> 8) & 15;
    r.mirror = (timing & kVtMirror) != 0;
    r.format = reg(kFormat);
    r.hStart = reg(kHStart) & 0xFFFF;
    r.hStop = reg(kHStop) & 0xFFFF;
    r.vStart = reg(kVStart) & 0xFFFF;
    r.vStop = reg(kVStop) & 0xFFFF;
    r.host = (reg(kHostStart) & 0x7FFFFFF) | ((reg(kHostPage) & 62u) << 26);
    r.hostPitch = reg(kHostPitch) & 0x7FFFFFF;
    r.board = reg(kBoardStart) & 0x3FFFFFF;
    r.boardPitch = reg(kBoardPitch) & 0x3FFFFFF;
    r.band1 = reg(kBand1) & 0x3FFFFFF;
    r.band2 = reg(kBand2) & 0x3FFFFFF;
    r.offset = reg(kOffset) & 0x3FFFFFF;
    latched_ = r;
    if (neverEnds) {
        hung_ = true;
        return;
    }
    scheduleEnd();
}

void VmTransferEngine::releaseHung()
{
    if (!hung_) return;
    hung_ = false;
    scheduleEnd();
}

void VmTransferEngine::scheduleEnd()
{
    const Latched& r = latched_;
    const uint32_t unit = std::min<uint32_t>((r.format & 7) + 1, 4);
    const uint64_t lines = r.vStop >= r.vStart ? r.vStop - r.vStart + 1 : 1;
    const uint64_t total = lines * (r.hStop + 1) * unit;
    const uint64_t nanos = kXferSetupNanos + total * 1000 / kXferBytesPerMicrosecond;
    // A transfer that the list starts at the end of the one before begins when that one
    // ended on the machine's clock, not when the machine's thread came round to the list:
    // a list's pages follow one another at the engine's pace, however late the thread
    // runs on the free-running clock.
    endsAt_ = (ending_ ? endsAt_ : board().clock->nowNanos()) + nanos;
    event_ = board().machine->scheduleEvent(endsAt_,
                                            orlo_->display_ ? "display transfer" : "primary transfer", [this] {
                                                event_ = 0;
                                                end();
                                            });
}

uint8_t* VmTransferEngine::boardByte(uint32_t address)
{
    Board& b = board();
    RamChip* memory = orlo_->display_ ? b.displayMemory.get() : b.primaryMemory.get();
    if (!memory) return nullptr;
    const uint32_t top = orlo_->display_ ? kDisplayMemoryTop : kPrimaryMemoryTop;
    const uint32_t first = top - memory->size();
    const uint32_t a = address & 0x3FFFFFF;
    if (a < first || a >= top) return nullptr;
    return memory->data() + (a - first);
}

uint8_t* VmTransferEngine::boardRun(uint32_t address, uint32_t bytes)
{
    uint8_t* first = boardByte(address);
    if (!first || bytes == 0) return first;
    return boardByte(address + bytes - 1) == first + (bytes - 1) ? first : nullptr;
}

// One line's bytes between a board run and a host run, page by page on the host side.
void VmTransferEngine::move(const Latched& r)
{
    Machine& m = *board().machine;
    const uint32_t unit = std::min<uint32_t>((r.format & 7) + 1, 4);
    const uint32_t lineBytes = (r.hStop + 1) * unit;
    const uint32_t lines = r.vStop >= r.vStart ? r.vStop - r.vStart + 1 : 1;
    const int64_t boardPitch = Signed26(r.boardPitch);
    const bool send = r.kind == kKindSend;
    // Sending: the start word masks the bytes ahead of the line; receiving: it counts the
    // units read from the host ahead of the line, which are not written.
    const uint32_t skip = send ? 0 : std::min(r.hStart * unit, lineBytes);
    for (uint32_t j = 0; j < lines; ++j) {
        const uint32_t hostLine = (r.host & ~3u) + j * r.hostPitch;
        const uint32_t boardLine = static_cast<uint32_t>(static_cast<int64_t>(r.board) + j * boardPitch);
        uint32_t k = skip;
        while (k < lineBytes) {
            const uint32_t hostAt = hostLine + k;
            const uint32_t run = std::min(lineBytes - k, kPage - (hostAt % kPage));
            const bool bad = badPages.count(hostAt & ~(kPage - 1)) != 0;
            uint8_t* host = bad ? nullptr : m.hostOf(hostAt, run);
            // A run that reaches host memory and lies whole in board memory, unmirrored and
            // with no byte masked by the start word, moves at once; anything else (and every
            // run while the machine traces) goes byte by byte, counting drops and strays.
            const bool masked = send && k < 16 && (r.hStart >> k) != 0;
            if (host && !r.mirror && !masked && !m.tracing) {
                uint8_t* b = boardRun(boardLine + (send ? k : k - skip), run);
                if (b) {
                    if (send)
                        std::memcpy(host, b, run);
                    else
                        std::memcpy(b, host, run);
                    bytes += run;
                    k += run;
                    continue;
                }
            }
            for (uint32_t i = 0; i < run; ++i) {
                const uint32_t byte = k + i;
                if (send && byte < 16 && (r.hStart >> byte) & 1) continue;
                const uint32_t boardOffset = send ? byte : byte - skip;
                const uint32_t boardAt =
                    r.mirror ? boardLine - (boardOffset / unit) * unit + boardOffset % unit : boardLine + boardOffset;
                uint8_t* b = boardByte(boardAt);
                if (!host) {
                    ++dropped;
                    continue;
                }
                if (!b) {
                    ++strays;
                    continue;
                }
                if (send)
                    host[i] = *b;
                else
                    *b = host[i];
                ++bytes;
            }
            k += run;
        }
    }
}

// A blit inside the Orlo's own memory: each line of each band read and written at the
// destination offset, kBlitHoldBytes at a time from the line's left end.  A strip no wider
// than that is held whole, so it may overlap its own destination.
void VmTransferEngine::blit(const Latched& r)
{
    const uint32_t unit = std::min<uint32_t>((r.format & 7) + 1, 4);
    const uint32_t bands = unit == 1 ? ((r.format >> 4) & 3) + 1 : 1;
    const uint32_t lineBytes = (r.hStop + 1) * unit;
    const uint32_t lines = r.vStop >= r.vStart ? r.vStop - r.vStart + 1 : 1;
    const int64_t pitch = Signed26(r.boardPitch);
    const int64_t offset = Signed26(r.offset);
    const int64_t bandOffsets[3] = {0, Signed26(r.band1), Signed26(r.band2)};
    uint8_t held[kBlitHoldBytes];
    for (uint32_t b = 0; b < bands && b < 3; ++b) {
        for (uint32_t j = 0; j < lines; ++j) {
            const int64_t line = static_cast<int64_t>(r.board) + bandOffsets[b] + j * pitch;
            for (uint32_t k = 0; k < lineBytes; k += kBlitHoldBytes) {
                const uint32_t run = std::min(kBlitHoldBytes, lineBytes - k);
                const uint32_t fromAt = static_cast<uint32_t>(line + k);
                const uint32_t toAt = static_cast<uint32_t>(line + offset + k);
                uint8_t* fromRun = boardByte(fromAt);
                uint8_t* toRun = boardByte(toAt);
                if (fromRun && toRun && boardByte(fromAt + run - 1) == fromRun + run - 1 &&
                    boardByte(toAt + run - 1) == toRun + run - 1) {
                    // Both runs lie in the memory: the held bytes go at once.
                    std::memcpy(held, fromRun, run);
                    std::memcpy(toRun, held, run);
                    bytes += run;
                    continue;
                }
                for (uint32_t i = 0; i < run; ++i) {
                    const uint8_t* from = boardByte(static_cast<uint32_t>(line + k + i));
                    held[i] = from ? *from : 0;
                    if (!from) ++strays;
                }
                for (uint32_t i = 0; i < run; ++i) {
                    uint8_t* to = boardByte(static_cast<uint32_t>(line + offset + k + i));
                    if (!to) {
                        ++strays;
                        continue;
                    }
                    *to = held[i];
                    ++bytes;
                }
            }
        }
    }
}

void VmTransferEngine::end()
{
    if (latched_.kind == kKindBlit)
        blit(latched_);
    else
        move(latched_);
    ++transfers;
    if ((reg(kListControl) & 3) == 3) {
        ending_ = true;
        runList();
        ending_ = false;
    } else if (!listRunning_) {
        finish();
    }
}

// Plays the list from where it stands: each entry writes one register; an entry that
// re-arms the list while a transfer runs waits for that transfer's end; {0, 0x2068} ends it.
void VmTransferEngine::runList()
{
    listRunning_ = true;
    for (uint32_t n = 0; n < kXferListLimit; ++n) {
        // Lists in host memory (the kernel service's map) or in the Orlo's board memory.
        uint32_t value = 0, target = 0;
        if (!ReadListEntry(board(), orlo_->display_, listAt_, &value, &target)) {
            ++strays;
            break;
        }
        listAt_ += 8;
        ++listEntries;
        // Register 255 ends a list as {0, 0x2068} does.
        if (target == kListEndRegister) {
            listEnded();
            return;
        }
        const uint32_t offset = target & (kOrloRegisterSize - 1) & ~3u;
        if (offset == kListControl) {
            orlo_->regs_[kListControl / 4] = value;
            if ((value & 3) == 0) {
                listEnded();
                return;
            }
            if (busy()) return;   // resumed at the end of the running transfer
            continue;
        }
        orlo_->write(offset, 4, value);
    }
    // A list without its end: the engine stops it.
    listEnded();
}

void VmTransferEngine::listEnded()
{
    listRunning_ = false;
    orlo_->regs_[kListControl / 4] = 0;
    if (!busy()) finish();
    if (kickPending_) {
        kickPending_ = false;
        scheduleKick(kickAt_);
    }
}

void VmTransferEngine::listKicked()
{
    const uint32_t at = reg(kListAddress);
    if (busy() || listRunning_ || kickEvent_) {
        kickPending_ = true;
        kickAt_ = at;
        return;
    }
    scheduleKick(at);
}

void VmTransferEngine::scheduleKick(uint32_t at)
{
    orlo_->regs_[kListControl / 4] |= 3;
    kickEvent_ = board().machine->scheduleEvent(board().clock->nowNanos(),
                                                orlo_->display_ ? "display transfer list" : "primary transfer list",
                                                [this, at] {
                                                    kickEvent_ = 0;
                                                    listAt_ = at;
                                                    runList();
                                                    orlo_->grabEngine().copyBegun();
                                                });
}

void VmTransferEngine::finish()
{
    orlo_->regs_[kListControl / 4] = 0;
    board().machine->deliverSource(board().index, orlo_->display_ ? kDoneSourceDisplay : kDoneSourcePrimary);
}

// ---------------------------------------------------------------- the Orlo's side

void VmTransferEngineDelete::operator()(VmTransferEngine* engine) const
{
    delete engine;
}

VmTransferEngine& OrloChip::transferEngine()
{
    if (!transferEngine_) transferEngine_.reset(new VmTransferEngine(this));
    return *transferEngine_;
}

// ---------------------------------------------------------------- facade

namespace {

#define LOCKED SimState& s = SimState::get(); std::lock_guard<boardsim::MachineMutex> guard(s.mutex)

VmTransferEngine* Engine(SimState& s, int board, bool display)
{
    Board* b = s.m().board(board);
    if (!b) return nullptr;
    OrloChip* orlo = display ? b->displayRegs.get() : b->primaryRegs.get();
    return orlo ? &orlo->transferEngine() : nullptr;
}

} // namespace

void VmTransferView::setNeverEnds(bool on) const
{
    LOCKED;
    VmTransferEngine* e = Engine(s, board, display);
    if (!e) return;
    e->neverEnds = on;
    if (!on) e->releaseHung();
}

void VmTransferView::setBadPage(uint32_t physical, bool bad) const
{
    LOCKED;
    VmTransferEngine* e = Engine(s, board, display);
    if (!e) return;
    if (bad)
        e->badPages.insert(physical & ~(kPage - 1));
    else
        e->badPages.erase(physical & ~(kPage - 1));
}

uint64_t VmTransferView::transfers() const
{
    LOCKED;
    VmTransferEngine* e = Engine(s, board, display);
    return e ? e->transfers : 0;
}

uint64_t VmTransferView::bytesMoved() const
{
    LOCKED;
    VmTransferEngine* e = Engine(s, board, display);
    return e ? e->bytes : 0;
}

uint64_t VmTransferView::droppedBytes() const
{
    LOCKED;
    VmTransferEngine* e = Engine(s, board, display);
    return e ? e->dropped : 0;
}

uint64_t VmTransferView::listEntries() const
{
    LOCKED;
    VmTransferEngine* e = Engine(s, board, display);
    return e ? e->listEntries : 0;
}

uint64_t VmTransferView::strayBytes() const
{
    LOCKED;
    VmTransferEngine* e = Engine(s, board, display);
    return e ? e->strays : 0;
}

bool VmTransferView::busy() const
{
    LOCKED;
    VmTransferEngine* e = Engine(s, board, display);
    return e && e->busy();
}

} // namespace boardsim
