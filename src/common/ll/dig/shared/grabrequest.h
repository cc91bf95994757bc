// The grab request record both grab-module families fill, and the steps of a request that
// depend on no family: filling the record from the command, finding the digitizer,
// forwarding a phase, or a grab into a display heap whole, to another node as an
// "imDigGrab" message.
//
// DIGPARAM is the parameter block of one request: it lives on the request's stack and is
// handed to every grab-engine operation.
//
// Threads: everything here runs on the node's task kernel (command-server tasks for the
// requests; the thread grab record is also read by the interrupt servers and the halt
// server, which run on the same OS thread and interleave only where a task yields).
#pragma once

#include "hlc_arch.h"
#include "thread.h"

#include "nodeopen.h"

#include <cstddef>
#include <cstdint>

struct MP_RESOURCE_ST;
struct MP_THREAD_ST;
struct SERVINFO_ST;
struct _MP_BUF_ST;
struct _MP_CAM_ST_0;
struct _NODE_MAIN_RESOURCE_ST;

// ---- thread grab record --------------------------------------------------------------------
// MP_THR_GRAB_ST (thread.h) lives inside every thread object; mp_thr_grab_record and
// mp_thr_grab_record_of_buffer find it.

// ---- grab request ------------------------------------------------------------------------

// Default value of a grab control field (0x10000000).
constexpr int32_t kGrabFieldDefault = 0x10000000;
// Grab control fields read by the request.
constexpr uint32_t kGrabFieldTagBuffer = IM_CTL_HOST_PATH;   // host grab: buffer id that selects the second path
constexpr uint32_t kGrabFieldCamProg = IM_CTL_CONTINUED;     // camera programming (default: compare and reload)
constexpr uint32_t kGrabFieldWaitMode = IM_CTL_WAIT_MODE;    // 1 wait for grabs of another location, 2 no wait
constexpr uint32_t kGrabFieldChannel = IM_CTL_CHANNEL;     // channel selection (default: INFO_CHANNEL)
constexpr uint32_t kGrabFieldCapture = IM_CTL_CAPTURE;     // capture mode

// Phases of a request.
constexpr int32_t kGrabPhaseAll = 0;
constexpr int32_t kGrabPhaseDigitizer = 1;
constexpr int32_t kGrabPhaseOrlo = 2;
constexpr int32_t kGrabPhaseCapture = 3;
constexpr int32_t kGrabPhaseForwarded = 4;        // all phases, sent by another node

// Sync-object states of a grab.
constexpr uint32_t kGrabSyncArmed = 10;
constexpr uint32_t kGrabSyncReceived = 20;
constexpr uint32_t kGrabSyncProgrammed = 30;
constexpr uint32_t kGrabSyncStarted = 40;
constexpr uint32_t kGrabSyncEnded = 50;

// Node information words (the node state from word 25 on) the request reads: the
// local-grab flag (state word 295: a grab into a display heap runs on this node instead of
// the display node) and the host-grab path flag (state word 296: the first grab path
// serves host DMA destinations).
constexpr uint32_t kNodeInfoLocalGrab = (offsetof(_NODE_ST, localGrab) - offsetof(_NODE_ST, nodeInfo)) / 4;
constexpr uint32_t kNodeInfoHostGrabFirstPath = (offsetof(_NODE_ST, hostGrabFirstPath) - offsetof(_NODE_ST, nodeInfo)) / 4;

// Words of a digitizer object's band 0 (_DIGINFO) besides those of the digitizer list
// (digitizers.h: 4 node, 6 current camera): the mask of channels in use (bits 16-19; the
// end-of-grab server clears it when no channel has a user left), the digitizer whose
// camera was loaded last, and the four channels' user counts.
constexpr uint32_t kDigWordChannelsInUse = 7;
constexpr uint32_t kDigWordLastLoaded = 8;
constexpr uint32_t kDigWordUsers = 9;   // 9-12, channel 0 first

// The request's own arguments, repeated when a phase is forwarded.
struct MpGrabArgs {
    int32_t count;
    _MP_BUF_ST* options;
    _MP_BUF_ST* sync;
    int32_t phase;
};

