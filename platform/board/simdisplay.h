// The display chip of a board: its register window, its frame memory with the expansion ROM,
// and the desktop display driver's state (simdisplay.cpp, simrom.cpp).
// Not for library code: the library sees only device.h and hwaccess.h.
#pragma once

#include "boardsim.h"
#include "simchip.h"

#include <cstdint>
#include <memory>
#include <set>

namespace boardsim {

struct Board;

// Frame memory of the display chip; while the chip's function 1 enables its expansion
// ROM at the frame base + 0x200000, the ROM's bytes show there (simrom.cpp).
class FrameChip : public RamChip {
public:
    FrameChip(Board* board, uint32_t size) : RamChip(size), board_(board) {}
    uint32_t read(uint32_t offset, int width) override;

private:
    Board* board_;
};

// Register window of a board's display chip: plain memory for every access, with the
// VGA index/data pairs, the DAC's palette, cursor and indexed registers, its three clock
// PLLs and the vertical-retrace status acting on byte accesses (simdisplay.cpp).
struct DisplayChipState;
class DisplayChip : public RamChip {
public:
    DisplayChip();
    ~DisplayChip() override;
    uint32_t read(uint32_t offset, int width) override;
    void write(uint32_t offset, int width, uint32_t value) override;
    DisplayChipState& state() { return *state_; }

private:
    std::unique_ptr<DisplayChipState> state_;
};

// What the desktop's display driver answers to the private escapes (simdisplay.cpp).
struct DisplayDriverState {
    DisplayDriverSpec spec;
    std::set<uint32_t> contexts;
    uint32_t nextContext = 0x4D00;
};

} // namespace boardsim
