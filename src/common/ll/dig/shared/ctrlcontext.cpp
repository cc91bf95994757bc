// The context of the running control.
#include "ctrlcontext.h"

#include "bufchild.h"
#include "bufid.h"
#include "digitizers.h"
#include "nodelist.h"
#include "regaccess.h"
#include "reqres.h"

using namespace cam0;

namespace {

thread_local MP_RESOURCE_ST* t_res = nullptr;
thread_local _MP_BUF_ST* t_digitizer = nullptr;

}  // namespace

MpCtrlScope::MpCtrlScope(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer) : res_(t_res), digitizer_(t_digitizer)
{
    t_res = res;
    t_digitizer = digitizer;
}

MpCtrlScope::~MpCtrlScope()
{
    t_res = res_;
    t_digitizer = digitizer_;
}

MP_RESOURCE_ST* mpPrvCtrlResource()
{
    return t_res;
}

uint32_t mpPrvCtrlNode()
{
    if (t_res) return t_res->node & 0xFF;
    if (const uint32_t node = mp_sys_this_node_id()) return node & 0xFF;
    return HwRegCtrl ? HwRegCtrl->node & 0xFF : 0;
}

_MP_CAM_ST_0* mpPrvCtrlLiveCamera()
{
    _MP_BUF_ST* digitizer = t_digitizer;
    if (!digitizer && t_res) digitizer = mp_sys_alloc_dig(t_res, -1, -1);
    if (!digitizer || !mp_buf_valid(digitizer, kBufKindDigitizer)) return nullptr;
    const auto* words = static_cast<const uint32_t*>(mp_buf_address_band_internal(digitizer, 0));
    if (!words || words[kDigWordCamera] == 0) return nullptr;
    _MP_BUF_ST* camera = mp_buf_pointer(words[kDigWordCamera]);
    if (reinterpret_cast<uintptr_t>(camera) < kPredefEntries || !mp_buf_valid(camera, kBufKindCamera)) return nullptr;
    int32_t moduleType = 0;
    mp_buf_get_field(camera, kCamModuleTypeField, &moduleType);
    if (moduleType != 1 && moduleType != 2 && moduleType != 34) return nullptr;
    if (camera->sizeX * camera->sizeY < static_cast<int32_t>(kRecordBytes)) return nullptr;
    return static_cast<_MP_CAM_ST_0*>(mp_buf_address_band_internal(camera, 0));
}
