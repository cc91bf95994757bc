// Fibers with a register switch of our own.
//
// A switch pushes the callee-saved registers (ebp, ebx, esi, edi) and the SSE and x87
// control words on the running stack, stores the stack pointer in the old fiber, loads
// the new fiber's stack pointer and pops the same in reverse.  It makes no system call:
// unlike a full context switch it keeps no signal mask, which fibers of one thread share.
// Under AddressSanitizer every switch is announced to it, so that it follows the stacks.

#include "w32fiber.h"

#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#define W32_FIBER_ASAN 1
#else
#define W32_FIBER_ASAN 0
#endif

#if !defined(__i386__)
#error "The fiber switch is written for 32-bit x86"
#endif

namespace {

constexpr uint32_t kFiberMagic = 0x46494252; // "FIBR"

// Smallest stack given to a fiber: a few pages are not enough for the C library's own
// needs (formatting, signal delivery) nor, under the sanitizers, for their larger frames.
#if W32_FIBER_ASAN
constexpr size_t kMinStack = 512 * 1024;
#else
constexpr size_t kMinStack = 128 * 1024;
#endif

struct Fiber {
    void* sp = nullptr;                 // saved stack pointer while the fiber is not running
    uint32_t magic = kFiberMagic;
    FiberStartRoutine start = nullptr;
    void* parameter = nullptr;
    void* mapping = nullptr;            // guard page and stack (null for a thread's fiber)
    size_t mappingSize = 0;
    const void* stackBottom = nullptr;  // lowest usable stack address, for the sanitizer
    size_t stackSize = 0;
    void* fakeStack = nullptr;          // sanitizer state kept across a switch
    bool threadFiber = false;
};

thread_local Fiber* tlsCurrent = nullptr;
thread_local Fiber* tlsThreadFiber = nullptr;

} // namespace

extern "C" void w32_fiber_jump(void** saveSp, void* newSp);
extern "C" void w32_fiber_entry();

// void w32_fiber_jump(void** saveSp, void* newSp)
asm(R"(
    .text
    .p2align 4
    .globl w32_fiber_jump
    .hidden w32_fiber_jump
    .type w32_fiber_jump, @function
w32_fiber_jump:
    movl 4(%esp), %eax
    movl 8(%esp), %edx
    pushl %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    subl $8, %esp
    stmxcsr (%esp)
    fnstcw 4(%esp)
    movl %esp, (%eax)
    movl %edx, %esp
    ldmxcsr (%esp)
    fldcw 4(%esp)
    addl $8, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
    .size w32_fiber_jump, .-w32_fiber_jump
)");

namespace {

inline void BeforeSwitch(Fiber* from, Fiber* to) {
#if W32_FIBER_ASAN
    __sanitizer_start_switch_fiber(&from->fakeStack, to->stackBottom, to->stackSize);
#else
    (void)from;
    (void)to;
#endif
}

inline void AfterSwitch(Fiber* self) {
#if W32_FIBER_ASAN
    __sanitizer_finish_switch_fiber(self->fakeStack, nullptr, nullptr);
#else
    (void)self;
#endif
}

Fiber* AsFiber(void* p) {
    Fiber* f = static_cast<Fiber*>(p);
    return f && f->magic == kFiberMagic ? f : nullptr;
}

} // namespace

// First code of a new fiber, entered by the switch's return.
extern "C" void w32_fiber_entry() {
    Fiber* self = tlsCurrent;
    AfterSwitch(self);
    self->start(self->parameter);
    std::fputs("fiber start routine returned; a fiber must switch away instead\n", stderr);
    std::abort();
}

void* ConvertThreadToFiber(void* parameter) {
    if (tlsCurrent) {
        SetLastError(ERROR_ALREADY_FIBER);
        return nullptr;
    }
    Fiber* f = new Fiber;
    f->parameter = parameter;
    f->threadFiber = true;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* addr = nullptr;
        size_t size = 0;
        pthread_attr_getstack(&attr, &addr, &size);
        f->stackBottom = addr;
        f->stackSize = size;
        pthread_attr_destroy(&attr);
    }
    tlsCurrent = f;
    tlsThreadFiber = f;
    return f;
}

