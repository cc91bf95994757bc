/* hlclib.h: the programming interface of HLCLIB, the frame-grabber board runtime library.
 *
 * A program opens a board (a node) with imDevAlloc, works with thread objects, sync
 * objects and buffers of that node, and closes it with imDevFree.  The boards, systems
 * and settings come from the ini file named by the environment variable HLCINIPATH.
 * Errors go to a process-wide last-error record (imAppGetError) and to the error hook
 * installed with imAppCatchError.  Ids are 32-bit values: a device, thread or buffer id
 * carries its node number in bits 16-23.
 *
 * 32-bit x86 only: build with the flags of pkg-config hlclib (-m32).
 */
#ifndef HLCLIB_H
#define HLCLIB_H

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Records the library keeps; a program passes them back by pointer only. */
typedef struct _MSG_ST _MSG_ST;                 /* one 256-byte command message */
typedef struct _MSG_ERR_ST _MSG_ERR_ST;         /* an error record */
typedef struct _NODE_ST _NODE_ST;               /* the global node state */
typedef struct _NODE_MAIN_RESOURCE_ST _NODE_MAIN_RESOURCE_ST; /* a node record */
typedef struct _MP_BUF_ST _MP_BUF_ST;           /* a buffer descriptor */
typedef struct _MP_FIELD_ST _MP_FIELD_ST;       /* a keyed field of a buffer */
typedef struct heap heap;                       /* a board-memory heap */
typedef struct _HALCYRA_INI_ST _HALCYRA_INI_ST; /* an ini record */
typedef struct _HALCYRA_HOOK_LIST _HALCYRA_HOOK_LIST; /* the hooks of one interrupt source */
typedef struct _HALCYRA_HOOK_REC _HALCYRA_HOOK_REC;   /* one hooked function */
typedef struct _PCI_FOUND_DEVICE _PCI_FOUND_DEVICE;   /* a board found on PCI */

/* The error hook: called with the hook type, the error code and the user word given to
   imAppCatchError. */
typedef int32_t (*ImErrorHook)(int32_t hookType, int32_t errorCode, uint32_t user);
/* An interrupt hook: called on the node's interrupt thread with the source's hook list. */
typedef void (*HalcyraHookFunction)(_HALCYRA_HOOK_LIST* list);

/* Error codes (negative); imAppGetError gives the text. */
#define IM_ERR_BUFFER_ID      (-1)  /* "Invalid buffer ID" */
#define IM_ERR_DEVICE_ID      (-2)  /* "Invalid device ID, or no such device" */
#define IM_ERR_FILE           (-3)  /* "File access error" */
#define IM_ERR_RESOURCES      (-4)  /* "Insufficient resources to carry out the operation" */
#define IM_ERR_NOT_PRESENT    (-5)  /* "Referenced item not present" */
#define IM_ERR_OPCODE         (-6)  /* "Invalid opcode received" */
#define IM_ERR_OSB_ID         (-7)  /* "Invalid OSB ID" */
#define IM_ERR_PARAMETER      (-8)  /* "Parameter invalid or unacceptable" */
#define IM_ERR_RESTRICTION    (-9)  /* "Operation unable to execute due to a restriction" */
#define IM_ERR_THREAD_ID      (-10) /* "Invalid thread ID" */
#define IM_ERR_TIMEOUT        (-11) /* "Board did not respond within the timeout period" */
#define IM_ERR_SYSTEM         (-12) /* "No such system" */
#define IM_ERR_HALTED         (-13) /* "Function halted by imThrHalt()" */
#define IM_ERR_BUFFER_ATTR    (-14) /* "Unacceptable buffer attribute (size, type, etc.)" */
#define IM_ERR_MISC           (-15) /* "Miscellaneous error" */

/* ---- Command messages: building, posting and reading a message ---- */
uint32_t im_msg_start(_MSG_ST* msg, uint32_t opcode, uint32_t count, const char* function);
void im_msg_send(_MSG_ST* msg, uint32_t deviceId, uint32_t threadId, uint32_t control, uint32_t syncType);
int32_t im_msg_cmd_error(const _MSG_ST* msg);
void im_msg_log_error(_MSG_ST* msg, int32_t code, const char* text);
void im_msg_end(_MSG_ST* msg);
int32_t im_msg_get_error_item(_MSG_ST* msg, uint32_t mode, void* out);
int im_msg_hook_handler(uint32_t node);

