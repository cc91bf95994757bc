/* hlclib.h: the programming interface of HLCLIB, the frame-grabber board runtime library.
 *
 * A program opens a board (a node) with imDevAlloc, works with the node's thread and sync
 * objects, and closes it with imDevFree.  Systems, boards and settings come from the ini
 * file halcyra.ini in the directory named by the environment variable HLCINIPATH.
 * Errors go to a process-wide last-error record (imAppGetError) and to the error hook set
 * with imAppCatchError.  Ids are 32-bit values: a device, thread or buffer id carries its
 * node number ((system + 1) << 4 | (board + 1)) in bits 16-23.
 *
 * 32-bit x86 only: build with the flags of `pkg-config --cflags --libs hlclib` (-m32).
 */
#ifndef HLCLIB_H
#define HLCLIB_H

#include <stdint.h>
#include <stdio.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Records the library keeps; a program holds them by pointer only. */
typedef struct _MSG_ST _MSG_ST;                               /* a 256-byte command message */
typedef struct _MSG_ERR_ST _MSG_ERR_ST;                       /* an error record */
typedef struct _NODE_ST _NODE_ST;                             /* the global node state */
typedef struct _NODE_MAIN_RESOURCE_ST _NODE_MAIN_RESOURCE_ST; /* a node record */
typedef struct _MP_BUF_ST _MP_BUF_ST;                         /* a buffer descriptor */
typedef struct _MP_FIELD_ST _MP_FIELD_ST;                     /* a keyed field of a buffer */
typedef struct heap heap;                                     /* a board-memory heap */
typedef struct _HALCYRA_INI_ST _HALCYRA_INI_ST;               /* an ini record */
typedef struct _HALCYRA_HOOK_LIST _HALCYRA_HOOK_LIST;         /* the hooks of one interrupt source */
typedef struct _HALCYRA_HOOK_REC _HALCYRA_HOOK_REC;           /* one hooked function */
typedef struct _PCI_FOUND_DEVICE _PCI_FOUND_DEVICE;           /* a board found on PCI */
typedef struct _TPciBios _TPciBios;                           /* the PCI BIOS record */
typedef struct _TPciDevInfo _TPciDevInfo;                     /* a PCI function's configuration */

/* The error hook: called with the hook type, the error code and the user word given to
   imAppCatchError. */
typedef int32_t (*ImErrorHook)(int32_t hookType, int32_t errorCode, uint32_t user);
/* An interrupt hook: called on the node's interrupt thread with its source's hook list. */
typedef void (*HalcyraHookFunction)(_HALCYRA_HOOK_LIST* list);

/* Error codes; imAppGetError gives the text (a call may give a more specific one). */
#define IM_ERR_INVALID_BUFFER      (-1)  /* "Invalid buffer ID" */
#define IM_ERR_INVALID_DEVICE      (-2)  /* "Invalid device ID, or no such device" */
#define IM_ERR_FILE_ACCESS         (-3)  /* "File access error" */
#define IM_ERR_NO_RESOURCES        (-4)  /* "Insufficient resources to carry out the operation" */
#define IM_ERR_NOT_PRESENT         (-5)  /* "Referenced item not present" */
#define IM_ERR_INVALID_OPCODE      (-6)  /* "Invalid opcode received" */
#define IM_ERR_INVALID_OSB         (-7)  /* "Invalid OSB ID" */
#define IM_ERR_INVALID_PARAMETER   (-8)  /* "Parameter invalid or unacceptable" */
#define IM_ERR_RESTRICTED          (-9)  /* "Operation unable to execute due to a restriction" */
#define IM_ERR_INVALID_THREAD      (-10) /* "Invalid thread ID" */
#define IM_ERR_TIMEOUT             (-11) /* "Board did not respond within the timeout period" */
#define IM_ERR_NO_SYSTEM           (-12) /* "No such system" */
#define IM_ERR_HALTED              (-13) /* "Function halted by imThrHalt()" */
#define IM_ERR_BUFFER_ATTRIBUTE    (-14) /* "Unacceptable buffer attribute (size, type, etc.)" */
#define IM_ERR_MISCELLANEOUS       (-15) /* "Miscellaneous error" */

/* ==== Application: error hook, communication time-out, last error ==== */

/* Installs the error hook (null removes it) with its user word; the application id is not used. */
void imAppCatchError(uint32_t application, ImErrorHook hook, uint32_t user);
/* Type 1: the communication time-out in seconds (0 and -1: 365 days); other types do nothing. */
void imAppControl(int32_t type, double value);
/* Type 1: the communication time-out, truncated (the double also written to out); other types 0. */
int32_t imAppInquire(int32_t type, void* out);
/* The last error code (0 none).  With out, mode & ~1 selects 2 the code, 4 the message
   (80 bytes), 8 the function name (32), 12 "Error in <function>():\n<<message>>"; an odd mode
   then clears the record. */
int32_t imAppGetError(int32_t mode, void* out);

/* ==== Devices: open, query and close one board (node) of a system ==== */

/* Opens board `board` of system `system` (0-14): the device id, also stored through device;
   0 on failure (the error in the last-error record and the hook). */
uint32_t imDevAlloc(uint32_t system, uint32_t board, uint32_t initMode, uint32_t loadOption, uint32_t* device);
/* Closes a device; the last close shuts the node down.  0, or the error code. */
int32_t imDevFree(uint32_t device);
/* A 32-bit value of the device (for example 9 system, 10 board, 11 ring slots), also
   stored through value when given; 0 for an unknown device. */
uint32_t imDevInquire(uint32_t device, uint32_t type, uint32_t* value);
/* Sets a value of the device on its node and waits for it: 0, or the error code. */
int32_t imDevControl(uint32_t device, uint32_t type, double value);

/* ==== Systems: installed nodes, node clock, time stamps, memory map ==== */

/* From the ini file: 1 nodes, 2 nodes with a digitizer, 3 with a display, 4 systems; 5 a
   new table of six words per node ended by six zeros (release it with free()).  Also
   stored through out when given; 0 for other types or without ini data. */
int32_t imSysInquire(int32_t system, int32_t type, void* out);
/* Seconds since start on the clock of the thread's node. */
double imSysClock(uint32_t thread, double start);
/* Writes the node clock since start into the buffer's field key; the error of the post. */
int32_t imSysTimeStamp(uint32_t thread, uint32_t buffer, uint32_t key, double start);
/* Memory map of the thread's node (mode 0 size in MiB, 2 used blocks, 3 descriptors);
   out gets the first reply value; -1 for modes other than 2 and 3. */
