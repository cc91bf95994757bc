// The board ini file "halcyra.ini": keyword table, the records read from it, the
// accessors by keyword, the connection rings between boards, and the rewrite of its
// [Node] sections from the boards found on PCI.
//
// The file is read once per process (HalcyraIniGetFile) into a chain of records: the
// global record HalcyraIniSt and, behind it in file order, one record per [Node]
// section. Later queries go to memory. Settings are 32-bit words at fixed record offsets;
// a text value (path, name, unparsed list) is the address of its text inside the joined
// file text that the global record owns.
#pragma once

#include "hlc_arch.h"
#include "driverreq.h"

#include <cstdint>
#include <cstdio>
#include <string>

// ---- keyword table ------------------------------------------------------------------------

struct _REG_TABLE_ST {
    const char* KeyWord;
    uint32_t KindOrOffset;    // a record offset (a setting or register field) or a kind below
    uint32_t ValueOrType;     // section code, symbol value, prefix code, PCI id, setting type or field mask
};

// Kinds (second column).
constexpr uint32_t INI_KIND_SECTION = 0xBFFFFFFEu;
constexpr uint32_t INI_KIND_SYMBOL = 0xBFFFFFFDu;
constexpr uint32_t INI_KIND_PREFIX = 0xBFFFFFFCu;
constexpr uint32_t INI_KIND_CONDITIONAL = 0xBFFFFFF1u;
constexpr uint32_t INI_KIND_ECHO = 0xBFFFFFF0u;
// Section codes.
constexpr uint32_t INI_SECTION_GLOBAL = 0xBFFFFFFAu;
constexpr uint32_t INI_SECTION_ENV = 0xBFFFFFF9u;
constexpr uint32_t INI_SECTION_PRIVATE = 0xBFFFFFFBu;
constexpr uint32_t INI_SECTION_NODE = 0xBFFFFFF7u;
constexpr uint32_t INI_SECTION_OTHER = 0xBFFFFFF6u;   // [Define], [DeviceName], [FlowControl]
// Prefix codes.
constexpr uint32_t INI_PREFIX_PCI = 0xBFFFFFF5u;
constexpr uint32_t INI_PREFIX_PPB = 0xBFFFFFF4u;
constexpr uint32_t INI_PREFIX_PRIMARY = 0xBFFFFFF3u;
constexpr uint32_t INI_PREFIX_DISPLAY = 0xBFFFFFF2u;
// Setting types (third column of a setting row).
constexpr uint32_t INI_TYPE_NUMBER = 0xBFFFFFECu;
constexpr uint32_t INI_TYPE_LIST = 0xBFFFFFEBu;
// PCI id of the "!ENDif" row.
constexpr uint32_t INI_ENDIF = 0xFFFFFFFFu;

constexpr int kIniKeywordCount = 125;
// The 125 rows in their binding order (first match wins), then a row of zeros.
extern const _REG_TABLE_ST defaultKeyWords[kIniKeywordCount + 1];

// Values of the [Define] symbols used by the library.
constexpr uint32_t IM_SINGLE_SCREEN = 0;
constexpr uint32_t IM_DUAL_SCREEN = 1;
constexpr uint32_t IM_DUAL_HEAD = 2;

// ---- records ------------------------------------------------------------------------------

// One register group: the value word collects the field values, the set-mask word the
// masks of the fields that the file set.
struct _HALCYRA_INI_GROUP {
    uint32_t PpbValue, PpbSet;
    uint32_t PrimaryValue, PrimarySet;
    uint32_t DisplayValue, DisplaySet;
};

constexpr int kIniPartnerBytes = 16;

// The largest ini file read: a file of every setting and fifteen systems of boards, with
// comments, stays far below it; anything larger is no ini file and is refused before it
// is read, as a file that cannot be read is.
constexpr uint64_t kIniMaxFileBytes = 4u << 20;

