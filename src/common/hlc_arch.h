// HLCLIB is a 32-bit x86 library: its records, messages and registers hold host
// addresses in 32-bit words.
#pragma once
static_assert(sizeof(void*) == 4, "HLCLIB must be built for 32-bit x86 (-m32)");
