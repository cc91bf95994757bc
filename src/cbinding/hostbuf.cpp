// Host memory of buffers: DMA blocks, paged bands, lock counts and the page-locking hooks.
#include "hostbuf.h"

#include "bufid.h"
#include "consolepipe.h"
#include "hlc_errors.h"
#include "im_msgio.h"
#include "imbuf.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// Guards every lock count together with the page locking it decides on.  Recursive: the
// lock of a child locks its parent through imBufControl on the same thread.
std::recursive_mutex g_lockCounts;

template <typename T> T* Ptr(uint32_t address)
{
    return reinterpret_cast<T*>(static_cast<uintptr_t>(address));
}

uint32_t Word(const void* pointer)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

bool IsPaged(const _MP_BUF_ST* buffer)
{
    return buffer && buffer->location == kLocPaged;
}

} // namespace

uint32_t mp_hostbuf_line_bytes(uint32_t bits, int32_t sizeX)
{
    if (sizeX <= 0) return 0;
    const uint32_t x = static_cast<uint32_t>(sizeX);
    if (bits % 8) return (bits + 7) / 8 * ((x + 7) / 8);
    return bits / 8 * x;
}

// ---- host DMA --------------------------------------------------------------------------------

int32_t mp_hostbuf_dma_alloc(uint32_t device, uint32_t bandBytes, uint32_t bands, _MP_BAND_ST** table)
{
    *table = nullptr;
    auto* records = static_cast<_MP_BAND_ST*>(std::calloc(bands ? bands : 1, sizeof(_MP_BAND_ST)));
    if (!records) return -1;
    for (uint32_t i = 0; i < bands; ++i) {
        if (SysDmaBufferAlloc(device, bandBytes, 1, 0, &records[i]) == 0) {
            // The failed record holds no block; the others go back last first.
            records[i] = _MP_BAND_ST{};
            mp_hostbuf_dma_release(device, records, i);
            return -2;
        }
    }
    *table = records;
    return 0;
}

void mp_hostbuf_dma_release(uint32_t device, _MP_BAND_ST* table, uint32_t bands)
{
    if (!table) return;
    for (uint32_t i = bands; i-- > 0;)
        if (table[i].id != 0) SysDmaBufferFree(device, &table[i]);
    std::free(table);
}

uint32_t mp_hostbuf_dma_free_root(uint32_t device, _MP_BUF_ST* buffer)
{
    if (!buffer || buffer->parent || !buffer->bandTable) return 0;
    uint32_t freed = 0;
    for (uint32_t i = 0; i < buffer->bands; ++i) {
        _MP_BAND_ST& band = buffer->bandTable[i];
        if (band.id == 0) continue;
        if (SysDmaBufferFree(device, &band) == 0) ++freed;
    }
    return freed;
}

// ---- paged memory ------------------------------------------------------------------------------

int32_t mp_hostbuf_paged_layout(bool perBand, int32_t sizeX, int32_t sizeY, uint32_t type, uint32_t* pitch,
                                uint32_t* bandBytes)
{
    if (sizeX <= 0 || sizeY <= 0) return HLC_ERR_INVALID_PARAMETER;
    const uint32_t bits = type & 0xFF;
    const bool binary = (type & kBufTypeBinary) && bits == 1;
    if (binary && sizeX % 8) return HLC_ERR_INVALID_PARAMETER;
    uint64_t line;
    if (perBand) {
        line = mp_buf_new_pitch(bits, static_cast<uint32_t>(sizeX));
    } else if (binary) {
        line = static_cast<uint32_t>(sizeX) / 8;
    } else {
        line = uint64_t{(type / 8) & 31} * static_cast<uint32_t>(sizeX);
    }
    const uint64_t bytes = line * static_cast<uint32_t>(sizeY) + kHostBufPagedSlack;
    if (line == 0 || line > 0xFFFFFFFFu || bytes > 0x7FFFFFFFu) return HLC_ERR_INVALID_PARAMETER;
    *pitch = static_cast<uint32_t>(line);
    *bandBytes = static_cast<uint32_t>(bytes);
    return 0;
}

int32_t mp_hostbuf_paged_alloc(uint32_t bands, uint32_t bandBytes, uint32_t* addresses)
{
    for (uint32_t i = 0; i < bands; ++i) {
        void* block = std::calloc(1, bandBytes);
        if (!block) {
            mp_hostbuf_paged_release(addresses, i);
            return -1;
        }
        addresses[i] = Word(block);
    }
    return 0;
}

void mp_hostbuf_paged_release(const uint32_t* addresses, uint32_t bands)
{
    for (uint32_t i = 0; i < bands; ++i) std::free(Ptr<void>(addresses[i]));
}

