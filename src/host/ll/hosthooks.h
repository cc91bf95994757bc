// What the host platform layer needs from the library core, reached through tables of
// functions.  Each table starts as a built-in table (named below) that answers "no node",
// "no setting", prints to stderr and refuses buffers, so that the platform layer can run on
// its own; the library's wiring (HlcWireLibrary) puts the core's own functions in at
// library start-up.
//
// Thread contract of every table here: the tables are written only by the wiring (at
// library load and start-up, before any node is opened, under the wiring's own lock) and
// by HlcHookOverride in tests while no node thread runs; no lock guards the reads, which
// happen on any thread.  Each member's comment names the threads that call it.
#pragma once

#include "hlc_arch.h"
#include "device.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

// One entry of the shared DMA region table; the table ends with an entry whose physical
// address is 0.
struct _MP_DMA_REGION_ST {
    uint32_t id;        // service buffer id (0 when the service could not register it)
    uint32_t physical;
    uint32_t size;
    uint32_t user;      // host address of the region
};
static_assert(sizeof(_MP_DMA_REGION_ST) == 16, "DMA region entries are 16 bytes");

// The platform fields of a node record that this layer reads.
struct HlcNodeLink {
    uint32_t node = 0;
    DeviceHandle device = kInvalidDevice;          // node driver device
    DeviceOverlapped* overlapped = nullptr;        // node event record
    const _MP_DMA_REGION_ST* dmaRegions = nullptr; // shared DMA region table
    uint32_t primaryOrloRegs = 0;                  // mapped primary Orlo register window, 0 none
    uint32_t boardCache = 0;                       // the node state marks a board cache
    uint32_t displayOrloRegs = 0;                  // mapped display Orlo register window, 0 none
};

constexpr uint32_t kSysMaxBands = 16;

struct SysBufferBand {
    void* address;
    uint32_t length;    // bytes
};

// A host buffer as the page locking sees it.
struct SysBufferInfo {
    uint32_t bands;
    SysBufferBand band[kSysMaxBands];
    uint32_t parent;    // parent buffer id, 0 when the buffer has none
};

struct HlcHostHooks {
    // Any thread: the caller's, both interrupt threads, the node's tasks.  The record is
    // the calling thread's own copy, valid until its next call for the same node.
    HlcNodeLink* (*nodeLink)(uint32_t node);                                  // null: node not open
    // Any thread; the ini data is read only (loaded and freed under "MUTEX_imDev_").
    int (*iniReadInt)(uint32_t node, const char* key, int32_t* value);       // 0 when the setting exists
    // Any thread; the console pipe serialises the messages itself.
    void (*print)(const char* text);                                         // console message
    // Host buffers: the caller's thread of the page-locking functions.
    int (*describeBuffer)(uint32_t system, uint32_t buffer, SysBufferInfo* info);            // 0 ok
    uint32_t (*allocListBuffer)(uint32_t system, uint32_t words, uint32_t lines, uint32_t** address); // id, 0 failed
    void (*freeBuffer)(uint32_t system, uint32_t id);
    void (*controlBuffer)(uint32_t system, uint32_t id, int32_t control, double value);
};

// Replaces the whole table.  A table with a null member is refused: -1, and the current
// table stays; 0 when installed.
int HlcSetHostHooks(const HlcHostHooks& hooks);
const HlcHostHooks& HlcGetHostHooks();
// The built-in table that is in place until the library wires its own.
const HlcHostHooks& HlcBuiltinHostHooks();

// True when every member of a table of function pointers is set.
template <typename Table>
bool HlcEveryMemberSet(const Table& table)
{
    using Member = void (*)();
    static_assert(std::is_trivially_copyable<Table>::value && sizeof(Table) % sizeof(Member) == 0,
                  "a hook table holds function pointers only");
    Member members[sizeof(Table) / sizeof(Member)];
    std::memcpy(members, &table, sizeof table);
    for (Member m : members)
        if (!m) return false;
    return true;
}

// Replaces members of one installed table for as long as it lives, and puts the table it
// found back when it goes (tests: wire the library, then override single members):
//
//     HlcHostHookOverride host;            // copies the installed table into host.table
//     host.table.print = CapturePrint;
//     host.Install();
template <typename Table, const Table& (*Get)(), int (*Set)(const Table&)>
class HlcHookOverride {
public:
    HlcHookOverride() : table(Get()), saved_(Get()) {}
    ~HlcHookOverride() { Set(saved_); }
    HlcHookOverride(const HlcHookOverride&) = delete;
    HlcHookOverride& operator=(const HlcHookOverride&) = delete;
    // 0 when installed, -1 when the table has a member the setter refuses.
    int Install() { return Set(table); }
    Table table;

private:
    Table saved_;
};
using HlcHostHookOverride = HlcHookOverride<HlcHostHooks, HlcGetHostHooks, HlcSetHostHooks>;

