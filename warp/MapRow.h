#pragma once
// The inverse mapping for a run of pixels of one row at a time, as MapToSource and
// TruncateToIndex give it pixel by pixel, bit for bit. On processors with AVX2 four pixels
// are mapped at once; the arc tangent then comes from a polynomial with a known error bound
// and the tangent from it, and every lane whose single-precision result cannot be guaranteed
// is redone with the standard functions.

#include "QuadMapping.h"

#include <cstdint>

namespace warp {

// Where the mapped positions of a run go: index and fraction per pixel.
struct MappedRun {
    int32_t* iu;
    int32_t* iv;
    double* fx;
    double* fy;
};

// Maps pixels (x0 + i, y) for i < count.
void MapRun(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out);

// The same, one pixel at a time, on every processor.
void MapRunScalar(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out);

// The slope LineSlope gives for a line whose rise over run rounds to the single t:
// single(tan(single(atan(t)))). `SlopesOfTangents` computes it for n values with the
// vector path where there is one; it returns how many values needed the standard functions
// and, when `redone` is given, marks them there (1) and the others (0).
float SlopeOfTangent(float t);
int SlopesOfTangents(const float* t, float* slope, int n, uint8_t* redone = nullptr);

// True when MapRun and SlopesOfTangents use the vector path on this processor (and the
// environment does not set VERLUME_NO_SIMD=1).
bool HasVectorMapping();

} // namespace warp
