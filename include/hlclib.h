/* hlclib.h: the programming interface of HLCLIB, the frame-grabber board runtime library.
 *
 * A program opens a board (a node) with imDevAlloc and works with objects on it: thread
 * objects (command queues), sync objects (how far a command has come), buffers, cameras,
 * digitizers, displays, the cursor, JPEG objects and pattern models; imDevFree closes the
 * node.  Systems, boards and settings come from the ini file halcyra.ini in the directory
 * named by the environment variable HLCINIPATH; camera files are found along DCFPATH.
 *
 * Ids are 32-bit values that carry their node number in bits 16-23 (IM_NODE_OF).  Every
 * node has its own thread object IM_THR_NODE(device), which a program may use without
 * allocating one.  The numbers the calls take (types, locations, control and inquire
 * numbers, field keys, states, error codes) are named in hlclib_defs.h, included here.
 *
 * How to read a call's contract:
 *   waits   the call returns when the node has answered; no answer within the communication
 *           time-out (IM_APP_TIMEOUT) is IM_ERR_TIMEOUT.
 *   posts   the call returns once the command is queued on the thread object; the command
 *           runs later, in order with the thread object's other commands, and its error
 *           reaches the next call that waits on that thread object (imThrGetError, imSyncHost).
 *   host    the work is done on the calling thread; no command goes to the node.
 * Every call may be made from any thread of the program.  A failure is also filed in the
 * process-wide last-error record (imAppGetError) unless one is there, and the error hook
 * (imAppCatchError) is called with it on the failing call's thread.
 *
 * The image-processing commands that only a board's own processor runs are declared in
 * hlclib_proc.h (included here); the board-level services the library also exports (command
 * messages, buffer descriptors, registers, PCI, the ini file) in hlclib_board.h.
 *
 * 32-bit x86 only: build with the flags of `pkg-config --cflags --libs hlclib` (-m32).
 */
#ifndef HLCLIB_H
#define HLCLIB_H

#if defined(__x86_64__) || defined(_M_X64) || defined(__aarch64__) || \
    (defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ != 4)
#error "hlclib.h: HLCLIB is a 32-bit x86 library; compile with -m32 (the flags of pkg-config --cflags hlclib)"
#endif

#include "hlclib_defs.h"

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The error hook: called with the hook type, the error code and the user word given to
   imAppCatchError. */
typedef int32_t (*ImErrorHook)(int32_t hookType, int32_t errorCode, uint32_t user);

/* ==== Application: error hook, communication time-out, last error ==== */

/* Installs the error hook (null removes it) and its user word; application is not used.  Host. */
void imAppCatchError(uint32_t application, ImErrorHook hook, uint32_t user);
/* IM_APP_TIMEOUT: the communication time-out in seconds (0 and -1: 365 days; another value
   not above 0 is refused with IM_ERR_INVALID_PARAMETER and the time-out stays); it holds until the
   last device is closed, after which it is 15 s again.  Other types do nothing.  Host. */
void imAppControl(int32_t type, double value);
/* IM_APP_TIMEOUT: the time-out, truncated (the double also written to out); other types 0.  Host. */
int32_t imAppInquire(int32_t type, void* out);
/* The last error code (0 none); with out, the item of mode (IM_ERR_ITEM_CODE, _MESSAGE,
   _FUNCTION or _TEXT) is written there, and IM_ERR_ITEM_CLEAR or-ed in clears the record.  Host. */
int32_t imAppGetError(int32_t mode, void* out);

/* ==== Devices: open, query and close one board (node) of a system ==== */

/* Opens board of system (0-14 each): the device id, also stored through device; 0 on
   failure.  initMode IM_DEV_INIT_*, loadOption IM_DEV_FPGA_* (hlclib_defs.h).  With
   IM_DEV_INIT_REGISTERS the id is IM_NODE(system, board) << 16, for register access,
   beside the error "DSP is ignored"; imDevFree closes it.  An FPGA that could not be
   loaded is an error beside the id.  Waits (opens of all programs of the user take turns). */
uint32_t imDevAlloc(uint32_t system, uint32_t board, uint32_t initMode, uint32_t loadOption, uint32_t* device);
/* Closes the device; the last close shuts the node down.  0, or the error code.  Waits. */
int32_t imDevFree(uint32_t device);
/* A value of the device (IM_DEV_SYSTEM, IM_DEV_BOARD, IM_DEV_RING_SLOTS ...), also stored
   through value when given; 0 for an unknown device.  Waits, or host for the node's own
   records. */
