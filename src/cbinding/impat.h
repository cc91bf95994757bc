// Pattern-matching and blob-analysis exports: command messages of opcodes 150-172 and
// 180-198 (executed by a board processor), and the host's own share: pattern-model files
// moved through a temporary one-dimensional buffer, result and model blocks read from
// board memory through the bus-address window, result arrays copied out of temporary
// buffers, and inquired values stored at the width the caller asks for.
//
// Every export takes the thread id first; its further integer and double arguments go
// into the message's slots in order, and an export that posts without waiting may take
// the message's control word last.  Errors reach the last-error record and the error
// hook.  Any thread may call these; each works on the caller's arguments only.
#pragma once

#include "hlc_arch.h"

#include <cstdint>
#include <cstdio>

// Inquiry and result width bits: the first found in this order wins; none gives a double.
constexpr uint32_t kPatWidth8 = 0x10000;
constexpr uint32_t kPatWidth16 = 0x20000;
constexpr uint32_t kPatWidth32 = 0x40000;
constexpr uint32_t kPatWidthFloat = 0x80000;
// Bytes of the model description imPatInquire fills for type 0.
constexpr uint32_t kPatDescriptionBytes = 72;
// Bytes of one result record imPatGetResult gives for type 0.
constexpr uint32_t kPatResultRecordBytes = 16;
// Model ids imPatAllocAutoModel can return: the reply slots after the count.
constexpr uint32_t kPatAutoModelsMax = 14;

// Stores value at out with the width the bits select (integers truncated toward zero).
void pat_store_width(double value, uint32_t bits, void* out);

HLC_API int32_t imPatAllocAutoModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4,
                                    int32_t p5, int32_t p6, uint32_t* ids);
HLC_API uint32_t imPatAllocModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4,
                                 int32_t p5, uint32_t* id);
HLC_API uint32_t imPatAllocRotatedModel(uint32_t thread, int32_t p0, double p1, int32_t p2, uint32_t* id);
HLC_API uint32_t imPatAllocResult(uint32_t thread, int32_t p0, uint32_t* id);
HLC_API int32_t imPatCopy(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imPatCopyResult(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imPatFindModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imPatFree(uint32_t thread, uint32_t id);
HLC_API int32_t imPatGetNumber(uint32_t thread, uint32_t result, int32_t* out);
HLC_API int32_t imPatGetResult(uint32_t thread, uint32_t result, uint32_t type, void* out);
HLC_API int32_t imPatInquire(uint32_t thread, uint32_t model, uint32_t type, void* out);
HLC_API int32_t imPatPreprocModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imPatRead(uint32_t thread, FILE* file, uint32_t* model);
HLC_API int32_t imPatWrite(uint32_t thread, FILE* file, uint32_t model);
// Only a regular file is read.
HLC_API int32_t imPatRestore(uint32_t thread, const char* path, uint32_t* model);
// Written under a temporary name and renamed when complete.
HLC_API int32_t imPatSave(uint32_t thread, const char* path, uint32_t model);
HLC_API int32_t imPatSetAcceptance(uint32_t thread, uint32_t model, double value);
HLC_API int32_t imPatSetAccuracy(uint32_t thread, uint32_t model, int32_t value);
HLC_API int32_t imPatSetCenter(uint32_t thread, uint32_t model, double x, double y);
HLC_API int32_t imPatSetCertainty(uint32_t thread, uint32_t model, double value);
HLC_API int32_t imPatSetDontCare(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4);
HLC_API int32_t imPatSetNumber(uint32_t thread, uint32_t model, int32_t value);
HLC_API int32_t imPatSetPosition(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4);
HLC_API int32_t imPatSetSearchParameter(uint32_t thread, uint32_t model, int32_t parameter, double value);
HLC_API int32_t imPatSetSpeed(uint32_t thread, uint32_t model, int32_t value);

HLC_API uint32_t imBlobAllocFeatureList(uint32_t thread, uint32_t* id);
HLC_API uint32_t imBlobAllocResult(uint32_t thread, uint32_t* id);
HLC_API int32_t imBlobCalculate(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4,
                                uint32_t control);
HLC_API int32_t imBlobControl(uint32_t thread, int32_t p0, int32_t p1, double p2);
HLC_API int32_t imBlobFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
HLC_API int32_t imBlobFree(uint32_t thread, uint32_t id);
HLC_API int32_t imBlobGetLabel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t* out);
HLC_API int32_t imBlobGetNumber(uint32_t thread, uint32_t result, int32_t* out);
// Copies the board's result bytes to array, at most capacity bytes.
HLC_API int32_t imBlobGetResult(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, void* array, uint32_t capacity);
HLC_API int32_t imBlobGetResultSingle(uint32_t thread, int32_t p0, int32_t p1, uint32_t type, int32_t p3, void* out);
// Up to three arrays of the board's byte count each, at most capacity bytes into each given.
HLC_API int32_t imBlobGetRuns(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, void* first, void* second,
                              void* third, uint32_t capacity);
HLC_API int32_t imBlobInquire(uint32_t thread, uint32_t id, uint32_t type, void* out);
HLC_API int32_t imBlobLabel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
HLC_API int32_t imBlobSelect(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, double p5,
                             double p6);
HLC_API int32_t imBlobSelectFeature(uint32_t thread, int32_t p0, int32_t p1, int32_t p2);
HLC_API int32_t imBlobSelectFeret(uint32_t thread, int32_t p0, double p1);
HLC_API int32_t imBlobSelectMoment(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4);
HLC_API int32_t imBlobCopyResult(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
HLC_API int32_t imBlobCopyRuns(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4,
                               uint32_t control);
