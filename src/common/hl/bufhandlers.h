// Host handlers of the buffer commands: allocation in its four forms, buffers over given
// memory, children, clone, free, the keyed fields, inquiry, map, modify, clear and
// control.  Each runs on the command server task of the addressed thread object, in the
// handler frame of every host-served command (request resource taken, checked, released);
// parameters are read from the message's slots and results written back from slot 0 on.
#pragma once

#include "im_msgio.h"

#include <cstdint>

// Opcodes of the buffer commands.
constexpr uint32_t kOpBufAlloc = 17;
constexpr uint32_t kOpBufAlloc2d = 18;
constexpr uint32_t kOpBufAlloc1d = 19;
constexpr uint32_t kOpBufAllocControl = 20;
constexpr uint32_t kOpBufChild = 21;
constexpr uint32_t kOpBufChildBand = 22;
constexpr uint32_t kOpBufChildMove = 23;
constexpr uint32_t kOpBufClear = 24;
constexpr uint32_t kOpBufClone = 25;
constexpr uint32_t kOpBufCopyPCI = 27;
constexpr uint32_t kOpBufCopyVM = 28;
constexpr uint32_t kOpBufFree = 29;
constexpr uint32_t kOpBufCopyField = 31;
constexpr uint32_t kOpBufGetNextField = 32;
constexpr uint32_t kOpBufGetField = 33;
constexpr uint32_t kOpBufGetFieldDouble = 34;
constexpr uint32_t kOpBufInquire = 36;
constexpr uint32_t kOpBufMap = 38;
constexpr uint32_t kOpBufModify = 39;
constexpr uint32_t kOpBufPack = 40;
constexpr uint32_t kOpBufPutField = 44;
constexpr uint32_t kOpBufRemoveField = 46;
constexpr uint32_t kOpBufCopy = 116;
constexpr uint32_t kOpBufFormattedInquire = 118;
constexpr uint32_t kOpBufCreate = 213;
constexpr uint32_t kOpBufControl = 214;
constexpr uint32_t kOpBufCopyROI = 221;

// Inquiry types the host side uses.
constexpr uint32_t kBufInquireDescriptor = 400;
constexpr uint32_t kBufInquireDescriptor2 = 401;

// Control types of imBufControl.
constexpr int32_t kBufControlLock = 1;
constexpr int32_t kBufControlUnlock = 2;

// Memory kinds of imBufCreate.
constexpr uint32_t kBufMemoryCaller = 4;     // paged memory of the caller
constexpr uint32_t kBufMemoryLibrary = 7;    // paged memory the library allocated

// Memory-kind bits of an id as the host side tests them.
constexpr uint32_t kBufIdHostDma = 0x1000000u;
constexpr uint32_t kBufIdBoardHeap = 0x2000000u;
constexpr uint32_t kBufIdGivenMemory = 0x4000000u;
constexpr uint32_t kBufIdPaged = 0x8000000u;

// Messages of the buffer handlers.
inline constexpr const char* kBufTextCloneFailed = "Buffer clone failed";
inline constexpr const char* kBufTextFieldFailed = "Can not create or modify a field descriptor";
inline constexpr const char* kBufTextNoDisplay = "Display not initialized";

// Buffer inquiry types answered by mp_BufInquire.
constexpr uint32_t kBufInqSizeX = 3;
constexpr uint32_t kBufInqSizeY = 4;
constexpr uint32_t kBufInqBands = 6;
constexpr uint32_t kBufInqType = 8;
constexpr uint32_t kBufInqBits = 10;
constexpr uint32_t kBufInqTypeClass = 11;
constexpr uint32_t kBufInqParent = 30;
constexpr uint32_t kBufInqOffsetX = 32;
constexpr uint32_t kBufInqOffsetY = 33;
constexpr uint32_t kBufInqFirstBand = 37;
constexpr uint32_t kBufInqFieldCount = 38;
constexpr uint32_t kBufInqOwnerWord = 124;
constexpr uint32_t kBufInqLocation = 200;
constexpr uint32_t kBufInqBusAddress = 201;
constexpr uint32_t kBufInqPitch = 202;
constexpr uint32_t kBufInqDescriptor = 400;
constexpr uint32_t kBufInqDescriptorRemote = 401;

