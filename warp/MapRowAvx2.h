#pragma once
// Internal: the AVX2 paths of MapRow.h, compiled for AVX2 and called only where the
// processor has it.

#include "MapRow.h"

namespace warp {

void MapRunAvx2(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out);
int SlopesOfTangentsAvx2(const float* t, float* slope, int n, uint8_t* redone);

} // namespace warp
