// The grab-module node of chipsfixture.h with what the LUT code needs besides: the buffer
// service on the node (descriptors in an arena), the module outputs enabled in the live
// shadow, register answers that a test fixes through a read filter, and camera records of
// the common kinds.
#pragma once

#include "analog.h"
#include "bufid.h"
#include "chipsfixture.h"
#include "lut.h"
#include "lutport.h"
#include "pll.h"

#include <map>
#include <memory>

namespace lutfixture {

using chipsfixture::Get;
using chipsfixture::Set;

inline constexpr uint32_t kDescBytes = 1u << 20;
alignas(65536) inline uint8_t g_descArena[kDescBytes];

inline int32_t ArenaMemory(uint32_t, uint32_t bytes, _MP_BAND_ST* band)
{
    if (bytes > kDescBytes) return 0;
    band->id = 9;
    band->mapped = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(g_descArena));
    band->physical = 0x10000000;
    return 9;
}

// An 8-bit analog camera on red, one tap, the PLL unused, clocks 40 MHz and 10 MHz.
inline std::unique_ptr<_MP_CAM_ST_0> EightBitCamera()
{
    auto cam = chipsfixture::NewRecord();
    _MP_CAM_ST_0* c = cam.get();
    Set(c, cam0::INFO_BITSPERLOGCH, 8);
    Set(c, cam0::INFO_TIMEMULTIPIX, 1);
    Set(c, cam0::INFO_TIMEMULTICH, 1);
    Set(c, cam0::INFO_CHANNEL, 0x10000);
    Set(c, cam0::INFO_XTAPSPERCH, 1);
    Set(c, cam0::INFO_YTAPSPERCH, 1);
    Set(c, cam0::INFO_XTAPSPERCHADJ, 1);
    Set(c, cam0::INFO_YTAPSPERCHADJ, 1);
    Set(c, cam0::INFO_GRBSYSCLK, 40000000);
    Set(c, cam0::INFO_USRCLK0, 10000000);
    Set(c, cam0::DIG_GPCTL, 0x0005);
    return cam;
}

class LutTest : public chipsfixture::GrabModuleTest {
protected:
    void SetUp() override
    {
        chipsfixture::GrabModuleTest::SetUp();
        if (HasFatalFailure()) return;
        mp_buf_set_descriptor_memory(ArenaMemory);
        ASSERT_EQ(mp_buf_init(chipsfixture::kNode, 64, 32), 0);
        // Module outputs on, as after a camera allocation; the port reports the plain
        // LUT interface (register 70 bits 8-10 = 001).
        mpPrvDigPut(nullptr, cam0::DIG_GPCTL, 0xFFFF, 0x0005);
        Answer(70, 0x0100);
        Grab().clearLog();
    }
    void TearDown() override
    {
        boardsim::BoardSim::instance().setReadFilter(nullptr);
        mp_buf_exit_all();
        mp_buf_set_descriptor_memory(nullptr);
        chipsfixture::GrabModuleTest::TearDown();
    }

    // From now on a read of the register answers this value (both byte lanes).
    void Answer(uint32_t reg, uint16_t value)
    {
        answers_[reg] = value;
        Install();
    }
    // Pixel-clock measurements end at once and count 0: no lock is ever seen.
    void NoPixelClock()
    {
        answers_[grabregs::kVerticalCounter] = 0;
        timerPulse_ = true;
        Install();
    }
    void Install()
    {
        auto answers = answers_;
        auto t1Reads = std::make_shared<uint32_t>(0);
        const bool pulse = timerPulse_;
        boardsim::BoardSim::instance().setReadFilter([answers, t1Reads, pulse](const boardsim::HwAccess& a) -> uint32_t {
            if (a.area != boardsim::HwArea::PrimaryPort || a.op != boardsim::HwOp::Read) return a.value;
            if (pulse && a.offset == grabregs::PortHigh(grabregs::DIG_T1CTL)) return ((*t1Reads)++ % 2) ? 0x00 : 0x80;
            const auto found = answers.find(a.offset / 16);
            if (found == answers.end()) return a.value;
            return (a.offset % 16) >= 8 ? (found->second >> 8) : (found->second & 0xFF);
        });
    }

    // The node's LUT copy area: band b of LUT l (0 or 1).
    static const uint8_t* Copy(int lut, int band)
    {
        return chipsfixture::State().data() + kLutCopyOffset + (3 * lut + band) * kLutEntries;
    }

    // A LUT buffer on the node: width x 1, bands, bits per entry; 0 on failure.
    static _MP_BUF_ST* LutBuffer(int32_t width, uint32_t bands, uint32_t bits)
    {
        _MP_BUF_ST* b = mp_buf_alloc_on_node(chipsfixture::kNode, width, 1, bands, bits, kLocInline);
        if (!b || !mp_buf_alloc_id(b)) return nullptr;
        b->kind = kBufKindImage;
        return b;
    }
    static uint8_t* Band(_MP_BUF_ST* b, uint32_t band)
    {
        return static_cast<uint8_t*>(mp_buf_address_band_internal(b, band));
    }

    std::map<uint32_t, uint16_t> answers_;
    bool timerPulse_ = false;
};

// The ICD2061A words received whole that program a clock register (control words left out).
inline std::vector<uint32_t> ClockWords()
{
    std::vector<uint32_t> out;
    for (uint32_t w : boardsim::BoardSim::instance().grab(0).icdWords())
        if (((w >> 21) & 7) <= 3) out.push_back(w & 0xFFFFFF);
    return out;
}

} // namespace lutfixture