/* ---- Command messages: parameter slots (a message carrying an error reads as 0) ---- */
void im_msg_put_char(_MSG_ST* msg, uint32_t slot, int8_t value);
void im_msg_put_short(_MSG_ST* msg, uint32_t slot, int16_t value);
void im_msg_put_long(_MSG_ST* msg, uint32_t slot, int32_t value);
void im_msg_put_double(_MSG_ST* msg, uint32_t slot, double value);
void im_msg_put_float(_MSG_ST* msg, uint32_t slot, float value);
void im_msg_put_string(_MSG_ST* msg, uint32_t slot, const char* text);
uint32_t im_msg_put_array(_MSG_ST* msg, uint32_t slot, const void* bytes, uint32_t length);
int8_t im_msg_get_char(const _MSG_ST* msg, uint32_t slot);
int16_t im_msg_get_short(const _MSG_ST* msg, uint32_t slot);
int32_t im_msg_get_long(const _MSG_ST* msg, uint32_t slot);
double im_msg_get_double(const _MSG_ST* msg, uint32_t slot);
float im_msg_get_float(const _MSG_ST* msg, uint32_t slot);
uint32_t im_msg_get_string(const _MSG_ST* msg, uint32_t slot, char* buffer, uint32_t size);
uint32_t im_msg_get_array(const _MSG_ST* msg, uint32_t slot, void* buffer, uint32_t length);

/* ---- Devices: open, query and close one board (node) of a system ---- */
uint32_t imDevAlloc(uint32_t system, uint32_t board, uint32_t initMode, uint32_t loadOption, uint32_t* device);
int32_t imDevFree(uint32_t device);
uint32_t imDevInquire(uint32_t device, uint32_t type, uint32_t* value);
int32_t imDevControl(uint32_t device, uint32_t type, double value);

/* ---- Systems and the application: installed nodes, node clock, error record and hook ---- */
int32_t imSysInquire(int32_t system, int32_t type, void* out);
double imSysClock(uint32_t thread, double start);
int32_t imSysTimeStamp(uint32_t thread, uint32_t buffer, uint32_t key, double start);
int32_t imSysGetMemoryMap(uint32_t thread, int32_t mode, void* out);
void imSysDiag(int32_t system, int32_t board, int32_t mode, const char* path);
void imAppCatchError(uint32_t application, ImErrorHook hook, uint32_t user);
void imAppControl(int32_t type, double value);
int32_t imAppInquire(int32_t type, void* out);
int32_t imAppGetError(int32_t mode, void* out);

/* ---- Sync objects: how far an asynchronous command has come ---- */
uint32_t imSyncAlloc(uint32_t thread, uint32_t* sync);
int32_t imSyncFree(uint32_t thread, uint32_t sync);
int32_t imSyncGetError(uint32_t thread, uint32_t sync, uint32_t mode, void* out);
int32_t imSyncHost(uint32_t thread, uint32_t sync, uint32_t state);
int32_t imSyncThread(uint32_t thread, uint32_t sync, uint32_t state);
int32_t imSyncControl(uint32_t thread, uint32_t sync, uint32_t type, double value);
int32_t imThrNop(uint32_t thread, uint32_t sync);

/* ---- Image processing (executed by the firmware of a board with its own processor; posted without waiting) ---- */
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

/* ---- Thread objects: command queues on a node ---- */
uint32_t imThrAlloc(uint32_t device, uint32_t attributes, uint32_t* thread);
int32_t imThrCancel(uint32_t thread);
int32_t imThrControl(uint32_t thread, uint32_t type, double value);
int32_t imThrFree(uint32_t thread);
int32_t imThrGetError(uint32_t thread, uint32_t mode, void* out);
int32_t imThrHalt(uint32_t thread, int32_t argument);
int32_t imThrInquire(uint32_t thread, uint32_t type, void* out);

