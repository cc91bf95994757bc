// Thread objects: node-side command queues.  Each is a kind-8 buffer descriptor whose one
// 252-byte inline band holds the state of its command server task (ports, semaphores,
// priority, cancel and hold words, request resource, error records) and its attributes.
#pragma once

#include "hlc_arch.h"
#include "im_msgio.h"
#include "reqres.h"

#include <cstddef>
#include <cstdint>

struct _MP_BUF_ST;

constexpr uint32_t kOpThrAlloc = 4;
constexpr uint32_t kOpThrControl = 6;
constexpr uint32_t kOpThrGetError = 8;
constexpr uint32_t kOpThrInquire = 10;

// Attribute keys and control or inquire types.
constexpr uint32_t kThrAttrChecked = IM_THR_CHECKED;
constexpr uint32_t kThrAttrPriority = IM_THR_PRIORITY;
constexpr uint32_t kThrAttrOwner = IM_THR_OWNER;
constexpr uint32_t kThrAttrStack = IM_THR_STACK_SIZE;
constexpr uint32_t kThrAttrValue = IM_THR_VALUE;
constexpr uint32_t kThrAttrSwitch = IM_THR_SWITCH;

constexpr int32_t kThrSwitchOn = IM_ENABLE;
constexpr int32_t kThrSwitchOff = IM_DISABLE;

constexpr uint32_t kThrBandBytes = 252;

// A thread object's grab record: the grabs in progress on the thread, where they go, the
// halt counter and semaphore and the thread's VM transfer.  The count and the location
// change together with the node's external interrupt disabled, so the end-of-grab server
// sees both as one; the count changes under the task kernel's short lock.
struct MP_THR_GRAB_ST {
    int32_t count;       // grabs in progress on this thread
    uint32_t location;   // destination location of the grab in progress (bit 31 ignored); 0 none
    uint32_t waitMode;   // 1 wait for grabs into another location, 2 no wait
    int32_t haltCount;   // halts owed to the thread's VM transfers
    int32_t haltSema;    // task semaphore the halt signals and waits on (-1 none)
    uint32_t vmXfer;     // VM transfer: byte 0 source node, 1 source path, 2 destination node,
                         // 3 destination path (path 1 first grab path, 2 second)
    uint32_t vmNode;     // node that serves the thread's VM transfer
    uint32_t path;       // grab path of a host grab: 1 first, 2 second
};
static_assert(sizeof(MP_THR_GRAB_ST) == 32, "the thread grab record is 8 words");

// The band: owner device id, stack size, then the command server's state (from the
// command port on in the band's order, MP_THREAD_ST), the grab record and the free mark.
struct MP_THREAD_OBJ_ST {
    uint32_t ownerDevice;       // 15003: the band's first word (imBufInquire type 124)
    uint32_t stackSize;         // 15004
    MP_THREAD_ST server;        // the command server's task argument
    MP_THR_GRAB_ST grab;        // grab record (band bytes 184-215)
    uint32_t freePosted;        // an imThrFree of the object is on its way to the node
};
static_assert(sizeof(MP_THREAD_OBJ_ST) <= kThrBandBytes, "a thread object fits its band");
static_assert(offsetof(MP_THREAD_OBJ_ST, ownerDevice) == 0 && offsetof(MP_THREAD_OBJ_ST, stackSize) == 4 &&
                  offsetof(MP_THREAD_OBJ_ST, server) == 8,
              "owner device id, stack size, then the server's state");
static_assert(offsetof(MP_THREAD_OBJ_ST, grab) == 184, "the grab record at band byte 184");

// The grab record of a thread (null when it is no live thread object), and of a thread
// object's kind-8 descriptor as a grab slot holds it.
MP_THR_GRAB_ST* mp_thr_grab_record(const MP_THREAD_ST* thread);
MP_THR_GRAB_ST* mp_thr_grab_record_of_buffer(uint32_t descriptor);

// The object of a thread id, null when the id is no live thread object.
MP_THREAD_OBJ_ST* mp_thr_object(uint32_t id);

// Makes a thread object on the node (resource: the command's, or null at start-up with
// node given), with the owner device id (0 none) and the attribute descriptor (null:
// defaults).  predefinedId non-zero gives the object that predefined id.  Returns the
// object, null on failure (-8 bad attribute, -4 no memory, ports, semaphores or task,
// logged into the resource when there is one).
MP_THREAD_OBJ_ST* mpThrAlloc(MP_RESOURCE_ST* resource, uint32_t node, uint32_t ownerDevice,
                             const _MP_BUF_ST* attributes, uint32_t predefinedId = 0);
// Closes ports and semaphores and frees the object (outside its own command server).
void mp_thr_destroy(MP_THREAD_OBJ_ST* thread);
// Frees the objects whose command servers have ended since they were freed.
void mp_thr_reap();
// Destroys every thread object of a node (its runtime's end, on the node's kernel).
void mp_thr_destroy_node(uint32_t node);

void mp_ThrAlloc(_MSG_BODY_ST* msg);
void mp_ThrControl(_MSG_BODY_ST* msg);
void mp_ThrFree(_MSG_BODY_ST* msg);
void mp_ThrGetError(_MSG_BODY_ST* msg);
void mp_ThrInquire(_MSG_BODY_ST* msg);

// Puts the handlers into the opcode table and the thread lookup into the ring server.
void mp_thread_install();

// ---- exports ----------------------------------------------------------------------------
HLC_API uint32_t imThrAlloc(uint32_t device, uint32_t attributes, uint32_t* thread);
HLC_API int32_t imThrCancel(uint32_t thread);
HLC_API int32_t imThrControl(uint32_t thread, uint32_t type, double value);
HLC_API int32_t imThrFree(uint32_t thread);
HLC_API int32_t imThrGetError(uint32_t thread, uint32_t mode, void* out);
HLC_API int32_t imThrHalt(uint32_t thread, int32_t argument);
HLC_API int32_t imThrInquire(uint32_t thread, uint32_t type, void* out);
