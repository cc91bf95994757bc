// Lookup helpers of the host: settings from the environment and the ini file, and files
// along a path variable.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

// Size of the path buffers that im_search_env fills.
constexpr uint32_t kSearchPathBytes = 512;

// The value of a setting: from the environment, and from the node's ini settings when the
// environment lacks it; with the ini setting "IgnoreEnvVar" on, the ini file first and
// the environment second. Only the environment while no ini data is loaded. Null when
// neither has it. An ini value is its text as written in the file (a number as the
// number in decimal); it stays valid while the ini data is loaded.
const char* im_getenv(uint32_t node, const char* name);

// Finds a regular file (a named pipe, device or directory of that name is passed over as
// if absent). The name (with the default extension appended when its part after any
// leading dots has no "." and an extension is given) is tried as it stands; unless it
// begins with "~", ".", "/", "\" or has ":" as its second character, each directory of
// the variable's value (im_getenv; directories separated by ";" or ":") is tried next.
// Access mode text: "r" read, "w" write (both may be asked), empty or null existence.
// *path receives the path found, or the name as given when nothing was found; when
// *path is null a buffer of kSearchPathBytes is allocated with malloc (the caller frees
// it), otherwise *path must point at kSearchPathBytes bytes. Directories whose path would
// not fit are passed over. A null name stores "No file name specified". Returns 1 when
// found, else 0.
int im_search_env(uint32_t node, const char* name, const char* extension, const char* variable,
                  const char* mode, char** path);

// How im_getenv reaches the ini data without depending on the ini reader: the reader
// installs these when it has loaded its file.
struct HlcIniLookup {
    // -1 no ini data loaded, 0 loaded, 1 loaded with "IgnoreEnvVar" on.
    int (*state)();
    // The text of the node's setting, or null when the ini data has none.
    const char* (*text)(uint32_t node, const char* name);
};
// Installs the lookup, which must stay valid (null removes it: environment only).
void im_set_ini_lookup(const HlcIniLookup* lookup);
