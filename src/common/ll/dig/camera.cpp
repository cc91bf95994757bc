// Camera records: allocation, cloning and saving.
#include "camera.h"

#include "bufchild.h"
#include "bufid.h"
#include "camrec.h"
#include "camuart.h"
#include "dcftable.h"
#include "eeprom.h"
#include "hlc_errors.h"
#include "kvxbank.h"
#include "kvxgrab.h"
#include "kvxio.h"
#include "kvxload.h"
#include "load.h"
#include "nodeopen.h"
#include "regaccess.h"
#include "reqres.h"
#include "serialchips.h"

#include <cstdlib>
#include <cstring>

const char kCamTypeStd[] = "HALCYRA_GRAB_0";
const char kCamTypeAsync[] = "HALCYRA_GRAB_1";

// The record's working fields behind its slots lie inside its buffer.
static_assert(cam0::SORVIK2_FLAG + 8 <= cam0::LOADED_ONCE && cam0::LOADED_ONCE + 4 <= cam0::REF_DAC_BYTES,
              "the Sorvik II flag and the first-load flag before the DAC bytes");
static_assert(cam1::SPLL_ICS1522REG(6) + 8 <= cam1::kRecordBytes, "the second record's last slot inside it");

namespace {

constexpr char kTextUnrecognized[] = "Unrecognized digitizer type";

// DIG_GPCTL bits of a present module (0 and 2) and of an absent type-1 module (1).
constexpr uint32_t kGpctlPresent = 0x5;
constexpr uint32_t kGpctlAbsent = 0x2;

bool IsSorvik2Type(uint32_t moduleType)
{
    return moduleType == 2 || moduleType == 34;
}

uint32_t* NodeInfo(MP_RESOURCE_ST* res)
{
    if (!res || !res->record || !res->record->nodeState) return nullptr;
    return &res->record->nodeState->nodeInfo;
}

uint32_t NodeOf(const MP_RESOURCE_ST* res)
{
    if (res && res->record) return static_cast<uint32_t>(res->record->nodeNumber) & 0xFF;
    return res ? res->node & 0xFF : 0;
}

void Log(MP_RESOURCE_ST* res, int32_t code, const char* text)
{
    if (res) _mp_res_log_error(res, code, text);
}

void SetBoth(void* record, uint32_t offset, uint32_t value)
{
    CamSlot* slot = CamSlotAt(record, offset);
    slot->value = value;
    slot->file = value;
}

// A new camera buffer of `bytes` elements with an id, kind 2, field 20000 = module type and
// zeroed memory; null after logging -4.
_MP_BUF_ST* NewRecordBuffer(MP_RESOURCE_ST* res, uint32_t bytes, uint32_t moduleType)
{
    _MP_BUF_ST* buffer =
        mp_buf_alloc_on_node(NodeOf(res), static_cast<int32_t>(bytes), 1, 1, kCamBufferType, kLocInline);
    if (!buffer) {
        Log(res, HLC_ERR_NO_RESOURCES, nullptr);
        return nullptr;
    }
    if (mp_buf_alloc_id(buffer) == 0) {
        Log(res, HLC_ERR_NO_RESOURCES, nullptr);
        mp_buf_free(buffer);
        return nullptr;
    }
    buffer->kind = kBufKindCamera;
    mp_buf_put_field(buffer, kCamModuleTypeField, static_cast<double>(moduleType));
    void* band = mp_buf_address_band_internal(buffer, 0);
    if (band) std::memset(band, 0, bytes);
    return buffer;
}

// The entries' values into both words of their slots; names that match no row are skipped.
void StoreEntries(void* record, const _DCF_ENTRY* entries, int32_t count, const _DCF_NAME_ROW* table,
                  int32_t (*find)(const char*, int32_t*))
{
    int32_t cursor = -1;
    for (int32_t i = 0; i < count; ++i) {
        // The name field is 32 bytes and need not hold its terminating zero: a copy that
        // does keeps every comparison inside the entry.
        char name[kDcfNameBytes + 1];
        std::memcpy(name, entries[i].name, kDcfNameBytes);
        name[kDcfNameBytes] = '\0';
        const int32_t row = find(name, &cursor);
        if (row >= 0) SetBoth(record, table[row].offset, entries[i].value);
    }
}

bool TypeMatches(const _DCF_ENTRY* entries, const char* type)
{
    return entries && std::strncmp(entries[0].name, type, kDcfNameBytes) == 0;
}

// The saved entry list: entry 0 the type string, then each row's keyword and word 0.
void SaveRecord(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, uint32_t* outId, int32_t* outCount, bool standard)
{
    if (outId) *outId = 0;
    if (outCount) *outCount = 0;
    if (!camera || !mp_buf_valid(camera, kBufKindCamera)) {
        Log(res, HLC_ERR_INVALID_BUFFER, nullptr);
        return;
    }
    int32_t moduleType = 0;
    mp_buf_get_field(camera, kCamModuleTypeField, &moduleType);
    // The standard family saves cameras made on type-1 modules; the second family its own
    // module types 3-6.
    const bool accepted = standard ? moduleType == 1 : (moduleType >= 3 && moduleType <= 6);
    if (!accepted) {
        Log(res, HLC_ERR_BUFFER_ATTRIBUTE, nullptr);
        return;
    }
    const uint32_t rows = standard ? cam0::kKeywordRows : cam1::kKeywordRows;
    const uint32_t recordBytes = standard ? cam0::kRecordBytes : cam1::kRecordBytes;
    const _DCF_NAME_ROW* table = standard ? cam0::dcfNameTable : cam1::dcfNameTable;
    const int32_t count = standard ? kCamSaveCountStd : kCamSaveCountAsync;
    // Only a whole record of the family is read.
    const void* record = mp_buf_address_band_internal(camera, 0);
    if (!record || camera->sizeX * camera->sizeY < static_cast<int32_t>(recordBytes)) {
        Log(res, HLC_ERR_BUFFER_ATTRIBUTE, nullptr);
        return;
    }
    if (outCount) *outCount = count;
    const int32_t bytes = count * static_cast<int32_t>(sizeof(_DCF_ENTRY));
    _MP_BUF_ST* list = mp_buf_alloc_on_node(NodeOf(res), bytes, 1, 1, kCamBufferType, kLocInline);
    if (!list) {
        Log(res, HLC_ERR_NO_RESOURCES, nullptr);
        return;
    }
    const uint32_t id = mp_buf_alloc_id(list);
    if (id == 0) {
        Log(res, HLC_ERR_NO_RESOURCES, nullptr);
        mp_buf_free(list);
        return;
    }
    auto* entries = static_cast<_DCF_ENTRY*>(mp_buf_address_band_internal(list, 0));
    std::memset(entries, 0, static_cast<size_t>(bytes));
    std::strncpy(entries[0].name, standard ? kCamTypeStd : kCamTypeAsync, sizeof entries[0].name - 1);
    for (uint32_t row = 0; row < rows; ++row) {
        _DCF_ENTRY& e = entries[row + 1];
        std::strncpy(e.name, table[row].keyword, sizeof e.name - 1);
        e.value = CamSlotAt(record, table[row].offset)->value;
    }
    if (outId) *outId = id;
}

_MP_BUF_ST* Clone(MP_RESOURCE_ST* res, _MP_BUF_ST* camera)
{
    if (!camera || !mp_buf_valid(camera, kBufKindCamera)) {
        Log(res, HLC_ERR_INVALID_BUFFER, nullptr);
        return nullptr;
    }
    _MP_BUF_ST* copy =
        mp_buf_alloc_on_node(NodeOf(res), camera->sizeX, camera->sizeY, camera->bands, camera->type, kLocInline);
    if (!copy) return nullptr;
    copy->kind = kBufKindCamera;
    copy->typeClass = camera->typeClass;
    _MP_FIELD_ST* cursor = reinterpret_cast<_MP_FIELD_ST*>(-1);
    uint32_t key = 0;
    double value = 0;
    while (mp_buf_next_field(camera, &cursor, &key, &value) == 0) mp_buf_put_field(copy, key, value);
    const void* from = mp_buf_address_band_internal(camera, 0);
    void* to = mp_buf_address_band_internal(copy, 0);
    if (from && to)
        std::memcpy(to, from, static_cast<size_t>(camera->sizeX) * static_cast<size_t>(camera->sizeY));
    return copy;
}

}  // namespace

