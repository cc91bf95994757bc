// Thread objects: allocation with their command server task, control, inquiry, error
// items, release, and the exports.
#include "thread.h"
#include "predef.h"

#include "bufchild.h"
#include "bufid.h"
#include "cmdserver.h"
#include "hlc_errors.h"
#include "hwaccess.h"
#include "hwlock.h"
#include "im_param.h"
#include "nodelist.h"
#include "nodeopen.h"
#include "syncobj.h"
#include "task.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

constexpr size_t kFreedObjects = 64;
constexpr int32_t kServerCreatePriority = 30;

// The registered thread objects of the process, read and changed under the kernel mutex.
// The table doubles when it is full, as the id tables do; it lives for the process.
class ObjectTable {
public:
    MP_THREAD_OBJ_ST** begin() { return slots_; }
    MP_THREAD_OBJ_ST** end() { return slots_ + size_; }
    // A free slot, the table grown when it has none; null when memory runs out.
    MP_THREAD_OBJ_ST** freeSlot()
    {
        for (MP_THREAD_OBJ_ST*& t : *this)
            if (!t) return &t;
        const size_t grown = size_ ? 2 * size_ : 64;
        auto* bigger = static_cast<MP_THREAD_OBJ_ST**>(std::calloc(grown, sizeof(MP_THREAD_OBJ_ST*)));
        if (!bigger) return nullptr;
        if (size_) std::memcpy(bigger, slots_, size_ * sizeof(MP_THREAD_OBJ_ST*));
        std::free(slots_);
        slots_ = bigger;
        const size_t first = size_;
        size_ = grown;
        return &slots_[first];
    }

private:
    MP_THREAD_OBJ_ST** slots_ = nullptr;
    size_t size_ = 0;
};

ObjectTable g_objects;

// A freed object whose command server was still running when it was freed, with the OS
// thread of the task kernel that server runs on.  The server ends without yielding after
// that command, so once another task of the same kernel runs, or that kernel ends, the
// descriptor can go back; another node's kernel, on its own OS thread, cannot know that.
struct FreedObject {
    _MP_BUF_ST* descriptor;
    uint32_t kernel;
};
// Read and changed under the kernel mutex, as the object table; every node's kernel reaches
// it.  Never destroyed: a node's kernel may still run while the process ends.
FreedObject* g_freed = new FreedObject[kFreedObjects]();

bool IsPredefinedThread(uint32_t id)
{
    return mp_is_predefined_thread(id);
}

// The thread object of an id.  A predefined thread is addressed by its base id and its
// node, while the object carries the slot its node took: a base id finds the node's object
// of that base in whatever slot.
MP_THREAD_OBJ_ST* Find(uint32_t id)
{
    if (id == 0) return nullptr;
    MP_THREAD_OBJ_ST* found = nullptr;
    MP_THREAD_OBJ_ST* sameBase = nullptr;
    const bool predefined = IsPredefinedThread(id) && (id & 0xFu) == 0;
    TaskBeginMutex();
    for (MP_THREAD_OBJ_ST* t : g_objects) {
        if (!t) continue;
        if (t->server.id == id) found = t;
        else if (predefined && IsPredefinedThread(t->server.id) && (t->server.id & ~0xFu) == (id & ~0xFu)) sameBase = t;
    }
    TaskEndMutex();
    return found ? found : sameBase;
}

bool Register(MP_THREAD_OBJ_ST* object)
{
    TaskBeginMutex();
    MP_THREAD_OBJ_ST** slot = g_objects.freeSlot();
    if (slot) *slot = object;
    TaskEndMutex();
    return slot != nullptr;
}

void Unregister(MP_THREAD_OBJ_ST* object)
{
    TaskBeginMutex();
    for (MP_THREAD_OBJ_ST*& t : g_objects)
        if (t == object) t = nullptr;
    TaskEndMutex();
}

MP_THREAD_ST* Lookup(uint32_t id)
{
    MP_THREAD_OBJ_ST* t = Find(id);
    return t ? &t->server : nullptr;
}

_MP_BUF_ST* Descriptor(const MP_THREAD_OBJ_ST* object)
{
    if (IsPredefinedThread(object->server.id)) {
        const uint32_t ref = object->server.id & 0xFFFF;
        return reinterpret_cast<_MP_BUF_ST*>(static_cast<uintptr_t>(PreDefBufAddress[ref]));
    }
    return mp_buf_pointer(object->server.id);
}

