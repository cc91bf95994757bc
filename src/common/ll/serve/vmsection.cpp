// VM-port sections of copies and the numbering of the highest Orlo on a VM port.
#include "vmsection.h"

#include "bufid.h"
#include "dispops.h"
#include "hlc_errors.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "nodeopen.h"
#include "reqres.h"
#include "task.h"

#include <cstddef>
#include <initializer_list>

static_assert(offsetof(_NODE_ST, vmPortList) == kVmPortListByte && offsetof(_NODE_ST, vmNumbers) == kVmNumbersByte,
              "the VM-port lists at their bytes of the node state");

namespace {

constexpr int kReleasePriority = 27;
constexpr uint32_t kSectionPrimary = 8;
constexpr uint32_t kSectionDisplay = 16;

// Per node: the port was numbered once.  Read and written under the task-kernel mutex.
bool g_numbered[256];

const uint8_t* StateBytes(const _NODE_MAIN_RESOURCE_ST* record)
{
    return record && record->nodeState ? reinterpret_cast<const uint8_t*>(record->nodeState) : nullptr;
}

// Numbers the port of the resource's node: 0, or -1 when a joined node is not open.
int NumberPort(MP_RESOURCE_ST* resource, _NODE_MAIN_RESOURCE_ST* record)
{
    const uint8_t* bytes = StateBytes(record);
    if (!bytes) return 0;
    uint32_t smallest = 17;
    for (uint32_t i = 0; i < 16; ++i) {
        const uint8_t v = bytes[kVmNumbersByte + i];
        if (v && v < smallest) smallest = v;
    }
    const uint32_t node = static_cast<uint32_t>(record->nodeNumber) & 0xFF;
    TaskBeginMutex();
    const bool done = g_numbered[node];
    TaskEndMutex();
    if (smallest == 17 || done) return 0;
    uint32_t best = 0;
    int32_t highest = -1;
    findMaxId(record, &best, &highest);
    uint32_t last = node;
    for (uint32_t i = 0; i < 16 && bytes[kVmPortListByte + i]; ++i) {
        const uint32_t joined = bytes[kVmPortListByte + i];
        const _NODE_MAIN_RESOURCE_ST* other = mp_core_node_record(joined);
        if (!other || other->openCount <= 0) {
            // The joined node's Orlo cannot be reached: error -11 with the connection text.
            _mp_res_log_error(resource, HLC_ERR_TIMEOUT, kVmTextNoConnection);
            return -1;
        }
        findMaxId(other, &best, &highest);
        last = joined;
    }
    if (best) HwWrite32(best, kVmIdRegister, (smallest & 15) << 4);
    TaskBeginMutex();
    g_numbered[last & 0xFF] = true;
    TaskEndMutex();
    return 0;
}

}  // namespace

void findMaxId(const _NODE_MAIN_RESOURCE_ST* record, uint32_t* best, int32_t* highest)
{
    if (!record || !best || !highest) return;
    for (uint32_t block : {record->primaryRegs, record->displayRegs}) {
        if (!block) continue;
        const int32_t id = static_cast<int32_t>(HwRead32(block, kVmIdRegister) & 15);
        if (id > *highest) {
            *highest = id;
            *best = block;
        }
    }
}

uint32_t XferDisplayNodeFor(uint32_t node, const _MP_BUF_ST* buffer)
{
    node &= 0xFF;
    if (!buffer || buffer->location == kLocSdram || buffer->location == kLocHostDma) return node;
    const _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);
    if (!record || record->displayRegs) return node;
    // A node without a display Orlo shows its system's display: the first display node
    // of the system serves the buffer.  Without one the node stays.
    uint32_t display = 0;
    if (mp_disp_get_node_id(((node >> 4) & 0xF) - 1, 0, &display) != 0 || display == 0) return node;
    return display & 0xFF;
}

void actualBuf(const _MP_BUF_ST* buffer, uint32_t* node, uint32_t* kind)
{
    *kind = buffer->location == kLocSdram ? 0 : 1;
    *node = XferDisplayNodeFor(*node, buffer);
}

int mp_res_alloc_vm(MP_RESOURCE_ST* resource, const _MP_BUF_ST* buffer)
{
    if (!resource || !buffer) return -1;
    _NODE_MAIN_RESOURCE_ST* own = resource->record ? resource->record : mp_core_node_record(resource->node);
    if (NumberPort(resource, own) != 0) return -1;
    if (resource->vmCount >= 2) {
        _mp_res_log_error(resource, HLC_ERR_NO_RESOURCES, nullptr);
        return -1;
    }
    uint32_t node = buffer->node & 0xFF, kind = 0;
    actualBuf(buffer, &node, &kind);
    const uint32_t bits = buffer->location == kLocSdram && kind == 0 ? kSectionPrimary : kSectionDisplay;
    if (mp_sys_section_wait(node, bits) != 0) {
        _mp_res_log_error(resource, HLC_ERR_TIMEOUT, nullptr);
        return -1;
    }
    TaskBeginMutex();
    resource->vmNode[resource->vmCount] = node;
    resource->vmKind[resource->vmCount] = bits;
    ++resource->vmCount;
    TaskEndMutex();
    return 0;
}

void mp_res_free_vm(MP_RESOURCE_ST* resource)
{
    if (!resource || resource->vmCount == 0) return;
    const int old = TaskGetPriority();
    const bool raise = old >= 0 && old < kReleasePriority;
    if (raise) TaskSetPriority(kReleasePriority);
    while (resource->vmCount > 0) {
        TaskBeginMutex();
        const uint32_t i = --resource->vmCount;
        TaskEndMutex();
        if (i < 2) mp_sys_section_unlock(resource->vmNode[i], resource->vmKind[i]);
    }
    if (raise) TaskSetPriority(old);
    // The sections were taken after the copy semaphore; the copy ends here.
    const _NODE_MAIN_RESOURCE_ST* own = resource->record ? resource->record : mp_core_node_record(resource->node);
    if (own && own->nodeState && TaskValidateSema(own->nodeState->copySema))
        TaskSignalSema(own->nodeState->copySema);
}

void mp_res_vm_forget(uint32_t node)
{
    TaskBeginMutex();
    g_numbered[node & 0xFF] = false;
    TaskEndMutex();
}

const uint8_t* mp_res_vm_port_list(const _NODE_MAIN_RESOURCE_ST* record)
{
    return record && record->nodeState ? record->nodeState->vmPortList : nullptr;
}