uint32_t mpPrvSorvik2Control(uint32_t previous, uint32_t grabctl, uint32_t dictl, uint32_t dimreg)
{
    uint32_t word = previous & ~0x1FFFu;
    // Bits 4-6 from the grab mode (DIG_GRABCTL bits 12-14).
    uint32_t mode = 0;
    switch ((grabctl >> 12) & 7) {
    case 0: mode = 0; break;
    case 1: mode = 1; break;
    case 3: mode = 3; break;
    case 4: mode = 6; break;
    case 5: mode = 5; break;
    default: mode = (dictl & 0x1000) ? 2 : 4; break;
    }
    word |= mode << 4;
    if (!(dictl & 0x4000)) word |= 1u << 3;
    word |= (dimreg & 1) << 10;
    word |= ((dimreg >> 1) & 1) << 9;
    word |= ((dimreg >> 2) & 1) << 8;
    if (!(dictl & 0x800)) word |= (1u << 11) | (1u << 12);
    word |= ((dictl >> 13) & 1) << 7;
    return word;
}

void mpPrvFreeCamUartArea(uint32_t* nodeInfo)
{
    if (!nodeInfo || !IsSorvik2Type(nodeInfo[kNodeInfoModuleType])) return;
    void* area = reinterpret_cast<void*>(static_cast<uintptr_t>(nodeInfo[kNodeInfoUartArea]));
    nodeInfo[kNodeInfoUartArea] = 0;
    std::free(area);
}

