#include "orbtest.h"

#include <thread>

using namespace orbtest;

namespace {

OrbInt otherHook(OrbInt, OrbId, void*) { return 0; }
OrbInt strangeEntry() { return 99; }

// ---- error records and the hook ----

TEST(OrbApp, ErrorHookPayloadWithSubMessages)
{
    orbsim::reset();
    int user = 0;
    OrbId app = 0;
    orbAppOpen(ORB_DEFAULT, &app);
    orbAppSetErrorHook(ORB_ERROR_HOOK, &recordingHook, &user);
    {
        std::lock_guard<std::mutex> lk(hookMutex());
        reported().clear();
    }
    uint8_t px[4];
    orbBufGet(0x777, px);
    std::vector<Reported> r;
    {
        std::lock_guard<std::mutex> lk(hookMutex());
        r = reported();
    }
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].hookType, ORB_ERROR_HOOK);
    EXPECT_EQ(r[0].user, &user);
    EXPECT_EQ(r[0].function, "orbBufGet");
    EXPECT_EQ(r[0].message, "Invalid buffer id");
    EXPECT_EQ(r[0].count, 1);
    ASSERT_EQ(r[0].subs.size(), 1u);
    EXPECT_EQ(r[0].subs[0], "Buffer id 0x777 is not allocated");
    auto last = orbsim::lastError();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->id, r[0].id);
    EXPECT_EQ(last->function, "orbBufGet");
    orbsim::reset();
}

class OrbErrors : public OrbTest {};

TEST_F(OrbErrors, UpToThreeSubMessagesInOrder)
{
    const OrbId a = alloc(4, 3), b = alloc(5, 3, 16);
    orbBufCopy(a, b);
    Reported r = lastReported();
    EXPECT_EQ(r.function, "orbBufCopy");
    EXPECT_EQ(r.message, "Buffers do not match");
    EXPECT_EQ(r.count, 2);
    ASSERT_EQ(r.subs.size(), 2u);
    EXPECT_EQ(r.subs[0], "Source 4 x 3 type 0x8");
    EXPECT_EQ(r.subs[1], "Destination 5 x 3 type 0x10");
}

TEST_F(OrbErrors, SubMessageCountIsExact)
{
    orbBufPut(alloc(2, 2), nullptr);
    Reported r = lastReported();
    EXPECT_EQ(r.function, "orbBufPut");
    EXPECT_EQ(r.message, "The memory pointer is null");
    EXPECT_EQ(r.count, 0);
    EXPECT_TRUE(r.subs.empty());
    orbAppSetErrorHook(0x1234, nullptr, nullptr);
    r = lastReported();
    EXPECT_EQ(r.function, "orbAppSetErrorHook");
    EXPECT_EQ(r.message, "Invalid parameter");
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(r.subs, std::vector<std::string>{"Unknown hook type 0x1234"});
    // The hook stays installed after a refused change.
    OrbErrorHook h = nullptr;
    orbAppInquire(ORB_INQ_ERROR_HOOK, &h);
    EXPECT_EQ(h, &recordingHook);
}

TEST_F(OrbErrors, GetErrorUnknownIdOrCodeLeavesOutUntouched)
{
    orbBufFree(0x999);
    const OrbId id = lastReported().id;
    ASSERT_NE(id, 0u);
    char buf[ORB_ERROR_TEXT_SIZE] = "unchanged";
    EXPECT_EQ(orbAppGetError(id + 100, ORB_ERR_MESSAGE, buf), -1);
    EXPECT_STREQ(buf, "unchanged");
    EXPECT_EQ(orbAppGetError(id, 0x20000003, buf), -1);
    EXPECT_STREQ(buf, "unchanged");
    EXPECT_EQ(orbAppGetError(id, ORB_ERR_MESSAGE, nullptr), -1);
    // An absent sub-message reads as an empty text.
    EXPECT_EQ(orbAppGetError(id, ORB_ERR_SUBMESSAGE3, buf), 0);
    EXPECT_STREQ(buf, "");
}

