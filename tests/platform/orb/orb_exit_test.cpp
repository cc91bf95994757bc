// The process ends while a continuous grab still runs and a display still shows into a
// sink: the library must stop the grab cleanly at exit (this test fails by crashing).
#include "orbsink.h"
#include "orbtest.h"

namespace {

orbtest::RecordingSink* leakedSink = new orbtest::RecordingSink;  // outlives the library

TEST(OrbExit, LiveGrabStillRunningWhenTheProcessEnds)
{
    orbsim::reset();
    orbsim::setFramePeriodMs(2);
    OrbId app = 0, sys = 0, dig = 0, buf = 0, disp = 0;
    orbAppOpen(ORB_DEFAULT, &app);
    orbSysOpen(&ORBSVK_orbBoardDriverEntry, ORB_DEFAULT, ORB_DEFAULT, &sys);
    orbDigAlloc(sys, 0, "O_CCIR", ORB_DEFAULT, &dig);
    orbBufAlloc2d(sys, 32, 32, 8, 60, &buf);
    orbDispAlloc(sys, ORB_DEFAULT, "O_DEFAULT", ORB_DEFAULT, &disp);
    orbDispShowInWindow(disp, buf, leakedSink);
    orbDigGrabLive(dig, buf);
    ASSERT_TRUE(leakedSink->waitFor(3));
    EXPECT_TRUE(orbsim::digitizerState(dig)->live);
    EXPECT_EQ(orbsim::errorCount(), 0u);
}

}  // namespace