struct _HALCYRA_INI_ST {
    char* FilePath;                      // 0x00 owned by the global record, shared by copies
    uint32_t SeqIndex;                   // 0x04 0 when read; the rewrite's PCI order index
    // [Node] settings
    uint32_t NodeId;                     // 0x08
    uint32_t ProductId;                  // 0x0C
    uint32_t SlotNbr;                    // 0x10
    uint32_t DeviceNbr;                  // 0x14
    uint32_t MvpPresent;                 // 0x18
    uint32_t DisplayMode;                // 0x1C
    uint32_t VmBusSpeed;                 // 0x20
    uint32_t GrabModulePresent;          // 0x24
    uint32_t ExtModuleType;              // 0x28
    uint32_t FpgaName;                   // 0x2C text
    uint32_t GrabPortConnection;         // 0x30 after linking: next record of the ring
    uint32_t VmPortConnection;           // 0x34
    uint32_t VmExternalDeviceId;         // 0x38 text
    uint32_t ScanHurlerConnection;       // 0x3C
    // as read, node records only
    uint32_t SavedDisplayMode;           // 0x40
    uint32_t SavedVmBusSpeed;            // 0x44
    uint32_t SavedGrabModulePresent;     // 0x48
    uint32_t SavedSizeOfTmpBufferForHostGrab; // 0x4C
    // partners' NodeId bytes in ring order, then the own NodeId byte
    uint8_t GrabPartners[kIniPartnerBytes];        // 0x50
    uint8_t VmPartners[kIniPartnerBytes];          // 0x60
    uint8_t VmExternalDevices[kIniPartnerBytes];   // 0x70 the VmExternalDeviceId numbers
    uint8_t ScanHurlerPartners[kIniPartnerBytes];  // 0x80
    // [GlobalSetting]
    uint32_t IgnoreEnvVar;               // 0x90
    uint32_t ApplicationMessaging;       // 0x94
    uint32_t AutoRescanIni;              // 0x98
    uint32_t MaxVmDevicesAt33;           // 0x9C
    uint32_t VmSpeedLimit;               // 0xA0
    uint32_t DisplayBoardInfo;           // 0xA4
    uint32_t CommunicationDebugMode;     // 0xA8
    uint32_t LargestDmaBlock;            // 0xAC
    uint32_t DisableDefaultMappingOfVirtualBuffer; // 0xB0
    uint32_t ReservedHostSpaceForLcBuffers;        // 0xB4
    uint32_t SizeOfTmpBufferForHostGrab; // 0xB8
    // [EnvSetting] (texts in practice)
    uint32_t CoffPath;                   // 0xBC
    uint32_t CoffName;                   // 0xC0
    uint32_t CoffLoadOption;             // 0xC4
    uint32_t TifPath;                    // 0xC8
    uint32_t JpgPath;                    // 0xCC
    uint32_t OimPath;                    // 0xD0
    uint32_t DcfPath;                    // 0xD4
    uint32_t DcfName;                    // 0xD8
    uint32_t VcfPath;                    // 0xDC
    uint32_t VcfName;                    // 0xE0
    uint32_t FpgaPath;                   // 0xE4
    uint32_t DiagDumpFile;               // 0xE8
    // register groups: pcstatuscmd, pchdttmr, pcppbctrl, pcppbretry, hwftrsh, hrftrsh,
    // vrftrsh, mrftrsh, hbusctrl, memctrl, macctmng, dclksel, dhdelay
    _HALCYRA_INI_GROUP Groups[13];       // 0xEC
    _HALCYRA_INI_ST* Next;               // 0x224
    char* Text;                          // 0x228 joined file text, owned by the global record
    uint32_t TextSize;                   // 0x22C
};
static_assert(sizeof(_HALCYRA_INI_ST) == 0x230, "ini records are 560 bytes");

// The global record (0 when nothing is loaded) and the host bridge's PCI id
// (0 not read yet, 0xFFFFFFFF no host bridge found).
extern _HALCYRA_INI_ST* HalcyraIniSt;
extern uint32_t HostBridgeId;

// ---- reading and the accessors --------------------------------------------------------------

// Reads the file on the first call and returns the global record; later calls return it
// at once. quiet non-zero suppresses "@echo." output. 0 when the data could not be built.
HLC_API _HALCYRA_INI_ST* HalcyraIniGetFile(int quiet);
// Reads the ini data (nothing may be loaded) from the file at knownPath, found when
// null, or from content when given (the text the file is about to hold; the path is kept
// as the file's). The global record, or 0 after the failure messages.
_HALCYRA_INI_ST* HalcyraIniLoad(const char* knownPath, const std::string* content, int quiet);
// Full path of the file (malloc'ed, the caller frees it), or 0 with the not-found listing
// printed once per process.
HLC_API char* FindHalcyraIniFile();
// The first record (global one first) whose NodeId is node; the global record when none
// is; 0 when nothing is loaded.
HLC_API _HALCYRA_INI_ST* HalcyraIniForThisNode(uint32_t node);
// One setting of a node (see the description of the accessors in halcyraini.cpp).
HLC_API uint32_t HalcyraIniReadTag(uint32_t node, const char* keyword, uint32_t* out);
HLC_API uint32_t HalcyraIniWriteTag(uint32_t node, const char* keyword, uint32_t value);
// The text of a setting as written in the file (a number in decimal); null when the
// setting is unset or is a linked connection list. Valid while the data is loaded.
const char* HalcyraIniReadText(uint32_t node, const char* keyword);
// Frees the chain from record on (0 or the global record: everything, and nothing is
// loaded afterwards).
HLC_API void HalcyraIniFree(_HALCYRA_INI_ST* record);
// A new record, zeroed or a copy of `from` (its next link cleared), known to the ring
// iterators as a record; 0 without memory. Every record of the chain is made here and
// freed by HalcyraIniFree.
_HALCYRA_INI_ST* HalcyraIniNewRecord(const _HALCYRA_INI_ST* from);

