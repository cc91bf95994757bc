// Exports of the system family (installed systems and nodes from the ini file, a node's
// clock, time stamps, memory maps, the ring dump) and of the application family (error
// hook, communication time-out, last error).
//
// Threads: every export may be called from any thread.  imSysInquire reads (and may
// rewrite) the ini file on the caller's thread; the clock, time-stamp and memory-map
// calls are command messages served on the node.  The last-error record and the hook
// are taken under the kernel critical section, as the message layer files errors.
#pragma once

#include "apptimeout.h"
#include "hlc_arch.h"
#include "im_msgio.h"
#include "syshandlers.h"

#include <cstdint>

// Words per node of the type-5 table; the table ends with one line of zeros.
constexpr uint32_t kSysNodeTableWords = 6;

// Counts over the ini file's [Node] records (the sections rewritten from the boards
// found first when AutoRescanIni asks for it): 1 nodes of the system, 2 those with a
// grab module, 3 those with a display, 4 distinct systems (system not used), 5 the
// address of a new table of six words per node {system, board, NodeId, ProductId,
// GrabModulePresent, ExtModuleType} followed by six zero words.  The type-5 table is the
// caller's: release it with free().  Other types and no usable ini data give 0.  The
// value is also stored through out (32 bits) when out is given.
HLC_API int32_t imSysInquire(int32_t system, int32_t type, void* out);
// Seconds since start on the node's clock of the thread's node.
HLC_API double imSysClock(uint32_t thread, double start);
// Posts a time stamp (the node's clock since start) into the buffer's field `key`;
// the error of the post (0 when posted).
HLC_API int32_t imSysTimeStamp(uint32_t thread, uint32_t buffer, uint32_t key, double start);
// Memory map of heap 0 of the thread's node: mode 0 the memory window size rounded up to
// whole MiB, 2 a buffer of used-block pairs, 3 a table of the buffer descriptors.  Out
// (32 bits, when given) receives the first reply value (the size, or the map's id);
// returns the second one for modes 2 and 3 (pairs or lines), else -1.
HLC_API int32_t imSysGetMemoryMap(uint32_t thread, int32_t mode, void* out);
// Mode 0 with a path: writes the node's ring header and its slots into the file and
// tells the console so; other modes do nothing.  A file that cannot be written (no regular
// file at the path, or a failed write) is told to the console and filed as -3
// "Error opening dump file".
HLC_API void imSysDiag(int32_t system, int32_t board, int32_t mode, const char* path);
constexpr const char kSysDiagFileError[] = "Error opening dump file";
// The dump of imSysDiag without the error record: 0, or -3 when the file could not be
// written.  For the reply wait after a time-out, whose own error is the one to file.
int32_t im_sys_diag_dump(int32_t system, int32_t board, int32_t mode, const char* path);

// ---- application ----------------------------------------------------------------------

// imAppControl / imAppInquire types.
// The communication time-out that 0 and -1 stand for: 365 days.
constexpr double kAppTimeoutForever = 3.1536e7;

// Installs the error hook (null removes it) and its user word; the application id is not
// used.
HLC_API void imAppCatchError(uint32_t application, ImErrorHook hook, uint32_t user);
// Each imApp call first makes the global state (time-out table) when it does not exist.
// Type 1: the communication time-out in seconds (0 and -1 mean 365 days; any other value
// not above 0 is refused with -8).  It is the time-out table's: after the last node's
// shut-down the table starts again at 15 s.  Other types do nothing.
HLC_API void imAppControl(int32_t type, double value);
// Type 1: the communication time-out, truncated, also written as a double to out.
// Other types give 0.
HLC_API int32_t imAppInquire(int32_t type, void* out);
// The last error's code.  With out: no error writes a 32-bit 0; otherwise mode & ~1
// selects 2 the code (4 bytes), 4 the message (80), 8 the function name (32), 12
// "Error in <function>():\n<<message>>" (kMsgErrorTextBytes).  An odd mode then clears
// the record, also without out.
HLC_API int32_t imAppGetError(int32_t mode, void* out);