// Reads one attribute: 0 kept the default or took a value in range, -8 out of range.
int Attribute(const _MP_BUF_ST* attributes, uint32_t key, int32_t low, int32_t high, int32_t* value)
{
    int32_t v;
    if (!attributes || mp_buf_get_field(attributes, key, &v) != 0) return 0;
    if (v < low || v > high) return HLC_ERR_INVALID_PARAMETER;
    *value = v;
    return 0;
}

void CloseAll(MP_THREAD_ST* s)
{
    if (s->commandPort > 0 || s->commandPort < -1) TaskClosePort(s->commandPort);
    if (s->secondPort > 0 || s->secondPort < -1) TaskClosePort(s->secondPort);
    if (s->firstSema > 0 || s->firstSema < -1) TaskCloseSema(s->firstSema);
    if (s->secondSema > 0 || s->secondSema < -1) TaskCloseSema(s->secondSema);
}

void Log(MP_RESOURCE_ST* resource, int32_t code)
{
    if (resource) _mp_res_log_error(resource, code, nullptr);
}

} // namespace

MP_THREAD_OBJ_ST* mp_thr_object(uint32_t id) { return Find(id); }

MP_THREAD_ST* mp_thr_server_of_descriptor(void* descriptor)
{
    auto* object = static_cast<MP_THREAD_OBJ_ST*>(mp_buf_address_band_internal(static_cast<_MP_BUF_ST*>(descriptor), 0));
    return object ? &object->server : nullptr;
}

MP_THR_GRAB_ST* mp_thr_grab_record(const MP_THREAD_ST* thread)
{
    if (!thread) return nullptr;
    MP_THREAD_OBJ_ST* object = Find(thread->id);
    return object && &object->server == thread ? &object->grab : nullptr;
}

MP_THR_GRAB_ST* mp_thr_grab_record_of_buffer(uint32_t descriptor)
{
    const auto* b = reinterpret_cast<const _MP_BUF_ST*>(static_cast<uintptr_t>(descriptor));
    if (!b || !mp_buf_valid(b, kBufKindThread | kIdPredefined)) return nullptr;   // predefined ones too
    // The object is the descriptor's band; only a registered one counts.
    const void* band = mp_buf_address_band_internal(b, 0);
    MP_THR_GRAB_ST* found = nullptr;
    TaskBeginMutex();
    for (MP_THREAD_OBJ_ST* t : g_objects)
        if (t && t == band) found = &t->grab;
    TaskEndMutex();
    return found;
}

void mp_thr_reap()
{
    // Taken out under the mutex, given back outside it: a free takes the memory lock.
    _MP_BUF_ST* reaped[kFreedObjects];
    size_t count = 0;
    const uint32_t kernel = TaskOsThreadId();
    TaskBeginMutex();
    for (size_t i = 0; i < kFreedObjects; ++i) {
        FreedObject& f = g_freed[i];
        if (!f.descriptor || f.kernel != kernel) continue;
        reaped[count++] = f.descriptor;
        f = FreedObject{};
    }
    TaskEndMutex();
    for (size_t i = 0; i < count; ++i) mp_buf_free(reaped[i]);
}

