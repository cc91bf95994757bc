// The VM-port sections of a copy: a copy holds the VM section of each node whose engine
// it drives (kind 8 the primary Orlo, 16 the display Orlo), taken through its request
// resource and given back when the resource is released, together with the node's copy
// semaphore the copy took before.
//
// Called on the command-server task that holds the resource.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

struct MP_RESOURCE_ST;
struct _MP_BUF_ST;
struct _NODE_MAIN_RESOURCE_ST;

// Byte offsets in a node state block of the nodes joined to its VM port (zero-ended, up
// to 16) and of the VM numbers reserved on that port (0 none).
constexpr uint32_t kVmPortListByte = 1056;
constexpr uint32_t kVmNumbersByte = 1072;
// The register of an Orlo whose low four bits are its VM id.
constexpr uint32_t kVmIdRegister = 0x3018;

inline constexpr char kVmTextNoConnection[] =
    "VmPortConnection not found: must alloc all nodes if an external VM device must be included";

// The node that serves a buffer: for a buffer outside board memory and host DMA memory on
// a node without a display Orlo, the first display node of its system (when there is
// one); else the buffer's own node.
uint32_t XferDisplayNodeFor(uint32_t node, const _MP_BUF_ST* buffer);
// The node and Orlo kind (0 primary, 1 display) that serve a buffer.
void actualBuf(const _MP_BUF_ST* buffer, uint32_t* node, uint32_t* kind);
// Takes the VM section that serves buffer (the first call on a port also numbers the
// port's highest Orlo): 0, or -1 with the error in the resource.  A resource holds at
// most two sections.
int mp_res_alloc_vm(MP_RESOURCE_ST* resource, const _MP_BUF_ST* buffer);
// Gives back the held sections in reverse order at task priority 27 and, when any was
// held, signals the copy semaphore of the resource's node.
void mp_res_free_vm(MP_RESOURCE_ST* resource);
// Over the record's primary and display register blocks: keeps in *best the block whose
// VM id is above *highest, and raises *highest to it.
void findMaxId(const _NODE_MAIN_RESOURCE_ST* record, uint32_t* best, int32_t* highest);
// Forgets that a node's port was numbered (the node was shut down).
void mp_res_vm_forget(uint32_t node);
// The VM-port list of a node record's state (the nodes joined to its port, 0-ended), null
// without a state block.  Installed as the buffer copy's VM-port lookup.
const uint8_t* mp_res_vm_port_list(const _NODE_MAIN_RESOURCE_ST* record);
