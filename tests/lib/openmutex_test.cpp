// The system-wide open mutex "MUTEX_imDev_" left behind by a program that ended while
// holding it: the next open takes it over, opens its node and releases the mutex again,
// so that the opens of other programs are not shut out.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"
#include "w32sync.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace {

constexpr uint32_t kNode = 0x11;
using libsandbox::kOneBoard;
constexpr const char* kOpenMutex = "MUTEX_imDev_";

// Runs body in a child process; its exit status (-1 when it did not end normally).
template <typename Body>
int InChild(Body body)
{
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    if (pid < 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

class OpenMutexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox_ = std::make_unique<libsandbox::Sandbox>("hlcmtx");
        sandbox_->write("halcyra.ini", kOneBoard);
        boardsim::BoardSim::instance().configure();
        // Long enough for the opens of other test programs, which take the mutex in turn.
        imAppControl(1, 30.0);
    }
    void TearDown() override
    {
        // A node left open by a failed test is shut down, a bounded number of times.
        for (int i = 0; i < 256 && mp_sys_node_resource_ptr(kNode); ++i) imDevFree(kNode << 16);
        EXPECT_EQ(mp_sys_node_resource_ptr(kNode), nullptr);
        sandbox_.reset();
        boardsim::BoardSim::instance().configure();
    }
    std::unique_ptr<libsandbox::Sandbox> sandbox_;
};

TEST_F(OpenMutexTest, AMutexLeftByAnEndedProgramIsTakenOverAndReleasedAfterTheOpen)
{
    // A program takes the mutex and ends without releasing it.
    ASSERT_EQ(InChild([] {
                  HANDLE mutex = CreateMutexA(FALSE, kOpenMutex);
                  if (!mutex) return 2;
                  const DWORD waited = WaitForSingleObject(mutex, 60000);
                  return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED ? 0 : 3;
              }),
              0);

    uint32_t id = 0;
    EXPECT_NE(imDevAlloc(0, 0, 3, 0, &id), 0u);
    ASSERT_NE(id, 0u);
    // The mutex taken over is no error; the open's only one is the load code of the grab
    // module's FPGA, for which no file is named.
    libsandbox::ExpectError(IM_ERR_RESTRICTED, libsandbox::kNoFpgaFile, "imDevAlloc");
    EXPECT_EQ(imDevFree(id), 0);

    // The open released the mutex it took over: another program gets it.
    EXPECT_EQ(InChild([] {
                  HANDLE mutex = CreateMutexA(FALSE, kOpenMutex);
                  if (!mutex) return 2;
                  const DWORD waited = WaitForSingleObject(mutex, 60000);
                  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return 3;
                  ReleaseMutex(mutex);
                  return 0;
              }),
              0);
}

} // namespace
