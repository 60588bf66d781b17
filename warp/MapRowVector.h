#pragma once
// Internal: the vector paths of MapRow.h, each compiled for its instruction set and called
// only where the processor has it: four lanes with AVX2 and FMA, eight with AVX-512 (F, DQ).

#include "MapRow.h"

namespace warp {

// A run's fields of a ColumnMemo (data null: none).
struct ColumnFields {
    double* data = nullptr;
    int64_t stride = 0;
};

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

void MapRunAvx2(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out,
                ColumnFields fields = {}, bool cull = false);
int SlopesOfTangentsAvx2(const float* t, float* slope, int n, uint8_t* redone);

void MapRunAvx512(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out,
                  ColumnFields fields = {}, bool cull = false);
int SlopesOfTangentsAvx512(const float* t, float* slope, int n, uint8_t* redone);

} // namespace warp