// Formats a console message and hands it to the print hook.
void HlcPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ---- board bring-up, interrupt threads and node open ------------------------------------
//
// The node list, the node runtime on the interrupt process thread, the board processor's
// control words and the signal table belong to the library core.  The built-in table
// keeps no node list (every insert fails), runs no node runtime, binds no signals, and
// answers driver semaphores through the node's driver device.  Its board processor
// members (reset, start, lock) and the message handler are null, which means the
// built-in register sequences of bringup.cpp and no handler; the library's wiring sets
// every member.
//
// Threads: "open" members run on the caller of the node open or shut-down, which holds
// "MUTEX_imDev_"; "process" members on the node's interrupt process thread (its task
// kernel); "any" members on any thread.
struct _NODE_MAIN_RESOURCE_ST;
struct _NODE_ST;
struct _HALCYRA_HOOK_LIST;
struct _PCI_FOUND_DEVICE;

struct HlcBoardHooks {
    // node runtime: process
    int (*initNodeRuntime)(uint32_t node);                        // mp_init_halcyra: 0 ok
    // The node's runtime ends on its interrupt process thread when the thread stops: what
    // the start-up made for the node goes, then the thread's task kernel.
    void (*exitNodeRuntime)(uint32_t node);
    void (*exitTasking)();                                        // TaskExitTasking
    int (*setTaskPriority)(int priority);                         // TaskSetPriority: old priority
    // signal table (process and open) and driver semaphores (any)
    int32_t (*getSignal)(uint32_t node, uint32_t source);         // mp_interrupt_get_signal: -1 none
    void (*setSignal)(uint32_t node, uint32_t source, int32_t signal); // mp_interrupt_set_signal
    int (*takeSignalPending)(uint32_t node, uint32_t source);     // 1 when a pending count was taken
    int32_t (*semaCheck)(uint32_t node, int32_t signal);          // mp_sys_sema_check
    void (*semaReset)(uint32_t node, int32_t signal);             // mp_sys_sema_reset
    void (*semaSignal)(uint32_t node, int32_t signal);            // mp_sys_sema_signal
    // node list and node state: open (node list and node records change only there)
    _NODE_ST* (*hostNodeState)();                                 // imNodeSt
    _NODE_MAIN_RESOURCE_ST* (*nodeResource)(uint32_t node);       // mp_sys_node_resource_ptr
    // mp_sys_insert_node: adds a copy of the record (bit 31 of node: remote) with its
    // block to the node list and counts the open; 0 ok.
    int (*insertNode)(uint32_t node, _NODE_ST* block, const _NODE_MAIN_RESOURCE_ST* record);
    int (*removeNode)(uint32_t node);                             // mp_sys_remove_node: 0 ok
    int (*openedNodes)();                                         // mp_sys_opened_node
    void (*freeNodeResources)(_NODE_MAIN_RESOURCE_ST* record);    // predefined buffers and heaps
    // After the last node's shut-down: the global node state and its time-out table go.
    void (*releaseGlobalState)();
    // board processor (null: built-in register sequences): open
    void (*resetHaltBoard)(_NODE_MAIN_RESOURCE_ST* record);       // mp_sys_rst_hlt_board
    void (*startLocalCpu)(_NODE_MAIN_RESOURCE_ST* record);        // mp_sys_start_local_cpu
    int (*lockCheck)(_NODE_MAIN_RESOURCE_ST* record);             // mp_sys_lock_check
    void (*lockReset)(_NODE_MAIN_RESOURCE_ST* record);            // mp_sys_lock_reset
    int (*interruptSend)(uint32_t node);                          // mp_interrupt_send: 1 ok, -1 time-out
    uint32_t (*initInfo)(_NODE_MAIN_RESOURCE_ST* record, uint32_t what); // mp_inquire_init_info: 0 none
    uint32_t (*mvpToVirtual)(_NODE_MAIN_RESOURCE_ST* record, uint32_t address); // mp_util_mvp_to_virtual
    uint32_t (*pciToMvp)(uint32_t node, uint32_t address);        // mp_util_pci_to_mvp: 0 failed
    // board identity: open
    uint32_t (*externalBoardId)(_NODE_MAIN_RESOURCE_ST* record);  // mp_sys_external_board_id
    // mp_sys_get_product_id: the table matches bytes 4-6 of the found-device record and the
    // processor bit (bit 6 of the primary Orlo's status word)
    uint32_t (*productId)(const _PCI_FOUND_DEVICE* device, uint32_t processor);
    // mp_sys_get_board_mem_size: decodes the memory configuration value (byte for model 5)
    uint32_t (*boardMemSize)(uint32_t product, const void* config);
    void (*biosInfo)(_NODE_MAIN_RESOURCE_ST* record);             // mp_sys_get_bios_info
    // Hooks the board-to-host message handler on the node's board-to-host interrupt
    // (im_msg_hook_handler: source 33, or 65 without a primary Orlo); 0 hooked.  Null:
    // none.  Open.
    int (*hookMessageHandler)(uint32_t node);
    // time: any
    double (*timeout)(int entry);                                 // time-out table of imNodeSt, seconds
    void (*sleep)(double seconds);                                // mp_time_sleep
};

// Replaces the whole table.  A table with a null member other than the board processor
// members and the message handler is refused: -1, and the current table stays; 0 when
// installed.
int HlcSetBoardHooks(const HlcBoardHooks& hooks);
const HlcBoardHooks& HlcGetBoardHooks();
// The built-in table that is in place until the library wires its own.
const HlcBoardHooks& HlcBuiltinBoardHooks();
using HlcBoardHookOverride = HlcHookOverride<HlcBoardHooks, HlcGetBoardHooks, HlcSetBoardHooks>;
