// Host handlers of the system commands (clock, time stamp, memory map).
#include "syshandlers.h"

#include "bufchild.h"
#include "bufid.h"
#include "cmdserver.h"
#include "heap.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "nodeopen.h"
#include "reqres.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kHeaps = 6;
constexpr uint32_t kMiB = 0x100000;

void PutReplyDouble(_MSG_BODY_ST* msg, uint32_t slot, double value)
{
    std::memcpy(msg->param[slot], &value, 8);
    if ((msg->counts >> 16) < slot + 1) msg->counts = (msg->counts & 0xFFFF) | ((slot + 1) << 16);
}

void PutReplyLong(_MSG_BODY_ST* msg, uint32_t slot, int32_t value)
{
    mp_msg_put_reply(msg, slot, static_cast<uint32_t>(value));
}

uint32_t Address(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

// Gives the finished map its id and replies (id, lines); without an id the map goes and
// the reply is 0.
void ReplyWithMap(MP_RESOURCE_ST* res, _MSG_BODY_ST* msg, _MP_BUF_ST* map, uint32_t lines)
{
    if (!mp_buf_alloc_id(map)) {
        _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
        mp_buf_free(map);
        PutReplyLong(msg, 0, 0);
        return;
    }
    mp_buf_flush_buf_st();
    PutReplyLong(msg, 0, static_cast<int32_t>(map->id));
    PutReplyLong(msg, 1, static_cast<int32_t>(lines));
}

// The number of allocated blocks of a heap.  The caller holds the memory lock.
uint32_t CountUsedBlocks(const heap* h)
{
    return static_cast<uint32_t>(mp_sys_used_block_pairs(h, 0, nullptr, 0xFFFFFFFFu));
}

// Mode 2: the used blocks as {first, last} pairs in a new 2 x N buffer of 32-bit values.
void UsedBlockMap(MP_RESOURCE_ST* res, _MSG_BODY_ST* msg, heap* h)
{
    mp_mem_lock();
    const uint32_t count = CountUsedBlocks(h);
    mp_mem_unlock();
    // A map of no blocks still gets a line, so that it can have an id.
    _MP_BUF_ST* map = mp_buf_alloc_on_node(res->node, 2, static_cast<int32_t>(std::max(count, 1u)), 1, 32, kLocInline);
    auto* out = map ? static_cast<uint32_t*>(mp_buf_address_band_internal(map, 0)) : nullptr;
    if (!out) {
        if (map) mp_buf_free(map);
        _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
        PutReplyLong(msg, 0, 0);
        return;
    }
    // The buffer has room for `count` pairs: a heap that gained blocks since they were
    // counted is reported, never written past the buffer's end.  The map's own block
    // (its descriptor and band lie in one block) is not listed.
    mp_mem_lock();
    const int32_t written = mp_sys_used_block_pairs(h, Address(map), out, count);
    mp_mem_unlock();
    if (written != static_cast<int32_t>(count)) {
        _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, "Got more used buffer");
        mp_buf_free(map);
        PutReplyLong(msg, 0, -1);
        return;
    }
    ReplyWithMap(res, msg, map, count);
}

// One line of mode 3 for a descriptor.
void DescriptorLine(const _MP_BUF_ST* b, double* line)
{
    uint32_t k = 0;
    line[k++] = b->id;
    line[k++] = b->node & 0x7FFFFFFFu;
    line[k++] = b->owner;
    line[k++] = b->type;
    line[k++] = b->kind;
    line[k++] = b->sizeX;
    line[k++] = b->sizeY;
    line[k++] = b->bits;
    line[k++] = b->pitch;
    line[k++] = b->bands;
    line[k++] = b->location;
    line[k++] = b->firstBand;
    line[k++] = b->parent ? static_cast<double>(mp_buf_ref_to_id(b->parent)) : -1.0;
    line[k++] = b->offsetX;
    line[k++] = b->offsetY;
    line[k++] = b->children;
    line[k++] = b->fieldCount;
    uint32_t fields = 0;
    for (const _MP_FIELD_ST* f = mp_buf_field(b); f && fields < b->fieldCount; f = mp_buf_field_link(b, f), ++fields) {
        line[k++] = f->key;
        line[k++] = mp_buf_field_value(f);
    }
    k = kMemMapFixedValues + 2 * fields;
    for (uint32_t i = 0; i < b->bands && b->bandTable; ++i) line[k++] = b->bandTable[i].mapped;
}

