// The communication rings of host-served nodes: the ring of a node without a processor of
// its own lies in host memory that the callers' threads and the node's kernel share.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

struct _NODE_MAIN_RESOURCE_ST;

// Slots of the communication ring of a node that the host serves.
constexpr uint32_t kHostRingSlots = 64;

// The communication ring of a host-served node, in host memory that the callers' threads
// and the node's kernel share: a 64-byte header (record word 462) and the slots (record
// word 460, first slot body 64 bytes in).  0 made or already there, -1 no memory.
int mp_init_comm_ring(_NODE_MAIN_RESOURCE_ST* record);
void mp_free_comm_ring(_NODE_MAIN_RESOURCE_ST* record);
// Whether address lies in a ring that mp_init_comm_ring put in host memory: plain memory,
// read and written without the hardware accessor.  Takes no lock.
bool mp_host_ring_holds(uint32_t address);
