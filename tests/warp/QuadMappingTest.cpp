#include "support/TestSupport.h"
#include "warp/QuadMapping.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

namespace {

using namespace warp;
using testing_support::Quad;

// The worked examples give their values rounded to a number of decimals: the computed value
// must round to the same.
void ExpectRounded(double expected, int decimals, double actual) {
    EXPECT_NEAR(expected, actual, 0.5 * std::pow(10.0, -decimals) * (1 + 1e-9)) << actual;
}

TEST(QuadMapping, GeneralQuadWorkedExample) {
    const QuadMapping m = MakeQuadMapping(Quad{{10, 5}, {190, 15}, {5, 90}, {185, 95}}.Outline(), 200, 100);

    const SourcePosition centre = MapToSource(m, 100, 50);
    ExpectRounded(102.68675, 5, centre.u);
    ExpectRounded(48.36129, 5, centre.v);
    EXPECT_EQ(102, TruncateToIndex(centre.u));
    EXPECT_EQ(48, TruncateToIndex(centre.v));

    // Outside the quad, above and to its left: negative, moved down by one.
    const SourcePosition corner = MapToSource(m, 2, 2);
    ExpectRounded(-10.05493, 5, corner.u);
    ExpectRounded(-3.98881, 5, corner.v);
    EXPECT_EQ(-10, TruncateToIndex(corner.u));
    EXPECT_EQ(-3, TruncateToIndex(corner.v));
}

TEST(QuadMapping, VerticalLeftEdgeAndReversedBottomWorkedExample) {
    const QuadMapping m = MakeQuadMapping(Quad{{0, 0}, {180, 10}, {0, 100}, {200, 100}}.Outline(), 200, 100);
    ExpectRounded(0.0555556, 7, m.kTop);
    EXPECT_EQ(8.742278e-8f, m.kBottom);
    EXPECT_EQ(-2.2877332e7f, m.kLeft);
    ExpectRounded(4.500001, 6, m.kRight);
    ExpectRounded(1800.0026, 4, m.rowVanish.X);
    ExpectRounded(100.00014, 5, m.rowVanish.Y);
    EXPECT_NEAR(0.000035, m.colVanish.X, 5e-7);
    ExpectRounded(-800.00006, 5, m.colVanish.Y);
    EXPECT_TRUE(m.useRowVanish);
    EXPECT_TRUE(m.useColVanish);

    const SourcePosition centre = MapToSource(m, 100, 50);
    ExpectRounded(105.55556, 5, centre.u);
    ExpectRounded(47.22223, 5, centre.v);
    const SourcePosition nearOrigin = MapToSource(m, 1, 1);
    ExpectRounded(1.10993, 5, nearOrigin.u);
    ExpectRounded(0.94503, 5, nearOrigin.v);
}

TEST(QuadMapping, ParallelEdgesUseTheEdgeSlopes) {
    // Left and right edges both vertical: no column vanishing point. Top and bottom horizontal
    // (bottom right to left): no row vanishing point either, since it meets at Y = 0.
    const QuadMapping m = MakeQuadMapping(Quad{{0, 0}, {100, 0}, {0, 50}, {100, 50}}.Outline(), 100, 50);
    EXPECT_EQ(0.0f, m.kTop);
    EXPECT_EQ(8.742278e-8f, m.kBottom);
    EXPECT_EQ(m.kLeft, m.kRight);
    EXPECT_FALSE(m.useColVanish);
    EXPECT_FALSE(m.useRowVanish);
}

// The construction the mapping follows, in long double with lines as a point and a direction:
// row lines through the row vanishing point (else along the top edge), column lines through
// the column one (else along the right edge), and the ratios where they cross the edges. Which
// vanishing points exist is taken from the mapping. False where a line misses an edge.
bool IdealPosition(const QuadMapping& m, int32_t x, int32_t y, long double& u, long double& v) {
    using L = long double;
    struct P2 { L x, y; };
    auto sub = [](P2 a, P2 b) { return P2{a.x - b.x, a.y - b.y}; };
    auto cross = [](P2 a, P2 b) { return a.x * b.y - a.y * b.x; };
    auto meet = [&](P2 p, P2 d, P2 q, P2 e, P2& at) {
        const L den = cross(d, e);
        if (std::fabs(den) < 1e-12L * std::hypot(d.x, d.y) * std::hypot(e.x, e.y)) return false;
        const L t = cross(sub(q, p), e) / den;
        at = {p.x + t * d.x, p.y + t * d.y};
        return true;
    };
    auto dist = [](P2 a, P2 b) { return std::hypot(a.x - b.x, a.y - b.y); };
    const P2 tl{m.tl.X, m.tl.Y}, tr{m.tr.X, m.tr.Y}, bl{m.bl.X, m.bl.Y}, br{m.br.X, m.br.Y}, p{L(x), L(y)};
    P2 vr, vc, il, ir, it, ib;
    const bool row = m.useRowVanish && meet(tr, sub(tr, tl), br, sub(bl, br), vr);
    const bool col = m.useColVanish && meet(tl, sub(bl, tl), tr, sub(br, tr), vc);
    const P2 dRow = row ? sub(p, vr) : sub(tr, tl), dCol = col ? sub(p, vc) : sub(br, tr);
    if (!meet(p, dRow, tl, sub(bl, tl), il) || !meet(p, dRow, br, sub(br, tr), ir) ||
        !meet(p, dCol, tr, sub(tr, tl), it) || !meet(p, dCol, bl, sub(bl, br), ib))
        return false;
    u = m.width * dist(il, p) / dist(il, ir) * (dist(ir, p) > dist(il, ir) ? -1 : 1);
    v = m.height * dist(it, p) / dist(it, ib) * (dist(ib, p) > dist(it, ib) ? -1 : 1);
    return true;
}

// The rounded rules land within a quarter of a pixel of the construction, for the image's own
// corners (what a click on a handle renders), vertical edges (their lines are steep enough to
// lose every digit of a plain meeting point), edges along the top row or the left column, and
// convex quads such as a user drags, each corner kept, moved by a pixel or by up to 300.
TEST(QuadMapping, PositionsFollowTheConstruction) {
    constexpr int32_t W = 800, H = 600;
    std::vector<std::array<Point, 4>> quads = { // TL, TR, BR, BL
        {{{0, 0}, {W, 0}, {W, H}, {0, H}}},
        {{{0, 40}, {W, 0}, {W, H}, {0, H - 40}}},
        {{{50, 0}, {750, 90}, {750, 590}, {50, 500}}},
        {{{120, 30}, {3000, 10}, {3000, 2600}, {120, 2000}}},
    };
    std::mt19937 rng(41);
    auto moved = [&](int32_t c) {
        const int r = int(rng() % 6);
        return r == 0 ? c : r == 1 ? c + int32_t(rng() % 3) - 1 : c + int32_t(rng() % 601) - 300;
    };
    while (quads.size() < 150) {
        std::array<Point, 4> q = {{{moved(0), moved(0)}, {moved(W), moved(0)}, {moved(W), moved(H)}, {moved(0), moved(H)}}};
        if (rng() % 3 == 0) q[1].X = q[2].X; // vertical right edge
        if (rng() % 3 == 0) q[0].X = q[3].X; // vertical left edge
        if (rng() % 4 == 0) q[0].Y = q[1].Y; // horizontal top edge
        bool convex = true;
        for (int i = 0; i < 4; ++i) {
            const Point a = q[i], b = q[(i + 1) % 4], c = q[(i + 2) % 4];
            convex = convex && int64_t(b.X - a.X) * (c.Y - b.Y) - int64_t(b.Y - a.Y) * (c.X - b.X) > 0;
        }
        if (convex) quads.push_back(q);
    }
    for (const auto& q : quads) {
        SCOPED_TRACE(testing::Message() << "TL (" << q[0].X << "," << q[0].Y << ") TR (" << q[1].X << "," << q[1].Y
                                        << ") BR (" << q[2].X << "," << q[2].Y << ") BL (" << q[3].X << "," << q[3].Y << ")");
        const QuadMapping m = MakeQuadMapping(Corners::FromOutline(q.data()), W, H);
        for (int32_t y = 0; y < H + 300; y += 19)
            for (int32_t x = 0; x < W + 300; x += 23) {
                long double u, v;
                if (!IdealPosition(m, x, y, u, v) || u < 1 || v < 1 || u > W - 1 || v > H - 1) continue;
                const SourcePosition s = MapToSource(m, x, y);
                ASSERT_NEAR(double(u), s.u, 0.25) << x << "," << y;
                ASSERT_NEAR(double(v), s.v, 0.25) << x << "," << y;
            }
    }
}

} // namespace
