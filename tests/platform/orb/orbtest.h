// Shared fixture of the imaging-library tests: a fresh library with an error hook that
// reads every reported error back the way the application does.
#pragma once

#include "orb.h"
#include "orbsim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace orbtest {

struct Reported {
    OrbInt hookType = 0;
    OrbId id = 0;
    void* user = nullptr;
    std::string function, message;
    OrbInt count = -1;
    std::vector<std::string> subs;
};

inline std::mutex& hookMutex()
{
    static std::mutex m;
    return m;
}
inline std::vector<Reported>& reported()
{
    static std::vector<Reported> r;
    return r;
}

inline std::string text(OrbId id, OrbInt code)
{
    char buf[ORB_ERROR_TEXT_SIZE];
    std::fill(buf, buf + sizeof buf, 'x');
    if (orbAppGetError(id, code, buf) != 0) return "<none>";
    return buf;
}

inline OrbInt recordingHook(OrbInt hookType, OrbId errorId, void* user)
{
    Reported r;
    r.hookType = hookType;
    r.id = errorId;
    r.user = user;
    r.function = text(errorId, ORB_ERR_FUNCTION);
    r.message = text(errorId, ORB_ERR_MESSAGE);
    orbAppGetError(errorId, ORB_ERR_SUBMESSAGE_COUNT, &r.count);
    for (OrbInt i = 0; i < r.count && i < 3; ++i) r.subs.push_back(text(errorId, ORB_ERR_SUBMESSAGE1 + i));
    std::lock_guard<std::mutex> lk(hookMutex());
    reported().push_back(r);
    return 0;
}

class OrbTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        orbsim::reset();
        orbsim::setFramePeriodMs(0);
        clearReported();
        orbAppOpen(ORB_DEFAULT, &app);
        orbAppSetErrorHook(ORB_ERROR_HOOK, &recordingHook, this);
        orbSysOpen(&ORBSVK_orbBoardDriverEntry, ORB_DEFAULT, ORB_DEFAULT, &sys);
        ASSERT_NE(app, 0u);
        ASSERT_NE(sys, 0u);
    }
    void TearDown() override { orbsim::reset(); }

    static void clearReported()
    {
        std::lock_guard<std::mutex> lk(hookMutex());
        reported().clear();
    }
    static std::vector<Reported> errors()
    {
        std::lock_guard<std::mutex> lk(hookMutex());
        return reported();
    }
    static size_t errorCount() { return errors().size(); }
    static Reported lastReported()
    {
        auto e = errors();
        return e.empty() ? Reported{} : e.back();
    }

    OrbId alloc(int w, int h, uint32_t type = 8, uint32_t attr = ORB_ATTR_IMAGE | ORB_ATTR_PROC)
    {
        OrbId id = 0;
        orbBufAlloc2d(sys, w, h, type, attr, &id);
        return id;
    }

    OrbId app = 0, sys = 0;
};

}  // namespace orbtest
