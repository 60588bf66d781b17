#pragma once
// Internal: the vector mapping kernels, each compiled for its instruction set and called only
// where UsableSimd() allows it: four lanes with AVX2 and FMA, eight with AVX-512 (F, DQ).
// Pixels or values left over after the last whole vector go to the next narrower kernel.

#include "ColumnMemo.h"
#include "MappedRun.h"
#include "QuadMapping.h"

#include <cstdint>

namespace warp {

// As MapRun, with the run's kept fields, and `cull` for Cull::Unseen.
void MapRunAvx2(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out,
                ColumnFields fields, bool cull);
void MapRunAvx512(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out,
                  ColumnFields fields, bool cull);

// As SlopesOfTangents.
int SlopesOfTangentsAvx2(const float* t, float* slope, int n, uint8_t* redone);
int SlopesOfTangentsAvx512(const float* t, float* slope, int n, uint8_t* redone);

} // namespace warp
