// Scatter-gather transfers between board memory and host memory that is not one block
// the engine may address as a whole: the first piece of the first page is programmed into
// the copy-shadow image, and every further 4096-byte page is programmed by the Orlo's
// register-list engine from a list of register writes built here, which the engine plays
// after each page.
#include "vmprog.h"

#include "bufid.h"
#include "hlc_errors.h"
#include "nodelist.h"
#include "regaccess.h"
#include "reqres.h"

#include "hwaccess.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace vmreg;

namespace {

constexpr uint32_t kPage = 4096;
constexpr uint32_t kListEnd = 0;

// Words into the list's memory: one block through the accessors for a board window,
// else straight into memory.
void StoreWords(uint32_t address, const std::vector<uint32_t>& words)
{
    if (words.empty()) return;
    const uint32_t bytes = static_cast<uint32_t>(words.size() * sizeof(uint32_t));
    if (HwIsWindowAddress(address))
        HwWriteBlock(address, 0, words.data(), bytes);
    else
        std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), words.data(), bytes);
}

}  // namespace

int vmUpdtShScatterGather(_CPYPARAM* record, uint32_t port, int side, CopyImage* image)
{
    CopyImage& im = *image;
    const _MP_BUF_ST* self = record->thisBuf;
    const _MP_BUF_ST* host = record->otherBuf;
    MP_RESOURCE_ST* resource = record->resource;

    // 1. Pages.
    uint32_t count = 0, first = 0, size = 0;
    const uint32_t* table = nullptr;
    if (host && host->bandTable && host->bands) {
        size = host->pitch * static_cast<uint32_t>(host->sizeY);
        if (host->location == kLocPaged) {
            table = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(host->bandTable[0].mapped));
            if (table && table[0]) {
                count = table[0];
                // The list holds page frames; the start keeps the band's place in its page.
                first = (table[1] & ~(kPage - 1)) | (host->bandTable[0].third & (kPage - 1));
            }
        } else {
            first = host->bandTable[0].physical;
            if (first && size)
                count = (((size - 1) % kPage) + first % kPage) / kPage + (size - 1) / kPage + 1;
        }
    }
    if (!host || !first || !count || size == 0 || host->pitch != self->pitch) {
        _mp_res_log_error(resource, HLC_ERR_BUFFER_ATTRIBUTE, nullptr);
        return -1;
    }
    // A page table shorter than the band would send the engine to pages nobody listed.
    const uint32_t needed = ((first % kPage) + size + kPage - 1) / kPage;
    if (count < needed) {
        _mp_res_log_error(resource, HLC_ERR_BUFFER_ATTRIBUTE, nullptr);
        return -1;
    }
    count = needed;

    // 2. The list: the selected Orlo's VM list, made anew when it holds fewer entries.  It
    // stays with the Orlo for its next transfer and goes with the node.
    const uint32_t entries = count * 6 + 3;
    ARPInfo_ST* d = HwRegCtrl ? HwRegCtrl->vm : nullptr;
    if (d && d->count < entries) {
        CreateArp(kArpVm, 0);
        CreateArp(kArpVm, entries);
    }
    if (!d || !d->start) {
        _mp_res_log_error(resource, HLC_ERR_NO_RESOURCES, nullptr);
        return -1;
    }
    const uint32_t list = d->start;
    const uint32_t room = d->count;
    const uint32_t bus = ArpListBus(d);

    // 3. Image set-up.
    im[kWriteMask] = 0xFFFFFF;
    im[kPort] = (im[kPort] & ~15u) | (port & 15);
    im[kVStart] &= ~0xFFFFu;
    im[kVStop] &= ~0xFFFFu;
    const uint32_t kind = side == 2 ? kKindPciSend : kKindPciReceive;
    uint32_t timing = im[kTiming] & ~(0x2u | 0x20u | kKindMask | 0x2000u);
    timing |= kind << kKindShift;
    timing = (timing & ~0xFFu) | ((timing & 0xDD) | 0xC4);
    im[kTiming] = timing;

    // 4. Alignment.
    const uint32_t m = first % 4;
    uint32_t board = self->bandTable ? (self->bandTable[0].physical ? self->bandTable[0].physical
                                                                     : self->bandTable[0].mapped)
                                     : 0;
    uint32_t mask = 0;
    uint32_t boardAt = board;
    if (m) {
        if (side == 2) {
            mask = 15u >> (4 - m);
            boardAt -= m;
        } else {
            mask = m;
        }
    }
    if (m == 0) {
        im[kFormat] = 0x33;
        im[kBurst] = 5;
    } else {
        im[kFormat] = 0;
        im[kBurst] = 7;
    }

    // 5. Address bits.
    im[kHostPage] = (im[kHostPage] & ~63u) | ((first >> 26) & 62);
    im[kHostPitch] = (im[kHostPitch] & (0x1000u | 0xF8000000u) & ~0xFF00u) | 0x1000;
    im[kBoardPitch] = (im[kBoardPitch] & 0xFC000000u) | 0x1000;

    // 6. The list's address goes straight into the engine.
    if (HwRegCtrl && HwRegCtrl->regs) {
        HwWrite32(HwRegCtrl->regs, kListAddress, bus);
        if (HwRegCtrl->shadow) {
            auto* slot = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(HwRegCtrl->shadow + kListAddress));
            slot[0] = bus;
            slot[1] |= kShadowWritten;
        }
    }
    im[kListAddress] = bus;

    // 7. First chunk.
    const uint32_t chunk = count == 1 ? size : kPage - first % kPage;
    im[kHStart] = mask;
    im[kBoardStart] = boardAt & 0x3FFFFFF;
    im[kHostStart] = first & 0x7FFFFFF;
    im[kHStop] = m ? m + chunk - 1 : chunk / 4 - 1;
    im[kListControl] |= 3;

    // 8. The list, built here and written as one block; room is checked before every
    // entry, and the entries that fit are written even when the list overflows.
    std::vector<uint32_t> words;
    words.reserve(2 * static_cast<size_t>(std::min(room, entries)));
    uint32_t at = 0;
    bool overflow = false;
    auto put = [&](uint32_t value, uint32_t reg) {
        if (at >= room) {
            overflow = true;
            return;
        }
        words.push_back(value);
        words.push_back(reg);
        ++at;
    };
    if (count > 1) {
        const uint32_t control = (timing & ~(0x1u | 0x2u | 0x20u | 0x2000u | 0x40000u)) | 0x4u | 0x40u | 0x80u | 0x80000u;
        put(0x10000, kIntClear);
        put(0, kHStart);
        put(1023, kHStop);
        if (m) {
            put(51, kFormat);
            put(5, kBurst);
        }
        uint32_t boardNext = board + chunk;
        uint32_t done = chunk;
        uint32_t pageBase = first & ~(kPage - 1);
        for (uint32_t page = 1; page < count && !overflow; ++page) {
            const uint32_t address = table ? table[1 + page] & ~(kPage - 1) : pageBase + page * kPage;
            const bool last = page == count - 1;
            if (!last) {
                put(boardNext, kBoardStart);
                put(address & 0x7FFFFFF, kHostStart);
                put((address >> 26) & 62, kHostPage);
                put(control, kTiming);
                put(3, kListControl);
                put(0x10000, kIntClear);
                boardNext += kPage;
                done += kPage;
            } else {
                const uint32_t remaining = size - done;
                if (m) {
                    put(0, kFormat);
                    put(5, kBurst);
                }
                put(boardNext, kBoardStart);
                put(address & 0x7FFFFFF, kHostStart);
                put((address >> 26) & 62, kHostPage);
                put(m ? remaining - 1 : remaining / 4 - 1, kHStop);
                put(control, kTiming);
            }
        }
    }
    put(kListEnd, kListControl);
    StoreWords(list, words);
    if (overflow || at >= room) {
        _mp_res_log_error(resource, HLC_ERR_INVALID_PARAMETER, "Arp overflow");
        return -1;
    }
    return 0;
}
