// The projective map and the perspective warp: the map's corners and shapes, and every fast
// path against the plain implementation, byte for byte.

#include "oracle/ReferenceWarp.h"
#include "support/TestSupport.h"
#include "warp/Homography.h"
#include "warp/WarpPerspective.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using namespace imaging;
using namespace testing_support;
using warp::Corners;
using warp::Homography;
using warp::QuadProblem;

TEST(Homography, TakesTheRectangleToTheCornersAndBack) {
    const Homography identity = *warp::RectToQuad(640, 480, {{0, 0}, {640, 0}, {640, 480}, {0, 480}});
    for (double x : {0.0, 17.0, 639.0})
        for (double y : {0.0, 5.0, 479.0}) {
            const auto p = identity.Map(x, y), q = identity.Inverted().Map(x, y);
            EXPECT_EQ(Bits(x), Bits(p.x)); // exactly: no rounding on the way
            EXPECT_EQ(Bits(y), Bits(p.y));
            EXPECT_EQ(Bits(x), Bits(q.x));
            EXPECT_EQ(Bits(y), Bits(q.y));
        }
    const Corners quads[] = {
        {{40, 30}, {700, 90}, {760, 560}, {20, 500}},
        {{700, 90}, {40, 30}, {20, 500}, {760, 560}}, // mirrored
        {{-3000, -200}, {5000, 100}, {4000, 9000}, {-2500, 3000}},
    };
    for (const Corners& c : quads) {
        ASSERT_EQ(QuadProblem::None, warp::CheckQuad(c));
        const Homography h = *warp::RectToQuad(800, 600, c);
        const Homography back = h.Inverted();
        const std::pair<Point, Point> corners[] = {{{0, 0}, c.topLeft}, {{800, 0}, c.topRight},
                                                   {{800, 600}, c.bottomRight}, {{0, 600}, c.bottomLeft}};
        for (auto [from, to] : corners) {
            const auto p = h.Map(from.X, from.Y), q = back.Map(to.X, to.Y);
            EXPECT_NEAR(to.X, p.x, 1e-6);
            EXPECT_NEAR(to.Y, p.y, 1e-6);
            EXPECT_NEAR(from.X, q.x, 1e-6);
            EXPECT_NEAR(from.Y, q.y, 1e-6);
        }
    }
}

TEST(Homography, RefusesCornersNoRectangleMapsTo) {
    const struct { Corners c; QuadProblem problem; } cases[] = {
        {{{0, 0}, {10, 0}, {10, 10}, {0, 10}}, QuadProblem::None},
        {{{0, 0}, {0, 10}, {10, 10}, {10, 0}}, QuadProblem::None},     // the other way round
        {{{0, 0}, {5, 0}, {10, 0}, {0, 10}}, QuadProblem::Collinear},
        {{{3, 3}, {3, 3}, {10, 10}, {0, 10}}, QuadProblem::Collinear}, // two coincide
        {{{0, 0}, {10, 10}, {10, 0}, {0, 10}}, QuadProblem::Crossing},
        {{{0, 0}, {10, 0}, {2, 2}, {0, 10}}, QuadProblem::Concave},
        {{{INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MIN}, {INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MAX}},
         QuadProblem::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.problem, warp::CheckQuad(c.c)) << c.c.topRight.X << "," << c.c.bottomRight.X;
        EXPECT_EQ(c.problem == QuadProblem::None, warp::RectToQuad(8, 6, c.c).has_value());
    }
    EXPECT_FALSE(warp::RectToQuad(0, 6, {{0, 0}, {10, 0}, {10, 10}, {0, 10}}));
}

// Convex quads of every kind for a w x h source, and their use both ways: placing the source
// on them (the inverse map) and straightening them (the forward one).
TEST(PerspectiveOracle, EveryFormatBothDirectionsAndRandomQuads) {
    std::mt19937 rng(7);
    auto check = [&](Bitmap& source, const Homography& toSource, int32_t w, int32_t h, int n) {
        Bitmap expected(w, h, PixelFormat32bppARGB), actual(w, h, PixelFormat32bppARGB);
        FillBytes(expected, 0x5A);
        FillBytes(actual, 0x5A);
        oracle::ReferenceWarpPerspective(&source, &expected, toSource, n);
        // In two parts, which must give the bytes of the whole.
        const Rect parts[] = {{0, 0, w, h / 3}, {0, h / 3, w, h}};
        warp::WarpPerspective(&source, &actual, toSource, n, parts);
        const auto e = PixelBytes(expected), a = PixelBytes(actual);
        for (size_t i = 0; i < e.size(); ++i)
            ASSERT_EQ(e[i], a[i]) << "pixel (" << (i / 4) % w << ", " << (i / 4) / w << ") of " << w << " x " << h
                                  << ", n " << n;
    };
    const int32_t sw = 61, sh = 43;
    const Corners fixed[] = {
        {{0, 0}, {sw, 0}, {sw, sh}, {0, sh}},
        {{6, 4}, {55, 1}, {60, 40}, {2, 35}},
        {{sw, 0}, {0, 0}, {0, sh}, {sw, sh}},
        {{-40, -30}, {120, -10}, {90, 100}, {-20, 80}},
        {{30, 2}, {31, 2}, {33, 40}, {28, 40}}, // nearly a line: the map is steep
    };
    for (PixelFormat format : kAllPixelFormats) {
        SCOPED_TRACE(testing::Message() << "format " << std::hex << format);
        auto source = RandomBitmap(format, sw, sh, rng);
        for (const Corners& c : fixed)
            for (int n : {2, 1}) {
                check(*source, warp::RectToQuad(sw, sh, c)->Inverted(), sw, sh, n);
                check(*source, *warp::RectToQuad(37, 29, c), 37, 29, n);
            }
    }
    std::uniform_int_distribution<int> size(1, 300);
    for (int64_t pixels = 0, round = 0; pixels < 6'000'000; ++round) {
        const int32_t w = size(rng), h = size(rng);
        auto source = RandomBitmap(round % 2 ? PixelFormat24bppRGB : PixelFormat32bppARGB, w, h, rng);
        std::uniform_int_distribution<int> cx(-w / 2, w + w / 2), cy(-h / 2, h + h / 2);
        const Corners c{{cx(rng), cy(rng)}, {cx(rng), cy(rng)}, {cx(rng), cy(rng)}, {cx(rng), cy(rng)}};
        const auto map = warp::RectToQuad(w, h, c);
        if (!map) continue;
        const int n = int(round % 3);
        if (round % 2) check(*source, map->Inverted(), w, h, n);
        else check(*source, *map, 1 + w / 2, 1 + h, n);
        pixels += int64_t(w) * h;
    }
}

} // namespace