/* ---- Error records ---- */
const char* mp_err_default(int32_t code);
void mp_err_log(_MSG_ERR_ST* record, int32_t code, const char* text, const char* function);
void mp_err_update(const _MSG_ERR_ST* source, _MSG_ERR_ST* destination);
void mp_err_copy(const _MSG_ERR_ST* source, _MSG_ERR_ST* destination);
const char* mp_err_msg(const _MSG_ERR_ST* record);
const char* mp_err_func(const _MSG_ERR_ST* record);

/* ---- Node services: hardware lock, sections, signals and the library clock ---- */
int mp_sys_lock_check(uint32_t nodeOrRecord);
int mp_sys_lock_wait(uint32_t node);
void mp_sys_lock_reset(uint32_t nodeOrRecord);
int mp_sys_section_check(uint32_t node, uint32_t bits);
int mp_sys_section_wait(uint32_t node, uint32_t bits);
int mp_sys_section_unlock(uint32_t node, uint32_t bits);
int mp_sys_sema_wait(uint32_t node, uint32_t signal);
int mp_sys_sema_check(uint32_t node, uint32_t signal);
int mp_sys_sema_reset(uint32_t node, uint32_t signal);
int mp_sys_sema_signal(uint32_t node, uint32_t signal);
double mp_time_clock(double start);
void mp_time_sleep(double seconds);
double mp_time_cpu_frequency(void);
void mp_time_calibrate(void);
void mp_time_reset_prev_time(void);

/* ---- Node services: node records, board identification and address conversion (0 when the node or address is unknown) ---- */
/* The global node state: an array of 32-bit words, null until the first node is opened
   and again after the last one is closed. */
extern _NODE_ST* imNodeSt;
_NODE_MAIN_RESOURCE_ST* mp_sys_node_resource_ptr(uint32_t node);
uint32_t mp_sys_external_board_id(_NODE_MAIN_RESOURCE_ST* record);
uint32_t mp_sys_get_product_id(const _PCI_FOUND_DEVICE* device, uint32_t processor);
uint32_t mp_sys_get_board_mem_size(uint32_t model, const void* config);
uint32_t mp_util_pci_to_mvp(uint32_t node, uint32_t bus);
uint32_t mp_util_mvp_to_pci(uint32_t node, uint32_t processor);
uint32_t mp_util_mvp_to_mvp(uint32_t destination, uint32_t source, uint32_t processor);
uint32_t mp_util_pci_to_virtual(uint32_t node, uint32_t bus);
uint32_t mp_util_virtual_to_pci(uint32_t node, uint32_t host);
uint32_t mp_util_mvp_to_virtual(uint32_t node, uint32_t processor);
uint32_t mp_util_virtual_to_mvp(uint32_t node, uint32_t host);
uint32_t mp_util_translate_pstr(uint32_t node, uint32_t processor);

/* ---- Child buffers, keyed fields and pixels ---- */
_MP_BUF_ST* mp_buf_child(_MP_BUF_ST* parent, int32_t offsetX, int32_t offsetY, int32_t sizeX, int32_t sizeY);
_MP_BUF_ST* mp_buf_child_band(_MP_BUF_ST* parent, int32_t band);
int mp_buf_child_move(_MP_BUF_ST* child, int32_t deltaX, int32_t deltaY, int32_t sizeX, int32_t sizeY);
int mp_buf_modify(_MP_BUF_ST* buffer, int32_t sizeX, int32_t sizeY, int32_t type);
int mp_buf_put_field(_MP_BUF_ST* buffer, uint32_t key, double value);
int mp_buf_remove_field(_MP_BUF_ST* buffer, uint32_t key);
_MP_FIELD_ST* mp_buf_find_field(const _MP_BUF_ST* buffer, uint32_t key, _MP_FIELD_ST** previous);
int mp_buf_next_field(const _MP_BUF_ST* buffer, _MP_FIELD_ST** cursor, uint32_t* key, double* value);
int mp_buf_get_next_field(const _MP_BUF_ST* buffer, _MP_FIELD_ST** cursor, uint32_t* key, int32_t* value);
int mp_buf_get_field_double(const _MP_BUF_ST* buffer, uint32_t key, double* value);
int mp_buf_get_field(const _MP_BUF_ST* buffer, uint32_t key, int32_t* value);
_MP_FIELD_ST* mp_buf_field(const _MP_BUF_ST* buffer);
_MP_FIELD_ST* mp_buf_field_link(const _MP_BUF_ST* buffer, const _MP_FIELD_ST* field);
double mp_buf_field_value(const _MP_FIELD_ST* field);
double mp_buf_get_pix_double(const _MP_BUF_ST* buffer, uint32_t band, int32_t x, int32_t y);
int32_t mp_buf_get_pix(const _MP_BUF_ST* buffer, uint32_t band, int32_t x, int32_t y);
void mp_buf_put_pix(_MP_BUF_ST* buffer, uint32_t band, int32_t x, int32_t y, double value);
void mp_buf_lock_paged(_MP_BUF_ST* buffer, const _MP_BUF_ST* pageList);
void mp_buf_unlock_paged(_MP_BUF_ST* buffer);

