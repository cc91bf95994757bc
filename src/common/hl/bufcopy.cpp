// The host node's buffer copy: the choice of way and the processor copy.
#include "bufcopy.h"

#include "bufid.h"
#include "cmdserver.h"
#include "hlc_errors.h"
#include "hwlock.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "sysutil.h"
#include "w32sync.h"

#include <algorithm>
#include <cstring>

namespace {

// The last display heap keeps its own group; the other display heaps, frame-buffer
// locations and inline memory count as display memory (2) when two locations meet.
uint32_t LocationGroup(uint32_t location)
{
    switch (location) {
    case kLocSdram:
    case kLocHostDma:
    case kLocPaged:
    case kLocControllerHeap: return location;
    default: return kLocAutoDisplay;
    }
}

bool HostOrControllerMemory(uint32_t location)
{
    return location == kLocHostDma || location == kLocPaged || location == kLocControllerHeap;
}

uint32_t LineBytes(const _MP_BUF_ST* b)
{
    const int32_t x = std::max(b->sizeX, 0);
    if (b->bits == 1) return static_cast<uint32_t>(x) / 8;
    return (b->bits / 8) * static_cast<uint32_t>(x);
}

uint32_t NodeOf(const _MP_BUF_ST* b)
{
    return b->node & 0xFF;
}

uint32_t Word(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

void PutSlot(_MSG_BODY_ST* body, uint32_t slot, uint32_t first, uint32_t second)
{
    std::memcpy(body->param[slot], &first, 4);
    std::memcpy(body->param[slot] + 4, &second, 4);
}

void PutBufferSlot(_MSG_BODY_ST* body, uint32_t slot, const _MP_BUF_ST* buffer)
{
    PutSlot(body, slot, mp_buf_ref_to_id(buffer), Word(buffer));
}

int NoBitBlt(MP_RESOURCE_ST* resource, _MP_BUF_ST*, _MP_BUF_ST*, _MP_BUF_ST*)
{
    _mp_res_log_error(resource, HLC_ERR_RESTRICTED, kBufCopyTextNoBitBlt);
    return -1;
}

const uint8_t* NoVmPorts(const _NODE_MAIN_RESOURCE_ST*)
{
    return nullptr;
}

MpBufBitBltFn g_bitblt = NoBitBlt;
MpBufVmPortsFn g_vmPorts = NoVmPorts;

// The serving node's record as this address space sees it.
const _NODE_MAIN_RESOURCE_ST* ServingRecord(const MP_RESOURCE_ST* resource)
{
    if (!resource || !resource->record) return nullptr;
    if (!resource->boardProcessor) return resource->record;
    const uint32_t host = mp_util_mvp_to_virtual(resource->node & 0xFF, Word(resource->record));
    return reinterpret_cast<const _NODE_MAIN_RESOURCE_ST*>(static_cast<uintptr_t>(host));
}

// A node stands in the list when it equals one of the bytes before the first 0.
bool InVmPortList(const uint8_t* list, uint32_t node)
{
    if (!list) return false;
    for (uint32_t i = 0; i < 16 && list[i] != 0; ++i)
        if (list[i] == node) return true;
    return false;
}

bool UseVmPort(const MP_RESOURCE_ST* resource, const _MP_BUF_ST* source, const _MP_BUF_ST* destination)
{
    if (HostOrControllerMemory(source->location) || HostOrControllerMemory(destination->location)) return false;
    if (NodeOf(source) == NodeOf(destination)) return true;
    const _NODE_MAIN_RESOURCE_ST* record = ServingRecord(resource);
    const uint8_t* list = record ? g_vmPorts(record) : nullptr;
    return InVmPortList(list, NodeOf(source)) && InVmPortList(list, NodeOf(destination));
}

// One-bit buffers must start and end on whole bytes.
bool OneBitAligned(const _MP_BUF_ST* b)
{
    if (b->parent && (b->offsetX % 8) != 0) return false;
    return (b->sizeX % 8) == 0;
}

// The mutex wait in milliseconds.
// Mend: bounded by the communication time-out, where the host copy's mutex wait had no end.
DWORD MutexWaitMs()
{
    const double seconds = mp_sys_timeout(kBufCopyMutexTimeoutEntry);
    const double ms = seconds * 1000.0;
    if (!(ms > 0.0)) return 0;
    if (ms >= 4294967294.0) return 4294967294u;
    return static_cast<DWORD>(ms);
}

void Request(MP_RESOURCE_ST* resource, _MP_BUF_ST* source, _MP_BUF_ST* destination, _MP_BUF_ST* control,
             bool controlGiven)
{
    // Both ends are checked before anything reads them: an unknown id or an object that is
    // no image must never be copied into.
    if (!mp_buf_valid(source, 0x80000001u) || !mp_buf_valid(destination, 0x80000001u)) {
        _mp_res_log_error(resource, HLC_ERR_INVALID_BUFFER, nullptr);
        return;
    }
    if ((source->location == kLocPaged || destination->location == kLocPaged) &&
        source->pitch != destination->pitch) {
        mpBufCopySpecialHost(resource, source, destination);
        return;
    }
    if (controlGiven && !mp_buf_valid(control, kBufKindImage)) {
        _mp_res_log_error(resource, HLC_ERR_INVALID_BUFFER, nullptr);
        return;
    }
    if (LocationGroup(source->location) == LocationGroup(destination->location) &&
        NodeOf(source) == NodeOf(destination)) {
        // Every failure of this way reaches the caller, also one that left no record.
        if (mpBufCopySpecialBitBlit(resource, source, destination, control) != 0)
            _mp_res_log_error(resource, HLC_ERR_MISCELLANEOUS, kBufCopyTextFailed);
        return;
    }
    if (source->type == 0x40000001u && destination->type == 0x40000001u &&
        (!OneBitAligned(source) || !OneBitAligned(destination))) {
        _mp_res_log_error(resource, HLC_ERR_BUFFER_ATTRIBUTE, nullptr);
        return;
    }
    _MSG_BODY_ST body{};
    DoSpecializedCopy(UseVmPort(resource, source, destination) ? 1 : 0, &body, source, destination, control,
                      resource);
}

} // namespace

void mp_BufCopy(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* resource = mp_res_alloc(msg, kResReplySize, "BufCopy");
    if (mp_res_ok(resource)) {
        // Id 0 names no buffer.
        const auto buffer = [msg](uint32_t slot) {
            const uint32_t id = mp_msg_param(msg, slot);
            return id ? mp_buf_pointer(id) : nullptr;
        };
        Request(resource, buffer(0), buffer(1), buffer(2), mp_msg_param(msg, 2) != 0);
    }
    mp_res_free(resource);
}

void mpBufCopy(MP_RESOURCE_ST* resource, _MP_BUF_ST* source, _MP_BUF_ST* destination, _MP_BUF_ST* control)
{
    Request(resource, source, destination, control, control != nullptr);
}

int mpBufCopySpecialBitBlit(MP_RESOURCE_ST* resource, _MP_BUF_ST* source, _MP_BUF_ST* destination,
                            _MP_BUF_ST* control)
{
    if (!mp_buf_valid(source, kBufKindImage) || !mp_buf_valid(destination, kBufKindImage) ||
        source->bits != destination->bits) {
        _mp_res_log_error(resource, HLC_ERR_INVALID_BUFFER, nullptr);
        return -1;
    }
    const auto processor = [](uint32_t l) { return l == kLocSdram || l == kLocHostDma; };
    if (processor(source->location) || processor(destination->location))
        return mpBufCopySpecialHost(resource, source, destination) == 0 ? 0 : -1;
    return g_bitblt(resource, source, destination, control);
}

int DoSpecializedCopy(int useVm, _MSG_BODY_ST* body, _MP_BUF_ST* source, _MP_BUF_ST* destination,
                      _MP_BUF_ST* control, MP_RESOURCE_ST* resource)
{
    if (!body) return HLC_ERR_INVALID_PARAMETER;
    std::memset(body, 0, sizeof *body);
    if (resource && resource->msg) std::memcpy(body, resource->msg, kMsgHeaderBytes);
    const uint32_t opcode = useVm ? kOpBufCopyVM : kOpBufCopyPCI;
    body->inUse = 1;
    body->status = 10;
    body->error = 0;
    body->err = _MSG_ERR_ST{0, resource ? resource->node : (mp_sys_this_node_id() & 0xFF),
                            useVm ? "imBufCopyVM" : "imBufCopyPCI", nullptr};
    body->counts = useVm ? kBufCopyInlineVmParams : kBufCopyInlinePciParams;
    body->opcode = opcode;
    PutBufferSlot(body, 0, source);
    PutBufferSlot(body, 1, destination);
    PutBufferSlot(body, 2, control);
    if (useVm) {
        // Slots 3 and 4 hold 0.0 (no second control buffer), slot 5 word 0.
        PutSlot(body, 6, Word(resource), 0);
    } else {
        PutSlot(body, 4, Word(resource), 0);
    }
    const MpHandler handler = mp_opcode[opcode];
    if (!handler || handler == mp_InvalidOpcode) {
        _mp_res_log_error(resource, HLC_ERR_RESTRICTED, useVm ? kBufCopyTextNoVm : kBufCopyTextNoPci);
        body->error = HLC_ERR_RESTRICTED;
        return HLC_ERR_RESTRICTED;
    }
    handler(body);
    return body->error;
}

int mpBufCopySpecialHost(MP_RESOURCE_ST* resource, const _MP_BUF_ST* source, const _MP_BUF_ST* destination)
{
    if (!source || !destination) {
        _mp_res_log_error(resource, HLC_ERR_INVALID_BUFFER, nullptr);
        return HLC_ERR_INVALID_BUFFER;
    }
    if ((source->type & ~kBufTypeSigned) != (destination->type & ~kBufTypeSigned)) {
        _mp_res_log_error(resource, HLC_ERR_RESTRICTED, kBufCopyTextIncompatible);
        return HLC_ERR_RESTRICTED;
    }
    const uint32_t width = std::min(LineBytes(source), LineBytes(destination));
    const uint32_t lines = static_cast<uint32_t>(std::max(std::min(source->sizeY, destination->sizeY), 0));
    int32_t first = 0;
    for (uint32_t band = 0; band < destination->bands; ++band) {
        const uint32_t from = source->bands == destination->bands ? band : 0;
        const void* s = mp_buf_address_band_internal(source, from);
        void* d = mp_buf_address_band_internal(destination, band);
        if (!s || !d) {
            _mp_res_log_error(resource, HLC_ERR_RESTRICTED, kBufCopyTextNoAddress);
            if (!first) first = HLC_ERR_RESTRICTED;
            continue;
        }
        const int32_t locked = mpPrvBufCopyLocked(s, d, width, lines, static_cast<int32_t>(source->pitch),
                                              static_cast<int32_t>(destination->pitch));
        if (locked != 0) {
            // Another band would wait as long again: the copy ends here.
            _mp_res_log_error(resource, locked,
                              locked == HLC_ERR_TIMEOUT ? kBufCopyTextMutexTimeout : kBufCopyTextNoMutex);
            return first ? first : locked;
        }
    }
    return first;
}

int32_t mpPrvBufCopyLocked(const void* source, void* destination, uint32_t width, uint32_t lines, int32_t sourcePitch,
                       int32_t destinationPitch)
{
    HANDLE mutex = CreateMutexA(FALSE, kBufCopyMutex);
    if (!mutex) return HLC_ERR_NO_RESOURCES;
    const DWORD waited = WaitForSingleObject(mutex, MutexWaitMs());
    // A holder that ended without releasing leaves the mutex to this wait.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return waited == WAIT_TIMEOUT ? HLC_ERR_TIMEOUT : HLC_ERR_NO_RESOURCES;
    }
    // Lines that follow each other without padding on both sides are one block.
    const uint64_t block = static_cast<uint64_t>(width) * lines;
    if (static_cast<int64_t>(width) == sourcePitch && sourcePitch == destinationPitch && block <= 0xFFFFFFFFu)
        im_doLoadSwapStore(source, destination, static_cast<uint32_t>(block), 1, 0, 0, 0);
    else
        im_doLoadSwapStore(source, destination, width, lines, sourcePitch, destinationPitch, 0);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}

MpBufBitBltFn mp_bufcopy_set_bitblt(MpBufBitBltFn fn)
{
    const MpBufBitBltFn previous = g_bitblt;
    g_bitblt = fn ? fn : NoBitBlt;
    return previous;
}

MpBufVmPortsFn mp_bufcopy_set_vm_ports(MpBufVmPortsFn fn)
{
    const MpBufVmPortsFn previous = g_vmPorts;
    g_vmPorts = fn ? fn : NoVmPorts;
    return previous;
}

void mp_bufcopy_install()
{
    mp_server_set_handler(kOpBufCopy, mp_BufCopy);
}
