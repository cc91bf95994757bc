// The data grid: the texts of the 6 x 6 cells around a map pixel.
#include "qt_environment.h"
#include "Showdata.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace qtenv;

// A 10 x 8 map with heights c + 10 r + 0.25.
class DataGrid : public ::testing::Test {
protected:
    DataGrid() : heights(80), mask(80, 0)
    {
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 10; ++c) heights[size_t(r * 10 + c)] = float(c + 10 * r) + 0.25f;
    }
    void Load(const uint8_t* m, double originX = 1, double originZ = 0.5, double zcf = 50)
    {
        form.LoadData(heights.data(), m, 10, 8, /*Zc*/ 100, zcf, /*X0*/ 1, /*Y0*/ 1, originX,
                      /*OriginY*/ -2, originZ, /*PixelX*/ 0.01, /*PixelY*/ 0.02);
    }
    std::vector<float> heights;
    std::vector<uint8_t> mask;
    TShowDataForm form;
};

TEST_F(DataGrid, FormAndGridShape)
{
    EXPECT_EQ(form.windowTitle(), "Data Show");
    EXPECT_EQ(form.size(), QSize(313, 119));
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST_F(DataGrid, TextsAroundTheCentre)
{
    Load(mask.data());
    form.ShowNeighbourhood(4, 3);
    // Row 0: X of columns 2..6 with z at (c, 3): (z + 100) (c - 1) 0.01 / 50 + 1.
    EXPECT_EQ(form.Cell(1, 0), "1.026     ");
    EXPECT_EQ(form.Cell(2, 0), "1.053     ");
    EXPECT_EQ(form.Cell(5, 0), "1.136     ");
    // Column 0: Y of rows 1..5 with z at (4, r): (z + 100) (r - 1) 0.02 / 50 - 2.
    EXPECT_EQ(form.Cell(0, 1), "-2.000    ");
    EXPECT_EQ(form.Cell(0, 2), "-1.950    ");
    EXPECT_EQ(form.Cell(0, 5), "-1.753    ");
    // The block: height + Origin Z, unrounded.
    EXPECT_EQ(form.Cell(3, 3), "34.750    ");
    EXPECT_EQ(form.Cell(1, 1), "12.750    ");
    EXPECT_EQ(form.Cell(5, 5), "56.750    ");
    EXPECT_EQ(form.Cell(0, 0), "");   // set only when there is no map
}

TEST_F(DataGrid, MaskedPixelsAndTheirHeaders)
{
    mask[3 * 10 + 4] = 255;   // the centre
    mask[1 * 10 + 2] = 255;   // (2, 1): top-left of the block
    Load(mask.data());
    form.ShowNeighbourhood(4, 3);
    EXPECT_EQ(form.Cell(3, 3), " --- ");
    EXPECT_EQ(form.Cell(1, 1), " --- ");
    EXPECT_EQ(form.Cell(3, 0), " --- ");   // X of column 4 reads the centre
    EXPECT_EQ(form.Cell(0, 3), " --- ");   // Y of row 3 reads the centre
    EXPECT_EQ(form.Cell(2, 2), "23.750    ");
}

TEST_F(DataGrid, CornerPixelShowsDashesOutsideTheMap)
{
    Load(mask.data());
    form.ShowNeighbourhood(0, 0);
    for (int k = 1; k <= 5; ++k) {
        const bool outside = k <= 2;
        EXPECT_EQ(form.Cell(k, 0) == " --- ", outside) << k;
        EXPECT_EQ(form.Cell(0, k) == " --- ", outside) << k;
        for (int j = 1; j <= 5; ++j) EXPECT_EQ(form.Cell(k, j) == " --- ", k <= 2 || j <= 2) << k << "," << j;
    }
    EXPECT_EQ(form.Cell(3, 3), "0.750     ");
    EXPECT_EQ(form.Cell(5, 5), "22.750    ");
    EXPECT_EQ(form.Cell(3, 0), "0.980     ");   // X of column 0: 100.25 x (-1) x 0.0002 + 1
}

TEST_F(DataGrid, BottomRightCornerToo)
{
    Load(mask.data());
    form.ShowNeighbourhood(9, 7);
    EXPECT_EQ(form.Cell(3, 3), "79.750    ");
    EXPECT_EQ(form.Cell(4, 3), " --- ");
    EXPECT_EQ(form.Cell(3, 4), " --- ");
    EXPECT_EQ(form.Cell(4, 0), " --- ");
    EXPECT_EQ(form.Cell(0, 4), " --- ");
}

TEST_F(DataGrid, WithoutAMaskEveryPixelIsValid)
{
    Load(nullptr);
    form.ShowNeighbourhood(4, 3);
    for (int k = 1; k <= 5; ++k)
        for (int j = 0; j <= 5; ++j) EXPECT_NE(form.Cell(k, j), " --- ") << k << "," << j;
}

TEST_F(DataGrid, WithoutAMapAllDashes)
{
    form.ShowNeighbourhood(1, 1);
    EXPECT_EQ(form.Cell(0, 0), "---");
    for (int c = 0; c < 6; ++c)
        for (int r = 0; r < 6; ++r)
            if (c || r) {
                EXPECT_EQ(form.Cell(c, r), " --- ") << c << "," << r;
            }
    // After the project drops its planes the grid shows dashes again, reading nothing.
    Load(mask.data());
    form.ForgetData();
    EXPECT_FALSE(form.HasData());
    form.ShowNeighbourhood(4, 3);
    EXPECT_EQ(form.Cell(3, 3), " --- ");
    EXPECT_EQ(form.Cell(0, 0), "---");
}

TEST_F(DataGrid, CoordinatesRoundToFloatButHeightsDoNot)
{
    Load(mask.data(), /*originX*/ 100000.0123, /*originZ*/ 100000.0123);
    form.ShowNeighbourhood(1, 1);
    EXPECT_EQ(form.Cell(3, 0), "100000.016");   // X = Origin X at column X0
    EXPECT_EQ(form.Cell(3, 3), "100011.262");   // 11.25 + 100000.0123 in double
}

TEST_F(DataGrid, ZcfZeroGivesNoCoordinates)
{
    Load(mask.data(), 1, 0.5, /*zcf*/ 0);
    form.ShowNeighbourhood(4, 3);
    EXPECT_EQ(form.Cell(1, 0), " --- ");
    EXPECT_EQ(form.Cell(0, 1), " --- ");
    EXPECT_EQ(form.Cell(3, 3), "34.750    ");
}

}  // namespace