uint32_t imDevInquire(uint32_t device, uint32_t type, uint32_t* value);
/* Sets a value of the device on its node: 0, or the error code.  Waits. */
int32_t imDevControl(uint32_t device, uint32_t type, double value);

/* ==== Systems: installed nodes, node clock, time stamps, memory map, ring dump ==== */

/* From the ini file, by type (IM_SYS_NODES ... IM_SYS_NODE_TABLE), also stored through out
   when given; 0 for other types or without an ini file.  Host. */
int32_t imSysInquire(int32_t system, int32_t type, void* out);
/* Seconds since start on the clock of the thread's node.  Waits. */
double imSysClock(uint32_t thread, double start);
/* Writes the node clock since start into the buffer's field key: 0, or the error of the
   post.  Posts. */
int32_t imSysTimeStamp(uint32_t thread, uint32_t buffer, uint32_t key, double start);
/* Memory map of the thread's node (IM_MAP_SIZE, IM_MAP_BLOCKS, IM_MAP_DESCRIPTORS): out
   gets the first reply value; the second for IM_MAP_BLOCKS and IM_MAP_DESCRIPTORS, else -1.
   Waits. */
int32_t imSysGetMemoryMap(uint32_t thread, int32_t mode, void* out);
/* IM_DIAG_RING: writes the node's communication ring into the file at path; a file that
   cannot be written is filed as IM_ERR_FILE_ACCESS "Error opening dump file".  Host. */
void imSysDiag(int32_t system, int32_t board, int32_t mode, const char* path);

/* ==== Thread objects: command queues on a node ==== */

/* A new thread object on the device's node with the attributes held as fields
   (IM_THR_PRIORITY, IM_THR_STACK_SIZE ...) of an attribute buffer (0: defaults): its id,
   also stored through thread; 0 on failure (IM_ERR_INVALID_PARAMETER for an attribute out
   of range, IM_ERR_INVALID_BUFFER for an attribute id that names no buffer).  A node the
   host serves holds at most 125 thread objects besides its own three (each takes two of
   the node's 256 task ports): the next one fails with IM_ERR_NO_RESOURCES (-4) until one
   is freed.  Waits. */
uint32_t imThrAlloc(uint32_t device, uint32_t attributes, uint32_t* thread);
/* Cancels the commands queued on the thread object: 0, or the error of the post.  Posts. */
int32_t imThrCancel(uint32_t thread);
/* Sets IM_THR_PRIORITY, IM_THR_VALUE or IM_THR_SWITCH: 0, or the error of the post.  Posts. */
int32_t imThrControl(uint32_t thread, uint32_t type, double value);
/* Frees the thread object after its queued commands: 0, or the error of the post
   (IM_ERR_INVALID_THREAD at once for a thread object whose free was already posted).
   Posts. */
int32_t imThrFree(uint32_t thread);
/* The thread object's first error code (0 none), its item of mode written to out (as
   imAppGetError).  Waits. */
int32_t imThrGetError(uint32_t thread, uint32_t mode, void* out);
/* Halts the grab the thread object runs (IM_HALT_NOW, IM_HALT_END_OF_GRAB): 0, or the error
   of the post.  Posts, ahead of the queue. */
int32_t imThrHalt(uint32_t thread, int32_t mode);
/* An attribute of the thread object (IM_THR_*), also written to out when given.  Waits. */
int32_t imThrInquire(uint32_t thread, uint32_t type, void* out);
/* A command that does nothing but move the sync object to IM_OSB_RECEIVED and IM_OSB_DONE
   when the thread object reaches it: 0, or the error of the post.  Posts. */
int32_t imThrNop(uint32_t thread, uint32_t sync);

/* ==== Sync objects: how far a command has come (IM_OSB_NEW ... IM_OSB_DONE) ==== */

/* A new sync object (state IM_OSB_NEW, mode IM_OSB_MODE_REARM): its id, also stored
   through sync; 0 on failure.  Waits. */
uint32_t imSyncAlloc(uint32_t thread, uint32_t* sync);
/* Frees the sync object: 0, or the error code (IM_ERR_INVALID_BUFFER for an id that names
   no sync object, a second free among them).  Waits. */
int32_t imSyncFree(uint32_t thread, uint32_t sync);
/* The sync object's error code (0 none), its item of mode written to out (as
   imAppGetError): the first error of the commands it followed, a failed imDigGrab's among
   them.  Waits. */
