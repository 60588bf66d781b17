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

} // namespace
