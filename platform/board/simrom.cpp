// The display chip's expansion ROM: visible in the frame window while function 1 of the
// chip enables it at the frame base + 0x200000, holding a board information record.
#include "boardsim.h"
#include "simcore.h"

#include <cstdio>
#include <cstring>

namespace boardsim {

namespace {

constexpr uint32_t kInfoOffset = 0x100;     // the record inside the ROM

void Put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// One byte of the ROM image of a board.
uint8_t RomByte(const Board& b, uint32_t at)
{
    if (!b.spec.romPcbId) return 0xFF;
    uint8_t image[kInfoOffset + 64] = {};
    Put16(image, kChipRomSignature);
    uint8_t* info = image + kInfoOffset;
    Put16(info + 0, 64);
    Put16(info + 2, 0x0100);
    char serial[11];
    std::snprintf(serial, sizeof serial, "SIM%07d", b.index);
    std::memcpy(info + 4, serial, 10);
    Put16(info + 14, static_cast<uint16_t>(((2001 - 1900) << 9) | (6 << 5) | 15));   // 15 June 2001
    Put16(info + 16, 2);                                                          // revision B
    Put16(info + 18, b.spec.romPcbId);
    info[20] = b.spec.romOptions;
    Put16(info + 56, 0x5A5A);
    if (at == kChipRomInfoPointer) return static_cast<uint8_t>(kInfoOffset);
    if (at == kChipRomInfoPointer + 1) return static_cast<uint8_t>(kInfoOffset >> 8);
    return at < sizeof image ? image[at] : 0xFF;
}

} // namespace

uint32_t FrameChip::read(uint32_t offset, int width)
{
    const Board& b = *board_;
    const PciFunction* f = b.chipFunction1;
    if (f && offset >= kChipRomOffset) {
        const uint32_t rom = f->read32(0x30);
        const uint32_t frame = f->read32(0x14) & ~15u;
        if ((rom & 1) && (rom & ~0x7FFu) == frame + kChipRomOffset && offset - kChipRomOffset < kChipRomSize) {
            uint32_t v = 0;
            for (int i = width - 1; i >= 0; --i) v = (v << 8) | RomByte(b, offset - kChipRomOffset + i);
            return v;
        }
    }
    return RamChip::read(offset, width);
}

} // namespace boardsim