int32_t imSyncGetError(uint32_t thread, uint32_t sync, uint32_t mode, void* out);
/* Waits until the sync object reaches state (or with IM_OSB_COUNT a count); the state
   reached.  IM_OSB_ASK_STATE and IM_OSB_ASK_COUNT answer at once; sync 0 names no object
   and answers 0 at once.  A wait that outlasts the communication time-out (imAppControl)
   returns IM_ERR_TIMEOUT and ends on the node as well: the thread object serves its next
   command at once.  Waits. */
int32_t imSyncHost(uint32_t thread, uint32_t sync, uint32_t state);
/* Makes the thread object wait until the sync object reaches state: 0, or the error of
   the post.  Posts. */
int32_t imSyncThread(uint32_t thread, uint32_t sync, uint32_t state);
/* IM_SYNC_STATE sets the state, IM_SYNC_MODE the mode (IM_OSB_MODE_REARM or
   IM_OSB_MODE_KEEP): 0, or the error of the post.  Posts. */
int32_t imSyncControl(uint32_t thread, uint32_t sync, uint32_t type, double value);

/* ==== Buffers: in board, display, host DMA or the caller's memory ==== */

/* A buffer of bands planes of sizeX x sizeY pixels of type (IM_UBYTE ...) in location
   (IM_LOC_*): its id, also stored through id; 0 on failure (IM_ERR_BUFFER_ATTRIBUTE for an
   undefined type or location, a size below 1 or no band).  Waits. */
uint32_t imBufAlloc(uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type, uint32_t location, uint32_t* id);
/* One band.  Waits; the id or 0. */
uint32_t imBufAlloc2d(uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t type, uint32_t location, uint32_t* id);
/* One line.  Waits; the id or 0. */
uint32_t imBufAlloc1d(uint32_t device, int32_t sizeX, uint32_t type, uint32_t location, uint32_t* id);
/* A control buffer: no pixels, only fields (IM_CTL_* keys).  Waits; the id or 0. */
uint32_t imBufAllocControl(uint32_t device, uint32_t* id);
/* A buffer over given memory of memoryKind (IM_MEM_*): addresses holds one address (or
   buffer id) per band, bands 32-bit words are read.  Waits; the id or 0. */
uint32_t imBufCreate(uint32_t device, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type, uint32_t memoryKind, const uint32_t* addresses, uint32_t pitch, uint32_t* id);
/* A child over a rectangle of the parent.  Waits; the id or 0. */
uint32_t imBufChild(uint32_t device, uint32_t parent, int32_t offsetX, int32_t offsetY, int32_t sizeX, int32_t sizeY, uint32_t* id);
/* A one-band child of the parent.  Waits; the id or 0. */
uint32_t imBufChildBand(uint32_t device, uint32_t parent, int32_t band, uint32_t* id);
/* A new buffer like source in location, with its pixels.  Waits; the id or 0. */
uint32_t imBufClone(uint32_t device, uint32_t source, uint32_t location, uint32_t* id);
/* Moves and resizes a child inside its parent: 0, or the error of the post.  Posts. */
int32_t imBufChildMove(uint32_t device, uint32_t child, int32_t x, int32_t y, int32_t sizeX, int32_t sizeY);
/* Sets every pixel to value; the sync object follows: 0, or the error of the post.  Posts. */
int32_t imBufClear(uint32_t device, uint32_t id, double value, uint32_t sync);
/* Frees the buffer (host memory on the calling thread): 0, or the error (IM_ERR_INVALID_BUFFER
   at once for a host buffer that is no more; for a board buffer with the next call that
   waits on the node's thread).  Posts. */
int32_t imBufFree(uint32_t device, uint32_t id);
/* New sizes and type (IM_DISABLE keeps one): 0, or the error of the post.  Posts. */
int32_t imBufModify(uint32_t device, uint32_t id, int32_t sizeX, int32_t sizeY, uint32_t type);
/* Copies the field sourceKey of source into destinationKey of destination.  Posts; 0 or the error. */
int32_t imBufCopyField(uint32_t device, uint32_t source, uint32_t sourceKey, uint32_t destination, uint32_t destinationKey);
/* Sets the field key of the buffer.  Posts; 0 or the error. */
int32_t imBufPutField(uint32_t device, uint32_t id, uint32_t key, double value);
/* Removes the field key.  Posts; 0 or the error. */
int32_t imBufRemoveField(uint32_t device, uint32_t id, uint32_t key);
/* A bus-master transfer over PCI from source to destination steered by the fields of a
   control buffer (0: none); the sync object follows.  Posts; 0 or the error. */