MP_THREAD_OBJ_ST* mpThrAlloc(MP_RESOURCE_ST* resource, uint32_t node, uint32_t ownerDevice,
                             const _MP_BUF_ST* attributes, uint32_t predefinedId)
{
    mp_thr_reap();
    if (resource) node = resource->node;
    node &= 0xFF;
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record(node);

    int32_t checked = 4, priority = 8, stack = 4096, value = -9999;
    const bool capable =
        record && record->primaryRegs && (HwRead32(record->primaryRegs, kOrloStatus) & kStatusCapability);
    int32_t enable = capable ? kThrSwitchOn : kThrSwitchOff;
    int bad = Attribute(attributes, kThrAttrChecked, 1, 4, &checked);
    if (!bad) bad = Attribute(attributes, kThrAttrPriority, 1, 15, &priority);
    if (!bad) bad = Attribute(attributes, kThrAttrStack, 4096, 65536, &stack);
    if (!bad) bad = Attribute(attributes, kThrAttrValue, INT32_MIN, INT32_MAX, &value);
    if (!bad) bad = Attribute(attributes, kThrAttrSwitch, kThrSwitchOff, kThrSwitchOn, &enable);
    if (!bad && enable != kThrSwitchOn && enable != kThrSwitchOff) bad = HLC_ERR_INVALID_PARAMETER;
    if (bad) {
        Log(resource, HLC_ERR_INVALID_PARAMETER);
        return nullptr;
    }
    if (enable == kThrSwitchOn && !capable) enable = kThrSwitchOff;

    _MP_BUF_ST* b = mp_buf_alloc_on_node(node, static_cast<int32_t>(kThrBandBytes), 1, 1, 8, kLocInline);
    if (!b) {
        Log(resource, HLC_ERR_NO_RESOURCES);
        return nullptr;
    }
    b->kind = kBufKindThread;
    uint32_t id = predefinedId;
    if (predefinedId) {
        b->id = predefinedId;
        PreDefBufAddress[predefinedId & 0xFFFF] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(b));
    } else {
        id = mp_buf_alloc_id(b);
    }
    auto* object = static_cast<MP_THREAD_OBJ_ST*>(mp_buf_address_band_internal(b, 0));
    auto fail = [&]() -> MP_THREAD_OBJ_ST* {
        if (object) {
            CloseAll(&object->server);
            if (object->grab.haltSema > 0 || object->grab.haltSema < -1) TaskCloseSema(object->grab.haltSema);
        }
        if (predefinedId) PreDefBufAddress[predefinedId & 0xFFFF] = 0;
        mp_buf_free(b);
        Log(resource, HLC_ERR_NO_RESOURCES);
        return nullptr;
    };
    if (!id || !object) return fail();
    std::memset(object, 0, kThrBandBytes);
    MP_THREAD_ST& s = object->server;
    s.commandPort = s.secondPort = s.firstSema = s.secondSema = -1;
    object->grab.haltSema = -1;
    s.id = id;
    s.node = node;
    s.priority = priority;
    s.boardProcessor = record ? static_cast<uint32_t>(mp_core_board_processor(record)) : 0;
    object->ownerDevice = ownerDevice;
    object->stackSize = static_cast<uint32_t>(stack);
    object->server.value = value;
    object->server.enable = enable;
    s.commandPort = TaskOpenPort(-1);
    s.secondPort = TaskOpenPort(-1);
    s.firstSema = TaskOpenSema(-1, 0);
    s.secondSema = TaskOpenSema(-1, 0);
    if (s.commandPort == -1 || s.secondPort == -1 || s.firstSema == -1 || s.secondSema == -1) return fail();
    object->grab.haltSema = TaskOpenSema(-1, 0);
    if (object->grab.haltSema == -1) return fail();
    object->server.task = TaskCreate(-1, mpFunctionServer, b, kServerCreatePriority, static_cast<uint32_t>(stack));
    if (object->server.task == -1) return fail();
    if (!Register(object)) return fail();   // the created task ends on its closed ports
    if (ownerDevice) {
        for (uint32_t local : {0x40000010u, 0x400000C0u, 0x400000D0u}) {
            MP_THREAD_OBJ_ST* p = Find(local | (node << 16));
            if (p && p->ownerDevice == 0) p->ownerDevice = ownerDevice;
        }
    }
    s.created = 1;
    TaskResume(object->server.task);
    return object;
}

void mp_thr_destroy(MP_THREAD_OBJ_ST* object)
{
    if (!object) return;
    _MP_BUF_ST* b = Descriptor(object);
    Unregister(object);
    mp_server_stop_thread(&object->server);
    TaskCloseSema(object->server.firstSema);
    if (object->grab.haltSema > 0 || object->grab.haltSema < -1) TaskCloseSema(object->grab.haltSema);
    if (IsPredefinedThread(object->server.id)) PreDefBufAddress[object->server.id & 0xFFFF] = 0;
    if (b) mp_buf_free(b);
}

void mp_thr_destroy_node(uint32_t node)
{
    node &= 0xFF;
    for (;;) {
        MP_THREAD_OBJ_ST* object = nullptr;
        TaskBeginMutex();
        for (MP_THREAD_OBJ_ST* t : g_objects)
            if (t && (t->server.node & 0xFF) == node) object = t;
        TaskEndMutex();
        if (!object) break;
        mp_thr_destroy(object);
    }
    mp_thr_reap();
}

// ---------------------------------------------------------------- handlers

void mp_ThrAlloc(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "ThrAlloc");
    if (mp_res_ok(res)) {
        const uint32_t attrId = mp_msg_param(msg, 1);
        _MP_BUF_ST* attributes = attrId ? mp_buf_pointer(attrId) : nullptr;
        MP_THREAD_OBJ_ST* object = nullptr;
        if (attrId && !attributes) _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
        else object = mpThrAlloc(res, res->node, mp_msg_param(msg, 0), attributes);
        mp_msg_put_reply(msg, 0, object ? object->server.id : 0);
    }
    mp_res_free(res);
}

