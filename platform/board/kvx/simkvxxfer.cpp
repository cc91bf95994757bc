// The second-family module as the video source of the board's Orlos: the transfers an
// Orlo's grab control arms, the status line with the dispatch words that steer its list
// engine, and the blocks written through its window and frame registers into its own board
// memory (see simkvx.h).  One code path serves both Orlos, told apart by their feed.
//
// The lists of a grab run, per block: wait until the module holds a block; arm; wait for
// the transfer's start; then the registers of the block the list is at.  A transfer thus
// takes the registers the list set before it arms: the idle grab set for the status line,
// a block's registers for that block.  Everything happens in events of the machine's
// clock, never inside a register write.
#include "simkvx.h"

#include "simgrablist.h"
#include "simorlo.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace boardsim {

using namespace kvxregs;

namespace {

constexpr uint32_t kControlStop = 0x1;          // Orlo grab control: stop wins
constexpr uint32_t kControlArm = 0x6;           // continuous or single: a release arms
constexpr uint32_t kTransferBits = kInterruptGrabStart | kInterruptGrabEnd;

// The 26-bit signed line pitch of the Orlo's registers.
int32_t Pitch(uint32_t value)
{
    return static_cast<int32_t>(value << 6) >> 6;
}

} // namespace

OrloChip* KvxModuleChip::orloOf(int feed) const
{
    return feed == 0 ? board_->primaryRegs.get() : board_->displayRegs.get();
}

int KvxModuleChip::feedOf(const OrloChip* orlo) const
{
    return orlo && orlo == board_->displayRegs.get() ? 1 : 0;
}

// The Orlo's idle grab set, which takes the module's status line rather than a block.
bool KvxModuleChip::onIdleSet(int feed) const
{
    const OrloChip* orlo = orloOf(feed);
    return orlo && orlo->peek(kOrloGLPITCH) == kIdleLinePitch && orlo->peek(kOrloGC1FOFF) == kIdlePlaneOffset;
}

void KvxModuleChip::orloGrabControl(OrloChip* orlo, uint32_t before)
{
    if (!orlo) return;
    OrloFeed& f = feeds_[feedOf(orlo)];
    const uint32_t control = orlo->peek(kOrloGrabControl);
    if (control & kControlStop) {
        f.armed = false;
        if (f.event && board_->clock) board_->clock->cancel(f.event);
        f.event = 0;
        return;
    }
    if (!(before & kControlStop) || !(control & kControlArm) || f.armed) return;
    f.armed = true;
    orlo->interrupts_ &= ~kTransferBits;
    scheduleTransfer(feedOf(orlo));
}

void KvxModuleChip::scheduleTransfer(int feed)
{
    OrloFeed& f = feeds_[feed];
    if (f.event || !f.armed || held_.empty() || !board_->machine) return;
    const std::string name = std::string(feed ? "kvx display transfer board " : "kvx transfer board ") +
                             std::to_string(board_->index);
    f.event = board_->machine->scheduleEvent(now(), name, [this, feed] {
        feeds_[feed].event = 0;
        transfer(feed);
    });
}

// A block held: every armed Orlo may start its transfer, and every list waiting for a
// block goes on.
void KvxModuleChip::scheduleTransfers()
{
    for (int feed = 0; feed < 2; ++feed) {
        OrloChip* orlo = orloOf(feed);
        if (!orlo) continue;
        scheduleTransfer(feed);
        orlo->grabList().grabEvent();
    }
}

void KvxModuleChip::transfer(int feed)
{
    OrloChip* orlo = orloOf(feed);
    OrloFeed& f = feeds_[feed];
    // Another Orlo may have taken the last block held in the meantime: the transfer waits.
    if (!orlo || !f.armed || held_.empty()) return;
    f.armed = false;
    lastFeed_ = feed;
    if (onIdleSet(feed)) {
        sendStatusLine(feed, (orlo->peek(kOrloGFSTART) & kGrabAddressMask) - 2);
    } else {
        const KvxHeldBlock block = std::move(held_.front());
        held_.pop_front();
        sendBlock(feed, block);
        if (block.last) {
            reportChannel_ = static_cast<int>(block.channel);
            writeStatusWord(feed, kStatusDmaDispatch, frameDispatch());
        }
    }
    orlo->interrupts_ |= kTransferBits;
    orlo->grabList().grabEvent();
}

// The status line lands at the idle set's frame start less 2: its words at + 256 and
// + 520 are the dispatch words, its field counts at + 0x128 + 0x20 c.
void KvxModuleChip::sendStatusLine(int feed, uint32_t status)
{
    ++statusLines;
    feeds_[feed].statusBlock = status;
    const KvxHeldBlock& next = held_.front();
    const uint16_t base = static_cast<uint16_t>(regs_[BTC_GDUMID / 8] - kDummyInHalf);
    writeStatusWord(feed, kStatusGrabDispatch, static_cast<uint16_t>(base + kMapStride * next.channel + 8 * next.block));
    writeStatusWord(feed, kStatusDmaDispatch, frameDispatch());
    for (uint32_t c = 0; c < kChannels; ++c)
        writeStatusWord(feed, kStatusFieldCount + kStatusChannelStride * c,
                        static_cast<uint16_t>((grab[c].fields[feed] & 1) << 3));
}

