// The application calls make the library's global state: an error filed before the first
// open survives it, the time-out table starts again at 15 s after the last close, and a
// time-out below 0 other than -1 is refused.  Through hlclib.h and libhlclib.so only.
#include "hlclib.h"
#include "hlclib_board.h"
#include "libsandbox.h"

#include "boardsim.h"

#include <gtest/gtest.h>

namespace {

using libsandbox::ExpectError;
using libsandbox::LastText;

constexpr uint32_t kNoSuchDevice = 0x00770000u;

int g_hookCalls = 0;
int32_t g_hookCode = 0;

int32_t CountingHook(int32_t, int32_t code, uint32_t)
{
    ++g_hookCalls;
    g_hookCode = code;
    return 0;
}

TEST(AppStateTest, ErrorsAndTimeOutAcrossTheFirstOpenAndTheLastClose)
{
    libsandbox::Sandbox sandbox("hlcappstate");
    sandbox.useFpgaFile();
    sandbox.write("halcyra.ini", libsandbox::kOneBoard);
    boardsim::BoardSim::instance().configure(libsandbox::GrabModuleBoard());
    ASSERT_EQ(mp_sys_node_resource_ptr(0x11), nullptr);

    // An error filed after the hook is installed and before the first open stays the
    // record's first error through that open.
    imAppCatchError(0, CountingHook, 0);
    g_hookCalls = 0;
    EXPECT_EQ(imDevFree(kNoSuchDevice), IM_ERR_INVALID_DEVICE);
    uint32_t id = 0;
    // The open mutex may be held by another program for longer than the time-out.
    for (int attempt = 0; attempt < 20 && id == 0; ++attempt) imDevAlloc(0, 0, 3, 0, &id);
    ASSERT_NE(id, 0u);
    ExpectError(IM_ERR_INVALID_DEVICE, "Invalid device ID", "imDevFree");

    // A time-out chosen while the node is open ends with the last close.
    imAppControl(IM_APP_TIMEOUT, 3.0);
    EXPECT_EQ(imAppInquire(IM_APP_TIMEOUT, nullptr), 3);
    libsandbox::FreeDevice(id);
    // An error filed while no global state exists survives the call that makes it again.
    EXPECT_EQ(imDevFree(id), IM_ERR_INVALID_DEVICE);
    double seconds = 0;
    EXPECT_EQ(imAppInquire(IM_APP_TIMEOUT, &seconds), 15);
    EXPECT_EQ(seconds, 15.0);
    ExpectError(IM_ERR_INVALID_DEVICE, "Invalid device ID", "imDevFree");

    // A negative time-out other than -1 is refused, and the hook hears of it.
    imAppControl(IM_APP_TIMEOUT, -5.0);
    ExpectError(IM_ERR_INVALID_PARAMETER, "Parameter invalid or unacceptable", "imAppControl");
    EXPECT_EQ(g_hookCode, IM_ERR_INVALID_PARAMETER);
    EXPECT_EQ(g_hookCalls, 3);
    EXPECT_EQ(imAppInquire(IM_APP_TIMEOUT, nullptr), 15);
    imAppCatchError(0, nullptr, 0);
}

} // namespace
