// The Orlo's grab-list engine on the machine's clock (see simgrablist.h and GrabListView).
//
// A run plays entries one after the other from the position register 0x2008 until the
// list ends, stops or waits; each entry writes its register as a write of the library
// would (so a grab control entry arms the grab engine, a timing control entry starts a
// transfer), except the list's own registers, which steer the run: 0x2008 moves the
// position, 0x2010 waits or ends, and 0x2068 hands a list to the VM list engine.
#include "simgrablist.h"

#include "boardsim.h"
#include "simgrabengine.h"
#include "simkvx.h"
#include "simvmxfer.h"

#include <cstring>
#include <mutex>
#include <string>

namespace boardsim {

bool ReadListEntry(Board& board, bool display, uint32_t address, uint32_t* value, uint32_t* target)
{
    PciFunction* f = display ? board.display : board.primary;
    const uint32_t bar = f ? f->barBase(0) & kOrloBarAlign : 0;
    const bool local = (address & ~kGrabAddressMask) == 0 || (bar && (address & kOrloBarAlign) == bar);
    const uint8_t* entry = nullptr;
    if (local) {
        RamChip* memory = display ? board.displayMemory.get() : board.primaryMemory.get();
        const uint32_t top = display ? kDisplayMemoryTop : kPrimaryMemoryTop;
        const uint32_t a = address & kGrabAddressMask;
        if (!memory || a < top - memory->size() || a > top - 8) return false;
        entry = memory->data() + (a - (top - memory->size()));
    } else {
        entry = board.machine->hostOf(address, 8);
        if (!entry) return false;
    }
    std::memcpy(value, entry, 4);
    std::memcpy(target, entry + 4, 4);
    return true;
}

Board& GrabListEngine::board() const
{
    return *orlo_->board_;
}

// The second-family module that feeds this Orlo (either Orlo of its board), or null.
KvxModuleChip* GrabListEngine::kvxSource() const
{
    return board().kvx;
}

// A wait of a second-family list: with bit 23 of the Orlo control word set it lasts until
// the module holds a block, else until the armed transfer has started (interrupt bit 12).
bool GrabListEngine::kvxWaitOver(const KvxModuleChip* kvx) const
{
    if (orlo_->regs_[kOrloControl / 4] & kKvxWaitForBlock) return kvx->holdsBlock();
    return (orlo_->interrupts_ & kInterruptGrabStart) != 0;
}

void GrabListEngine::controlWritten()
{
    const uint32_t control = orlo_->regs_[kOrloGrabListControl / 4];
    if (!(control & 1)) {
        if (running_) {
            stop();
            // A second-family module keeps the grab engine running on its own pace.
            if (!kvxSource()) orlo_->grabEngine().listHalted();
        }
        orlo_->regs_[kOrloGrabListControl / 4] = 0;
        return;
    }
    if (running_) return;   // already running: the control keeps the value written
    if (latched_) orlo_->regs_[kOrloGrabListPointer / 4] = latchedAddress_;
    latched_ = false;
    running_ = true;
    waiting_ = false;
    ++lists;
    schedule();
}

void GrabListEngine::addressWritten(uint32_t before)
{
    uint32_t& position = orlo_->regs_[kOrloGrabListPointer / 4];
    latched_ = running_;
    if (!running_) return;
    latchedAddress_ = position;
    position = before;
}

void GrabListEngine::grabEvent()
{
    if (!running_ || !waiting_) return;
    if (KvxModuleChip* kvx = kvxSource(); kvx && !kvxWaitOver(kvx)) return;
    waiting_ = false;
    schedule();
}

void GrabListEngine::schedule()
{
    if (event_) return;
    const std::string name = std::string(orlo_->display_ ? "display" : "primary") + " grab list board " +
                             std::to_string(board().index);
    event_ = board().machine->scheduleEvent(board().clock->nowNanos(), name, [this] {
        event_ = 0;
        play();
    });
}

void GrabListEngine::stop()
{
    if (event_) board().clock->cancel(event_);
    event_ = 0;
    running_ = false;
    waiting_ = false;
    orlo_->regs_[kOrloGrabListControl / 4] = 0;
    orlo_->grabEngine().listStopped();
}

void GrabListEngine::play()
{
    if (!running_ || waiting_) return;
    Machine& m = *board().machine;
    for (uint32_t n = 0; n < kGrabListLimit; ++n) {
        uint32_t& position = orlo_->regs_[kOrloGrabListPointer / 4];
        uint32_t value = 0, target = 0;
        if (!ReadListEntry(board(), orlo_->display_, position, &value, &target)) {
            // Nothing answers at the list address: a stray bus access, and the list stops.
            ++strays;
            ++m.strays;
            m.chipAccess(HwOp::Read, static_cast<uint8_t>(board().index), HwArea::Stray, nullptr, position, 4, 0, false);
            stop();
            return;
        }
        position += 8;
        ++entries;
        if (target == kListEndRegister) {
            stop();
            return;
        }
        if (!writeTarget(target, value)) {
            ++strays;
            ++m.strays;
            m.chipAccess(HwOp::Write, static_cast<uint8_t>(board().index), HwArea::Stray, nullptr, target, 4, value,
                         false);
            continue;
        }
        if (!running_) return;          // the entry stopped the list
        if (waiting_) return;           // resumed by the grab engine's next bit
    }
    // A list that neither waits nor ends: the engine gives up on it.
    stop();
}

// Writes one entry's register; false when the target is no register of this Orlo.
bool GrabListEngine::writeTarget(uint32_t target, uint32_t value)
{
    Board& b = board();
    RamChip* port = orlo_->display_ ? b.displayPort.get() : b.primaryPort.get();
    uint32_t offset = 0;
    bool inPort = false;
    // The library's own address of a register (its window on the register block or the
    // port), as the entries of its circular lists carry it.
    Machine& m = *b.machine;
    auto it = m.windows.upper_bound(target);
    bool found = false;
    if (it != m.windows.begin()) {
        --it;
        const Window& w = it->second;
        if (target - w.base < w.size && w.board == b.index && (w.chip == orlo_ || (port && w.chip == port))) {
            offset = w.chipOffset + (target - w.base);
            inPort = w.chip != orlo_;
            found = true;
        }
    }
    if (!found) {
        const uint32_t r = target & kListCommandMask;
        if ((target & ~kListCommandMask & ~kListCommandBit) != 0) return false;
        if (r < kOrloRegisterSize) {
            offset = r;
        } else if (r >= kListPortBase && r - kListPortBase < kOrloPortSize) {
            offset = r - kListPortBase;
            inPort = true;
        } else {
            return false;
        }
    }
    if (inPort) {
        if (!port) return false;
        port->write(offset & ~3u, 4, value);
        return true;
    }
    offset &= ~3u;
    switch (offset) {
    case kOrloGrabListPointer:
        orlo_->regs_[offset / 4] = value;   // the run goes on at that address
        return true;
    case kOrloGrabListControl:
        if (value == 0) {
            stop();
        } else if ((value & 3) == 3) {
            // Between steps: wait until the grab engine has written the window's last line.
            orlo_->regs_[offset / 4] = value;
            ++waits;
            if (KvxModuleChip* kvx = kvxSource()) {
                waiting_ = !kvxWaitOver(kvx);
                return true;
            }
            waiting_ = true;
            orlo_->grabEngine().listWaits();
        } else {
            orlo_->regs_[offset / 4] = value | 1;
        }
        return true;
    case kOrloVmListControl:
        if ((value & 3) == 3) {
            orlo_->transferEngine().listKicked();
            return true;
        }
        break;
    default:
        break;
    }
    orlo_->write(offset, 4, value);
    return true;
}

// ---------------------------------------------------------------- the Orlo's side

void GrabListEngineDelete::operator()(GrabListEngine* engine) const
{
    delete engine;
}

GrabListEngine& OrloChip::grabList()
{
    if (!grabList_) grabList_.reset(new GrabListEngine(this));
    return *grabList_;
}

} // namespace boardsim

