// Halts and frees as a program makes them, through hlclib.h and libhlclib.so only: a
// continuous grab on a thread object of the program's own ended by that thread's halt at
// 30 frames a second, in board memory and through the host grab; a grab or a copy naming a
// freed buffer refused at once; a second free of each kind of object reported.
#include "hostgrabfixture.h"

namespace {

constexpr int32_t kStateNow = 0x800000;   // imSyncHost: the current state, without a wait
constexpr int32_t kStarted = 40;

boardsim::BoardSim& Sim() { return boardsim::BoardSim::instance(); }

// The error the thread's first-error record holds, with its text; the record is cleared.
std::pair<int32_t, std::string> ThreadError(uint32_t thread)
{
    char text[128] = {};
    const int32_t code = imThrGetError(thread, 5, text);
    return {code, text};
}

class HaltTest : public HostGrabTest, public ::testing::WithParamInterface<uint32_t> {};
INSTANTIATE_TEST_SUITE_P(BoardAndHostMemory, HaltTest, ::testing::Values(kBoardMemory, kHostDma),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                             return std::string(info.param == kBoardMemory ? "Board" : "HostGrab");
                         });

TEST_P(HaltTest, AContinuousGrabOnAnAllocatedThreadEndsWithThatThreadsHaltWithinAFewFrames)
{
    UseCamera({});
    const uint32_t destination = Buffer(kWidth, kHeight, 1, 8, GetParam());
    uint32_t thread = 0;
    ASSERT_NE(imThrAlloc(device_, 0, &thread), 0u) << LastText();
    const uint32_t sync = libsandbox::HeldSyncObject(thread);
    const uint64_t before = Engine().framesWritten();
    ASSERT_EQ(imDigGrab(thread, 0, camera_, destination, 0xFFFFFFFFu, 0, sync), 0) << LastText();
    for (int i = 0; i < 2000 && Engine().framesWritten() < before + 2; ++i) Sim().advance(kFramePeriod / 10);
    ASSERT_GE(Engine().framesWritten(), before + 2) << "frames follow each other";
    EXPECT_EQ(imSyncHost(thread, sync, kStateNow), kStarted);

    // Within 0.5 s of machine time: at most 15 frames of the camera's 30 a second begin
    // between the halt and the grab's end, however long the host takes.
    const uint64_t beforeHalt = Engine().framesStarted();
    EXPECT_EQ(imThrHalt(thread, 1), 0) << LastText();
    EXPECT_EQ(imSyncHost(thread, sync, kDone), static_cast<int32_t>(kDone)) << LastText();
    const uint64_t started = Engine().framesStarted();
    EXPECT_LE(started - beforeHalt, 15u) << "frames begun between the halt and the grab's end";
    Sim().advance(5 * kFramePeriod);
    EXPECT_EQ(Engine().framesStarted(), started) << "no frame begins after the halt";
    ExpectIdle();
    EXPECT_EQ(imSyncFree(thread, sync), 0);
    EXPECT_EQ(imThrFree(thread), 0);

    // The node's own thread grabs on.
    ASSERT_EQ(Grab(destination, 1), static_cast<int32_t>(kDone)) << LastText();
    libsandbox::ExpectNoError();
}

