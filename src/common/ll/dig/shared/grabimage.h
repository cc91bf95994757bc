// The register image of the Orlo's grab engine, as both grab-module families compute it
// for one grab (the standard family writes it through the Orlo shadows, the second
// family's transfer lists carry it): the slots of the grab registers and of the VM-engine
// registers, the Orlo offset of each grab register, and the grab control, grab status and
// interrupt register bits the grab steps test.
#pragma once

#include "hlc_arch.h"

#include <cstdint>

// ---- register image --------------------------------------------------------------------
// 106 words allocated per grab request (the request's work allocation, freed by the
// request when it ends or fails).  Words 0-51: 26 slots {value, flags} of the Orlo grab
// registers in the order below; words 52-101: 25 slots of the VM-engine registers a host
// grab uses; words 102-105 the line-interrupt kind, lines per millisecond, window end line
// and the tag buffer (descriptor).
constexpr uint32_t kGrbImageWords = 106;
constexpr uint32_t kGrbImageBytes = kGrbImageWords * 4;

namespace grbimg {
// Slot index (word = 2 x index) of each grab register in the image.
enum GrabReg : uint32_t {
    GHSCLNG = 0,
    GHTOTAL,
    GHWSTART,
    GHWSTOP,
    GLNINT,
    GPIXFMT,
    GRABCTRL,
    GVSCLNG,
    GVTOTAL,
    GVWSTART,
    GVWSTOP,
    GARPADDR,
    GARPCTRL,
    GSTATUS,
    GBLENGTH,
    GC1FOFF,
    GC1TOFF,
    GC2FOFF,
    GC2TOFF,
    GC3FOFF,
    GC3TOFF,
    GDWRTMSK,
    GFSTART,
    GLPITCH,
    GTAGCTL,
    GTLPITCH,
    kGrabRegs
};
static_assert(kGrabRegs == 26, "26 grab registers");

// Orlo byte offset of each grab register, in image order.
extern const uint32_t kGrabRegOffset[kGrabRegs];

constexpr uint32_t kVmFirstWord = 52;      // 25 VM-engine slots, words 52-101
constexpr uint32_t kVmSlots = 25;
constexpr uint32_t kVmRestartWord = 76;    // bits 4-7: VM restart mode (15 = none)
constexpr uint32_t kVmControlWord = 86;    // host grab: VM control bits
constexpr uint32_t kVmListWord = 58;       // host grab: bits 0-2 set
constexpr uint32_t kLineKindWord = 102;
constexpr uint32_t kLinesPerMsWord = 103;
constexpr uint32_t kWindowEndWord = 104;
constexpr uint32_t kTagBufferWord = 105;

// Value word of a grab register's slot.
inline uint32_t& Reg(uint32_t* image, GrabReg r)
{
    return image[2 * r];
}
inline uint32_t& Flags(uint32_t* image, GrabReg r)
{
    return image[2 * r + 1];
}
}  // namespace grbimg

// Grab control bits used by the programming.
constexpr uint32_t kGctlStop = 0x1;          // bit 0: engine stopped
constexpr uint32_t kGctlContinuous = 0x2;    // bit 1
constexpr uint32_t kGctlSingle = 0x4;        // bit 2
constexpr uint32_t kGctlFrame = 0x4000;      // bit 14: frame mode
// Grab status bits: 4 a frame in flight, 5 armed.
constexpr uint32_t kGstatInFlight = 0x10;
constexpr uint32_t kGstatArmed = 0x20;
// Interrupt register bits: 12 start of grab, 13 end of grab.
constexpr uint32_t kIntStartOfGrab = 0x1000;
constexpr uint32_t kIntEndOfGrab = 0x2000;