int32_t imBufCopyPCI(uint32_t device, uint32_t source, uint32_t destination, uint32_t control, uint32_t sync);
/* A transfer through the VM ports, steered by a control buffer for each side.  Posts; 0 or
   the error. */
int32_t imBufCopyVM(uint32_t device, uint32_t source, uint32_t destination, uint32_t control1, uint32_t control2, uint32_t sync);
/* Packing and region copies run by a board's own processor (a host-served node answers
   IM_ERR_INVALID_OPCODE): p<n> goes into slot n unchanged and the firmware gives it its
   meaning; the sync object follows.  Posts; 0 or the error. */
int32_t imBufPack(uint32_t device, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3, uint32_t sync);
int32_t imBufCopyROI(uint32_t device, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3, uint32_t sync);
/* Copies source into destination (value: the copy's control buffer or mode); the sync
   object follows.  Posts (a copy between host buffers runs on the calling thread); 0 or
   the error. */
int32_t imBufCopy(uint32_t device, uint32_t source, uint32_t destination, uint32_t value, uint32_t sync);
/* IM_BUF_LOCK or IM_BUF_UNLOCK a paged buffer's pages: 0, or the error code.  Waits. */
int32_t imBufControl(uint32_t device, uint32_t id, int32_t type, double value);
/* Walks the fields (cursor -1 first): 0 with the next key and value, IM_ERR_NOT_PRESENT
   after the last, or the error of the failed command (IM_ERR_INVALID_BUFFER ...).  Waits. */
int32_t imBufGetNextField(uint32_t device, uint32_t id, int32_t* cursor, uint32_t* key, double* value);
/* The field key as a 32-bit integer (or a double): 0, IM_ERR_NOT_PRESENT when absent, or
   the error of the failed command (IM_ERR_INVALID_BUFFER ...).  Waits. */
int32_t imBufGetField(uint32_t device, uint32_t id, uint32_t key, int32_t* value);
int32_t imBufGetFieldDouble(uint32_t device, uint32_t id, uint32_t key, double* value);
/* A value of the buffer (IM_BUF_*), also stored through out when given.  Waits. */
int32_t imBufInquire(uint32_t device, uint32_t id, uint32_t type, void* out);
/* Maps a band from line on: its host address, pitch and lines through the pointers; the
   lines.  Waits. */
int32_t imBufMap(uint32_t device, uint32_t id, uint32_t band, uint32_t line, uint32_t* address, uint32_t* pitch, uint32_t* lines);
/* Reads the pixels of the buffer into data (Get) or writes them from data (Put): the whole
   buffer, sizeX pixels from x on line 0 (1d), or sizeX x sizeY pixels from (x, y) (2d;
   sizeX and sizeY both 0, with x and y 0, stand for the whole buffer), in every band.
   The call takes no size.  data holds the pixels packed, the lines of a band one after
   another without the buffer's pitch, then the next band, and so must hold
       bands x lines x line bytes
   with bands the buffer's, lines its size Y (whole buffer), 1 (1d) or sizeY (2d), and
       line bytes = pixels x bits / 8 when bits is a multiple of 8, else
                    ((pixels + 7) / 8) x ((bits + 7) / 8): for a 1-bit type (pixels + 7) / 8,
   pixels being its size X (whole buffer) or sizeX and bits its bits per pixel
   (IM_BUF_BANDS, IM_BUF_SIZE_Y, IM_BUF_SIZE_X and IM_BUF_BITS inquire them).  A 640 x 480
   IM_UBYTE buffer of one band moves 307,200 bytes, of three bands 921,600; a 1-bit buffer
   of 100 x 2, 26.  When bits is not a multiple of 8, x is taken in whole bytes: the pixels
   from byte x / 8 on.  0, or the error code: IM_ERR_INVALID_PARAMETER for id 0, an id that
   names no buffer, no data or a rectangle outside the buffer, IM_ERR_NO_RESOURCES for a
   band the host cannot address.  Host (a buffer not met before is first looked up on its
   node, which waits). */
