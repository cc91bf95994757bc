#include "orbsink.h"
#include "orbtest.h"

#include <cstdio>
#include <unistd.h>

using namespace orbtest;

namespace {

class OrbDisplays : public OrbTest {
protected:
    void SetUp() override
    {
        OrbTest::SetUp();
        buf = alloc(4, 2);
        orbDispAlloc(sys, ORB_DEFAULT, "O_DEFAULT", ORB_DEFAULT, &disp);
        ASSERT_NE(disp, 0u);
    }
    void TearDown() override
    {
        orbsim::reset();
        OrbTest::TearDown();
    }
    OrbId buf = 0, disp = 0;
    RecordingSink sink;
};

TEST_F(OrbDisplays, ShowInWindowSendsTheBufferAndEveryChange)
{
    const uint8_t px[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    orbBufPut(buf, px);
    orbDispShowInWindow(disp, buf, &sink);
    ASSERT_EQ(sink.count(), 1u);
    EXPECT_EQ(sink.last().grey, std::vector<uint8_t>(px, px + 8));
    EXPECT_EQ(sink.last().width, 4);
    EXPECT_EQ(sink.last().height, 2);
    EXPECT_EQ(sink.last().zoomX, 1);

    orbBufClear(buf, 9);
    EXPECT_EQ(sink.count(), 2u);
    EXPECT_EQ(sink.last().grey, std::vector<uint8_t>(8, 9));
    const uint8_t block[2] = {50, 60};
    orbBufPut2d(buf, 1, 1, 2, 1, block);
    EXPECT_EQ(sink.count(), 3u);
    EXPECT_EQ(sink.last().grey, (std::vector<uint8_t>{9, 9, 9, 9, 9, 50, 60, 9}));
    const OrbId src = alloc(4, 2);
    orbBufClear(src, 33);
    EXPECT_EQ(sink.count(), 3u);  // another buffer: nothing shown
    orbBufCopy(src, buf);
    EXPECT_EQ(sink.count(), 4u);
    EXPECT_EQ(sink.last().grey, std::vector<uint8_t>(8, 33));
    orbDispSetZoom(disp, -2, 3);
    EXPECT_EQ(sink.count(), 5u);
    EXPECT_EQ(sink.last().zoomX, -2);
    EXPECT_EQ(sink.last().zoomY, 3);
    orbBufPut(buf, px);
    EXPECT_EQ(sink.last().zoomX, -2);

    char dir[] = "/tmp/orbdispXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/f.oim";
    orbBufSave(file.c_str(), ORB_FILE_OWN, src);
    const size_t before = sink.count();
    orbBufLoad(file.c_str(), ORB_DEFAULT, 1, sys, buf);
    EXPECT_EQ(sink.count(), before + 1);
    EXPECT_EQ(sink.last().grey, std::vector<uint8_t>(8, 33));
    // A failed load shows nothing new.
    orbBufLoad((std::string(dir) + "/none.oim").c_str(), ORB_FILE_OWN, 1, sys, buf);
    EXPECT_EQ(sink.count(), before + 1);
    std::remove(file.c_str());
    ::rmdir(dir);
    EXPECT_EQ(errorCount(), 1u);
}

TEST_F(OrbDisplays, SixteenBitBuffersShowTheirHighByte)
{
    const OrbId w = alloc(2, 1, 16);
    const uint16_t px[2] = {0x12FF, 0xAB01};
    orbBufPut(w, px);
    orbDispShowInWindow(disp, w, &sink);
    EXPECT_EQ(sink.last().grey, (std::vector<uint8_t>{0x12, 0xAB}));
}

TEST_F(OrbDisplays, ZoomRangeIsChecked)
{
    orbDispShowInWindow(disp, buf, &sink);
    for (auto [x, y] : {std::pair{0, 1}, {1, 0}, {17, 1}, {1, -17}}) {
        clearReported();
        orbDispSetZoom(disp, x, y);
        ASSERT_EQ(errorCount(), 1u);
        EXPECT_EQ(lastReported().subs.at(1), "Zoom factors are -16 to -1 or 1 to 16");
    }
    EXPECT_EQ(orbsim::displayState(disp)->zoomX, 1);
    EXPECT_EQ(sink.count(), 1u);
    orbDispSetZoom(disp, 16, -16);
    EXPECT_EQ(orbsim::displayState(disp)->zoomX, 16);
    EXPECT_EQ(orbsim::displayState(disp)->zoomY, -16);
}

TEST_F(OrbDisplays, ControlAndShowBuffer)
{
    orbDispControl(disp, 3054, -9999);
    EXPECT_EQ(orbsim::displayState(disp)->controls.at(3054), -9999.0);
    orbDispControl(disp, 3000, 1);
    EXPECT_EQ(lastReported().subs.at(0), "Unknown display control type 3000");
    orbDispShowBuffer(disp, buf);
    auto st = orbsim::displayState(disp);
    EXPECT_EQ(st->buffer, buf);
    EXPECT_FALSE(st->hasWindow);
    orbDispShowBuffer(disp, 0x9876);
    EXPECT_EQ(lastReported().message, "Invalid buffer id");
    EXPECT_EQ(orbsim::displayState(disp)->buffer, buf);
}

TEST_F(OrbDisplays, AllocArgumentsAreChecked)
{
    OrbId d = 1;
    orbDispAlloc(sys, ORB_DEFAULT, "O_VGA", ORB_DEFAULT, &d);
    EXPECT_EQ(d, 0u);
    EXPECT_EQ(lastReported().message, "Unsupported display format");
    orbDispAlloc(sys, 3, "O_DEFAULT", ORB_DEFAULT, &d);
    EXPECT_EQ(lastReported().message, "Invalid device number");
    orbDispAlloc(0x999, ORB_DEFAULT, "O_DEFAULT", ORB_DEFAULT, &d);
    EXPECT_EQ(lastReported().message, "Invalid system id");
    orbDispShowInWindow(disp, buf, nullptr);
    EXPECT_EQ(lastReported().subs.at(0), "The window handle is null");
    EXPECT_FALSE(orbsim::displayState(disp)->hasWindow);
    orbDispFree(0x999);
    EXPECT_EQ(lastReported().message, "Invalid display id");
}

TEST_F(OrbDisplays, FreeDetachesTheSink)
{
    orbDispShowInWindow(disp, buf, &sink);
    orbDispFree(disp);
    EXPECT_TRUE(sink.detached());
    EXPECT_EQ(sink.detachCount(), 1);
    orbBufClear(buf, 5);
    EXPECT_EQ(sink.count(), 1u);
    EXPECT_FALSE(orbsim::displayState(disp));
}

TEST_F(OrbDisplays, AnotherWindowReplacesTheFirst)
{
    RecordingSink second;
    orbDispShowInWindow(disp, buf, &sink);
    orbDispShowInWindow(disp, buf, &second);
    EXPECT_TRUE(sink.detached());
    EXPECT_FALSE(second.detached());
    orbBufClear(buf, 3);
    EXPECT_EQ(sink.count(), 1u);
    EXPECT_EQ(second.count(), 2u);
    // Showing the same window again keeps it attached.
    orbDispShowInWindow(disp, buf, &second);
    EXPECT_FALSE(second.detached());
    EXPECT_EQ(second.count(), 3u);
    orbsim::reset();  // detaches second while it still exists
    EXPECT_TRUE(second.detached());
}

TEST_F(OrbDisplays, BufferFreedWhileShownStopsTheFrames)
{
    orbDispShowInWindow(disp, buf, &sink);
    orbBufFree(buf);
    EXPECT_EQ(orbsim::displayState(disp)->buffer, 0u);
    orbDispSetZoom(disp, 2, 2);
    EXPECT_EQ(sink.count(), 1u);
    EXPECT_EQ(errorCount(), 0u);
}

TEST_F(OrbDisplays, SinkMayCallTheLibraryFromItsFrame)
{
    struct Calling : RecordingSink {
        OrbId buffer = 0;
        OrbInt seen = 0;
        void orbFrame(const uint8_t* g, int w, int h, int zx, int zy) override
        {
            seen = orbBufInquire(buffer, ORB_BUF_SIZE_X, nullptr);
            RecordingSink::orbFrame(g, w, h, zx, zy);
        }
    } calling;
    calling.buffer = buf;
    orbDispShowInWindow(disp, buf, &calling);
    orbBufClear(buf, 1);
    EXPECT_EQ(calling.count(), 2u);
    EXPECT_EQ(calling.seen, 4);
    orbsim::reset();
}

TEST_F(OrbDisplays, TwoDisplaysOfOneBufferBothSee)
{
    RecordingSink second;
    OrbId disp2 = 0;
    orbDispAlloc(sys, ORB_DEFAULT, "O_DEFAULT", ORB_DEFAULT, &disp2);
    orbDispShowInWindow(disp, buf, &sink);
    orbDispShowInWindow(disp2, buf, &second);
    orbBufClear(buf, 200);
    EXPECT_EQ(sink.last().grey, std::vector<uint8_t>(8, 200));
    EXPECT_EQ(second.last().grey, std::vector<uint8_t>(8, 200));
    orbsim::reset();
}

}  // namespace
