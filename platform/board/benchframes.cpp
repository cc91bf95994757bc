#include "benchframes.h"

#include <climits>
#include <cstddef>
#include <cstring>

namespace boardsim {

BenchSceneGenerator::BenchSceneGenerator(const bench::CameraSettings& camera) : camera_(camera) {}

BenchSceneGenerator::BenchSceneGenerator(bench::Scene scene, const bench::CameraSettings& camera)
    : scene_(scene), camera_(camera)
{
}

void BenchSceneGenerator::render(uint64_t frame, uint32_t width, uint32_t height, uint8_t* pixels)
{
    (void)frame;
    if (!pixels || width == 0 || height == 0) return;
    if (width > static_cast<uint32_t>(INT_MAX) || height > static_cast<uint32_t>(INT_MAX)) {
        // Beyond what the bench's camera can take: a black frame rather than pixels left unset.
        std::memset(pixels, 0, static_cast<size_t>(width) * height);
        return;
    }
    // Only a change of scene reconfigures the bench (which drops its cached field).
    if (scene_ && bench::config().scene != *scene_) bench::setScene(*scene_);
    bench::captureFrame(camera_, static_cast<int>(width), static_cast<int>(height), pixels);
}

} // namespace boardsim
