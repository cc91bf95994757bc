// Ports, kernel messages, routes, relaying, reclaiming and freeing.

#include "task_internal.h"

#include <cstring>

namespace taskdetail {
namespace {

// Relaying and reclaiming may hand a message on to each other; a message whose
// addresses lead round in a circle is dropped after this many steps.
constexpr int kMaxRelaySteps = 4;

MsgHeader* HeaderOf(void* message) {
    return reinterpret_cast<MsgHeader*>(static_cast<uint8_t*>(message) - kTaskMsgHeaderSize);
}

void* UserArea(MsgHeader* h) { return reinterpret_cast<uint8_t*>(h) + kTaskMsgHeaderSize; }

int8_t OwnNodeByte(Globals* g) { return static_cast<int8_t>(g->ownNode & 0xFF); }

// The header of a message with a valid magic, else null (recorded as the last bad one).
MsgHeader* CheckedHeader(Globals* g, void* message) {
    if (!message) return nullptr;
    MsgHeader* h = HeaderOf(message);
    if (h->magic != kTaskMsgMagic) {
        g->lastBadMessage = message;
        return nullptr;
    }
    return h;
}

// Queues a message on a port or hands it to its first receiver.
void Deliver(Globals* g, PortRecord* p, MsgHeader* h, bool* preempt) {
    if (TaskBlock* t = QueuePop(p->receivers)) {
        WakeWith(g, t, reinterpret_cast<intptr_t>(UserArea(h)), 0, preempt);
        return;
    }
    h->next = nullptr;
    bool wasEmpty = p->head == nullptr;
    if (p->tail)
        p->tail->next = h;
    else
        p->head = h;
    p->tail = h;
    if (wasEmpty && p->boundTask) RaiseEvent(g, p->boundTask, p->boundBit, preempt);
}

bool FreeMessage(Globals* g, MsgHeader* h) {
    void* message = UserArea(h);
    h->magic = 0;
    if (h->sourceNode != OwnNodeByte(g) || h->kind == kTaskMsgCallerMemory) {
        g->lastBadMessage = message;
        return false;
    }
    if (h->kind == kTaskMsgAllocated) {
        g->release(h);
        return true;
    }
    uint8_t* first = &g->pool[0][0];
    uint8_t* at = reinterpret_cast<uint8_t*>(h);
    if (h->kind == kTaskMsgPool && at >= first && at < first + sizeof g->pool &&
        (at - first) % kTaskPoolBlockSize == 0) {
        h->next = g->poolFree;
        g->poolFree = h;
        return true;
    }
    g->lastBadMessage = message;   // unknown kind, or a pool message not of this kernel
    return false;
}

void RelayMessage(Globals* g, MsgHeader* h, bool* preempt, int depth) {
    if (depth > kMaxRelaySteps) {
        g->lastBadMessage = UserArea(h);
        return;
    }
    uint32_t destination = static_cast<uint32_t>(h->destination);
    uint32_t node = destination >> 24;
    if (node == 0xFF || node == (static_cast<uint32_t>(g->ownNode) & 0xFF)) {
        int32_t port = static_cast<int32_t>((kTaskTypePort << 24) | (destination & 0xFFFFFF));
        if (PortRecord* p = FindPort(g, port))
            Deliver(g, p, h, preempt);
        else
            ReclaimMessage(g, h, preempt, depth + 1);
        return;
    }
    if (PortRecord* route = FindPort(g, g->routes[node])) {
        Deliver(g, route, h, preempt);
        return;
    }
    if (static_cast<int8_t>(node) == h->sourceNode)
        g->lastBadMessage = UserArea(h);   // no way back to where it came from: dropped
    else
        ReclaimMessage(g, h, preempt, depth + 1);
}

} // namespace

void ReclaimMessage(Globals* g, MsgHeader* h, bool* preempt, int depth) {
    h->reserved = -1;
    if (h->sourceNode != OwnNodeByte(g)) {
        h->destination = static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint8_t>(h->sourceNode)) << 24) | 0xFFFFFFu);
        RelayMessage(g, h, preempt, depth + 1);
        return;
    }
    if (h->homePort != -1) {
        if (PortRecord* home = FindPort(g, h->homePort)) {
            Deliver(g, home, h, preempt);
            return;
        }
    }
    // No home port, or it was closed: the message ends here.
    FreeMessage(g, h);
}

} // namespace taskdetail

using namespace taskdetail;

// ---- ports ------------------------------------------------------------------------------

int32_t TaskOpenPort(int32_t handle) {
    Globals* g = FindGlobals();
    if (!g) return -1;
    PortRecord* p = static_cast<PortRecord*>(g->allocate(sizeof(PortRecord)));
    KernelCall k;
    if (!p) {
        SetError(g, kTaskErrorNoMemory);
        return -1;
    }
    int32_t h = ChooseHandle(g, g->ports, kTaskTypePort, handle == -1 ? -1 : LocalPortHandle(g, handle));
    if (h == -1) {
        g->release(p);
        return -1;
    }
    std::memset(p, 0, sizeof *p);
    p->handle = h;
    g->portTable[static_cast<uint32_t>(h) & 0xFFFF] = p;
    return h;
}

