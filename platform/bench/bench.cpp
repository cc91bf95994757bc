#include "bench.h"

#include <array>
#include <atomic>
#include <cstring>

namespace bench {

namespace {
std::array<std::atomic<int32_t>, 5> g_axis{};
}

void captureFrame(const CameraSettings&, int width, int height, uint8_t* out)
{
    if (width > 0 && height > 0)
        std::memset(out, 128, static_cast<size_t>(width) * static_cast<size_t>(height));
}

void setAxisCounts(int axis, int32_t counts)
{
    if (axis >= 1 && axis <= 4) g_axis[axis] = counts;
}

int32_t axisCounts(int axis)
{
    return axis >= 1 && axis <= 4 ? g_axis[axis].load() : 0;
}

}  // namespace bench
