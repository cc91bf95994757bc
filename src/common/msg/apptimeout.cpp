// The communication time-out the application chose.
#include "apptimeout.h"

#include "hwlock.h"
#include "nodelist.h"
#include "nodeopen.h"

#include <cstdint>
#include <mutex>

namespace {

constexpr uint32_t kAppTimeoutEntry = 3;

std::mutex g_timeoutLock;
bool g_timeoutChosen = false;
double g_timeout = 0.0;

double* TimeoutTable()
{
    return imNodeSt ? imNodeSt->timeouts : nullptr;
}

} // namespace

void mp_app_choose_comm_timeout(double seconds)
{
    std::lock_guard<std::mutex> lock(g_timeoutLock);
    g_timeout = seconds;
    g_timeoutChosen = true;
    if (double* table = TimeoutTable()) table[kAppTimeoutEntry] = seconds;
}

double mp_app_comm_timeout_in_force()
{
    std::lock_guard<std::mutex> lock(g_timeoutLock);
    if (const double* table = TimeoutTable()) return table[kAppTimeoutEntry];
    if (g_timeoutChosen) return g_timeout;
    return mp_sys_timeout(static_cast<int>(kAppTimeoutEntry));
}

bool mp_app_comm_timeout(double* seconds)
{
    std::lock_guard<std::mutex> lock(g_timeoutLock);
    if (g_timeoutChosen && seconds) *seconds = g_timeout;
    return g_timeoutChosen;
}
