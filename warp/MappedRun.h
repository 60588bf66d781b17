#pragma once
// Where the mapping of a run of pixels goes: a source index and fraction per pixel, as
// MapToSource and TruncateToIndex give them.

#include <cstdint>

namespace warp {

struct MappedRun {
    int32_t* iu;
    int32_t* iv;
    double* fx;
    double* fy;
};

// What a mapping may leave out for a run that is only sampled. A pixel whose row index iv lies
// outside [0, source height), or whose column index iu outside [0, source width), shows no
// source pixel whatever its other index: with Unseen the vector paths may leave its indices
// unmapped, as kUnmapped with a fraction of 0 (for stretches of such pixels at a time), or give
// the outside one as kBeforeSource (its position is negative) or kBeyondSource (beyond the
// source's extent), with a fraction of 0, and leave the other unmapped.
enum class Cull { None, Unseen };
constexpr int32_t kUnmapped = -2;
constexpr int32_t kBeforeSource = -3;
constexpr int32_t kBeyondSource = 1 << 30; // beyond the largest bitmap

} // namespace warp
