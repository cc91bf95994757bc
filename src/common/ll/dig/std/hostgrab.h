// Grabs into host DMA memory through the on-board temporary buffers.
//
// The Orlo grabs a block of lines at a time into one half of the grab path's temporary
// buffers while its VM engine copies the previous block on to host memory.  hostGrab
// builds the two register lists that drive this (the grab list, played by the grab
// engine's list engine 0x2008/0x2010, and the VM list, played by the VM engine's list
// engine 0x2060/0x2068), from the block division of hostblocks.h, and chains a new grab
// behind one that still runs.  How the lists are laid out is told at the top of
// hostgrab.cpp.
//
// Each OS thread that serves host grabs keeps its own record (_NODE_GRAB_GLOBALS) with two
// list sets, used alternately, so that a grab can be queued while the previous one runs.
// Records are freed when their thread ends and when the library unloads.
#pragma once

#include "hlc_arch.h"
#include "hostblocks.h"
#include "sysdma.h"

#include <cstdint>

struct MP_RESOURCE_ST;
struct SERVINFO_ST;
struct _MP_BUF_ST;
struct _MP_CAM_ST_0;

// The per-thread host-grab record: 28 words of state, the owning OS thread and the links.
struct _NODE_GRAB_GLOBALS {
    void* work;                    // 0 work allocation of the grab being built
    uint32_t selector;             // 1 list set of the current grab (0 or 1)
    uint32_t grabList[2];          // 2-3 host addresses of the two grab lists
    uint32_t vmList[2];            // 4-5 host addresses of the two VM lists
    uint32_t grabBus[2];           // 6-7 their bus addresses
    uint32_t vmBus[2];             // 8-9
    uint32_t chainBus[2];          // 10-11 bus address of each set's chaining word
    uint32_t* chainWord[2];        // 12-13 host address of each set's chaining word
    uint32_t grabCapacity;         // 14 entries of one grab list
    uint32_t vmCapacity;           // 15 entries of one VM list
    uint32_t started;              // 16 a grab of this record was started and may still run
    uint32_t queued;               // 17 the last grab was chained behind a running one
    uint32_t node;                 // 18 node of the list memory
    uint32_t path;                 // 19 grab path index of the last grab
    _MP_BAND_ST grabMemory;        // 20-23 DMA memory of the grab lists
    _MP_BAND_ST vmMemory;          // 24-27 DMA memory of the VM lists
    uint32_t threadId;             // 28
    _NODE_GRAB_GLOBALS* prev;      // 29
    _NODE_GRAB_GLOBALS* next;      // 30
};
static_assert(sizeof(void*) != 4 || sizeof(_NODE_GRAB_GLOBALS) == 31 * 4, "host-grab records are 31 words");

// First record of the list of per-thread records.
extern _NODE_GRAB_GLOBALS* NodeHstGrabGlobals;

// The calling thread's record, or null.
_NODE_GRAB_GLOBALS* GetNodeGrabGlobals();
// Adds a zeroed record for the calling thread at the end of the list when it has none.
void SetNodeGrabGlobals();
// Frees the calling thread's record (its list memory too).  Also run at thread exit.
void FreeNodeGrabGlobals();
// Frees every record (list memory given back only for nodes still open).
void FreeAllNodeGrabGlobals();

// The list-set selector ends every list: {selector, kArpEndRegister}.
constexpr uint32_t kArpEndRegister = 255;
// Times a chain that came too late is redone as a fresh grab before the grab fails.
constexpr int kHostGrabRetries = 3;

// The VM-engine register behind each of the 25 VM slots of the grab register image
// (slot s is image words 52 + 2s, 53 + 2s); 0 for a slot without a register.
constexpr uint32_t kHostVmSlots = 25;
extern const uint32_t kHostVmRegOffset[kHostVmSlots];
// Slot index of a VM-engine register in the image (kHostVmSlots when it has none).
uint32_t HostVmSlot(uint32_t offset);

// ---- the host grab --------------------------------------------------------------------------
// Builds and arms the lists of one grab into host DMA memory: 0, or -1 with the error
// logged.  *chained is 1 when the lists were queued behind a running grab (the caller then
// leaves the grab registers alone).  `image` is the grab register image, `temporary` the
// grab path's eight temporary-buffer words (two halves of four taps).
int hostGrab(MP_RESOURCE_ST* res, _MP_BUF_ST* destination, uint32_t* image, _MP_CAM_ST_0* cam,
             _MP_BUF_ST* options, int* chained, const uint32_t* temporary);

// The grab path of a host grab: the first or the second SERVINFO_ST of the node record,
// chosen as the grab request does (field 16003 can select the second path).
SERVINFO_ST* HostGrabPath(MP_RESOURCE_ST* res, _MP_BUF_ST* options, uint32_t* index);

// ---- steps of hostGrab ----------------------------------------------------------------------
// Tap code of the camera: INFO_XTAPSPERCH << 12 | INFO_XTAPSPERCHADJ << 8 |
// INFO_YTAPSPERCH << 4 | INFO_YTAPSPERCHADJ (each at least 1).
uint32_t SetupTap(const _MP_CAM_ST_0* cam);
// Tap count and step of a tap code: 0, or -1 for a code or channel count the host grab
// cannot take.  `channels` is the camera's INFO_CHANNEL, `bands` the destination's; the
// step is multiplied by `factor` when that is not 1.  An RGB packing grabs its planes as
// three taps.
int SetTap(uint32_t tapCode, uint32_t channels, uint32_t bands, uint32_t factor, uint32_t rgbCode,
           uint32_t* count, uint32_t* step);
