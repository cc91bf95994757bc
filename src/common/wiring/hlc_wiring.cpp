#include "hlc_wiring.h"
#include "wiring_parts.h"

#include "bitblt.h"
#include "bufcopy.h"
#include "buffiles.h"
#include "bufhandlers.h"
#include "camhandlers.h"
#include "camdispatch.h"
#include "camera.h"
#include "kvxbank.h"
#include "kvxgrab.h"
#include "consolepipe.h"
#include "hostbuf.h"
#include "imbuf.h"
#include "imsys.h"
#include "mp_msg.h"
#include "devhandlers.h"
#include "disphandlers.h"
#include "syshandlers.h"
#include "halcyraini.h"
#include "hosthooks.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "im_msgio.h"
#include "nodeinit.h"
#include "nodelist.h"
#include "pcicopy.h"
#include "procstubs.h"
#include "syncobj.h"
#include "task.h"
#include "thread.h"
#include "timersrv.h"
#include "w32thread.h"
#include "vmcopy.h"
#include "vmsection.h"

#include <mutex>

namespace {

// ---- host table ---------------------------------------------------------------------------

// The platform view of a listed node.
HlcNodeLink* NodeLink(uint32_t node)
{
    const _NODE_MAIN_RESOURCE_ST* record = HlcListedRecord(node);
    if (!record) return nullptr;
    HlcNodeLink& link = HlcThreadView<HlcNodeLink>(node);
    link.node = node & 0xFF;
    link.device = record->device;
    link.overlapped = record->nodeEvent;
    // The shared region table is kept in the list head; a node record may carry a copy.
    link.dmaRegions = record->dmaRegions;
    if (!link.dmaRegions && imNodeSt) link.dmaRegions = mp_sys_own_record(imNodeSt)->dmaRegions;
    link.primaryOrloRegs = record->primaryRegs;
    link.displayOrloRegs = record->displayRegs;
    // No word of the node state marks a board cache yet: no cache to flush.
    link.boardCache = 0;
    return &link;
}

int IniReadInt(uint32_t node, const char* key, int32_t* value)
{
    uint32_t word = 0;
    if (!key || HalcyraIniReadTag(node, key, &word) != 1) return -1;
    if (value) *value = static_cast<int32_t>(word);
    return 0;
}

void PrintToConsole(const char* text)
{
    if (text) im_print_msg(0, "%s", text);
}

HlcHostHooks LibraryHostHooks()
{
    HlcHostHooks h{};
    h.nodeLink = NodeLink;
    h.iniReadInt = IniReadInt;
    h.print = PrintToConsole;
    h.describeBuffer = HostBufDescribe;
    h.allocListBuffer = HostBufAllocList;
    h.freeBuffer = HostBufFree;
    h.controlBuffer = HostBufControl;
    return h;
}

// ---- board table --------------------------------------------------------------------------

void ExitTasking()
{
    TaskExitTasking();
}

int32_t SemaCheck(uint32_t node, int32_t signal)
{
    return mp_sys_sema_check(node, static_cast<uint32_t>(signal));
}
void SemaReset(uint32_t node, int32_t signal)
{
    mp_sys_sema_reset(node, static_cast<uint32_t>(signal));
}
void SemaSignal(uint32_t node, int32_t signal)
{
    mp_sys_sema_signal(node, static_cast<uint32_t>(signal));
}

uint32_t MvpToVirtual(_NODE_MAIN_RESOURCE_ST* record, uint32_t address)
{
    const uint32_t node = record ? static_cast<uint32_t>(record->nodeNumber) & 0xFF : 0;
    return mp_util_mvp_to_virtual(node, address);
}

// Members whose library function stands elsewhere in the core (node list, board queries,
// board processor, address conversion, lock, doorbell, signals and sleep) are filled by
// the core's own installers after this table.
HlcBoardHooks LibraryBoardHooks()
{
    const HlcBoardHooks& builtin = HlcBuiltinBoardHooks();
    HlcBoardHooks h = builtin;
    h.initNodeRuntime = mp_init_halcyra;
    h.exitNodeRuntime = HlcExitNodeRuntime;
    h.releaseGlobalState = mp_exit_global;
    h.initInfo = mp_inquire_init_info;
    h.exitTasking = ExitTasking;
    h.setTaskPriority = TaskSetPriority;
    h.semaCheck = SemaCheck;
    h.semaReset = SemaReset;
    h.semaSignal = SemaSignal;
    h.mvpToVirtual = MvpToVirtual;
    h.hookMessageHandler = im_msg_hook_handler;
    h.timeout = mp_sys_timeout;
    return h;
}

// ---- timer server -------------------------------------------------------------------------

int32_t TimerSignal(void* nodeRecord, int source)
{
    const auto* record = static_cast<const _NODE_MAIN_RESOURCE_ST*>(nodeRecord);
    return mp_interrupt_get_signal(static_cast<uint32_t>(record->nodeNumber) & 0xFF, static_cast<uint32_t>(source));
}

bool TimerNode(void* nodeRecord, TimerServerNode* node)
{
    auto* record = static_cast<_NODE_MAIN_RESOURCE_ST*>(nodeRecord);
    if (!record || !record->nodeState || !node) return false;
    _NODE_ST* state = record->nodeState;
    node->frequency = &state->cpuFrequency;
    node->primaryPresent = state->orlo[0].present != 0;
    node->displayPresent = state->orlo[1].present != 0;
    node->primaryRegisters = record->primaryRegs;
    node->displayRegisters = record->displayRegs;
    node->primaryTickCounter = &record->primaryTimerTicks;
    node->primaryPendingTicks = &state->pendingTimerTicks[0];
    node->displayTickCounter = &record->displayTimerTicks;
    node->displayPendingTicks = &state->pendingTimerTicks[1];
    node->timerRunning = &state->timerRunning;
    node->getSignal = TimerSignal;
    node->resetPreviousTime = mp_time_reset_prev_time;
    return true;
}

// ---- ini rewrite probe --------------------------------------------------------------------

// What the ini reader needs of a node open before its first PCI access is the library's
// global start-up; a full open of the out-of-range pair (14, 14) would only leave an
// error in the last-error record that the caller never caused.
int GlobalStartUp(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t* id)
{
    if (id) *id = 0;
    return mp_init_halcyra(0);
}

void InstallIniProbe()
{
    // Opening and shutting a node down for probing stay with the probe's own driver
    // access (null keeps them) until the library's communication opener exists.
    HalcyraIniProbe probe{};
    probe.open = nullptr;
    probe.shutdown = nullptr;
    probe.productId = mp_sys_get_product_id;
    probe.displayMode = HlcLibraryDisplayMode;
    probe.sleep = mp_time_sleep;
    probe.devAlloc = GlobalStartUp;
    HalcyraIniSetProbe(&probe);
}

// The buffer file exports work through the buffer exports, which marshal to the node.
void InstallBufferFiles()
{
    ImBufFileOps ops{};
    ops.descriptor = im_buf_descriptor;
    ops.get = imBufGet;
    ops.put2d = imBufPut2d;
    ops.alloc = imBufAlloc;
    ops.free = imBufFree;
    ops.getNextField = imBufGetNextField;
    ops.putField = imBufPutField;
    im_buf_files_set_ops(&ops);
}

// The message layer's reply wait dumps the ring through the system export after a
// communication time-out.
int SysDiagForReplyWait(uint32_t system, uint32_t board, uint32_t mode, const char* file)
{
    // The dump beside a time-out files nothing of its own: the time-out is the error.
    im_sys_diag_dump(static_cast<int32_t>(system), static_cast<int32_t>(board), static_cast<int32_t>(mode), file);
    return 0;
}

void InstallMessageHooks()
{
    const ImMsgHooks hooks{SysDiagForReplyWait};
    im_msg_set_hooks(&hooks);
}

std::mutex g_wiring;

// Loading the library, or starting a program that links the wiring, wires it (the
// wiring's part makes every program that links it take this file, CMakeLists.txt).
const bool g_wiredAtLoad = (HlcWireLibrary(), true);

} // namespace

