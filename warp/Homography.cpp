#include "Homography.h"

#include <array>

namespace warp {

Homography Homography::Inverted() const {
    const double* a = m;
    return {{a[4] * a[8] - a[5] * a[7], a[2] * a[7] - a[1] * a[8], a[1] * a[5] - a[2] * a[4],
             a[5] * a[6] - a[3] * a[8], a[0] * a[8] - a[2] * a[6], a[2] * a[3] - a[0] * a[5],
             a[3] * a[7] - a[4] * a[6], a[1] * a[6] - a[0] * a[7], a[0] * a[4] - a[1] * a[3]}};
}

QuadProblem CheckQuad(const Corners& c) {
    const std::array<imaging::Point, 4> p{c.topLeft, c.topRight, c.bottomRight, c.bottomLeft};
    // The turn at each corner, exact: coordinates differ by up to 2^32, their products by 2^64.
    int positive = 0, negative = 0;
    for (int i = 0; i < 4; ++i) {
        const imaging::Point a = p[i], b = p[(i + 1) % 4], d = p[(i + 2) % 4];
        const __int128 turn = __int128(int64_t(b.X) - a.X) * (int64_t(d.Y) - b.Y) -
                              __int128(int64_t(b.Y) - a.Y) * (int64_t(d.X) - b.X);
        if (turn == 0) return QuadProblem::Collinear; // every three of four corners are consecutive
        (turn > 0 ? positive : negative) += 1;
    }
    if (positive == 4 || negative == 4) return QuadProblem::None;
    return positive == 2 ? QuadProblem::Crossing : QuadProblem::Concave;
}

const char* Describe(QuadProblem problem) {
    switch (problem) {
    case QuadProblem::None: return "";
    case QuadProblem::Collinear: return "three corners lie on one line";
    case QuadProblem::Crossing: return "two sides of the quadrilateral cross";
    case QuadProblem::Concave: return "the quadrilateral is not convex";
    }
    return "";
}

std::optional<Homography> RectToQuad(double width, double height, const Corners& c) {
    if (!(width > 0) || !(height > 0) || CheckQuad(c) != QuadProblem::None) return std::nullopt;
    // The unit square's corners (0, 0), (1, 0), (1, 1), (0, 1) to p0 .. p3 (Heckbert, 1989),
    // then the rectangle's sides scaled to the square's.
    const double x0 = c.topLeft.X, y0 = c.topLeft.Y, x1 = c.topRight.X, y1 = c.topRight.Y;
    const double x2 = c.bottomRight.X, y2 = c.bottomRight.Y, x3 = c.bottomLeft.X, y3 = c.bottomLeft.Y;
    const double dx1 = x1 - x2, dx2 = x3 - x2, dx3 = ((x0 - x1) + x2) - x3;
    const double dy1 = y1 - y2, dy2 = y3 - y2, dy3 = ((y0 - y1) + y2) - y3;
    const double den = dx1 * dy2 - dx2 * dy1;
    const double g = (dx3 * dy2 - dx2 * dy3) / den, h = (dx1 * dy3 - dx3 * dy1) / den;
    const double a = (x1 - x0) + g * x1, b = (x3 - x0) + h * x3;
    const double d = (y1 - y0) + g * y1, e = (y3 - y0) + h * y3;
    return Homography{{a / width, b / height, x0, d / width, e / height, y0, g / width, h / height, 1.0}};
}

} // namespace warp