// The end-of-frame dispatch: entry c of channel c's end-of-frame map while the lists owe
// the frame end of channel c, else the dummy target.
uint16_t KvxModuleChip::frameDispatch() const
{
    const uint16_t dummy = regs_[BTC_DDUMID / 8];
    if (reportChannel_ < 0) return dummy;
    const uint32_t c = static_cast<uint32_t>(reportChannel_);
    return static_cast<uint16_t>(dummy - kDummyInHalf + kMapStride * c + 8 * c);
}

void KvxModuleChip::frameReportTaken()
{
    reportChannel_ = -1;
    writeStatusWord(lastFeed_, kStatusDmaDispatch, frameDispatch());
}

void KvxModuleChip::writeStatusWord(int feed, uint32_t offset, uint16_t value)
{
    const uint32_t block = feeds_[feed].statusBlock;
    if (!block) return;
    uint8_t* at = memoryAt(feed, block + offset, 2);
    if (!at) {
        ++transferStrays;
        return;
    }
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

// Line k of a block is window line (k << i) + i of the block (i = 1 for a field), taken
// from GVWSTART to GVWSTOP every (GVSCLNG & 15) + 1 lines; its pixels GHWSTART to GHWSTOP
// every (GHSCLNG & 15) + 1, of GPIXFMT's bytes each, go to GFSTART + row x GLPITCH.
void KvxModuleChip::sendBlock(int feed, const KvxHeldBlock& b)
{
    ++blocksTaken;
    const OrloChip* orlo = orloOf(feed);
    const uint32_t i = b.interlaced ? 1 : 0;
    const uint32_t vstart = orlo->peek(kOrloGVWSTART) & 0xFFFF;
    const uint32_t vstop = orlo->peek(kOrloGVWSTOP) & 0xFFFF;
    const uint32_t vdec = (orlo->peek(kOrloGVSCLNG) & 15) + 1;
    const uint32_t hstart = orlo->peek(kOrloGHWSTART) & 0xFFFF;
    const uint32_t hstop = orlo->peek(kOrloGHWSTOP) & 0xFFFF;
    const uint32_t hdec = (orlo->peek(kOrloGHSCLNG) & 15) + 1;
    const uint32_t bytes = (orlo->peek(kOrloGPIXFMT) & kPixFmtBytesMask) + 1;
    const uint32_t frameStart = orlo->peek(kOrloGFSTART) & kGrabAddressMask;
    const int32_t pitch = Pitch(orlo->peek(kOrloGLPITCH));
    if (hstop < hstart) return;
    const uint32_t pixels = (hstop - hstart) / hdec + 1;
    std::vector<uint8_t> line(static_cast<size_t>(pixels) * bytes);
    for (uint32_t k = 0; k < b.lines; ++k) {
        const uint32_t v = (k << i) + i;
        if (v < vstart || v > vstop) continue;
        const uint32_t r = (v - vstart) >> i;
        if (r % vdec != 0) continue;
        const uint8_t* in = b.data.data() + static_cast<size_t>(k) * b.lineBytes;
        for (uint32_t p = 0; p < pixels; ++p) {
            const uint32_t x = (hstart + p * hdec) * bytes;
            for (uint32_t byte = 0; byte < bytes; ++byte)
                line[static_cast<size_t>(p) * bytes + byte] = x + byte < b.lineBytes ? in[x + byte] : 0;
        }
        const uint32_t address = static_cast<uint32_t>(frameStart + static_cast<int64_t>(r / vdec) * pitch);
        uint8_t* out = memoryAt(feed, address, static_cast<uint32_t>(line.size()));
        if (!out) {
            transferStrays += line.size();
            continue;
        }
        std::memcpy(out, line.data(), line.size());
    }
}

// Bytes at a bus address as the Orlo writes them: its own board memory (the low 26 bits,
// when the bits above are clear or name its memory window), else host memory through the
// kernel service's map; null when nothing answers for all of them.
uint8_t* KvxModuleChip::memoryAt(int feed, uint32_t address, uint32_t bytes)
{
    PciFunction* f = feed ? board_->display : board_->primary;
    const uint32_t bar = f ? f->barBase(0) & kOrloBarAlign : 0;
    const bool local = (address & ~kGrabAddressMask) == 0 || (bar && (address & kOrloBarAlign) == bar);
    if (!local) return board_->machine ? board_->machine->hostOf(address, bytes) : nullptr;
    RamChip* memory = feed ? board_->displayMemory.get() : board_->primaryMemory.get();
    if (!memory) return nullptr;
    const uint32_t top = feed ? kDisplayMemoryTop : kPrimaryMemoryTop;
    const uint32_t a = address & kGrabAddressMask;
    const uint32_t first = top - static_cast<uint32_t>(memory->size());
    if (a < first || a + static_cast<uint64_t>(bytes) > top) return nullptr;
    return memory->data() + (a - first);
}

} // namespace boardsim