int32_t imSysGetMemoryMap(uint32_t thread, int32_t mode, void* out);
/* Mode 0: writes the node's communication ring into the file at path. */
void imSysDiag(int32_t system, int32_t board, int32_t mode, const char* path);

/* ==== Thread objects: command queues on a node (thread id first) ==== */

/* A new thread object on the device's node: its id, also stored through thread; 0 on failure. */
uint32_t imThrAlloc(uint32_t device, uint32_t attributes, uint32_t* thread);
/* Cancels the commands queued on the thread object. */
int32_t imThrCancel(uint32_t thread);
/* Sets a value of the thread object (15002 priority, 15005, 15007). */
int32_t imThrControl(uint32_t thread, uint32_t type, double value);
/* Frees the thread object after its queued commands. */
int32_t imThrFree(uint32_t thread);
/* The thread object's error item in mode (as imAppGetError), written to out. */
int32_t imThrGetError(uint32_t thread, uint32_t mode, void* out);
/* Halts the thread object's running command (it ends with -13). */
int32_t imThrHalt(uint32_t thread, int32_t argument);
/* A value of the thread object, also written to out when given. */
int32_t imThrInquire(uint32_t thread, uint32_t type, void* out);
/* Posts a command that does nothing but complete the sync object in its control word. */
int32_t imThrNop(uint32_t thread, uint32_t sync);

/* ==== Sync objects: how far an asynchronous command has come (10 new, 20 received, 30 ready, 40 started, 50 done) ==== */

/* A new sync object: its id, also stored through sync; 0 on failure. */
uint32_t imSyncAlloc(uint32_t thread, uint32_t* sync);
/* Frees the sync object. */
int32_t imSyncFree(uint32_t thread, uint32_t sync);
/* The sync object's error item in mode (as imAppGetError), written to out. */
int32_t imSyncGetError(uint32_t thread, uint32_t sync, uint32_t mode, void* out);
/* Waits on the caller's thread until the sync object reaches state; the state reached. */
int32_t imSyncHost(uint32_t thread, uint32_t sync, uint32_t state);
/* Makes the thread object wait until the sync object reaches state. */
int32_t imSyncThread(uint32_t thread, uint32_t sync, uint32_t state);
/* 18000 sets the state, 18001 the mode (1 a wait for 50 re-arms, 2 the state stays). */
int32_t imSyncControl(uint32_t thread, uint32_t sync, uint32_t type, double value);

/* ==== Cameras and digitizers (thread or device id first) ==== */

/* A camera from a camera file found along DCFPATH (fileFlag non-zero; no name: DCFNAME) or
   from camera-file text in memory (fileFlag 0); the flag goes to the node as the mode
   (2 loads the digitizer again, 99 an empty camera).  The id, also stored through camera;
   0 on failure. */
uint32_t imCamAlloc(uint32_t thread, const char* name, int32_t fileFlag, uint32_t* camera);
/* A copy of the camera: its id, also stored through clone; 0 on failure. */
uint32_t imCamClone(uint32_t thread, uint32_t camera, int32_t value, uint32_t* clone);
/* Posted without waiting: the error of the post. */
int32_t imCamControl(uint32_t thread, uint32_t camera, int32_t type, double value);
int32_t imCamFree(uint32_t thread, uint32_t camera);
/* A value of the camera, truncated; through out a double (types 30002-30004, 30008, 30009,
   30032-30034) or a 32-bit integer. */
int32_t imCamInquire(uint32_t thread, uint32_t camera, int32_t type, void* out);
/* Writes the camera as a camera file; the old file is replaced only by a complete one.
   0, or the error code. */
int32_t imCamSave(uint32_t thread, const char* name, uint32_t camera);
/* A digitizer object: its id, also stored through digitizer; 0 on failure. */
uint32_t imDigAlloc(uint32_t thread, int32_t a, int32_t b, int32_t c, uint32_t* digitizer);
int32_t imDigControl(uint32_t thread, uint32_t digitizer, int32_t type, double value);
int32_t imDigFree(uint32_t thread, uint32_t digitizer);
/* A grab (digitizer, camera, destination, count, grab control buffer), followed by the
   sync object control. */
int32_t imDigGrab(uint32_t thread, uint32_t digitizer, uint32_t buffer, uint32_t p2, uint32_t p3, uint32_t p4,
                  uint32_t control);
/* A value of the digitizer (0: the node's live one), truncated; through out a double
   (types 30002-30004, 30035) or a 32-bit integer; type 30050 reads the camera port's
   string into out and returns its length. */
int32_t imDigInquire(uint32_t thread, uint32_t digitizer, int32_t type, void* out);
int32_t imDigConvert(uint32_t thread, uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t control);
int32_t imDigCapture(uint32_t thread, uint32_t digitizer, uint32_t camera, int32_t value);
/* The input lookup table into (Get) or from (Set) the LUT buffer; band selection, start,
   count (and for Set a mode).  Both are posted without waiting: the table is in the buffer
   once the thread object has served the Get (a sync object of a later command tells).  0. */
int32_t imDigLutGet(uint32_t thread, uint32_t digitizer, uint32_t camera, uint32_t lut, int32_t a, int32_t b,
                    int32_t c);
int32_t imDigLutSet(uint32_t thread, uint32_t digitizer, uint32_t camera, uint32_t lut, int32_t a, int32_t b,
                    int32_t c, int32_t d);

/* ==== Image processing (imBin, imFloat, imGen, imGra, imInt, imRle): run by the firmware of a
   board with its own processor; each call posts one command to the thread without waiting
   and returns the error of the post.  Parameters go into the message slots in order ==== */