void mp_ThrControl(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "ThrControl");
    if (mp_res_ok(res)) {
        MP_THREAD_OBJ_ST* object = Find(res->threadId);
        const uint32_t type = mp_msg_param(msg, 0);
        const double value = mp_msg_param_double(msg, 1);
        const int32_t v = static_cast<int32_t>(value);
        if (!object) {
            _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
        } else if (type == kThrAttrPriority) {
            if (v < 1 || v > 15) {
                _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
            } else {
                object->server.priority = v;
                // This handler runs on the object's own command server.
                TaskSetPriority(v);
            }
        } else if (type == kThrAttrValue) {
            object->server.value = v;
        } else if (type == kThrAttrSwitch) {
            if (v != kThrSwitchOn && v != kThrSwitchOff) _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
            else object->server.enable = v;
        } else {
            _mp_res_log_error(res, HLC_ERR_INVALID_PARAMETER, nullptr);
        }
    }
    mp_res_free(res);
}

void mp_ThrInquire(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "ThrInquire");
    if (mp_res_ok(res)) {
        MP_THREAD_OBJ_ST* object = Find(res->threadId);
        uint32_t value = 0;
        if (object) {
            switch (mp_msg_param(msg, 0)) {
            case kThrAttrChecked: value = object->server.checked; break;
            case kThrAttrPriority: value = static_cast<uint32_t>(object->server.priority); break;
            case kThrAttrOwner: value = object->ownerDevice; break;
            case kThrAttrStack: value = object->stackSize; break;
            case kThrAttrValue: value = static_cast<uint32_t>(object->server.value); break;
            case kThrAttrSwitch: value = static_cast<uint32_t>(object->server.enable); break;
            default: break;
            }
        }
        mp_msg_put_reply(msg, 0, value);
    }
    mp_res_free(res);
}

void mp_ThrGetError(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "ThreadGetError");
    if (mp_res_ok(res) && res->thread) mp_sync_reply_error_item(msg, &res->thread->firstError, mp_msg_param(msg, 0));
    mp_res_free(res);
}

void mp_ThrFree(_MSG_BODY_ST* msg)
{
    MP_RESOURCE_ST* res = mp_res_alloc(msg, kResReplySize, "ThrFree");
    if (!mp_res_ok(res)) {
        mp_res_free(res);
        return;
    }
    mp_thr_reap();
    MP_THREAD_OBJ_ST* object = Find(res->threadId);
    if (!object) {
        _mp_res_log_error(res, HLC_ERR_INVALID_BUFFER, nullptr);
        mp_res_free(res);
        return;
    }
    _MP_BUF_ST* b = Descriptor(object);
    Unregister(object);
    mp_res_free(res);
    mp_server_stop_thread(&object->server);
    TaskCloseSema(object->server.firstSema);
    if (object->grab.haltSema > 0 || object->grab.haltSema < -1) TaskCloseSema(object->grab.haltSema);
    if (IsPredefinedThread(object->server.id)) PreDefBufAddress[object->server.id & 0xFFFF] = 0;
    // The command server still reads the object after this handler: the descriptor is
    // given back once that task has ended (by the next allocation or release on this
    // kernel, or at its end).  This kernel's earlier ones were reaped above, so a full
    // list holds other kernels' only; the descriptor then stays with its node's buffers,
    // which the node's end gives back.
    if (b) {
        const uint32_t kernel = TaskOsThreadId();
        TaskBeginMutex();
        for (size_t i = 0; i < kFreedObjects; ++i)
            if (!g_freed[i].descriptor) {
                g_freed[i] = FreedObject{b, kernel};
                break;
            }
        TaskEndMutex();
    }
}

void mp_thread_install()
{
    mp_server_set_handler(kOpThrAlloc, mp_ThrAlloc);
    mp_server_set_handler(kOpThrControl, mp_ThrControl);
    mp_server_set_handler(kOpThrFree, mp_ThrFree);
    mp_server_set_handler(kOpThrGetError, mp_ThrGetError);
    mp_server_set_handler(kOpThrInquire, mp_ThrInquire);
    mp_server_set_thread_lookup(Lookup);
}

// ---------------------------------------------------------------- exports

