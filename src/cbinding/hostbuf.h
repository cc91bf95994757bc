// Host memory of buffers on the caller's side: the contiguous DMA blocks of host DMA
// buffers with their band tables, the process-heap bands of paged buffers the library
// allocates, the lock count and page locking of paged buffers, and the four functions
// through which the page locking of the platform layer reaches buffers.
//
// Threads: any caller's thread.  Lock and unlock of every buffer follow one another
// through one process-wide lock, so that two threads locking the same buffer lock its
// pages once and count twice.
#pragma once

#include "hlc_arch.h"
#include "sysdma.h"

#include <cstdint>

struct _MP_BUF_ST;
struct _MSG_ST;

// The value that stands for "no value" in control messages.
constexpr double kHostBufControlDefault = 268435456.0;
// Spare bytes after each band of a paged buffer the library allocates.
constexpr uint32_t kHostBufPagedSlack = 4096;
// The info buffer that carries a host DMA band table to the node: one band of signed
// bytes, inline.
constexpr uint32_t kHostBufInfoType = 0x10000008u;
constexpr uint32_t kHostBufInfoLocation = 6;

// Bytes of a line of pixels: whole bytes per pixel, or for sizes of bits that are not a
// multiple of 8 the pixels packed into bytes (a 1-bit line of 100 pixels is 13 bytes).
uint32_t mp_hostbuf_line_bytes(uint32_t bits, int32_t sizeX);

// ---- host DMA ------------------------------------------------------------------------------
// A zeroed table of `bands` records, each band's DMA block of `bandBytes` allocated for the
// device's node.  0 with the table; -1 when the table could not be had, -2 when a block
// could not (the blocks taken are freed again, last first, and the table).
int32_t mp_hostbuf_dma_alloc(uint32_t device, uint32_t bandBytes, uint32_t bands, _MP_BAND_ST** table);
// Frees the blocks of a table (last first; records with handle 0 are skipped) and the table.
void mp_hostbuf_dma_release(uint32_t device, _MP_BAND_ST* table, uint32_t bands);
// Frees the DMA blocks of a host DMA root's bands (a child owns none): the number freed.
uint32_t mp_hostbuf_dma_free_root(uint32_t device, _MP_BUF_ST* buffer);

// ---- paged memory of the library -------------------------------------------------------------
// Pitch and band bytes of a paged buffer.  `perBand` is imBufAlloc's layout (pitch rounded
// up to a multiple of 4), otherwise the packed layout of imBufAlloc2d and imBufAlloc1d.
// 0, or -8 for a 1-bit type whose size X is not a multiple of 8, or sizes that do not fit.
int32_t mp_hostbuf_paged_layout(bool perBand, int32_t sizeX, int32_t sizeY, uint32_t type, uint32_t* pitch,
                                uint32_t* bandBytes);
// `bands` zeroed blocks of `bandBytes` from the process heap, their host addresses in
// `addresses`: 0, or -1 with nothing left allocated.
int32_t mp_hostbuf_paged_alloc(uint32_t bands, uint32_t bandBytes, uint32_t* addresses);
void mp_hostbuf_paged_release(const uint32_t* addresses, uint32_t bands);
// Returns the band memory of a library-allocated paged root to the process heap (a child's
// memory is its root's): the number of bands freed.
uint32_t mp_hostbuf_paged_free_root(_MP_BUF_ST* buffer);

// ---- lock and unlock ---------------------------------------------------------------------------
// What the caller of a lock or unlock does next.
enum HostBufStep : int32_t {
    kHostBufSendNothing = 0,    // done here (or refused), no message
    kHostBufSend = 1,           // send the control message
};
// Lock: a buffer that is not paged is refused on the console; a locked one only counts
// once more; otherwise its pages are locked and `listId` gets the page-list buffer that
// travels with the message.  A failed lock logs -12 "Cannot lock buffer" on the message
// and leaves the count as it was.
HostBufStep mp_hostbuf_lock(_MSG_ST* msg, uint32_t device, _MP_BUF_ST* buffer, uint32_t* listId);
// Unlock: a buffer that is not paged is refused on the console; the count drops by 1 and
// at 0 a child unlocks its parent and a root its pages (failure: -12 "Cannot unlock
// buffer").  A buffer that is not locked logs -12 "Cannot unlock buffer" and sends nothing.
HostBufStep mp_hostbuf_unlock(_MSG_ST* msg, uint32_t device, _MP_BUF_ST* buffer);

// ---- what the platform's page locking calls (the library wires them) -------------------------
// `system` is the device id; `buffer` the descriptor's host address.  0 with the bands'
// host addresses and byte lengths (pitch x size Y) and the parent's id.
int HostBufDescribe(uint32_t system, uint32_t buffer, SysBufferInfo* info);
// An inline buffer of `lines` lines of `words` 32-bit words: its id (0 on failure) and the
// host address of its first line.
uint32_t HostBufAllocList(uint32_t system, uint32_t words, uint32_t lines, uint32_t** address);
void HostBufFree(uint32_t system, uint32_t id);
void HostBufControl(uint32_t system, uint32_t id, int32_t control, double value);
