// JPEG exports: command messages of the JPEG object operations (opcodes 122-135, executed
// by a board processor) and the file transfers of jpegfile.h on the caller's thread.
//
// Every export takes the thread id first.  Operations that answer wait for the reply;
// the others are posted without waiting.  Errors reach the last-error record and the
// error hook; the exports that return an int32_t return the error of their message (0 when
// none).  Any thread may call them; the file exports use the caller's open file only.
#pragma once

#include "hlc_arch.h"

#include <cstdint>
#include <cstdio>

HLC_API uint32_t imJpegAlloc(uint32_t thread, int32_t value, uint32_t* id);
HLC_API int32_t imJpegControl(uint32_t thread, uint32_t jpeg, uint32_t type, double value);
HLC_API int32_t imJpegControlBand(uint32_t thread, int32_t a, int32_t b, int32_t c, int32_t d);
HLC_API int32_t imJpegDecode(uint32_t thread, uint32_t a, uint32_t b, uint32_t control);
HLC_API int32_t imJpegEncode(uint32_t thread, uint32_t a, uint32_t b, uint32_t control);
HLC_API int32_t imJpegFree(uint32_t thread, uint32_t jpeg);
// The inquired value; also stored at out when given.
HLC_API int32_t imJpegInquire(uint32_t thread, uint32_t jpeg, uint32_t type, int32_t* out);
// The size is cut to the type's limit (64, 178 or 33 bytes for the three table types).
HLC_API int32_t imJpegPutTable(uint32_t thread, uint32_t jpeg, uint32_t type, uint32_t table, uint32_t size,
                               const void* bytes);
// The table's bytes and size.  The bytes copied never exceed the type's limit; for any
// other type they never exceed the value *size holds on entry (the caller's buffer).
HLC_API int32_t imJpegGetTable(uint32_t thread, uint32_t jpeg, uint32_t type, uint32_t table, uint32_t* size,
                               void* bytes);
HLC_API int32_t imJpegWrite(uint32_t thread, FILE* file, uint32_t jpeg);
// The file is written under a temporary name and renamed when complete, so a failed
// save leaves an existing file as it was.
HLC_API int32_t imJpegSave(uint32_t thread, const char* path, uint32_t jpeg);
HLC_API int32_t imJpegRead(uint32_t thread, FILE* file, uint32_t jpeg);
// Only a regular file is read.
HLC_API uint32_t imJpegRestore(uint32_t thread, const char* path, uint32_t* id);
HLC_API int32_t imJpegWriteBuf(uint32_t thread, int32_t a, int32_t b, int32_t c, uint32_t control);
HLC_API int32_t imJpegReadBuf(uint32_t thread, int32_t a, int32_t b, int32_t c, uint32_t control);

// Writes path through a temporary file in the same directory: write(file) must return 0
// for the temporary file to replace path.  -1 when the temporary file cannot be made,
// else write's result.  Shared by the file exports that save.
int32_t hlc_save_replacing(const char* path, int32_t (*write)(FILE* file, void* context), void* context);
