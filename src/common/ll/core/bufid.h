// The node's buffer service: buffer descriptors, their ids, their band memory in the
// node's memory kinds, lookup, validation and release.
//
// A descriptor is a block of 32-bit words from the node's descriptor heap (host DMA
// memory) followed by its band table.  Ids carry the id-table slot + 1 in bits 0-15, the
// node in bits 16-23 and memory-kind bits in 24-27; bit 30 marks a predefined id.  A
// descriptor reference below 225 stands for the predefined id (reference | 0x40000000).
#pragma once

#include "hlc_arch.h"
#include "sysdma.h"

#include <cstddef>
#include <cstdint>

struct heap;
struct _NODE_MAIN_RESOURCE_ST;

using MP_BUF_ID = uint32_t;

// Object kinds (word 5).
constexpr uint32_t kBufKindImage = 1;
constexpr uint32_t kBufKindCamera = 2;
constexpr uint32_t kBufKindDigitizer = 5;
constexpr uint32_t kBufKindDisplay = 6;
constexpr uint32_t kBufKindSync = 7;
constexpr uint32_t kBufKindThread = 8;

// Type flags.
constexpr uint32_t kBufTypeSigned = 0x10000000u;
constexpr uint32_t kBufTypeFloat = 0x20000000u;
constexpr uint32_t kBufTypeBinary = 0x40000000u;
constexpr uint32_t kBufAlign64K = 0x80000000u;   // allocation type bit: 64 KB alignment

// Locations.
constexpr uint32_t kLocSdram = 1;
constexpr uint32_t kLocAutoDisplay = 2;
constexpr uint32_t kLocHostDma = 3;
constexpr uint32_t kLocPaged = 4;
constexpr uint32_t kLocInline = 6;
constexpr uint32_t kLocDefault = 0x10000000u;
constexpr uint32_t kLocNoBands = 0x40000001u;
constexpr uint32_t kLocDisplayAny = 0x40000020u;
constexpr uint32_t kLocDisplay0 = 0x40000040u;
constexpr uint32_t kLocDisplay2M = 0x40000050u;
constexpr uint32_t kLocDisplay4M = 0x40000060u;
constexpr uint32_t kLocControllerHeap = 0x40000070u;
constexpr uint32_t kLocFixedBit = 0x20000000u;

// Id bits.
constexpr uint32_t kIdSlotMask = 0xFFFFu;
constexpr uint32_t kIdPredefined = 0x40000000u;
constexpr uint32_t kIdKindHostDma = 0x1000000u;
constexpr uint32_t kIdKindPaged = 0xC000000u;
constexpr uint32_t kIdKindController = 0x7000000u;
constexpr uint32_t kIdKindOther = 0x2000000u;
constexpr uint32_t kIdGivenMemory = 0x4000000u;
constexpr uint32_t kIdLibraryMemory = 0x5000000u;

constexpr uint32_t kPredefEntries = 225;
constexpr uint32_t kBufRemoteThread = 0x40000010u;
constexpr uint32_t kBufKeyTimers = IM_CTL_NODE_RECORDS;
constexpr uint32_t kTimerRecordMagic = 0xCAFEFADEu;

// A keyed field: 64 bytes from the descriptor heap, of which four words are used.
struct _MP_FIELD_ST {
    _MP_FIELD_ST* link;   // next field, null at the end
    uint32_t key;
    uint32_t value[2];    // a double, kept in two words
    uint32_t reserved[12];
};
static_assert(sizeof(_MP_FIELD_ST) == 64, "field records are 64 bytes");
static_assert(offsetof(_MP_FIELD_ST, key) == 4, "field key at word 1");
static_assert(offsetof(_MP_FIELD_ST, value) == 8, "field value at words 2-3");