uint32_t mpCamAlloc_Std(MP_RESOURCE_ST* res, const _DCF_ENTRY* entries, int32_t count, int32_t mode)
{
    using namespace cam0;
    // Step 1.
    if (!TypeMatches(entries, kCamTypeStd)) {
        Log(res, HLC_ERR_INVALID_BUFFER, kTextUnrecognized);
        return 0;
    }
    uint32_t* info = NodeInfo(res);
    const uint32_t moduleType = info ? info[kNodeInfoModuleType] : 0;
    const bool sorvik2 = IsSorvik2Type(moduleType);

    // Step 2: the camera serial port's state.
    if (sorvik2 && info[kNodeInfoUartArea] == 0) {
        void* area = std::calloc(1, kUartAreaBytes);
        if (!area) {
            Log(res, HLC_ERR_NO_RESOURCES, nullptr);
            return 0;
        }
        info[kNodeInfoUartArea] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(area));
    }

    // Step 3.
    _MP_BUF_ST* buffer = NewRecordBuffer(res, kRecordBytes, moduleType);
    if (!buffer) return 0;
    const uint32_t id = buffer->id;
    auto* cam = static_cast<_MP_CAM_ST_0*>(mp_buf_address_band_internal(buffer, 0));

    // Step 4: the entries, then the defaults.
    if (mode != kCamAllocEmpty) {
        StoreEntries(cam, entries, count < 0 ? 0 : count, dcfNameTable, mp_dig_find_loc);
        SetBoth(cam, SYN_AMPL, 286);
        SetBoth(cam, BLACK_LEVEL, 0);
        SetBoth(cam, WHITE_LEVEL, CamSlotAt(cam, VDL_AMPL)->value - CamSlotAt(cam, VDL_PED_AMP)->value);
        SetBoth(cam, BLACK_REF, 0);
        SetBoth(cam, WHITE_REF_RED, 100);
        SetBoth(cam, WHITE_REF_GREEN, 100);
        SetBoth(cam, WHITE_REF_BLUE, 100);
        SetBoth(cam, WHITE_REF_ALPHA, 100);
    }

    // Step 5: the Sorvik II control word from the standard fields.
    if (sorvik2) {
        CamSlotAt(cam, SORVIK2_FLAG)->value = moduleType;
        CamSlot* uart = CamSlotAt(cam, UART_CONTROL);
        uart->value = (uart->value & ~0xFFFFu) | 2;
        CamSlotAt(cam, DIG_GRABCTL)->value &= ~0x8000u;
        CamSlot* control = CamSlotAt(cam, SORVIK2_CONTROL);
        control->value = mpPrvSorvik2Control(control->value, CamSlotAt(cam, DIG_GRABCTL)->value,
                                             CamSlotAt(cam, DIG_DICTL)->value, CamSlotAt(cam, DIMREG0)->value);
    }

    // Step 6.
    const uint32_t node = NodeOf(res);
    SetToExt(node);

    // Step 7: load a present module.
    if (moduleType != 0 && info && info[kNodeInfoModulePresent]) {
        if (info[kNodeInfoModuleLoaded] && mode != kCamAllocForceLoad) return id;
        if (uint32_t* gpctl = mpPrvExtSlot(DIG_GPCTL)) mpPrvSetExtReg(DIG_GPCTL, (gpctl[0] & 0xFFFF) | kGpctlPresent);
        if (mp_dig_load(res, cam, nullptr, 0, 0) != -1) info[kNodeInfoModuleLoaded] = 1;
        if (sorvik2) mp_config_uart(info);
        return id;
    }
    // Step 8: an absent type-1 module.
    if (moduleType == 1) {
        if (uint32_t* gpctl = mpPrvExtSlot(DIG_GPCTL))
            mpPrvSetExtReg(DIG_GPCTL, ((gpctl[0] & 0xFFFF) & ~kGpctlPresent) | kGpctlAbsent);
    }
    return id;
}

