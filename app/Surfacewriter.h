#pragma once
// The pixel-to-world rule of a measured map, shared by the data grid and the surface
// export, and the surface export's file (.sur, "Surface Data"): the height map sampled on
// a coarse grid over the bounding box of its valid pixels.
//
// .sur file, plain text, every line ending in CR LF: "%3d %3d" of the requested rows and
// columns, then one line "%8.3f   %8.3f   %8.3f" of X, Y, Z per sample point, row by row
// from the box's top row, left to right from its left column. A masked sample writes its
// X and Y with z = 0 and Z = 10000.000.

#include <cstddef>
#include <cstdint>
#include <string>

// A measured map and the header values that turn its pixels into world coordinates. The
// arrays are borrowed: heights W x H row-major, mask 255 = invalid (none: every pixel valid).
struct TMapCoordinates {
    const float* Heights = nullptr;
    const uint8_t* Mask = nullptr;
    int32_t Width = 0;
    int32_t Height = 0;
    double Zc = 0, Zcf = 0, X0 = 0, Y0 = 0;
    double OriginX = 0, OriginY = 0, OriginZ = 0;
    double PixelX = 0, PixelY = 0;

    bool Inside(int c, int r) const { return c >= 0 && c < Width && r >= 0 && r < Height; }
    size_t Index(int c, int r) const { return size_t(r) * size_t(Width) + size_t(c); }
    // Inside the map, and not masked.
    bool Valid(int c, int r) const
    {
        return Heights && Inside(c, r) && (!Mask || Mask[Index(c, r)] != 255);
    }
    // X = (z + Zc) (c - X0) Pixel X / Zcf + Origin X, Y likewise with r, Y0 and Pixel Y, in
    // double precision.
    double WorldX(int c, double z) const { return (z + Zc) * (c - X0) * PixelX / Zcf + OriginX; }
    double WorldY(int r, double z) const { return (z + Zc) * (r - Y0) * PixelY / Zcf + OriginY; }
};

// The file's text for map sampled by rows x cols. Raises EAppError, for a refused export,
// when there is no map, rows or cols is not above 0, Zcf is 0, or a sample step would be
// below half a pixel (it would never advance). Steps from half a pixel up to 1.5 pixels
// advance one pixel. A map without any valid pixel gives the first line only.
std::string SurfaceDataText(const TMapCoordinates& map, int rows, int cols);

// Writes SurfaceDataText to path (replacing a file only with a complete one).
void WriteSurfaceData(const std::string& path, const TMapCoordinates& map, int rows, int cols);