// Iterators over the ring of one connection list (offsets 0x30, 0x34, 0x3C). A walk that
// could never come back to deviceNbr (a ring that loops without it, or meets a record
// without a device number, which belongs to no ring) ends at once with 0, and so does a
// walk for device 0: every walk ends.
HLC_API uint32_t HalcyraIniGrabLink(_HALCYRA_INI_ST** cursor, uint32_t deviceNbr);
HLC_API uint32_t HalcyraIniVmLink(_HALCYRA_INI_ST** cursor, uint32_t deviceNbr);
HLC_API uint32_t HalcyraIniScanHurlerLink(_HALCYRA_INI_ST** cursor, uint32_t deviceNbr);
HLC_API uint32_t HalcyraIniLink(_HALCYRA_INI_ST** cursor, uint32_t deviceNbr, uint32_t offset);

// Links followed by the ring walks of this process so far (the load's partner arrays and
// the iterators): a load's work grows with its records, not with its rings' sizes.
uint64_t HalcyraIniLinkSteps();

// Runs a "pci." line: id[.register[.mask]][=value] (see halcyraini.cpp).
void AccessPciConfig(const char* line);

// ---- node matching and rewrite ----------------------------------------------------------------

// Device number of a found device: bus << 16 | device << 8 | kind.
uint32_t MakeDeviceNbr(const _PCI_FOUND_DEVICE* device);
// True for a device whose display chip function is present and whose kind (or second
// kind) is 8.
bool IsDisplayPciFoundDevice(const _PCI_FOUND_DEVICE* device);

// The driver's board list, read on first use and walked in slot order: forward when the
// slots ascend from the first record, backward otherwise (decided once, pciScanDirection:
// -1 not yet, 1 forward, 0 backward).
extern int pciScanDirection;
_PCI_FOUND_DEVICE* GetFirstPciFoundDevice();
_PCI_FOUND_DEVICE* NextPciFoundDevice(_PCI_FOUND_DEVICE* device);
_PCI_FOUND_DEVICE* GetThisPciFoundDevice(uint32_t deviceNbr);
// Forgets the board list (read again on next use).
void HalcyraIniForgetPciFoundDevices();

// 1 when the [Node] records fit the boards found (see halcyrainirewrite.cpp).
HLC_API int HalcyraIniCheckIfNodesMatch(uint32_t nodeId, int check, _PCI_FOUND_DEVICE** device,
                                _HALCYRA_INI_ST** record);
// Probes the boards and rewrites the [Node] sections; the global record afterwards, 0 on
// failure (the file is then left as it was).
HLC_API _HALCYRA_INI_ST* HalcyraIniSetNode();
// Matches node nodeId with the boards found, rewriting the [Node] sections first as the
// loaded AutoRescanIni asks: 0 (NO) trusts the file, 1 (YES) rewrites when the sections do
// not fit the boards, 2 (FORCE) or more always rewrites. A process rewrites at most once;
// after that the file is trusted. 1 with the node's found device and ini record, else 0
// with both null. The ini data must be loaded.
int HalcyraIniMatchNode(uint32_t nodeId, _PCI_FOUND_DEVICE** device, _HALCYRA_INI_ST** record);
// Forgets that this process has rewritten the sections (tests start each case afresh).
void HalcyraIniForgetRescan();
// True once this process has rewritten the sections: the file is trusted from then on.
bool HalcyraIniRescanned();
// Runs the library's global start-up through the probe's device open (14, 14, 0, 1) when
// one is installed; a call made while it runs does nothing.
void HalcyraIniLibraryStartUp();
void PrintEachNode(FILE* file);
void PrintMapping(FILE* file);
void InsertInLinkList(int grabCount, int vmCount, int scanHurlerCount, _HALCYRA_INI_ST* record,
                      _HALCYRA_INI_ST* other);
// Case-insensitive search; 0 when not found.
const char* stristr(const char* text, const char* pattern);

// How the rewrite reaches the boards. Board bring-up installs the library's own node
// opener, product table and display-mode query here; until then the defaults open the
// node's driver device and map its two register windows, report product 99
// (IM_DEV_HALCYRA_UNDEF) and IM_SINGLE_SCREEN, and sleep the calling thread.
struct HalcyraIniProbe {
    // Opens node (system, board) of the device for probing and gives the addresses of
    // its primary and display Orlo register windows (0 when absent). Returns non-zero
    // when the node must be shut down again at the end.
    int (*open)(uint32_t system, uint32_t board, const _PCI_FOUND_DEVICE* device, uint32_t windows[2]);
    // Shuts the node down again (node number in bits 16-23).
    void (*shutdown)(uint32_t deviceId);
    uint32_t (*productId)(const _PCI_FOUND_DEVICE* device, uint32_t processor);
    uint32_t (*displayMode)(const _PCI_FOUND_DEVICE* device);
    void (*sleep)(double seconds);
    // The library's device open (system, board, mode, option, out device id), by which the
    // reader runs the library's global start-up before its first PCI access. Null until
    // the library has one: the reader then goes on without it.
    int (*devAlloc)(uint32_t system, uint32_t board, uint32_t mode, uint32_t option, uint32_t* id);
};
// Installs the operations (null members keep the defaults); null restores every default.
void HalcyraIniSetProbe(const HalcyraIniProbe* probe);

// The probe reads and writes each register window's board control word (kOrloControl) and
// status word (kOrloStatus, kStatusProcessor: the board has its own processor).
