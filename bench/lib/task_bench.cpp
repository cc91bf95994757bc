// Costs of the task kernel's fast paths.
//
//   YieldRoundTrip            two tasks of one priority yielding to each other (2 switches)
//   SignalReadiesHigherTask   a signal that readies and switches to a higher task, which
//                             blocks again (2 switches)
//   SendReceiveQueued         a message sent to a port and received back by the same task
//   SendToWaitingReceiver     a message handed to a higher task blocked in receive, which
//                             receives again and blocks (2 switches)
//   SignalFromAnotherThread   another OS thread wakes the kernel's thread, which signals a
//                             task; the task answers the thread (a full round trip)
//   FiberSwitchRoundTrip      the bare fiber switch, there and back
//
// "per_switch" is the time of one task switch (half a round trip).

#include "task.h"
#include "win32.h"

#include <benchmark/benchmark.h>

#include <atomic>

namespace {

// A kernel on the benchmark's thread for one run.
struct Kernel {
    Kernel() { TaskInitTasking(); }
    ~Kernel() { TaskExitTasking(); }
};

void PerSwitch(benchmark::State& state, int switchesPerIteration) {
    state.counters["per_switch"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * switchesPerIteration,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void Yielder(void*) {
    for (;;) TaskYield(-1);
}

void YieldRoundTrip(benchmark::State& state) {
    Kernel k;
    TaskSetPriority(5);
    TaskResume(TaskCreate(-1, Yielder, nullptr, 5, 16384));
    for (auto _ : state) TaskYield(-1);
    PerSwitch(state, 2);
}
BENCHMARK(YieldRoundTrip)->Repetitions(10)->ReportAggregatesOnly(true);

void Waiter(void* sema) {
    int32_t s = static_cast<int32_t>(reinterpret_cast<intptr_t>(sema));
    while (TaskWaitSema(s)) {
    }
}

void SignalReadiesHigherTask(benchmark::State& state) {
    Kernel k;
    int32_t s = TaskOpenSema(-1, 0);
    TaskResume(TaskCreate(-1, Waiter, reinterpret_cast<void*>(static_cast<intptr_t>(s)), 10, 16384));
    for (auto _ : state) TaskSignalSema(s);
    PerSwitch(state, 2);
}
BENCHMARK(SignalReadiesHigherTask)->Repetitions(10)->ReportAggregatesOnly(true);

void SendReceiveQueued(benchmark::State& state) {
    Kernel k;
    int32_t port = TaskOpenPort(-1);
    alignas(8) static uint8_t memory[256];
    void* m = TaskInitMsg(memory, 256, -1);
    for (auto _ : state) {
        TaskSendMsg(m, port);
        benchmark::DoNotOptimize(TaskReceiveMsg(port));
    }
}
BENCHMARK(SendReceiveQueued)->Repetitions(10)->ReportAggregatesOnly(true);

void Receiver(void* port) {
    int32_t p = static_cast<int32_t>(reinterpret_cast<intptr_t>(port));
    while (TaskReceiveMsg(p)) {
    }
}

void SendToWaitingReceiver(benchmark::State& state) {
    Kernel k;
    int32_t port = TaskOpenPort(-1);
    alignas(8) static uint8_t memory[256];
    void* m = TaskInitMsg(memory, 256, -1);
    TaskResume(TaskCreate(-1, Receiver, reinterpret_cast<void*>(static_cast<intptr_t>(port)), 10, 16384));
    for (auto _ : state) TaskSendMsg(m, port);
    PerSwitch(state, 2);
}
BENCHMARK(SendToWaitingReceiver)->Repetitions(10)->ReportAggregatesOnly(true);

struct CrossThread {
    HANDLE wake = nullptr;   // the other thread wakes the kernel's thread
    HANDLE done = nullptr;   // the task answers the other thread
    std::atomic<bool> stop{false};
    int32_t sema = -1;
};

DWORD Poker(void* p) {
    CrossThread* c = static_cast<CrossThread*>(p);
    while (!c->stop.load()) {
        ReleaseSemaphore(c->wake, 1, nullptr);
        WaitForSingleObject(c->done, 1000);
    }
    return 0;
}

void Answerer(void* p) {
    CrossThread* c = static_cast<CrossThread*>(p);
    while (TaskWaitSema(c->sema)) SetEvent(c->done);
}

void SignalFromAnotherThread(benchmark::State& state) {
    Kernel k;
    CrossThread c;
    c.wake = CreateSemaphoreA(0, 1 << 20);
    c.done = CreateEventA(FALSE, FALSE);
    c.sema = TaskOpenSema(-1, 0);
    TaskResume(TaskCreate(-1, Answerer, &c, 20, 16384));
    HANDLE thread = CreateThread(Poker, &c, nullptr);
    for (auto _ : state) {
        WaitForSingleObject(c.wake, INFINITE);
        TaskSignalSema(c.sema);
    }
    c.stop = true;
    SetEvent(c.done);
    WaitForSingleObject(c.wake, 1000);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(c.wake);
    CloseHandle(c.done);
}
BENCHMARK(SignalFromAnotherThread)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();

void* gMainFiber = nullptr;

void Bouncer(void*) {
    for (;;) SwitchToFiber(gMainFiber);
}

void FiberSwitchRoundTrip(benchmark::State& state) {
    gMainFiber = ConvertThreadToFiber(nullptr);
    void* f = CreateFiber(16384, Bouncer, nullptr);
    for (auto _ : state) SwitchToFiber(f);
    PerSwitch(state, 2);
    DeleteFiber(f);
    ConvertFiberToThread();
}
BENCHMARK(FiberSwitchRoundTrip)->Repetitions(10)->ReportAggregatesOnly(true);

} // namespace
