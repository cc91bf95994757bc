// The grab-module node of lutfixture.h as a command sees it: a node state block whose node
// information names the module (type, present, loaded, camera-UART area), a request
// resource on the node, and camera-file entry lists.
#pragma once

#include "camdispatch.h"
#include "camera.h"
#include "camuart.h"
#include "lutfixture.h"
#include "reqres.h"

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace camerafixture {

using chipsfixture::Get;
using chipsfixture::Set;

// A camera-file entry list: the type line, then keyword and value pairs.
inline std::vector<_DCF_ENTRY> Entries(const char* type, std::initializer_list<std::pair<const char*, uint32_t>> lines)
{
    std::vector<_DCF_ENTRY> list;
    _DCF_ENTRY e{};
    std::strncpy(e.name, type, sizeof e.name - 1);
    list.push_back(e);
    for (const auto& line : lines) {
        _DCF_ENTRY x{};
        std::strncpy(x.name, line.first, sizeof x.name - 1);
        x.value = line.second;
        list.push_back(x);
    }
    return list;
}

class CameraNodeTest : public lutfixture::LutTest {
protected:
    void SetUp() override
    {
        lutfixture::LutTest::SetUp();
        if (HasFatalFailure()) return;
        state_ = std::make_unique<_NODE_ST>();
        chipsfixture::Record().nodeState = state_.get();
        Info()[kNodeInfoModuleType] = moduleType_;
        res_.node = chipsfixture::kNode;
        res_.record = &chipsfixture::Record();
        res_.name = "CamAlloc";
    }
    void TearDown() override
    {
        if (state_) mpPrvFreeCamUartArea(Info());
        chipsfixture::Record().nodeState = nullptr;
        lutfixture::LutTest::TearDown();
    }

    uint32_t* Info() { return &state_->nodeInfo; }
    // Puts another module on the node. What the module that goes made for itself (the
    // camera serial port's area of a Sorvik II) goes with it, as at the node's shut-down.
    void SetModuleType(uint32_t type)
    {
        if (type != Info()[kNodeInfoModuleType]) mpPrvFreeCamUartArea(Info());
        moduleType_ = static_cast<uint8_t>(type);
        Info()[kNodeInfoModuleType] = type;
    }
    int32_t Code() const { return res_.err.code; }
    std::string Text() const { return res_.err.message ? res_.err.message : ""; }
    void ClearError() { res_.err = _MSG_ERR_ST{}; }

    // The record of a camera buffer id.
    static _MP_CAM_ST_0* Camera(uint32_t id)
    {
        _MP_BUF_ST* b = mp_buf_pointer(id);
        return b ? static_cast<_MP_CAM_ST_0*>(mp_buf_address_band_internal(b, 0)) : nullptr;
    }
    uint32_t Alloc(const std::vector<_DCF_ENTRY>& list, int32_t mode = 0, int32_t count = -1)
    {
        const int32_t n = count >= 0 ? count : static_cast<int32_t>(list.size());
        return mpCamAlloc_Std(&res_, list.data(), n, mode);
    }

    std::unique_ptr<_NODE_ST> state_;
    MP_RESOURCE_ST res_{};
};

} // namespace camerafixture
