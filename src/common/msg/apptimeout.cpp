// The communication time-out of the time-out table.
#include "apptimeout.h"

#include "hwlock.h"
#include "nodelist.h"
#include "nodeopen.h"

#include <cstdint>
#include <mutex>

namespace {

constexpr int kAppTimeoutEntry = 3;

std::mutex g_timeoutLock;

double* TimeoutTable()
{
    return imNodeSt ? imNodeSt->timeouts : nullptr;
}

} // namespace

void mp_app_choose_comm_timeout(double seconds)
{
    std::lock_guard<std::mutex> lock(g_timeoutLock);
    if (double* table = TimeoutTable()) table[kAppTimeoutEntry] = seconds;
}

double mp_app_comm_timeout_in_force()
{
    std::lock_guard<std::mutex> lock(g_timeoutLock);
    if (const double* table = TimeoutTable()) return table[kAppTimeoutEntry];
    return mp_sys_timeout(kAppTimeoutEntry);
}
