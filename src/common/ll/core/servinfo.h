// Grab and VM event state of one Orlo (SERVINFO_ST), kept inside the node record (words
// 14-229 for the primary Orlo, 237-452 for the display Orlo), and the grab or copy window
// (WININFO_ST) that grabs and VM copies address.
//
// Each SERVINFO_ST holds four grab-slot records of 47 words; word k of slot c is word
// 47 c + k of the whole record (words 0-4 of slot 0 are the record's own header words, so
// a slot's words begin at k = 5).  The slot words carry the meanings that the grab
// drivers give them (kSlot* below); the interrupt servers read and write them by these
// names too.
#pragma once

#include "hlc_arch.h"

#include <cstddef>
#include <cstdint>

constexpr uint32_t kServSlots = 4;
constexpr uint32_t kServSlotWords = 47;
constexpr uint32_t kServHostGrabBuffers = 8;

// Words of a grab-slot record.
constexpr uint32_t kSlotLineSema = 5;        // grab-line semaphore
constexpr uint32_t kSlotDoneSema = 7;        // completion semaphore (count 1)
constexpr uint32_t kSlotDoneEvent = 8;       // completion event (manual reset)
constexpr uint32_t kSlotRemaining = 9;       // grabs left in the sequence; -2 idle, -1 continuous
constexpr uint32_t kSlotRequested = 10;      // requested count of the armed grab; -2 idle, -1 endless
constexpr uint32_t kSlotInFlight = 11;       // a grab is in flight (cleared at its end)
constexpr uint32_t kSlotStartPending = 12;   // a start arrived while the previous grab was in flight
constexpr uint32_t kSlotSequence = 13;       // sequence mode: the end counts the remaining grabs down
constexpr uint32_t kSlotSyncCurrent = 14;    // sync object (its kind-7 descriptor) of the grab in flight
constexpr uint32_t kSlotSyncNext = 15;       // sync object (its kind-7 descriptor) of the armed grab
constexpr uint32_t kSlotThreadCurrent = 16;  // thread object (its kind-8 descriptor) of the grab in flight
constexpr uint32_t kSlotThreadNext = 17;     // thread object (its kind-8 descriptor) that armed the grab
constexpr uint32_t kSlotChannelMask = 19;    // 15 after start-up (bits 4-7 of VM register 0x3040)
constexpr uint32_t kSlotLineCurrent = 20;    // line-interrupt value: current, next
constexpr uint32_t kSlotLineNext = 21;
constexpr uint32_t kSlotLineMode = 23;       // line-interrupt mode (bits 20-21 of grab control)
constexpr uint32_t kSlotLineStep = 24;       // grab line step (0: none)
constexpr uint32_t kSlotWindowEnd = 26;      // end line of the grab in flight's window (its last
                                             // line + 1; the end hands last line to the sync counter)
constexpr uint32_t kSlotWindowEndNext = 27;  // the same of the armed grab
constexpr uint32_t kSlotChannelBits = 30;    // channel bits 16-19 used when channels are freed
constexpr uint32_t kSlotDeferred = 32;       // bit 0: pulse grab control bit 0 at the next grab line
constexpr uint32_t kSlotFieldThreshold = 35; // second grab-module family: field threshold
constexpr uint32_t kSlotFieldToggle = 46;    // second grab-module family: field toggle

// Words of slot 0 that belong to the VM server: word 6 is the pending VM word (cleared when
// the VM engine is set up again, and by a halt).
constexpr uint32_t kServVmPending = 6;

// The current/next pairs of a slot that move into place when the last grab of a sequence
// begins: {current, next}.
constexpr uint32_t kSlotSetupPairs[12][2] = {{14, 15}, {16, 17}, {28, 29}, {20, 21}, {24, 25}, {26, 27},
                                             {33, 34}, {30, 31}, {38, 40}, {39, 41}, {42, 44}, {43, 45}};

