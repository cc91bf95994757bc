// Request map of the kernel service ("\\.\QVLSERVICE0"): the codes of its buffered
// requests and its fixed words.  The library's service client and the simulated service
// both include this file.
#pragma once

#include <cstdint>

// Code = device type 0xCAFE, function 0xDAC + i, buffered, any access.
enum : uint32_t {
    QVL_GET_REVISION = 0xCAFE36B0u,
    QVL_GET_DRIVER_INFO = 0xCAFE36B4u,
    QVL_DMA_BUFFER_ALLOC = 0xCAFE36B8u,
    QVL_DMA_BUFFER_FREE = 0xCAFE36BCu,
    QVL_DMA_BUFFER_GET_PTR = 0xCAFE36C0u,
    QVL_DMA_BUFFER_CREATE_ID = 0xCAFE36C4u,
    QVL_DMA_BUFFER_GET_PHYS = 0xCAFE36C8u,
    QVL_PCI_BIOS_SUPPORT = 0xCAFE36CCu,
    QVL_PCI_CONFIG_READ = 0xCAFE36D0u,
    QVL_PCI_CONFIG_WRITE = 0xCAFE36D4u,
    QVL_PCI_GET_INT_OPTION = 0xCAFE36D8u,
    QVL_PCI_FIND_DEVICE = 0xCAFE36DCu,
    QVL_PCI_CONFIG_ACCESS = 0xCAFE36E0u,
    QVL_PCI_BRIDGE_CONFIG_ALL = 0xCAFE36E4u,
    QVL_GET_PAGES = 0xCAFE36E8u,
    QVL_GET_DMA_OVERVIEW = 0xCAFE36ECu,
    QVL_WAIT_DMA_OVERVIEW = 0xCAFE36F0u,
    QVL_GET_GUID = 0xCAFE36F4u,
    QVL_DMA_ADD_TO_POOL = 0xCAFE36F8u,
    QVL_DMA_GET_STAT = 0xCAFE36FCu,
    QVL_DMA_BUFFER_CLEANUP = 0xCAFE3700u,
};

// The service's code for request i, for checking the map against the rule above.
constexpr uint32_t QvlServiceCode(uint32_t i)
{
    return 0xCAFE36B0u + 4u * i;
}

constexpr uint32_t QVL_DEFAULT_DEVICE = 0xFFFE0000u;
constexpr uint32_t QVL_REVISION = 3;
constexpr uint32_t QVL_PAGE_LIST_END = 0xAE0BAE0Bu;
constexpr uint32_t QVL_CONFIG_ACCESS_WORDS = 64;
constexpr uint32_t QVL_INT_ROUTING_BYTES = 256;
