#include "PageSize.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace warp {

namespace {

using Vec3 = std::array<double, 3>;

Vec3 Cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double Length(imaging::Point a, imaging::Point b) { return std::hypot(double(b.X) - a.X, double(b.Y) - a.Y); }

// Width over height from the perspective, or 0 where it cannot be told.
double PerspectiveAspect(const Corners& c, double u0, double v0) {
    auto h = [](imaging::Point p) { return Vec3{double(p.X), double(p.Y), 1.0}; };
    const Vec3 m1 = h(c.topLeft), m2 = h(c.topRight), m3 = h(c.bottomLeft), m4 = h(c.bottomRight);
    const double k2 = Dot(Cross(m1, m4), m3) / Dot(Cross(m2, m4), m3);
    const double k3 = Dot(Cross(m1, m4), m2) / Dot(Cross(m3, m4), m2);
    const Vec3 n2{k2 * m2[0] - m1[0], k2 * m2[1] - m1[1], k2 * m2[2] - m1[2]};
    const Vec3 n3{k3 * m3[0] - m1[0], k3 * m3[1] - m1[1], k3 * m3[2] - m1[2]};
    // n2[2] or n3[2] (k - 1) about 0: that pair of sides is parallel, its vanishing point at
    // infinity, and the focal length cannot be told.
    if (!(std::fabs(n2[2]) > 1e-12) || !(std::fabs(n3[2]) > 1e-12)) return 0;
    const double f2 = -((n2[0] * n3[0] - (n2[0] * n3[2] + n2[2] * n3[0]) * u0 + n2[2] * n3[2] * u0 * u0) +
                        (n2[1] * n3[1] - (n2[1] * n3[2] + n2[2] * n3[1]) * v0 + n2[2] * n3[2] * v0 * v0)) /
                      (n2[2] * n3[2]);
    if (!(f2 > 0) || !std::isfinite(f2)) return 0;
    // |A^-1 n|^2 with A the camera matrix of focal length sqrt(f2) and principal point (u0, v0).
    auto norm = [&](const Vec3& n) {
        const double x = n[0] - u0 * n[2], y = n[1] - v0 * n[2];
        return (x * x + y * y) / f2 + n[2] * n[2];
    };
    const double aspect = std::sqrt(norm(n2) / norm(n3));
    return std::isfinite(aspect) && aspect > 0 ? aspect : 0;
}

} // namespace

PageSize EstimatePageSize(const Corners& c, int64_t imageWidth, int64_t imageHeight) {
    const double top = Length(c.topLeft, c.topRight), bottom = Length(c.bottomLeft, c.bottomRight);
    const double left = Length(c.topLeft, c.bottomLeft), right = Length(c.topRight, c.bottomRight);
    double aspect = PerspectiveAspect(c, imageWidth / 2.0, imageHeight / 2.0);
    if (aspect == 0) aspect = (top + bottom) / (left + right);
    const double longest = std::max({top, bottom, left, right});
    auto side = [](double length) { return std::max<int64_t>(1, std::llround(std::min(length, 1e15))); };
    if (aspect >= 1) return {side(longest), side(longest / aspect)};
    return {side(longest * aspect), side(longest)};
}

} // namespace warp
