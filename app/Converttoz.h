#pragma once
// Height conversion: the unwrapped phase of a project turned into a height map by the
// projection geometry of its header.

#include <cstdint>

class TPhaseShiftMoire;

// The geometry the conversion uses, each value as a 32-bit float (lengths in millimetres,
// Theta in radians, GratingFrequency in lines per millimetre).
struct TConvertGeometry {
    float Zc = 0, Zcf = 0, Theta = 0, Lp = 0, Lpf = 0;
    int32_t X0 = 0, Y0 = 0;
    float PixelX = 0, PixelY = 0;
    float GratingFrequency = 0;
};

// Converts the width x height phase map in place into heights. The phase at the reference
// pixel (X0, Y0) is subtracted first, so that pixel gets height 0. All arithmetic is in
// 32-bit floats. Where the formula's denominator is 0 the element becomes 0. Raises
// EAppError when (X0, Y0) lies outside the map, for a grating frequency of 0 and for
// dimensions that are not above 0.
void ConvertPhaseToHeight(int32_t width, int32_t height, const TConvertGeometry& geometry,
                          float* map);

// The project's "Convert to Z": plane 333 := plane 222 converted by the header's geometry;
// pixels whose mask byte is not 0 become 0 (a project without a mask has every pixel
// valid). Raises "Unwrap the phase First!" without plane 222; a refused conversion leaves
// the project as it was.
void ConvertToZ(TPhaseShiftMoire& project);
