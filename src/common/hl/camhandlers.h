// Host handlers of the camera and digitizer commands: camera records (allocate from an
// entry list, clone, control, free, inquire, save), digitizer objects (allocate, control,
// free, inquire), grabs, triggered captures and the input lookup tables.  Each checks the
// ids of its message, turns them into descriptors and hands the request to the grab-module
// dispatchers, which route it by the node's module family.
//
// Each runs on the command server task of the addressed thread object, in the handler
// frame of every host-served command (request resource taken, checked, released).
#pragma once

#include "camdispatch.h"
#include "im_msgio.h"

#include <cstdint>

// Opcodes of the camera and digitizer commands.
constexpr uint32_t kOpCamAlloc = 49;
constexpr uint32_t kOpCamClone = 50;
constexpr uint32_t kOpCamControl = 51;
constexpr uint32_t kOpCamFree = 52;
constexpr uint32_t kOpCamInquire = 53;
constexpr uint32_t kOpCamSave = 54;
constexpr uint32_t kOpDigAlloc = 55;
constexpr uint32_t kOpDigControl = 56;
constexpr uint32_t kOpDigFree = 57;
constexpr uint32_t kOpDigGrab = 58;
constexpr uint32_t kOpDigInquire = 59;
constexpr uint32_t kOpDigCapture = 142;
constexpr uint32_t kOpDigLutGet = 144;
constexpr uint32_t kOpDigLutSet = 145;
constexpr uint32_t kOpDigConvert = 211;

// Request-resource size of the grab: the grab's end, not the handler, completes its sync
// object.
constexpr uint32_t kResGrabSize = 257;

inline constexpr const char* kCamTextCloneFailed = "Camera Clone Failed";

void mp_CamAlloc(_MSG_BODY_ST* msg);
void mp_CamClone(_MSG_BODY_ST* msg);
void mp_CamControl(_MSG_BODY_ST* msg);
void mp_CamFree(_MSG_BODY_ST* msg);
void mp_CamInquire(_MSG_BODY_ST* msg);
void mp_CamSave(_MSG_BODY_ST* msg);
void mp_DigAlloc(_MSG_BODY_ST* msg);
void mp_DigControl(_MSG_BODY_ST* msg);
void mp_DigFree(_MSG_BODY_ST* msg);
void mp_DigGrab(_MSG_BODY_ST* msg);
void mp_DigInquire(_MSG_BODY_ST* msg);
void mp_DigCapture(_MSG_BODY_ST* msg);
void mp_DigLutGet(_MSG_BODY_ST* msg);
void mp_DigLutSet(_MSG_BODY_ST* msg);

// Puts the camera and digitizer handlers into the opcode table.  While no node serves.
void mp_cam_install();
