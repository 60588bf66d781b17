#pragma once
// The inverse mapping of the quad warp: for a destination pixel, the position in the source
// image that it shows. Everything that depends only on the corners is computed once.

#include "Corners.h"
#include "Geometry.h"

#include <cstdint>

namespace warp {

// How far a point (x, y) lies beyond an edge line, in pixels less a margin: a x + b y + c,
// positive on the side away from the quad. By default never beyond.
struct EdgeSide {
    double a = 0, b = 0, c = -1;
    double At(double x, double y) const { return a * x + b * y + c; }
};

struct QuadMapping {
    PointF tl, tr, bl, br;             // the corners, rounded to single precision
    float kTop, kBottom, kLeft, kRight; // edge slopes: TL->TR, BR->BL, TL->BL, TR->BR
    PointF rowVanish;                  // where the top and bottom edge lines meet
    PointF colVanish;                  // where the left and right edge lines meet
    bool useRowVanish, useColVanish;   // both coordinates of the point are non-zero
    double width, height;              // the source's size
    // Beyond the top, right, bottom and left edge lines by more than two pixels, for convex
    // quads only: where pixels usually show nothing (see MapRun's Cull).
    EdgeSide beyond[4];
};

// The mapping of a width x height source onto the quad of `corners`.
QuadMapping MakeQuadMapping(const Corners& corners, uint32_t width, uint32_t height);

// Source position in source pixels (u across, v down) for destination pixel (x, y), taken at
// its integer coordinates. A negative position is moved one further down (u < 0 becomes
// u - 1), so that truncation floors it. Infinite or NaN where the quad has no extent.
struct SourcePosition {
    double u, v;
};
SourcePosition MapToSource(const QuadMapping& m, int32_t x, int32_t y);

// A position truncated toward zero; INT32_MIN when it is not finite or the result would not
// fit in 32 bits.
inline int32_t TruncateToIndex(double value) {
    return (value > -2147483649.0 && value < 2147483648.0) ? int32_t(value) : INT32_MIN;
}

} // namespace warp
