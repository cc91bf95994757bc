// Interrupt generation: the board raises a source, the driver turns it into an interrupt
// word and completes the node's pended interrupt-word wait with it.
#include "boardsim.h"
#include "simcore.h"

#include <string>
#include <utility>

namespace boardsim {

bool Machine::deliverInterrupt(int index, uint32_t word)
{
    Board* b = board(index);
    if (!b) return false;
    if (b->enabledSources.empty()) {
        ++b->droppedInterrupts;
        return false;
    }
    b->interruptWords.push_back(word);
    completeInterruptWaits(index);
    return true;
}

bool Machine::deliverSource(int index, uint32_t source)
{
    Board* b = board(index);
    if (!b || source < 32 || source > 95 || source % 32 >= 22) return false;
    if (b->enabledSources.empty()) {
        ++b->droppedInterrupts;
        return false;
    }
    const uint32_t word = ((source / 32) << 22) | (1u << (source % 32));
    // Both words reach the same wait, in this order, before anything else is queued.
    b->interruptWords.push_back(0x80000000u | word);
    b->interruptWords.push_back(word);
    completeInterruptWaits(index);
    return true;
}

uint64_t Machine::scheduleEvent(uint64_t at, const char* name, std::function<void()> action, EventScope scope)
{
    const uint64_t sequence = clock->schedule(at, name, std::move(action), scope);
    clock->startThread(sim.mutex);
    return sequence;
}

namespace {

bool Deliver(int board, uint32_t word)
{
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> guard(s.mutex);
    return s.m().deliverInterrupt(board, word);
}

} // namespace

bool BoardSim::raiseInterrupt(int board, uint32_t source)
{
    // A word carries 22 source bits per group of 32.
    if (source < 32 || source > 95 || source % 32 >= 22) return false;
    return Deliver(board, ((source / 32) << 22) | (1u << (source % 32)));
}

bool BoardSim::raiseSpecial(int board, uint32_t group, uint32_t bits)
{
    if (group > 0x1FF || bits == 0 || bits > 0x3FFFFF) return false;
    return Deliver(board, 0x80000000u | (group << 22) | bits);
}

bool BoardSim::raiseSource(int board, uint32_t source)
{
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> guard(s.mutex);
    return s.m().deliverSource(board, source);
}

uint32_t BoardSim::droppedInterrupts(int board) const
{
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> guard(s.mutex);
    const Board* b = s.m().board(board);
    return b ? b->droppedInterrupts : 0;
}

} // namespace boardsim