// Buffer control types answered by mp_BufControl.
constexpr uint32_t kBufCtlLock = 1;
constexpr uint32_t kBufCtlUnlock = 2;
constexpr uint32_t kBufCtlPitch = 202;

// Addresses passed in the message itself by mp_BufCreate; more come from a buffer.
constexpr uint32_t kBufCreateInlineAddresses = 8;
// Marks an absolute position in mp_BufChildMove.
constexpr int32_t kBufMoveAbsolute = 0x40000000;

void mp_BufAlloc(_MSG_BODY_ST* msg);
void mp_BufAlloc2d(_MSG_BODY_ST* msg);
void mp_BufAlloc1d(_MSG_BODY_ST* msg);
void mp_BufAllocControl(_MSG_BODY_ST* msg);
void mp_BufChild(_MSG_BODY_ST* msg);
void mp_BufChildBand(_MSG_BODY_ST* msg);
void mp_BufChildMove(_MSG_BODY_ST* msg);
void mp_BufClear(_MSG_BODY_ST* msg);
void mp_BufClone(_MSG_BODY_ST* msg);
void mp_BufFree(_MSG_BODY_ST* msg);
void mp_BufCopyField(_MSG_BODY_ST* msg);
void mp_BufGetNextField(_MSG_BODY_ST* msg);
void mp_BufGetField(_MSG_BODY_ST* msg);
void mp_BufGetFieldDouble(_MSG_BODY_ST* msg);
void mp_BufInquire(_MSG_BODY_ST* msg);
void mp_BufMap(_MSG_BODY_ST* msg);
void mp_BufModify(_MSG_BODY_ST* msg);
void mp_BufPutField(_MSG_BODY_ST* msg);
void mp_BufRemoveField(_MSG_BODY_ST* msg);
void mp_BufCreate(_MSG_BODY_ST* msg);
void mp_BufControl(_MSG_BODY_ST* msg);

// Puts the buffer handlers into the opcode table.  While no node serves.
void mp_buf_install();

// ---- buffer exports that call buffer exports ----------------------------------------------
//
// Some exports call other buffer exports on the caller's thread: a host DMA allocation
// makes its info buffer with imBufAlloc1d, a paged one its buffer with imBufCreate, a clone
// its destination with imBufAlloc, a lock its page lists, a file restore its buffer.  While
// such an export runs it holds an ImBufInnerCalls on its own message, and the calls inside
// end their messages with im_buf_end: the first failure among them waits in the frame
// instead of reaching the caller's last-error record and hook.  The outer export then logs
// its own error, or takes the waiting one into its message (Take), so that the caller
// learns one error, with one code, under the name of the export it called.
//
// Threads: a frame belongs to the thread and fiber that opened it (a kernel task that
// waits inside an export lets other tasks of its thread run exports of their own).
class ImBufInnerCalls {
public:
    explicit ImBufInnerCalls(_MSG_ST* outer);
    ~ImBufInnerCalls();
    ImBufInnerCalls(const ImBufInnerCalls&) = delete;
    ImBufInnerCalls& operator=(const ImBufInnerCalls&) = delete;

    // The first failure of a call inside (0 none).
    int32_t code() const { return code_; }
    // Logs the waiting failure on the outer message (where the outer has none yet) under
    // the outer export's name, and forgets it.
    void Take();

private:
    friend void im_buf_end(_MSG_ST* msg);
    _MSG_ST* outer_;
    void* fiber_;
    ImBufInnerCalls* below_;
    int32_t code_ = 0;
    const char* text_ = nullptr;
};

// Ends an export's message.  A failure while an outer export's frame is open on this fiber
// waits in that frame; anything else goes to im_msg_end (so does an earlier command's
// error that the reply brought along: it is that command's, not this one's).
void im_buf_end(_MSG_ST* msg);
