// The measurement bench as the simulated board's camera: a frame generator whose frames
// are the bench camera's view of its scene (platform/bench), the same frames the imaging
// stand-in grabs.  Configure a machine with it (Topology::frames) to run the library's
// grabs on the bench's object and fringe images instead of the test pattern.
#pragma once

#include "bench.h"
#include "framegen.h"

#include <cstdint>
#include <optional>

namespace boardsim {

class BenchSceneGenerator : public FrameGenerator {
public:
    // The scene the bench is set to (BENCH_SCENE, or bench::setScene), seen with camera.
    explicit BenchSceneGenerator(const bench::CameraSettings& camera = bench::CameraSettings{});
    // Always the given scene: a frame first puts the bench in it when it shows another.
    explicit BenchSceneGenerator(bench::Scene scene, const bench::CameraSettings& camera = bench::CameraSettings{});

    // The bench camera's frame (bench::captureFrame) of width x height pixels.  The bench
    // gives the same frame for the same state (scene, seed, stage position, channel), so
    // every frame number of one state shows the same image; the fringes move with the
    // bench's phase-shift axis, not with the frame number.
    void render(uint64_t frame, uint32_t width, uint32_t height, uint8_t* pixels) override;

    const bench::CameraSettings& camera() const { return camera_; }
    std::optional<bench::Scene> scene() const { return scene_; }

private:
    std::optional<bench::Scene> scene_;
    bench::CameraSettings camera_;
};

} // namespace boardsim
