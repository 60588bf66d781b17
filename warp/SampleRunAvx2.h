#pragma once
// Internal: sampling a mapped run for 24- and 32-bit sources, four pixels at a time with
// AVX2, exactly as SampleInto does pixel by pixel. Only where UsableSimd() allows AVX2.

#include "MappedRun.h"
#include "SourceSampler.h"

namespace warp {

struct RunTarget {
    uint8_t* out; // the run's first destination pixel
    int32_t count;
};

// Writes only the pixels that pass the early skip and have a non-zero alpha.
using SampleRunFunction = void (*)(const SourceView& source, const MappedRun& run, const RunTarget& target);

// The sampler for `bytesPerPixel` 3 (alpha 255) or 4 (alpha from the fourth byte) and
// neighbourhood n (1 or less, or 2 and more).
SampleRunFunction SampleRunAvx2For(int bytesPerPixel, int n);

} // namespace warp
