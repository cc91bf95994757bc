// Critical sections: a lock word with a sleeping slow path, the holder's thread id and
// a recursion count.

#include "w32object.h"
#include "w32sync.h"
#include "w32thread.h"

#include <climits>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

void FutexWait(std::atomic<uint32_t>* word, uint32_t expected) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "the lock word is a plain futex word");

} // namespace

namespace w32detail {

DWORD CurrentThreadIdSlow() { return GetCurrentThreadId(); }

void EnterCriticalSectionContended(CRITICAL_SECTION* section) {
    // Taken: mark it waited for and sleep until the holder leaves.
    while (section->lock.exchange(2, std::memory_order_acquire) != 0) FutexWait(&section->lock, 2);
}

void WakeCriticalSectionWaiter(CRITICAL_SECTION* section) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&section->lock), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

} // namespace w32detail

using w32detail::Self;

void InitializeCriticalSection(CRITICAL_SECTION* section) {
    section->lock.store(0, std::memory_order_relaxed);
    section->owner.store(0, std::memory_order_relaxed);
    section->recursion = 0;
}

void DeleteCriticalSection(CRITICAL_SECTION* section) { InitializeCriticalSection(section); }

BOOL TryEnterCriticalSection(CRITICAL_SECTION* section) {
    DWORD self = Self();
    if (section->owner.load(std::memory_order_relaxed) == self) {
        ++section->recursion;
        return TRUE;
    }
    uint32_t expected = 0;
    if (!section->lock.compare_exchange_strong(expected, 1, std::memory_order_acquire, std::memory_order_relaxed))
        return FALSE;
    section->owner.store(self, std::memory_order_relaxed);
    section->recursion = 1;
    return TRUE;
}
