// Interrupt generation: the board raises a source, the driver turns it into an interrupt
// word and completes the node's pended interrupt-word wait with it.
#include "boardsim.h"
#include "simcore.h"


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

namespace {

bool Deliver(int board, uint32_t word)
{
    SimState& s = SimState::get();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
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

uint32_t BoardSim::droppedInterrupts(int board) const
{
    SimState& s = SimState::get();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    const Board* b = s.m().board(board);
    return b ? b->droppedInterrupts : 0;
}

} // namespace boardsim
