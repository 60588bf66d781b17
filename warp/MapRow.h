#pragma once
// The inverse mapping for a run of pixels of one row at a time, as MapToSource and
// TruncateToIndex give it pixel by pixel, bit for bit. On processors with AVX2 four pixels
// are mapped at once, with AVX-512 eight; the arc tangent then comes from a polynomial with a
// known error bound and the tangent from it, and every lane whose single-precision result
// cannot be guaranteed is redone with the standard functions.

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

// The lanes of the vector path MapRun and SlopesOfTangents use on this processor: 8 with
// AVX-512 (unless the environment sets VERLUME_NO_AVX512=1), 4 with AVX2 and FMA, 0 for the
// scalar path (also where it sets VERLUME_NO_SIMD=1). HasVectorMapping: more than 0.
int VectorMappingLanes();
bool HasVectorMapping();

} // namespace warp
