#pragma once
// The inverse mapping for a run of pixels of one row at a time, as MapToSource and
// TruncateToIndex give it pixel by pixel, bit for bit. On processors with AVX2 four pixels
// are mapped at once, with AVX-512 eight; the arc tangent then comes from a polynomial with a
// known error bound and the tangent from it, and every lane whose single-precision result
// cannot be guaranteed is redone with the standard functions.

#include "QuadMapping.h"

#include <cstdint>
#include <memory>

namespace warp {

// Where the mapped positions of a run go: index and fraction per pixel.
struct MappedRun {
    int32_t* iu;
    int32_t* iv;
    double* fx;
    double* fy;
};

// Crossings MapRun may keep from one row to the next, for the columns [first, first +
// columns). Where the quad has no column vanishing point every column line has the same
// slope, and a line's crossings with the top and bottom edges depend on the row only through
// its intercept rounded to single; for steep lines (vertical edges) that changes only every
// few hundred rows. One memo serves one mapping on one thread; it starts empty, and keeps
// nothing if its memory could not be had.
class ColumnMemo {
public:
    ColumnMemo(int32_t first, int32_t columns);
    // True where keeping pays: no column vanishing point, and column lines steeper than 2^20.
    static bool Pays(const QuadMapping& m);
    static constexpr int kFields = 7;
    // The fields for the columns [x, x + count), kFields blocks Stride() doubles apart and
    // 64-byte aligned; null unless x is a multiple of 8 columns from `first` and they all lie
    // inside.
    double* At(int32_t x, int32_t count) const;
    int64_t Stride() const { return m_stride; }

private:
    std::unique_ptr<double[]> m_storage;
    double* m_data;
    int32_t m_first, m_columns;
    int64_t m_stride;
};

// What MapRun may leave out for a run that is only sampled. A pixel whose row index iv lies
// outside [0, source height), or whose column index iu outside [0, source width), shows no
// source pixel whatever its other index: with Unseen the vector paths may leave its indices
// unmapped, as kUnmapped with a fraction of 0 (for stretches of such pixels at a time).
enum class Cull { None, Unseen };
constexpr int32_t kUnmapped = -2;

// Maps pixels (x0 + i, y) for i < count. `memo`, if given, is used by the vector paths for
// runs that start where it has fields; the result is the same with or without it.
void MapRun(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out,
            ColumnMemo* memo = nullptr, Cull cull = Cull::None);

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
