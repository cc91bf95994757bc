// Global node state, node runtime start-up and end, information blocks.
#include "nodeinit.h"

#include "bufid.h"
#include "cmdserver.h"
#include "consolepipe.h"
#include "heap.h"
#include "hostring.h"
#include "hwlock.h"
#include "im_msgio.h"
#include "intserver.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "predef.h"
#include "regaccess.h"
#include "reqres.h"
#include "sysutil.h"
#include "task.h"
#include "thread.h"
#include "timersrv.h"

#include "hwaccess.h"
#include "w32base.h"

#include <cstdlib>
#include <cstring>

const double kDefaultTimeouts[kTimeoutEntries] = {5.0, 5.0, 1.0, 15.0, 15.0, 15.0, 0.0, -1.0, 0.0, 0.0, 5.0};

namespace {

constexpr uint32_t kTimeoutTableBytes = kTimeoutEntries * sizeof(double);   // 88
constexpr uint32_t kTimeoutTableCleared = 128;
constexpr uint32_t kNodeStateCleared = 4992;
// Option bit of the primary Orlo: the board serves its communication ring itself.
constexpr uint32_t kOptionBoardServesRing = 0x40;
constexpr int kTimerServerPriority = 30;
constexpr int kRingServerPriority = 20;
constexpr uint32_t kNodeServerStack = 4096;

_NODE_ST* NodeState(uint32_t node)
{
    _NODE_MAIN_RESOURCE_ST* record = node ? mp_sys_node_resource_ptr(node & 0xFF) : nullptr;
    if (record && record->nodeState) return record->nodeState;
    return imNodeSt;
}

// The buffers the node's start-up and first open made outside its id table: predefined
// buffers of the node and the host-grab buffers of both Orlos.
void FreeNodeBuffers(uint32_t node, _NODE_MAIN_RESOURCE_ST* record)
{
    for (uint32_t& slot : PreDefBufAddress) {
        if (slot <= 1) continue;
        _MP_BUF_ST* buffer = reinterpret_cast<_MP_BUF_ST*>(static_cast<uintptr_t>(slot));
        if ((buffer->node & 0xFF) != node) continue;
        slot = 0;
        mp_buf_free(buffer);
    }
    if (!record) return;
    for (uint32_t orlo = 0; orlo < 2; ++orlo) {
        SERVINFO_ST* state = mp_servinfo(record, orlo);
        for (uint32_t& buffer : state->hostGrab) {
            mp_buf_free(reinterpret_cast<_MP_BUF_ST*>(static_cast<uintptr_t>(buffer)));
            buffer = 0;
        }
        // The channels' completion events, made by the end-of-grab server.
        for (uint32_t c = 0; c < kServSlots; ++c) {
            uint32_t& event = state->slot(c, kSlotDoneEvent);
            if (event) CloseHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(event)));
            event = 0;
        }
    }
}

} // namespace

// ---------------------------------------------------------------- global state

int mp_init_global()
{
    // The application calls make the global state from any thread, a node open under the
    // open mutex: the kernel critical section makes the check and the making one step.
    TaskBeginMutex();
    if (imNodeSt) {
        TaskEndMutex();
        return 1;
    }
    auto* block = static_cast<_NODE_ST*>(safe_memalign(kNodeStateCleared));
    auto* timeouts = block ? static_cast<double*>(safe_memalign(kTimeoutTableCleared)) : nullptr;
    if (!timeouts) {
        safe_free(block);
        TaskEndMutex();
        return 0;
    }
    std::memset(static_cast<void*>(block), 0, kNodeStateCleared);
    std::memset(timeouts, 0, kTimeoutTableCleared);
    static_assert(kTimeoutTableBytes <= kTimeoutTableCleared, "the table fits what is cleared");
    std::memcpy(timeouts, kDefaultTimeouts, kTimeoutTableBytes);
    block->timeouts = timeouts;
    std::memset(PreDefBufAddress, 0, sizeof(PreDefBufAddress));
    // The last error starts empty; the application's error hook stays installed.
    const ImErrorHook hook = im_Application.hook;
    const uint32_t user = im_Application.hookUser;
    im_msg_reset_application();
    im_Application.hook = hook;
    im_Application.hookUser = user;
    imNodeSt = block;
    TaskEndMutex();
    return 1;
}

void mp_exit_global()
{
    _NODE_ST* block = imNodeSt;
    if (!block) return;
    imNodeSt = nullptr;
    safe_free(block->timeouts);
    block->timeouts = nullptr;
    safe_free(block);
}

// ---------------------------------------------------------------- node runtime

