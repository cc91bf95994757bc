// Routing of the digitizer requests to the grab-module families.
#include "camdispatch.h"

#include "camera.h"
#include "camuart.h"
#include "cmdserver.h"
#include "ctrldispatch.h"
#include "digitizers.h"
#include "exposure.h"
#include "grab.h"
#include "grabevents.h"
#include "grabfamily.h"
#include "hlc_errors.h"
#include "kvxgrab.h"
#include "kvxio.h"
#include "kvxlut.h"
#include "lutport.h"
#include "nodelist.h"
#include "reqres.h"
#include "servinfo.h"

#include <cstring>

namespace {

// Device types whose grab module sits on another node.
bool ModuleOnOtherNode(uint32_t deviceType, uint32_t moduleType)
{
    return deviceType == 2 || deviceType == 4 || (deviceType == 1 && moduleType == kModuleNone);
}

const uint32_t* InfoOfRecord(const _NODE_MAIN_RESOURCE_ST* record)
{
    if (!record || !record->nodeState) return nullptr;
    return &record->nodeState->nodeInfo;
}

const _NODE_MAIN_RESOURCE_ST* RecordOf(const void* resourceOrNode)
{
    const uintptr_t word = reinterpret_cast<uintptr_t>(resourceOrNode);
    if (word < 256) return mp_sys_node_resource_ptr(static_cast<uint32_t>(word));
    const auto* res = static_cast<const MP_RESOURCE_ST*>(resourceOrNode);
    if (!res->boardProcessor) return res->record;
    // A resource of a board-processor node holds a board address of its node record.
    const uint32_t host = mp_util_mvp_to_virtual(res->node & 0xFF,
                                                 static_cast<uint32_t>(reinterpret_cast<uintptr_t>(res->record)));
    return reinterpret_cast<const _NODE_MAIN_RESOURCE_ST*>(static_cast<uintptr_t>(host));
}

int FamilyOfModule(uint32_t moduleType)
{
    switch (moduleType) {
    case 1:
    case 2:
    case 34:
        return kGrabModuleStd;
    case 3:
    case 4:
    case 5:
    case 6:
        return kGrabModuleAsync;
    default:
        return kGrabModuleNone;
    }
}

uint32_t IdOf(const _MP_BUF_ST* buffer)
{
    return buffer ? buffer->id : 0;
}

}  // namespace

int ForGrabModule(const void* resourceOrNode)
{
    const uint32_t* info = InfoOfRecord(RecordOf(resourceOrNode));
    if (!info) return kGrabModuleNone;
    if (ModuleOnOtherNode(info[kNodeInfoDeviceType], info[kNodeInfoModuleType])) {
        const auto* link = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(info[kNodeInfoLinkedNode]));
        if (!link) return kGrabModuleStd;
        const uint32_t* linked = InfoOfRecord(mp_sys_node_resource_ptr(*link));
        if (!linked) return kGrabModuleStd;
        info = linked;
    }
    return FamilyOfModule(info[kNodeInfoModuleType]);
}

namespace {

// Runs a request on the family of the resource's grab module; nothing without a module.
template <typename Std, typename Async>
void ByFamily(MP_RESOURCE_ST* res, Std onStd, Async onAsync)
{
    switch (ForGrabModule(res)) {
    case kGrabModuleStd:
        onStd();
        break;
    case kGrabModuleAsync:
        onAsync();
        break;
    default:
        break;
    }
}

}  // namespace

// ---- camera records --------------------------------------------------------------------

uint32_t mpCamAlloc(MP_RESOURCE_ST* res, const _DCF_ENTRY* entries, int32_t count, int32_t mode)
{
    mp_sys_alloc_dig(res, -1, -1);
    switch (ForGrabModule(res)) {
    case kGrabModuleStd:
        return mpCamAlloc_Std(res, entries, count, mode);
    case kGrabModuleAsync:
        return mpCamAlloc_Async(res, entries, count, mode);
    default:
        return 0;
    }
}

_MP_BUF_ST* mpCamClone(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t n)
{
    switch (ForGrabModule(res)) {
    case kGrabModuleStd:
        return mpCamClone_Std(res, camera, n);
    case kGrabModuleAsync:
        return mpCamClone_Async(res, camera, n);
    default:
        return nullptr;
    }
}

void mpCamControl(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t type, double value)
{
    ByFamily(
        res, [&] { mpCamControl_Std(res, camera, type, value); },
        [&] { mpCamControl_Async(res, camera, type, value); });
}

void mpCamInquire(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, int32_t type, void* out)
{
    ByFamily(
        res, [&] { mpCamInquire_Std(res, camera, type, out); },
        [&] { mpCamInquire_Async(res, camera, type, out); });
}

