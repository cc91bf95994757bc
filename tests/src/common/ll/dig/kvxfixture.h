// A node with the second-family module behind its primary Orlo's port window (the
// chipsfixture node with module type 4), its KVX_INFO attached with four zeroed live
// register copies, so the register I/O and the download reach the simulated module, whose
// decoded chips the tests read through BoardSim's kvx view.
#pragma once

#include "chipsfixture.h"
#include "eeprom.h"
#include "kvxio.h"

#include <array>
#include <memory>

namespace kvxfixture {

using chipsfixture::BitsAtRisingEdges;
using chipsfixture::Join;
using chipsfixture::LsbFirst;
using chipsfixture::MsbFirst;
using chipsfixture::kNode;

class KvxModuleTest : public chipsfixture::GrabModuleTest {
protected:
    KvxModuleTest() { moduleType_ = 4; }
    void SetUp() override
    {
        chipsfixture::GrabModuleTest::SetUp();
        if (HasFatalFailure()) return;
        for (uint32_t c = 0; c < 4; ++c) info_.regs[c] = copies_[c]->bytes;
        mpPrvSetKvxInfo(kNode, &info_);
        Kvx().clearLog();
    }
    void TearDown() override
    {
        mpPrvSetKvxInfo(kNode, nullptr);
        chipsfixture::GrabModuleTest::TearDown();
    }

    static boardsim::KvxView Kvx() { return boardsim::BoardSim::instance().kvx(0); }
    // Word 0 of a slot of a channel's live copy.
    uint32_t& Live(uint32_t channel, uint32_t slot) { return CamSlotAt(copies_[channel]->bytes, slot)->value; }

    KVX_INFO info_{};
    std::array<std::unique_ptr<_MP_CAM_ST_1>, 4> copies_{std::make_unique<_MP_CAM_ST_1>(),
                                                        std::make_unique<_MP_CAM_ST_1>(),
                                                        std::make_unique<_MP_CAM_ST_1>(),
                                                        std::make_unique<_MP_CAM_ST_1>()};
};

} // namespace kvxfixture
