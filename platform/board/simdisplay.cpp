// The display chip behind its register window and the desktop's display driver.
//
// Every access is plain memory, so any register reads back what was written.  Byte
// accesses at the VGA and DAC ports also act as the chip does:
//  - 0x1FC2 miscellaneous output write, 0x1FCC its read; 0x1FCA feature control read,
//    written at input status 1 (0x1FDA colour, 0x1FBA monochrome by miscellaneous bit 0);
//  - index/data pairs: sequencer 0x1FC4, graphics 0x1FCE, CRTC extension 0x1FDE, CRTC
//    at 0x1FD4 (colour) or 0x1FB4 (monochrome); CRTC 0x11 bit 7 protects CRTC 0-7;
//  - attribute 0x1FC0 with its index/data flip-flop, reset by reading input status 1,
//    data read at 0x1FC1;
//  - 0x1E14 status: bit 3 (vertical retrace) alternates on every read, set first;
//  - DAC at 0x3C00 + r: 0 palette write address (also the index of the indexed
//    registers), 1 palette data, 3 palette read address, 4 / 5 / 7 cursor colour
//    write address, data and read address, 0x0A indexed data, 0x0B cursor RAM data
//    (address bits 8-9 from indexed register 6 bits 2-3);
//  - the cursor RAM address counts on through its bits 8-9 (indexed register 6 bits 2-3)
//    after the low byte wraps, so 1024 bytes written from address 0 fill the whole RAM;
//  - indexed 0x2C PLL address (pixel pointer bits 0-1, memory 2-3, loop 4-5) and
//    0x2D / 0x2E / 0x2F PLL data: sub-addresses N, M, P in turn, 3 the status with bit 6
//    set while the PLL is enabled (P bit 7) and allowed to lock.
#include "displaydriver.h"
#include "simcore.h"

#include <cstring>

namespace boardsim {

struct DisplayChipState {
    uint8_t sequencer[256] = {};
    uint8_t crtc[256] = {};
    uint8_t graphics[256] = {};
    uint8_t attribute[32] = {};
    uint8_t crtcExt[256] = {};
    uint8_t misc = 0;
    uint8_t feature = 0;
    bool attributeData = false;   // flip-flop: next write to VGA_ATTRIBUTE is data
    uint8_t attributeIndex = 0;
    bool retrace = false;

    uint8_t indexed[256] = {};
    uint8_t palette[256][3] = {};
    uint8_t paletteWrite = 0, paletteRead = 0;
    int writeComponent = 0, readComponent = 0;
    uint8_t cursorColour[4][3] = {};
    uint8_t colourWrite = 0, colourRead = 0;
    int colourWriteComponent = 0, colourReadComponent = 0;
    uint8_t cursorRam[1024] = {};
    uint8_t pll[3][3] = {};      // N, M, P
    int pllPointer[3] = {};
    bool pllLocks[3] = {true, true, true};

    DisplayChipState() { crtc[0x11] = 0x80; }

