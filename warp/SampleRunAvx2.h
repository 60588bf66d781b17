#pragma once
// Internal: sampling a mapped run for 24- and 32-bit sources, four pixels at a time with
// AVX2, exactly as Sample does pixel by pixel. Called only where the processor has AVX2 and
// FMA (HasVectorMapping).

#include "MapRow.h"
#include "SourceSampler.h"

namespace warp {

struct RunTarget {
    uint8_t* out; // the run's first destination pixel
    int32_t count;
};

// `bytesPerPixel` 3 (alpha 255) or 4 (alpha from the fourth byte); n 1 or 2. Writes only the
// pixels that pass the early skip and have a non-zero alpha.
void SampleRunAvx2(const SourceView& source, int bytesPerPixel, int n, const MappedRun& run,
                   const RunTarget& target);

} // namespace warp
