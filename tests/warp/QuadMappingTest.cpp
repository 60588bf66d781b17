#include "warp/QuadMapping.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace warp;

// The worked examples give their values rounded to a number of decimals: the computed value
// must round to the same.
void ExpectRounded(double expected, int decimals, double actual) {
    EXPECT_NEAR(expected, actual, 0.5 * std::pow(10.0, -decimals) * (1 + 1e-9)) << actual;
}

TEST(QuadMapping, GeneralQuadWorkedExample) {
    const QuadMapping m = MakeQuadMapping({10, 5}, {190, 15}, {5, 90}, {185, 95}, 200, 100);

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
    const QuadMapping m = MakeQuadMapping({0, 0}, {180, 10}, {0, 100}, {200, 100}, 200, 100);
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
    const QuadMapping m = MakeQuadMapping({0, 0}, {100, 0}, {0, 50}, {100, 50}, 100, 50);
    EXPECT_EQ(0.0f, m.kTop);
    EXPECT_EQ(8.742278e-8f, m.kBottom);
    EXPECT_EQ(m.kLeft, m.kRight);
    EXPECT_FALSE(m.useColVanish);
    EXPECT_FALSE(m.useRowVanish);
}

// With vertical left and right edges every column line is vertical and every row line meets
// both edges, so a pixel's position follows from its column alone: u = W (x - xL) / (xR - xL)
// and v = H (y - top(x)) / (bottom(x) - top(x)). That includes the image's own corners, which
// the view renders on a click that moves nothing, and edges along the top row or left column.
TEST(QuadMapping, VerticalEdgesMapAsTheirColumnsSay) {
    constexpr double W = 1000, H = 800;
    const Point quads[][4] = { // TL, TR, BL, BR
        {{0, 0}, {1000, 0}, {0, 800}, {1000, 800}},
        {{0, 40}, {1000, 0}, {0, 760}, {1000, 800}},
        {{50, 0}, {950, 90}, {50, 700}, {950, 790}},
        {{120, 30}, {3000, 10}, {120, 2000}, {3000, 2600}},
    };
    for (const auto& q : quads) {
        SCOPED_TRACE(testing::Message() << "TL (" << q[0].X << "," << q[0].Y << ") TR (" << q[1].X << "," << q[1].Y << ")");
        const QuadMapping m = MakeQuadMapping(q[0], q[1], q[2], q[3], uint32_t(W), uint32_t(H));
        auto along = [](Point a, Point b, double x) { return a.Y + (b.Y - a.Y) * (x - a.X) / double(b.X - a.X); };
        for (int32_t x = q[0].X + 1; x < q[1].X; x += 37) {
            const double top = along(q[0], q[1], x), bottom = along(q[2], q[3], x);
            for (int32_t y = int32_t(top) + 1; y < bottom; y += 29) {
                const SourcePosition s = MapToSource(m, x, y);
                ASSERT_NEAR(W * (x - q[0].X) / (q[1].X - q[0].X), s.u, 0.01) << x << "," << y;
                ASSERT_NEAR(H * (y - top) / (bottom - top), s.v, 0.01) << x << "," << y;
            }
        }
    }
}

TEST(QuadMapping, CollapsedQuadGivesNoUsablePosition) {
    // All corners on one point: every span is 0, so positions are not finite.
    const QuadMapping m = MakeQuadMapping({5, 5}, {5, 5}, {5, 5}, {5, 5}, 10, 10);
    const SourcePosition p = MapToSource(m, 3, 3);
    EXPECT_FALSE(std::isfinite(p.u) && std::isfinite(p.v));
}

TEST(TruncateToIndex, TruncatesTowardZeroWithinRange) {
    EXPECT_EQ(0, TruncateToIndex(0.0));
    EXPECT_EQ(3, TruncateToIndex(3.75));
    EXPECT_EQ(-1, TruncateToIndex(-1.25)); // u = -0.25 after the minus-one step
    EXPECT_EQ(2147483647, TruncateToIndex(2147483647.9));
    EXPECT_EQ(INT32_MIN, TruncateToIndex(2147483648.0));
    EXPECT_EQ(-2147483647 - 1, TruncateToIndex(-2147483648.9));
    EXPECT_EQ(INT32_MIN, TruncateToIndex(-2147483649.0));
    EXPECT_EQ(INT32_MIN, TruncateToIndex(std::nan("")));
    EXPECT_EQ(INT32_MIN, TruncateToIndex(INFINITY));
    EXPECT_EQ(INT32_MIN, TruncateToIndex(-INFINITY));
    // The fraction of -1.25 against its index is -0.25: between -1 and 0 for negative u.
    EXPECT_EQ(-0.25, -1.25 - TruncateToIndex(-1.25));
}

} // namespace
