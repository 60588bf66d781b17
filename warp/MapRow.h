#pragma once
// The inverse mapping for a run of pixels of one row at a time, as MapToSource and
// TruncateToIndex give it pixel by pixel, bit for bit. On processors with AVX2 four pixels
// are mapped at once, with AVX-512 eight; the arc tangent then comes from a polynomial with a
// known error bound and the tangent from it, and every lane whose single-precision result
// cannot be guaranteed is redone with the standard functions.

#include "ColumnMemo.h"
#include "MappedRun.h"
#include "QuadMapping.h"

#include <cstdint>

namespace warp {

// The mapping kernels this processor runs (see UsableSimd), chosen once per process.
struct MapKernels {
    int lanes; // 8, 4, or 0 for the scalar path
    // Maps pixels (x0 + i, y), i < count; `fields` as ColumnMemo::At gives them (or none),
    // `cull` for Cull::Unseen.
    void (*mapRun)(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out,
                   ColumnFields fields, bool cull);
    // See SlopesOfTangents.
    int (*slopesOfTangents)(const float* t, float* slope, int n, uint8_t* redone);
};
const MapKernels& ChosenMapKernels();

// Maps pixels (x0 + i, y) for i < count with the chosen kernels. `memo`, if given, is used by
// the vector paths for runs that start where it has fields; the result is the same with or
// without it.
void MapRun(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out,
            ColumnMemo* memo = nullptr, Cull cull = Cull::None);

// SlopeOfTangent (MapRowScalar.h) for n values with the chosen kernels; returns how many
// values needed the standard functions and, when `redone` is given, marks them there (1) and
// the others (0).
int SlopesOfTangents(const float* t, float* slope, int n, uint8_t* redone = nullptr);

} // namespace warp