struct _MP_BUF_ST {
    uint32_t node;              // word 0 owning node; bit 31 masked off on use
    uint32_t id;                // word 1 MP_BUF_ID, 0 until given
    uint32_t owner;             // word 2 thread object that made it
    uint32_t type;              // word 3
    uint32_t kind;              // word 4
    int32_t sizeX;              // word 5
    int32_t sizeY;              // word 6
    uint32_t bits;              // word 7 type & 255
    uint32_t typeClass;         // word 8
    uint32_t pitch;             // word 9 bytes per line
    uint32_t bands;             // word 10
    uint32_t location;          // word 11
    uint32_t firstBand;         // word 12
    uint32_t busAddress;        // word 13 of the descriptor itself
    uint32_t boardSpace;        // word 14 set by board firmware only
    _MP_BAND_ST* bandTable;     // word 15
    _MP_BUF_ST* parent;         // word 16 the root of a child
    int32_t offsetX;            // word 17
    int32_t offsetY;            // word 18
    int32_t children;           // word 19
    uint32_t reserved;          // word 20
    uint32_t fieldCount;        // word 21
    _MP_FIELD_ST* fieldList;    // word 22
    uint32_t lockCount;         // word 23
};
#define HLC_BUF_WORD(field, word) static_assert(offsetof(_MP_BUF_ST, field) == (word) * 4, #field " at word " #word)
HLC_BUF_WORD(node, 0);
HLC_BUF_WORD(id, 1);
HLC_BUF_WORD(owner, 2);
HLC_BUF_WORD(type, 3);
HLC_BUF_WORD(kind, 4);
HLC_BUF_WORD(sizeX, 5);
HLC_BUF_WORD(sizeY, 6);
HLC_BUF_WORD(bits, 7);
HLC_BUF_WORD(typeClass, 8);
HLC_BUF_WORD(pitch, 9);
HLC_BUF_WORD(bands, 10);
HLC_BUF_WORD(location, 11);
HLC_BUF_WORD(firstBand, 12);
HLC_BUF_WORD(busAddress, 13);
HLC_BUF_WORD(boardSpace, 14);
HLC_BUF_WORD(bandTable, 15);
HLC_BUF_WORD(parent, 16);
HLC_BUF_WORD(offsetX, 17);
HLC_BUF_WORD(offsetY, 18);
HLC_BUF_WORD(children, 19);
HLC_BUF_WORD(reserved, 20);
HLC_BUF_WORD(fieldCount, 21);
HLC_BUF_WORD(fieldList, 22);
HLC_BUF_WORD(lockCount, 23);
#undef HLC_BUF_WORD
static_assert(sizeof(_MP_BUF_ST) == 96, "descriptor headers are 24 words");

// Predefined descriptors: a descriptor address, 0 (none) or 1 (present, no descriptor).
extern uint32_t PreDefBufAddress[kPredefEntries];

// ---- sizes ---------------------------------------------------------------------------
// Bytes of a descriptor block with n bands (the band table included).
uint32_t mp_buf_descriptor_bytes(uint32_t bands);
// Pitch of a new buffer: the line's bytes rounded up to a multiple of 4.
uint32_t mp_buf_new_pitch(uint32_t bits, uint32_t sizeX);
// Memory-kind bits of an id for a location.
uint32_t mp_buf_id_kind_bits(uint32_t location);
// Whether a type names pixels the library has: 8, 16 or 32 bits unsigned or signed, 32 or
// 64 bits floating point, one bit (0x40000001) or packed colour (0x40000018, 0x40000030);
// the 64 KB alignment bit aside.
bool mp_buf_type_known(uint32_t type);
// Whether a location is one of the location table's (the fixed frame-buffer locations
// with any low four bits).  The allocation itself takes any other value as the band's
// address; the exports refuse it.
bool mp_buf_location_known(uint32_t location);

// ---- seams ---------------------------------------------------------------------------
// A synchronous command message to thread object 0x40000010 of a node that has its own
// processor: opcode, name, parameter words; the reply words are written to reply.
// 0 when the node answered.  The default answers nothing (-1).
using MpBufRemoteFn = int (*)(uint32_t node, uint32_t opcode, const char* name, const uint32_t* params,
                              uint32_t count, uint32_t* reply, uint32_t replyWords);
MpBufRemoteFn mp_buf_set_remote(MpBufRemoteFn fn);
// The contiguous host DMA block of a node's descriptor heap: non-zero handle on success,
// band filled with its host (mapped) and physical addresses.  Default SysDmaBufferAlloc.
using MpBufDmaFn = int32_t (*)(uint32_t node, uint32_t bytes, _MP_BAND_ST* band);
MpBufDmaFn mp_buf_set_descriptor_memory(MpBufDmaFn fn);

