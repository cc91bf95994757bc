#include "Surfacewriter.h"

#include "Apperror.h"
#include "Floatimage.h"
#include "Textformat.h"

#include <cstdio>

namespace {

void AppendLine(std::string& text, const std::string& line)
{
    text += line;
    text += "\r\n";
}

}  // namespace

std::string SurfaceDataText(const TMapCoordinates& map, int rows, int cols)
{
    if (!map.Heights || map.Width <= 0 || map.Height <= 0)
        throw EAppError("There is no height map to output");
    if (rows <= 0) throw EAppError("The number of sample rows must be above 0");
    if (cols <= 0) throw EAppError("The number of sample columns must be above 0");
    if (map.Zcf == 0)
        throw EAppError("Zcf is 0: the surface coordinates cannot be computed");

    const int W = map.Width, H = map.Height;
    int xMin = W - 1, xMax = 0, yMin = H - 1, yMax = 0;
    bool any = false;
    for (int r = 0; r < H; ++r)
        for (int c = 0; c < W; ++c) {
            if (map.Mask && map.Mask[map.Index(c, r)] != 0) continue;
            any = true;
            if (c < xMin) xMin = c;
            if (c > xMax) xMax = c;
            if (r < yMin) yMin = r;
            if (r > yMax) yMax = r;
        }

    std::string text;
    AppendLine(text, Format("%3d %3d", rows, cols));
    if (!any) return text;

    const int spanX = xMax - xMin + 1, spanY = yMax - yMin + 1;
    const float stepX = static_cast<float>(spanX) / static_cast<float>(cols);
    const float stepY = static_cast<float>(spanY) / static_cast<float>(rows);
    // Each advance is trunc(position + step + 0.5): a step of half a pixel or more moves
    // at least one pixel, a shorter one would never move.
    if (stepX < 0.5f)
        throw EAppError(Format("%d sample columns are more than twice the %d columns of "
                                "valid pixels: the sample step must be at least half a pixel",
                                cols, spanX));
    if (stepY < 0.5f)
        throw EAppError(Format("%d sample rows are more than twice the %d rows of valid "
                                "pixels: the sample step must be at least half a pixel",
                                rows, spanY));

    for (int y = yMin; y <= yMax; y = static_cast<int>(double(y) + double(stepY) + 0.5)) {
        for (int x = xMin; x <= xMax; x = static_cast<int>(double(x) + double(stepX) + 0.5)) {
            const bool masked = map.Mask && map.Mask[map.Index(x, y)] == 255;
            const double z = masked ? 0.0 : double(map.Heights[map.Index(x, y)]);
            const float X = static_cast<float>(map.WorldX(x, z));
            const float Y = static_cast<float>(map.WorldY(y, z));
            const double Z = masked ? 10000.0 : double(static_cast<float>(z + map.OriginZ));
            AppendLine(text, Format("%8.3f   %8.3f   %8.3f", double(X), double(Y), Z));
        }
    }
    return text;
}

void WriteSurfaceData(const std::string& path, const TMapCoordinates& map, int rows, int cols)
{
    const std::string text = SurfaceDataText(map, rows, cols);
    WriteFileReplacing(path, [&text](FILE* f) {
        return std::fwrite(text.data(), 1, text.size(), f) == text.size();
    });
}
