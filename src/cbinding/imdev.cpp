// Device exports: opening a node (global start-up, board bring-up, the doorbell handshake,
// the FPGA and the three "DevAlloc" phases), closing it, inquiry and control.
#include "imdev.h"
#include "imdisp.h"

#include "bringup.h"
#include "devhandlers.h"
#include "digitizers.h"
#include "fpgaload.h"
#include "halcyraini.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "heap.h"
#include "inthooks.h"
#include "im_msgio.h"
#include "im_param.h"
#include "nodeinit.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "qvlservice.h"
#include "regaccess.h"
#include "shellload.h"
#include "w32sync.h"
#include "w32thread.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kSystemThread = 0x40000010u;
constexpr uint32_t kMaxIndex = 14;
constexpr const char* kOpenMutex = "MUTEX_imDev_";

// Bring-up results of the scratch record's word 0.
constexpr int32_t kIniMissing = kBringUpIniMissing;
constexpr int32_t kProcessorIgnored = kBringUpProcessorIgnored;
constexpr int32_t kHostServes = kBringUpHostServes;
constexpr int32_t kNoNode = -2;
constexpr int32_t kNoCommunication = kBringUpFailed;

const char* LoadText(int32_t code)
{
    switch (code) {
    case 1: return "LDFPGA: Unable to open file";
    case 2: return "LDFPGA: Unable to allocate enough memory to hold fpga data in memory";
    case 4: return "LDFPGA: File not found or invalid file";
    case 8: return "LDFPGA: Invalid NodeId";
    case 16: return "LDFPGA: FPGA on external port defective";
    default: return nullptr;
    }
}

// The system-wide open mutex, taken with the communication time-out.
class OpenLock {
public:
    OpenLock() : handle_(CreateMutexA(FALSE, kOpenMutex))
    {
        if (!handle_) return;
        const double seconds = mp_sys_timeout(3);
        const DWORD ms = seconds >= 4294967.0 ? INFINITE : static_cast<DWORD>(seconds * 1000.0);
        // A holder whose process ended without releasing leaves the mutex to this wait:
        // it is held then too, and must be released like any other.
        const DWORD waited = WaitForSingleObject(handle_, ms);
        held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~OpenLock()
    {
        if (held_) ReleaseMutex(handle_);
        if (handle_) CloseHandle(handle_);
    }
    OpenLock(const OpenLock&) = delete;
    OpenLock& operator=(const OpenLock&) = delete;
    bool created() const { return handle_ != nullptr; }
    bool held() const { return held_; }

private:
    HANDLE handle_;
    bool held_ = false;
};

// Sends one "DevAlloc" phase to the node's system thread and returns reply parameter 0
// (0 on any error, which the message keeps).
uint32_t Phase(_MSG_ST* msg, uint32_t node, uint32_t phase, uint32_t value, uint32_t option)
{
    im_msg_start(msg, kOpDevAlloc, 4, "imDevAlloc");
    im_msg_put_long(msg, 0, static_cast<int32_t>(phase));
    im_msg_put_long(msg, 1, static_cast<int32_t>(value));
    im_msg_put_long(msg, 2, static_cast<int32_t>(option));
    im_msg_put_long(msg, 3, 0);
    im_msg_send(msg, (node & 0xFF) << 16, kSystemThread | ((node & 0xFF) << 16), 0, IM_SYNC_POLL);
    return im_msg_cmd_error(msg) == 0 ? static_cast<uint32_t>(im_msg_get_long(msg, 0)) : 0;
}

// The open count of the node's own record in its state block (1 on the first open).
int32_t OwnOpenCount(uint32_t node)
{
    const _NODE_MAIN_RESOURCE_ST* listed = mp_sys_node_resource_ptr(node & 0xFF);
    if (!listed) return 0;
    const _NODE_MAIN_RESOURCE_ST* own = listed->nodeState ? mp_sys_own_record(listed->nodeState) : listed;
    return own->openCount;
}

void SelectRegisterControl(uint32_t node)
{
    if (_NODE_MAIN_RESOURCE_ST* r = mp_sys_node_resource_ptr(node & 0xFF)) SetHwRegCtrlPtr(r, nullptr);
}

// Waits for node threads that a shut-down of the node gave up on (in real slices: on a
// loaded machine their teardown may take far longer than the stop wait, while the library
// clock may be virtual) and then completes that shut-down.  False when they are still
// running after the wait: the node's records and the process state then stay theirs.
bool FinishGivenUpShutDown(uint32_t node)
{
    constexpr DWORD kSliceMs = 20;
    constexpr int kSlices = 1500;   // 30 s
    if (HalcyraNodeThreadsLeft(node) == 0) return true;
    for (int i = 0; i < kSlices && HalcyraNodeThreadsLeft(node) > 0; ++i) Sleep(kSliceMs);
    if (HalcyraNodeThreadsLeft(node) > 0) return false;
    // The shut-down stopped at those threads and left the node listed, its count as it was.
    if (mp_sys_node_resource_ptr(node)) im_board_shutdown(node << 16);
    return true;
}

// After a failed open that leaves no node open in the process: what the bring-up took for
// the whole process goes as at the last shut-down (ini data, the shell loader's state, the
// mapped DMA regions, the process token and the board list), then the global state.  A
// failure before the node was listed has no shut-down of its own; whatever was kept would
// be used by the next open, the region table's mappings even after the kernel service let
// the regions go.
// Mend: state freed under a node thread that outlived the stop wait crashed it; none is freed while one is left.
void ReleaseProcessStateOfAFailedOpen(uint32_t node)
{
    if (!FinishGivenUpShutDown(node) || HalcyraNodeThreadsLeft(0) > 0) return;
    if (mp_sys_opened_node() != 0) return;
    HalcyraIniFree(nullptr);
    LdShellToLocalCpu(node, nullptr, 0, 0, 0, nullptr);
    HlcFreeDmaRegionTable();
    HlcCloseProcessShared();
    mp_exit_global();
}

} // namespace

