// Node services reached by node number: the node list, the node a task serves, board
// identification (external module, product, BIOS information, board memory size), the
// board processor's start, the board-memory heaps of a node, address conversion between
// the host, the PCI bus and the board processor, and small buffer utilities.
#pragma once

#include "hlc_arch.h"
#include "nodeopen.h"

#include <cstdint>

struct heap;
struct _PCI_FOUND_DEVICE;

// The global node state block; its own record heads the node list.
HLC_API _NODE_ST* imNodeSt;

// Word index of a node's own record inside its state block.
constexpr uint32_t kNodeOwnRecordWord = 764;
constexpr uint32_t kNodeRecordWords = 474;

// The own record inside a node state block (null for a null block).
_NODE_MAIN_RESOURCE_ST* mp_sys_own_record(_NODE_ST* block);

// ---- node list ------------------------------------------------------------------------
constexpr uint32_t kOwnRecordFlag = 0x80000000u;

HLC_API _NODE_MAIN_RESOURCE_ST* mp_sys_node_resource_ptr(uint32_t node);
int mp_sys_insert_node(uint32_t node, _NODE_ST* block);
int mp_sys_remove_node(uint32_t node);
int mp_sys_opened_node();
uint32_t mp_sys_this_node_id();

// ---- board queries --------------------------------------------------------------------
// External module types.
constexpr uint32_t kModuleNone = 0;
constexpr uint32_t kModuleUnknown = 64;
// The value for a node without an Orlo or an external port: none of the module types.
constexpr uint32_t kModuleNoPort = 0xFFFFFFFFu;

struct TProductIdSt {
    uint8_t id[3];      // bytes 4, 5 and 6 of the found-device record; 255 matches anything
    uint8_t processor;  // 1 the board has its own processor; 255 anything
    uint32_t product;
};
extern const TProductIdSt ProductId[24];

// The BIOS information record from the display chip's expansion ROM.
struct _VgaBiosInfoSt {
    uint16_t size;          // 0: must be 64
    uint16_t inquiry;       // 2: device inquiry 16
    char serial[10];        // 4
    uint16_t date;          // 14: bits 0-4 day, 5-8 month, 9-15 year - 1900
    uint16_t revision;      // 16: printed as the letter 64 + value
    uint16_t pcbId;         // 18: bits 5-15 major, 0-4 minor
    uint8_t options;        // 20: bit 0 interlace capability, bit 1 display fix
    uint8_t reserved[35];   // 21
    uint16_t check;         // 56: must be nonzero
    uint8_t tail[6];
};
static_assert(sizeof(_VgaBiosInfoSt) == 64, "BIOS information records are 64 bytes");

HLC_API uint32_t mp_sys_external_board_id(_NODE_MAIN_RESOURCE_ST* record);
HLC_API uint32_t mp_sys_get_product_id(const _PCI_FOUND_DEVICE* device, uint32_t processor);
_VgaBiosInfoSt* mp_sys_get_bios_info(uint32_t node, _NODE_MAIN_RESOURCE_ST* record);
HLC_API uint32_t mp_sys_get_board_mem_size(uint32_t model, const void* config);
void mp_sys_start_local_cpu(_NODE_MAIN_RESOURCE_ST* record);
// Resets and halts the board processor: both Orlos' engines stopped, doorbells, lock and
// timers cleared, the reset pulsed and the processor's state followed.
void mp_sys_rst_hlt_board(_NODE_MAIN_RESOURCE_ST* record);

// ---- heaps ----------------------------------------------------------------------------
int mp_init_sdram_heap(uint32_t node);

// ---- address conversion ---------------------------------------------------------------
HLC_API uint32_t mp_util_pci_to_mvp(uint32_t node, uint32_t bus);
HLC_API uint32_t mp_util_mvp_to_pci(uint32_t node, uint32_t processor);
HLC_API uint32_t mp_util_mvp_to_mvp(uint32_t destination, uint32_t source, uint32_t processor);
HLC_API uint32_t mp_util_pci_to_virtual(uint32_t node, uint32_t bus);
HLC_API uint32_t mp_util_virtual_to_pci(uint32_t node, uint32_t host);
HLC_API uint32_t mp_util_mvp_to_virtual(uint32_t node, uint32_t processor);
HLC_API uint32_t mp_util_virtual_to_mvp(uint32_t node, uint32_t host);
HLC_API uint32_t mp_util_translate_pstr(uint32_t node, uint32_t processor);

// ---- register blocks ------------------------------------------------------------------
uint32_t mp_adr_porlo_reg(const _NODE_MAIN_RESOURCE_ST* record);
uint32_t mp_adr_porlo_extp(const _NODE_MAIN_RESOURCE_ST* record);
uint32_t mp_adr_dorlo_reg(const _NODE_MAIN_RESOURCE_ST* record);
uint32_t mp_adr_dorlo_extp(const _NODE_MAIN_RESOURCE_ST* record);
uint32_t mp_adr_pimbra_reg(const _NODE_MAIN_RESOURCE_ST* record);

// ---- utilities ------------------------------------------------------------------------
int32_t mp_util_sum(int32_t value);

// Installs the node list, board queries and address conversion into the host platform's
// board hooks (the other members keep what is installed).
void mp_sys_install_board_hooks();
