// The host node's device handlers: the three "DevAlloc" phases of a node open, device
// control, free and inquiry, and the node-set changes other nodes send; the node's copy
// parameter area that the first open makes.
#pragma once

#include "hlc_arch.h"
#include "im_msgio.h"
#include "reqres.h"

#include <cstdint>

struct _NODE_MAIN_RESOURCE_ST;

constexpr uint32_t kOpDevAlloc = 0;
constexpr uint32_t kOpDevControl = 1;
constexpr uint32_t kOpDevFree = 2;
constexpr uint32_t kOpDevInquire = 3;
constexpr uint32_t kOpDevAddNode = 140;
constexpr uint32_t kOpDevRemoveNode = 141;

// "DevAlloc" phases.
constexpr uint32_t kDevAllocOpen = 1;
constexpr uint32_t kDevAllocInterrupts = 2;
constexpr uint32_t kDevAllocComplete = 3;

void mp_DevAlloc(_MSG_BODY_ST* msg);
void mp_DevControl(_MSG_BODY_ST* msg);
void mp_DevFree(_MSG_BODY_ST* msg);
void mp_DevInquire(_MSG_BODY_ST* msg);
void mp_DevAddNode(_MSG_BODY_ST* msg);
void mp_DevRemoveNode(_MSG_BODY_ST* msg);

// Puts the device handlers into the opcode table.
void mp_dev_install();

// Converts a word of a node record copied from another node from a bus address to this
// node's board-processor address (0 stays 0).
void mpPrvConvertToThisNode(MP_RESOURCE_ST* resource, uint32_t* word);

// One record of a node's copy parameter area: eight records of 384 bytes in a buffer of
// 3072 bytes kept as field 10035 of the node's base buffer (node << 16) | 1.
constexpr uint32_t kCpyParamRecords = 8;
constexpr uint32_t kCpyParamRecordBytes = 384;
constexpr uint32_t kCpyParamField = IM_CTL_NODE_RECORDS;
// Finds or makes the node's area and hands out a free record (busy word 0 set to 1),
// yielding while all eight are busy.  1 when a record was handed out, 0 when the area
// could not be made or no record became free within the communication time-out.  The holder clears the record's first word to hand it back.
int getCpyParamPtr(uint32_t node, uint32_t** record);
