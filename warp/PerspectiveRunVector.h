#pragma once
// Internal: MapPerspectiveRun in four double lanes (AVX2) or eight (AVX-512), for the pixels of
// whole vectors; returns how many pixels that is (count rounded down to the lanes).

#include "Homography.h"
#include "MappedRun.h"

#include <cstdint>

namespace warp {

int32_t MapPerspectiveRunAvx2(const Homography& h, int32_t y, int32_t x0, int32_t count, const MappedRun& out);
int32_t MapPerspectiveRunAvx512(const Homography& h, int32_t y, int32_t x0, int32_t count, const MappedRun& out);

} // namespace warp
