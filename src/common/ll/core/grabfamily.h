// The start- and end-of-grab events of a node's grab module, dispatched to the handlers of
// the module's family.  The grab modules install their families' handlers and the rule
// that tells a node's family; until they do, no node has a known family and an event does
// nothing.  The thread objects' grab records are reached the same way.
#pragma once

#include "hlc_arch.h"
#include "servinfo.h"

#include <cstdint>

// Families: 0 none, 1 the standard family, 2 the second family.
constexpr int kGrabFamilyNone = 0;
constexpr int kGrabFamilyStd = 1;
constexpr int kGrabFamilyAsync = 2;

using GrabEventFn = void (*)(SERVINFO_ST* state, uint32_t channel);
struct MpGrabFamilyHandlers {
    GrabEventFn startOfGrab = nullptr;
    GrabEventFn endOfGrab = nullptr;
};
// The family of a node number (0 none).
using GrabFamilyOfFn = int (*)(uint32_t node);
// The destination location of the grab in progress of a thread object (the word a grab slot
// holds), 0 when it has none or is no thread object.
using ThreadGrabLocationFn = uint32_t (*)(uint32_t thread);

// Installs a family's handlers (null members: none) and returns the ones it replaces.
// Families outside 1-2 are ignored.  While no node serves.
MpGrabFamilyHandlers mpPrvSetGrabFamily(int family, const MpGrabFamilyHandlers& handlers);
// Installs the rule (null: no node has a family) and returns the previous one.
GrabFamilyOfFn mpPrvSetGrabFamilyOf(GrabFamilyOfFn rule);
// Installs the thread grab-record lookup (null: none) and returns the previous one.
ThreadGrabLocationFn mpPrvSetThreadGrabLocation(ThreadGrabLocationFn lookup);

// The family of the node named in word 0 of the state.
int mpPrvGrabFamily(const SERVINFO_ST* state);
// Start and end of grab on a channel of one Orlo: the family's handler, nothing without one.
void mpPrvUpdateSoG(SERVINFO_ST* state, uint32_t channel);
void mpPrvUpdateEoG(SERVINFO_ST* state, uint32_t channel);
// The grab location of a thread object word (0 without a lookup).
uint32_t mpPrvThreadGrabLocation(uint32_t thread);