// The vertical reduction and zoom of the image (GVSCLNG bits 0-5, cleared there) turned
// into the host grab's: the tap codes 0x1112 and 0x1114 take their share of the reduction
// and grab as 0x1111.  0, or -1 for a combination the host grab cannot take (-9).
int HostReduction(uint32_t* tapCode, uint32_t* vReduction, uint32_t vZoom, uint32_t* lines);
// Packing code of an RGB grab; drops a second buffer that does not complete the first.
uint32_t grbCheckRGB(const _MP_BUF_ST* destination, const _MP_BUF_ST** second, const _MP_CAM_ST_0* cam);
// VM pixel format of an RGB packing code into the image: 0, or -1 for another code.
int SetVpixfmt(uint32_t* image, uint32_t rgbCode, uint32_t copyFlags);
// A second buffer for a dual grab: true when it suits the grab on `node`.
bool CheckSecondBuffer(const _MP_BUF_ST* second, uint32_t node, bool firstPathServesHost);
// Destination address of each tap for field `field` (0 or 1) into r->tapAddress (and
// r->secondTapAddress for the second buffer).
void InitVfstart(_HOST_TEMP_REGISTER_ST* r, const _HOST_TEMP_PARAMETER_ST* p, const _MP_BUF_ST* destination,
                 uint32_t field);
void SetSecondDualVfstart(_HOST_TEMP_REGISTER_ST* r, const _HOST_TEMP_PARAMETER_ST* p, const _MP_BUF_ST* second,
                          uint32_t field);
// Destination address of tap `tap` of block `block`: first field (SetHfstart), second
// field of a two-field grab (SetSecondHfstart).
uint32_t SetHfstart(const _HOST_TEMP_REGISTER_ST* r, const _HOST_TEMP_PARAMETER_ST* p, uint32_t tap,
                    uint32_t block);
uint32_t SetSecondHfstart(const _HOST_TEMP_REGISTER_ST* r, const _HOST_TEMP_PARAMETER_ST* p, uint32_t tap,
                          uint32_t block);
// Temporary-buffer addresses of both halves from the grab path's eight words: 0, or -1
// when a tap has no buffer.
int CalculateTempGrabAddr(_HOST_TEMP_REGISTER_ST* r, const _HOST_TEMP_PARAMETER_ST* p, const uint32_t* temporary);
// Grab addresses in the second buffer of a dual grab (it takes the grab directly).
int CalculateDualGrabAddr(_HOST_TEMP_REGISTER_ST* r, const _HOST_TEMP_PARAMETER_ST* p, const _MP_BUF_ST* second);
// Frame start of the temporary half that takes block `block` (halves alternate).
uint32_t ComputeGfstart(const _HOST_TEMP_REGISTER_ST* r, uint32_t block);
uint32_t SetSecondFieldGfstart(const _HOST_TEMP_REGISTER_ST* r, const _HOST_TEMP_PARAMETER_ST* p, uint32_t block);
// Source address of tap `tap` of block `block` in the temporary buffers.
uint32_t SetCopyFrameAddr(const _HOST_TEMP_REGISTER_ST* r, uint32_t tap, uint32_t block);

// Entries of the grab list and of the VM list one list set needs: the sizes the lists are
// allocated at (each doubled for the two sets).
void HostListSizes(const _HOST_TEMP_PARAMETER_ST* p, uint32_t* grabEntries, uint32_t* vmEntries);

// A register list being written: entries {value, register}.  An entry that would reach
// the capacity is not written; the list is then marked overflowed.  A list without memory
// and with the capacity kCountOnly only counts the entries it is given.
struct ArpList {
    static constexpr uint32_t kCountOnly = 0xFFFFFFFFu;
    uint32_t* base;
    uint32_t bus;
    uint32_t capacity;
    uint32_t count;
    bool overflow;
    void add(uint32_t value, uint32_t reg);
    uint32_t busOf(uint32_t entry) const { return bus + entry * 8; }
};

// Builds one list set into `grab` and `vm` (both ending with {selector, 255}): 0, or -1
// with -8 "Arp VM overflow" / "Arp Grab overflow" logged.  *chainEntry receives the
// index of the grab list's chaining entry.
int BuildHostLists(MP_RESOURCE_ST* res, const _HOST_TEMP_PARAMETER_ST* p, const _HOST_TEMP_REGISTER_ST* r,
                   const uint32_t* image, uint32_t selector, ArpList* grab, ArpList* vm, uint32_t* chainEntry);

// Allocates the record's lists at the sizes asked for when they are smaller: 0, or -1
// with -4 logged.
int CreateArpLists(uint32_t node, uint32_t grabEntries, uint32_t vmEntries, _NODE_GRAB_GLOBALS* rec,
                   MP_RESOURCE_ST* res);

// The restart entries of one sub-block, written into the record's work allocation: VM
// timing control, VM list control, interrupt clear, grab control, grab list address,
// interrupt clear, VM list control ({value, register} each).
void SetupSubBlock(uint32_t* work, const uint32_t* image, uint32_t grabListBus);

constexpr const char* kArpVmOverflow = "Arp VM overflow";
constexpr const char* kArpGrabOverflow = "Arp Grab overflow";
