#include "support/TestSupport.h"
#include "warp/Geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace {

using warp::EdgePoint;
using warp::LineAngle;
using warp::LineIntersection;
using warp::LineSlope;
using warp::Point;
using warp::PointDistance;
using warp::PointF;
using testing_support::Bits;


// Bit-for-bit equality, which also tells 0 from -0.
#define EXPECT_SAME_FLOAT(expected, actual) EXPECT_EQ(Bits(expected), Bits(actual)) << (actual)

struct SlopeCase {
    PointF a, b;
    float slope;
};

TEST(LineSlope, FollowsTheAngleRules) {
    const SlopeCase cases[] = {
        {{0, 0}, {10, 0}, 0.0f},            // left to right: exactly 0
        {{10, 0}, {0, 0}, 8.742278e-8f},    // right to left: tan(single(pi))
        {{0, 0}, {0, 10}, -2.2877332e7f},   // downward: tan(single(pi / 2))
        {{0, 10}, {0, 0}, 2.2877332e7f},    // upward
        {{0, 0}, {1, 100}, 99.99958f},      // steep: not 100
        {{0, 0}, {2, 1}, 0.5f},
        {{4, 4}, {4, 4}, 0.0f},             // coincident points
    };
    for (const SlopeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.a.X << "," << c.a.Y << ")->(" << c.b.X << "," << c.b.Y << ")");
        EXPECT_SAME_FLOAT(c.slope, LineSlope(c.a, c.b));
    }
}

TEST(LineAngle, SpecialCasesAreExactConstants) {
    EXPECT_EQ(3.141592653589793, LineAngle({10, 0}, {0, 0}));
    EXPECT_EQ(0.0, LineAngle({0, 0}, {10, 0}));
    EXPECT_EQ(-1.5707963267948966, LineAngle({0, 10}, {0, 0}));
    EXPECT_EQ(1.5707963267948966, LineAngle({0, 0}, {0, 10}));
}

struct IntersectionCase {
    PointF p1;
    float k1;
    PointF p2;
    float k2;
    PointF expected;
};

TEST(LineIntersection, MeetsOrReportsNoPoint) {
    const IntersectionCase cases[] = {
        {{3, 4}, 1, {3, 4}, 1, {3, 4}},    // same point wins before the slope test
        {{1, 1}, 2, {5, 2}, 2, {0, 0}},    // parallel
        {{5, 1}, 0, {0, 2}, 1, {-1, 1}},   // horizontal line 1
        {{0, 3}, 0, {2, 5}, 1, {0, 0}},    // meets at (0, 3): zero X
        {{1, 1}, 1, {3, 1}, -1, {2, 2}},
        {{1, 1}, 1, {1, -1}, -1, {0, 0}},  // meets at the origin
        {{5, 1}, 1, {3, 1}, -1, {0, 0}},   // meets at (4, 0): zero Y
    };
    for (const IntersectionCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "p1 (" << c.p1.X << "," << c.p1.Y << ") k1 " << c.k1);
        const PointF r = LineIntersection(c.p1, c.k1, c.p2, c.k2);
        EXPECT_SAME_FLOAT(c.expected.X, r.X);
        EXPECT_SAME_FLOAT(c.expected.Y, r.Y);
    }
}

// The warp's edge points are LineIntersection's meeting points, but the corner where the lines
// are parallel and kept on an axis; a steep line 1 takes Y from line 2 in both.
TEST(EdgePoint, KeepsPointsOnAnAxisAndTakesTheCornerForParallelLines) {
    const float vertical = LineSlope({1000, 0}, {1000, 10}); // -2.2877332e7
    struct Case {
        PointF p;
        float k;
        PointF corner;
        float kEdge;
        PointF edgePoint, intersection;
        float tolerance;
    };
    const Case cases[] = {
        {{3, 4}, 1, {3, 4}, 1, {3, 4}, {3, 4}, 0},        // the pixel is the corner
        {{1, 1}, 2, {5, 2}, 2, {5, 2}, {0, 0}, 0},        // parallel
        {{1, 1}, 1, {3, 1}, -1, {2, 2}, {2, 2}, 0},
        {{0, 3}, 0, {2, 5}, 1, {0, 3}, {0, 0}, 0},        // on the Y axis
        {{40, 30}, -3, {100, 0}, 0, {50, 0}, {0, 0}, 0},  // on the top row
        // A vertical line far from X = 0: from its own slope, Y would be hundreds of pixels off.
        {{1000, 50}, vertical, {0, 100}, 0.5f, {1000, 600}, {1000, 600}, 1e-3f},
        {{700, 50}, vertical, {0, 0}, 0, {700, 0}, {0, 0}, 1e-3f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "p (" << c.p.X << "," << c.p.Y << ") k " << c.k);
        const PointF e = EdgePoint(c.p, c.k, c.corner, c.kEdge), i = LineIntersection(c.p, c.k, c.corner, c.kEdge);
        EXPECT_NEAR(c.edgePoint.X, e.X, c.tolerance);
        EXPECT_NEAR(c.edgePoint.Y, e.Y, c.tolerance);
        EXPECT_NEAR(c.intersection.X, i.X, c.tolerance);
        EXPECT_NEAR(c.intersection.Y, i.Y, c.tolerance);
    }
}

TEST(PointDistance, IntegerDistanceDoesNotOverflow) {
    // 46341^2 no longer fits in 31 bits; the distance must still be exact.
    EXPECT_SAME_FLOAT(46341.0f, PointDistance(Point{0, 0}, Point{46341, 0}));
    EXPECT_SAME_FLOAT(65536.0f, PointDistance(Point{-32768, 0}, Point{32768, 0}));
    // Opposite ends of the 32-bit range: differences of 2^32 - 1 on both axes.
    const float expected = float(std::sqrt(2.0) * 4294967295.0);
    EXPECT_SAME_FLOAT(expected, PointDistance(Point{INT32_MIN, INT32_MIN}, Point{INT32_MAX, INT32_MAX}));
    EXPECT_SAME_FLOAT(4294967295.0f, PointDistance(Point{INT32_MAX, 5}, Point{INT32_MIN, 5}));
}

} // namespace
