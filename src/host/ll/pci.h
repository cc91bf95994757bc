// PCI configuration access through the kernel service, device and class searches, the
// bus scan, and the one-time set-up of the board's PCI-to-PCI bridges: bus numbering,
// base-address sizing and assignment, bridge windows.  Sized accesses and searches
// return 0 for success and 1 for failure.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

// Access types sent as the first argument byte of each service request.
enum : uint8_t {
    PCI_ACCESS_DEFAULT = 0,
    PCI_ACCESS_IO = 1,
    PCI_ACCESS_INT = 2,
    PCI_ACCESS_32 = 4,
};

// PCI BIOS record from the service.
struct _TPciBios {
    uint32_t mechanism;   // bit 0: 32 devices per bus, else 16
    uint32_t level;       // interface level
    uint32_t lastBus;
};

// One function found by a scan.
struct _TPciDevInfo {
    uint16_t bus;
    uint16_t device;
    uint16_t function;
    uint16_t vendorId;
    uint16_t deviceId;
    uint8_t revision;
    uint8_t classCode[3]; // interface, subclass, class
    uint8_t zero;
    uint8_t headerType;
    uint32_t baseAddress[6]; // saved values
    uint32_t sizeWord[6];    // memory: type bits + two's-complement size; I/O: type bits + 0x10000 - size
    uint32_t romAddress;
    uint32_t romSize;
    uint8_t interruptLine;
    uint8_t interruptPin;
};

// Result bits of ConfigAllPciDevices.
constexpr uint32_t PCI_CONFIG_COUNT_CHANGED = 0x80000000u;
constexpr uint32_t PCI_CONFIG_ASSIGN_FAILED = 0x40000000u;
constexpr uint32_t PCI_CONFIG_NO_MEMORY = 0x20000000u;
constexpr uint32_t PCI_CONFIG_NO_BRIDGE = 1;

// Most records ScanPciBus stores; its record array must hold that many.
constexpr uint32_t kPciMaxScanRecords = 256;

extern uint8_t DefaultAccessType;
extern _TPciBios GtPciBios;
extern uint32_t wNbBusInSys;
extern uint32_t PciNextBus;
extern int RedoInit;

uint8_t InitDefaultAccessType(uint8_t request);

HLC_API int PciConfigReadByte(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint8_t* value);
HLC_API int PciConfigReadWord(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint16_t* value);
HLC_API int PciConfigReadDword(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t* value);
HLC_API int PciConfigWriteByte(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint8_t value);
HLC_API int PciConfigWriteWord(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint16_t value);
HLC_API int PciConfigWriteDword(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t value);

// The exported families: the sized operations (size 1, 2 or 4 bytes) with access type 4
// (the entry point argument is ignored), 2 and 1.
HLC_API int PciConfigRead32(uint32_t entry, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size,
                    uint32_t* value);
HLC_API int PciConfigWrite32(uint32_t entry, uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size,
                     uint32_t value);
HLC_API int PciConfigReadInt(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t* value);
HLC_API int PciConfigWriteInt(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t value);
HLC_API int PciConfigReadIo(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t* value);
HLC_API int PciConfigWriteIo(uint8_t bus, uint8_t device, uint8_t function, uint8_t reg, uint32_t size, uint32_t value);

// BIOS entry points: nothing to call here.
HLC_API int CallPciBiosService(uint32_t function, void* registers);
HLC_API int CallPciBiosService32(uint32_t function, void* registers);
HLC_API int GetBios32Service(uint32_t service, void* entry);
HLC_API uint32_t GetBios32EntryPoint();
HLC_API int PciSetHwInt(uint8_t bus, uint8_t deviceFunction, uint8_t pin, uint8_t irq);

HLC_API int CheckPciBios(_TPciBios* record);
HLC_API int CheckPciBios32(void* record12);

// Searches from the given position (inclusive) for the index-th match; 0 with the
// position written back, 1 when not found.
HLC_API int FindPciDevice(uint8_t access, uint16_t deviceId, uint16_t vendorId, uint32_t index, uint8_t* bus,
                  uint8_t* device, uint8_t* function);
HLC_API int FindPciClassCode(uint8_t access, uint8_t classCode, uint8_t subclass, uint32_t index, uint8_t* bus,
                     uint8_t* device, uint8_t* function);
HLC_API int PciGetIntOption(uint8_t bus, uint8_t* table, uint16_t* mask);

// Fills a record for function 0 of every device on every bus (at most
// kPciMaxScanRecords; records may be null to count) and returns the number found.
HLC_API uint32_t ScanPciBus(uint8_t access, _TPciDevInfo* records);
HLC_API bool PciCheckIntelHostBridgeBug(uint8_t access);
HLC_API uint32_t ConfigAllPciDevices(uint32_t flags);

// Steps of the set-up, exposed for their own tests.
int PciFillDeviceInfo(uint8_t access, uint8_t bus, uint8_t device, uint8_t function, _TPciDevInfo* record);
uint32_t PciScanBus(uint8_t access, _TPciDevInfo* records, uint32_t capacity, uint32_t flags);
void ResetPPBridge(uint8_t access, uint8_t bus, uint8_t secondary, uint8_t device, uint8_t function, uint32_t flags);
void DisableAllPPBridge(uint8_t access);
void GetMapStartAddr(const _TPciDevInfo* records, uint32_t count, uint32_t flags, uint32_t* memory, uint32_t* io);
int MapAllPciDevices(uint8_t access, _TPciDevInfo* records, uint32_t count, uint32_t memory, uint32_t io,
                     uint32_t flags);
void ConfigPPBridge(uint8_t access, const _TPciDevInfo* records, uint32_t count);

// Size in bytes of a base-address register from its size word (0 when none).
uint32_t PciBarSize(uint32_t sizeWord);
bool PciIsBridge(const _TPciDevInfo& record);
