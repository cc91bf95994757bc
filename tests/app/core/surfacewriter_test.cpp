// The surface text file (.sur): sampling over the valid pixels' box, coordinates, masked
// samples and refusals; the writer alone, without the dialog or Qt.
#include "surfacemap.h"

#include "Apperror.h"
#include "Surfacewriter.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using surfacemap::Lines;
using surfacemap::Map;
using surfacemap::ReadText;

// The message of the EAppError f raises, "(no error)" when it raises none.
std::string ErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EAppError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(SurfaceData, GoldenFileForAKnownMapAndBox)
{
    Map map(4, 3);
    map.Mask(0, 0);
    for (int r = 0; r < 3; ++r) map.Mask(3, r);   // the box is columns 0..2, rows 0..2
    const std::string text = SurfaceDataText(map.m, 3, 2);
    // Step X 1.5 advances by 2 (x = 0, 2), step Y 1.0 by 1 (y = 0, 1, 2).
    const std::string expected =
        "  3   2\r\n"
        "   0.980     -2.040   10000.000\r\n"
        "   1.020     -2.041      2.500\r\n"
        "   0.978     -2.000     10.500\r\n"
        "   1.022     -2.000     12.500\r\n"
        "   0.976     -1.952     20.500\r\n"
        "   1.024     -1.951     22.500\r\n";
    EXPECT_EQ(text, expected);
}

TEST(SurfaceData, SamplingFollowsTheRoundedSteps)
{
    struct Case {
        int width, height, c0, c1, r0, r1, rows, cols;
        const char* first;
        size_t points;
        std::vector<std::pair<size_t, float>> z;   // line (0: the last) and its Z
    };
    const Case cases[] = {
        // Box 300 x 100: steps 1.5 and 2.0 both advance by 2; x = 10, 12, ... 308, y = 20, 22, ...
        {320, 130, 10, 309, 20, 119, 50, 200, " 50 200", 50 * 150,
         {{1, 210.5f}, {2, 212.5f}, {150, 508.5f}, {151, 230.5f}, {0, 1488.5f}}},
        // Box 160 x 20 with 200 columns (step 0.8) and 30 rows (step 0.667): every pixel once.
        {170, 25, 5, 164, 3, 22, 30, 200, " 30 200", 20 * 160,
         {{1, 35.5f}, {160, 194.5f}, {161, 45.5f}, {0, 384.5f}}},
    };
    for (const Case& c : cases) {
        Map map(c.width, c.height);
        map.KeepBox(c.c0, c.c1, c.r0, c.r1);
        const std::vector<std::string> lines = Lines(SurfaceDataText(map.m, c.rows, c.cols));
        EXPECT_EQ(lines[0], c.first);
        ASSERT_EQ(lines.size(), 1u + c.points) << c.first;
        // z = c + 10 r, + Origin Z.
        for (const auto& [i, z] : c.z) {
            float X, Y, Z;
            ASSERT_EQ(std::sscanf(lines[i ? i : lines.size() - 1].c_str(), "%f %f %f", &X, &Y, &Z), 3);
            EXPECT_FLOAT_EQ(Z, z) << c.first << " line " << i;
        }
    }
}

TEST(SurfaceData, HalfPixelStepsAdvanceOnePixel)
{
    // 3 x 2 map, 4 rows and 6 cols: step X = 3 / 6 = 0.5, step Y = 2 / 4 = 0.5; each
    // advance trunc(p + 0.5 + 0.5) moves one pixel: x = 0, 1, 2 and y = 0, 1.
    // With Zc 100, Zcf 50, X0 = Y0 = 1, Pixel 0.01 / 0.02, Origin (1, -2, 0.5), z = c + 10 r:
    //   X = (z + 100) (c - 1) 0.0002 + 1,  Y = (z + 100) (r - 1) 0.0004 - 2,  Z = z + 0.5
    //   (0,0) z 0:  0.98,    -2.04,   0.5     (1,0) z 1:  1,     -2.0404, 1.5
    //   (2,0) z 2:  1.0204,  -2.0408, 2.5     (0,1) z 10: 0.978, -2,      10.5
    //   (1,1) z 11: 1,       -2,      11.5    (2,1) z 12: 1.0224, -2,     12.5
    Map map(3, 2);
    EXPECT_EQ(SurfaceDataText(map.m, 4, 6),
              "  4   6\r\n"
              "   0.980     -2.040      0.500\r\n"
              "   1.000     -2.040      1.500\r\n"
              "   1.020     -2.041      2.500\r\n"
              "   0.978     -2.000     10.500\r\n"
              "   1.000     -2.000     11.500\r\n"
              "   1.022     -2.000     12.500\r\n");
}

TEST(SurfaceData, ThreeQuarterPixelStepsAdvanceOnePixel)
{
    // 3 x 3 map, 2 rows and 4 cols: step X = 3 / 4 = 0.75 (x = 0, 1, 2: trunc(p + 1.25)),
    // step Y = 3 / 2 = 1.5 (y = 0, 2: trunc(p + 2.0)). Row 2 (z = c + 20):
    //   (0,2) z 20: X 120 * -0.0002 + 1 = 0.976, Y 120 * 0.0004 - 2 = -1.952, Z 20.5
    //   (1,2) z 21: X 1, Y 121 * 0.0004 - 2 = -1.9516, Z 21.5
    //   (2,2) z 22: X 122 * 0.0002 + 1 = 1.0244, Y 122 * 0.0004 - 2 = -1.9512, Z 22.5
    Map map(3, 3);
    map.Mask(1, 0);   // a masked sample: z = 0 for X and Y, Z 10000
    EXPECT_EQ(SurfaceDataText(map.m, 2, 4),
              "  2   4\r\n"
              "   0.980     -2.040      0.500\r\n"
              "   1.000     -2.040   10000.000\r\n"
              "   1.020     -2.041      2.500\r\n"
              "   0.976     -1.952     20.500\r\n"
              "   1.000     -1.952     21.500\r\n"
              "   1.024     -1.951     22.500\r\n");
}

