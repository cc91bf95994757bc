// Node list and the node a task serves.
#include "nodelist.h"
#include "heap.h"
#include "task.h"

#include <cstring>

_NODE_ST* imNodeSt = nullptr;

_NODE_MAIN_RESOURCE_ST* mp_sys_own_record(_NODE_ST* block)
{
    if (!block) return nullptr;
    return &block->own;
}
static_assert(offsetof(_NODE_ST, own) == kNodeOwnRecordWord * 4 &&
                  kNodeOwnRecordWord * 4 + sizeof(_NODE_MAIN_RESOURCE_ST) == sizeof(_NODE_ST),
              "the own record ends the node state block");

namespace {

_NODE_MAIN_RESOURCE_ST* Head()
{
    return mp_sys_own_record(imNodeSt);
}

_NODE_MAIN_RESOURCE_ST* Find(uint32_t node)
{
    for (_NODE_MAIN_RESOURCE_ST* r = Head(); r; r = r->next)
        if (static_cast<uint32_t>(r->nodeNumber) == node) return r;
    return nullptr;
}

_NODE_MAIN_RESOURCE_ST* Last()
{
    _NODE_MAIN_RESOURCE_ST* r = Head();
    while (r && r->next) r = r->next;
    return r;
}

bool IsOwnRecord(_NODE_MAIN_RESOURCE_ST* r)
{
    return r->nodeState && r == mp_sys_own_record(r->nodeState);
}

void Append(_NODE_MAIN_RESOURCE_ST* record)
{
    _NODE_MAIN_RESOURCE_ST* last = Last();
    record->next = nullptr;
    record->previous = last;
    last->next = record;
}

} // namespace

_NODE_MAIN_RESOURCE_ST* mp_sys_node_resource_ptr(uint32_t node)
try {
    node &= ~kOwnRecordFlag;
    if (!imNodeSt || node == 0) return nullptr;
    if (node == 0x7FFFFFFFu) {
        // -1 with bit 31 cleared: the first record with a positive node number.
        for (_NODE_MAIN_RESOURCE_ST* r = Head(); r; r = r->next)
            if (r->nodeNumber > 0) return r;
        return nullptr;
    }
    return Find(node);
}
HLC_EXPORT_CATCH(mp_sys_node_resource_ptr)

int mp_sys_insert_node(uint32_t node, _NODE_ST* block)
{
    _NODE_MAIN_RESOURCE_ST* head = Head();
    if (!head) return 1;
    const bool own = (node & kOwnRecordFlag) != 0;
    node &= ~kOwnRecordFlag;
    if (node == 0) return 1;
    _NODE_MAIN_RESOURCE_ST* listed = Find(node);
    if (!own) {
        if (listed) return 0;
        if (head->nodeNumber == 0) {
            head->nodeNumber = static_cast<int32_t>(node);
            head->nodeState = block;
            return 0;
        }
        auto* r = static_cast<_NODE_MAIN_RESOURCE_ST*>(safe_memalign(sizeof(_NODE_MAIN_RESOURCE_ST)));
        if (!r) return 1;
        std::memset(static_cast<void*>(r), 0, sizeof *r);
        r->nodeNumber = static_cast<int32_t>(node);
        r->nodeState = block;
        Append(r);
        return 0;
    }
    if (listed) {
        // The count raised is that of the own record of the node's state block (the
        // chain it begins, walked back to its start): for a node whose block is a copy
        // made at bring-up, that record is not the listed one.
        _NODE_MAIN_RESOURCE_ST* start = listed->nodeState ? mp_sys_own_record(listed->nodeState) : listed;
        while (start->previous) start = start->previous;
        for (_NODE_MAIN_RESOURCE_ST* r = start; r; r = r->next) {
            if (r->nodeNumber == static_cast<int32_t>(node)) {
                ++r->openCount;
                return 0;
            }
        }
        ++listed->openCount;
        return 0;
    }
    if (head->nodeNumber == 0) {
        head->nodeNumber = static_cast<int32_t>(node);
        head->nodeState = block;
        head->openCount = 1;
        return 0;
    }
    _NODE_MAIN_RESOURCE_ST* r = mp_sys_own_record(block);
    if (!r || r == head) return 1;
    // The block may be a copy of another block: its own record's links are stale.
    r->nodeNumber = static_cast<int32_t>(node);
    r->nodeState = block;
    r->openCount = 1;
    Append(r);
    return 0;
}

int mp_sys_remove_node(uint32_t node)
{
    node &= ~kOwnRecordFlag;
    _NODE_MAIN_RESOURCE_ST* r = node ? Find(node) : nullptr;
    if (!r) return 1;
    if (r == Head()) {
        _NODE_MAIN_RESOURCE_ST* next = r->next;
        _MP_DMA_REGION_ST* table = r->dmaRegions;
        std::memset(static_cast<void*>(r), 0, sizeof *r);
        r->next = next;
        r->dmaRegions = table;
        return 0;
    }
    if (r->previous) r->previous->next = r->next;
    if (r->next) r->next->previous = r->previous;
    const bool own = IsOwnRecord(r);
    std::memset(static_cast<void*>(r), 0, sizeof *r);
    // An own record lives inside its node state block and goes with it.
    if (!own) safe_free(r);
    return 0;
}

int mp_sys_opened_node()
{
    int n = 0;
    for (_NODE_MAIN_RESOURCE_ST* r = Head(); r; r = r->next)
        if (r->nodeNumber && r->openCount) ++n;
    return n;
}

uint32_t mp_sys_this_node_id()
{
    void* argument = TaskGetTaskArg();
    if (!argument || argument == reinterpret_cast<void*>(-1)) return 0;
    return static_cast<uint32_t>(static_cast<const _NODE_MAIN_RESOURCE_ST*>(argument)->nodeNumber);
}

uint32_t mp_adr_porlo_reg(const _NODE_MAIN_RESOURCE_ST* record)
{
    return record ? record->primaryRegs : 0;
}
uint32_t mp_adr_porlo_extp(const _NODE_MAIN_RESOURCE_ST* record)
{
    return record ? record->primaryPort : 0;
}
uint32_t mp_adr_dorlo_reg(const _NODE_MAIN_RESOURCE_ST* record)
{
    return record ? record->displayRegs : 0;
}
uint32_t mp_adr_dorlo_extp(const _NODE_MAIN_RESOURCE_ST* record)
{
    return record ? record->displayPort : 0;
}
uint32_t mp_adr_pimbra_reg(const _NODE_MAIN_RESOURCE_ST*)
{
    return 0;
}

int32_t mp_util_sum(int32_t value)
{
    // Negative values count the bits of their two's-complement pattern.
    uint32_t v = static_cast<uint32_t>(value);
    int32_t n = 0;
    for (; v; v &= v - 1) ++n;
    return n;
}
