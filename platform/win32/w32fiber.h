// Fibers: cooperatively scheduled execution contexts of one thread.
//
// A thread becomes a fiber with ConvertThreadToFiber; it may then create fibers, each
// with a stack of its own, and pass control among them with SwitchToFiber.  A switch
// saves and restores only the registers that a called function must preserve and makes
// no system call.  Stacks are mapped on demand with an inaccessible guard page below
// them, so that an overflow faults instead of overwriting other memory.
#pragma once

#include "w32base.h"

using FiberStartRoutine = void (*)(void* parameter);

// Makes the calling thread a fiber (its current stack stays its stack) and returns it;
// null with ERROR_ALREADY_FIBER when the thread is a fiber already.
void* ConvertThreadToFiber(void* parameter);

// Ends the calling thread's fiber state; must be called on the thread's own fiber
// (ERROR_INVALID_PARAMETER on another one, ERROR_ALREADY_THREAD when not a fiber).
BOOL ConvertFiberToThread();

// Creates a fiber that will run start(parameter) when it is first switched to.  The
// stack holds at least stackSize bytes (a small size is raised to a workable minimum).
// The start routine must never return: it passes control on with SwitchToFiber.
// Null with ERROR_NOT_ENOUGH_MEMORY when the stack cannot be mapped.
void* CreateFiber(size_t stackSize, FiberStartRoutine start, void* parameter);

// Saves the calling fiber and resumes the given one on the calling thread.  Switching
// to the running fiber returns at once.
void SwitchToFiber(void* fiber);

// Frees a fiber and its stack.  The running fiber and a thread's own fiber are refused
// (ERROR_INVALID_PARAMETER); null is ignored.
void DeleteFiber(void* fiber);

// The calling thread's running fiber (null when the thread is not a fiber) and the
// parameter it was created or converted with.
void* GetCurrentFiber();
void* GetFiberData();
BOOL IsThreadAFiber();
