// What a program sees after a call of its own has failed: a wait that timed out leaves its
// thread object serving the next command at once, a command whose caller gave up does not
// hand its late result to the next one, and a grab that fails tells its sync object why;
// through hlclib.h and libhlclib.so only.
#include "hlclib.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr uint32_t kNode = 0x11;
constexpr uint32_t kNodeThread = 0x40000010u | (kNode << 16);
constexpr uint32_t kBoardMemory = 1;
constexpr int32_t kDone = 50;
using libsandbox::ExpectError;
using libsandbox::LastText;

class TimeoutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box_.useFpgaFile();
        box_.write("halcyra.ini", libsandbox::kOneBoard);
        box_.write("mono.dcf", libsandbox::StandardCameraFile(libsandbox::Camera640Lines(0x10000)));
        boardsim::BoardSim::instance().configure(libsandbox::GrabModuleBoard());
        boardsim::BoardSim::instance().grabEngine(0, false).setFramePeriod(0.0);
        ASSERT_NE(imDevAlloc(0, 0, 3, 0, &device_), 0u) << LastText();
        ASSERT_NE(imThrAlloc(device_, 0, &thread_), 0u) << LastText();
        imAppGetError(1, nullptr);
    }
    void TearDown() override
    {
        imAppControl(1, 10.0);
        if (camera_) imCamFree(kNodeThread, camera_);
        if (buffer_) imBufFree(device_, buffer_);
        if (thread_) imThrFree(thread_);
        libsandbox::FreeDevice(device_);
        boardsim::BoardSim::instance().configure();
    }
    // A sync object that nothing moves: a wait for its end can only time out.
    uint32_t IdleSync() const
    {
        uint32_t sync = 0;
        EXPECT_NE(imSyncAlloc(thread_, &sync), 0u) << LastText();
        return sync;
    }
    // A wait on an idle sync object within a communication time-out of 1 s: -11.
    void TimeOut(uint32_t sync) const
    {
        imAppControl(1, 1.0);
        EXPECT_EQ(imSyncHost(thread_, sync, kDone), IM_ERR_TIMEOUT);
        ExpectError(IM_ERR_TIMEOUT, "Error incomplete response", "imSyncHost");
    }
    uint32_t Frame(int32_t width, int32_t height)
    {
        EXPECT_NE(imBufAlloc(device_, width, height, 1, 8, kBoardMemory, &buffer_), 0u) << LastText();
        return buffer_;
    }

    libsandbox::Sandbox box_{"hlctimeout"};
    uint32_t device_ = 0, thread_ = 0, camera_ = 0, buffer_ = 0;
};

TEST_F(TimeoutTest, AWaitThatTimedOutLeavesItsThreadObjectServingTheNextCommands)
{
    const uint32_t idle = IdleSync();
    TimeOut(idle);
    // Still within the 1 s time-out: a thread object still held by the abandoned wait
    // would answer every one of these with -11.
    const uint32_t held = libsandbox::HeldSyncObject(thread_);
    for (int i = 0; i < 20; ++i) {
        switch (i % 4) {
        case 0: EXPECT_EQ(imThrInquire(thread_, 15002, nullptr), 8u) << i; break;
        case 1: EXPECT_EQ(imSyncHost(thread_, idle, 0x800000), 10) << i; break;
        case 2:
            EXPECT_EQ(imThrNop(thread_, held), 0) << i;
            EXPECT_EQ(imSyncHost(thread_, held, kDone), kDone) << i;
            break;
        default: EXPECT_EQ(imThrGetError(thread_, 1, nullptr), 0) << i; break;
        }
    }
    EXPECT_EQ(imAppGetError(0, nullptr), 0) << LastText();

    // A grab on the same thread object runs to its end.
    ASSERT_NE(imCamAlloc(kNodeThread, "mono", 1, &camera_), 0u) << LastText();
    const uint64_t frames = boardsim::BoardSim::instance().grabEngine(0, false).framesWritten();
    EXPECT_EQ(libsandbox::GrabAndWait(thread_, camera_, Frame(640, 480), 1), kDone);
    EXPECT_EQ(boardsim::BoardSim::instance().grabEngine(0, false).framesWritten(), frames + 1);
    EXPECT_EQ(imAppGetError(0, nullptr), 0) << LastText();
    imSyncFree(thread_, held);
    imSyncFree(thread_, idle);
}

TEST_F(TimeoutTest, ACommandWhoseCallerGaveUpKeepsItsLateErrorFromTheNextCommand)
{
    // The thread object waits behind a sync object of its own, so a question put to it
    // times out; it is answered, wrongly named, only once the barrier has been lifted.
    const uint32_t barrier = IdleSync();
    EXPECT_EQ(imSyncThread(thread_, barrier, kDone), 0);
    imAppControl(1, 1.0);
    char text[128] = {};
    EXPECT_EQ(imSyncGetError(thread_, 0x12345, 12, text), IM_ERR_TIMEOUT);
    ExpectError(IM_ERR_TIMEOUT, "Error incomplete response", "imSyncGetError");
    EXPECT_EQ(imSyncControl(kNodeThread, barrier, 18000, kDone), 0);
    EXPECT_EQ(imThrInquire(thread_, 15004, nullptr), 4096u);
    EXPECT_EQ(imAppGetError(0, nullptr), 0) << LastText();
    imSyncFree(thread_, barrier);
}

TEST_F(TimeoutTest, AGrabThatFailsGivesItsErrorToItsSyncObject)
{
    ASSERT_NE(imCamAlloc(kNodeThread, "mono", 1, &camera_), 0u) << LastText();
    const uint32_t sync = libsandbox::HeldSyncObject(thread_);
    // One pixel wide: the camera's lines do not fit.
    EXPECT_EQ(imDigGrab(thread_, 0, camera_, Frame(1, 480), 1, 0, sync), 0);
    EXPECT_EQ(imSyncHost(thread_, sync, kDone), kDone);
    char text[128] = {};
    const int32_t code = imSyncGetError(thread_, sync, 12 | 1, text);
    EXPECT_LT(code, 0);
    EXPECT_EQ(std::string(text).rfind("Error in DigGrab():\n<", 0), 0u) << text;
    // Read with an odd mode, the record is cleared: nothing is left, and no text.
    EXPECT_EQ(imSyncGetError(thread_, sync, 12, text), 0);
    EXPECT_STREQ(text, "");
    // The same error reached the caller's record with the wait's reply.
    EXPECT_EQ(imAppGetError(1, nullptr), code);
    imSyncFree(thread_, sync);
}

} // namespace
