#pragma once
// Internal: sampling for a picture that need only look right, such as the one that follows a
// dragged corner. The 2 x 2 blend with its weights in 1/256 of a pixel, truncated as the warp
// truncates, eight pixels at a time with AVX2, for pixels whose neighbourhood lies inside the
// usable source; the others, and the pixels after the last eight, through the warp's own
// sampler. Within two levels of the warp's bytes. Only where UsableSimd() allows AVX2.

#include "SampleRunAvx2.h"

#include <span>

namespace warp {

// `coarser`: copies of the source, each half the width and height of the one before it
// (ReducedCopies.h: copy pixel j covers pixels 2j and 2j + 1), in 32bppPARGB, for a source
// that is opaque or premultiplied itself. Eight pixels whose positions lie two or more source
// pixels apart along the row read the copy nearest that step instead of the source, so that
// a shrunk picture shows averages rather than one pixel in many (and reads memory that is
// near). Writes the pixels SampleRunAvx2For's sampler writes.
//
// `across`, if given, holds for each eight pixels from the run's first on how far apart in
// source pixels their positions lie from one result row to the next; a group reads the copy
// nearest the larger of its two steps.
using PreviewSampleRunFunction = void (*)(const SourceView& source, std::span<const SourceView> coarser,
                                          const MappedRun& run, const RunTarget& target, const float* across);

// The sampler for `bytesPerPixel` 3 (alpha 255) or 4 (alpha from the fourth byte) and the
// 2 x 2 neighbourhood.
PreviewSampleRunFunction PreviewSampleRunAvx2For(int bytesPerPixel);

} // namespace warp