void HlcWireLibrary()
{
    std::lock_guard<std::mutex> lock(g_wiring);
    HlcSetHostHooks(LibraryHostHooks());
    HlcSetBoardHooks(LibraryBoardHooks());
    mp_sys_install_board_hooks();
    HlcInstallCoreLockHooks();
    HlcSetDisplayHooks(HlcLibraryDisplayHooks());
    InstallIniProbe();
    im_set_spin_sleep(mp_time_sleep);
    mp_proc_install();
    mp_sync_install();
    mp_thread_install();
    mp_dev_install();
    mp_sys_install();
    InstallMessageHooks();
    mp_buf_install();
    mp_buf_install_remote();
    mp_cam_install();
    mp_disp_install();
    mp_bufcopy_install();
    mp_pcicopy_install();
    mp_bufcopy_set_bitblt(mpBufCopyBitBltDisplay);
    mp_vmcopy_install();
    mp_bufcopy_set_vm_ports(mp_res_vm_port_list);
    InstallBufferFiles();
    HlcSetExportRecorder(im_msg_record_export_failure);
    mpPrvWireGrabModules();
    TimerSetServerNodeHook(TimerNode);
    SetBlockingHook(HwHostWaits);
}

void HlcExitNodeRuntime(uint32_t node)
{
    if (_NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(node & 0xFF))
        if (record->nodeState) mpPrvFreeCamUartArea(&record->nodeState->nodeInfo);
    mpPrvKvxGrabFree(node);
    mpPrvKvxFree(node & 0xFF);
    mp_exit_halcyra(node);
}

