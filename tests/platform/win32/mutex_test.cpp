// Named mutexes within one process and across processes, including holders that die.

#include "w32object.h"
#include "win32.h"

#include <gtest/gtest.h>

#include <string>
#include <cerrno>
#include <cctype>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// A name of its own for every test, removed from the system afterwards.
// A dead holder is seen through the kernel's robust futex list; user-mode emulators of
// 32-bit programs do not offer one, and then no abandonment can be observed.
static bool RobustListsSupported() {
    void* head = nullptr;
    size_t len = 0;
    return syscall(SYS_get_robust_list, 0, &head, &len) == 0 || errno != ENOSYS;
}

class NamedMutex : public ::testing::Test {
protected:
    void SetUp() override {
        // A fresh name for every run of a test, also when tests are repeated in one process.
        static int runs = 0;
        name_ = "qsrf-test-" + std::to_string(getpid()) + "-" + std::to_string(++runs) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    void TearDown() override { shm_unlink(SharedPath().c_str()); }
    // The shared memory object behind the name, in the scope the tests run in.
    std::string SharedPath() const {
        std::string scope;
        for (const char* c = std::getenv("QSRF_SHARED_SCOPE"); c && *c && scope.size() < 32; ++c)
            if (std::isalnum(static_cast<unsigned char>(*c))) scope += *c;
        return "/qsrf-mutex-" + std::to_string(getuid()) + "-" + (scope.empty() ? "" : scope + "-") + name_;
    }
    std::string name_;
};

// Runs child() in a forked process and returns its exit status (-1 if it did not exit).
template <typename F>
int RunChild(F child) {
    pid_t pid = fork();
    if (pid == 0) _exit(child());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(NamedMutex, SecondCreateOpensTheSameMutex) {
    HANDLE a = CreateMutexA(FALSE, name_.c_str());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE b = CreateMutexA(TRUE, name_.c_str());   // exists: not taken
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_NE(a, b);
    EXPECT_FALSE(ReleaseMutex(b));                  // not owned
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
    DWORD other = 0;
    std::thread t([&] { other = WaitForSingleObject(b, 30); });
    t.join();
    EXPECT_EQ(other, WAIT_TIMEOUT);                 // held through the other handle
    EXPECT_TRUE(ReleaseMutex(b));                   // either handle releases it
    CloseHandle(a);
    CloseHandle(b);
}

TEST_F(NamedMutex, RecursiveForTheOwningThread) {
    HANDLE m = CreateMutexA(TRUE, name_.c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(WaitForSingleObject(m, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(m));
    DWORD other = 0;
    std::thread t1([&] { other = WaitForSingleObject(m, 0); });
    t1.join();
    EXPECT_EQ(other, WAIT_TIMEOUT);                 // still held once
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_FALSE(ReleaseMutex(m));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    std::thread t2([&] {
        other = WaitForSingleObject(m, 1000);
        ReleaseMutex(m);
    });
    t2.join();
    EXPECT_EQ(other, WAIT_OBJECT_0);
    CloseHandle(m);
}

TEST_F(NamedMutex, RefusesBadNames) {
    EXPECT_EQ(CreateMutexA(FALSE, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreateMutexA(FALSE, ""), nullptr);
    EXPECT_EQ(CreateMutexA(FALSE, "a/b"), nullptr);
    EXPECT_EQ(CreateMutexA(FALSE, std::string(300, 'x').c_str()), nullptr);
}

TEST_F(NamedMutex, NotAcceptedInWaitsForSeveralObjects) {
    HANDLE m = CreateMutexA(FALSE, name_.c_str());
    HANDLE h[1] = {m};
    EXPECT_EQ(WaitForMultipleObjects(1, h, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    CloseHandle(m);
}

TEST_F(NamedMutex, ExcludesAnotherProcess) {
    HANDLE m = CreateMutexA(TRUE, name_.c_str());
    ASSERT_NE(m, nullptr);
    std::string name = name_;
    int status = RunChild([name] {
        HANDLE c = CreateMutexA(FALSE, name.c_str());
        if (!c || GetLastError() != ERROR_ALREADY_EXISTS) return 1;
        return WaitForSingleObject(c, 50) == WAIT_TIMEOUT ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(ReleaseMutex(m));
    status = RunChild([name] {
        HANDLE c = CreateMutexA(FALSE, name.c_str());
        if (WaitForSingleObject(c, 1000) != WAIT_OBJECT_0) return 3;
        return ReleaseMutex(c) ? 0 : 4;
    });
    EXPECT_EQ(status, 0);
    CloseHandle(m);
}

TEST_F(NamedMutex, WaitsUntilAnotherProcessReleases) {
    int toParent[2];
    ASSERT_EQ(pipe(toParent), 0);
    std::string name = name_;
    pid_t pid = fork();
    if (pid == 0) {
        HANDLE c = CreateMutexA(FALSE, name.c_str());
        if (WaitForSingleObject(c, 5000) != WAIT_OBJECT_0) _exit(3);
        char x = 'h';
        (void)!write(toParent[1], &x, 1);
        Sleep(80);
        ReleaseMutex(c);
        _exit(0);
    }
    char x = 0;
    ASSERT_EQ(read(toParent[0], &x, 1), 1);
    HANDLE m = CreateMutexA(FALSE, name_.c_str());
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(m, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(m));
    int status = 0;
    waitpid(pid, &status, 0);
    close(toParent[0]);
    close(toParent[1]);
    CloseHandle(m);
}

// Also where the kernel's owner-died notice does not arrive (user-mode emulation): the
// waiter finds the holder's process gone and takes the mutex over.
TEST_F(NamedMutex, ProcessThatDiesHoldingItLeavesItAbandoned) {
    std::string name = name_;
    int status = RunChild([name] {
        HANDLE c = CreateMutexA(TRUE, name.c_str());
        return c && WaitForSingleObject(c, 0) == WAIT_OBJECT_0 ? 0 : 1;   // held twice, then gone
    });
    ASSERT_EQ(status, 0);
    HANDLE m = CreateMutexA(FALSE, name_.c_str());
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(WaitForSingleObject(m, 1000), WAIT_ABANDONED);   // now ours
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_FALSE(ReleaseMutex(m));
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);        // healthy again
    EXPECT_TRUE(ReleaseMutex(m));
    // And for the other processes too.
    status = RunChild([name] {
        HANDLE c = CreateMutexA(FALSE, name.c_str());
        return WaitForSingleObject(c, 1000) == WAIT_OBJECT_0 ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    CloseHandle(m);
}

// A process holds the mutex for a moment before it names itself the holder; the ended
// process that held it before must not be taken for it then.
TEST_F(NamedMutex, AProcessThatReleasedItAndEndedLeavesNoClaimOnIt) {
    std::string name = name_;
    ASSERT_EQ(RunChild([name] {
        HANDLE c = CreateMutexA(FALSE, name.c_str());
        if (WaitForSingleObject(c, 1000) != WAIT_OBJECT_0) return 1;
        return ReleaseMutex(c) ? 0 : 2;
    }), 0);
    int toParent[2], toChild[2];
    ASSERT_EQ(pipe(toParent), 0);
    ASSERT_EQ(pipe(toChild), 0);
    using w32detail::SharedMutexBlock;
    const std::string path = SharedPath();
    pid_t pid = fork();
    if (pid == 0) {
        const int fd = shm_open(path.c_str(), O_RDWR, 0600);
        void* p = fd < 0 ? MAP_FAILED : mmap(nullptr, sizeof(SharedMutexBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p == MAP_FAILED || pthread_mutex_lock(&static_cast<SharedMutexBlock*>(p)->mutex) != 0) _exit(1);
        char x = 'h';
        (void)!write(toParent[1], &x, 1);
        (void)!read(toChild[0], &x, 1);
        pthread_mutex_unlock(&static_cast<SharedMutexBlock*>(p)->mutex);
        _exit(0);
    }
    char x = 0;
    ASSERT_EQ(read(toParent[0], &x, 1), 1);
    HANDLE m = CreateMutexA(FALSE, name_.c_str());
    EXPECT_EQ(WaitForSingleObject(m, 1200), WAIT_TIMEOUT);   // past a look for a dead holder
    (void)!write(toChild[1], &x, 1);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(WaitForSingleObject(m, 1000), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(m));
    for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) close(fd);
    CloseHandle(m);
}

TEST_F(NamedMutex, ThreadThatEndsHoldingItLeavesItAbandoned) {
    if (!RobustListsSupported())
        GTEST_SKIP() << "this kernel or emulator keeps no robust futex list";
    HANDLE m = CreateMutexA(FALSE, name_.c_str());
    std::thread t([&] { WaitForSingleObject(m, 5000); });
    t.join();
    EXPECT_EQ(WaitForSingleObject(m, 1000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(m));
    CloseHandle(m);
}

} // namespace