    bool locked(int k) const { return pllLocks[k] && (pll[k][2] & 0x80); }
    uint32_t crtcBase() const { return (misc & 1) ? VGA_CRTC : VGA_CRTC_MONO; }
    uint32_t cursorAddress(uint8_t low) const { return ((indexed[6] >> 2) & 3u) << 8 | low; }
    // The cursor RAM address after an access at `low`: a wrap of the low byte carries
    // into bits 8-9.
    void cursorStep(uint8_t& low)
    {
        if (++low == 0) indexed[6] = static_cast<uint8_t>((indexed[6] & ~0x0Cu) | ((indexed[6] + 4u) & 0x0Cu));
    }
};

namespace {
constexpr uint32_t kDac = PYX_DAC_BASE;
// One scan line of the display, machine time (a 31.5 kHz line rate).
constexpr uint64_t kDisplayLineNanos = 31778;
} // namespace

// ---------------------------------------------------------------- display Orlo

// Bit 3 of the display Orlo's control word, once set, restarts the display at the line
// register's line: the scan reaches it (line + 1) lines later and the Orlo raises source
// 84 then, when bit 3 is still set.  A board made silent raises nothing.
void OrloChip::displayControlWritten(uint32_t before)
{
    if (!display_ || displayLineEvent_) return;
    const uint32_t now = regs_[kOrloDisplayControl / 4];
    if (!(now & kDisplayControlRestart) || (before & kDisplayControlRestart) || board_->displayLineSilent) return;
    const uint64_t line = regs_[kOrloDisplayLine / 4] & 0xFFF;
    const uint64_t at = board_->clock->nowNanos() + (line + 1) * kDisplayLineNanos;
    displayLineEvent_ = board_->machine->scheduleEvent(at, "display line", [this] {
        displayLineEvent_ = 0;
        if (!(regs_[kOrloDisplayControl / 4] & kDisplayControlRestart)) return;
        ++board_->displayLines;
        board_->machine->deliverSource(board_->index, kDisplayLineSource);
    });
}

DisplayChip::DisplayChip() : RamChip(kChipRegisterSize), state_(std::make_unique<DisplayChipState>()) {}
DisplayChip::~DisplayChip() = default;

uint32_t DisplayChip::read(uint32_t offset, int width)
{
    DisplayChipState& c = *state_;
    if ((offset & ~3u) == PYX_STATUS) {
        c.retrace = !c.retrace;
        const uint32_t v = RamChip::read(offset, width);
        if (offset == PYX_STATUS) return c.retrace ? (v | PYX_STATUS_RETRACE) : (v & ~PYX_STATUS_RETRACE);
        return v;
    }
    const uint32_t ram = RamChip::read(offset, width);
    if (width != 1) return ram;
    const auto index = [&](uint32_t port) { return static_cast<uint8_t>(RamChip::read(port, 1)); };
    switch (offset) {
    case VGA_MISC_READ: return c.misc;
    case VGA_FEATURE_READ: return c.feature;
    case VGA_SEQUENCER + 1: return c.sequencer[index(VGA_SEQUENCER)];
    case VGA_GRAPHICS + 1: return c.graphics[index(VGA_GRAPHICS)];
    case VGA_CRTC_EXT + 1: return c.crtcExt[index(VGA_CRTC_EXT)];
    case VGA_ATTRIBUTE_DATA: return c.attribute[c.attributeIndex & 0x1F];
    case VGA_ATTRIBUTE: return c.attributeIndex;
    case VGA_STATUS1:
    case VGA_STATUS1_MONO: c.attributeData = false; return ram;
    default: break;
    }
    if (offset == c.crtcBase() + 1) return c.crtc[index(c.crtcBase())];
    if (offset >= kDac && offset < kDac + 16) {
        switch (offset - kDac) {
        case 1: {
            const uint8_t v = c.palette[c.paletteRead][c.readComponent];
            if (++c.readComponent == 3) c.readComponent = 0, ++c.paletteRead;
            return v;
        }
        case 5: {
            const uint8_t v = c.cursorColour[c.colourRead & 3][c.colourReadComponent];
            if (++c.colourReadComponent == 3) c.colourReadComponent = 0, ++c.colourRead;
            return v;
        }
        case DAC_CURSOR_RAM: {
            const uint8_t v = c.cursorRam[c.cursorAddress(c.paletteRead)];
            c.cursorStep(c.paletteRead);
            return v;
        }
        case DAC_INDEXED_DATA: {
            const uint8_t i = index(kDac);
            if (i == (DAC_PLL_ADDRESS & 127)) return static_cast<uint32_t>(c.pllPointer[0] | c.pllPointer[1] << 2 | c.pllPointer[2] << 4);
            if (i >= (DAC_PIXEL_PLL_DATA & 127) && i <= (DAC_LOOP_PLL_DATA & 127)) {
                const int k = i - (DAC_PIXEL_PLL_DATA & 127);
                if (c.pllPointer[k] == 3) return c.locked(k) ? PLL_STATUS_LOCKED : 0u;
                const uint8_t v = c.pll[k][c.pllPointer[k]];
                c.pllPointer[k] = (c.pllPointer[k] + 1) % 3;
                return v;
            }
            return c.indexed[i];
        }
        default: return ram;
        }
    }
    return ram;
}

void DisplayChip::write(uint32_t offset, int width, uint32_t value)
{
    DisplayChipState& c = *state_;
    if (width != 1) {
        RamChip::write(offset, width, value);
        return;
    }
    const uint8_t v = static_cast<uint8_t>(value);
    const auto index = [&](uint32_t port) { return static_cast<uint8_t>(RamChip::read(port, 1)); };
    switch (offset) {
    case VGA_MISC_WRITE: c.misc = v; break;
    case VGA_SEQUENCER + 1: c.sequencer[index(VGA_SEQUENCER)] = v; break;
    case VGA_GRAPHICS + 1: c.graphics[index(VGA_GRAPHICS)] = v; break;
    case VGA_CRTC_EXT + 1: c.crtcExt[index(VGA_CRTC_EXT)] = v; break;
    case VGA_ATTRIBUTE:
        if (c.attributeData)
            c.attribute[c.attributeIndex & 0x1F] = v;
        else
            c.attributeIndex = v;
        c.attributeData = !c.attributeData;
        break;
    case VGA_STATUS1:
    case VGA_STATUS1_MONO:
        if ((offset == VGA_STATUS1) == ((c.misc & 1) != 0)) c.feature = v;
        break;
    default:
        if (offset == c.crtcBase() + 1) {
            const uint8_t i = index(c.crtcBase());
            if (i >= 8 || !(c.crtc[0x11] & 0x80)) c.crtc[i] = v;
        } else if (offset >= kDac && offset < kDac + 16) {
            switch (offset - kDac) {
            case 0: c.paletteWrite = v, c.writeComponent = 0; break;
            case 1:
                c.palette[c.paletteWrite][c.writeComponent] = v;
                if (++c.writeComponent == 3) c.writeComponent = 0, ++c.paletteWrite;
                break;
            case 3: c.paletteRead = v, c.readComponent = 0; break;
            case 4: c.colourWrite = v, c.colourWriteComponent = 0; break;
            case 5:
                c.cursorColour[c.colourWrite & 3][c.colourWriteComponent] = v;
                if (++c.colourWriteComponent == 3) c.colourWriteComponent = 0, ++c.colourWrite;
                break;
            case 7: c.colourRead = v, c.colourReadComponent = 0; break;
            case DAC_CURSOR_RAM:
                c.cursorRam[c.cursorAddress(c.paletteWrite)] = v;
                c.cursorStep(c.paletteWrite);
                break;
            case DAC_INDEXED_DATA: {
                const uint8_t i = index(kDac);
                if (i == (DAC_PLL_ADDRESS & 127)) {
                    c.pllPointer[0] = v & 3;
                    c.pllPointer[1] = (v >> 2) & 3;
                    c.pllPointer[2] = (v >> 4) & 3;
                } else if (i >= (DAC_PIXEL_PLL_DATA & 127) && i <= (DAC_LOOP_PLL_DATA & 127)) {
                    const int k = i - (DAC_PIXEL_PLL_DATA & 127);
                    if (c.pllPointer[k] != 3) {
                        c.pll[k][c.pllPointer[k]] = v;
                        c.pllPointer[k] = (c.pllPointer[k] + 1) % 3;
                    }
                } else {
                    c.indexed[i] = v;
                }
                break;
            }
            default: break;
            }
        }
        break;
    }
    RamChip::write(offset, width, value);
}

// ---------------------------------------------------------------- inspection

#define LOCKED SimState& s = SimState::get(); std::lock_guard<boardsim::MachineMutex> guard(s.mutex)

namespace {
DisplayChipState* Chip(SimState& s, int board)
{
    if (board < 0 || board >= static_cast<int>(s.m().boards.size()) || !s.m().boards[board]->displayChip) return nullptr;
    return &s.m().boards[board]->displayChip->state();
}

uint8_t* VgaSlot(DisplayChipState& c, VgaGroup group, uint8_t index)
{
    switch (group) {
    case VgaGroup::Sequencer: return &c.sequencer[index];
    case VgaGroup::Crtc: return &c.crtc[index];
    case VgaGroup::Graphics: return &c.graphics[index];
    case VgaGroup::Attribute: return &c.attribute[index & 0x1F];
    case VgaGroup::CrtcExt: return &c.crtcExt[index];
    case VgaGroup::Misc: return &c.misc;
    case VgaGroup::Feature: return &c.feature;
    }
    return nullptr;
}
} // namespace

uint8_t ChipView::vga(VgaGroup group, uint8_t index) const
{
    LOCKED;
    DisplayChipState* c = Chip(s, board);
    return c ? *VgaSlot(*c, group, index) : 0;
}

void ChipView::setVga(VgaGroup group, uint8_t index, uint8_t value) const
{
    LOCKED;
    if (DisplayChipState* c = Chip(s, board)) *VgaSlot(*c, group, index) = value;
}

uint8_t ChipView::dac(uint8_t index) const
{
    LOCKED;
    DisplayChipState* c = Chip(s, board);
    return c ? c->indexed[index] : 0;
}

void ChipView::setDac(uint8_t index, uint8_t value) const
{
    LOCKED;
    if (DisplayChipState* c = Chip(s, board)) c->indexed[index] = value;
}

uint32_t ChipView::palette(uint8_t entry) const
{
    LOCKED;
    DisplayChipState* c = Chip(s, board);
    if (!c) return 0;
    const uint8_t* p = c->palette[entry];
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

void ChipView::setPalette(uint8_t entry, uint32_t rgb) const
{
    LOCKED;
    if (DisplayChipState* c = Chip(s, board)) {
        c->palette[entry][0] = static_cast<uint8_t>(rgb >> 16);
        c->palette[entry][1] = static_cast<uint8_t>(rgb >> 8);
        c->palette[entry][2] = static_cast<uint8_t>(rgb);
    }
}

uint32_t ChipView::cursorColour(uint8_t entry) const
{
    LOCKED;
    DisplayChipState* c = Chip(s, board);
    if (!c) return 0;
    const uint8_t* p = c->cursorColour[entry & 3];
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

uint8_t ChipView::cursorRam(uint32_t address) const
{
    LOCKED;
    DisplayChipState* c = Chip(s, board);
    return c ? c->cursorRam[address & 1023] : 0;
}

uint8_t ChipView::pll(DacPll pll, int sub) const
{
    LOCKED;
    DisplayChipState* c = Chip(s, board);
    const int k = static_cast<int>(pll);
    if (!c || sub < 0 || sub > 3) return 0;
    return sub == 3 ? (c->locked(k) ? PLL_STATUS_LOCKED : 0) : c->pll[k][sub];
}

void ChipView::setPllLocks(DacPll pll, bool locks) const
{
    LOCKED;
    if (DisplayChipState* c = Chip(s, board)) c->pllLocks[static_cast<int>(pll)] = locks;
}

void BoardSim::setDisplayDriver(const DisplayDriverSpec& spec)
{
    LOCKED;
    s.m().displayDriver.spec = spec;
}

uint32_t BoardSim::openDisplayContexts() const
{
    LOCKED;
    return static_cast<uint32_t>(s.m().displayDriver.contexts.size());
}

void BoardSim::setDisplayLineSilent(int board, bool silent)
{
    LOCKED;
    if (Board* b = s.m().board(board)) b->displayLineSilent = silent;
}

uint32_t BoardSim::displayLineInterrupts(int board) const
{
    LOCKED;
    const Board* b = s.m().board(board);
    return b ? b->displayLines : 0;
}

} // namespace boardsim

// ---------------------------------------------------------------- display driver

using boardsim::SimState;

namespace {
} // namespace

DisplayContext DisplayCreateContext(const char* device)
{
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> guard(s.mutex);
    if (!device || std::strcmp(device, "DISPLAY") != 0) return 0;
    const DisplayContext context = s.m().displayDriver.nextContext++;
    s.m().displayDriver.contexts.insert(context);
    return context;
}

bool DisplayDeleteContext(DisplayContext context)
{
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> guard(s.mutex);
    return s.m().displayDriver.contexts.erase(context) != 0;
}

int DisplayEscape(DisplayContext context, uint32_t escape, uint32_t inSize, const void* in, uint32_t outSize,
                  void* out)
{
    SimState& s = SimState::get();
    std::lock_guard<boardsim::MachineMutex> guard(s.mutex);
    if (!s.m().displayDriver.contexts.count(context)) return -1;
    const boardsim::DisplayDriverSpec& spec = s.m().displayDriver.spec;
    if (escape == kEscapeQuerySupport) {
        if (inSize < 4 || !in) return -1;
        uint32_t code;
        std::memcpy(&code, in, 4);
        return spec.privateEscapes && (code == kEscapeDisplayLayout || code == kEscapeScreenInfo) ? 1 : 0;
    }
    if (!spec.privateEscapes || (escape != kEscapeDisplayLayout && escape != kEscapeScreenInfo)) return 0;
    if (escape == kEscapeDisplayLayout) {
        if (outSize < 8 || !out) return -1;
        const uint32_t answer[2] = {spec.columns, spec.rows};
        std::memcpy(out, answer, 8);
        return 1;
    }
    if (inSize < 4 || !in || outSize < kEscapeScreenRecordBytes || !out) return -1;
    uint32_t screen;
    std::memcpy(&screen, in, 4);
    if (screen >= spec.screenBases.size()) return -1;
    uint32_t record[kEscapeScreenRecordBytes / 4] = {};
    record[0] = screen;
    record[kEscapeScreenRecordBytes / 4 - 1] = spec.screenBases[screen];
    std::memcpy(out, record, kEscapeScreenRecordBytes);
    return 1;
}
