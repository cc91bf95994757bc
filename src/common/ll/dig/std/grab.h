// Grab requests of the standard grab-module family.
//
// mpDigGrab_Std carries out one "imDigGrab" request (or one phase of a grab split across
// nodes): it takes the digitizer's grab channels, reloads the digitizer when the camera
// differs from what is loaded, has the Orlo's grab engine programmed and arms the capture.
// Phases that belong to other nodes are forwarded there as further "imDigGrab" messages.
//
// DIGPARAM, the request's parameter block, and the steps of a request that depend on no
// family are in grabrequest.h.
//
// Threads: everything here runs on the node's task kernel (command-server tasks for the
// requests; the thread grab record is also read by the interrupt servers and the halt
// server, which run on the same OS thread and interleave only where a task yields).
#pragma once

#include "grabrequest.h"   // the request record and the forward declarations

#include <cstdint>

// ---- grab request ------------------------------------------------------------------------

// Channel bits of the standard family.
constexpr uint32_t kGrabChannelsAll = 0xF0000;

// The grab request: 0 or -1 (error logged in the resource).  Reached through mpDigGrab,
// which hands the sync object on as its record (MP_SYNC_ST); DIGPARAM::sync holds the
// sync object's descriptor.
int32_t mpDigGrab_Std(MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera, _MP_BUF_ST* destination,
                      int32_t count, _MP_BUF_ST* options, _MP_BUF_ST* sync, int32_t phase);

// Sets the grab channel mask from the channel selection.
void byteL(DIGPARAM* p, uint32_t selection);
// Capture flags: bit 0 when timer 1 of the camera differs from the live registers, bit 1
// for timer 2 (only for a timer whose trigger source is not "none").
void presetCamExposure(DIGPARAM* p, uint32_t variant);
// LUT mode of the camera for the destination, and the standard module's DIM and PSG bits.
void presetCamLut(DIGPARAM* p, uint32_t variant);
// A record that was never loaded takes over the record of the camera loaded on the
// digitizer (a live standard record of another buffer) whole: slots, description, module
// flag, calibration image and the loaded-once and compared-once flags, so that the
// comparison that follows finds the module as that record left it.
void mpPrvTakeLoadedCamera(DIGPARAM* p);
// A composite camera into a buffer it cannot fill: -12 "Can not digitize a composite
// signal", -1.
int32_t grbComposite(DIGPARAM* p);

// Wait mode 1 of the request: while the thread has grabs in progress into another
// location, waits (sleeping 0 s) until they end or the wait mode changes.  -1 (error
// logged) when a halt ends the wait, else 0.
int mpPrvWaitForOtherGrabs(DIGPARAM* p);
// Takes the grab channels and reloads the digitizer when needed: 0, the load's result, or -1.
int32_t grbSetDig(DIGPARAM* p, uint32_t selection, int reload, uint32_t variant);

// ---- grab channels -------------------------------------------------------------------------
// A grab channel n is the node section 0x1000 << n; the grab-engine registers section 2048.
constexpr uint32_t kGrabEngineSection = 2048;
constexpr uint32_t GrabChannelSection(uint32_t channel) { return 0x1000u << channel; }

// Waits for each channel's section in the mask, channel 0 first: 0, or -1 (the caller frees).
int32_t allocCh(DIGPARAM* p, uint32_t mask);
void freeCh(DIGPARAM* p, uint32_t mask);
// One user more / less on each channel of the grab mask.
void incrCh(DIGPARAM* p, uint32_t* users);
void decrCh(DIGPARAM* p, uint32_t* users);
// Waits for a section of a node while the request holds section 2048 and the Orlo protect
// lock (both let go while it yields): 0 taken, -1 failure or halt.  Past the grab-channel
// time-out it keeps testing through the host's wait prompt, which the user may abort (-1,
// "\nWAIT LOCK ERROR IN grbChannelWait()!\n" at the node's "CommunicationDebugMode" level).
int32_t grbChannelWait(DIGPARAM* p, uint32_t node, uint32_t section);
// Undoes what a failed request took: its count on the thread, its user counts, the new
// channels no other grab uses (the in-use mask cleared when no channel has a user left),
// the work allocation.
void cleanGrab(DIGPARAM* p);
// Does nothing.
void benchmark(DIGPARAM* p);
// Serial access of the standard family: nothing to do, 0.
uint32_t mpDigSerAccess_Std(MP_RESOURCE_ST* res, uint32_t operation, uint32_t channel, uint32_t data, uint32_t reg);

// Installs the thread grab-record lookup into the core's interrupt servers.  Called by the
// library's wiring.
void mpPrvWireGrabRequests();
