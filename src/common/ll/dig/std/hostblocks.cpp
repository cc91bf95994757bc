// Block division of a grab into host memory.
#include "hostblocks.h"

#include "bufid.h"
#include "hlc_errors.h"
#include "reqres.h"

#include <cstdint>

namespace {

int Fail(MP_RESOURCE_ST* res, int32_t code, const char* text)
{
    if (res) _mp_res_log_error(res, code, text);
    return -1;
}

uint32_t FirstBandAddress(const _MP_BUF_ST* b)
{
    if (!b || !b->bandTable || b->bands == 0) return 0;
    const _MP_BAND_ST& band = b->bandTable[0];
    return band.physical ? band.physical : band.mapped;
}

uint32_t AtLeast1(uint32_t v)
{
    return v ? v : 1;
}

// An exact division of `lines` into blocks of `l` lines that the rules accept.
bool Exact(const _HOST_TEMP_PARAMETER_ST* p, uint32_t lines, uint32_t l)
{
    if (l == 0 || lines % l != 0 || l % AtLeast1(p->vReduction) != 0) return false;
    const uint32_t n = lines / l;
    return n >= p->minBlocks && (p->fieldMode || n % 2 == 0);
}

}  // namespace

int CalculateNewNumberOfLines(_HOST_TEMP_PARAMETER_ST* p, uint32_t lines)
{
    for (uint32_t l = p->linesPerBlock; l-- > 1;) {
        if (Exact(p, lines, l)) {
            p->linesPerBlock = l;
            p->blocks = lines / l;
            p->remainder = 0;
            return 0;
        }
    }
    return -1;
}

int CalculateNewNumberOfLinesSecondMethod(_HOST_TEMP_PARAMETER_ST* p, uint32_t lines)
{
    for (uint32_t l = p->linesPerBlock; l >= 1; --l) {
        if (l % AtLeast1(p->vReduction) != 0) continue;
        if (Exact(p, lines, l)) {
            p->linesPerBlock = l;
            p->blocks = lines / l;
            p->remainder = 0;
            return 0;
        }
        // A partial block of at least L - 2 lines that makes the count even: frame mode only.
        const uint32_t n = lines / l;
        const uint32_t rest = lines % l;
        if (!p->fieldMode && rest > 0 && rest + 2 >= l && n >= p->minBlocks + 1 && n % 2 == 1) {
            p->linesPerBlock = l;
            p->blocks = n;
            p->remainder = rest;
            return 0;
        }
    }
    return -1;
}

int SetBlockDivision(const _MP_BUF_ST* destination, _HOST_TEMP_PARAMETER_ST* p, const _MP_BUF_ST* second,
                     MP_RESOURCE_ST* res, _HOST_TEMP_REGISTER_ST* r, const uint32_t* temporary)
{
    if (!destination || !p || !r || !temporary) return Fail(res, HLC_ERR_INVALID_PARAMETER, nullptr);
    const auto* temp = reinterpret_cast<const _MP_BUF_ST*>(static_cast<uintptr_t>(temporary[0]));
    const uint32_t g = AtLeast1(p->vReduction);

    // 1. Fewest blocks.
    p->minBlocks = (p->typeFlag || p->triggerFlag || (p->fieldMode && (p->lines % 2) == 1)) ? 4 : 3;

    // 2. Line bytes and copy flags.
    const uint64_t raw = static_cast<uint64_t>(p->bitsPerPixel / 8) * p->pixelsPerLine;
    if (raw == 0 || raw > 0x7FFFFFFF) return Fail(res, HLC_ERR_INVALID_PARAMETER, nullptr);
    p->copyFlags = 0;
    p->lineBytes = static_cast<uint32_t>((raw + 3) & ~uint64_t{3});
    p->copyFlags |= (raw % 4) ? kHostCopyRounded : kHostCopyExact;
    p->destAlign = FirstBandAddress(destination) % 4;
    if (p->destAlign) p->copyFlags = (p->copyFlags & ~kHostCopyExact) | kHostCopyRounded;
    const bool plain = (p->copyFlags & kHostCopyExact) && p->lineBytes == destination->pitch &&
                       (!second || p->lineBytes == second->pitch) && !p->fieldMode && p->tapStep == 0 && g == 1 &&
                       AtLeast1(p->vZoom) == 1;
    if (!plain) p->copyFlags |= kHostCopyByLine;

    // 3. Lines one block can hold.
    const uint64_t room = temp ? static_cast<uint64_t>(temp->pitch) * static_cast<uint32_t>(temp->sizeY > 0 ? temp->sizeY : 0) : 0;
    const uint64_t fit = room / p->lineBytes;
    p->linesPerBlock = fit > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(fit);
    if (p->linesPerBlock == 0) return Fail(res, HLC_ERR_INVALID_PARAMETER, kHostTempTooSmall);

    // 4. Lines after the window, and the lines to divide.
    if (g != 1 && p->lines) r->windowLastLine = r->windowFirstLine + p->lines - 1;
    const uint32_t below = r->frameLastLine > r->windowLastLine ? r->frameLastLine - r->windowLastLine : 0;
    uint32_t y;
    if (!p->fieldMode) {
        p->linesAfterWindow = p->typeFlag ? 0 : below;
        y = p->lines >> p->tapStep;
    } else {
        p->linesAfterWindow = (r->frameLastLine >= r->windowLastLine ? below + 1 : 0) / 2;
        if (r->windowFirstLine % 2 == 0 && r->windowLastLine % 2 == 0) p->linesAfterWindow += 1;
        y = (p->lines / 2) >> p->tapStep;
    }

    // 5. The division.
    p->remainder = 0;
    p->blocks = p->linesPerBlock ? y / p->linesPerBlock : 0;
    if (!Exact(p, y, p->linesPerBlock)) {
        const uint32_t first = p->linesPerBlock;
        if (CalculateNewNumberOfLines(p, y) != 0) {
            p->linesPerBlock = first;
            if (CalculateNewNumberOfLinesSecondMethod(p, y) != 0) return Fail(res, HLC_ERR_BUFFER_ATTRIBUTE, nullptr);
        }
    }
    const uint32_t l = p->linesPerBlock;

    // 6. Two blocks more for long blanking after the window.
    p->blocksBeforeExtra = p->blocks;
    p->extraBlocks = 0;
    if (p->linesAfterWindow > 3 * l) {
        p->blocks += 2;
        p->extraBlocks = 1;
        p->linesAfterWindow -= 2 * l;
    }

    // 7. Steps through the destination and the second buffer.
    p->destStep = destination->pitch * l;
    p->secondStep = second ? second->pitch * l : p->lineBytes * l;
    if (p->fieldMode) {
        p->destStep *= 2;
        if (second) p->secondStep *= 2;
    }
    if (g > 1) {
        p->destStep /= g;
        p->secondStep /= g;
    }
    if (p->vZoom > 1) p->destStep *= p->vZoom;
    if (p->tapCode == kTapCodeTwoLines) {
        p->destStep *= 2;
        p->secondStep *= 2;
    } else if (p->tapCode == kTapCodeFourLines) {
        p->destStep *= 4;
        p->secondStep *= 4;
    }
    return 0;
}
