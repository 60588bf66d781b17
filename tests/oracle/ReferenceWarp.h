#pragma once
// The quad warp written the plain way, one rule after another for every pixel, with nothing
// precomputed or shared between pixels. Every faster path is compared with it byte for byte.

#include "imaging/Bitmap.h"

namespace oracle {

void ReferenceWarpImageToQuad(imaging::Bitmap* source, imaging::Bitmap* destination,
                              imaging::Point tl, imaging::Point tr, imaging::Point bl,
                              imaging::Point br, int n);

} // namespace oracle