TEST_F(OrbErrors, LongTextsAreCutToTheTextSize)
{
    const std::string longName(300, 'a');
    orbBufSave(longName.c_str(), 7, 0x1);
    // The path is not the first problem: the format is, so the message is short.
    EXPECT_EQ(lastReported().message, "Invalid parameter");
    orbBufLoad(("/nonexistent/" + longName).c_str(), ORB_FILE_RAW, 1, sys, alloc(2, 2));
    Reported r = lastReported();
    EXPECT_EQ(r.message, "File access error");
    ASSERT_GE(r.subs.size(), 1u);
    EXPECT_EQ(r.subs[0].size(), size_t(ORB_ERROR_TEXT_SIZE - 1));
    EXPECT_EQ(r.subs[0].substr(0, 13), "/nonexistent/");
}

TEST_F(OrbErrors, HookRunsOnTheCallingThreadOutsideTheLock)
{
    static std::thread::id hookThread;
    static int calls;
    calls = 0;
    struct Local {
        static OrbInt hook(OrbInt, OrbId id, void*)
        {
            if (++calls > 1) return 0;
            hookThread = std::this_thread::get_id();
            // Calling back into the library from the hook must not deadlock.
            char buf[ORB_ERROR_TEXT_SIZE];
            orbAppGetError(id, ORB_ERR_FUNCTION, buf);
            OrbId b = 0;
            orbBufAlloc2d(0x7777, 1, 1, 8, 4, &b);  // itself an error, reported recursively
            return 0;
        }
    };
    orbAppSetErrorHook(ORB_ERROR_HOOK, &Local::hook, nullptr);
    std::thread::id caller;
    std::thread t([&] {
        caller = std::this_thread::get_id();
        orbBufClear(0x4242, 0);
    });
    t.join();
    EXPECT_EQ(hookThread, caller);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(orbsim::errorCount(), 2u);
}

TEST_F(OrbErrors, InquireReportsHookAndUserPointer)
{
    OrbErrorHook h = nullptr;
    void* u = nullptr;
    EXPECT_EQ(orbAppInquire(ORB_INQ_ERROR_HOOK, &h), 0);
    EXPECT_EQ(orbAppInquire(ORB_INQ_ERROR_HOOK_USER, &u), 0);
    EXPECT_EQ(h, &recordingHook);
    EXPECT_EQ(u, this);
    orbAppSetErrorHook(ORB_ERROR_HOOK, &otherHook, nullptr);
    orbAppInquire(ORB_INQ_ERROR_HOOK, &h);
    orbAppInquire(ORB_INQ_ERROR_HOOK_USER, &u);
    EXPECT_EQ(h, &otherHook);
    EXPECT_EQ(u, nullptr);
    EXPECT_EQ(orbAppInquire(77, &h), -1);
}

TEST(OrbApp, NoHookInstalledInquiresNull)
{
    orbsim::reset();
    OrbErrorHook h = &otherHook;
    void* u = &h;
    orbAppInquire(ORB_INQ_ERROR_HOOK, &h);
    orbAppInquire(ORB_INQ_ERROR_HOOK_USER, &u);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(u, nullptr);
    // Errors without a hook are still recorded.
    orbBufFree(5);
    ASSERT_TRUE(orbsim::lastError());
    EXPECT_EQ(orbsim::lastError()->function, "orbBufFree");
    EXPECT_EQ(orbsim::errorCount(), 1u);
}

TEST(OrbApp, CloseClearsTheHookSoAReopenedApplicationStartsWithoutOne)
{
    orbsim::reset();
    OrbId app = 0;
    orbAppOpen(ORB_DEFAULT, &app);
    orbAppSetErrorHook(ORB_ERROR_HOOK, &otherHook, &app);
    orbAppClose(app);
    OrbErrorHook h = &otherHook;
    orbAppInquire(ORB_INQ_ERROR_HOOK, &h);
    EXPECT_EQ(h, nullptr);
    orbsim::reset();
}