/* ---- Buffer descriptors and ids ---- */
uint32_t mp_buf_descriptor_bytes(uint32_t bands);
uint32_t mp_buf_new_pitch(uint32_t bits, uint32_t sizeX);
uint32_t mp_buf_id_kind_bits(uint32_t location);
int mp_buf_is_remote(uint32_t node);
void* mp_buf_desc_alloc(uint32_t node, uint32_t bytes);
void mp_buf_desc_free(uint32_t node, void* block);
void mp_buf_sema_wait(uint32_t node);
void mp_buf_sema_signal(uint32_t node);
uint32_t mp_buf_current_owner(void);
uint32_t mp_buf_ref_to_id(const _MP_BUF_ST* reference);
uint32_t mp_buf_board_to_host(const _MP_BUF_ST* buffer, uint32_t address);
void mp_buf_exit_all(void);
void mp_buf_exit_node(uint32_t node);
int mp_buf_init(uint32_t node, uint32_t capacity, uint32_t step);
_MP_BUF_ST* mp_buf_alloc_on_node(uint32_t node, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type, uint32_t location);
_MP_BUF_ST* mp_buf_create(uint32_t node, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type, uint32_t memoryKind, uint32_t pitch, const uint32_t* addresses);
uint32_t mp_buf_alloc_id(_MP_BUF_ST* buffer);
int mp_buf_is_id_valid(uint32_t id);
uint32_t mp_buf_id_slots(uint32_t node);
_MP_BUF_ST* mp_buf_id_slot(uint32_t node, uint32_t slot);
_MP_BUF_ST* mp_buf_pointer(uint32_t id);
void mp_buf_free(_MP_BUF_ST* buffer);
int mp_buf_valid(const _MP_BUF_ST* reference, uint32_t expected);
void* mp_buf_address_band_internal(const _MP_BUF_ST* buffer, uint32_t band);
_MP_BUF_ST* mp_buf_parent(const _MP_BUF_ST* buffer);
uint32_t mp_buf_buf_pointer(const _MP_BUF_ST* buffer);
void mp_buf_flush_buf_st(void);

/* ---- Board-memory heaps ---- */
heap* mp_mem_new_heap(heap* record, uint32_t base, uint32_t size, uint32_t tag);
void mp_mem_delete_heap(heap* h);
uint32_t mp_mem_malloc(heap* h, uint32_t size);
uint32_t mp_mem_memalign(heap* h, uint32_t alignment, uint32_t size);
void mp_mem_free(heap* h, uint32_t address);
void mp_mem_lock(void);
void mp_mem_unlock(void);
uint32_t mp_mem_heap_start(const heap* h);

/* ---- Grab-module register access (select, write shadows, release) ---- */
void SetToOrlo(uint32_t node, uint32_t orlo, uint32_t* token);
void ReleaseAccessOrlo(void);
int WhichOrlo(void);
void SetToPimbra(uint32_t selection);
void SetToExt(uint32_t node);
void SetShInHw(uint32_t* slot);
void SetExtShInHw(uint32_t* slot);
uint32_t ReadVExtRegHW(uint32_t address);