// ---------------------------------------------------------------- facade

namespace boardsim {

namespace {

#define LOCKED SimState& s = SimState::get(); std::lock_guard<boardsim::MachineMutex> guard(s.mutex)

GrabListEngine* Engine(SimState& s, int board, bool display)
{
    Board* b = s.m().board(board);
    if (!b) return nullptr;
    OrloChip* orlo = display ? b->displayRegs.get() : b->primaryRegs.get();
    return orlo ? &orlo->grabList() : nullptr;
}

} // namespace

bool GrabListView::running() const
{
    LOCKED;
    GrabListEngine* e = Engine(s, board, display);
    return e && e->running();
}

bool GrabListView::waiting() const
{
    LOCKED;
    GrabListEngine* e = Engine(s, board, display);
    return e && e->waiting();
}

#define LIST_COUNT(name, member)                                                                                       \
    uint64_t GrabListView::name() const                                                                                \
    {                                                                                                                  \
        LOCKED;                                                                                                        \
        GrabListEngine* e = Engine(s, board, display);                                                                 \
        return e ? e->member : 0;                                                                                      \
    }
LIST_COUNT(listsStarted, lists)
LIST_COUNT(entriesPlayed, entries)
LIST_COUNT(waits, waits)
LIST_COUNT(strays, strays)
#undef LIST_COUNT

} // namespace boardsim
