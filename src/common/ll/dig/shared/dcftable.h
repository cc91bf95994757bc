// Keyword tables of the camera files of both grab-module families: each row maps one
// camera-file keyword onto the byte offset of its slot in the family's camera record.
// Rows are in strictly increasing byte order of the keywords (plain, case-sensitive), so
// a keyword is found by binary search; a camera file written in table order is matched
// row after row without searching.
//
// The tables are constant; the pass limits are computed once with the same value by
// whichever lookup runs first, so any thread may look up.
#pragma once

#include <cstdint>

struct _DCF_NAME_ROW {
    uint32_t offset;      // byte offset of the slot in the camera record
    const char* keyword;  // at most 31 characters
};

// Keyword comparisons stop here: a camera-file name field is 32 bytes.
constexpr uint32_t kDcfNameBytes = 32;

namespace cam0 {
extern const _DCF_NAME_ROW dcfNameTable[199];
// The row of a keyword (null or empty: none).  Tries the row after *cursor first
// (wrapping), then searches; stores the row found, or -1, in *cursor and returns it.
int32_t mp_dig_find_loc(const char* keyword, int32_t* cursor);
}  // namespace cam0

namespace cam1 {
extern const _DCF_NAME_ROW dcfNameTable[335];
int32_t mp_dig_find_loc(const char* keyword, int32_t* cursor);
}  // namespace cam1
