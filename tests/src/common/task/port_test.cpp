// Ports, kernel messages, routes, relaying, reclaiming and freeing.

#include "kernel_fixture.h"

#include <cstdlib>
#include <cstring>

namespace {

MsgHeader* Header(void* user) {
    return reinterpret_cast<MsgHeader*>(static_cast<uint8_t*>(user) - kTaskMsgHeaderSize);
}

// Caller memory for one message.
struct Buffer {
    alignas(8) uint8_t bytes[256];
};

class MessageTest : public KernelTest {
protected:
    void* Message(int32_t home = -1, int32_t size = 64) {
        buffers_.push_back(std::make_unique<Buffer>());
        return TaskInitMsg(buffers_.back()->bytes, size, home);
    }
    // Messages queued on a port, without taking them.
    int Queued(int32_t port) {
        int n = 0;
        for (MsgHeader* h = g_->portTable[static_cast<uint32_t>(port) & 0xFFFF]->head; h; h = h->next) ++n;
        return n;
    }
    std::vector<std::unique_ptr<Buffer>> buffers_;
};

// ---- message headers --------------------------------------------------------------------

TEST_F(MessageTest, InitWritesTheHeaderBeforeTheUserArea) {
    int32_t home = TaskOpenPort(-1);
    Buffer b;
    std::memset(b.bytes, 0xCC, sizeof b.bytes);
    void* user = TaskInitMsg(b.bytes, 100, home);
    ASSERT_EQ(user, b.bytes + 24);
    MsgHeader* h = Header(user);
    EXPECT_EQ(h->next, nullptr);
    EXPECT_EQ(h->sourceNode, -1);   // no own node set yet
    EXPECT_EQ(h->kind, kTaskMsgCallerMemory);
    EXPECT_EQ(h->totalSize, 100);
    EXPECT_EQ(h->homePort, home);
    EXPECT_EQ(h->destination, -1);
    EXPECT_EQ(h->reserved, -1);
    EXPECT_EQ(h->magic, 0x5A69);
    EXPECT_EQ(h->userSize, 76);
    // The shared-memory layout, byte by byte.
    uint16_t magic;
    std::memcpy(&magic, b.bytes + 20, 2);
    EXPECT_EQ(magic, 0x5A69);
    EXPECT_EQ(b.bytes[5], 0);
    EXPECT_EQ(b.bytes[24], 0xCC);   // the user area is left alone
}

TEST_F(MessageTest, SizesOutside24To32792AreRefusedWithError22) {
    static uint8_t big[32800];
    EXPECT_EQ(TaskInitMsg(big, 23, -1), nullptr);
    EXPECT_EQ(TaskGetError(), kTaskErrorMessageSize);
    EXPECT_EQ(TaskInitMsg(big, 32793, -1), nullptr);
    EXPECT_EQ(TaskGetError(), kTaskErrorMessageSize);
    EXPECT_EQ(TaskInitMsg(nullptr, 64, -1), nullptr);
    EXPECT_EQ(TaskGetError(), kTaskErrorMessageSize);
    void* empty = TaskInitMsg(big, 24, -1);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(Header(empty)->userSize, 0);
    void* largest = TaskInitMsg(big, 32792, -1);
    ASSERT_NE(largest, nullptr);
    EXPECT_EQ(Header(largest)->userSize, 32768);
}

TEST_F(MessageTest, HomePortMustBeOpen) {
    Buffer b;
    EXPECT_EQ(TaskInitMsg(b.bytes, 64, static_cast<int32_t>(0xFF000009)), nullptr);
    EXPECT_EQ(TaskGetError(), kTaskErrorPortNotFound);
}

TEST_F(MessageTest, SourceNodeIsTheKernelsOwnNode) {
    EXPECT_EQ(TaskSetMsgRoute(0x21, -1), 1);
    EXPECT_EQ(g_->ownNode, 0x21);
    EXPECT_EQ(Header(Message())->sourceNode, 0x21);
}

// ---- ports ------------------------------------------------------------------------------

TEST_F(MessageTest, MessagesQueueFirstInFirstOut) {
    int32_t p = TaskOpenPort(-1);
    void* a = Message();
    void* b = Message();
    EXPECT_EQ(TaskSendMsg(a, p), 1);
    EXPECT_EQ(TaskSendMsg(b, p), 1);
    EXPECT_EQ(Queued(p), 2);
    EXPECT_EQ(TaskReceiveMsg(p), a);
    EXPECT_EQ(TaskReceiveMsg(p), b);
    EXPECT_EQ(TaskReceiveMsg(p), nullptr);   // the root task would block
    EXPECT_EQ(TaskGetError(), kTaskErrorRootBlocks);
}

TEST_F(MessageTest, MessageForAWaitingReceiverIsHandedOverWithoutQueueing) {
    int32_t p = TaskOpenPort(-1);
    void* got = nullptr;
    int queuedWhenWoken = -1;
    Start(5, [&] {
        got = TaskReceiveMsg(p);
        queuedWhenWoken = Queued(p);
    });
    void* m = Message();
    EXPECT_EQ(TaskSendMsg(m, p), 1);   // the receiver runs before this returns
    EXPECT_EQ(got, m);
    EXPECT_EQ(queuedWhenWoken, 0);
}

TEST_F(MessageTest, ReceiverOfAClosedPortWakesWithNullAndError11) {
    int32_t p = TaskOpenPort(-1);
    void* got = reinterpret_cast<void*>(1);
    int error = -1;
    Start(5, [&] {
        got = TaskReceiveMsg(p);
        error = TaskGetError();
    });
    EXPECT_EQ(TaskClosePort(p), 1);
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(error, kTaskErrorPortClosed);
    EXPECT_EQ(TaskClosePort(p), 0);
    EXPECT_EQ(TaskGetError(), kTaskErrorPortNotFound);
}

TEST_F(MessageTest, ClosingAPortSendsItsQueuedMessagesToTheirHomePorts) {
    int32_t homeA = TaskOpenPort(-1);
    int32_t homeB = TaskOpenPort(-1);
    int32_t p = TaskOpenPort(-1);
    void* a = Message(homeA);
    void* b = Message(homeB);
    TaskSendMsg(a, p);
    TaskSendMsg(b, p);
    EXPECT_EQ(TaskClosePort(p), 1);
    EXPECT_EQ(TaskReceiveMsg(homeA), a);
    EXPECT_EQ(TaskReceiveMsg(homeB), b);
    EXPECT_EQ(Header(a)->reserved, -1);
}

TEST_F(MessageTest, ClosingAPortThatIsItsMessagesHomeEndsThem) {
    int32_t p = TaskOpenPort(-1);
    void* m = Message(p);
    TaskSendMsg(m, p);
    EXPECT_EQ(TaskClosePort(p), 1);          // no endless return to itself
    EXPECT_EQ(Header(m)->magic, 0);          // caller memory: marked dead, not freed
    EXPECT_EQ(g_->lastBadMessage, m);
}

TEST_F(MessageTest, GivenPortHandlesAndTheOwnNodeForm) {
    EXPECT_EQ(TaskOpenPort(static_cast<int32_t>(0xFF000010)), static_cast<int32_t>(0xFF000010));
    EXPECT_EQ(TaskOpenPort(static_cast<int32_t>(0xFF000010)), -1);
    EXPECT_EQ(TaskGetError(), kTaskErrorBadHandle);
    EXPECT_EQ(TaskOpenPort(static_cast<int32_t>(0xFF000100)), -1);   // index 256
    EXPECT_EQ(TaskOpenPort(static_cast<int32_t>(0x21000011)), -1);   // not our node (none set)
    TaskSetMsgRoute(0x21, -1);
    int32_t local = TaskOpenPort(static_cast<int32_t>(0x21000011));
    EXPECT_EQ(local, static_cast<int32_t>(0xFF000011));
    void* m = Message();
    EXPECT_EQ(TaskSendMsg(m, static_cast<int32_t>(0x21000011)), 1);   // either form names it
    EXPECT_EQ(TaskReceiveMsg(local), m);
    EXPECT_EQ(TaskBindPort(static_cast<int32_t>(0x21000011), 4), 1);
}

TEST_F(MessageTest, FullPortTableGivesError13) {
    for (int i = 0; i < 256; ++i) ASSERT_NE(TaskOpenPort(-1), -1);
    EXPECT_EQ(TaskOpenPort(-1), -1);
    EXPECT_EQ(TaskGetError(), kTaskErrorTableFull);
}

TEST_F(MessageTest, BoundPortRaisesItsBitWhileItHoldsMessages) {
    int32_t p = TaskOpenPort(-1);
    EXPECT_EQ(TaskBindPort(p, 7), 1);
    EXPECT_EQ(TaskBindPort(p, 8), 0);
    EXPECT_EQ(TaskGetError(), kTaskErrorPortBound);
    int32_t q = TaskOpenPort(-1);
    EXPECT_EQ(TaskBindPort(q, 7), 0);
    EXPECT_EQ(TaskGetError(), kTaskErrorEventInUse);
    TaskSendMsg(Message(), p);
    TaskSendMsg(Message(), p);
    EXPECT_EQ(TaskWaitEvents(1u << 7), 1u << 7);
    TaskReceiveMsg(p);
    EXPECT_EQ(g_->root.pendingEvents, 1u << 7);
    TaskReceiveMsg(p);
    EXPECT_EQ(g_->root.pendingEvents, 0u);   // the last message clears it
}

TEST_F(MessageTest, OwnerWaitingForAPortBitWakesOnTheFirstMessage) {
    int32_t p = TaskOpenPort(-1);
    uint32_t got = 0;
    void* received = nullptr;
    Start(8, [&] {
        TaskBindPort(p, 0);
        got = TaskWaitEvents(1u);
        received = TaskReceiveMsg(p);
    });
    void* m = Message();
    TaskSendMsg(m, p);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(received, m);
}

TEST_F(MessageTest, ClosingABoundPortWakesItsWaitingOwnerWithError11) {
    int32_t p = TaskOpenPort(-1);
    uint32_t got = 9;
    int error = -1;
    Start(8, [&] {
        TaskBindPort(p, 0);
        got = TaskWaitEvents(1u);
        error = TaskGetError();
    });
    TaskClosePort(p);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(error, kTaskErrorPortClosed);
}

// ---- routes and relaying ----------------------------------------------------------------

TEST_F(MessageTest, RouteNodeMustBeBelow256AndItsPortOpen) {
    int32_t p = TaskOpenPort(-1);
    EXPECT_EQ(TaskSetMsgRoute(256, p), 0);
    EXPECT_EQ(TaskGetError(), kTaskErrorRouteNode);
    EXPECT_EQ(TaskSetMsgRoute(-3, p), 0);
    EXPECT_EQ(TaskGetError(), kTaskErrorRouteNode);
    EXPECT_EQ(TaskSetMsgRoute(0x31, static_cast<int32_t>(0xFF000042)), 0);
    EXPECT_EQ(TaskGetError(), kTaskErrorPortNotFound);
    EXPECT_EQ(TaskSetMsgRoute(0x31, p), 1);
    EXPECT_EQ(g_->routes[0x31], p);
    EXPECT_EQ(g_->ownNode, -1);
}

TEST_F(MessageTest, RelayToALocalPortDeliversItOrReclaimsItWhenClosed) {
    TaskSetMsgRoute(0x11, -1);
    int32_t home = TaskOpenPort(-1);
    int32_t target = TaskOpenPort(static_cast<int32_t>(0xFF000020));
    void* m = Message(home);
    Header(m)->destination = static_cast<int32_t>(0xFF000020);   // node 0xFF: local
    EXPECT_EQ(TaskRelayMsg(m), 1);
    EXPECT_EQ(TaskReceiveMsg(target), m);
    Header(m)->destination = static_cast<int32_t>(0x11000020);   // our own node number
    TaskRelayMsg(m);
    EXPECT_EQ(TaskReceiveMsg(target), m);
    TaskClosePort(target);
    TaskRelayMsg(m);                                             // not open: back home
    EXPECT_EQ(TaskReceiveMsg(home), m);
}

TEST_F(MessageTest, RelayToAnotherNodeGoesToItsRoutePort) {
    TaskSetMsgRoute(0x11, -1);
    int32_t route = TaskOpenPort(-1);
    TaskSetMsgRoute(0x22, route);
    void* m = Message();
    Header(m)->destination = static_cast<int32_t>(0x22000005);
    TaskRelayMsg(m);
    EXPECT_EQ(TaskReceiveMsg(route), m);
}

TEST_F(MessageTest, RemoteMessageWithoutARouteBackIsDropped) {
    TaskSetMsgRoute(0x11, -1);
    void* m = Message();
    Header(m)->sourceNode = 0x22;                                 // came from node 0x22
    Header(m)->destination = static_cast<int32_t>(0x22000005);   // and goes back there
    EXPECT_EQ(TaskRelayMsg(m), 1);
    EXPECT_EQ(g_->lastBadMessage, m);
    EXPECT_EQ(Header(m)->magic, 0x5A69);                          // dropped, not freed
}

TEST_F(MessageTest, RemoteDestinationWithoutARouteReclaimsAnOwnMessage) {
    TaskSetMsgRoute(0x11, -1);
    int32_t home = TaskOpenPort(-1);
    void* m = Message(home);
    Header(m)->destination = static_cast<int32_t>(0x33000005);
    TaskRelayMsg(m);
    EXPECT_EQ(TaskReceiveMsg(home), m);
    EXPECT_EQ(g_->lastBadMessage, nullptr);
}

TEST_F(MessageTest, MessagesWhoseAddressesCircleAreDropped) {
    // A message claiming to come from node 0xFF (the local marker) while the kernel is
    // node 0x11: reclaiming relays it to "node 0xFF", a local port that does not exist,
    // which reclaims it again.  It is dropped instead of circling for ever.
    TaskSetMsgRoute(0x11, -1);
    void* m = Message();
    Header(m)->sourceNode = -1;
    EXPECT_EQ(TaskReclaimMsg(m), 1);
    EXPECT_EQ(g_->lastBadMessage, m);
}

// ---- reclaiming and freeing -------------------------------------------------------------

TEST_F(MessageTest, ReclaimSendsAnOwnMessageHomeAndAForeignOneBackToItsNode) {
    TaskSetMsgRoute(0x11, -1);
    int32_t home = TaskOpenPort(-1);
    int32_t toNode22 = TaskOpenPort(-1);
    TaskSetMsgRoute(0x22, toNode22);
    void* own = Message(home);
    Header(own)->reserved = 1234;
    EXPECT_EQ(TaskReclaimMsg(own), 1);
    EXPECT_EQ(TaskReceiveMsg(home), own);
    EXPECT_EQ(Header(own)->reserved, -1);
    void* foreign = Message(home);
    Header(foreign)->sourceNode = 0x22;
    TaskReclaimMsg(foreign);
    EXPECT_EQ(TaskReceiveMsg(toNode22), foreign);
    EXPECT_EQ(static_cast<uint32_t>(Header(foreign)->destination), 0x22FFFFFFu);
}

TEST_F(MessageTest, ReclaimWithoutHomePortFreesTheMessage) {
    void* m = Message();
    Header(m)->kind = kTaskMsgAllocated;   // pretend it came from the allocation function
    void* block = std::malloc(64);
    std::memcpy(block, Header(m), 24);
    void* allocated = static_cast<uint8_t*>(block) + 24;
    EXPECT_EQ(TaskReclaimMsg(allocated), 1);   // freed (the sanitizer sees a leak otherwise)
}

TEST_F(MessageTest, FreeReleasesAllocatedMessagesWithTheFreeFunction) {
    void* block = std::malloc(80);
    void* m = TaskInitMsg(block, 80, -1);
    Header(m)->kind = kTaskMsgAllocated;
    EXPECT_EQ(TaskFreeMsg(m), 1);
}

TEST_F(MessageTest, FreeReturnsPoolBlocksToThePool) {
    MsgHeader* block = g_->poolFree;
    g_->poolFree = block->next;   // taken as the pool's user would
    void* m = TaskInitMsg(block, 64, -1);
    Header(m)->kind = kTaskMsgPool;
    EXPECT_EQ(TaskFreeMsg(m), 1);
    EXPECT_EQ(g_->poolFree, block);
    int pooled = 0;
    for (MsgHeader* h = g_->poolFree; h; h = h->next) ++pooled;
    EXPECT_EQ(pooled, 24);
}

TEST_F(MessageTest, FreeLeavesCallerMemoryAndForeignMessagesAlone) {
    void* m = Message();
    EXPECT_EQ(TaskFreeMsg(m), 0);
    EXPECT_EQ(Header(m)->magic, 0);        // marked dead
    EXPECT_EQ(g_->lastBadMessage, m);
    void* foreign = Message();
    Header(foreign)->sourceNode = 0x44;
    Header(foreign)->kind = kTaskMsgAllocated;
    EXPECT_EQ(TaskFreeMsg(foreign), 0);
    EXPECT_EQ(g_->lastBadMessage, foreign);
    Buffer b;
    void* fakePool = TaskInitMsg(b.bytes, 64, -1);
    Header(fakePool)->kind = kTaskMsgPool;   // not a block of this kernel's pool
    EXPECT_EQ(TaskFreeMsg(fakePool), 0);
    EXPECT_EQ(g_->lastBadMessage, fakePool);
}

TEST_F(MessageTest, MessageWithoutTheMagicIsNotTouched) {
    int32_t p = TaskOpenPort(-1);
    Buffer b;
    std::memset(b.bytes, 0, sizeof b.bytes);
    void* bad = b.bytes + 24;
    EXPECT_EQ(TaskSendMsg(bad, p), 0);
    EXPECT_EQ(g_->lastBadMessage, bad);
    g_->lastBadMessage = nullptr;
    EXPECT_EQ(TaskRelayMsg(bad), 0);
    EXPECT_EQ(g_->lastBadMessage, bad);
    g_->lastBadMessage = nullptr;
    EXPECT_EQ(TaskReclaimMsg(bad), 0);
    EXPECT_EQ(g_->lastBadMessage, bad);
    g_->lastBadMessage = nullptr;
    EXPECT_EQ(TaskFreeMsg(bad), 0);
    EXPECT_EQ(g_->lastBadMessage, bad);
    EXPECT_EQ(Queued(p), 0);
    for (uint8_t byte : b.bytes) ASSERT_EQ(byte, 0);
    EXPECT_EQ(TaskSendMsg(nullptr, p), 0);
}

TEST_F(MessageTest, EndOfKernelFreesAllocatedMessagesStillQueued) {
    int32_t p = TaskOpenPort(-1);
    void* m = TaskInitMsg(std::malloc(48), 48, -1);
    Header(m)->kind = kTaskMsgAllocated;
    TaskSendMsg(m, p);
    TaskSendMsg(Message(), p);   // caller memory stays the caller's
}

} // namespace