int32_t imBufGet(uint32_t device, uint32_t id, void* data);
int32_t imBufGet1d(uint32_t device, uint32_t id, int32_t x, int32_t sizeX, void* data);
int32_t imBufGet2d(uint32_t device, uint32_t id, int32_t x, int32_t y, int32_t sizeX, int32_t sizeY, void* data);
int32_t imBufPut(uint32_t device, uint32_t id, const void* data);
int32_t imBufPut1d(uint32_t device, uint32_t id, int32_t x, int32_t sizeX, const void* data);
int32_t imBufPut2d(uint32_t device, uint32_t id, int32_t x, int32_t y, int32_t sizeX, int32_t sizeY, const void* data);
/* Writes data in the buffer's formatted layout, which only a board's own processor gives:
   lines x line bytes are read from data, with the lines, size X and bits of that layout
   (line bytes as for imBufPut).  Returns the layout's lines; nothing is read when the node
   gives no layout (result 0; a host-served node answers IM_ERR_INVALID_OPCODE) or refuses
   the write.  Waits. */
int32_t imBufPutFormatted(uint32_t device, uint32_t id, double value, const void* data);
/* Fills the buffer from a file of format (IM_FILE_TIFF, IM_FILE_TIFF_FIELDS): 0, or the
   error code.  Host and waits. */
int32_t imBufLoad(uint32_t device, const char* fileName, int32_t format, uint32_t id);
/* A new buffer in location of the file's size, type and bands, filled from it: its id,
   also stored through id; 0 on failure.  Host and waits. */
uint32_t imBufRestore(uint32_t device, const char* fileName, int32_t format, uint32_t location, uint32_t* id);
/* Writes the buffer as a file of format: 0, or the error code.  Host and waits. */
int32_t imBufSave(uint32_t device, const char* fileName, int32_t format, uint32_t id);

/* ==== Cameras and digitizers ==== */

/* A camera from a camera file found along DCFPATH (fileFlag IM_CAM_FILE; no name: the
   file named by DCFNAME) or from camera-file text (IM_CAM_TEXT); IM_CAM_RELOAD also loads
   the digitizer again, IM_CAM_EMPTY makes an empty camera.  Its id, also stored through
   camera; 0 on failure.  Waits. */
uint32_t imCamAlloc(uint32_t thread, const char* name, int32_t fileFlag, uint32_t* camera);
/* A copy of the camera: its id, also stored through clone; 0 on failure.  Waits. */
uint32_t imCamClone(uint32_t thread, uint32_t camera, int32_t value, uint32_t* clone);
/* Sets a control (IM_DIG_*) of the camera record only: 0, or the error of the post.  Posts. */
int32_t imCamControl(uint32_t thread, uint32_t camera, int32_t type, double value);
/* Frees the camera: 0, or the error code (IM_ERR_INVALID_BUFFER for an id that names no
   camera, a second free among them).  Waits. */
int32_t imCamFree(uint32_t thread, uint32_t camera);
/* A control of the camera record, truncated; through out a double (IM_DIG_GAIN,
   IM_DIG_REF_WHITE, IM_DIG_REF_BLACK, IM_DIG_EXP_ACTIVE, IM_DIG_EXP_DELAY and the three
   levels) or a 32-bit integer.  Waits. */
int32_t imCamInquire(uint32_t thread, uint32_t camera, int32_t type, void* out);
/* Writes the camera as a camera file; an old file is replaced only by a complete one:
   0, or the error code.  Waits. */
int32_t imCamSave(uint32_t thread, const char* name, uint32_t camera);
/* The digitizer number of system (the third argument is not read by a host-served node):
   its id, also stored through digitizer; 0 on failure.  Waits. */
uint32_t imDigAlloc(uint32_t thread, int32_t system, int32_t number, int32_t reserved, uint32_t* digitizer);
/* Sets a control (IM_DIG_*) of the live digitizer (0: the node's own): 0, or the error of
   the post.  Posts. */
int32_t imDigControl(uint32_t thread, uint32_t digitizer, int32_t type, double value);
/* Frees the digitizer (it stays in the system's list for a later imDigAlloc): 0, or the
   error code (IM_ERR_INVALID_BUFFER for an id that names no digitizer).  Waits. */
int32_t imDigFree(uint32_t thread, uint32_t digitizer);
/* Grabs count frames (-1: until imThrHalt) from camera on digitizer (0: the node's own) into
   destination, steered by the fields of a grab control buffer (0: none); the sync object
   follows.  0, or the error of the post.  Posts. */