// ---- application and systems ----

TEST(OrbApp, OpenTwiceAndBadCloseAreErrors)
{
    orbsim::reset();
    OrbId a = 0, b = 7;
    orbAppOpen(ORB_DEFAULT, &a);
    EXPECT_EQ(a, 0x1u);
    orbAppOpen(ORB_DEFAULT, &b);
    EXPECT_EQ(b, 0u);
    EXPECT_EQ(orbsim::lastError()->message, "Application already allocated");
    orbAppClose(a + 1);
    EXPECT_EQ(orbsim::lastError()->message, "Invalid application id");
    EXPECT_TRUE(orbsim::applicationOpen());
    orbAppClose(a);
    EXPECT_FALSE(orbsim::applicationOpen());
    orbAppOpen(ORB_DEFAULT, nullptr);
    EXPECT_EQ(orbsim::lastError()->function, "orbAppOpen");
    orbsim::reset();
}

TEST(OrbApp, SystemNeedsAnApplication)
{
    orbsim::reset();
    OrbId s = 9;
    EXPECT_EQ(orbSysOpen(&ORBHLC_orbBoardDriverEntry, ORB_DEFAULT, ORB_DEFAULT, &s), 0u);
    EXPECT_EQ(s, 0u);
    EXPECT_EQ(orbsim::lastError()->message, "No application allocated");
    orbsim::reset();
}

TEST(OrbApp, CloseFreesEverything)
{
    orbsim::reset();
    orbsim::setFramePeriodMs(0);
    OrbId app = 0, sys = 0, dig = 0, buf = 0, disp = 0;
    orbAppOpen(ORB_DEFAULT, &app);
    orbSysOpen(&ORBLMB_orbBoardDriverEntry, ORB_DEFAULT, ORB_DEFAULT, &sys);
    orbDigAlloc(sys, 0, "O_CCIR", ORB_DEFAULT, &dig);
    orbBufAlloc2d(sys, 8, 8, 8, 60, &buf);
    orbDispAlloc(sys, ORB_DEFAULT, "O_DEFAULT", ORB_DEFAULT, &disp);
    orbDigGrabLive(dig, buf);
    EXPECT_EQ(orbsim::bufferCount(), 1u);
    EXPECT_EQ(orbsim::digitizerCount(), 1u);
    EXPECT_EQ(orbsim::displayCount(), 1u);
    orbAppClose(app);
    EXPECT_EQ(orbsim::bufferCount(), 0u);
    EXPECT_EQ(orbsim::digitizerCount(), 0u);
    EXPECT_EQ(orbsim::displayCount(), 0u);
    EXPECT_EQ(orbsim::systemCount(), 0u);
    EXPECT_EQ(orbsim::errorCount(), 0u);
    orbsim::reset();
}

class OrbBoards : public OrbTest {};

TEST_F(OrbBoards, EveryBoardWithADigitizerAllocatesOne)
{
    for (OrbBoardDriverEntry e : {&ORBSVK_orbBoardDriverEntry, &ORBSVK2_orbBoardDriverEntry, &ORBDRV_orbBoardDriverEntry,
                                  &ORBLMB_orbBoardDriverEntry, &ORBHLC_orbBoardDriverEntry}) {
        OrbId s = 0, d = 0;
        orbSysOpen(e, ORB_DEFAULT, ORB_DEFAULT, &s);
        ASSERT_NE(s, 0u);
        EXPECT_EQ(orbDigAlloc(s, 0, "O_CCIR", ORB_DEFAULT, &d), d);
        EXPECT_NE(d, 0u);
        auto st = orbsim::digitizerState(d);
        ASSERT_TRUE(st);
        EXPECT_EQ(st->system, s);
        EXPECT_EQ(st->channel, 0x20000000u);
    }
    EXPECT_EQ(errorCount(), 0u);
}