// ---- node helpers used by the buffer service ------------------------------------------
// 1 when operations on descriptors of the node are sent to the node's processor.
int mp_buf_is_remote(uint32_t node);
int mp_buf_call_remote(uint32_t node, uint32_t opcode, const char* name, const uint32_t* params, uint32_t count,
                       uint32_t* reply, uint32_t replyWords);
// Descriptor heap of a node (made on first use); 0 / null on failure.
void* mp_buf_desc_alloc(uint32_t node, uint32_t bytes);
void mp_buf_desc_free(uint32_t node, void* block);
// Takes and releases the node's buffer semaphore (nothing outside the kernel).
void mp_buf_sema_wait(uint32_t node);
void mp_buf_sema_signal(uint32_t node);
// The id of the thread object of the current task, 0 outside the kernel.
uint32_t mp_buf_current_owner();
// A reference to an id: null 0, below 225 predefined, else the descriptor's id.
uint32_t mp_buf_ref_to_id(const _MP_BUF_ST* reference);
// Converts a board-space word of a flagged descriptor to a host address.
uint32_t mp_buf_board_to_host(const _MP_BUF_ST* buffer, uint32_t address);
// The address of a band as the display Orlo's engines see their own memory (the window
// onto that memory maps the top of the Orlo's region); 0 for a band outside that memory.
// A display heap's bus address is counted from the display chip's frame window, which the
// Orlo does not reach.
uint32_t mp_buf_display_orlo_address(const _MP_BUF_ST* buffer, uint32_t band);
// Moves a grab's frame registers for a destination in the display Orlo's memory from the
// bands' bus addresses to the Orlo's own: frame[0] holds the frame start (band 0), frame[1..3]
// the offsets of bands 1-3 from it, each an address in the low 26 bits (the bits above are
// kept).  The offsets change only by what differs between the bands' moves.  Nothing
// changes for a buffer outside that memory.
void mp_buf_place_on_display_orlo(const _MP_BUF_ST* buffer, uint32_t* const frame[4]);
// Forgets every id table and descriptor heap (the heaps' DMA blocks are released).
void mp_buf_exit_all();
// The id table, descriptor heap and descriptor memory of one node, with every buffer the
// table still names (the node's runtime end).
void mp_buf_exit_node(uint32_t node);

// ---- operations ----------------------------------------------------------------------
HLC_API int mp_buf_init(uint32_t node, uint32_t capacity, uint32_t step);
HLC_API _MP_BUF_ST* mp_buf_alloc_on_node(uint32_t node, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type,
                                 uint32_t location);
HLC_API _MP_BUF_ST* mp_buf_create(uint32_t node, int32_t sizeX, int32_t sizeY, uint32_t bands, uint32_t type,
                          uint32_t memoryKind, uint32_t pitch, const uint32_t* addresses);
HLC_API MP_BUF_ID mp_buf_alloc_id(_MP_BUF_ST* buffer);
HLC_API int mp_buf_is_id_valid(MP_BUF_ID id);
// The node's id table: its number of slots (0 without a table) and the descriptor in a
// slot (null when empty or outside the table).
uint32_t mp_buf_id_slots(uint32_t node);
_MP_BUF_ST* mp_buf_id_slot(uint32_t node, uint32_t slot);
HLC_API _MP_BUF_ST* mp_buf_pointer(MP_BUF_ID id);
HLC_API void mp_buf_free(_MP_BUF_ST* buffer);
HLC_API int mp_buf_valid(const _MP_BUF_ST* reference, uint32_t expected);
HLC_API void* mp_buf_address_band_internal(const _MP_BUF_ST* buffer, uint32_t band);
HLC_API _MP_BUF_ST* mp_buf_parent(const _MP_BUF_ST* buffer);
HLC_API uint32_t mp_buf_buf_pointer(const _MP_BUF_ST* buffer);
HLC_API void mp_buf_flush_buf_st();
