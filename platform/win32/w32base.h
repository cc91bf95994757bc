// Handles, results and error codes shared by the kernel-service layer.
//
// The library calls this small layer wherever the host system's kernel services are
// needed: waitable objects are named by HANDLE values that stay safe to pass after the
// object is gone (a stale or made-up handle fails with ERROR_INVALID_HANDLE, it never
// touches freed memory).  Every failing call sets the calling thread's last error.
#pragma once

#include "hlc_arch.h"

#include <cstddef>
#include <cstdint>

using DWORD = uint32_t;
using LONG = int32_t;
using BOOL = int;
using HANDLE = void*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Wait time-out without limit.
constexpr DWORD INFINITE = 0xFFFFFFFFu;

// Results of the wait functions.
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

// Last-error codes left by the layer.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_NOT_OWNER = 288;
constexpr DWORD ERROR_TOO_MANY_POSTS = 298;
constexpr DWORD ERROR_ALREADY_FIBER = 1280;
constexpr DWORD ERROR_ALREADY_THREAD = 1281;

DWORD GetLastError();
void SetLastError(DWORD code);

// Releases one handle of an event, semaphore, mutex or thread; the object goes when its
// last handle is closed (a thread object also not before the thread has ended).
BOOL CloseHandle(HANDLE handle);