int32_t im_open_communication(uint32_t system, uint32_t board, uint32_t initMode, uint32_t loadOption,
                              _NODE_MAIN_RESOURCE_ST* scratch)
{
    mp_init_halcyra(0);
    const int32_t r = im_board_init(system, board, nullptr, initMode, scratch);
    const uint32_t node = HlcNodeNumber(system, board);
    if (r > 0) {
        _NODE_MAIN_RESOURCE_ST* listed = mp_sys_node_resource_ptr(node);
        _NODE_ST* state = listed ? listed->nodeState : nullptr;
        if (state && HlcNodeCommState(state) == 1) return 0;
        const bool handshake = mp_interrupt_send(node) == 1 && mp_interrupt_wait(node) > 0 &&
                               mp_interrupt_wait(node) > 0 && state && HlcNodeCommState(state) == 1;
        if (!handshake) {
            scratch->nodeNumber = kNoCommunication;
            return kNoCommunication;
        }
        return static_cast<int32_t>(mp_sys_load_fpga(node, nullptr, loadOption));
    }
    if (r == kNoCommunication || r == kIniMissing) {
        scratch->nodeNumber = r;
        return r;
    }
    if (r == kHostServes || r == kProcessorIgnored) {
        scratch->nodeNumber = r;
        const _NODE_MAIN_RESOURCE_ST* listed = mp_sys_node_resource_ptr(node);
        if (listed && listed->openCount == -1) return r;
        const uint32_t code = mp_sys_load_fpga(node, nullptr, loadOption);
        return code ? static_cast<int32_t>(code) : r;
    }
    scratch->nodeNumber = kNoCommunication;
    return kNoCommunication;
}