int32_t imIntConvert(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imIntDyadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntGainOffset(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control);
int32_t imIntLutMap(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imIntMac1(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imIntMac2(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control);
int32_t imIntMonadic(uint32_t thread, int32_t p0, double p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntTriadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control);
int32_t imIntConnectMap(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntConvolve(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntDistance(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntErodeDilate(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control);
int32_t imIntLabel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imIntRank(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imIntThickThin(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control);
int32_t imIntCountDifference(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imIntFindExtreme(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imIntHistogram(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imIntHistogramEqualize(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, double p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control);
int32_t imIntLocateEvent(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control);
int32_t imIntProject(uint32_t thread, int32_t p0, int32_t p1, double p2, int32_t p3, uint32_t control);
int32_t imBinConvert(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imBinMorphic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, uint32_t control);
int32_t imBinTriadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imFloatConvert(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imFloatDyadic(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imFloatMac1(uint32_t thread, int32_t p0, int32_t p1, double p2, double p3, uint32_t control);
int32_t imFloatMac2(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, double p3, double p4, uint32_t control);
int32_t imFloatMonadic(uint32_t thread, int32_t p0, double p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imFloatUnary(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imIntFlip(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntSubsample(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imIntWarpMatrix(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntWarpPolynomial(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntWarpLut(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imIntZoom(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imIntConvertColor(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntFFT(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imGenWarp1stOrder(uint32_t thread, int32_t p0, int32_t p1, double p2, double p3, int32_t p4, uint32_t control);
int32_t imGenWarp4Corner(uint32_t thread, int32_t p0, double p1, double p2, double p3, double p4, double p5, double p6, double p7, double p8, int32_t p9, int32_t p10, int32_t p11, int32_t p12, int32_t p13, uint32_t control);
int32_t imGraArc(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, double p6, double p7);
int32_t imGraArcFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, double p6, double p7);
int32_t imGraFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3);
int32_t imGraLine(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5);
int32_t imGraPlot(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4);
int32_t imGraRect(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5);
int32_t imGraRectFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5);
int32_t imGraText(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, const char* p4);
int32_t imIntBinarize(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control);
int32_t imGenWarpLutMatrix(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntCorrelate(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imIntScale(uint32_t thread, int32_t p0, int32_t p1, double p2, double p3, int32_t p4, uint32_t control);
int32_t imIntRecFilter(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control);
int32_t imIntClip(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, int32_t p7, uint32_t control);
int32_t imIntLutSubtract(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5, int32_t p6, uint32_t control);
int32_t imRleEncode(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imRleDecode(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imBinCountDifference(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imBinThin(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imGen1d(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t n, const double* coefficients, uint32_t control);

/* ==== Command messages: building, posting and reading one message ==== */

/* Starts a message with opcode, parameter count and the calling function's name; the
   calling node (0 outside a node). */
uint32_t im_msg_start(_MSG_ST* msg, uint32_t opcode, uint32_t count, const char* function);
/* Posts the message to the node of the device id (or of the thread id when it is 0); sync
   type 1 wait for completion, 2 post only, 3 wait for "ready". */
void im_msg_send(_MSG_ST* msg, uint32_t deviceId, uint32_t threadId, uint32_t control, uint32_t syncType);
/* The message's error word (0 none). */
int32_t im_msg_cmd_error(const _MSG_ST* msg);
/* Records an error in the message when it has none yet. */
void im_msg_log_error(_MSG_ST* msg, int32_t code, const char* text);
/* Moves the message's error into the last-error record and calls the error hook. */
void im_msg_end(_MSG_ST* msg);
/* Reads the reply of a get-error command: the code, and with out the item of mode
   (2 code, 4 message, 8 function, 12 "Error in ..." text). */
int32_t im_msg_get_error_item(_MSG_ST* msg, uint32_t mode, void* out);
/* Hooks the reply handler on the node's board-to-host interrupt; 0 success, 1 failure. */
int im_msg_hook_handler(uint32_t node);

/* Parameter slots 0-14.  A message that carries an error takes nothing more, and reads as 0. */
void im_msg_put_char(_MSG_ST* msg, uint32_t slot, int8_t value);
void im_msg_put_short(_MSG_ST* msg, uint32_t slot, int16_t value);
void im_msg_put_long(_MSG_ST* msg, uint32_t slot, int32_t value);
void im_msg_put_double(_MSG_ST* msg, uint32_t slot, double value);
void im_msg_put_float(_MSG_ST* msg, uint32_t slot, float value);
void im_msg_put_string(_MSG_ST* msg, uint32_t slot, const char* text);
/* Copies length bytes into the slots from slot on; the slots added. */
uint32_t im_msg_put_array(_MSG_ST* msg, uint32_t slot, const void* bytes, uint32_t length);
int8_t im_msg_get_char(const _MSG_ST* msg, uint32_t slot);
int16_t im_msg_get_short(const _MSG_ST* msg, uint32_t slot);
int32_t im_msg_get_long(const _MSG_ST* msg, uint32_t slot);
double im_msg_get_double(const _MSG_ST* msg, uint32_t slot);
float im_msg_get_float(const _MSG_ST* msg, uint32_t slot);
/* Copies the string with its zero, at most size bytes; the bytes copied. */
uint32_t im_msg_get_string(const _MSG_ST* msg, uint32_t slot, char* buffer, uint32_t size);
/* Copies min(length, (15 - slot) * 8) bytes; that number. */
uint32_t im_msg_get_array(const _MSG_ST* msg, uint32_t slot, void* buffer, uint32_t length);

/* ==== Error records ==== */

/* The default text of an error code; null for 0. */
const char* mp_err_default(int32_t code);
/* Records code, text (or the default text) and function when the record holds no error. */
void mp_err_log(_MSG_ERR_ST* record, int32_t code, const char* text, const char* function);
/* Copies an error to another record (pointers only) when the source holds one. */
void mp_err_update(const _MSG_ERR_ST* source, _MSG_ERR_ST* destination);
/* Copies an error with its texts into the destination's buffers when the source holds one. */
void mp_err_copy(const _MSG_ERR_ST* source, _MSG_ERR_ST* destination);
/* The record's message, or null. */
const char* mp_err_msg(const _MSG_ERR_ST* record);
/* The record's function name, or null. */
const char* mp_err_func(const _MSG_ERR_ST* record);

/* ==== Node services: hardware lock, sections, doorbell, signals and the library clock ==== */

/* Tries the hardware lock: 0 taken, 1 busy, -1 no record.  A value below 256 is a node
   number, anything else the address of a node record. */
int mp_sys_lock_check(uint32_t nodeOrRecord);
/* Takes the hardware lock, waiting up to its time-out: 0, or -1. */
int mp_sys_lock_wait(uint32_t node);
/* Releases the hardware lock (node number below 256, else a node record's address). */
void mp_sys_lock_reset(uint32_t nodeOrRecord);
/* Tries to take the section bits: 0 taken, 1 busy, -1 failure. */
int mp_sys_section_check(uint32_t node, uint32_t bits);
/* Takes the section bits, waiting up to their time-out: 0, or -1. */
int mp_sys_section_wait(uint32_t node, uint32_t bits);
/* Releases the section bits: 0, or -1. */
int mp_sys_section_unlock(uint32_t node, uint32_t bits);
/* Clears a host-served node's interrupt registers and binds its signals: 0, or -1. */
int mp_interrupt_alloc(uint32_t node);
/* Rings the node's doorbell: 1 rung, -1 time-out or unknown node. */
int mp_interrupt_send(uint32_t node);
/* Waits for the node's board-to-host doorbell signal. */
int mp_interrupt_wait(uint32_t node);
/* Tests the node's board-to-host doorbell signal. */
int mp_interrupt_check(uint32_t node);
/* Binds a signal handle to an interrupt source of the node: 0, or -1. */
int mp_interrupt_set_signal(uint32_t node, uint32_t signal, int32_t handle);
/* The signal handle bound to the source, or -1. */
int32_t mp_interrupt_get_signal(uint32_t node, uint32_t signal);
/* Waits for the signal of the node (-1 on time-out or without a signal). */
int mp_sys_sema_wait(uint32_t node, uint32_t signal);
/* Tests and takes the signal of the node. */
int mp_sys_sema_check(uint32_t node, uint32_t signal);
/* Resets the signal of the node. */
int mp_sys_sema_reset(uint32_t node, uint32_t signal);
/* Signals it: 0. */
int mp_sys_sema_signal(uint32_t node, uint32_t signal);
/* Seconds since start on the library clock. */
double mp_time_clock(double start);
/* Sleeps for seconds on the library clock. */
void mp_time_sleep(double seconds);
/* The processor's clock frequency in Hz. */
double mp_time_cpu_frequency(void);
/* Does nothing (kept for callers). */
void mp_time_calibrate(void);
/* Forgets the last time the clock gave. */
void mp_time_reset_prev_time(void);

/* ==== Node records, board identification and address conversion (0 when the node is
   unknown or the address lies outside every window) ==== */

/* The global node state, an array of 32-bit words: null until the first node is opened
   and again after the last one is closed. */
extern _NODE_ST* imNodeSt;
/* The node record of a node, or null. */
_NODE_MAIN_RESOURCE_ST* mp_sys_node_resource_ptr(uint32_t node);
/* The external module id of the node. */
uint32_t mp_sys_external_board_id(_NODE_MAIN_RESOURCE_ST* record);
/* The product id of a board found on PCI. */
uint32_t mp_sys_get_product_id(const _PCI_FOUND_DEVICE* device, uint32_t processor);
/* The board memory in bytes of a board model and configuration. */
uint32_t mp_sys_get_board_mem_size(uint32_t model, const void* config);
/* Conversions between host (virtual), PCI bus and board processor (mvp) addresses. */
uint32_t mp_util_pci_to_mvp(uint32_t node, uint32_t bus);
uint32_t mp_util_mvp_to_pci(uint32_t node, uint32_t processor);
uint32_t mp_util_mvp_to_mvp(uint32_t destination, uint32_t source, uint32_t processor);
uint32_t mp_util_pci_to_virtual(uint32_t node, uint32_t bus);
uint32_t mp_util_virtual_to_pci(uint32_t node, uint32_t host);
uint32_t mp_util_mvp_to_virtual(uint32_t node, uint32_t processor);
uint32_t mp_util_virtual_to_mvp(uint32_t node, uint32_t host);
uint32_t mp_util_translate_pstr(uint32_t node, uint32_t processor);

/* ==== Buffer descriptors and ids (null or 0 on failure) ==== */

/* Makes the node's buffer-id table: 0, or -1. */
int mp_buf_init(uint32_t node, uint32_t capacity, uint32_t step);
/* A new buffer on the node in a memory location; null on failure. */
_MP_BUF_ST* mp_buf_alloc_on_node(uint32_t node, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type, uint32_t location);
/* A descriptor over given memory (one address or id per band); null on failure. */
_MP_BUF_ST* mp_buf_create(uint32_t node, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type, uint32_t memoryKind, uint32_t pitch, const uint32_t* addresses);
/* The buffer's id (made when it has none), or 0. */
uint32_t mp_buf_alloc_id(_MP_BUF_ST* buffer);
/* 1 when the id names a live buffer, else 0. */
int mp_buf_is_id_valid(uint32_t id);
/* The descriptor of a buffer id, or null. */
_MP_BUF_ST* mp_buf_pointer(uint32_t id);
/* Frees a buffer and its id. */
void mp_buf_free(_MP_BUF_ST* buffer);
/* 1 when the descriptor is valid and of the expected kind, else 0. */
int mp_buf_valid(const _MP_BUF_ST* reference, uint32_t expected);
/* Host address of a band's first byte, or null. */
void* mp_buf_address_band_internal(const _MP_BUF_ST* buffer, uint32_t band);
/* The root descriptor of a child buffer, or null. */
_MP_BUF_ST* mp_buf_parent(const _MP_BUF_ST* buffer);
/* The descriptor's bus address. */
uint32_t mp_buf_buf_pointer(const _MP_BUF_ST* buffer);
/* Does nothing (kept for callers). */
void mp_buf_flush_buf_st(void);

/* ==== Child buffers, keyed fields and pixels ==== */

/* A child buffer over a rectangle of the parent; null when it does not fit. */
_MP_BUF_ST* mp_buf_child(_MP_BUF_ST* parent, int32_t offsetX, int32_t offsetY, int32_t sizeX, int32_t sizeY);
/* A one-band child of the parent; null for a bad band. */
_MP_BUF_ST* mp_buf_child_band(_MP_BUF_ST* parent, int32_t band);
/* Moves and resizes a child inside its parent: 0, or -1. */
int mp_buf_child_move(_MP_BUF_ST* child, int32_t deltaX, int32_t deltaY, int32_t sizeX, int32_t sizeY);
/* Changes size and type (-9999 keeps a value): 0, or -1. */
int mp_buf_modify(_MP_BUF_ST* buffer, int32_t sizeX, int32_t sizeY, int32_t type);
/* Sets the field key to value: 0, or -1. */
int mp_buf_put_field(_MP_BUF_ST* buffer, uint32_t key, double value);
/* Removes the field key: 0, or -1. */
int mp_buf_remove_field(_MP_BUF_ST* buffer, uint32_t key);
/* The field key (the one before it through previous), or null. */
_MP_FIELD_ST* mp_buf_find_field(const _MP_BUF_ST* buffer, uint32_t key, _MP_FIELD_ST** previous);
/* Walks the fields (cursor -1 first): 0 and the key and value, -1 after the last. */
int mp_buf_next_field(const _MP_BUF_ST* buffer, _MP_FIELD_ST** cursor, uint32_t* key, double* value);
/* As mp_buf_next_field with a 32-bit integer value. */
int mp_buf_get_next_field(const _MP_BUF_ST* buffer, _MP_FIELD_ST** cursor, uint32_t* key, int32_t* value);
/* The value of field key: 0, or -1 without it. */
int mp_buf_get_field_double(const _MP_BUF_ST* buffer, uint32_t key, double* value);
/* The value of field key as a 32-bit integer: 0, or -1 without it. */
int mp_buf_get_field(const _MP_BUF_ST* buffer, uint32_t key, int32_t* value);
/* The first field record, or null. */
_MP_FIELD_ST* mp_buf_field(const _MP_BUF_ST* buffer);
/* The field record after field, or null. */
_MP_FIELD_ST* mp_buf_field_link(const _MP_BUF_ST* buffer, const _MP_FIELD_ST* field);
/* A pixel as a double. */
double mp_buf_get_pix_double(const _MP_BUF_ST* buffer, uint32_t band, int32_t x, int32_t y);
/* A pixel truncated to an integer. */
int32_t mp_buf_get_pix(const _MP_BUF_ST* buffer, uint32_t band, int32_t x, int32_t y);
/* Writes a pixel (the value truncated to the pixel type). */
void mp_buf_put_pix(_MP_BUF_ST* buffer, uint32_t band, int32_t x, int32_t y, double value);
/* Locks a paged buffer's pages with a page-list buffer. */
void mp_buf_lock_paged(_MP_BUF_ST* buffer, const _MP_BUF_ST* pageList);
/* Unlocks a paged buffer's pages. */
void mp_buf_unlock_paged(_MP_BUF_ST* buffer);

/* ==== Board-memory heaps (addresses are board addresses; 0 on failure) ==== */

/* A heap over base and size (record null: a new record); null on failure. */
heap* mp_mem_new_heap(heap* record, uint32_t base, uint32_t size, uint32_t tag);
/* Deletes a heap (null is ignored). */
void mp_mem_delete_heap(heap* h);
/* A block of size bytes, or 0. */
uint32_t mp_mem_malloc(heap* h, uint32_t size);
/* A block of size bytes at alignment, or 0. */
uint32_t mp_mem_memalign(heap* h, uint32_t alignment, uint32_t size);
/* Gives a block back (null heap or address: nothing). */
void mp_mem_free(heap* h, uint32_t address);
/* Takes the memory lock. */
void mp_mem_lock(void);
/* Releases the memory lock. */
void mp_mem_unlock(void);

/* ==== Grab-module register access: select an Orlo, change shadows and write them, release ==== */

/* Selects Orlo orlo of node (0 primary, 1 display, 255 none) under the register lock
   owned by token (0: no lock). */
void SetToOrlo(uint32_t node, uint32_t orlo, uint32_t* token);
/* Releases the register lock. */
void ReleaseAccessOrlo(void);
/* The Orlo selected: 0 primary, 1 display, 2 none or another. */
int WhichOrlo(void);
/* Selects the grab-module chip whose shadows the next writes use. */
void SetToPimbra(uint32_t selection);
/* Selects the external registers of node. */
void SetToExt(uint32_t node);
/* Writes a register from its shadow slot (now or into the register list). */
void SetShInHw(uint32_t* slot);
/* Writes an external register from its shadow slot. */
void SetExtShInHw(uint32_t* slot);
/* Reads an external register. */
uint32_t ReadVExtRegHW(uint32_t address);

/* ==== The ini file (node 0 is the global record) ==== */

/* Reads the ini file once (quiet: no echo output); its records, or null. */
_HALCYRA_INI_ST* HalcyraIniGetFile(int quiet);
/* The full path of the ini file (release it with free()), or null. */
char* FindHalcyraIniFile(void);
/* The record of node (the global record when none matches), or null. */
_HALCYRA_INI_ST* HalcyraIniForThisNode(uint32_t node);
/* Reads the setting keyword of node into out: 1 done, 0 unknown keyword or no data. */
uint32_t HalcyraIniReadTag(uint32_t node, const char* keyword, uint32_t* out);
/* Sets the setting keyword of node: 1 done, 0 unknown keyword or no data. */
uint32_t HalcyraIniWriteTag(uint32_t node, const char* keyword, uint32_t value);
/* Frees the records from record on (null: all). */
void HalcyraIniFree(_HALCYRA_INI_ST* record);
/* Walk the grab, VM and ScanHurler port connections: the next NodeId, 0 at the end. */
uint32_t HalcyraIniGrabLink(_HALCYRA_INI_ST** cursor, uint32_t deviceNbr);
uint32_t HalcyraIniVmLink(_HALCYRA_INI_ST** cursor, uint32_t deviceNbr);
uint32_t HalcyraIniScanHurlerLink(_HALCYRA_INI_ST** cursor, uint32_t deviceNbr);
/* The walk of the list at offset 0x30 grab, 0x34 VM, 0x3C ScanHurler; 0 otherwise. */
uint32_t HalcyraIniLink(_HALCYRA_INI_ST** cursor, uint32_t deviceNbr, uint32_t offset);
/* 1 when the boards found match the ini node records (and their record and device), else 0. */
int HalcyraIniCheckIfNodesMatch(uint32_t nodeId, int check, _PCI_FOUND_DEVICE** device, _HALCYRA_INI_ST** record);
/* Rewrites the node sections from the boards found; the global record, or null. */
_HALCYRA_INI_ST* HalcyraIniSetNode(void);

/* ==== Interrupt hooks (sources 32-63 primary Orlo, 64-95 display Orlo, 160 special) ==== */

/* Hooks function on source (function null: unhooks; with source -1 every source): 0, or
   1 when the source is refused or a hook fails.  A semaphore handle of 0 gets a new one. */
int HalcyraHookInterruptFunction(uint32_t node, HalcyraHookFunction function, int32_t source, void** semaphore, void* userData);
/* As HalcyraHookInterruptFunction for one source: its hook list, or null. */
_HALCYRA_HOOK_LIST* ScanAndSetHalcyraHookList(uint32_t node, HalcyraHookFunction function, int32_t source, void** semaphore, void* userData);
/* Queries: 0 or null for a null argument. */
_HALCYRA_HOOK_LIST* HalcyraGetHookList(uint32_t node, int32_t source);
_HALCYRA_HOOK_REC* HalcyraGetNextHookFunction(_HALCYRA_HOOK_LIST* list, _HALCYRA_HOOK_REC** cursor);
void* HalcyraGetHandleEvent(_HALCYRA_HOOK_REC* record);
HalcyraHookFunction HalcyraGetFuncPtr(_HALCYRA_HOOK_REC* record);
void* HalcyraGetUsrDataPtr(_HALCYRA_HOOK_REC* record);
uint32_t HalcyraGetHookInterruptType(_HALCYRA_HOOK_LIST* list);
uint32_t HalcyraGetInterruptType(_HALCYRA_HOOK_REC* record);

/* ==== PCI configuration space (0 success, 1 failure; access 0 the default way, 1, 2 or 4) ==== */

int PciConfigReadByte(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint8_t* value);
int PciConfigReadWord(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint16_t* value);
int PciConfigReadDword(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t* value);
int PciConfigWriteByte(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint8_t value);
int PciConfigWriteWord(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint16_t value);
int PciConfigWriteDword(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t value);
/* The same with size 1, 2 or 4 bytes, access 4 (entry is ignored), 2 and 1. */
int PciConfigRead32(uint32_t entry, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t* value);
int PciConfigWrite32(uint32_t entry, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t value);
int PciConfigReadInt(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t* value);
int PciConfigWriteInt(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t value);
int PciConfigReadIo(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t* value);
int PciConfigWriteIo(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t value);
/* BIOS entry points: there is no BIOS to call (1, and 0 for the entry point). */
int CallPciBiosService(uint32_t function, void* registers);
int CallPciBiosService32(uint32_t function, void* registers);
int GetBios32Service(uint32_t service, void* entry);
uint32_t GetBios32EntryPoint(void);
int PciSetHwInt(uint8_t bus, uint8_t deviceFunction, uint8_t pin, uint8_t irq);
/* 0 when the PCI service answers and fills record, else 1. */
int CheckPciBios(_TPciBios* record);
/* Clears the 12-byte record; 0 when the service answers, else 1. */
int CheckPciBios32(void* record12);
/* The index-th device of the ids from the given position on: 0 and its position, 1 none. */
int FindPciDevice(uint8_t access, uint16_t deviceId, uint16_t vendorId, uint32_t index, uint8_t* bus, uint8_t* device, uint8_t* function);
/* The index-th device of the class: 0 and its position, 1 none. */
int FindPciClassCode(uint8_t access, uint8_t classCode, uint8_t subclass, uint32_t index, uint8_t* bus, uint8_t* device, uint8_t* function);
/* The interrupt routing options of the bus. */
int PciGetIntOption(uint8_t bus, uint8_t* table, uint16_t* mask);
/* Fills a record for function 0 of every device (records null: counts); the number found. */
uint32_t ScanPciBus(uint8_t access, _TPciDevInfo* records);
/* True when the host bridge has the bus-numbering erratum. */
bool PciCheckIntelHostBridgeBug(uint8_t access);
/* Configures bridges and addresses; result bits (0x80000000, 0x40000000, 0x20000000), 1 without a bridge. */
uint32_t ConfigAllPciDevices(uint32_t flags);

/* ==== Display controller registers and clock PLLs (node first) ==== */

uint32_t PyxReadRegisterByByte(uint32_t node, uint32_t offset);
uint32_t PyxReadRegisterByShort(uint32_t node, uint32_t offset);
uint32_t PyxReadRegisterByLong(uint32_t node, uint32_t offset);
void PyxWriteRegisterByByte(uint32_t node, uint32_t offset, uint32_t value);
void PyxWriteRegisterByShort(uint32_t node, uint32_t offset, uint32_t value);
void PyxWriteRegisterByLong(uint32_t node, uint32_t offset, uint32_t value);
/* DAC registers, direct and indexed. */
uint32_t DacReadRegisterByLongIndex(uint32_t node, uint32_t reg, uint32_t index);
uint32_t DacReadRegisterByByte(uint32_t node, uint32_t reg);
uint32_t DacReadRegisterByLong(uint32_t node, uint32_t reg);
void DacWriteRegisterByLongIndex(uint32_t node, uint32_t reg, uint32_t index, uint32_t value);
void DacWriteRegisterByByte(uint32_t node, uint32_t reg, uint32_t value);
void DacWriteRegisterByLong(uint32_t node, uint32_t reg, uint32_t value);
/* VGA-compatible registers behind index/data pairs. */
uint32_t VgaReadRegisterByByteIndex(uint32_t node, uint32_t offset, uint32_t index);
uint32_t VgaReadRegisterByByte(uint32_t node, uint32_t offset);
void VgaWriteRegisterByByteIndex(uint32_t node, uint32_t offset, uint32_t index, uint32_t value);
void VgaWriteRegisterByByte(uint32_t node, uint32_t offset, uint32_t value);
/* The PLL values for a frequency in kHz; the frequency reached in kHz. */
uint32_t HlcDacCalculFMNP(uint32_t kHz, uint32_t* m, uint32_t* n, uint32_t* p);
/* Sets PLL select to kHz: 0 done, 1 unknown select, 2 the PLL did not lock. */
uint32_t HlcDacSetClk(uint32_t node, uint32_t select, uint32_t kHz, uint32_t bitsPerPixel, uint32_t busMode);
/* 0 locked, 1 unknown select, 2 time-out. */
uint32_t HlcDacWaitPllLock(uint32_t node, uint32_t select);
/* Reads the M, N and P values of PLL select. */
void HlcDacReadFreqParam(uint32_t node, uint32_t select, uint32_t* m, uint32_t* n, uint32_t* p);
/* Writes the M, N and P values of PLL select: 0 locked, 1 unknown select, 2 time-out. */
uint32_t HlcDacWriteFreqParam(uint32_t node, uint32_t select, uint32_t m, uint32_t n, uint32_t p);


/* ---- buffers: allocate in board, host DMA or caller memory; put, get, copy, fields,
   files.  Functions return 0 or a negative error code; allocations return the id, 0 on
   failure. */
uint32_t imBufAlloc(uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type, uint32_t location, uint32_t* id);
uint32_t imBufAlloc2d(uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t type, uint32_t location, uint32_t* id);
uint32_t imBufAlloc1d(uint32_t device, int32_t sizeX, uint32_t type, uint32_t location, uint32_t* id);
uint32_t imBufAllocControl(uint32_t device, uint32_t* id);
uint32_t imBufCreate(uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type, uint32_t memoryKind, const uint32_t* addresses, uint32_t pitch, uint32_t* id);
uint32_t imBufChild(uint32_t device, uint32_t parent, int32_t offsetX, int32_t offsetY, int32_t sizeX, int32_t sizeY, uint32_t* id);
uint32_t imBufChildBand(uint32_t device, uint32_t parent, int32_t band, uint32_t* id);
uint32_t imBufClone(uint32_t device, uint32_t source, uint32_t location, uint32_t* id);
int32_t imBufChildMove(uint32_t device, uint32_t child, int32_t x, int32_t y, int32_t sizeX, int32_t sizeY);
int32_t imBufClear(uint32_t device, uint32_t id, double value, uint32_t sync);
int32_t imBufFree(uint32_t device, uint32_t id);
int32_t imBufModify(uint32_t device, uint32_t id, int32_t sizeX, int32_t sizeY, uint32_t type);
int32_t imBufCopyField(uint32_t device, uint32_t source, uint32_t sourceKey, uint32_t destination, uint32_t destinationKey);
int32_t imBufPutField(uint32_t device, uint32_t id, uint32_t key, double value);
int32_t imBufRemoveField(uint32_t device, uint32_t id, uint32_t key);
int32_t imBufCopyPCI(uint32_t device, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t sync);
int32_t imBufCopyVM(uint32_t device, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3, uint32_t sync);
int32_t imBufPack(uint32_t device, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3, uint32_t sync);
int32_t imBufCopyROI(uint32_t device, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3, uint32_t sync);
int32_t imBufCopy(uint32_t device, uint32_t source, uint32_t destination, uint32_t value, uint32_t sync);
int32_t imBufControl(uint32_t device, uint32_t id, int32_t type, double value);
int32_t imBufGetNextField(uint32_t device, uint32_t id, int32_t* cursor, uint32_t* key, double* value);
int32_t imBufGetField(uint32_t device, uint32_t id, uint32_t key, int32_t* value);
int32_t imBufGetFieldDouble(uint32_t device, uint32_t id, uint32_t key, double* value);
int32_t imBufInquire(uint32_t device, uint32_t id, uint32_t type, void* out);
int32_t imBufMap(uint32_t device, uint32_t id, uint32_t band, uint32_t line, uint32_t* address, uint32_t* pitch, uint32_t* lines);
int32_t imBufGet(uint32_t device, uint32_t id, void* data);
int32_t imBufGet1d(uint32_t device, uint32_t id, int32_t x, int32_t sizeX, void* data);
int32_t imBufGet2d(uint32_t device, uint32_t id, int32_t x, int32_t y, int32_t sizeX, int32_t sizeY, void* data);
int32_t imBufPut(uint32_t device, uint32_t id, const void* data);
int32_t imBufPut1d(uint32_t device, uint32_t id, int32_t x, int32_t sizeX, const void* data);
int32_t imBufPut2d(uint32_t device, uint32_t id, int32_t x, int32_t y, int32_t sizeX, int32_t sizeY, const void* data);
int32_t imBufPutFormatted(uint32_t device, uint32_t id, double value, const void* data);
int32_t im_buf_get_formatted_inquire(uint32_t device, uint32_t id, uint32_t results[4]);
int32_t imBufLoad(uint32_t device, const char* fileName, int32_t format, uint32_t id);
uint32_t imBufRestore(uint32_t device, const char* fileName, int32_t format, uint32_t location, uint32_t* id);
int32_t imBufSave(uint32_t device, const char* fileName, int32_t format, uint32_t id);

/* ==== Grab module: serial chips and EEPROMs ==== */
/* The writers act on the grab module whose register window the caller selected. */
/* One channel (0-7) of the level (1) or reference (2) DAC; other channels write nothing. */
void mp_dig_set_dac1_reg(uint8_t value, int32_t channel);
void mp_dig_set_dac2_reg(uint8_t value, int32_t channel);
/* One line-lock PLL register (0-6), the low 11 bits of value. */
void mp_dig_set_ics1522_reg(uint32_t value, int32_t reg);
/* The delay line's 8-bit delay. */
void mp_dig_set_1020_delay(uint8_t value);
/* The clock synthesizer's program word for register 0-3 and a frequency of 391-120000 kHz;
   0 when none qualifies. */
uint32_t mp_dig_calc_icd2061(uint32_t address, uint32_t kHz, uint32_t extra);
/* Displays.  imDispAlloc programs the display from a VCF file found along VCFPATH (no
   name: VCFNAME) when the display runs its own screen; mode 0x10000000 keeps a running
   mode equal to the file's, mode 2 sets the controller up again.  The display id, also
   stored through display; 0 on failure (a named file that is not found: -3). */
uint32_t imDispAlloc(uint32_t thread, uint32_t system, uint32_t board, const char* vcf, uint32_t mode,
                     uint32_t* display);
/* Applies the controls held as fields (keys 13000-13015) of a control buffer; type 2 first
   restarts the display at its vertical sync.  0 or the error code. */
int32_t imDispControl(uint32_t thread, uint32_t display, uint32_t controls, uint32_t type);
/* One word of the display state (types 13001-13015), also stored through value. */
int32_t imDispInquire(uint32_t thread, uint32_t display, uint32_t type, int32_t* value);
int32_t imDispFree(uint32_t thread, uint32_t display);
/* Hardware cursor of the thread's node (node 0x11 for thread 0): a record in host memory
   (mode 0x10000000: mode 1), its 64 x 64 image from width x height pixel bytes (bit 0 and
   bit 1 of each; larger images refused with -8), colours 0-3 (with no record written to
   the DAC at once), loaded into the DAC (no record: the built-in arrow), enabled (-9997),
   disabled (-9999), placed and read back in display pixels; imCurGetPosition returns y. */
int32_t imCurAlloc(uint32_t thread, uint32_t mode, void** record);
int32_t imCurFree(uint32_t thread, void* record);
int32_t imCurDefine(uint32_t thread, void* record, uint32_t width, uint32_t height, uint32_t hotX, uint32_t hotY,
                    const uint8_t* pixels);
int32_t imCurSetColor(uint32_t thread, void* record, uint32_t index, uint32_t red, uint32_t green, uint32_t blue);
int32_t imCurSelect(uint32_t thread, const void* record);
int32_t imCurEnable(uint32_t thread, int32_t mode);
int32_t imCurSetPosition(uint32_t thread, int32_t x, int32_t y);
int32_t imCurGetPosition(uint32_t thread, int32_t* x, int32_t* y);
/* Sends a program word to the clock synthesizer; 0 is no word and sends nothing. */
void mp_dig_set_icd2061(uint32_t word);
/* Module EEPROM (1024 16-bit words) of the standard (mp_dig_) and second (mp_kvx_) family:
   get returns the word; the others 0 done, 1 when the device never reported ready. */
uint16_t mp_dig_get_eeprom(uint32_t address);
int mp_dig_set_eeprom(uint32_t address, uint16_t data);
int mp_dig_erase_eeprom(uint32_t address);
int mp_dig_erase_eeprom_all(void);
int mp_dig_set_eeprom_all(uint16_t data);
uint16_t mp_kvx_get_eeprom(uint32_t address);
int mp_kvx_set_eeprom(uint32_t address, uint16_t data);
int mp_kvx_erase_eeprom(uint32_t address);
int mp_kvx_erase_eeprom_all(void);
int mp_kvx_set_eeprom_all(uint16_t data);
/* Second family's serial chips on the selected module, channel 0-3 (others write nothing,
   a read gives 0): decoder register write and read, DAC channel 0-7, ICS1522 register 0-6. */
void mp_kvx_set_dec_reg(uint32_t channel, uint32_t reg, uint32_t value);
uint32_t mp_kvx_read_dec_reg(uint32_t channel, uint32_t reg);
void mp_kvx_set_dac_reg(uint32_t value, uint32_t address);
void mp_kvx_set_pll_reg(uint32_t channel, uint32_t value, uint32_t reg);

/* ==== JPEG objects (executed by a board processor) ==== */
/* Table types: 19007 quantization (64 bytes), 19008 AC Huffman (178), 19009 DC Huffman (33). */
uint32_t imJpegAlloc(uint32_t thread, int32_t value, uint32_t* id);
int32_t imJpegControl(uint32_t thread, uint32_t jpeg, uint32_t type, double value);
int32_t imJpegControlBand(uint32_t thread, int32_t a, int32_t b, int32_t c, int32_t d);
int32_t imJpegDecode(uint32_t thread, uint32_t a, uint32_t b, uint32_t control);
int32_t imJpegEncode(uint32_t thread, uint32_t a, uint32_t b, uint32_t control);
int32_t imJpegFree(uint32_t thread, uint32_t jpeg);
int32_t imJpegInquire(uint32_t thread, uint32_t jpeg, uint32_t type, int32_t* out);
int32_t imJpegPutTable(uint32_t thread, uint32_t jpeg, uint32_t type, uint32_t table, uint32_t size, const void* bytes);
/* For a type other than the three table types, *size holds the buffer's capacity on entry. */
int32_t imJpegGetTable(uint32_t thread, uint32_t jpeg, uint32_t type, uint32_t table, uint32_t* size, void* bytes);
int32_t imJpegWrite(uint32_t thread, FILE* file, uint32_t jpeg);
int32_t imJpegSave(uint32_t thread, const char* path, uint32_t jpeg);
int32_t imJpegRead(uint32_t thread, FILE* file, uint32_t jpeg);
uint32_t imJpegRestore(uint32_t thread, const char* path, uint32_t* id);
int32_t imJpegWriteBuf(uint32_t thread, int32_t a, int32_t b, int32_t c, uint32_t control);
int32_t imJpegReadBuf(uint32_t thread, int32_t a, int32_t b, int32_t c, uint32_t control);

/* ==== Pattern matching and blob analysis (executed by a board processor) ==== */
/* Width bits of inquiry and result types: 0x10000 int8, 0x20000 int16, 0x40000 int32,
   0x80000 float; none: a double. */
int32_t imPatAllocAutoModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5,
                            int32_t p6, uint32_t* ids);
uint32_t imPatAllocModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5,
                         uint32_t* id);
uint32_t imPatAllocRotatedModel(uint32_t thread, int32_t p0, double p1, int32_t p2, uint32_t* id);
uint32_t imPatAllocResult(uint32_t thread, int32_t p0, uint32_t* id);
int32_t imPatCopy(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imPatCopyResult(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imPatFindModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imPatFree(uint32_t thread, uint32_t id);
int32_t imPatGetNumber(uint32_t thread, uint32_t result, int32_t* out);
int32_t imPatGetResult(uint32_t thread, uint32_t result, uint32_t type, void* out);
int32_t imPatInquire(uint32_t thread, uint32_t model, uint32_t type, void* out);
int32_t imPatPreprocModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imPatRead(uint32_t thread, FILE* file, uint32_t* model);
int32_t imPatWrite(uint32_t thread, FILE* file, uint32_t model);
int32_t imPatRestore(uint32_t thread, const char* path, uint32_t* model);
int32_t imPatSave(uint32_t thread, const char* path, uint32_t model);
int32_t imPatSetAcceptance(uint32_t thread, uint32_t model, double value);
int32_t imPatSetAccuracy(uint32_t thread, uint32_t model, int32_t value);
int32_t imPatSetCenter(uint32_t thread, uint32_t model, double x, double y);
int32_t imPatSetCertainty(uint32_t thread, uint32_t model, double value);
int32_t imPatSetDontCare(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4);
int32_t imPatSetNumber(uint32_t thread, uint32_t model, int32_t value);
int32_t imPatSetPosition(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4);
int32_t imPatSetSearchParameter(uint32_t thread, uint32_t model, int32_t parameter, double value);
int32_t imPatSetSpeed(uint32_t thread, uint32_t model, int32_t value);
uint32_t imBlobAllocFeatureList(uint32_t thread, uint32_t* id);
uint32_t imBlobAllocResult(uint32_t thread, uint32_t* id);
int32_t imBlobCalculate(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imBlobControl(uint32_t thread, int32_t p0, int32_t p1, double p2);
int32_t imBlobFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imBlobFree(uint32_t thread, uint32_t id);
int32_t imBlobGetLabel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t* out);
int32_t imBlobGetNumber(uint32_t thread, uint32_t result, int32_t* out);
/* At most capacity bytes reach array (each array of imBlobGetRuns). */
int32_t imBlobGetResult(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, void* array, uint32_t capacity);
int32_t imBlobGetResultSingle(uint32_t thread, int32_t p0, int32_t p1, uint32_t type, int32_t p3, void* out);
int32_t imBlobGetRuns(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, void* first, void* second, void* third,
                      uint32_t capacity);
int32_t imBlobInquire(uint32_t thread, uint32_t id, uint32_t type, void* out);
int32_t imBlobLabel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imBlobSelect(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, double p5, double p6);
int32_t imBlobSelectFeature(uint32_t thread, int32_t p0, int32_t p1, int32_t p2);
int32_t imBlobSelectFeret(uint32_t thread, int32_t p0, double p1);
int32_t imBlobSelectMoment(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4);
int32_t imBlobCopyResult(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imBlobCopyRuns(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);

/* ==== Ring snooper ==== */
/* Records a host-served ring slot's status change (10, 20, 25, 50) for a snooping tool. */
void mp_msg_signal_snooper(uint32_t slotBody, uint32_t status);

#ifdef __cplusplus
}
#endif

#endif /* HLCLIB_H */