struct DIGPARAM {
    uint32_t node;                       // executing node
    uint32_t moduleWord;                 // grab module present on the digitizer's node (0: skip
                                         // the digitizer and capture phases)
    uint32_t digId;                      // id of the digitizer object in use
    MP_RESOURCE_ST* res;                 // request resource
    MP_THREAD_ST* thread;                // the request's thread object
    MP_THR_GRAB_ST* thrGrab;             // its grab record (null without a thread object)
    uint32_t* nodeInfo;                  // grab-module block: node information of this node
    uint32_t* digBlock;                  // digitizer sub-block: the digitizer's band 0 words
    _NODE_MAIN_RESOURCE_ST* record;      // node record (host view)
    SERVINFO_ST* path;                   // grab path
    uint32_t pathIndex;                  // 0 first grab path (primary Orlo), 1 second
    _MP_CAM_ST_0* cam;                   // camera record (band 0 of camera), null without one
    uint32_t* digInfo;                   // band 0 of the digitizer object (kDigWord*)
    _MP_BUF_ST* digitizer;
    _MP_BUF_ST* camera;
    _MP_BUF_ST* destination;
    _MP_BUF_ST* options;                 // grab control buffer
    _MP_BUF_ST* sync;                    // the sync object's kind-7 descriptor, null none
    uint32_t newChannels;                // channel bits this request took
    uint32_t grabMask;                   // channel bits the grab uses
    uint32_t captureFlags;               // bit 0 timer 1, bit 1 timer 2 differ from the live registers
    const MpGrabArgs* args;              // the request's own arguments
    void* work;                          // work allocation of the register programming (std::free)
    uint32_t hostGrab[8];                // temporary-buffer words of the grab path (host grab)
    // Request state.
    uint32_t syncId;                     // id of the sync object, 0 none
    uint32_t variant;                    // module variant: 2 or 34 (Sorvik II digitizer), else 0
    uint32_t forwarded;                  // the request runs here for the display node
    uint32_t displayNode;                // display node of this node's system (0 unknown)
    int32_t camProg;                     // field 10033
    uint32_t channelSel;                 // channel selection
    uint32_t countAdded;                 // grabs this request added to the thread's count
    uint32_t engine[8];                  // words the register programming keeps for the request
    // Locks the channel taking holds (released on every road out of grbSetDig).
    uint32_t protectToken;               // owner word of the Orlo protect lock (no semaphore)
    uint32_t protectHeld;                // the protect lock is taken
    uint32_t sectionHeld;                // section 2048 of the digitizer's node is taken
    uint32_t heldChannels;               // channel sections this request took (bits 16-19)
};

// The digitizer info of the request (digitizer given, or the node's own); null after -1 for
// an object of the wrong kind, null without an error when the node has no digitizer.
uint32_t* getDigInfo(DIGPARAM* p);
// Forwards one phase to a node as an "imDigGrab" message and waits for its reply: 0, or -1
// when the message could not be sent or the phase failed there (its error goes into the
// request's record; the request goes on with its local phases).
int32_t sendMsg(DIGPARAM* p, int32_t phase, uint32_t node, _MP_BUF_ST* sync);
// A grab into a display heap (a destination neither in board nor in host DMA memory) of
// a node that does not grab there itself (localGrab false) is run whole by the display
// node of the node's system: true when it went there, its result in *result.  Otherwise
// false, with p->displayNode and p->forwarded set for a display-heap destination.
bool mpPrvGrabOnDisplayNode(DIGPARAM* p, uint32_t location, bool localGrab, int32_t phase, int32_t* result);
// A halt of the request's thread is under way: the ring server has seen an imThrHalt the
// thread's server has not reached yet, or the halt operation is counting on the thread's
// grab record.
bool mpPrvHaltPending(const DIGPARAM* p);

// The sync object (its kind-7 descriptor) whose record the command handler handed on, looked
// up on the node and on the node that made it; null when there is none.
_MP_BUF_ST* mpPrvGrabSyncDescriptor(uint32_t node, const void* syncRecord);

// Fills a grab request's parameters from the command: the executing node and its records,
// the request's buffers, the sync object's descriptor and the arguments, then the
// digitizer's information (getDigInfo).
void mpPrvInitGrabParams(DIGPARAM* p, MP_RESOURCE_ST* res, _MP_BUF_ST* digitizer, _MP_BUF_ST* camera,
                         _MP_BUF_ST* destination, _MP_BUF_ST* options, _MP_BUF_ST* sync, const MpGrabArgs* args);