uint32_t imDevAlloc(uint32_t system, uint32_t board, uint32_t initMode, uint32_t loadOption, uint32_t* device)
try {
    uint32_t id = 0;
    if (device) *device = 0;
    _MSG_ST msg{};
    im_msg_start(&msg, kOpDevAlloc, 4, "imDevAlloc");
    OpenLock lock;
    if (!lock.created()) {
        im_msg_log_error(&msg, HLC_ERR_NO_SYSTEM, "No such system");
        im_msg_end(&msg);
        return 0;
    }
    if (!lock.held()) {
        im_msg_log_error(&msg, HLC_ERR_TIMEOUT, "Another node open did not end in time");
        im_msg_end(&msg);
        return 0;
    }
    if (system > kMaxIndex || board > kMaxIndex) {
        im_msg_log_error(&msg, HLC_ERR_RESTRICTED, "Invalid System or Node ID");
        im_msg_end(&msg);
        return 0;
    }
    auto* scratch = static_cast<_NODE_MAIN_RESOURCE_ST*>(std::calloc(1, sizeof(_NODE_MAIN_RESOURCE_ST)));
    if (!scratch) return 0;
    const uint32_t node = ((system + 1) << 4) | (board + 1);
    const int32_t r = im_open_communication(system, board, initMode, loadOption, scratch);
    // A load code does not stop the open.  It is logged now, before anything the rest of
    // the open may log, so it is the open's error whether or not the node opens.
    if (const char* loadText = LoadText(r)) im_msg_log_error(&msg, HLC_ERR_RESTRICTED, loadText);
    if (r == kNoCommunication) im_msg_log_error(&msg, HLC_ERR_RESTRICTED, "Could not open communication with device");

    bool hostServes = false;
    bool stop = false;
    switch (scratch->nodeNumber) {
    case kIniMissing:
        im_msg_log_error(&msg, HLC_ERR_NO_SYSTEM, "HlcLib was unable to locate Ini file");
        stop = true;
        break;
    case kNoNode:
        im_msg_log_error(&msg, HLC_ERR_INVALID_DEVICE, "No such Node");
        stop = true;
        break;
    case kNoCommunication:
        im_msg_log_error(&msg, HLC_ERR_NO_SYSTEM, "No such System/Node");
        stop = true;
        break;
    case kProcessorIgnored:
        // The board is open for register access only: its id, with the error beside it.
        scratch->nodeNumber = static_cast<int32_t>(node);
        id = node << 16;
        SelectRegisterControl(node);
        im_msg_log_error(&msg, HLC_ERR_RESTRICTED, "DSP is ignored");
        stop = true;
        break;
    case kHostServes:
        scratch->nodeNumber = static_cast<int32_t>(node);
        id = node << 16;
        hostServes = true;
        break;
    default:
        break;
    }
    std::string phaseText;
    if (!stop) {
        _MSG_ST phase{};
        id = Phase(&phase, node, kDevAllocOpen, node, loadOption);
        if (id && OwnOpenCount(node) == 1) {
            id = Phase(&phase, node, kDevAllocInterrupts, id, (node << 16) | 1);
            if (id && !hostServes) SelectRegisterControl(node);
            if (id) {
                mp_sys_add_node_to_nodes(id);
                // The library's own display trial: a display that needs no file of its
                // own is set up now; the display object itself is not kept.
                uint32_t display = 0;
                if (imDispAlloc(kSystemThread, system, board, nullptr, kDispAllocDefault, &display) != 0)
                    imDispFree(kSystemThread, display);
                id = Phase(&phase, node, kDevAllocComplete, id, 0);
            }
        } else if (id) {
            SelectRegisterControl(node);
        }
        if (!id) {
            if (const int32_t code = im_msg_cmd_error(&phase)) {
                // The failed phase's own error travels on through this message.
                phaseText = phase.body.err.message ? phase.body.err.message : HlcErrorText(code);
                im_msg_log_error(&msg, code, phaseText.c_str());
            } else {
                im_msg_log_error(&msg, HLC_ERR_NO_SYSTEM, "No such System/Node");
            }
        }
    }
    if (!id && scratch->nodeNumber >= 1) im_board_shutdown(node << 16);
    // A first open that failed leaves no global state behind.
    if (!id) ReleaseProcessStateOfAFailedOpen(node);
    std::free(scratch);
    if (device) *device = id;
    im_msg_end(&msg);
    return id;
}
HLC_EXPORT_CATCH(imDevAlloc)