struct SERVINFO_ST {
    uint32_t node;                              // 0 node number (low byte)
    uint32_t index;                             // 1 Orlo index: 0 primary, 1 display
    uint32_t started;                           // 2 servers-started flag
    uint32_t registers;                         // 3 Orlo register block (host address)
    uint32_t shadow;                            // 4 shadow area of this Orlo
    uint32_t slotWords[kServSlots * kServSlotWords - 5]; // 5-187 the grab-slot records
    uint32_t reserved188[5];
    uint32_t hostGrab[kServHostGrabBuffers];    // 193-200 temporary host-grab buffers (descriptors)
    uint32_t listDescriptor;                    // 201 register list an ending continuous grab rewrites
    uint32_t listEnd;                           // 202 end address of that list
    uint32_t patchAddress[2];                   // 203, 204 words to patch when the list ends
    uint32_t patchValue[2];                     // 205, 206 their values
    int32_t vmLineSema;                         // 207 VM-line semaphore
    int32_t displayLineSema;                    // 208 display-line semaphore (display Orlo)
    uint32_t reserved209;
    int32_t endOfTransferSema;                  // 210 end-of-transfer semaphore
    uint32_t reserved211;
    uint32_t vmLineSync;                        // 212 sync object updated on each VM line
    uint32_t vmLineStep;                        // 213 VM line step (0: no line interrupts)
    uint32_t vmContinuous;                      // 214 continuous-transfer flag
    uint32_t vmTransfer;                        // 215 VM transfer in progress (VMXFER_ST), 0 none

    // Word k of grab slot c (k 5-46; c 0-3).
    uint32_t& slot(uint32_t c, uint32_t k)
    {
        return reinterpret_cast<uint32_t*>(this)[kServSlotWords * c + k];
    }
    const uint32_t& slot(uint32_t c, uint32_t k) const
    {
        return reinterpret_cast<const uint32_t*>(this)[kServSlotWords * c + k];
    }
};
#define HLC_SERV_WORD(field, word) static_assert(offsetof(SERVINFO_ST, field) == (word) * 4, #field " at word " #word)
HLC_SERV_WORD(started, 2);
HLC_SERV_WORD(shadow, 4);
HLC_SERV_WORD(slotWords, 5);
HLC_SERV_WORD(hostGrab, 193);
HLC_SERV_WORD(listDescriptor, 201);
HLC_SERV_WORD(patchValue, 205);
HLC_SERV_WORD(vmLineSema, 207);
HLC_SERV_WORD(endOfTransferSema, 210);
HLC_SERV_WORD(vmTransfer, 215);
#undef HLC_SERV_WORD
static_assert(sizeof(SERVINFO_ST) == 216 * 4, "event state records are 216 words");

// The words of the transfer engine's record of a VM transfer in progress that the
// servers use (SERVINFO_ST word 215 points at it).
struct VMXFER_ST {
    uint32_t reserved0[5];
    int32_t sema;                // 5 task semaphore a continuous transfer's end waits on
    uint32_t reserved6;
    uint32_t resource;           // 7 request resource of the transfer (MP_RESOURCE_ST)
    uint32_t reserved8[3];
    int32_t continuous;          // 11 outstanding continuous transfers
    uint32_t reserved12[3];
    uint32_t pending;            // 15 cleared when the transfer ends
};
static_assert(offsetof(VMXFER_ST, sema) == 5 * 4 && offsetof(VMXFER_ST, resource) == 7 * 4 &&
                  offsetof(VMXFER_ST, continuous) == 11 * 4 && offsetof(VMXFER_ST, pending) == 15 * 4,
              "VM transfer words at their positions");

// A grab or copy window.
struct WININFO_ST {
    uint32_t address[4];      // 0-3 start addresses of up to four bands or frames
    int32_t pitch;            // 4 bytes; negative when flipped vertically
    uint32_t flipX;           // 5 2 = flipped
    uint32_t flipY;           // 6 2 = flipped
    uint32_t firstColumn;     // 7
    uint32_t lastColumn;      // 8
    uint32_t firstLine;       // 9
    uint32_t lastLine;        // 10
    uint32_t decimationX;     // 11
    uint32_t decimationY;     // 12
    uint32_t replicationX;    // 13 1 = none
    uint32_t replicationY;    // 14
};
static_assert(sizeof(WININFO_ST) == 15 * 4, "windows are 15 words");
