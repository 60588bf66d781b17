#pragma once
// Internal: sampling for a picture that need only look right, such as the one that follows a
// dragged corner. The 2 x 2 blend with its weights in 1/256 of a pixel, truncated as the warp
// truncates, eight pixels at a time with AVX2, for pixels whose neighbourhood lies inside the
// usable source; the others, and the pixels after the last eight, through the warp's own
// sampler. Within two levels of the warp's bytes. Only where UsableSimd() allows AVX2.

#include "SampleRunAvx2.h"

namespace warp {

// The sampler for `bytesPerPixel` 3 (alpha 255) or 4 (alpha from the fourth byte) and the
// 2 x 2 neighbourhood. Writes the pixels SampleRunAvx2For's sampler writes.
SampleRunFunction PreviewSampleRunAvx2For(int bytesPerPixel);

} // namespace warp