int32_t imDevFree(uint32_t device)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpDevFree, 1, "imDevFree");
    OpenLock lock;
    if (!lock.held()) {
        im_msg_log_error(&msg, HLC_ERR_TIMEOUT, "Another node open did not end in time");
        im_msg_end(&msg);
        return HLC_ERR_TIMEOUT;
    }
    const uint32_t node = (device >> 16) & 0xFF;
    const _NODE_MAIN_RESOURCE_ST* listed = mp_sys_node_resource_ptr(node);
    if (!listed) {
        im_msg_log_error(&msg, HLC_ERR_INVALID_DEVICE, "Invalid device ID");
        im_msg_end(&msg);
        return HLC_ERR_INVALID_DEVICE;
    }
    if (!listed->commRing) {
        // Mend: a node open for register access only (its processor left aside, the id
        // node << 16) has no ring and nothing that would answer the message, so its close
        // is the shut-down alone, not an error beside it.
        im_board_shutdown(device);
        im_msg_end(&msg);
        return 0;
    }
    im_msg_put_long(&msg, 0, static_cast<int32_t>(device));
    im_msg_send(&msg, device, kSystemThread | (node << 16), 0, IM_SYNC_POLL);
    const int32_t result = im_msg_cmd_error(&msg);
    im_board_shutdown(device);
    FinishGivenUpShutDown(node);
    im_msg_end(&msg);
    return result;
}
HLC_EXPORT_CATCH(imDevFree)

uint32_t imDevInquire(uint32_t device, uint32_t type, uint32_t* value)
try {
    const uint32_t node = (device >> 16) & 0xFF;
    _NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(node);
    uint32_t result = 0;
    if (type >= 11 && type <= 21 && type != 13 && type != 14 && type != 15 && type != 18 && type != 19) {
        if (record && record->nodeState) {
            switch (type) {
            case 11:
                result = record->ringHeader ? RingHeaderWord(record->ringHeader, kRingSlots) : 0;
                break;
            case 12:
                if (record->ringHeader)
                    result = RingHeaderWord(record->ringHeader, kRingSlots) -
                             RingHeaderWord(record->ringHeader, kRingSequence) +
                             RingHeaderWord(record->ringHeader, kRingServed);
                break;
            case 16:
            case 17: {
                _VgaBiosInfoSt* info = mp_sys_get_bios_info(node, record);
                // A record read here that is not the node's cached one is not kept, so
                // only the cached one can give an address.
                const bool cached = info && info == record->biosInfo;
                if (info && type == 16) result = info->inquiry;
                if (cached && type == 17) result = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info->serial));
                if (info && !cached) safe_free(info);
                break;
            }
            case 20:
            case 21: {
                uint32_t a = 0, b = 0, c = 0;
                if (QvlSerManager.DmaGetStat(&a, &b, &c)) result = type == 20 ? a : c;
                break;
            }
            default:
                break;
            }
        }
        if (value) *value = result;
        return result;
    }
    _MSG_ST msg{};
    const bool third = type == 18 || type == 19;
    im_msg_start(&msg, kOpDevInquire, third ? 3 : 2, "imDevInquire");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(device));
    im_msg_put_long(&msg, 1, static_cast<int32_t>(type));
    if (third) im_msg_put_long(&msg, 2, value ? static_cast<int32_t>(*value) : 0);
    im_msg_send(&msg, device, kSystemThread | (node << 16), 0, IM_SYNC_POLL);
    result = static_cast<uint32_t>(im_msg_get_long(&msg, 0));
    im_msg_end(&msg);
    if (value) *value = result;
    return result;
}
HLC_EXPORT_CATCH(imDevInquire)

int32_t imDevControl(uint32_t device, uint32_t type, double value)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpDevControl, 3, "imDevControl");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(device));
    im_msg_put_long(&msg, 1, static_cast<int32_t>(type));
    im_msg_put_double(&msg, 2, value);
    im_msg_send(&msg, device, kSystemThread | (((device >> 16) & 0xFF) << 16), 0, IM_SYNC_POLL);
    const int32_t result = im_msg_cmd_error(&msg);
    im_msg_end(&msg);
    return result;
}
HLC_EXPORT_CATCH(imDevControl)
