#pragma once
// Points and lines in image pixel coordinates (X to the right, Y downward).
//
// A slope is rise over run (dY / dX) in single precision; a vertical line has no exact slope
// and gets the very large value LineSlope gives it (about +-2.2877332e7). The point (0, 0)
// stands for "no point". All functions are pure and follow their rounding rules to the bit:
// arithmetic in double, rounded to single wherever a single value is kept.

#include "imaging/Types.h"

#include <cmath>

namespace warp {

using imaging::Point;
using imaging::PointF;

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kHalfPi = 1.5707963267948966;

// An angle of the line through a and b, in radians: 0 or pi for a horizontal pair (pi when b
// lies left of a), -pi/2 or pi/2 for a vertical one (-pi/2 when b lies above a), else
// single(atan(single(dY / dX))).
double LineAngle(PointF a, PointF b);

// single(tan(single(LineAngle(a, b)))): 0 exactly only for a pair traversed left to right (or
// coincident points); 8.742278e-8 right to left; -2.2877332e7 downward, +2.2877332e7 upward.
float LineSlope(PointF a, PointF b);

// Where the line through p1 with slope k1 meets the line through p2 with slope k2. Returns p1
// when p1 and p2 coincide; (0, 0) when the slopes are equal or the meeting point has a zero
// coordinate. X comes from both intercepts, Y from line 1 (exactly p1.Y when k1 is 0) unless
// TakesYFromSecondLine(k1, x, k2), then from line 2.
PointF LineIntersection(PointF p1, float k1, PointF p2, float k2);

// Where the warp takes the line through p with slope k to meet the edge line through `corner`
// with slope kEdge: p itself when p is the corner, the corner when the lines are parallel,
// else their meeting point as LineIntersection computes it, but kept also on an axis (an edge
// along the top row or the left column is met there).
PointF EdgePoint(PointF p, float k, PointF corner, float kEdge);

// True where Y = k1 * x + c1 would lose its digits: line 1 steeper than line 2 and |k1 * x|
// above 2^20, so that the terms nearly cancel and their single-precision roundings (about
// 2^-23 |k1 * x|) could move Y by more than an eighth of a pixel. A vertical line's slope at
// x = 1000 would leave Y hundreds of pixels off. Never for an infinite or NaN x.
inline bool TakesYFromSecondLine(float k1, float x, float k2) {
    const double kx = double(k1) * double(x);
    return std::isfinite(kx) && std::fabs(kx) > 0x1p20 && std::fabs(k2) < std::fabs(k1);
}

// Euclidean distance, single(sqrt(dX^2 + dY^2)) with the sum in double.
float PointDistance(PointF a, PointF b);
// The same for integer points; the sum of squares is exact for any 32-bit coordinates.
float PointDistance(Point a, Point b);

} // namespace warp