void mpCamSave(MP_RESOURCE_ST* res, _MP_BUF_ST* camera, uint32_t* outId, int32_t* outCount)
{
    ByFamily(
        res, [&] { mpCamSave_Std(res, camera, outId, outCount); },
        [&] { mpCamSave_Async(res, camera, outId, outCount); });
}

// ---- digitizer -------------------------------------------------------------------------

void mpDigCapture(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, int32_t command)
{
    ByFamily(
        res, [&] { mpDigCapture_Std(res, IdOf(digitizer), IdOf(camera), command); },
        [&] { mpDigCapture_Async(res); });
}

void mpDigControl(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, int32_t type, double value)
{
    ByFamily(
        res, [&] { mpDigControl_Std(res, digitizer, type, value); },
        [&] { mpDigControl_Async(res, digitizer, type, value); });
}

void mpDigInquire(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, int32_t type, void* out)
{
    ByFamily(
        res, [&] { mpDigInquire_Std(res, digitizer, type, out); },
        [&] { mpDigInquire_Async(res, digitizer, type, out); });
}

int32_t mpDigGrab(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, _MP_BUF_ST* destination,
                  int32_t count, _MP_BUF_ST* options, _MP_BUF_ST* sync, int32_t phase)
{
    switch (ForGrabModule(res)) {
    case kGrabModuleStd:
        return mpDigGrab_Std(res, digitizer, camera, destination, count, options, sync, phase);
    case kGrabModuleAsync:
        return mpDigGrab_Async(res, digitizer, camera, destination, count, options, sync, phase);
    default:
        return 0;
    }
}

void mpDigLutGet(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, _MP_BUF_ST* lut, int32_t bandMask,
                 int32_t start, int32_t count)
{
    ByFamily(
        res, [&] { mpDigLutGet_Std(res, digitizer, camera, lut, bandMask, start, count); },
        [&] { mpDigLutGet_Async(res); });
}

int32_t mpDigLutSet(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, _MP_BUF_ST* lut,
                    int32_t bandMask, int32_t start, int32_t count, int32_t mode)
{
    ByFamily(
        res, [&] { mpDigLutSet_Std(res, digitizer, camera, lut, bandMask, start, count, mode); },
        [&] { mpDigLutSet_Async(res); });
    return 0;
}

uint32_t mpDigSerAccess(MP_RESOURCE_ST* res, uint32_t operation, uint32_t channel, uint32_t data, uint32_t reg)
{
    switch (ForGrabModule(res)) {
    case kGrabModuleStd:
        return mpDigSerAccess_Std(res, operation, channel, data, reg);
    case kGrabModuleAsync:
        return mpDigSerAccess_Async(res, operation, channel, data, reg);
    default:
        return reg;
    }
}

uint32_t mpDigSerAccessOfDevControl(MP_RESOURCE_ST* res, uint32_t type, double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const uint32_t low = static_cast<uint32_t>(bits);
    const uint32_t high = static_cast<uint32_t>(bits >> 32);
    return mpDigSerAccess(res, type & 0xF00, low >> 16, high, low & 0xFF);
}

// ---- grab events and halt ----------------------------------------------------------------

int mpPrvGrabFamilyOfNode(uint32_t node)
{
    switch (ForGrabModuleOfNode(node)) {
    case kGrabModuleStd:
        return kGrabFamilyStd;
    case kGrabModuleAsync:
        return kGrabFamilyAsync;
    default:
        return kGrabFamilyNone;
    }
}

void mpPrvHalt(MP_THREAD_ST* thread, int32_t mode)
{
    if (!thread) return;
    switch (ForGrabModuleOfNode(thread->node)) {
    case kGrabModuleStd:
        mpPrvHalt_Std(thread, mode);
        break;
    case kGrabModuleAsync:
        mpPrvHalt_Async(thread, mode);
        break;
    default:
        break;
    }
}

void mpPrvWireGrabModules()
{
    mpPrvSetGrabFamilyOf(mpPrvGrabFamilyOfNode);
    MpGrabFamilyHandlers standard;
    standard.startOfGrab = mpPrvUpdateSoG_Std;
    standard.endOfGrab = mpPrvUpdateEoG_Std;
    mpPrvSetGrabFamily(kGrabFamilyStd, standard);
    MpGrabFamilyHandlers events;
    events.startOfGrab = mpPrvUpdateSoG_Async;
    events.endOfGrab = mpPrvUpdateEoG_Async;
    mpPrvSetGrabFamily(kGrabFamilyAsync, events);
    mp_server_set_prv_halt(mpPrvHalt);
    mpPrvWireGrabRequests();
}