TEST_F(OrbBoards, VgaAndHostRefuseADigitizer)
{
    for (OrbBoardDriverEntry e : {&ORBVGA_orbBoardDriverEntry, OrbBoardDriverEntry(nullptr)}) {
        clearReported();
        OrbId s = 0, d = 123;
        orbSysOpen(e, ORB_DEFAULT, ORB_DEFAULT, &s);
        ASSERT_NE(s, 0u);
        EXPECT_EQ(orbDigAlloc(s, 0, "O_CCIR", ORB_DEFAULT, &d), 0u);
        EXPECT_EQ(d, 0u);
        ASSERT_EQ(errorCount(), 1u);
        Reported r = lastReported();
        EXPECT_EQ(r.function, "orbDigAlloc");
        EXPECT_EQ(r.message, "No digitizer on this system");
        ASSERT_EQ(r.subs.size(), 1u);
        EXPECT_EQ(r.subs[0], e ? "The board \"ORBVGA\" has no digitizer" : "The board \"null\" has no digitizer");
        // Buffers and displays still work there.
        OrbId bb = 0, disp = 0;
        orbBufAlloc2d(s, 4, 4, 8, 52, &bb);
        orbDispAlloc(s, ORB_DEFAULT, "O_DEFAULT", ORB_DEFAULT, &disp);
        EXPECT_NE(bb, 0u);
        EXPECT_NE(disp, 0u);
        EXPECT_EQ(errorCount(), 1u);
    }
}

TEST_F(OrbBoards, DigitizerArgumentsAreChecked)
{
    OrbId d = 0;
    orbDigAlloc(sys, 0, "O_PAL", ORB_DEFAULT, &d);
    EXPECT_EQ(lastReported().message, "Unsupported digitizer format");
    orbDigAlloc(sys, 0, nullptr, ORB_DEFAULT, &d);
    EXPECT_EQ(lastReported().message, "Unsupported digitizer format");
    orbDigAlloc(sys, 2, "O_CCIR", ORB_DEFAULT, &d);
    EXPECT_EQ(lastReported().message, "Invalid device number");
    orbDigAlloc(0x55, 0, "O_CCIR", ORB_DEFAULT, &d);
    EXPECT_EQ(lastReported().message, "Invalid system id");
    EXPECT_EQ(d, 0u);
    orbDigAlloc(sys, 0, "O_CCIR", ORB_DEFAULT, &d);
    ASSERT_NE(d, 0u);
    OrbId d2 = 0;
    orbDigAlloc(sys, 0, "O_CCIR", ORB_DEFAULT, &d2);
    EXPECT_EQ(d2, 0u);
    EXPECT_EQ(lastReported().message, "Digitizer already allocated");
    orbDigFree(d);
    orbDigAlloc(sys, 0, "O_CCIR", ORB_DEFAULT, &d2);
    EXPECT_NE(d2, 0u);
}

TEST_F(OrbBoards, UnknownDriverEntryIsRefused)
{
    OrbId s = 5;
    orbSysOpen(&strangeEntry, ORB_DEFAULT, ORB_DEFAULT, &s);
    EXPECT_EQ(s, 0u);
    EXPECT_EQ(lastReported().message, "Invalid parameter");
    const auto log = orbsim::callLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "orbSysOpen(ptr, 0x10000000, 0x10000000, ptr)"), log.end());
}

TEST_F(OrbBoards, SystemCloseFreesItsObjects)
{
    OrbId s = 0, d = 0, b = 0;
    orbSysOpen(&ORBDRV_orbBoardDriverEntry, ORB_DEFAULT, ORB_DEFAULT, &s);
    orbDigAlloc(s, 0, "O_CCIR", ORB_DEFAULT, &d);
    orbBufAlloc2d(s, 3, 3, 8, 4, &b);
    const OrbId mine = alloc(3, 3);
    orbSysClose(s);
    EXPECT_FALSE(orbsim::digitizerState(d));
    EXPECT_FALSE(orbsim::bufferInfo(b));
    EXPECT_TRUE(orbsim::bufferInfo(mine));
    orbSysClose(s);
    EXPECT_EQ(lastReported().message, "Invalid system id");
}