uint32_t imThrAlloc(uint32_t device, uint32_t attributes, uint32_t* thread)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpThrAlloc, 2, "imThrAlloc");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(device));
    im_msg_put_long(&msg, 1, static_cast<int32_t>(attributes));
    const uint32_t node = (device >> 16) & 0xFF;
    im_msg_send(&msg, device, kBufRemoteThread | (node << 16), 0, IM_SYNC_POLL);
    const uint32_t id = im_msg_cmd_error(&msg) == 0 ? static_cast<uint32_t>(im_msg_get_long(&msg, 0)) : 0;
    im_msg_end(&msg);
    if (thread) *thread = id;
    return id;
}
HLC_EXPORT_CATCH(imThrAlloc)

namespace {
int32_t PostNoWait(uint32_t thread, uint32_t opcode, const char* name)
{
    _MSG_ST msg{};
    im_msg_start(&msg, opcode, 0, name);
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_NOWAIT);
    im_msg_end(&msg);
    return im_msg_cmd_error(&msg);
}

// Whether the node of a thread id is served on the host, where its thread objects are in
// reach of the caller.
bool HostServedThread(uint32_t thread)
{
    _NODE_MAIN_RESOURCE_ST* record = mp_core_node_record((thread >> 16) & 0xFF);
    return record && !mp_core_board_processor(record);
}

// Marks (or unmarks) the live thread object of an id as freed by a posted imThrFree.
// Marking fails when the id names no live object or one whose free is already posted.
bool MarkFreePosted(uint32_t thread, bool mark)
{
    TaskBeginMutex();
    MP_THREAD_OBJ_ST* object = Find(thread);
    const bool done = object && (object->freePosted != 0) != mark;
    if (done) object->freePosted = mark ? 1 : 0;
    TaskEndMutex();
    return done;
}
} // namespace

int32_t imThrCancel(uint32_t thread) try { return PostNoWait(thread, kOpThrCancel, "imThrCancel"); }
HLC_EXPORT_CATCH(imThrCancel)

int32_t imThrFree(uint32_t thread)
try {
    // Mend: a second free of a host-served thread object went unreported or late; it is refused at once.
    if (!HostServedThread(thread)) return PostNoWait(thread, kOpThrFree, "imThrFree");
    _MSG_ST msg{};
    im_msg_start(&msg, kOpThrFree, 0, "imThrFree");
    if (!MarkFreePosted(thread, true)) {
        im_msg_log_error(&msg, HLC_ERR_INVALID_THREAD, HlcErrorText(HLC_ERR_INVALID_THREAD));
    } else {
        im_msg_send(&msg, 0, thread, 0, IM_SYNC_NOWAIT);
        if (im_msg_cmd_error(&msg) != 0) MarkFreePosted(thread, false);
    }
    im_msg_end(&msg);
    return im_msg_cmd_error(&msg);
}
HLC_EXPORT_CATCH(imThrFree)

int32_t imThrControl(uint32_t thread, uint32_t type, double value)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpThrControl, 2, "imThrControl");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(type));
    im_msg_put_double(&msg, 1, value);
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_NOWAIT);
    im_msg_end(&msg);
    return im_msg_cmd_error(&msg);
}
HLC_EXPORT_CATCH(imThrControl)

int32_t imThrGetError(uint32_t thread, uint32_t mode, void* out)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpThrGetError, 1, "imThrGetError");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(mode));
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_POLL);
    const int32_t error = im_msg_cmd_error(&msg);
    const int32_t result = error != 0 ? error : im_msg_get_error_item(&msg, mode, out);
    im_msg_end(&msg);
    return result;
}
HLC_EXPORT_CATCH(imThrGetError)

int32_t imThrHalt(uint32_t thread, int32_t argument)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpThrHalt, 1, "imThrHalt");
    im_msg_put_long(&msg, 0, argument);
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_NOWAIT);
    im_msg_end(&msg);
    return im_msg_cmd_error(&msg);
}
HLC_EXPORT_CATCH(imThrHalt)

int32_t imThrInquire(uint32_t thread, uint32_t type, void* out)
try {
    _MSG_ST msg{};
    im_msg_start(&msg, kOpThrInquire, 1, "imThrInquire");
    im_msg_put_long(&msg, 0, static_cast<int32_t>(type));
    im_msg_send(&msg, 0, thread, 0, IM_SYNC_POLL);
    const int32_t value = im_msg_cmd_error(&msg) == 0 ? im_msg_get_long(&msg, 0) : 0;
    im_msg_end(&msg);
    if (out) std::memcpy(out, &value, 4);
    return value;
}
HLC_EXPORT_CATCH(imThrInquire)