/* ---- The ini file (node 0 is the global record) ---- */
_HALCYRA_INI_ST* HalcyraIniGetFile(int quiet);
_HALCYRA_INI_ST* HalcyraIniForThisNode(uint32_t node);
uint32_t HalcyraIniReadTag(uint32_t node, const char* keyword, uint32_t* out);
uint32_t HalcyraIniWriteTag(uint32_t node, const char* keyword, uint32_t value);
const char* HalcyraIniReadText(uint32_t node, const char* keyword);
void HalcyraIniFree(_HALCYRA_INI_ST* record);

/* ---- Interrupt hooks (0 success, 1 failure; queries answer 0 or null for a null argument) ---- */
int HalcyraHookInterruptFunction(uint32_t node, HalcyraHookFunction function, int32_t source, void** semaphore, void* userData);
_HALCYRA_HOOK_LIST* HalcyraGetHookList(uint32_t node, int32_t source);
_HALCYRA_HOOK_REC* HalcyraGetNextHookFunction(_HALCYRA_HOOK_LIST* list, _HALCYRA_HOOK_REC** cursor);
void* HalcyraGetHandleEvent(_HALCYRA_HOOK_REC* record);
HalcyraHookFunction HalcyraGetFuncPtr(_HALCYRA_HOOK_REC* record);
void* HalcyraGetUsrDataPtr(_HALCYRA_HOOK_REC* record);
uint32_t HalcyraGetHookInterruptType(_HALCYRA_HOOK_LIST* list);
uint32_t HalcyraGetInterruptType(_HALCYRA_HOOK_REC* record);

/* ---- PCI configuration space (0 success, 1 failure) ---- */
int PciConfigReadByte(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint8_t* value);
int PciConfigReadWord(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint16_t* value);
int PciConfigReadDword(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t* value);
int PciConfigWriteByte(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint8_t value);
int PciConfigWriteWord(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint16_t value);
int PciConfigWriteDword(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t value);
int PciConfigRead32(uint32_t entry, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t* value);
int PciConfigWrite32(uint32_t entry, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t value);
int PciConfigReadInt(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t* value);
int PciConfigWriteInt(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t value);
int PciConfigReadIo(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t* value);
int PciConfigWriteIo(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t value);
int PciSetHwInt(uint8_t bus, uint8_t deviceFunction, uint8_t pin, uint8_t irq);

/* ---- Display controller registers (Pyx chip, DAC, VGA-compatible registers) ---- */
uint32_t PyxReadRegisterByByte(uint32_t node, uint32_t offset);
uint32_t PyxReadRegisterByShort(uint32_t node, uint32_t offset);
uint32_t PyxReadRegisterByLong(uint32_t node, uint32_t offset);
void PyxWriteRegisterByByte(uint32_t node, uint32_t offset, uint32_t value);
void PyxWriteRegisterByShort(uint32_t node, uint32_t offset, uint32_t value);
void PyxWriteRegisterByLong(uint32_t node, uint32_t offset, uint32_t value);
uint32_t DacReadRegisterByLongIndex(uint32_t node, uint32_t reg, uint32_t index);
uint32_t DacReadRegisterByByte(uint32_t node, uint32_t reg);
void DacWriteRegisterByLongIndex(uint32_t node, uint32_t reg, uint32_t index, uint32_t value);
void DacWriteRegisterByByte(uint32_t node, uint32_t reg, uint32_t value);
void DacWriteRegisterByLong(uint32_t node, uint32_t reg, uint32_t value);
uint32_t VgaReadRegisterByByteIndex(uint32_t node, uint32_t offset, uint32_t index);
uint32_t VgaReadRegisterByByte(uint32_t node, uint32_t offset);
void VgaWriteRegisterByByteIndex(uint32_t node, uint32_t offset, uint32_t index, uint32_t value);
void VgaWriteRegisterByByte(uint32_t node, uint32_t offset, uint32_t value);

#ifdef __cplusplus
}
#endif

#endif /* HLCLIB_H */
