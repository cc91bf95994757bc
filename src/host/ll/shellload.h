// Loader of the board processor's shell: checks a COFF executable against the shell in
// the board's local RAM, downloads and verifies its sections through the board memory
// window, writes the signature record and the reset vector, and reports what it found.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

// Status word: low 25 bits the error, then findings and reported options.
constexpr uint32_t LDSHELL_ERROR_MASK = 0x1FFFFFFu;
constexpr uint32_t LDSHELL_NOT_FOUND = 2;       // file not found or no memory
constexpr uint32_t LDSHELL_NOT_COFF = 4;        // not a COFF file or incompatible shell header
constexpr uint32_t LDSHELL_DOWNLOAD_FAILED = 6; // download or reset-vector failure
constexpr uint32_t LDSHELL_VERIFY_FAILED = 7;
constexpr uint32_t LDSHELL_READ_FAILED = 8;     // read or seek failure, or no memory for the context
constexpr uint32_t LDSHELL_HOST_MODE = 0x2000000u;      // option I
constexpr uint32_t LDSHELL_MESSAGES = 0x4000000u;       // option W
constexpr uint32_t LDSHELL_RESTART = 0x8000000u;        // option R
constexpr uint32_t LDSHELL_DIFFERS = 0x10000000u;       // shell in board memory differs, or forced
constexpr uint32_t LDSHELL_LITTLE_FILE = 0x20000000u;   // file without the big-endian flag
constexpr uint32_t LDSHELL_BIG_FILE = 0x40000000u;      // file with the big-endian flag
constexpr uint32_t LDSHELL_ORDER_DIFFERS = 0x80000000u; // file byte order differs from the host

// Mode bits of the caller.
constexpr uint32_t LDSHELL_MODE_NO_VERIFY = 0x01;
constexpr uint32_t LDSHELL_MODE_ALL_SECTIONS = 0x02;
constexpr uint32_t LDSHELL_MODE_PRINT_SECTIONS = 0x04;
constexpr uint32_t LDSHELL_MODE_FORCE = 0x08;
constexpr uint32_t LDSHELL_MODE_NO_IDENT = 0x10;
constexpr uint32_t LDSHELL_MODE_QUIET = 0x20;
constexpr uint32_t LDSHELL_MODE_CHECK = 0x40;
constexpr uint32_t LDSHELL_MODE_RESTART = 0x80;
constexpr uint32_t LDSHELL_MODE_MESSAGES = 0x200;
constexpr uint32_t LDSHELL_MODE_HOST = 0x400;

// Layout of the shell in local RAM.
constexpr uint32_t kShellHeaderBytes = 64;
constexpr uint32_t kShellSignatureBytes = 88;
constexpr uint32_t kShellSignatureTop = 96;   // the record starts this far below the top
constexpr uint32_t kShellResetVectorBytes = 8;
// Largest shell file read.
constexpr uint32_t kShellMaxFileBytes = 64u << 20;

// The path found by the last call (the name as given, or "UNKNOWN"); null when none.
extern char* CoffFileName;

// Checks or loads the shell.  name: in the file name (null or empty: the setting
// "COFFNAME"), out the loader's CoffFileName; a null name pointer only frees
// CoffFileName and returns 0.  localBase/localSize: the board memory window (base 0: no
// comparison with board memory, nothing loaded).  shellValue receives -(shell header
// word 4) on success.
uint32_t LdShellToLocalCpu(uint32_t node, char** name, uint32_t mode, uint32_t localBase, uint32_t localSize,
                           int32_t* shellValue);

// Options word of a mode and a "COFFLOADOPTION" text (null: none); E receives the E
// value (-1 when none).
uint32_t LdShellOptions(uint32_t mode, const char* letters, int32_t* eValue);