uint32_t mpCamAlloc_Async(MP_RESOURCE_ST* res, const _DCF_ENTRY* entries, int32_t count, int32_t mode)
{
    using namespace cam1;
    if (!TypeMatches(entries, kCamTypeAsync)) {
        Log(res, HLC_ERR_INVALID_BUFFER, kTextUnrecognized);
        return 0;
    }
    uint32_t* info = NodeInfo(res);
    const uint32_t moduleType = info ? info[kNodeInfoModuleType] : 0;
    _MP_BUF_ST* buffer = NewRecordBuffer(res, kRecordBytes, moduleType);
    if (!buffer) return 0;
    const uint32_t id = buffer->id;
    auto* cam = static_cast<_MP_CAM_ST_1*>(mp_buf_address_band_internal(buffer, 0));
    if (mode != kCamAllocEmpty) {
        StoreEntries(cam, entries, count < 0 ? 0 : count, dcfNameTable, mp_dig_find_loc);
        SetBoth(cam, SYN_AMPL, 286);
        SetBoth(cam, DESCRIPTION_INFO_REFNEG, 0);
        SetBoth(cam, DESCRIPTION_INFO_REFPOSRED, 100);
        SetBoth(cam, DESCRIPTION_INFO_REFPOSGREEN, 100);
        SetBoth(cam, DESCRIPTION_INFO_REFPOSBLUE, 100);
        SetBoth(cam, DESCRIPTION_INFO_REFPOSALPHA, 100);
        SetBoth(cam, BLACK_LEVEL, 0);
        SetBoth(cam, WHITE_LEVEL, CamSlotAt(cam, VDL_AMPL)->value - CamSlotAt(cam, VDL_PED_AMP)->value);
    }
    const uint32_t node = NodeOf(res);
    SetToExt(node);
    if (moduleType == 0 || !info || !info[kNodeInfoModulePresent]) return id;
    if (info[kNodeInfoModuleLoaded] && mode != kCamAllocForceLoad) return id;
    SetToOrlo(node, info[kNodeInfoOrloSelect] ? 0 : 1, nullptr);
    SetToExt(node);
    heapInit(node);
    if (kvxAlloc(res, cam, mode) != 0) {
        // Mend: a camera made without its banks would grab into buffers that do not exist;
        // the camera is not made (the -4 is logged).
        mp_buf_free(buffer);
        return 0;
    }
    mpPrvKvxPinStatus(node, res ? res->record : nullptr);
    if (mode != kCamAllocEmpty) {
        constexpr uint32_t kGbufctlBits = 0x5;
        CamSlotAt(cam, BTC_GBUFCTL)->value |= kGbufctlBits;
        uint32_t value = CamSlotAt(cam, BTC_GBUFCTL)->value;
        if (uint8_t* live = mpPrvKvxShadow(0)) {
            CamSlotAt(live, BTC_GBUFCTL)->value |= kGbufctlBits;
            value = CamSlotAt(live, BTC_GBUFCTL)->value;
        }
        flushHw(KvxRegAddr(BTC_GBUFCTL), static_cast<int32_t>(value & 0xFFFF));
        if (mp_kvx_load(cam, nullptr, 0, kKvxLoadFull) == -1) {
            Log(res, HLC_ERR_RESTRICTED, "Error loading digitizer registers");
            return id;
        }
    }
    info[kNodeInfoModuleLoaded] = 1;
    return id;
}

_MP_BUF_ST* mpCamClone_Std(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t)
{
    return Clone(res, camera);
}

_MP_BUF_ST* mpCamClone_Async(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t)
{
    return Clone(res, camera);
}

void mpCamSave_Std(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, uint32_t* outId, int32_t* outCount)
{
    SaveRecord(res, camera, outId, outCount, true);
}

void mpCamSave_Async(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, uint32_t* outId, int32_t* outCount)
{
    SaveRecord(res, camera, outId, outCount, false);
}
