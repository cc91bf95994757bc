#include "dispreg.h"

#include "disphooks.h"
#include "driverreq.h"
#include "hwaccess.h"
#include "w32thread.h"
#include "w32time.h"

namespace {

HlcDisplayLink* Link(uint32_t node)
{
    return HlcGetDisplayHooks().displayLink(node);
}

bool Direct(const HlcDisplayLink* link)
{
    return link->accessMode == 1 && link->chipRegs != 0;
}

// Reads of these ranges are answered from the shadow.
bool ShadowAnswers(uint32_t offset)
{
    return (offset >= 0x1C00 && offset <= 0x1DFF) || (offset >= 0x1E80 && offset <= 0x1EBF);
}

bool InShadow(uint32_t offset, uint32_t width)
{
    return offset >= kPyxShadowFirst && offset + width <= kPyxShadowFirst + kPyxShadowBytes;
}

void ShadowStore(HlcDisplayLink* link, uint32_t offset, uint32_t width, uint32_t value)
{
    if (!link->shadow || !InShadow(offset, width)) return;
    for (uint32_t i = 0; i < width; ++i)
        link->shadow[offset - kPyxShadowFirst + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t ShadowAnswer(const HlcDisplayLink* link, uint32_t offset, uint32_t width, uint32_t value)
{
    if (!link->shadow || !ShadowAnswers(offset) || !InShadow(offset, width)) return value;
    uint32_t v = 0;
    for (uint32_t i = width; i-- > 0;) v = (v << 8) | link->shadow[offset - kPyxShadowFirst + i];
    return v;
}

uint32_t ChipRead(uint32_t node, uint32_t offset, uint32_t width)
{
    HlcDisplayLink* link = Link(node);
    if (!link) return 0;
    offset &= 0xFFFFu;
    offset &= ~(width - 1);
    uint32_t value = 0;
    if (Direct(link)) {
        value = width == 1 ? HwRead8(link->chipRegs, offset)
                : width == 2 ? HwRead16(link->chipRegs, offset)
                             : HwRead32(link->chipRegs, offset);
    } else if (width == 1) {
        uint8_t v = 0;
        if (HlcDrvChipRead8(link->device, link->overlapped, offset, &v)) value = v;
    } else if (width == 2) {
        uint16_t v = 0;
        if (HlcDrvChipRead16(link->device, link->overlapped, offset, &v)) value = v;
    } else {
        uint32_t v = 0;
        if (HlcDrvChipRead32(link->device, link->overlapped, offset, &v)) value = v;
    }
    return ShadowAnswer(link, offset, width, value);
}

void ChipWrite(uint32_t node, uint32_t offset, uint32_t width, uint32_t value)
{
    HlcDisplayLink* link = Link(node);
    if (!link) return;
    offset &= 0xFFFFu;
    offset &= ~(width - 1);
    if (width < 4) value &= (1u << (8 * width)) - 1u;
    ShadowStore(link, offset, width, value);
    if (Direct(link)) {
        if (width == 1)
            HwWrite8(link->chipRegs, offset, static_cast<uint8_t>(value));
        else if (width == 2)
            HwWrite16(link->chipRegs, offset, static_cast<uint16_t>(value));
        else
            HwWrite32(link->chipRegs, offset, value);
    } else if (width == 1) {
        HlcDrvChipWrite8(link->device, link->overlapped, offset, static_cast<uint8_t>(value));
    } else if (width == 2) {
        HlcDrvChipWrite16(link->device, link->overlapped, offset, static_cast<uint16_t>(value));
    } else {
        HlcDrvChipWrite32(link->device, link->overlapped, offset, value);
    }
}

// Pauses on the library clock, so that a machine on a virtual clock ends the pause at once.
void Pause(double seconds)
{
    const double end = HwClockSeconds() + seconds;
    do
        HwSleep(end - HwClockSeconds());
    while (HwClockSeconds() < end);
}

uint32_t PllDataRegister(uint32_t select)
{
    switch (select) {
    case PLL_PIXEL: return DAC_PIXEL_PLL_DATA;
    case PLL_MEMORY: return DAC_MEMORY_PLL_DATA;
    case PLL_LOOP: return DAC_LOOP_PLL_DATA;
    default: return 0;
    }
}

void PllAddress(uint32_t node, uint32_t address)
{
    DacWriteRegisterByByte(node, DAC_PLL_ADDRESS, address);
}

// Reprograms one PLL: its control word (at controlAddress) cleared, then N (with the
// enable bit), M and P with the control bits pBits, from the PLL's first address on, and
// waits for the lock. 2 when it did not lock, else 0.
uint32_t ProgramPll(uint32_t node, uint32_t pll, uint32_t controlAddress, uint32_t dataRegister, uint32_t n,
                    uint32_t m, uint32_t p, uint32_t pBits)
{
    PllAddress(node, controlAddress);
    DacWriteRegisterByByte(node, dataRegister, 0);
    PllAddress(node, pll);
    DacWriteRegisterByByte(node, dataRegister, (n & 0x3F) | 0x80);
    DacWriteRegisterByByte(node, dataRegister, m & 0x3F);
    DacWriteRegisterByByte(node, dataRegister, (p & 3) | pBits);
    return HlcDacWaitPllLock(node, pll) != 0 ? 2 : 0;
}

// Byte of the DAC direct register r.
uint32_t DacDirectRead(uint32_t node, uint32_t reg)
{
    return PyxReadRegisterByByte(node, PYX_DAC_BASE + reg);
}
void DacDirectWrite(uint32_t node, uint32_t reg, uint32_t value)
{
    PyxWriteRegisterByByte(node, PYX_DAC_BASE + reg, value);
}

uint32_t IndexedRead(uint32_t node, uint32_t index)
{
    PyxWriteRegisterByByte(node, PYX_DAC_INDEX, index);
    return PyxReadRegisterByByte(node, PYX_DAC_DATA);
}
void IndexedWrite(uint32_t node, uint32_t index, uint32_t value)
{
    PyxWriteRegisterByByte(node, PYX_DAC_INDEX, index);
    PyxWriteRegisterByByte(node, PYX_DAC_DATA, value);
}

// Cursor RAM address bits 8-9 go to bits 2-3 of the cursor control register.
void CursorRamHighBits(uint32_t node, uint32_t index)
{
    const uint32_t control = IndexedRead(node, DAC_CURSOR_CONTROL & 127);
    IndexedWrite(node, DAC_CURSOR_CONTROL & 127, (control & ~0x0Cu) | ((index >> 6) & 0x0Cu));
}

uint32_t ReadTriple(uint32_t node, uint32_t dataRegister)
{
    const uint32_t first = DacDirectRead(node, dataRegister);
    const uint32_t second = DacDirectRead(node, dataRegister);
    const uint32_t third = DacDirectRead(node, dataRegister);
    return first << 16 | second << 8 | third;
}

void WriteTriple(uint32_t node, uint32_t dataRegister, uint32_t value)
{
    DacDirectWrite(node, dataRegister, (value >> 16) & 0xFF);
    DacDirectWrite(node, dataRegister, (value >> 8) & 0xFF);
    DacDirectWrite(node, dataRegister, value & 0xFF);
}

uint32_t CrtcBase(uint32_t node)
{
    return (PyxReadRegisterByByte(node, VGA_MISC_READ) & 1) ? VGA_CRTC : VGA_CRTC_MONO;
}

void VgaMisc(uint32_t node, uint32_t value)
{
    VgaWriteRegisterByByte(node, VGA_MISC_READ, value);
}

} // namespace

// ---------------------------------------------------------------- chip registers

uint32_t PyxReadRegisterByByte(uint32_t node, uint32_t offset)
try {
    return ChipRead(node, offset, 1);
}
HLC_EXPORT_CATCH(PyxReadRegisterByByte)
uint32_t PyxReadRegisterByShort(uint32_t node, uint32_t offset)
try {
    return ChipRead(node, offset, 2);
}
HLC_EXPORT_CATCH(PyxReadRegisterByShort)
uint32_t PyxReadRegisterByLong(uint32_t node, uint32_t offset)
try {
    return ChipRead(node, offset, 4);
}
HLC_EXPORT_CATCH(PyxReadRegisterByLong)
void PyxWriteRegisterByByte(uint32_t node, uint32_t offset, uint32_t value)
try {
    ChipWrite(node, offset, 1, value);
}
HLC_EXPORT_CATCH(PyxWriteRegisterByByte)
void PyxWriteRegisterByShort(uint32_t node, uint32_t offset, uint32_t value)
try {
    ChipWrite(node, offset, 2, value);
}
HLC_EXPORT_CATCH(PyxWriteRegisterByShort)
void PyxWriteRegisterByLong(uint32_t node, uint32_t offset, uint32_t value)
try {
    ChipWrite(node, offset, 4, value);
}
HLC_EXPORT_CATCH(PyxWriteRegisterByLong)

// ---------------------------------------------------------------- DAC

uint32_t DacReadRegisterByLongIndex(uint32_t node, uint32_t reg, uint32_t index)
try {
    reg &= 0xFF;
    if (reg & DAC_INDEXED) return IndexedRead(node, reg == 0xFF ? 0xFF : (reg & 127));
    if (reg == DAC_PALETTE_DATA) {
        DacDirectWrite(node, DAC_PALETTE_READ, index & 0xFF);
        return ReadTriple(node, DAC_PALETTE_DATA);
    }
    if (reg == DAC_CURSOR_RAM) {
        CursorRamHighBits(node, index);
        DacDirectWrite(node, DAC_PALETTE_READ, index & 0xFF);
        return DacDirectRead(node, DAC_CURSOR_RAM);
    }
    if (reg >= DAC_CURSOR_COLOUR_FIRST && reg <= DAC_CURSOR_COLOUR_LAST) {
        DacDirectWrite(node, DAC_COLOUR_READ, reg & 191);
        return ReadTriple(node, DAC_COLOUR_DATA);
    }
    return DacDirectRead(node, reg);
}
HLC_EXPORT_CATCH(DacReadRegisterByLongIndex)

uint32_t DacReadRegisterByByte(uint32_t node, uint32_t reg)
try {
    return DacReadRegisterByLongIndex(node, reg, 0) & 0xFF;
}
HLC_EXPORT_CATCH(DacReadRegisterByByte)

uint32_t DacReadRegisterByLong(uint32_t node, uint32_t reg)
try {
    return DacReadRegisterByLongIndex(node, reg, 0);
}
HLC_EXPORT_CATCH(DacReadRegisterByLong)

void DacWriteRegisterByLongIndex(uint32_t node, uint32_t reg, uint32_t index, uint32_t value)
try {
    reg &= 0xFF;
    if (reg & DAC_INDEXED) {
        IndexedWrite(node, reg & 127, value & 0xFF);
    } else if (reg == DAC_PALETTE_DATA) {
        DacDirectWrite(node, DAC_PALETTE_WRITE, index & 0xFF);
        WriteTriple(node, DAC_PALETTE_DATA, value);
    } else if (reg == DAC_CURSOR_RAM) {
        CursorRamHighBits(node, index);
        DacDirectWrite(node, DAC_PALETTE_WRITE, index & 0xFF);
        DacDirectWrite(node, DAC_CURSOR_RAM, value & 0xFF);
    } else if (reg >= DAC_CURSOR_COLOUR_FIRST && reg <= DAC_CURSOR_COLOUR_LAST) {
        DacDirectWrite(node, DAC_COLOUR_WRITE, reg & 191);
        WriteTriple(node, DAC_COLOUR_DATA, value);
    } else {
        DacDirectWrite(node, reg, value & 0xFF);
    }
}
HLC_EXPORT_CATCH(DacWriteRegisterByLongIndex)

void DacWriteRegisterByByte(uint32_t node, uint32_t reg, uint32_t value)
try {
    DacWriteRegisterByLongIndex(node, reg, 0, value & 0xFF);
}
HLC_EXPORT_CATCH(DacWriteRegisterByByte)

void DacWriteRegisterByLong(uint32_t node, uint32_t reg, uint32_t value)
try {
    DacWriteRegisterByLongIndex(node, reg, 0, value);
}
HLC_EXPORT_CATCH(DacWriteRegisterByLong)

// ---------------------------------------------------------------- VGA

uint32_t VgaReadRegisterByByteIndex(uint32_t node, uint32_t offset, uint32_t index)
try {
    switch (offset) {
    case VGA_ATTRIBUTE: {
        const uint32_t status = PyxReadRegisterByByte(node, VGA_STATUS1);
        PyxWriteRegisterByByte(node, VGA_ATTRIBUTE, index);
        const uint32_t data = PyxReadRegisterByByte(node, VGA_ATTRIBUTE + 1);
        PyxReadRegisterByByte(node, VGA_STATUS1);
        PyxWriteRegisterByByte(node, VGA_ATTRIBUTE, status | 0x20);
        return data;
    }
    case VGA_SEQUENCER:
    case VGA_GRAPHICS:
    case VGA_CRTC_EXT:
        PyxWriteRegisterByByte(node, offset, index);
        return PyxReadRegisterByByte(node, offset + 1);
    case VGA_CRTC: {
        const uint32_t base = CrtcBase(node);
        PyxWriteRegisterByByte(node, base, index);
        return PyxReadRegisterByByte(node, base + 1);
    }
    case VGA_STATUS1:
        return PyxReadRegisterByByte(node, (PyxReadRegisterByByte(node, VGA_MISC_READ) & 1) ? VGA_STATUS1
                                                                                          : VGA_STATUS1_MONO);
    default:
        return PyxReadRegisterByByte(node, offset);
    }
}
HLC_EXPORT_CATCH(VgaReadRegisterByByteIndex)

uint32_t VgaReadRegisterByByte(uint32_t node, uint32_t offset)
try {
    return VgaReadRegisterByByteIndex(node, offset, 0);
}
HLC_EXPORT_CATCH(VgaReadRegisterByByte)

void VgaWriteRegisterByByteIndex(uint32_t node, uint32_t offset, uint32_t index, uint32_t value)
try {
    switch (offset) {
    case VGA_ATTRIBUTE: {
        const uint32_t status = PyxReadRegisterByByte(node, VGA_STATUS1);
        PyxWriteRegisterByByte(node, VGA_ATTRIBUTE, index);
        PyxWriteRegisterByByte(node, VGA_ATTRIBUTE, value);
        PyxReadRegisterByByte(node, VGA_STATUS1);
        PyxWriteRegisterByByte(node, VGA_ATTRIBUTE, status | 0x20);
        break;
    }
    case VGA_SEQUENCER:
    case VGA_GRAPHICS:
    case VGA_CRTC_EXT:
        PyxWriteRegisterByByte(node, offset, index);
        PyxWriteRegisterByByte(node, offset + 1, value);
        break;
    case VGA_CRTC: {
        const uint32_t base = CrtcBase(node);
        if (index < 8) {
            PyxWriteRegisterByByte(node, base, 0x11);
            const uint32_t protect = PyxReadRegisterByByte(node, base + 1);
            PyxWriteRegisterByByte(node, base + 1, protect & 0x7F);
        }
        PyxWriteRegisterByByte(node, base, index);
        PyxWriteRegisterByByte(node, base + 1, value);
        break;
    }
    case VGA_FEATURE_READ:
        PyxWriteRegisterByByte(node, (PyxReadRegisterByByte(node, VGA_MISC_READ) & 1) ? VGA_STATUS1 : VGA_STATUS1_MONO,
                               value);
        break;
    case VGA_MISC_READ:
        PyxWriteRegisterByByte(node, VGA_MISC_WRITE, value);
        break;
    default:
        PyxWriteRegisterByByte(node, offset, value);
        break;
    }
}
HLC_EXPORT_CATCH(VgaWriteRegisterByByteIndex)

void VgaWriteRegisterByByte(uint32_t node, uint32_t offset, uint32_t value)
try {
    VgaWriteRegisterByByteIndex(node, offset, 0, value);
}
HLC_EXPORT_CATCH(VgaWriteRegisterByByte)

// ---------------------------------------------------------------- PLLs

uint32_t HlcDacCalculFMNP(uint32_t kHz, uint32_t* m, uint32_t* n, uint32_t* p)
try {
    // 0 would never reach the VCO range by doubling; any other request does.
    uint32_t f = kHz == 0 ? kDacMinimumKHz : kHz;
    uint32_t post = 0;
    while (f < 114550) {
        f *= 2;
        ++post;
    }
    if (f > 220000) {
        if (post > 0) --post;
        f = 114550;
    }
    uint32_t bestM = 0, bestN = 0, bestError = 220000;
    for (uint32_t nn = 63; nn >= 46; --nn) {
        const uint32_t mm = 65 - ((65 - nn) * f + 57272) / kDacReferenceKHz;
        if (mm == 63) continue;
        const uint32_t reached = (65 - mm) * kDacReferenceKHz / (65 - nn);
        const uint32_t error = reached > f ? reached - f : f - reached;
        if (error < bestError) {
            bestError = error;
            bestM = mm;
            bestN = nn;
        }
    }
    if (m) *m = bestM;
    if (n) *n = bestN;
    if (p) *p = post;
    return (65 - bestM) * kDacReferenceKHz / ((65 - bestN) << post);
}
HLC_EXPORT_CATCH(HlcDacCalculFMNP)

uint32_t HlcDacWaitPllLock(uint32_t node, uint32_t select)
try {
    const uint32_t data = PllDataRegister(select);
    if (!data) return 1;
    Pause(0.010);
    PllAddress(node, select | 0x3F);
    for (int i = 0; i < 1000; ++i) {
        Pause(10e-6);
        if (DacReadRegisterByByte(node, data) & PLL_STATUS_LOCKED) return 0;
    }
    return 2;
}
HLC_EXPORT_CATCH_AS(HlcDacWaitPllLock, 2)

uint32_t HlcDacSetClk(uint32_t node, uint32_t select, uint32_t kHz, uint32_t bitsPerPixel, uint32_t busMode)
try {
    if (kHz < kDacMinimumKHz) kHz = kDacMinimumKHz;
    uint32_t m = 0, n = 0, p = 0;
    const uint32_t reached = HlcDacCalculFMNP(kHz, &m, &n, &p);
    const uint32_t misc = VgaReadRegisterByByte(node, VGA_MISC_READ);
    uint32_t result = 0;

    if (select == PLL_PIXEL) {
        VgaMisc(node, misc | 0x0C);
        PllAddress(node, 0xEE);
        DacWriteRegisterByByte(node, DAC_PIXEL_PLL_DATA, 0);
        DacWriteRegisterByByte(node, DAC_LOOP_PLL_DATA, 0);
        PllAddress(node, 0xFC);
        DacWriteRegisterByByte(node, DAC_PIXEL_PLL_DATA, n | 0xC0);
        DacWriteRegisterByByte(node, DAC_PIXEL_PLL_DATA, m & 0x3F);
        DacWriteRegisterByByte(node, DAC_PIXEL_PLL_DATA, (p & 3) | 0xF0);
        if (HlcDacWaitPllLock(node, PLL_PIXEL) != 0) result = 2;

        // Loop clock for the pixel bus width.
        if (bitsPerPixel == 0) bitsPerPixel = 8;
        uint32_t loopN, loopM, k, f;
        if (bitsPerPixel == 24) {
            loopN = busMode == 1 ? 0xB9 : 0xBD;
            loopM = 0xBE;
            k = 715000 - 11000 * (loopN & 0x3F);
            f = 3 * (reached / 1000);
        } else {
            loopN = 65 - (busMode == 1 ? 256 : 128) / bitsPerPixel;
            loopM = 0x3D;
            k = 178750 - 2750 * loopN;
            f = reached / 1000;
        }
        const uint32_t r = f ? k / f : 0;
        uint32_t loopP, extra = 0;
        if (r < 201)
            loopP = 0;
        else if (r < 401)
            loopP = 1;
        else if (r < 801)
            loopP = 2;
        else if (r < 1601)
            loopP = 3;
        else {
            loopP = 3;
            extra = (r / 1600) & 7;
        }
        const uint32_t b9 = DacReadRegisterByByte(node, 0xB9);
        DacWriteRegisterByByte(node, 0xB9, (b9 & 0xF8) | extra | 0x20);
        loopN |= 0xC0;
        if (bitsPerPixel == 36) loopP |= 8;
        loopP |= 0xF0;
        PllAddress(node, 0xCF);
        DacWriteRegisterByByte(node, DAC_LOOP_PLL_DATA, loopN);
        DacWriteRegisterByByte(node, DAC_LOOP_PLL_DATA, loopM);
        DacWriteRegisterByByte(node, DAC_LOOP_PLL_DATA, loopP);
        PllAddress(node, 0xEF);
        DacWriteRegisterByByte(node, DAC_LOOP_PLL_DATA, loopP);
    } else if (select == PLL_MEMORY) {
        // The memory clock is switched over through the pixel PLL, whose values are kept.
        PllAddress(node, 0xFC);
        const uint32_t savedN = DacReadRegisterByByte(node, DAC_PIXEL_PLL_DATA);
        PllAddress(node, 0xFD);
        const uint32_t savedM = DacReadRegisterByByte(node, DAC_PIXEL_PLL_DATA);
        PllAddress(node, 0xFE);
        const uint32_t savedP = DacReadRegisterByByte(node, DAC_PIXEL_PLL_DATA);

        PllAddress(node, 0xFE);
        DacWriteRegisterByByte(node, DAC_PIXEL_PLL_DATA, 0);
        PllAddress(node, 0xFC);
        DacWriteRegisterByByte(node, DAC_PIXEL_PLL_DATA, n | 0xC0);
        DacWriteRegisterByByte(node, DAC_PIXEL_PLL_DATA, m & 0x3F);
        DacWriteRegisterByByte(node, DAC_PIXEL_PLL_DATA, (p & 3) | 0xB0);
        if (HlcDacWaitPllLock(node, PLL_PIXEL) != 0) result = 2;

        VgaMisc(node, 0x0F);
        DacWriteRegisterByByte(node, 0x9A, 5);
        PllAddress(node, 0xFE);
        DacWriteRegisterByByte(node, DAC_PIXEL_PLL_DATA, (p & 3) | 0x40);
        PllAddress(node, 0xFE);
        DacWriteRegisterByByte(node, DAC_PIXEL_PLL_DATA, (p & 3) | 0xF0);
        if (HlcDacWaitPllLock(node, PLL_PIXEL) != 0) result = 2;

        const uint32_t x = DacReadRegisterByByte(node, 0xB9);
        DacWriteRegisterByByte(node, 0xB9, x & 0xE7);
        DacWriteRegisterByByte(node, 0xB9, (x & 0xEF) | 8);
        if (ProgramPll(node, PLL_MEMORY, 0xFB, DAC_MEMORY_PLL_DATA, n, m, p, 0xB0) != 0) result = 2;
        DacWriteRegisterByByte(node, 0xB9, (x & 0xF7) | 0x10);
        DacWriteRegisterByByte(node, 0xB9, x | 0x18);

        VgaMisc(node, misc);
        DacWriteRegisterByByte(node, 0x9A, 7);
        if (ProgramPll(node, PLL_PIXEL, 0xFE, DAC_PIXEL_PLL_DATA, savedN, savedM, savedP, 0xF0) != 0) result = 2;
    } else {
        result = 1;
    }
    Pause(0.010);
    return result;
}
HLC_EXPORT_CATCH_AS(HlcDacSetClk, 2)

void HlcDacReadFreqParam(uint32_t node, uint32_t select, uint32_t* m, uint32_t* n, uint32_t* p)
try {
    const uint32_t data = PllDataRegister(select);
    if (!data) return;
    PllAddress(node, select);
    const uint32_t nn = DacReadRegisterByByte(node, data);
    PllAddress(node, select | 0x15);
    const uint32_t mm = DacReadRegisterByByte(node, data);
    PllAddress(node, select | 0x2A);
    const uint32_t pp = DacReadRegisterByByte(node, data);
    PllAddress(node, select | 0x3F);
    DacReadRegisterByByte(node, data);
    if (m) *m = mm;
    if (n) *n = nn;
    if (p) *p = pp;
}
HLC_EXPORT_CATCH(HlcDacReadFreqParam)

uint32_t HlcDacWriteFreqParam(uint32_t node, uint32_t select, uint32_t m, uint32_t n, uint32_t p)
try {
    const uint32_t data = PllDataRegister(select);
    if (!data) return 1;
    PllAddress(node, select);
    DacWriteRegisterByByte(node, data, n);
    PllAddress(node, select | 0x15);
    DacWriteRegisterByByte(node, data, m);
    if (select == PLL_PIXEL) {
        PllAddress(node, 0xFE);
        DacWriteRegisterByByte(node, data, p | 0xF0);
    } else {
        PllAddress(node, select | 0x2A);
        DacWriteRegisterByByte(node, data, p | 0xB0);
    }
    return HlcDacWaitPllLock(node, select);
}
HLC_EXPORT_CATCH_AS(HlcDacWriteFreqParam, 2)