// ---- the call log ----

TEST(OrbLog, OpeningSequenceIsLoggedExactlyWithDeterministicIds)
{
    orbsim::reset();
    OrbId app = 0, sys = 0, dig = 0, disp = 0, buf = 0;
    OrbErrorHook prev = nullptr;
    void* prevUser = nullptr;
    int user = 0;
    orbAppOpen(ORB_DEFAULT, &app);
    orbAppControl(0x40000000, 0);
    orbAppInquire(8, &prev);
    orbAppInquire(9, &prevUser);
    orbAppSetErrorHook(ORB_ERROR_HOOK, &otherHook, &user);
    orbSysOpen(&ORBSVK_orbBoardDriverEntry, ORB_DEFAULT, ORB_DEFAULT, &sys);
    orbDigAlloc(sys, 0, "O_CCIR", ORB_DEFAULT, &dig);
    orbDigSelectInput(dig, 0x20000000);
    orbDigControl(dig, 4010, 0.25);
    orbDigControl(dig, 4061, -9997.0);
    orbDigSetLevel(dig, 4009, 160);
    orbBufAlloc2d(sys, 768, 576, 0x80000008, 60, &buf);
    orbBufClear(buf, 0.0);
    orbDispAlloc(sys, ORB_DEFAULT, "O_DEFAULT", ORB_DEFAULT, &disp);
    orbDispControl(disp, 3054, -9999);
    orbDispSetZoom(disp, -2, 3);
    orbBufGet2d(buf, 1, 2, 3, 4, nullptr);
    orbBufInquire(buf, 1002, nullptr);
    orbBufLoad("a.tif", ORB_DEFAULT, 1, sys, buf);
    orbSysOpen(nullptr, ORB_DEFAULT, ORB_DEFAULT, nullptr);
    orbAppGetError(1, 3, nullptr);
    const std::vector<std::string> expected = {
        "orbAppOpen(0x10000000, ptr)",
        "orbAppControl(0x40000000, 0)",
        "orbAppInquire(8, ptr)",
        "orbAppInquire(9, ptr)",
        "orbAppSetErrorHook(0x40000001, hook, ptr)",
        "orbSysOpen(ORBSVK, 0x10000000, 0x10000000, ptr)",
        "orbDigAlloc(0x2, 0x0, \"O_CCIR\", 0x10000000, ptr)",
        "orbDigSelectInput(0x3, 0x20000000)",
        "orbDigControl(0x3, 4010, 0.25)",
        "orbDigControl(0x3, 4061, -9997)",
        "orbDigSetLevel(0x3, 4009, 160)",
        "orbBufAlloc2d(0x2, 768, 576, 0x80000008, 0x3c, ptr)",
        "orbBufClear(0x4, 0)",
        "orbDispAlloc(0x2, 0x10000000, \"O_DEFAULT\", 0x10000000, ptr)",
        "orbDispControl(0x5, 3054, -9999)",
        "orbDispSetZoom(0x5, -2, 3)",
        "orbBufGet2d(0x4, 1, 2, 3, 4, null)",
        "orbBufInquire(0x4, 1002, null)",
        "orbBufLoad(\"a.tif\", 0x10000000, 1, 0x2, 0x4)",
        "orbSysOpen(null, 0x10000000, 0x10000000, null)",
        "orbAppGetError(0x1, 0x3, null)",
    };
    EXPECT_EQ(orbsim::callLog(), expected);
    EXPECT_EQ(app, 0x1u);
    EXPECT_EQ(sys, 0x2u);
    EXPECT_EQ(dig, 0x3u);
    EXPECT_EQ(buf, 0x4u);
    EXPECT_EQ(disp, 0x5u);
    orbsim::clearCallLog();
    EXPECT_TRUE(orbsim::callLog().empty());
    // After a reset the ids start over.
    orbsim::reset();
    orbAppOpen(ORB_DEFAULT, &app);
    EXPECT_EQ(app, 0x1u);
    EXPECT_EQ(orbsim::callLog().size(), 1u);
    orbsim::reset();
}

