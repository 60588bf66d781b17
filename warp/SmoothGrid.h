#pragma once
// The corners of the smooth render's destination pixels, mapped to the source a grid row at a
// time: grid point (x, y) is the top-left corner of pixel (x, y).

#include "Homography.h"
#include "QuadMapping.h"

#include <cstdint>
#include <functional>
#include <utility>

namespace warp {

// Maps the grid points (x0 + i, y), i < count, to source positions `u` and `v`; NaN where a
// point has none.
using MapGridRow = std::function<void(int32_t y, int32_t x0, int32_t count, double* u, double* v)>;

// The plan's homography at the grid points. `toSource` is copied.
MapGridRow PerspectiveGrid(const Homography& toSource);

// MapToSource's positions with the move of negative ones undone (an index and its fraction add
// up to the position exactly); `mapping` must outlive the function. Culled, the map kernels
// map only one index of points in stretches that likely show nothing and none of whose
// indices lies inside the source, or give only the side it lies beyond; the other is NaN, and
// CompleteCulledCorners maps such points in full where a pixel needs them.
MapGridRow QuadGrid(const QuadMapping& mapping, bool cull);

// A grid row's positions and, per point, the sides of the source [0, width] x [0, height] it
// lies beyond (bits 0 to 3: u < 0, u > width, v < 0, v > height, as AreaSampler counts them)
// and whether a coordinate is missing (bit 4: NaN, or both infinite). `sides` holds 8 bytes
// more than the row's points, which stay 0.
struct GridRow {
    double* u;
    double* v;
    uint8_t* sides;
};
void SidesOfRow(const double* u, const double* v, int32_t n, double width, double height, uint8_t* sides);

// Of the `pixels` between grid rows y (`top`) and y + 1 (`bottom`) from x0 on, maps with
// `exact` the corners the culled map left without a coordinate, for the pixels that need them:
// those whose corners' coordinates do not already put all four beyond one side of the source
// (AreaSampler leaves such a pixel, as it leaves one with a corner missing). Updates their
// sides, and returns the pixels [first, last) outside which every pixel is such a one.
std::pair<int32_t, int32_t> CompleteCulledCorners(const MapGridRow& exact, int32_t y, int32_t x0,
                                                  int32_t pixels, double width, double height,
                                                  const GridRow& top, const GridRow& bottom);

} // namespace warp
