// Exposure generators (the module's timers 1 and 2), software triggers and the capture
// logic that decides what starts an exposure: a hardware trigger, a software command or
// the grab itself.  Everything acts on the live registers of the module selected in the
// register-control record, except the controls given a camera record and the capture
// arming's reads of the record.
//
// Threads: the node's command-server task (controls, grab request, capture request); no
// lock is taken.
#pragma once

#include <cstdint>

struct MP_RESOURCE_ST;
struct _MP_CAM_ST_0;

// Trigger-source values with a meaning of their own (record words; doubles in controls).
constexpr int32_t kTrigNone = 0x20000000;
constexpr int32_t kTrigTimer1 = 0x20000;  // the timer also accounts for timer 2
constexpr int32_t kTrigTimer2 = 0x10000;  // the timer also accounts for timer 1
constexpr int32_t kTrigArmed = -1;        // armed and set running by the arming

// Generators, on the live registers.  A chain (trigger source code 5) starts or stops the
// other generator as well; each generator is handled once per call, so timers chained to
// each other both ways end.
void mp_dig_gen_exp1(_MP_CAM_ST_0* camera);
void mp_dig_gen_exp2(_MP_CAM_ST_0* camera);
void mp_dig_gen_exp_sync(_MP_CAM_ST_0* camera);
void mp_dig_dis_exp1(_MP_CAM_ST_0* camera);
void mp_dig_dis_exp2(_MP_CAM_ST_0* camera);
void mp_dig_dis_exp_sync(_MP_CAM_ST_0* camera);
// Stop a generator, then put back the DIG_MISCTL value found.
void mp_dig_reset_timer1(_MP_CAM_ST_0* camera);
void mp_dig_reset_timer2(_MP_CAM_ST_0* camera);
// Pulses the software trigger lines of the mask (bit 0 timer 1, bit 1 timer 2, bit 2
// capture) to their active level and back; only without a camera record.
void mp_dig_sw_toggle_signals(_MP_CAM_ST_0* camera, uint32_t mask);
// 1 when both timers' trigger source codes (live control registers) are equal and not 5.
int mp_dig_sync_timers();
// Hardware-trigger timers of the record's capture source: bit 0 timer 1, bit 1 timer 2.
uint32_t mp_dig_sync_hw_trigger(_MP_CAM_ST_0* camera);

// Controls (camera record or null, control type, address of the value, mode); 0 or -1.
int mp_dig_exp1(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);      // 30012
int mp_dig_exp2(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);      // 30012
int mp_dig_exp_sync(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);  // 30012
int mp_dig_capt_src(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);  // 30013
int mp_dig_capt_pol(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);  // 30014
int mp_dig_sw_capt(_MP_CAM_ST_0* camera, int32_t type, double* value, int32_t mode);   // 30015

// Arms the capture of a grab: capture mode (the grab's field 10030), frame count (-1
// continuous), timer-change flags (bit 0 timer 1, bit 1 timer 2).
void GrbCapt(_MP_CAM_ST_0* camera, int32_t captureMode, int32_t count, uint32_t timerFlags);
// The capture-source choice: starts what the record's capture source names; returns the
// timers it marked as started (bit 0 timer 1, bit 1 timer 2) on top of `marks`.
uint32_t calcVar(_MP_CAM_ST_0* camera, int32_t trigSrc, int sync, int32_t s1, int32_t s2, uint32_t marks);
// Triggered capture on a node whose module is present and loaded: the command -9997 fires
// what the camera's capture and timer sources name on the live registers.
void mpDigCaptureOnNode(uint32_t* nodeInfo, uint32_t node, _MP_CAM_ST_0* camera, int32_t command);
// The request: the camera buffer's record on the resource's node.
void mpDigCapture_Std(MP_RESOURCE_ST* resource, uint32_t digitizer, uint32_t camera, int32_t command);