TEST(SurfaceData, MaskedSamplesWrite10000AndCoordinatesWithZeroHeight)
{
    Map map(3, 3);
    map.Mask(1, 1);
    const std::vector<std::string> lines = Lines(SurfaceDataText(map.m, 3, 3));
    ASSERT_EQ(lines.size(), 10u);
    // (1, 1) with z = 0: X = Origin X, Y = Origin Y.
    EXPECT_EQ(lines[5], "   1.000     -2.000   10000.000");
}

TEST(SurfaceData, NoValidPixelGivesOnlyTheFirstLine)
{
    Map map(5, 4);
    std::fill(map.mask.begin(), map.mask.end(), 255);
    EXPECT_EQ(SurfaceDataText(map.m, 50, 200), " 50 200\r\n");
    Map one(1, 1);
    one.Mask(0, 0);
    EXPECT_EQ(SurfaceDataText(one.m, 1, 1), "  1   1\r\n");
}

TEST(SurfaceData, WithoutAMaskEveryPixelIsValid)
{
    Map map(2, 2);
    map.m.Mask = nullptr;
    const std::vector<std::string> lines = Lines(SurfaceDataText(map.m, 2, 2));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "   0.980     -2.040      0.500");
    EXPECT_EQ(lines[4], "   1.000     -2.000     11.500");
}

TEST(SurfaceData, CoordinatesAreRoundedToFloat32)
{
    Map map(1, 1);
    map.m.OriginX = 100000.0123;   // float: 100000.015625
    map.m.OriginY = 0.0;
    map.m.OriginZ = 100000.0123;
    map.m.X0 = 0;
    map.m.Y0 = 0;
    const std::vector<std::string> lines = Lines(SurfaceDataText(map.m, 1, 1));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "100000.016      0.000   100000.016");
}

TEST(SurfaceData, RefusalsWriteNoFile)
{
    char tmpl[] = "/tmp/surface_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string path = std::string(tmpl) + "/out.sur";
    Map map(10, 10);
    struct Case {
        int rows, cols;
        double zcf;
        const char* message;
    };
    const Case cases[] = {
        {0, 200, 50, "The number of sample rows must be above 0"},
        {50, -3, 50, "The number of sample columns must be above 0"},
        {5, 5, 0, "Zcf is 0: the surface coordinates cannot be computed"},
        {5, 21, 50, "21 sample columns are more than twice the 10 columns of valid pixels: the sample step must be at least half a pixel"},
        {21, 5, 50, "21 sample rows are more than twice the 10 rows of valid pixels: the sample step must be at least half a pixel"},
        {1000, 1000, 50, "1000 sample columns are more than twice the 10 columns of valid pixels: the sample step must be at least half a pixel"},
    };
    for (const Case& c : cases) {
        map.m.Zcf = c.zcf;
        EXPECT_EQ(ErrorOf([&] { WriteSurfaceData(path, map.m, c.rows, c.cols); }), c.message);
        EXPECT_NE(access(path.c_str(), F_OK), 0) << c.message;
    }
    TMapCoordinates none;
    EXPECT_EQ(ErrorOf([&] { WriteSurfaceData(path, none, 5, 5); }), "There is no height map to output");

    map.m.Zcf = 50;
    WriteSurfaceData(path, map.m, 10, 10);
    EXPECT_EQ(Lines(ReadText(path)).size(), 101u);
    std::remove(path.c_str());
    rmdir(tmpl);
}

TEST(SurfaceData, ARefusedOrFailedExportKeepsTheFileThatWasThere)
{
    char tmpl[] = "/tmp/surface_keep.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string path = std::string(tmpl) + "/map.sur";
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("earlier export\r\n", f);
        std::fclose(f);
    }
    Map map(4, 3);
    EXPECT_EQ(ErrorOf([&] { WriteSurfaceData(path, map.m, 0, 2); }),
              "The number of sample rows must be above 0");
    EXPECT_EQ(ReadText(path), "earlier export\r\n");

    // A folder that does not exist: nothing is created, the error names the file.
    const std::string missing = std::string(tmpl) + "/no/map.sur";
    const std::string message = ErrorOf([&] { WriteSurfaceData(missing, map.m, 3, 2); });
    EXPECT_EQ(message.rfind("Cannot create the file " + missing, 0), 0u) << message;

    // A complete export replaces the old file and leaves no temporary file behind.
    WriteSurfaceData(path, map.m, 3, 2);
    EXPECT_EQ(ReadText(path), SurfaceDataText(map.m, 3, 2));
    EXPECT_EQ(Lines(ReadText(path)).size(), 7u);
    std::remove(path.c_str());
    EXPECT_EQ(rmdir(tmpl), 0) << "a temporary file was left in the folder";
}

}  // namespace
