// Dispatch of grab events by the node's grab-module family.
#include "grabfamily.h"

#include <atomic>

namespace {

int NoFamily(uint32_t)
{
    return kGrabFamilyNone;
}
uint32_t NoGrabRecord(uint32_t)
{
    return 0;
}

// Written while no node serves, read by the servers of every node.
std::atomic<GrabEventFn> g_start[3];
std::atomic<GrabEventFn> g_end[3];
std::atomic<GrabFamilyOfFn> g_familyOf{NoFamily};
std::atomic<ThreadGrabLocationFn> g_location{NoGrabRecord};

bool Known(int family)
{
    return family == kGrabFamilyStd || family == kGrabFamilyAsync;
}

}  // namespace

MpGrabFamilyHandlers mpPrvSetGrabFamily(int family, const MpGrabFamilyHandlers& handlers)
{
    MpGrabFamilyHandlers old;
    if (!Known(family)) return old;
    old.startOfGrab = g_start[family].exchange(handlers.startOfGrab);
    old.endOfGrab = g_end[family].exchange(handlers.endOfGrab);
    return old;
}

GrabFamilyOfFn mpPrvSetGrabFamilyOf(GrabFamilyOfFn rule)
{
    GrabFamilyOfFn old = g_familyOf.exchange(rule ? rule : NoFamily);
    return old == NoFamily ? nullptr : old;
}

ThreadGrabLocationFn mpPrvSetThreadGrabLocation(ThreadGrabLocationFn lookup)
{
    ThreadGrabLocationFn old = g_location.exchange(lookup ? lookup : NoGrabRecord);
    return old == NoGrabRecord ? nullptr : old;
}

int mpPrvGrabFamily(const SERVINFO_ST* state)
{
    if (!state) return kGrabFamilyNone;
    const int family = g_familyOf.load()(state->node & 0xFF);
    return Known(family) ? family : kGrabFamilyNone;
}

void mpPrvUpdateSoG(SERVINFO_ST* state, uint32_t channel)
{
    const int family = mpPrvGrabFamily(state);
    if (family == kGrabFamilyNone) return;
    if (GrabEventFn f = g_start[family].load()) f(state, channel);
}

void mpPrvUpdateEoG(SERVINFO_ST* state, uint32_t channel)
{
    const int family = mpPrvGrabFamily(state);
    if (family == kGrabFamilyNone) return;
    if (GrabEventFn f = g_end[family].load()) f(state, channel);
}

uint32_t mpPrvThreadGrabLocation(uint32_t thread)
{
    return thread ? g_location.load()(thread) : 0;
}
