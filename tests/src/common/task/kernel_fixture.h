// A task kernel on the test's thread for each test, and tasks made from lambdas.
#pragma once

#include "task.h"
#include "task_globals.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class KernelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TaskInitTasking(), 1);
        g_ = TaskGetNodeTaskGlobals();
        ASSERT_NE(g_, nullptr);
    }
    void TearDown() override { EXPECT_EQ(TaskExitTasking(), 1); }

    // Creates a suspended task running body at the priority; -1 when creation failed.
    int32_t Make(int priority, std::function<void()> body, int32_t handle = -1, uint32_t stack = 16384) {
        bodies_.push_back(std::make_unique<std::function<void()>>(std::move(body)));
        return TaskCreate(handle, &KernelTest::Run, bodies_.back().get(), priority, stack);
    }
    // Creates and resumes; a task above the caller's priority runs before this returns.
    int32_t Start(int priority, std::function<void()> body) {
        int32_t t = Make(priority, std::move(body));
        EXPECT_NE(t, -1);
        EXPECT_EQ(TaskResume(t), 1);
        return t;
    }
    void Note(const std::string& s) { trace_.push_back(s); }
    TaskBlock* Block(int32_t task) { return g_->taskTable[static_cast<uint32_t>(task) & 0xFFFF]; }

    static void Run(void* body) { (*static_cast<std::function<void()>*>(body))(); }

    _NODE_TASK_GLOBALS* g_ = nullptr;
    std::vector<std::string> trace_;
    std::vector<std::unique_ptr<std::function<void()>>> bodies_;
};

using Trace = std::vector<std::string>;
