// Device handlers of the host node and the node's copy parameter area.
#include "devhandlers.h"

#include "bufchild.h"
#include "bufid.h"
#include "camdispatch.h"
#include "cmdserver.h"
#include "digitizers.h"
#include "hlc_errors.h"
#include "intserver.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "predef.h"
#include "regaccess.h"
#include "heap.h"
#include "hwlock.h"
#include "task.h"

#include <cstring>
#include <initializer_list>

namespace {

constexpr uint32_t kDevControlSerialAccess = 19;  // device control: the grab module's serial chips
constexpr uint32_t kBaseBufferLow = 1;              // the node's base buffer (node << 16) | 1
constexpr uint32_t kBaseBufferBytesExtra = 1984;
constexpr uint32_t kOrloStateCleared = 166976;
constexpr uint32_t kCpyParamTag = 0xCAFEFADEu;
constexpr uint32_t kCpyParamType = 0x10000008u;
constexpr int kCpyParamTimeoutEntry = 3;
constexpr uint32_t kWordTag = 0, kWordSize = 1, kWordIndex = 2, kWordNode = 3, kWordBusy = 4, kWordBus = 11;

uint32_t NodeOf(const MP_RESOURCE_ST* res)
{
    return res ? res->node & 0xFF : 0;
}

// The record the handler works on: the listed record of the node, else the serving
// node's own.
_NODE_MAIN_RESOURCE_ST* RecordFor(MP_RESOURCE_ST* res, uint32_t node)
{
    if (_NODE_MAIN_RESOURCE_ST* r = mp_sys_node_resource_ptr(node & 0xFF)) return r;
    return res ? res->record : nullptr;
}

// Phase 1: the node's base buffer, copy parameters, Orlo state, register control and
// predefined objects on the first open; a new device descriptor on every open.
uint32_t OpenPhase(MP_RESOURCE_ST* res, uint32_t node, uint32_t extra)
{
    node &= 0xFF;
    _NODE_MAIN_RESOURCE_ST* record = RecordFor(res, node);
    if (!record) {
        _mp_res_log_error(res, HLC_ERR_INVALID_DEVICE, nullptr);
        return 0;
    }
    const bool numbered = record->nodeNumber != 0;
    if (!numbered) record->nodeNumber = static_cast<int32_t>(node);
    uint32_t device = 0;
    if (!mp_buf_is_id_valid((node << 16) | kBaseBufferLow)) {
        const int32_t pixels = static_cast<int32_t>(8 * ((extra & ~63u) + kBaseBufferBytesExtra) / 32);
        _MP_BUF_ST* base = mp_buf_alloc_on_node(node, pixels, 1, 1, 32, kLocInline);
        if (!base || !mp_buf_alloc_id(base)) {
            mp_buf_free(base);
            _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
            if (!numbered) record->nodeNumber = 0;
            return 0;
        }
        std::memset(mp_buf_address_band_internal(base, 0), 0, static_cast<size_t>(pixels) * 4);
        uint32_t* params = nullptr;
        if (getCpyParamPtr(node, &params) && params) params[kWordBusy] = 0;
        if (!record->orloState) {
            record->orloState = static_cast<uint8_t*>(safe_malloc(kOrloStateCleared));
            if (record->orloState) std::memset(record->orloState, 0, kOrloStateCleared);
        }
        // Without its Orlo state area the node cannot be set up: no device.
        if (!record->orloState) {
            _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
            if (!numbered) record->nodeNumber = 0;
            return 0;
        }
        SetHwRegCtrlPtr(record, nullptr);
        mp_init_orlo_state(node);
        if (mp_init_predef_buffers(node, node) != 0) {
            _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
            if (!numbered) record->nodeNumber = 0;
            return 0;
        }
    }
    _MP_BUF_ST* descriptor = mp_buf_alloc_on_node(node, 0, 0, 0, 8, kLocInline);
    if (descriptor) device = mp_buf_alloc_id(descriptor);
    if (!device) {
        mp_buf_free(descriptor);
        _mp_res_log_error(res, HLC_ERR_NO_RESOURCES, nullptr);
        if (!numbered) record->nodeNumber = 0;
        return 0;
    }
    if (!numbered) record->nodeNumber = 0;
    mp_sys_insert_node(node | kOwnRecordFlag, record->nodeState);
    const _NODE_MAIN_RESOURCE_ST* own = record->nodeState ? mp_sys_own_record(record->nodeState) : record;
    if (own->openCount == 1) {
        TaskSetMsgRoute(static_cast<int32_t>(node), -1);
        mp_server_init_ring_msgs(record);
    }
    return device;
}

void CompletePhase(MP_RESOURCE_ST* res, uint32_t device)
{
    mpPrvInitTmpBufferForHostGrab(device);
    mp_init_arp_space(NodeOf(res));
    mp_sys_alloc_dig(res, -1, -1);
}

} // namespace