int TaskClosePort(int32_t port) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return 0;
    PortRecord* p = FindPortOrFail(g, port);
    if (!p) return 0;
    g->portTable[static_cast<uint32_t>(p->handle) & 0xFFFF] = nullptr;
    bool preempt = false;
    while (TaskBlock* t = QueuePop(p->receivers)) WakeWith(g, t, 0, kTaskErrorPortClosed, &preempt);
    UnbindPort(g, p, kTaskErrorPortClosed, &preempt);
    MsgHeader* h = p->head;
    p->head = p->tail = nullptr;
    while (h) {
        MsgHeader* next = h->next;
        ReclaimMessage(g, h, &preempt, 0);
        h = next;
    }
    g->release(p);
    if (preempt) _preempt(g);
    return 1;
}

int TaskBindPort(int32_t port, int bit) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return 0;
    PortRecord* p = FindPortOrFail(g, port);
    if (!p) return 0;
    if (p->boundTask) {
        SetError(g, kTaskErrorPortBound);
        return 0;
    }
    TaskBlock* self = g->current;
    if (!ClaimEventBit(g, self, bit)) return 0;
    p->boundTask = self;
    p->boundBit = bit;
    p->next = self->boundPorts;
    self->boundPorts = p;
    if (p->head)
        self->pendingEvents |= 1u << bit;
    else
        self->pendingEvents &= ~(1u << bit);
    return 1;
}

// ---- messages ---------------------------------------------------------------------------

void* TaskInitMsg(void* memory, int32_t size, int32_t homePort) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return nullptr;
    if (!memory || size < kTaskMsgMinSize || size > kTaskMsgMaxSize) {
        SetError(g, kTaskErrorMessageSize);
        return nullptr;
    }
    if (homePort != -1) {
        PortRecord* home = FindPortOrFail(g, homePort);
        if (!home) return nullptr;
        homePort = home->handle;
    }
    MsgHeader* h = static_cast<MsgHeader*>(memory);
    h->next = nullptr;
    h->sourceNode = OwnNodeByte(g);
    h->kind = kTaskMsgCallerMemory;
    h->totalSize = static_cast<uint16_t>(size);
    h->homePort = homePort;
    h->destination = -1;
    h->reserved = -1;
    h->magic = kTaskMsgMagic;
    h->userSize = static_cast<uint16_t>(size - static_cast<int32_t>(kTaskMsgHeaderSize));
    return UserArea(h);
}

int TaskSendMsg(void* message, int32_t port) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return 0;
    MsgHeader* h = CheckedHeader(g, message);
    if (!h) return 0;
    PortRecord* p = FindPortOrFail(g, port);
    if (!p) return 0;
    bool preempt = false;
    Deliver(g, p, h, &preempt);
    if (preempt) _preempt(g);
    return 1;
}

void* TaskReceiveMsg(int32_t port) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return nullptr;
    PortRecord* p = FindPortOrFail(g, port);
    if (!p) return nullptr;
    if (MsgHeader* h = p->head) {
        p->head = h->next;
        if (!p->head) {
            p->tail = nullptr;
            if (p->boundTask) ClearEvent(p->boundTask, p->boundBit);
        }
        h->next = nullptr;
        return UserArea(h);
    }
    TaskBlock* self = g->current;
    if (self == &g->root) {
        SetError(g, kTaskErrorRootBlocks);
        return nullptr;
    }
    self->waitKind = kTaskWaitPort;
    self->waitObject = p;
    self->waitResult = 0;
    _blockTask(g, &p->receivers);
    return reinterpret_cast<void*>(self->waitResult);
}

int TaskSetMsgRoute(int32_t node, int32_t port) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return 0;
    if (node < 0 || node >= kTaskRoutes) {
        SetError(g, kTaskErrorRouteNode);
        return 0;
    }
    if (port == -1) {
        g->ownNode = node;
        return 1;
    }
    PortRecord* p = FindPortOrFail(g, port);
    if (!p) return 0;
    g->routes[node] = p->handle;
    return 1;
}

namespace {

// Hands a checked message of the running kernel to step and gives the processor away
// when step asks for it; 0 without a kernel or for a message that is none.
int PassMessage(void* message, void (*step)(Globals*, MsgHeader*, bool*, int)) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return 0;
    MsgHeader* h = CheckedHeader(g, message);
    if (!h) return 0;
    bool preempt = false;
    step(g, h, &preempt, 0);
    if (preempt) _preempt(g);
    return 1;
}

}  // namespace

int TaskRelayMsg(void* message) { return PassMessage(message, RelayMessage); }

int TaskReclaimMsg(void* message) { return PassMessage(message, ReclaimMessage); }

int TaskFreeMsg(void* message) {
    KernelCall k;
    Globals* g = k.g();
    if (!g) return 0;
    MsgHeader* h = CheckedHeader(g, message);
    if (!h) return 0;
    return FreeMessage(g, h) ? 1 : 0;
}
