// No C++ exception leaves libhlclib.so: an export whose work throws (here: every
// allocation of the calling thread fails) files "Insufficient resources to carry out the
// operation" under its own name and returns its failure value, and the program goes on.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <string>

namespace {

// While set, every operator new of this thread throws std::bad_alloc, in the library too:
// its calls of operator new bind to this program's.
thread_local bool g_failAllocations = false;

void* Allocate(std::size_t bytes)
{
    if (g_failAllocations) throw std::bad_alloc();
    if (void* p = std::malloc(bytes ? bytes : 1)) return p;
    throw std::bad_alloc();
}

class FailingAllocations {
public:
    FailingAllocations() { g_failAllocations = true; }
    ~FailingAllocations() { g_failAllocations = false; }
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;
};

}  // namespace

void* operator new(std::size_t bytes)
{
    return Allocate(bytes);
}
void* operator new[](std::size_t bytes)
{
    return Allocate(bytes);
}
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept
{
    return g_failAllocations ? nullptr : std::malloc(bytes ? bytes : 1);
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept
{
    return g_failAllocations ? nullptr : std::malloc(bytes ? bytes : 1);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

using libsandbox::ExpectError;

struct ThrowingCall {
    const char* function;
    // Makes the call; true when its result is the export's failure value.
    std::function<bool()> failed;
};

class BoundaryFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox_ = std::make_unique<libsandbox::Sandbox>("hlcbound");
        sandbox_->useFpgaFile();
        sandbox_->write("halcyra.ini", libsandbox::kOneBoard);
        boardsim::BoardSim::instance().configure(libsandbox::GrabModuleBoard());
    }
    void TearDown() override
    {
        sandbox_.reset();
        boardsim::BoardSim::instance().configure();
    }
    std::unique_ptr<libsandbox::Sandbox> sandbox_;
};

class BoundaryTest : public BoundaryFixture, public ::testing::WithParamInterface<ThrowingCall> {};

// Other test programs open nodes under "MUTEX_imDev_" too: a call that timed out waiting
// for it is made again.
template <typename Call>
auto RetriedPastOtherOpens(Call call)
{
    auto result = call();
    for (int attempt = 0; attempt < 20 && imAppGetError(0, nullptr) == IM_ERR_TIMEOUT; ++attempt) {
        imAppGetError(1, nullptr);
        result = call();
    }
    return result;
}

TEST_P(BoundaryTest, AThrowingExportFilesResourcesAndTheNodeStillOpens)
{
    const bool failed = RetriedPastOtherOpens([] {
        FailingAllocations failing;
        return GetParam().failed();
    });
    EXPECT_TRUE(failed);
    ExpectError(IM_ERR_NO_RESOURCES, "Insufficient resources to carry out the operation", GetParam().function);
    imAppGetError(1, nullptr);

    uint32_t device = 0;
    ASSERT_NE(RetriedPastOtherOpens([&] { return imDevAlloc(0, 0, 3, 0, &device); }), 0u) << libsandbox::LastText();
    libsandbox::FreeDevice(device);
}

INSTANTIATE_TEST_SUITE_P(
    Exports, BoundaryTest,
    ::testing::Values(
        // The node open reads the ini file (bring-up and the C binding's device open).
        ThrowingCall{"imDevAlloc",
                     [] {
                         uint32_t device = 7;
                         return imDevAlloc(0, 0, 3, 0, &device) == 0 && device == 0;
                     }},
        // The ini accessor of the host platform.
        ThrowingCall{"HalcyraIniGetFile", [] { return HalcyraIniGetFile(1) == nullptr; }},
        // The buffer files' search for a TIFF file (a name longer than a short string holds).
        ThrowingCall{"imBufRestore",
                     [] {
                         uint32_t id = 7;
                         return imBufRestore(0x110000, "a-restored-image-of-a-long-name", 2, 0, &id) == 0 && id == 0;
                     }}),
    [](const ::testing::TestParamInfo<ThrowingCall>& info) { return std::string(info.param.function); });

}  // namespace

namespace {

// A command posted while every allocation of its caller fails: no exception leaves the
// call, a failure is reported as one, and the node, whose doorbell the call rang, serves
// the next command at once.
TEST_F(BoundaryFixture, ACommandPostedWhileAllocationsFailLeavesTheNodeServing)
{
    uint32_t device = 0;
    ASSERT_NE(RetriedPastOtherOpens([&] { return imDevAlloc(0, 0, 3, 0, &device); }), 0u) << libsandbox::LastText();
    uint32_t thread = 7;
    uint32_t returned = 0;
    {
        FailingAllocations failing;
        returned = imThrAlloc(device, 0, &thread);
    }
    EXPECT_EQ(returned, thread);
    if (!thread) {
        EXPECT_EQ(imAppGetError(0, nullptr), IM_ERR_NO_RESOURCES);
    }
    imAppGetError(1, nullptr);
    if (thread) imThrFree(thread);

    for (int i = 0; i < 3; ++i) {
        uint32_t next = 0;
        EXPECT_NE(imThrAlloc(device, 0, &next), 0u) << libsandbox::LastText();
        libsandbox::ExpectNoError();
        if (next) imThrFree(next);
    }
    libsandbox::FreeDevice(device);
}

// The node services' boundary: a signal test whose driver request cannot be made.
TEST_F(BoundaryFixture, ANodeServiceThatThrowsFilesResourcesUnderItsOwnName)
{
    uint32_t device = 0;
    ASSERT_NE(RetriedPastOtherOpens([&] { return imDevAlloc(0, 0, 3, 0, &device); }), 0u) << libsandbox::LastText();
    imAppGetError(1, nullptr);
    const uint32_t node = (device >> 16) & 0xFF;
    int answer = 0;
    {
        FailingAllocations failing;
        answer = mp_sys_sema_check(node, 0);
    }
    EXPECT_EQ(answer, IM_ERR_NO_RESOURCES);
    ExpectError(IM_ERR_NO_RESOURCES, "Insufficient resources to carry out the operation", "mp_sys_sema_check");
    imAppGetError(1, nullptr);
    EXPECT_GE(mp_sys_sema_check(node, 0), 0) << "the node's signals answer again";
    libsandbox::FreeDevice(device);
}

}  // namespace
