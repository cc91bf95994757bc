// The rest of the node services: announcing a node to the driver's node set, the grab
// interrupt sources of an external grab module, the digitizer list of a system, and two
// small buffer utilities.
//
// The digitizer list of a system is a chain of 128-byte descriptors (kind 5, inline
// band of 128 x 1 8-bit pixels); each entry's band holds the 32-bit words named below.
// Its head is entry (system, 0); a node caches the head in its state words 252-254, and
// a node whose word 258 is set offers its list to the other nodes of its system.
//
// Threads: the digitizer list functions run on the serving node's task kernel inside a
// command handler (they log through its request resource); the driver requests and the
// utilities on any thread.
#pragma once

#include "hlc_arch.h"
#include "bufid.h"

#include <cstdint>

struct MP_RESOURCE_ST;
struct _NODE_MAIN_RESOURCE_ST;

// Words of a digitizer list entry's band.
constexpr uint32_t kDigWordId = 0;
constexpr uint32_t kDigWordNumber = 1;
constexpr uint32_t kDigWordUses = 2;
constexpr uint32_t kDigWordSystem = 3;
constexpr uint32_t kDigWordNode = 4;
constexpr uint32_t kDigWordValid = 5;
constexpr uint32_t kDigWordCamera = 6;
constexpr uint32_t kDigWordNext = 15;
constexpr uint32_t kDigEntryBytes = 128;

// ---- the driver's node set ------------------------------------------------------------
// Driver requests 0xAA55202C and 0xAA552030 on the node's driver device with the 32-bit
// argument; the driver's answer, or -1 when the node is not open or the request failed.
int32_t mp_sys_add_node_to_nodes(uint32_t deviceId);
int32_t mp_sys_remove_node_to_nodes(uint32_t node);

// ---- grab interrupt sources of an external module ---------------------------------------
// `orlo` points at an Orlo resource of a node record (record word 7 for the primary Orlo,
// 230 for the display Orlo); its word 5 is the external port window.  Nothing happens
// without a port.
constexpr uint32_t kOrloResourcePortWord = 5;
void mp_sys_inq_grab_irq_src(uint32_t moduleType, const uint32_t* orlo, uint32_t* out);
void mp_sys_clr_grab_irq_src(uint32_t moduleType, const uint32_t* orlo, uint32_t source);

// ---- digitizer list ---------------------------------------------------------------------
// 1 when the node information (the node state from word 25 on) names a digitizer: its
// external module type (state word 289) is 1-6.
int isValidDigitizer(const uint32_t* nodeInfo);
// The entry of digitizer `number` of `system`, its use count raised when it was listed
// already; (-1, -1) gives the head of the serving node's system.  Null after logging -4
// (no memory) or -5 (no such digitizer, or no list to join).
_MP_BUF_ST* mp_sys_alloc_dig(MP_RESOURCE_ST* resource, int32_t system, int32_t number);
// Counts one more user of a digitizer entry (the node's own one handed to an allocation).
void mp_sys_count_dig_use(_MP_BUF_ST* entry);
// Lowers the use count of a listed digitizer when it is above 0; an id that is not a
// digitizer logs -1.
void mp_sys_free_dig(MP_RESOURCE_ST* resource, uint32_t digitizerId);
// Detaches the camera from every entry of the serving node's list that holds it.
void mp_sys_cam_free_for_dig(MP_RESOURCE_ST* resource, uint32_t cameraId);

// ---- utilities ----------------------------------------------------------------------------
// The smallest width and height among the non-null descriptors; 0, 0 when all are null.
void mp_util_min_size(const _MP_BUF_ST* a, const _MP_BUF_ST* b, const _MP_BUF_ST* c, const _MP_BUF_ST* d,
                      int32_t* width, int32_t* height);
// 0 when the rectangle lies inside the descriptor, -1 otherwise (also for a null one).
int mp_util_rect_in_buf(const _MP_BUF_ST* buffer, int32_t x, int32_t width, int32_t y, int32_t height);