void mp_DevAlloc(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "DevAlloc");
    if (mp_res_ok(res)) {
        const uint32_t phase = mp_msg_param(msg, 0);
        const uint32_t value = mp_msg_param(msg, 1);
        uint32_t reply = 0;
        switch (phase) {
        case kDevAllocOpen:
            reply = OpenPhase(res, value, mp_msg_param(msg, 3));
            break;
        case kDevAllocInterrupts:
            mpPrvInitInterruptServer(value);
            reply = value;
            break;
        case kDevAllocComplete:
            CompletePhase(res, value);
            reply = value;
            break;
        default:
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
            break;
        }
        mp_msg_put_reply(msg, 0, reply);
    }
    mp_res_free(res);
}

void mp_DevControl(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "DevControl");
    // Type 19 is serial access to the grab module's chips; other types do nothing.
    // Nothing is replied.
    const uint32_t type = mp_msg_param(msg, 1);
    if (mp_res_ok(res) && (type & 0xFF) == kDevControlSerialAccess)
        mpDigSerAccessOfDevControl(res, type, mp_msg_param_double(msg, 2));
    mp_res_free(res);
}

void mp_DevFree(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "DevFree");
    if (mp_res_ok(res)) mp_buf_free(mp_buf_pointer(mp_msg_param(msg, 0)));
    mp_res_free(res);
}

void mp_DevInquire(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "DevInquire");
    if (mp_res_ok(res)) {
        const uint32_t device = mp_msg_param(msg, 0);
        const uint32_t type = mp_msg_param(msg, 1);
        _NODE_MAIN_RESOURCE_ST* record = res->record;
        const _NODE_ST* state = record ? record->nodeState : nullptr;
        uint32_t value = 0;
        if (state) {
            switch (type) {
            case 1: value = state->started; break;
            case 2: value = state->cpuFrequency / 1000000u; break;
            case 3: value = state->orlo[0].present; break;
            case 4: value = state->orlo[1].present; break;
            case 5: value = state->inquiryWord; break;
            case 6: value = (state->orlo[0].memorySize + 4096) >> 20; break;
            case 7: value = state->orlo[1].memorySize >> 20; break;
            case 8: value = state->chip.frameSize >> 20; break;
            case 13: value = record->heaps[0] ? record->heaps[0]->freeBytes : 0; break;
            case 14:
                for (uint32_t h = 2; h <= 4; ++h)
                    if (record->heaps[h]) value += record->heaps[h]->freeBytes;
                break;
            case 15: value = state->product; break;
            default: break;
            }
        }
        if (type == 9) value = ((device >> 20) & 0xF) - 1;
        if (type == 10) value = ((device >> 16) & 0xF) - 1;
        // A read of the camera port's serial chip: the channel in the high half of the
        // caller's value, the register in the low half.
        if (type == 19) {
            const uint32_t asked = mp_msg_param(msg, 2);
            value = mpDigSerAccess(res, 0, asked >> 16, 0, asked & 0xFFFF);
        }
        mp_msg_put_reply(msg, 0, value);
    }
    mp_res_free(res);
}

void mpPrvConvertToThisNode(MP_RESOURCE_ST* resource, uint32_t* word)
{
    if (!word || *word == 0) return;
    *word = mp_util_pci_to_mvp(NodeOf(resource), *word);
}