void mp_init_shell(uint32_t node)
{
    if (!imNodeSt) return;
    imNodeSt->shellSemasConsidered = 1;
    if (imNodeSt->cpuFrequency == 0) imNodeSt->cpuFrequency = SysCpuFreq();
    _NODE_ST* state = NodeState(node);
    if (state->started) return;
    state->bufferSema = TaskOpenSema(-1, 1);
    state->protectSema = TaskOpenSema(-1, 1);
    state->copySema = TaskOpenSema(-1, 1);
}

void mp_init_server(uint32_t node)
{
    _NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(node & 0xFF);
    if (!record) return;
    const int32_t timer = TaskCreate(kTaskAnyHandle, MpTimerServer, record, kTimerServerPriority, kNodeServerStack);
    if (timer != -1) TaskResume(timer);
    const bool boardServesRing =
        record->primaryRegs && (HwRead32(record->primaryRegs, kOrloStatus) & kOptionBoardServesRing);
    if (boardServesRing) return;
    const int32_t ring = TaskCreate(kTaskAnyHandle, MpNimServer, record, kRingServerPriority, kNodeServerStack);
    if (ring != -1) TaskResume(ring);
}

int mp_init_halcyra(uint32_t node)
{
    node &= 0xFF;
    if (node == 0) return (imNodeSt || mp_init_global()) ? 0 : -1;
    TaskInitTasking();
    safe_mem_init();
    if (!imNodeSt) {
        mp_init_global();
        mp_init_shell(node);
        return imNodeSt ? 0 : -1;
    }
    mp_init_sdram_heap(node);
    mp_init_shell(node);
    mp_interrupt_alloc(node);
    mp_res_init(node);
    mp_buf_init(node, 100, 50);
    _NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(node);
    if (!record) return -1;
    const bool hostServed = !record->nodeState || !record->nodeState->started;
    // A host-served node's block began as a copy of the global one, whose word 31 is the
    // host's CPU frequency; the node's own word 31 is its board timer frequency, which the
    // timer server sets to the Orlo timer's 50 MHz when it finds 0.
    if (hostServed && record->nodeState && record->nodeState != imNodeSt) record->nodeState->cpuFrequency = 0;
    if (hostServed && mp_init_comm_ring(record) != 0) {
        im_print_msg(0, "\nHlcLib could not allocate the communication ring of node 0x%lx\n",
                     static_cast<unsigned long>(node));
        return -1;
    }
    if (mp_init_predef_buffers(node, node) != 0) {
        // The node answers nothing: no server starts, and the open's handshake fails.
        mp_free_predef_buffers(node);
        mp_free_comm_ring(record);
        return -1;
    }
    mp_init_server(node);
    return 0;
}

void mp_exit_halcyra(uint32_t node)
{
    node &= 0xFF;
    _NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(node);
    if (TaskTaskingState()) {
        mp_thr_destroy_node(node);
        FreeNodeBuffers(node, record);
        mp_free_predef_buffers(node);
        mp_buf_exit_node(node);
    }
    if (record) {
        FreeHwRegCtrl(record);
        safe_free(record->orloState);
        record->orloState = nullptr;
    }
    // No sender reaches the ring any more: the node is being shut down under the open
    // mutex and its interrupt threads are stopping.
    mp_free_comm_ring(record);
    TaskExitTasking();
}

// ---------------------------------------------------------------- information blocks

uint32_t mp_inquire_init_info(_NODE_MAIN_RESOURCE_ST* record, uint32_t type)
{
    if (!record || !record->primaryMemory || type < 1 || type > 10) return 0;
    const _NODE_ST* state = record->nodeState ? record->nodeState : imNodeSt;
    if (!state || !state->orlo[0].memorySize) return 0;
    const uint32_t size = state->orlo[0].memorySize;
    const uint32_t end = record->primaryMemory + size;
    // The offset (stored 96 bytes before the window's end) leads from the end back into
    // the window; a block outside it is no block.
    const uint32_t block = end + HwRead32(record->primaryMemory, size - 96);
    if (block - record->primaryMemory >= size - 4 * 13) return 0;
    auto word = [&](uint32_t i) { return HwRead32(block, 4 * i); };
    auto host = [&](uint32_t value) {
        const uint32_t converted = mp_util_mvp_to_virtual(static_cast<uint32_t>(record->nodeNumber) & 0xFF, value);
        return converted ? converted : value + end;
    };
    switch (type) {
    case 1: return block;
    case 8: return word(6);
    case 9: return host(word(10));
    case 10: return host(word(12));
    default: return 0;
    }
}

uint32_t mp_inquire_node_info(uint32_t node, uint32_t type)
{
    const _NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(node & 0xFF);
    if (!record) return 0;
    switch (type) {
    case 1: return record->doorbellArea;
    case 2: return record->commRing;
    case 3: return record->ringHeader;
    case 6: return static_cast<uint32_t>(record->nodeNumber);
    default: return 0;
    }
}
