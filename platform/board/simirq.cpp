// Interrupt generation: the board raises a source, the driver turns it into an interrupt
// word and completes the node's pended interrupt-word wait with it.
#include "boardsim.h"
#include "simcore.h"

#include <map>
#include <utility>

namespace boardsim {

namespace {

// Words not delivered because the node had no enabled source, per board of the current
// machine (the key holds the topology generation, so configure() starts from 0).
std::map<std::pair<uint32_t, int>, uint32_t>& Dropped()
{
    static auto* dropped = new std::map<std::pair<uint32_t, int>, uint32_t>;
    return *dropped;
}

bool Deliver(int board, uint32_t word)
{
    SimState& s = SimState::get();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    if (board < 0 || board >= static_cast<int>(s.boards.size())) return false;
    Board& b = *s.boards[board];
    if (b.enabledSources.empty()) {
        ++Dropped()[{s.generation, board}];
        return false;
    }
    b.interruptWords.push_back(word);
    s.completeInterruptWaits(board);
    return true;
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
    auto it = Dropped().find({s.generation, board});
    return it == Dropped().end() ? 0 : it->second;
}

} // namespace boardsim
