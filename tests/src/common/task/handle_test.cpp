// Every operation that takes a handle refuses one that does not name an open resource of
// its kind, with its error code, and touches nothing.

#include "kernel_fixture.h"

namespace {

class BadHandleTest : public KernelTest {
protected:
    void SetUp() override {
        KernelTest::SetUp();
        int32_t closedSema = TaskOpenSema(-1, 0);
        TaskCloseSema(closedSema);
        int32_t closedPort = TaskOpenPort(-1);
        TaskClosePort(closedPort);
        int32_t endedTask = Make(3, [] {});
        TaskResume(endedTask);
        // Open resources whose slots the made-up handles below point into.
        liveSema_ = TaskOpenSema(static_cast<int32_t>(0xFE110007), 1);
        livePort_ = TaskOpenPort(static_cast<int32_t>(0xFF110007));
        liveTask_ = Make(3, [] {}, static_cast<int32_t>(0xFD110007));
        semas_ = {closedSema, static_cast<int32_t>(0xFE220007) /* other tag */, static_cast<int32_t>(0xFE00FFFF),
                  static_cast<int32_t>(0xFE000400), livePort_, liveTask_, -1, 0, 0x12345678};
        ports_ = {closedPort, static_cast<int32_t>(0xFF220007), static_cast<int32_t>(0xFF00FFFF),
                  static_cast<int32_t>(0xFF000100), liveSema_, liveTask_, -1, 0, 0x12345678};
        tasks_ = {endedTask, static_cast<int32_t>(0xFD220007), static_cast<int32_t>(0xFD00FFFF),
                  static_cast<int32_t>(0xFD000100), liveSema_, livePort_, -1, 0, 0x12345678};
    }
    // The error byte is set by the call under test.
    void Reset() { g_->current->error = 0; }

    int32_t liveSema_ = -1, livePort_ = -1, liveTask_ = -1;
    std::vector<int32_t> semas_, ports_, tasks_;
};

TEST_F(BadHandleTest, SemaphoreOperations) {
    for (int32_t h : semas_) {
        SCOPED_TRACE(testing::Message() << std::hex << h);
        Reset();
        EXPECT_EQ(TaskWaitSema(h), 0);
        EXPECT_EQ(TaskGetError(), kTaskErrorSemaNotFound);
        Reset();
        EXPECT_EQ(TaskSignalSema(h), 0);
        EXPECT_EQ(TaskGetError(), kTaskErrorSemaNotFound);
        Reset();
        EXPECT_EQ(TaskCheckSema(h), 0);
        EXPECT_EQ(TaskGetError(), kTaskErrorSemaNotFound);
        Reset();
        EXPECT_EQ(TaskResetSema(h), -1);
        EXPECT_EQ(TaskGetError(), kTaskErrorSemaNotFound);
        Reset();
        EXPECT_EQ(TaskCloseSema(h), 0);
        EXPECT_EQ(TaskGetError(), kTaskErrorSemaNotFound);
        Reset();
        EXPECT_EQ(TaskBindSema(h, 1), 0);
        EXPECT_EQ(TaskGetError(), kTaskErrorSemaNotFound);
        EXPECT_EQ(TaskValidateSema(h), 0);
    }
    EXPECT_EQ(TaskValidateSema(liveSema_), 1);
    EXPECT_EQ(TaskResetSema(liveSema_), 1);   // untouched by all of the above
    EXPECT_EQ(g_->root.freeEvents, 0xFFFFFFFFu);
}

TEST_F(BadHandleTest, PortOperations) {
    uint8_t memory[64];
    void* m = TaskInitMsg(memory, 64, -1);
    for (int32_t h : ports_) {
        SCOPED_TRACE(testing::Message() << std::hex << h);
        Reset();
        EXPECT_EQ(TaskSendMsg(m, h), 0);
        EXPECT_EQ(TaskGetError(), kTaskErrorPortNotFound);
        Reset();
        EXPECT_EQ(TaskReceiveMsg(h), nullptr);
        EXPECT_EQ(TaskGetError(), kTaskErrorPortNotFound);
        Reset();
        EXPECT_EQ(TaskClosePort(h), 0);
        EXPECT_EQ(TaskGetError(), kTaskErrorPortNotFound);
        Reset();
        EXPECT_EQ(TaskBindPort(h, 1), 0);
        EXPECT_EQ(TaskGetError(), kTaskErrorPortNotFound);
        if (h != -1) {   // -1 sets the own node instead
            Reset();
            EXPECT_EQ(TaskSetMsgRoute(5, h), 0);
            EXPECT_EQ(TaskGetError(), kTaskErrorPortNotFound);
            Reset();
            EXPECT_EQ(TaskInitMsg(memory, 64, h), nullptr);
            EXPECT_EQ(TaskGetError(), kTaskErrorPortNotFound);
        }
    }
    EXPECT_EQ(g_->portTable[7]->head, nullptr);
    EXPECT_EQ(g_->routes[5], -1);
}

TEST_F(BadHandleTest, TaskOperations) {
    for (int32_t h : tasks_) {
        SCOPED_TRACE(testing::Message() << std::hex << h);
        Reset();
        EXPECT_EQ(TaskResume(h), 0);
        EXPECT_EQ(TaskGetError(), kTaskErrorTaskNotFound);
    }
    EXPECT_EQ(Block(liveTask_)->state, kTaskCreated);
}

TEST_F(BadHandleTest, WantedHandlesOfTheWrongTypeOrPlace) {
    for (int32_t h : {static_cast<int32_t>(0xFE000007) /* used */, static_cast<int32_t>(0xFD000009),
                      static_cast<int32_t>(0xFE00FFFF), static_cast<int32_t>(0x00000009)}) {
        SCOPED_TRACE(testing::Message() << std::hex << h);
        Reset();
        EXPECT_EQ(TaskOpenSema(h, 0), -1);
        EXPECT_EQ(TaskGetError(), kTaskErrorBadHandle);
    }
    for (int32_t h : {static_cast<int32_t>(0xFF000007), static_cast<int32_t>(0xFE000009),
                      static_cast<int32_t>(0xFF00FFFF)}) {
        Reset();
        EXPECT_EQ(TaskOpenPort(h), -1);
        EXPECT_EQ(TaskGetError(), kTaskErrorBadHandle);
    }
    for (int32_t h : {static_cast<int32_t>(0xFD000007), static_cast<int32_t>(0xFF000009),
                      static_cast<int32_t>(0xFD00FFFF)}) {
        Reset();
        EXPECT_EQ(Make(2, [] {}, h), -1);
        EXPECT_EQ(TaskGetError(), kTaskErrorBadHandle);
    }
}

} // namespace
