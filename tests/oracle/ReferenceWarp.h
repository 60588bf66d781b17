#pragma once
// The two warps written the plain way, one rule after another for every pixel, with nothing
// precomputed or shared between pixels. Every faster path is compared with them byte for byte.

#include "imaging/Bitmap.h"
#include "warp/Homography.h"

namespace oracle {

// The destination is locked, and the scanned box clipped, at the source's size as the rules
// say; with `destinationSize` at the destination's own (the regions form, a fitted canvas).
void ReferenceWarpImageToQuad(imaging::Bitmap* source, imaging::Bitmap* destination,
                              imaging::Point tl, imaging::Point tr, imaging::Point bl,
                              imaging::Point br, int n, bool destinationSize = false);

// Every pixel of the destination, through toSource.Map at its integer coordinates.
void ReferenceWarpPerspective(imaging::Bitmap* source, imaging::Bitmap* destination,
                              const warp::Homography& toSource, int n);

} // namespace oracle
