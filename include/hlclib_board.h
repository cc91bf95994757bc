/* hlclib_board.h: the board-level services HLCLIB also exports, for tools that work below the
 * programming interface of hlclib.h: command messages, error records, node services and
 * the library clock, node records and address conversion, buffer descriptors, fields and
 * pixels, board-memory heaps, grab-module and display registers, the ini file, interrupt
 * hooks, PCI configuration space, the grab modules' serial chips and EEPROMs and the ring
 * snooper.
 *
 * hlclib.h does not include this file; a program that needs these services includes it
 * after (or instead of) hlclib.h.  These functions do their work on the calling thread
 * unless a line says otherwise, and report by their result only.
 *
 * 32-bit x86 only: build with the flags of `pkg-config --cflags --libs hlclib` (-m32).
 */
#ifndef HLCLIB_BOARD_H
#define HLCLIB_BOARD_H

#if defined(__x86_64__) || defined(_M_X64) || defined(__aarch64__) || \
    (defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ != 4)
#error "hlclib_board.h: HLCLIB is a 32-bit x86 library; compile with -m32 (the flags of pkg-config --cflags hlclib)"
#endif

#include "hlclib_defs.h"

#include <stdint.h>
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

/* An interrupt hook: called on the node's interrupt thread with its source's hook list. */
typedef void (*HalcyraHookFunction)(_HALCYRA_HOOK_LIST* list);

/* The message layout of a formatted write (imBufPutFormatted): size X, bits, lines and
   address of the buffer, asked of the board's processor.  Waits. */
int32_t im_buf_get_formatted_inquire(uint32_t device, uint32_t id, uint32_t results[4]);

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

/* ==== Ring snooper ==== */
/* Records a host-served ring slot's status change (10, 20, 25, 50) for a snooping tool. */
void mp_msg_signal_snooper(uint32_t slotBody, uint32_t status);

#ifdef __cplusplus
}
#endif

#endif /* HLCLIB_BOARD_H */
