#pragma once
// Internal to the smooth warp: its AVX2 kernels, with the bytes of the plain code they stand
// in for. Only where UsableSimd() allows AVX2.

#include "AreaSampler.h"
#include "Homography.h"

#include <cstdint>

namespace warp {

// The grid points (x0 + i, y), i < count, mapped by `toSource` into u[i], v[i], as
// Homography::Map maps them.
void MapGridRowAvx2(const Homography& toSource, int32_t y, int32_t x0, int32_t count, double* u, double* v);

// position[i] = index[i] + fraction[i], plus 1 where that is negative, NaN where index[i] is
// INT32_MIN (and where `culled`, where it is kUnmapped with a fraction of 0), four at a time for
// the first n & ~3 of them, which it returns: the quad mapping's positions with its move of
// negative ones undone, as the smooth render's plain loop gives them.
int32_t UnmovedPositionsAvx2(const int32_t* index, const double* fraction, int32_t n, bool culled,
                             double* position);

// sides[i]: the sides byte of grid point (u[i], v[i]) that GridRow (SmoothGrid.h) describes,
// four at a time for the first n & ~3 points, which it returns.
int32_t PointSidesAvx2(const double* u, const double* v, int32_t n, double width, double height,
                       uint8_t* sides);

// The pixels of a row that AreaSampler renders from a single sample of the source itself
// (footprint inside the source, neither side longer than one and a half pixels, opaque
// texels) are rendered eight at a time; the rest of the row is left to AreaSampler.

// The grid points of a pixel row: pixel i's corners are (u0[i], v0[i]), (u0[i + 1], v0[i + 1])
// above and the same in u1, v1 below, in source pixels; NaN where a point has no position.
struct GridRows {
    const double *u0, *v0, *u1, *v1;
};

// Renders the pixels i < count of the row that it can into out + 4i (B, G, R, A) and sets
// done[i] to 1 for them and for those AreaSampler leaves untouched (a corner without a
// position, or all four beyond one side), 0 for every other; `done` holds count bytes.
// `source` is level 0 of a 24-bit or 32-bit ARGB source.
using OneSampleRunFunction = void (*)(const LevelView& source, const GridRows& grid, int32_t count,
                                      uint8_t* out, uint8_t* done);

// The run for 3 (24-bit) or 4 (32-bit ARGB) bytes per pixel; nullptr for other formats and for
// sources too large for 32-bit offsets.
OneSampleRunFunction OneSampleRunAvx2For(const LevelView& source, int bytesPerPixel);

// What a level holds: the source itself in 24-bit or 32-bit ARGB, or a reduced copy.
enum class LevelKind { Rgb24, Argb32, Pargb32 };

// The grid of samples of a pixel that AreaSampler reads from a level of that kind, eight
// samples at a time, and that of two small grids at once; none for a level whose rows are
// shorter than 8 bytes or too large for 32-bit offsets.
GridKernels SampleGridAvx2For(const LevelView& level, LevelKind kind);

} // namespace warp
