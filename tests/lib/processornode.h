// A board with its own processor, opened through the shared library: the shell file in
// the sandbox, the simulated board's processor started by the open, and the node's device
// id for the test; files written and read back in the sandbox.
#pragma once

#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"

#include "../src/host/ll/shellfile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace processornode {

constexpr uint32_t kNode = 0x11;
// The shell's information block lies this far below the end of board memory.
constexpr int32_t kShellValue = 0x10000;

// A board whose processor runs the simulated firmware, its shell file found along
// COFFPATH; the node is left for the test to open.
class ProcessorBoardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.useFpgaFile();
        ASSERT_TRUE(shellfile::WriteShellFile(box_.path("shell.out"), kShellValue));
        setenv("COFFNAME", "shell", 1);
        setenv("COFFPATH", box_.root().c_str(), 1);
        box_.write("halcyra.ini", libsandbox::kOneBoard);
        boardsim::Topology topology = libsandbox::GrabModuleBoard();
        topology.boards[0].processor = true;
        boardsim::BoardSim::instance().configure(topology);
        imAppControl(1, 15.0);
    }
    void TearDown() override
    {
        for (int i = 0; i < 256 && mp_sys_node_resource_ptr(kNode); ++i) imDevFree(kNode << 16);
        EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
        for (const char* name : {"COFFNAME", "COFFPATH"}) unsetenv(name);
        boardsim::BoardSim::instance().configure();
    }
    // Opens the node; an open that found "MUTEX_imDev_" held by another test program for
    // longer than the time-out is tried again.  0 when it did not open.
    static uint32_t Open()
    {
        uint32_t id = 0;
        for (int attempt = 0; attempt < 20; ++attempt) {
            imDevAlloc(0, 0, 3, 0, &id);
            if (id || libsandbox::LastText() != "Another node open did not end in time") break;
            imAppGetError(1, nullptr);
        }
        return id;
    }

    libsandbox::Sandbox box_{"hlcprocnode"};
};

// The same board with its node open.
class ProcessorNodeTest : public ProcessorBoardTest {
protected:
    void SetUp() override
    {
        ProcessorBoardTest::SetUp();
        if (HasFatalFailure()) return;
        device_ = Open();
        ASSERT_NE(device_, 0u) << libsandbox::LastText();
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        if (device_) {
            EXPECT_EQ(imDevFree(device_), 0);
        }
        ProcessorBoardTest::TearDown();
    }

    void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        FILE* f = std::fopen(box_.path(name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!bytes.empty()) {
            EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        }
        std::fclose(f);
    }
    std::vector<uint8_t> ReadFile(const std::string& name) const
    {
        std::vector<uint8_t> out;
        FILE* f = std::fopen(box_.path(name).c_str(), "rb");
        if (!f) return out;
        for (int c; (c = std::fgetc(f)) != EOF;) out.push_back(static_cast<uint8_t>(c));
        std::fclose(f);
        return out;
    }

    uint32_t device_ = 0;
};

} // namespace processornode
