// The grab-list engine of one Orlo: plays register lists from the list address 0x2008
// while the list control 0x2010 runs, pausing where a list asks it to wait for the grab
// engine.  What the registers mean is told at GrabListView (boardsim.h).
//
// A register write only records and schedules: the Orlo calls addressWritten() and
// controlWritten() after the library writes 0x2008 or 0x2010, and the grab engine calls
// grabEvent() when it sets its start or end bit; the list itself plays in events of the
// machine's clock.  Guarded by SimState::mutex like the rest of the machine.
#pragma once

#include "simcore.h"

#include <cstdint>

namespace boardsim {

// Entries one run plays before it gives up on a list that never waits or ends.
constexpr uint32_t kGrabListLimit = 1u << 20;
// Bit of the Orlo control word (0x2020) that makes a second-family list wait for a block of
// the module rather than for the start of the armed transfer.
constexpr uint32_t kKvxWaitForBlock = 0x800000;

// Reads the list entry {value, target} at a bus address as an Orlo's list engines do: a
// PCI address of the Orlo's own board memory (the low 26 bits, when the bits above are
// clear or name the Orlo's memory window), else host memory through the kernel service's
// map.  False when nothing answers there.
bool ReadListEntry(Board& board, bool display, uint32_t address, uint32_t* value, uint32_t* target);

class GrabListEngine {
public:
    explicit GrabListEngine(OrloChip* orlo) : orlo_(orlo) {}
    GrabListEngine(const GrabListEngine&) = delete;
    GrabListEngine& operator=(const GrabListEngine&) = delete;

    void controlWritten();
    // The library wrote the list address (the value before the write given): an engine that
    // runs keeps its place and starts at the address written when it is next started.
    void addressWritten(uint32_t before);
    // The grab engine set interrupt bit 12 or 13: a list waiting for it goes on.
    void grabEvent();

    bool running() const { return running_; }
    bool waiting() const { return waiting_; }
    uint64_t entries = 0, lists = 0, waits = 0, strays = 0;

private:
    Board& board() const;
    KvxModuleChip* kvxSource() const;
    bool kvxWaitOver(const KvxModuleChip* kvx) const;
    void schedule();
    void play();
    void stop();
    bool readEntry(uint32_t address, uint32_t* value, uint32_t* target);
    bool writeTarget(uint32_t target, uint32_t value);

    OrloChip* orlo_;
    bool running_ = false;
    bool waiting_ = false;       // paused on {3, 0x2010} until the grab engine's next bit
    bool latched_ = false;       // an address written while running waits for the next start
    uint32_t latchedAddress_ = 0;
    uint64_t event_ = 0;         // the scheduled run, 0 none
};

} // namespace boardsim
