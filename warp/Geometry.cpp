#include "Geometry.h"

#include <cmath>

namespace warp {

double LineAngle(PointF a, PointF b) {
    if (a.Y == b.Y) return b.X < a.X ? kPi : 0.0;
    if (a.X == b.X) return a.Y > b.Y ? -kHalfPi : kHalfPi;
    const float t = float((double(b.Y) - double(a.Y)) / (double(b.X) - double(a.X)));
    return double(float(std::atan(double(t))));
}

float LineSlope(PointF a, PointF b) {
    return float(std::tan(double(float(LineAngle(a, b)))));
}

namespace {

// The meeting point of two lines of different slopes.
PointF Meet(PointF p1, float k1, PointF p2, float k2) {
    const float c1 = float(double(p1.Y) - double(k1) * double(p1.X));
    const float c2 = float(double(p2.Y) - double(k2) * double(p2.X));
    const float x = float((double(c1) - double(c2)) / (double(k2) - double(k1)));
    if (TakesYFromSecondLine(k1, x, k2)) return {x, float(double(k2) * double(x) + double(c2))};
    return {x, float(double(k1) * double(x) + double(c1))};
}

} // namespace

PointF LineIntersection(PointF p1, float k1, PointF p2, float k2) {
    if (p1.X == p2.X && p1.Y == p2.Y) return p1;
    if (k1 == k2) return {0.0f, 0.0f};
    const PointF m = Meet(p1, k1, p2, k2);
    if (m.X == 0.0f || m.Y == 0.0f) return {0.0f, 0.0f};
    return m;
}

PointF EdgePoint(PointF p, float k, PointF corner, float kEdge) {
    if (p.X == corner.X && p.Y == corner.Y) return p;
    if (k == kEdge) return corner;
    return Meet(p, k, corner, kEdge);
}

float PointDistance(PointF a, PointF b) {
    const double dx = double(a.X) - double(b.X);
    const double dy = double(a.Y) - double(b.Y);
    return float(std::sqrt(dx * dx + dy * dy));
}

float PointDistance(Point a, Point b) {
    // Differences of 32-bit values need 33 bits and their squares up to 66: an unsigned
    // 128-bit sum holds them exactly, and is exact in double below 2^53 like the plain sum.
    using U128 = unsigned __int128;
    const auto magnitude = [](int32_t p, int32_t q) {
        const int64_t d = int64_t(p) - int64_t(q);
        return U128(d < 0 ? -d : d);
    };
    const U128 dx = magnitude(a.X, b.X), dy = magnitude(a.Y, b.Y);
    return float(std::sqrt(double(dx * dx + dy * dy)));
}

} // namespace warp
