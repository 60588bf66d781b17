#pragma once
// The smooth render written the plain way: every destination pixel on its own, its corners
// mapped one at a time, every texel of a reduced copy averaged from the source's pixels when
// it is read. The smooth warp is compared with it byte for byte.

#include "imaging/Bitmap.h"
#include "warp/Transform.h"

namespace oracle {

// The whole destination (32bppARGB of the plan's size) for a plan with `smooth` set.
void ReferenceSmooth(imaging::Bitmap* source, imaging::Bitmap* destination, const warp::TransformPlan& plan);

} // namespace oracle