void mp_DevAddNode(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "DevAddNode");
    if (mp_res_ok(res)) {
        _MP_BUF_ST* copy = mp_buf_pointer(mp_msg_param(msg, 0));
        const auto* words = copy ? static_cast<const uint32_t*>(mp_buf_address_band_internal(copy, 0)) : nullptr;
        if (!words) {
            _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
        } else {
            const uint32_t node = words[0] & 0xFF;
            _NODE_ST* block = copy ? reinterpret_cast<_NODE_ST*>(static_cast<uintptr_t>(words[470])) : nullptr;
            if (node && !mp_sys_node_resource_ptr(node) && block && mp_sys_insert_node(node | kOwnRecordFlag, block) == 0) {
                if (_NODE_MAIN_RESOURCE_ST* record = mp_sys_node_resource_ptr(node)) {
                    auto* target = reinterpret_cast<uint32_t*>(record);
                    // The list links stay this node's own.
                    std::memcpy(target, words, 472 * sizeof(uint32_t));
                    for (uint32_t w : {9u, 10u, 12u, 13u, 232u, 233u, 235u, 236u, 454u, 459u, 460u, 461u, 462u, 470u})
                        mpPrvConvertToThisNode(res, &target[w]);
                }
            }
        }
    }
    mp_res_free(res);
}

void mp_DevRemoveNode(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "DevRemoveNode");
    if (mp_res_ok(res)) mp_sys_remove_node(mp_msg_param(msg, 0));
    mp_res_free(res);
}

void mp_dev_install()
{
    mp_server_set_handler(kOpDevAlloc, mp_DevAlloc);
    mp_server_set_handler(kOpDevControl, mp_DevControl);
    mp_server_set_handler(kOpDevFree, mp_DevFree);
    mp_server_set_handler(kOpDevInquire, mp_DevInquire);
    mp_server_set_handler(kOpDevAddNode, mp_DevAddNode);
    mp_server_set_handler(kOpDevRemoveNode, mp_DevRemoveNode);
}

// ---------------------------------------------------------------- copy parameters

int getCpyParamPtr(uint32_t node, uint32_t** record)
{
    if (record) *record = nullptr;
    node &= 0xFF;
    // The base buffer is the one in slot 1 of the node: its id also carries the kind bits
    // of its memory, so the bare (node << 16) | 1 does not find it by id.
    _MP_BUF_ST* base = mp_buf_id_slot(node, kBaseBufferLow - 1);
    if (!base) return 0;
    double stored = 0;
    uint8_t* area = nullptr;
    if (mp_buf_get_field_double(base, kCpyParamField, &stored) == 0 && stored != 0) {
        area = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(static_cast<uint32_t>(stored)));
    } else {
        _MP_BUF_ST* buffer = mp_buf_alloc_on_node(node, kCpyParamRecords * kCpyParamRecordBytes, 1, 1, kCpyParamType,
                                                  kLocInline);
        area = buffer ? static_cast<uint8_t*>(mp_buf_address_band_internal(buffer, 0)) : nullptr;
        if (!area) {
            mp_buf_free(buffer);
            return 0;
        }
        std::memset(area, 0, kCpyParamRecords * kCpyParamRecordBytes);
        const uint32_t bus = buffer->bandTable ? buffer->bandTable[0].physical : 0;
        for (uint32_t i = 0; i < kCpyParamRecords; ++i) {
            auto* r = reinterpret_cast<uint32_t*>(area + i * kCpyParamRecordBytes);
            r[kWordTag] = kCpyParamTag;
            r[kWordSize] = kCpyParamRecordBytes;
            r[kWordIndex] = kCpyParamRecords - 1 - i;
            r[kWordNode] = node;
            r[kWordBus] = bus ? bus + i * kCpyParamRecordBytes : 0;
        }
        mp_buf_put_field(base, kCpyParamField, static_cast<double>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(area))));
    }
    // While all eight are busy the scan sleeps for no time and tries again, for at most the
    // communication time-out: a holder that never hands its record back cannot keep the
    // caller waiting for ever.
    const double start = mp_time_clock(0.0);
    for (;;) {
        TaskBeginMutex();
        for (uint32_t i = 0; i < kCpyParamRecords; ++i) {
            auto* r = reinterpret_cast<uint32_t*>(area + i * kCpyParamRecordBytes);
            if (r[kWordBusy] == 0) {
                r[kWordBusy] = 1;
                TaskEndMutex();
                if (record) *record = r;
                return 1;
            }
        }
        TaskEndMutex();
        if (mp_time_clock(start) >= mp_sys_timeout(kCpyParamTimeoutEntry)) return 0;
        // The library's zero sleep: the other tasks run, and the machine's time passes
        // while this one waits (a bare yield after reading the board's timer would hold it).
        mp_time_sleep(0.0);
    }
}