TEST_F(HostGrabTest, AGrabOrACopyNamingAFreedBufferIsRefusedAtOnce)
{
    UseCamera({});
    const uint32_t kept = Buffer(kWidth, kHeight, 1, 8, kHostDma);
    uint32_t own = 0;
    ASSERT_NE(imThrAlloc(device_, 0, &own), 0u) << LastText();
    const auto freed = [this](uint32_t location) {
        uint32_t id = 0;
        EXPECT_NE(imBufAlloc(device_, kWidth, kHeight, 1, 8, location, &id), 0u) << LastText();
        EXPECT_EQ(imBufFree(device_, id), 0) << LastText();
        return id;
    };
    for (uint32_t thread : {kThread, own}) {
        SCOPED_TRACE(thread);
        // A freed destination in either memory, and a freed grab control buffer: the grab is
        // posted, its sync object ends at once and the wait brings the refusal.
        const uint32_t sync = libsandbox::HeldSyncObject(thread);
        const uint32_t grabs[][2] = {{freed(kBoardMemory), 0}, {freed(kHostDma), 0}, {kept, freed(kBoardMemory)}};
        for (const auto& [destination, options] : grabs) {
            const uint64_t started = Engine().framesStarted();
            EXPECT_EQ(imDigGrab(thread, 0, camera_, destination, 1, options, sync), 0);
            EXPECT_EQ(imSyncHost(thread, sync, kDone), static_cast<int32_t>(kDone));
            libsandbox::ExpectError(-1, "Invalid buffer ID", "DigGrab");
            EXPECT_EQ(ThreadError(thread), std::make_pair(-1, std::string("Invalid buffer ID")));
            EXPECT_EQ(Engine().framesStarted(), started) << "nothing was started";
        }
        imSyncFree(thread, sync);
    }
    EXPECT_EQ(imThrFree(own), 0);

    // A copy from a freed buffer, and one into it, likewise.
    const uint32_t sync = Sync();
    const uint32_t gone = freed(kBoardMemory);
    for (const auto& [from, to] : {std::make_pair(gone, kept), std::make_pair(kept, gone)}) {
        EXPECT_EQ(imBufCopyPCI(device_, from, to, 0, sync), 0);
        EXPECT_EQ(imSyncHost(kThread, sync, kDone), static_cast<int32_t>(kDone));
        libsandbox::ExpectError(-1, "Invalid buffer ID", "BufCopyPCI");
        EXPECT_EQ(ThreadError(kThread).first, -1);
    }
    imSyncFree(kThread, sync);
    ExpectIdle();
    ASSERT_EQ(Grab(kept, 1), static_cast<int32_t>(kDone)) << LastText();
}

TEST_F(HostGrabTest, ASecondFreeOfAnObjectIsReportedAsAnUnknownId)
{
    box_.write("cam.dcf", CameraFile({}));
    const auto twice = [](const char* what, auto free, uint32_t id) {
        SCOPED_TRACE(what);
        EXPECT_EQ(free(kThread, id), 0);
        EXPECT_EQ(ThreadError(kThread).first, 0) << "the first free";
        libsandbox::ExpectNoError();
        EXPECT_EQ(free(kThread, id), IM_ERR_INVALID_BUFFER) << "the second free";
        EXPECT_EQ(ThreadError(kThread), std::make_pair(-1, std::string("Invalid buffer ID")));
        libsandbox::ExpectError(-1, "Invalid buffer ID", std::string(what));
    };
    uint32_t camera = 0, digitizer = 0, sync = 0;
    ASSERT_NE(imCamAlloc(kThread, "cam", 1, &camera), 0u) << LastText();
    twice("CamFree", imCamFree, camera);
    ASSERT_NE(imDigAlloc(kThread, 0, 0, 0, &digitizer), 0u) << LastText();
    // A digitizer stays listed once its last user has freed it: a second free is no error.
    for (int i = 0; i < 2; ++i) EXPECT_EQ(imDigFree(kThread, digitizer), 0) << i;
    EXPECT_EQ(ThreadError(kThread).first, 0);
    libsandbox::ExpectNoError();
    ASSERT_NE(imSyncAlloc(kThread, &sync), 0u) << LastText();
    twice("SyncFree", imSyncFree, sync);

    // A thread object's second free names a thread that is no more.
    uint32_t thread = 0;
    ASSERT_NE(imThrAlloc(device_, 0, &thread), 0u) << LastText();
    EXPECT_EQ(imThrFree(thread), 0);
    EXPECT_EQ(imThrFree(thread), IM_ERR_INVALID_THREAD) << "refused at once";
    EXPECT_EQ(imThrGetError(kThread, 1, nullptr), 0) << "the node's own thread answers after both";
    EXPECT_EQ(imAppGetError(0, nullptr), -10);
    EXPECT_EQ(LastText(), "Invalid thread ID");
    imAppGetError(1, nullptr);
}

// Thread objects are not limited to a table of 64: 100 on one node each answer a command.
// (Each takes two of the task kernel's 256 ports, which bound a node near 125.)
TEST_F(HostGrabTest, AHundredThreadObjectsLiveOnOneNode)
{
    std::vector<uint32_t> threads;
    for (int i = 0; i < 100; ++i) {
        uint32_t thread = 0;
        ASSERT_NE(imThrAlloc(device_, 0, &thread), 0u) << "object " << i << ": " << LastText();
        threads.push_back(thread);
    }
    for (uint32_t thread : threads) EXPECT_EQ(imThrGetError(thread, 1, nullptr), 0);
    for (uint32_t thread : threads) EXPECT_EQ(imThrFree(thread), 0);
    libsandbox::ExpectNoError();
}

}  // namespace