// Mode 3: one line per slot of the node's id table.
void DescriptorMap(MP_RESOURCE_ST* res, _MSG_BODY_ST* msg)
{
    const uint32_t slots = mp_buf_id_slots(res->node);
    uint32_t maxBands = 0, maxFields = 0;
    for (uint32_t s = 0; s < slots; ++s) {
        const _MP_BUF_ST* b = mp_buf_id_slot(res->node, s);
        if (!b) continue;
        maxBands = std::max(maxBands, b->bandTable ? b->bands : 0u);
        maxFields = std::max(maxFields, b->fieldCount);
    }
    const uint32_t width = maxBands + 2 * maxFields + kMemMapFixedValues;
    _MP_BUF_ST* map = mp_buf_alloc_on_node(res->node, static_cast<int32_t>(width), static_cast<int32_t>(slots), 1,
                                           kMemMapTableType, kLocInline);
    auto* out = map ? static_cast<uint8_t*>(mp_buf_address_band_internal(map, 0)) : nullptr;
    if (!out) {
        if (map) mp_buf_free(map);
        _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
        PutReplyLong(msg, 0, 0);
        return;
    }
    std::vector<double> line(width);
    for (uint32_t s = 0; s < slots; ++s) {
        std::fill(line.begin(), line.end(), 0.0);
        const _MP_BUF_ST* b = mp_buf_id_slot(res->node, s);
        // A descriptor that grew fields or bands since the widths were taken is cut to
        // the line.
        if (!b || b->fieldCount > maxFields || (b->bandTable && b->bands > maxBands)) {
            line[0] = -1.0;
        } else {
            DescriptorLine(b, line.data());
        }
        std::memcpy(out + s * map->pitch, line.data(), width * sizeof(double));
    }
    ReplyWithMap(res, msg, map, slots);
}

} // namespace

int32_t mp_sys_used_block_pairs(const heap* h, uint32_t skip, uint32_t* out, uint32_t room)
{
    if (!h || !h->pool || h->capacity == 0) return 0;
    uint32_t written = 0;
    // The address chain has at most one header per pool entry.
    int32_t i = 0;
    for (uint32_t steps = 0; i >= 0 && static_cast<uint32_t>(i) < h->capacity && steps < h->capacity; ++steps) {
        const _MP_MEM_BLOCK& b = h->pool[i];
        i = b.nextAddress;
        if (b.state != kBlockAllocated || (skip && skip >= b.start && skip < b.end)) continue;
        if (written == room) return -1;
        if (out) {
            out[2 * written] = b.start;
            out[2 * written + 1] = b.end - 1;
        }
        ++written;
    }
    return static_cast<int32_t>(written);
}

void mp_SysClock(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "SysClock");
    if (mp_res_ok(res)) PutReplyDouble(msg, 0, mp_time_clock(mp_msg_param_double(msg, 0)));
    mp_res_free(res);
}

void mp_SysTimeStamp(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "SysTimeStamp");
    if (mp_res_ok(res)) {
        _MP_BUF_ST* buffer = mp_buf_pointer(mp_msg_param(msg, 0));
        const uint32_t key = mp_msg_param(msg, 1);
        const double start = mp_msg_param_double(msg, 2);
        if (mp_buf_valid(buffer, kBufKindImage))
            mp_buf_put_field(buffer, key, mp_time_clock(start));
        else
            _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
    }
    mp_res_free(res);
}

void mp_GetMemoryMap(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "getMemory");
    if (mp_res_ok(res)) {
        const uint32_t index = mp_msg_param(msg, 0);
        const uint32_t mode = mp_msg_param(msg, 1);
        _NODE_MAIN_RESOURCE_ST* record = res->record;
        heap* h = record && index < kHeaps ? record->heaps[index] : nullptr;
        if (!h) {
            // The code is that of "No such system", the text the heap's own.
            _mp_res_log_error(res, HLC_ERR_NO_SYSTEM, "Invalid heap");
            PutReplyLong(msg, 0, 0);
        } else if (mp_buf_id_slots(res->node) == 0) {
            // No buffer-id table: nothing to map with.
        } else if (mode == kMemMapWindowSize) {
            const uint32_t window = record->nodeState ? record->nodeState->orlo[0].memorySize : 0;
            PutReplyLong(msg, 0, static_cast<int32_t>((window + 4096) & ~(kMiB - 1)));
        } else if (mode == kMemMapUsedBlocks) {
            UsedBlockMap(res, msg, h);
        } else if (mode == kMemMapDescriptors) {
            DescriptorMap(res, msg);
        }
    }
    mp_res_free(res);
}

void mp_sys_install()
{
    mp_server_set_handler(kOpSysClock, mp_SysClock);
    mp_server_set_handler(kOpGetMemoryMap, mp_GetMemoryMap);
    mp_server_set_handler(kOpSysTimeStamp, mp_SysTimeStamp);
}
