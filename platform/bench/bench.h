// The simulated measurement bench shared by the imaging-library and stage stand-ins.
#pragma once

#include <cstdint>

namespace bench {

// What the camera is set to when a frame is taken (from the digitizer controls).
struct CameraSettings {
    uint32_t channel = 0x20000000;  // input channel code selected on the digitizer
    double brightness = 0.0;        // offset, grey levels
    double contrast = 1.0;          // gain factor
};

// Takes one camera frame of width x height 8-bit pixels into out. Thread-safe.
void captureFrame(const CameraSettings& camera, int width, int height, uint8_t* out);

// Stage axis 1-4 position in controller counts (the stage stand-in calls this on every move).
void setAxisCounts(int axis, int32_t counts);
int32_t axisCounts(int axis);

}  // namespace bench
