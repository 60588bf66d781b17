#pragma once
// Plain geometry of the picture view: the rest of a canvas around a rectangle, and the part of
// a line segment inside a box.

#include "imaging/Types.h"

#include <array>
#include <cstdint>

namespace view {

// The parts of a width x height canvas outside `shown`: the bands above and below it and the
// parts left and right of it, some of them empty (`shown` may reach beyond the canvas and the
// 32-bit range).
std::array<imaging::Rect, 4> Around(const imaging::Rect& shown, int32_t width, int32_t height);

// The part of the segment a-b inside `box` (edges included), as a + t (b - a) for t in
// [t0, t1] with 0 <= t0 < t1 <= 1; false where none of it is, or only a point.
bool ClipSegment(imaging::PointF a, imaging::PointF b, const imaging::RectF& box, double& t0, double& t1);

} // namespace view
