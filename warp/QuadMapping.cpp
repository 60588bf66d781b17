#include "QuadMapping.h"

#include <cmath>

namespace warp {

namespace {

PointF ToPointF(Point p) { return {float(p.X), float(p.Y)}; }

// The sides of the edges TL -> TR -> BR -> BL -> TL where the quad is convex: every turn goes
// the same way.
void SetEdgeSides(QuadMapping& m) {
    const PointF c[4] = {m.tl, m.tr, m.br, m.bl};
    auto cross = [](PointF a, PointF b, PointF p) {
        return (double(b.X) - a.X) * (double(p.Y) - a.Y) - (double(b.Y) - a.Y) * (double(p.X) - a.X);
    };
    int turns = 0;
    for (int k = 0; k < 4; ++k) {
        const double turn = cross(c[k], c[(k + 1) % 4], c[(k + 2) % 4]);
        turns += turn > 0 ? 1 : turn < 0 ? -1 : 0;
    }
    if (turns != 4 && turns != -4) return;
    // Inside is where the cross product has the turns' sign.
    for (int k = 0; k < 4; ++k) {
        const PointF a = c[k], b = c[(k + 1) % 4];
        const double dx = double(b.X) - a.X, dy = double(b.Y) - a.Y;
        const double scale = (turns > 0 ? -1 : 1) / std::hypot(dx, dy);
        // cross(a, b, p) = dx (p.y - a.y) - dy (p.x - a.x)
        m.beyond[k] = {-dy * scale, dx * scale, (dy * a.X - dx * a.Y) * scale - 2};
    }
}

} // namespace

QuadMapping MakeQuadMapping(const Corners& corners, uint32_t width, uint32_t height) {
    QuadMapping m{};
    m.tl = ToPointF(corners.topLeft);
    m.tr = ToPointF(corners.topRight);
    m.bl = ToPointF(corners.bottomLeft);
    m.br = ToPointF(corners.bottomRight);
    m.kTop = LineSlope(m.tl, m.tr);
    m.kBottom = LineSlope(m.br, m.bl);
    m.kLeft = LineSlope(m.tl, m.bl);
    m.kRight = LineSlope(m.tr, m.br);
    m.rowVanish = LineIntersection(m.tr, m.kTop, m.br, m.kBottom);
    m.colVanish = LineIntersection(m.tl, m.kLeft, m.tr, m.kRight);
    // A vanishing point is trusted only with two non-zero coordinates (NaN counts as non-zero).
    m.useRowVanish = m.rowVanish.X != 0.0f && m.rowVanish.Y != 0.0f;
    m.useColVanish = m.colVanish.X != 0.0f && m.colVanish.Y != 0.0f;
    m.width = double(width);
    m.height = double(height);
    SetEdgeSides(m);
    return m;
}

SourcePosition MapToSource(const QuadMapping& m, int32_t x, int32_t y) {
    const PointF p{float(x), float(y)};

    // The row line and the column line through the pixel.
    const float kRow = m.useRowVanish ? LineSlope(m.rowVanish, p) : m.kTop;
    const float kCol = m.useColVanish ? LineSlope(m.colVanish, p) : m.kRight;

    // Where they cross the edges; a line parallel to its edge falls back to the corner.
    const PointF il = EdgePoint(p, kRow, m.tl, m.kLeft);
    const PointF ir = EdgePoint(p, kRow, m.br, m.kRight);
    const PointF it = EdgePoint(p, kCol, m.tr, m.kTop);
    const PointF ib = EdgePoint(p, kCol, m.bl, m.kBottom);

    // Signed distances from the left and top edges along those lines.
    float dL = PointDistance(il, p);
    const float dLR = PointDistance(il, ir);
    float dT = PointDistance(it, p);
    const float dTB = PointDistance(it, ib);
    if (PointDistance(ir, p) > dLR) dL = -dL;
    if (PointDistance(ib, p) > dTB) dT = -dT;

    double u = (m.width * double(dL)) / double(dLR);
    double v = (m.height * double(dT)) / double(dTB);
    if (u < 0.0) u = u - 1.0;
    if (v < 0.0) v = v - 1.0;
    return {u, v};
}

} // namespace warp
