// Request map of the board driver: the codes of its buffered requests with their input
// and output sizes, the map regions and the fixed record sizes.  The library's request
// helpers and the simulated driver both include this file.
#pragma once

#include <cstdint>

// Code = device type 0xAA55, function 0x800 + i, buffered, any access.
constexpr uint32_t HlcDriverCode(uint32_t i)
{
    return 0xAA552000u + 4u * i;
}

enum : uint32_t {
    HLC_DRV_INTERFACE_CHECK = 0xAA552000u, // 4/4: 200 sent, 200 back
    HLC_DRV_ATTACH = 0xAA552004u,          // 16/16
    HLC_DRV_CANCEL_WAIT = 0xAA55200Cu,     // 8/0
    HLC_DRV_MAP = 0xAA552010u,             // 20/20
    HLC_DRV_NODE_RECORD = 0xAA552014u,     // 1896/1896
    HLC_DRV_SEMA_CHECK = 0xAA552018u,      // 4/4
    HLC_DRV_SEMA_RESET = 0xAA55201Cu,      // 4/4
    HLC_DRV_SEMA_SIGNAL = 0xAA552020u,     // 4/0
    HLC_DRV_INTERRUPT_WAIT = 0xAA552024u,  // 8/520, left pending
    HLC_DRV_SOURCE_ENABLE = 0xAA552028u,   // 8/8
    HLC_DRV_NODESET_ADD = 0xAA55202Cu,     // 4/4
    HLC_DRV_NODESET_REMOVE = 0xAA552030u,  // 4/4
    HLC_DRV_BOARD_LIST = 0xAA552034u,      // 608/608
    HLC_DRV_CHIP_WRITE32 = 0xAA552038u,    // 8/0
    HLC_DRV_CHIP_READ32 = 0xAA55203Cu,     // 8/8
    HLC_DRV_CHIP_WRITE16 = 0xAA552040u,    // 6/0
    HLC_DRV_CHIP_READ16 = 0xAA552044u,     // 6/6
    HLC_DRV_CHIP_WRITE8 = 0xAA552048u,     // 5/0
    HLC_DRV_CHIP_READ8 = 0xAA55204Cu,      // 5/5
    HLC_DRV_DISPLAY_KEY = 0xAA552050u,     // 12/12
};

constexpr uint32_t HLC_INTERFACE_MAGIC = 200;
constexpr uint32_t HLC_NODE_RECORD_BYTES = 1896;
constexpr uint32_t HLC_BOARD_RECORD_BYTES = 19;
constexpr uint32_t HLC_BOARD_LIST_BYTES = 608;
constexpr uint32_t HLC_MAX_BOARD_RECORDS = 32;
constexpr uint32_t HLC_WAIT_WORDS = 128;
constexpr uint32_t HLC_WAIT_BUFFER_BYTES = 8 + 4 * HLC_WAIT_WORDS;

// Map regions.
constexpr uint32_t HLC_REGION_CHIP = 1;
constexpr uint32_t HLC_REGION_PRIMARY = 4;
constexpr uint32_t HLC_REGION_DISPLAY = 8;
constexpr uint32_t HLC_REGION_DMA = 0xFFFFFFFFu;

// Input and output bytes of each request as the library sends it.
struct HlcRequestShape {
    uint32_t code;
    uint32_t inSize;
    uint32_t outSize;
};
constexpr HlcRequestShape kDriverRequestShapes[] = {
    {HLC_DRV_INTERFACE_CHECK, 4, 4},
    {HLC_DRV_ATTACH, 16, 16},
    {HLC_DRV_CANCEL_WAIT, 8, 0},
    {HLC_DRV_MAP, 20, 20},
    {HLC_DRV_NODE_RECORD, HLC_NODE_RECORD_BYTES, HLC_NODE_RECORD_BYTES},
    {HLC_DRV_SEMA_CHECK, 4, 4},
    {HLC_DRV_SEMA_RESET, 4, 4},
    {HLC_DRV_SEMA_SIGNAL, 4, 0},
    {HLC_DRV_INTERRUPT_WAIT, 8, HLC_WAIT_BUFFER_BYTES},
    {HLC_DRV_SOURCE_ENABLE, 8, 8},
    {HLC_DRV_NODESET_ADD, 4, 4},
    {HLC_DRV_NODESET_REMOVE, 4, 4},
    {HLC_DRV_BOARD_LIST, HLC_BOARD_LIST_BYTES, HLC_BOARD_LIST_BYTES},
    {HLC_DRV_CHIP_WRITE32, 8, 0},
    {HLC_DRV_CHIP_READ32, 8, 8},
    {HLC_DRV_CHIP_WRITE16, 6, 0},
    {HLC_DRV_CHIP_READ16, 6, 6},
    {HLC_DRV_CHIP_WRITE8, 5, 0},
    {HLC_DRV_CHIP_READ8, 5, 5},
    {HLC_DRV_DISPLAY_KEY, 12, 12},
};
