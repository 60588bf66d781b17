#pragma once
// Plain geometry of the picture view: the part of a line segment inside a box.

#include "imaging/Types.h"

namespace view {

// The part of the segment a-b inside `box` (edges included), as a + t (b - a) for t in
// [t0, t1] with 0 <= t0 < t1 <= 1; false where none of it is, or only a point.
bool ClipSegment(imaging::PointF a, imaging::PointF b, const imaging::RectF& box, double& t0, double& t1);

} // namespace view