BOOL ConvertFiberToThread() {
    if (!tlsThreadFiber) {
        SetLastError(ERROR_ALREADY_THREAD);
        return FALSE;
    }
    if (tlsCurrent != tlsThreadFiber) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    tlsThreadFiber->magic = 0;
    delete tlsThreadFiber;
    tlsThreadFiber = nullptr;
    tlsCurrent = nullptr;
    return TRUE;
}

void* CreateFiber(size_t stackSize, FiberStartRoutine start, void* parameter) {
    if (!start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t size = stackSize < kMinStack ? kMinStack : stackSize;
    if (size > (256u << 20)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    size = (size + page - 1) / page * page;
    // A guard page below the stack catches an overflow.  One above it keeps the stack's end
    // address inside the mapping: under AddressSanitizer a stack that ended where the
    // sanitizer's own shadow begins could not have its end looked up.
    size_t total = size + 2 * page;
    void* map = mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (map == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    char* stack = static_cast<char*>(map) + page;   // the lowest and the highest page stay guards
    if (mprotect(stack, size, PROT_READ | PROT_WRITE) != 0) {
        munmap(map, total);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    Fiber* f = new Fiber;
    f->start = start;
    f->parameter = parameter;
    f->mapping = map;
    f->mappingSize = total;
    f->stackBottom = stack;
    f->stackSize = size;

    // Initial frame, popped by the first switch to the fiber: control words, edi, esi,
    // ebx, ebp, then the "return" into w32_fiber_entry, which is entered with the
    // stack aligned as for a called function (esp + 4 a multiple of 16) and a null
    // return address above it.
    uint32_t* top = reinterpret_cast<uint32_t*>(stack + size);   // 16-byte aligned
    uint32_t* entrySp = top - 5;                                  // (entrySp + 4) % 16 == 0
    uint32_t mxcsr = 0;
    uint16_t fpucw = 0;
    asm volatile("stmxcsr %0" : "=m"(mxcsr));
    asm volatile("fnstcw %0" : "=m"(fpucw));
    entrySp[0] = 0;                                                     // return of the entry
    entrySp[-1] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&w32_fiber_entry));
    entrySp[-2] = 0;                                                    // ebp
    entrySp[-3] = 0;                                                    // ebx
    entrySp[-4] = 0;                                                    // esi
    entrySp[-5] = 0;                                                    // edi
    entrySp[-6] = fpucw;
    entrySp[-7] = mxcsr;
    f->sp = entrySp - 7;
    return f;
}

void SwitchToFiber(void* fiber) {
    Fiber* to = AsFiber(fiber);
    Fiber* from = tlsCurrent;
    if (!to || !from) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return;
    }
    if (to == from) return;
    tlsCurrent = to;
    BeforeSwitch(from, to);
    w32_fiber_jump(&from->sp, to->sp);
    AfterSwitch(from);
}

void DeleteFiber(void* fiber) {
    if (!fiber) return;
    Fiber* f = AsFiber(fiber);
    if (!f || f == tlsCurrent || f->threadFiber) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return;
    }
#if W32_FIBER_ASAN
    // Frames left on the stack keep their poisoned red zones; the memory may be reused.
    __asan_unpoison_memory_region(f->stackBottom, f->stackSize);
#endif
    munmap(f->mapping, f->mappingSize);
    f->magic = 0;
    delete f;
}

void* GetCurrentFiber() { return tlsCurrent; }

void* GetFiberData() { return tlsCurrent ? tlsCurrent->parameter : nullptr; }

BOOL IsThreadAFiber() { return tlsCurrent ? TRUE : FALSE; }