uint32_t mp_hostbuf_paged_free_root(_MP_BUF_ST* buffer)
{
    if (!IsPaged(buffer) || buffer->parent || !buffer->bandTable) return 0;
    uint32_t freed = 0;
    for (uint32_t i = 0; i < buffer->bands; ++i) {
        _MP_BAND_ST& band = buffer->bandTable[i];
        if (!band.third) continue;
        std::free(Ptr<void>(band.third));
        // The node frees the descriptor after this; nothing may reach the memory before.
        band.third = 0;
        ++freed;
    }
    return freed;
}

// ---- lock and unlock -------------------------------------------------------------------------

HostBufStep mp_hostbuf_lock(_MSG_ST* msg, uint32_t device, _MP_BUF_ST* buffer, uint32_t* listId)
{
    *listId = 0;
    if (!IsPaged(buffer)) {
        im_print_msg(0, "Cannot lock a buffer other than a paged one\n");
        return kHostBufSendNothing;
    }
    std::lock_guard<std::recursive_mutex> hold(g_lockCounts);
    if (buffer->lockCount > 0) {
        ++buffer->lockCount;
        return kHostBufSendNothing;
    }
    if (SysLockBuffer(device, Word(buffer), listId) != 0) {
        // Nothing is locked: the count stays, so that no later unlock releases pages
        // that were never locked.
        *listId = 0;
        im_msg_log_error(msg, HLC_ERR_NO_SYSTEM, "Cannot lock buffer");
        return kHostBufSendNothing;
    }
    buffer->lockCount = 1;
    return kHostBufSend;
}

HostBufStep mp_hostbuf_unlock(_MSG_ST* msg, uint32_t device, _MP_BUF_ST* buffer)
{
    if (!IsPaged(buffer)) {
        im_print_msg(0, "Cannot unlock a buffer other than a paged one\n");
        return kHostBufSendNothing;
    }
    std::lock_guard<std::recursive_mutex> hold(g_lockCounts);
    if (buffer->lockCount == 0) {
        // An unlock without a lock would wrap the count and keep the buffer "locked"
        // for ever after.
        im_msg_log_error(msg, HLC_ERR_NO_SYSTEM, "Cannot unlock buffer");
        return kHostBufSendNothing;
    }
    if (--buffer->lockCount == 0) {
        _MP_BUF_ST* parent = mp_buf_parent(buffer);
        if (parent)
            imBufControl(device, parent->id, kBufControlUnlock, kHostBufControlDefault);
        else if (SysUnlockBuffer(device, Word(buffer)) != 0)
            im_msg_log_error(msg, HLC_ERR_NO_SYSTEM, "Cannot unlock buffer");
    }
    return kHostBufSend;
}

// ---- page-locking hooks ------------------------------------------------------------------------

int HostBufDescribe(uint32_t, uint32_t buffer, SysBufferInfo* info)
{
    const _MP_BUF_ST* b = Ptr<const _MP_BUF_ST>(buffer);
    // A predefined number (below the table's size) names no descriptor to read.
    if (buffer < kPredefEntries || !info) return -1;
    if (b->bands > kSysMaxBands || b->sizeY < 0) return -1;
    std::memset(info, 0, sizeof *info);
    const uint64_t length = uint64_t{b->pitch} * static_cast<uint32_t>(b->sizeY);
    if (length > 0xFFFFFFFFu) return -1;
    info->bands = b->bands;
    for (uint32_t i = 0; i < b->bands; ++i) {
        info->band[i].address = mp_buf_address_band_internal(b, i);
        info->band[i].length = static_cast<uint32_t>(length);
    }
    const _MP_BUF_ST* parent = mp_buf_parent(b);
    info->parent = parent ? parent->id : 0;
    return 0;
}

uint32_t HostBufAllocList(uint32_t system, uint32_t words, uint32_t lines, uint32_t** address)
{
    if (address) *address = nullptr;
    if (words == 0 || lines == 0 || words > 0x7FFFFFFFu / 4 || lines > 0x7FFFFFFFu) return 0;
    const uint32_t id = imBufAlloc(system, static_cast<int32_t>(words), static_cast<int32_t>(lines), 1, 32,
                                   kLocInline, nullptr);
    if (!id) return 0;
    _MP_BUF_ST* b = im_buf_descriptor(system, id);
    void* first = b ? mp_buf_address_band_internal(b, 0) : nullptr;
    // The list is written line after line without gaps.
    if (!first || b->pitch != words * 4) {
        imBufFree(system, id);
        return 0;
    }
    if (address) *address = static_cast<uint32_t*>(first);
    return id;
}

void HostBufFree(uint32_t system, uint32_t id)
{
    imBufFree(system, id);
}

void HostBufControl(uint32_t system, uint32_t id, int32_t control, double value)
{
    imBufControl(system, id, control, value);
}