int32_t imDigGrab(uint32_t thread, uint32_t digitizer, uint32_t camera, uint32_t destination, uint32_t count,
                  uint32_t controlBuffer, uint32_t sync);
/* A control of the live digitizer (0: the node's own), truncated; through out a double
   (IM_DIG_GAIN, IM_DIG_REF_WHITE, IM_DIG_REF_BLACK, IM_DIG_PIXEL_CLOCK) or a 32-bit
   integer; IM_DIG_UART_READ_STRING reads the camera port's string into out and returns its
   length.  What only a camera describes (IM_DIG_SIZE_X, IM_DIG_SIZE_Y, IM_DIG_SIZE_BIT,
   IM_DIG_TYPE, IM_DIG_NUM_BANDS, IM_DIG_SCAN_MODE) is asked of the camera with
   imCamInquire: here it answers 0 and files IM_ERR_INVALID_PARAMETER.  Waits. */
int32_t imDigInquire(uint32_t thread, uint32_t digitizer, int32_t type, void* out);
/* A conversion run by a board's own processor (its arguments are the firmware's).  Posts;
   0 or the error. */
int32_t imDigConvert(uint32_t thread, uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t control);
/* Arms the capture of camera on the digitizer: 0, or the error of the post.  Posts. */
int32_t imDigCapture(uint32_t thread, uint32_t digitizer, uint32_t camera, int32_t value);
/* Reads the input lookup table into (Get) or writes it from (Set) the LUT buffer: the
   bands selected, from entry start, count entries (Set: in mode).  0; the table is in the
   buffer once the thread object has served the Get (a later sync object tells).  Posts. */
int32_t imDigLutGet(uint32_t thread, uint32_t digitizer, uint32_t camera, uint32_t lut, int32_t bands, int32_t start,
                    int32_t count);
int32_t imDigLutSet(uint32_t thread, uint32_t digitizer, uint32_t camera, uint32_t lut, int32_t bands, int32_t start,
                    int32_t count, int32_t mode);

/* ==== Displays ==== */

/* The display of board of system, programmed from a video configuration file found along
   VCFPATH (no name: VCFNAME) when it runs its own screen; mode IM_DISP_KEEP_MODE keeps a
   running mode equal to the file's, IM_DISP_SET_UP sets the controller up again.  Its id,
   also stored through display; 0 on failure.  Waits. */
uint32_t imDispAlloc(uint32_t thread, uint32_t system, uint32_t board, const char* vcf, uint32_t mode,
                     uint32_t* display);
/* Applies the controls held as fields (IM_DISP_SELECT ... IM_DISP_ENABLE) of a control
   buffer; type IM_DISP_RESTART first restarts the display at its vertical sync.  0, or the
   error code.  Waits. */
int32_t imDispControl(uint32_t thread, uint32_t display, uint32_t controls, uint32_t type);
/* One word of the display state (IM_DISP_*), also stored through value.  Waits. */
int32_t imDispInquire(uint32_t thread, uint32_t display, uint32_t type, int32_t* value);
/* Frees the display: 0, or the error of the post.  Posts. */
int32_t imDispFree(uint32_t thread, uint32_t display);

/* ==== Hardware cursor of the thread's node (node 0x11 for thread 0); all host ==== */

/* A cursor record in host memory (mode IM_CUR_DEFAULT_MODE: mode 1) through record: 0, or
   IM_ERR_NO_RESOURCES. */
int32_t imCurAlloc(uint32_t thread, uint32_t mode, void** record);
/* Releases the record: 0. */
int32_t imCurFree(uint32_t thread, void* record);
/* The 64 x 64 image from width x height pixel bytes (bits 0 and 1 of each) with its hot
   spot: 0, or IM_ERR_INVALID_PARAMETER for a larger image. */
int32_t imCurDefine(uint32_t thread, void* record, uint32_t width, uint32_t height, uint32_t hotX, uint32_t hotY,
                    const uint8_t* pixels);
/* Colour index 0-3 (with no record written to the DAC at once): 0, or the error code. */
int32_t imCurSetColor(uint32_t thread, void* record, uint32_t index, uint32_t red, uint32_t green, uint32_t blue);
/* Loads the record into the DAC (null: the built-in arrow): 0, or the error code. */
int32_t imCurSelect(uint32_t thread, const void* record);
/* IM_ENABLE or IM_DISABLE: 0, or the error code. */
int32_t imCurEnable(uint32_t thread, int32_t mode);
/* Places the cursor in display pixels: 0, or the error code. */
int32_t imCurSetPosition(uint32_t thread, int32_t x, int32_t y);
/* The position in display pixels through x and y; returns y. */
int32_t imCurGetPosition(uint32_t thread, int32_t* x, int32_t* y);

