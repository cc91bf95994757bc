// HLCLIB is a 32-bit x86 library: its records, messages and registers hold host
// addresses in 32-bit words.
#pragma once
static_assert(sizeof(void*) == 4, "HLCLIB must be built for 32-bit x86 (-m32)");

// Marks a function or datum that libhlclib.so exports: C linkage (the name a program links
// against is the plain name) and default visibility (everything else of the library is
// built hidden).  The public header include/hlclib.h declares the same names.
#define HLC_API extern "C" __attribute__((visibility("default")))

// The numbers of the interface (error codes, control, inquire and field numbers, buffer
// types and locations, sync states, predefined ids), shared with the public header.
#include "hlclib_defs.h"

// Every export's body runs inside the boundary that keeps C++ exceptions in the library.
#include "hlc_export.h"
