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

// True where the pixels (x0 + i, y), i < count, lie well beyond the top or the bottom edge
// line of a convex quad, where no row index falls inside the source: a guess, for the vector
// paths to check.
bool BeyondTopOrBottom(const QuadMapping& m, int32_t y, int32_t x0, int32_t count);

void MapRunAvx2(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out,
                ColumnFields fields = {}, bool cull = false);
int SlopesOfTangentsAvx2(const float* t, float* slope, int n, uint8_t* redone);

void MapRunAvx512(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out,
                  ColumnFields fields = {}, bool cull = false);
int SlopesOfTangentsAvx512(const float* t, float* slope, int n, uint8_t* redone);

} // namespace warp