/* ==== JPEG objects (kept and run by a board's own processor; a host-served node answers
   IM_ERR_INVALID_OPCODE).  Arguments named p0, p1 ... are the firmware's: the library puts
   p<n> into slot n of the command unchanged, and the firmware gives it its meaning ==== */

/* A JPEG object: its id, also stored through id; 0 on failure.  Waits. */
uint32_t imJpegAlloc(uint32_t thread, int32_t value, uint32_t* id);
/* Sets control type of the object to value.  Posts; 0 or the error of the post. */
int32_t imJpegControl(uint32_t thread, uint32_t jpeg, uint32_t type, double value);
/* Band control (the firmware's four values).  Posts; 0 or the error of the post. */
int32_t imJpegControlBand(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3);
/* Decoding and encoding between the two objects object0 and object1 (slots 0 and 1); the
   sync object control follows.  Posts; 0 or the error of the post. */
int32_t imJpegDecode(uint32_t thread, uint32_t object0, uint32_t object1, uint32_t control);
int32_t imJpegEncode(uint32_t thread, uint32_t object0, uint32_t object1, uint32_t control);
/* Frees the object.  Posts; 0 or the error of the post. */
int32_t imJpegFree(uint32_t thread, uint32_t jpeg);
/* A value of type of the object, returned and also stored (32 bits) at out when given.  Waits. */
int32_t imJpegInquire(uint32_t thread, uint32_t jpeg, uint32_t type, int32_t* out);
/* A table of type (IM_JPEG_QUANT_TABLE, IM_JPEG_AC_TABLE, IM_JPEG_DC_TABLE) and number table
   into the object (Put) or out of it (Get).  Put reads size bytes from bytes, size first cut
   to the type's limit (64, 178 or 33 bytes; another type: no limit).  Get writes at most the
   type's limit, or for another type at most *size bytes (*size on entry), into bytes and
   stores the number written at size (0 when the object has no such table).  Waits; 0 or the
   error code. */
int32_t imJpegPutTable(uint32_t thread, uint32_t jpeg, uint32_t type, uint32_t table, uint32_t size, const void* bytes);
int32_t imJpegGetTable(uint32_t thread, uint32_t jpeg, uint32_t type, uint32_t table, uint32_t* size, void* bytes);
/* The object as a JPEG file to an open file or a path (Save replaces an old file only by a
   complete one), or a JPEG file read from an open file into the object.  Host and waits;
   0 or the error code. */
int32_t imJpegWrite(uint32_t thread, FILE* file, uint32_t jpeg);
int32_t imJpegSave(uint32_t thread, const char* path, uint32_t jpeg);
int32_t imJpegRead(uint32_t thread, FILE* file, uint32_t jpeg);
/* A new object read from the JPEG file at path (only a regular file is read): its id, also
   stored through id, also when the file's contents fail to load (the error is in the
   last-error record); 0 when no object was made or the file cannot be opened.  Host and
   waits. */
uint32_t imJpegRestore(uint32_t thread, const char* path, uint32_t* id);
/* Buffer transfers of the object's data (the firmware's three values); the sync object
   control follows.  Posts; 0 or the error of the post. */
int32_t imJpegWriteBuf(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imJpegReadBuf(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);

/* ==== Pattern matching and blob analysis (run by a board's own processor; a host-served
   node answers IM_ERR_INVALID_OPCODE).  Arguments named p0, p1 ... are the firmware's: the
   library puts p<n> into slot n of the command unchanged, and the board's matcher and
   analyser give it its meaning.  A trailing control names a sync object that follows the
   command (0 none).  Width bits of inquiry and result types: 0x10000 int8, 0x20000 int16,
   0x40000 int32, 0x80000 float (the first found in this order); none: a double.  Calls
   that allocate, inquire or read results wait; the others post and return 0 or the error
   of the post ==== */

/* A set of models made at once: the number n made (0-14), and their ids written to
   ids[0 .. n-1] when ids is given (room for 14).  Waits. */
int32_t imPatAllocAutoModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5,
                            int32_t p6, uint32_t* ids);
