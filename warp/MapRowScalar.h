#pragma once
// The mapping of a run of pixels one at a time, on every processor, and the scalar pieces the
// vector kernels fall back on: the standard slope of a tangent, and the guesses of where
// pixels lie beyond an edge.

#include "MappedRun.h"
#include "QuadMapping.h"

#include <cstdint>

namespace warp {

// Maps pixels (x0 + i, y), i < count, with MapToSource and TruncateToIndex.
void MapRunScalar(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out);

// The slope LineSlope gives for a line whose rise over run rounds to the single t:
// single(tan(single(atan(t)))), with the standard functions. SlopesOfTangentsScalar does it
// for n values, marks each in `redone` (if given) as done by them, and returns n.
float SlopeOfTangent(float t);
int SlopesOfTangentsScalar(const float* t, float* slope, int n, uint8_t* redone);

// Guesses where pixels show nothing, for the vector paths to check: pixels well beyond an edge
// line of a convex quad. Beyond the top or the bottom edge the row index usually lies outside
// the source, beyond the left or the right one the column index. BeyondTopOrBottom: all the
// pixels (x0 + i, y), i < count, are beyond one of them. BeyondLeftOrRight: how many of them
// from the first on, and from the last back, are beyond the left or the right one (at most
// count together).
bool BeyondTopOrBottom(const QuadMapping& m, int32_t y, int32_t x0, int32_t count);
struct SideStretches {
    int32_t leading, trailing;
};
SideStretches BeyondLeftOrRight(const QuadMapping& m, int32_t y, int32_t x0, int32_t count);

} // namespace warp
