// The camera node of camerafixture.h with what the control entry points need: camera
// buffers, a module that is present, and short forms of the four entry points.
#pragma once

#include "camerafixture.h"
#include "ctrldispatch.h"
#include "digitizers.h"
#include "hlc_errors.h"

#include <cstring>
#include <string>

namespace ctrlfixture {

constexpr double kDefault = 268435456.0;
constexpr double kNone = 536870912.0;
constexpr double kEnable = -9997.0;
constexpr double kDisable = -9999.0;

// A control type: number and selector.
constexpr int32_t Type(uint32_t number, uint32_t selector = 0)
{
    return static_cast<int32_t>(number | (selector << 16));
}

class ControlTest : public camerafixture::CameraNodeTest {
protected:
    void SetUp() override
    {
        camerafixture::CameraNodeTest::SetUp();
        if (HasFatalFailure()) return;
        Info()[kNodeInfoModulePresent] = 1;
    }
    // A camera buffer made while the module is absent (no load), then the module present.
    _MP_BUF_ST* NewCamera(std::initializer_list<std::pair<const char*, uint32_t>> lines = {})
    {
        Info()[kNodeInfoModulePresent] = 0;
        const uint32_t id = Alloc(camerafixture::Entries(kCamTypeStd, lines));
        Info()[kNodeInfoModulePresent] = 1;
        return mp_buf_pointer(id);
    }
    static _MP_CAM_ST_0* Rec(_MP_BUF_ST* camera)
    {
        return static_cast<_MP_CAM_ST_0*>(mp_buf_address_band_internal(camera, 0));
    }
    // A digitizer object whose loaded camera is the given one.
    static _MP_BUF_ST* DigitizerWith(_MP_BUF_ST* camera)
    {
        _MP_BUF_ST* d = mp_buf_alloc_on_node(chipsfixture::kNode, kDigEntryBytes, 1, 1, 8, kLocInline);
        if (!d || !mp_buf_alloc_id(d)) return nullptr;
        d->kind = kBufKindDigitizer;
        auto* words = static_cast<uint32_t*>(mp_buf_address_band_internal(d, 0));
        std::memset(words, 0, kDigEntryBytes);
        words[kDigWordCamera] = camera ? camera->id : 0;
        return d;
    }

    int32_t CamSet(_MP_BUF_ST* camera, int32_t type, double value) { return mpCamControl_Std(&res_, camera, type, value); }
    double CamAsk(_MP_BUF_ST* camera, int32_t type, int32_t* result = nullptr)
    {
        double out = -12345.0;
        const int32_t r = mpCamInquire_Std(&res_, camera, type, &out);
        if (result) *result = r;
        return out;
    }
    int32_t DigSet(int32_t type, double value, _MP_BUF_ST* digitizer = nullptr)
    {
        return mpDigControl_Std(&res_, digitizer, type, value);
    }
    double DigAsk(int32_t type, int32_t* result = nullptr)
    {
        double out = -12345.0;
        const int32_t r = mpDigInquire_Std(&res_, nullptr, type, &out);
        if (result) *result = r;
        return out;
    }
    bool NotBuilt() const { return Text() == "not built yet"; }
};

} // namespace ctrlfixture