/* A model, a rotated model or a result object: its id, also stored through id; 0 on
   failure.  Waits. */
uint32_t imPatAllocModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5,
                         uint32_t* id);
uint32_t imPatAllocRotatedModel(uint32_t thread, int32_t p0, double p1, int32_t p2, uint32_t* id);
uint32_t imPatAllocResult(uint32_t thread, int32_t p0, uint32_t* id);
int32_t imPatCopy(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imPatCopyResult(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imPatFindModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
/* Frees a model or result.  Posts. */
int32_t imPatFree(uint32_t thread, uint32_t id);
/* The board's 32-bit answer for result, also stored at out when given.  Waits. */
int32_t imPatGetNumber(uint32_t thread, uint32_t result, int32_t* out);
/* Results of result into out.  Type 0: one 16-byte record per result of the board's result
   block (16 x its count bytes; with no results only the first 2 bytes): a 16-bit count,
   two bytes left as they were, three 32-bit words.  Another type: up to 13 doubles (8
   bytes each), or, when the board hands the results over in a buffer, that whole buffer as
   imBufGet writes it (its bands x lines x line bytes).  0 or the error code.  Waits. */
int32_t imPatGetResult(uint32_t thread, uint32_t result, uint32_t type, void* out);
/* A value of type of the model, truncated.  Type 0 fills the 72-byte model description at
   out; another type stores the value at out as a double (8 bytes).  Waits. */
int32_t imPatInquire(uint32_t thread, uint32_t model, uint32_t type, void* out);
int32_t imPatPreprocModel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
/* A model file read from an open file (at its position) or a path into a new model, whose
   id is stored through model (0 on failure), or a model written to an open file or a path
   (Save replaces an old file only by a complete one; Restore reads only a regular file).
   Host and waits; 0, the error code (IM_ERR_FILE_ACCESS for a file that holds no valid
   model or cannot be opened, IM_ERR_NO_RESOURCES when the host has no memory for the
   model), or -1 when the node made no model from the file (its error in the last-error
   record). */
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
/* A blob feature list or result: its id, also stored through id; 0 on failure.  Waits. */
uint32_t imBlobAllocFeatureList(uint32_t thread, uint32_t* id);
uint32_t imBlobAllocResult(uint32_t thread, uint32_t* id);
int32_t imBlobCalculate(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);
int32_t imBlobControl(uint32_t thread, int32_t p0, int32_t p1, double p2);
int32_t imBlobFill(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
/* Frees a feature list or result.  Posts. */
int32_t imBlobFree(uint32_t thread, uint32_t id);
/* The board's 32-bit answer, also stored at out when given.  Waits. */
int32_t imBlobGetLabel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t* out);
int32_t imBlobGetNumber(uint32_t thread, uint32_t result, int32_t* out);
/* The result array the board gives, at most capacity bytes of it, into array.  0 or the
   error code.  Waits. */
int32_t imBlobGetResult(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, void* array, uint32_t capacity);
/* One result, truncated; stored at out at the width of type's bits (1, 2, 4, 4 or 8 bytes).
   Waits. */
int32_t imBlobGetResultSingle(uint32_t thread, int32_t p0, int32_t p1, uint32_t type, int32_t p3, void* out);
/* The run arrays the board gives: each of first, second and third that is given receives
   at most capacity bytes (the board learns which are given).  0 or the error code.  Waits. */
int32_t imBlobGetRuns(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, void* first, void* second, void* third,
                      uint32_t capacity);
/* A value of type of id, truncated; stored at out at the width of type's bits (1, 2, 4, 4
   or 8 bytes).  Waits. */
int32_t imBlobInquire(uint32_t thread, uint32_t id, uint32_t type, void* out);
int32_t imBlobLabel(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, uint32_t control);
int32_t imBlobSelect(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, double p5, double p6);
int32_t imBlobSelectFeature(uint32_t thread, int32_t p0, int32_t p1, int32_t p2);
int32_t imBlobSelectFeret(uint32_t thread, int32_t p0, double p1);
int32_t imBlobSelectMoment(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4);
int32_t imBlobCopyResult(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, uint32_t control);
int32_t imBlobCopyRuns(uint32_t thread, int32_t p0, int32_t p1, int32_t p2, int32_t p3, int32_t p4, uint32_t control);

#ifdef __cplusplus
}
#endif

#include "hlclib_proc.h"

#endif /* HLCLIB_H */