TEST(OrbLog, DriverNamesAndFilesAndShowInWindow)
{
    orbsim::reset();
    OrbId app = 0;
    orbAppOpen(ORB_DEFAULT, &app);
    orbsim::clearCallLog();
    for (OrbBoardDriverEntry e : {&ORBSVK_orbBoardDriverEntry, &ORBSVK2_orbBoardDriverEntry, &ORBDRV_orbBoardDriverEntry,
                                  &ORBLMB_orbBoardDriverEntry, &ORBHLC_orbBoardDriverEntry, &ORBVGA_orbBoardDriverEntry})
        orbSysOpen(e, 0, 0, nullptr);
    orbBufSave("x.bmp", ORB_FILE_BMP, 0x9);
    orbBufRestore(nullptr, 0x2, nullptr);
    orbDispShowInWindow(0x6, 0x9, nullptr);
    orbDigGrab(0x3, 0x4);
    orbDigStopGrab(0x3);
    const std::vector<std::string> expected = {
        "orbSysOpen(ORBSVK, 0x0, 0x0, null)",  "orbSysOpen(ORBSVK2, 0x0, 0x0, null)",
        "orbSysOpen(ORBDRV, 0x0, 0x0, null)",  "orbSysOpen(ORBLMB, 0x0, 0x0, null)",
        "orbSysOpen(ORBHLC, 0x0, 0x0, null)",  "orbSysOpen(ORBVGA, 0x0, 0x0, null)",
        "orbBufSave(\"x.bmp\", 0x4, 0x9)",     "orbBufRestore(null, 0x2, null)",
        "orbDispShowInWindow(0x6, 0x9, null)", "orbDigGrab(0x3, 0x4)",
        "orbDigStopGrab(0x3)",
    };
    EXPECT_EQ(orbsim::callLog(), expected);
    orbsim::reset();
}

TEST(OrbLog, KeepsTheMostRecentEntries)
{
    orbsim::reset();
    for (int i = 0; i < 20005; ++i) orbBufInquire(OrbId(i), 1002, nullptr);
    auto log = orbsim::callLog();
    ASSERT_EQ(log.size(), 20000u);
    EXPECT_EQ(log.front(), "orbBufInquire(0x5, 1002, null)");
    EXPECT_EQ(log.back(), "orbBufInquire(0x4e24, 1002, null)");
    orbsim::reset();
}

TEST(OrbFaults, InjectedAllocationFailures)
{
    orbsim::reset();
    OrbId app = 0, sys = 0, disp = 5, buf = 5;
    orbAppOpen(ORB_DEFAULT, &app);
    orbSysOpen(nullptr, ORB_DEFAULT, ORB_DEFAULT, &sys);
    orbsim::failNextAlloc(orbsim::AllocKind::Display);
    orbDispAlloc(sys, ORB_DEFAULT, "O_DEFAULT", ORB_DEFAULT, &disp);
    EXPECT_EQ(disp, 0u);
    EXPECT_EQ(orbsim::lastError()->message, "Insufficient memory");
    EXPECT_EQ(orbsim::lastError()->subMessages.at(0), "Cannot allocate the display");
    orbDispAlloc(sys, ORB_DEFAULT, "O_DEFAULT", ORB_DEFAULT, &disp);
    EXPECT_NE(disp, 0u);
    orbsim::failNextAlloc(orbsim::AllocKind::Any, 2);
    EXPECT_EQ(orbBufAlloc2d(sys, 2, 2, 8, 4, &buf), 0u);
    EXPECT_EQ(orbBufAlloc2d(sys, 2, 2, 8, 4, &buf), 0u);
    EXPECT_NE(orbBufAlloc2d(sys, 2, 2, 8, 4, &buf), 0u);
    EXPECT_EQ(orbsim::errorCount(), 3u);
    orbsim::reset();
}

}  // namespace
