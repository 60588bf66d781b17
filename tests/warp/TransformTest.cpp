// What the corners do to an image beyond the described warp: the perspective map keeps lines
// straight, Straighten recovers a photographed page, the fitted canvas holds the whole quad.

#include "support/TestSupport.h"
#include "warp/Transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

using namespace imaging;
using namespace testing_support;
using warp::Corners;
using warp::Transform;

// A 24-bit w x h bitmap whose pixel (x, y) has the grey level shade(x, y).
std::unique_ptr<Bitmap> Picture(int32_t w, int32_t h, const std::function<double(double, double)>& shade) {
    auto image = std::make_unique<Bitmap>(w, h, PixelFormat24bppRGB);
    BitmapData data;
    image->LockBits(nullptr, ImageLockModeWrite, PixelFormat24bppRGB, &data);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t level = uint8_t(std::clamp(std::lround(shade(x, y)), 0L, 255L));
            uint8_t* p = static_cast<uint8_t*>(data.Scan0) + y * data.Stride + 3 * x;
            p[0] = p[1] = p[2] = level;
        }
    image->UnlockBits(&data);
    return image;
}

std::unique_ptr<Bitmap> Render(Bitmap& source, const Transform& t, const Corners& c) {
    return warp::RenderTransform(&source, warp::PlanTransform(t, c, source.GetWidth(), source.GetHeight()), 2);
}

// The mean difference of the grey levels of a and b (a 32-bit result) inside `margin` of
// their edges.
double MeanDifference(Bitmap& a, Bitmap& b, int margin) {
    std::unique_ptr<Bitmap> a32 = ArgbCopy(a);
    double sum = 0;
    int64_t count = 0;
    for (int32_t y = margin; y < int32_t(a.GetHeight()) - margin; ++y)
        for (int32_t x = margin; x < int32_t(a.GetWidth()) - margin; ++x, ++count)
            sum += std::abs(int(PixelAt(*a32, x, y)[1]) - int(PixelAt(b, x, y)[1]));
    return sum / double(count);
}

// An 800 x 600 picture's diagonal, drawn 3 pixels wide, placed on a quad: each column's
// darkness centre against the straight segment between the corners it ends on.
TEST(Transform, PerspectiveKeepsTheDiagonalStraightWhereTheQuadMappingBendsIt) {
    auto picture = Picture(800, 600, [](double x, double y) {
        return std::fabs(0.6 * x - 0.8 * y) <= 1.5 ? 0.0 : 255.0; // the line y = 0.75 x
    });
    const Corners quad{{40, 30}, {700, 90}, {760, 560}, {20, 500}};
    auto farthest = [&](warp::Mapping mapping) {
        auto result = Render(*picture, {.mapping = mapping}, quad);
        double worst = 0;
        for (int32_t x = 80; x <= 720; x += 4) {
            double weight = 0, sum = 0;
            for (int32_t y = 1; y < 600; ++y) {
                const auto p = PixelAt(*result, x, y);
                const double dark = p[3] == 255 ? 255.0 - p[1] : 0.0;
                weight += dark;
                sum += dark * y;
            }
            const double expected = 30 + (x - 40) * 530.0 / 720.0;
            worst = std::max(worst, std::fabs(sum / weight - expected));
        }
        return worst;
    };
    EXPECT_LT(farthest(warp::Mapping::Perspective), 0.5);
    EXPECT_GT(farthest(warp::Mapping::Quad), 10.0); // the described mapping bows by about 14.5
}

// A flat 800 x 600 checkerboard of 100-pixel squares, photographed by a camera of focal length
// 1100 with its principal point at the centre of a 1200 x 900 photo, turned 30 degrees about
// one axis and 20 about the other: straightened back it has its proportions and its pixels.
TEST(Transform, StraightenRecoversAPagePhotographedAtAnAngle) {
    const double f = 1100, u0 = 600, v0 = 450, a = 30 * M_PI / 180, b = 20 * M_PI / 180;
    // Columns r1, r2 of R = Rx(a) Ry(b), and the page's centre 1500 in front of the camera.
    const double r1[3] = {std::cos(b), std::sin(a) * std::sin(b), -std::cos(a) * std::sin(b)};
    const double r2[3] = {0, std::cos(a), std::sin(a)};
    const double t[3] = {-400 * r1[0], -400 * r1[1] - 300 * r2[1], 1500 - 400 * r1[2] - 300 * r2[2]};
    auto photoOf = [&](double X, double Y) { // page pixel to photo pixel
        const double c[3] = {r1[0] * X + r2[0] * Y + t[0], r1[1] * X + r2[1] * Y + t[1], r1[2] * X + r2[2] * Y + t[2]};
        return std::pair(f * c[0] / c[2] + u0, f * c[1] / c[2] + v0);
    };
    auto square = [](double X, double Y) {
        if (X < 0 || Y < 0 || X >= 800 || Y >= 600) return 128.0;
        return (int(X / 100) + int(Y / 100)) % 2 ? 215.0 : 40.0;
    };
    // Each photo pixel from 4 x 4 points of the page around it: the page is a plane, photoOf
    // a homography H = K [r1 r2 t], and its inverse the adjugate of H.
    const double H[9] = {f * r1[0] + u0 * r1[2], f * r2[0] + u0 * r2[2], f * t[0] + u0 * t[2],
                         f * r1[1] + v0 * r1[2], f * r2[1] + v0 * r2[2], f * t[1] + v0 * t[2],
                         r1[2], r2[2], t[2]};
    const warp::Homography toPage = warp::Homography{{H[0], H[1], H[2], H[3], H[4], H[5], H[6], H[7], H[8]}}.Inverted();
    auto pageOf = [&](double px, double py) {
        const auto p = toPage.Map(px, py);
        return std::pair(p.x, p.y);
    };
    auto antialiased = [](const std::function<std::pair<double, double>(double, double)>& to, double x, double y,
                          const std::function<double(double, double)>& shade) {
        double sum = 0;
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i) {
                const auto [X, Y] = to(x - 0.375 + 0.25 * i, y - 0.375 + 0.25 * j);
                sum += shade(X, Y);
            }
        return sum / 16;
    };
    auto photo = Picture(1200, 900, [&](double x, double y) { return antialiased(pageOf, x, y, square); });
    auto round = [](std::pair<double, double> p) { return Point{int32_t(std::lround(p.first)), int32_t(std::lround(p.second))}; };
    const Corners page{round(photoOf(0, 0)), round(photoOf(800, 0)), round(photoOf(800, 600)), round(photoOf(0, 600))};

    const warp::TransformPlan estimated = warp::PlanTransform({.direction = warp::Direction::Straighten}, page, 1200, 900);
    ASSERT_EQ("", estimated.problem);
    EXPECT_NEAR(4.0 / 3.0, double(estimated.width) / double(estimated.height), 4.0 / 3.0 / 100);

    auto straightened = Render(*photo, {.direction = warp::Direction::Straighten, .pageSize = warp::PageSize{800, 600}}, page);
    ASSERT_TRUE(straightened);
    auto flat = Picture(800, 600, [&](double x, double y) {
        return antialiased([](double X, double Y) { return std::pair(X, Y); }, x, y, square);
    });
    EXPECT_LT(MeanDifference(*flat, *straightened, 2), 2.0);
}

TEST(Transform, FittedCanvasHoldsTheImageAndTheQuad) {
    const struct { Corners c; int64_t w, h; Point origin; } cases[] = {
        {{{10, 10}, {90, 5}, {95, 70}, {3, 60}}, 100, 80, {0, 0}},          // inside: the image's size
        {{{-30, 10}, {90, -25}, {95, 70}, {3, 60}}, 130, 105, {-30, -25}}, // past the left and top
        {{{10, 10}, {140, 5}, {95, 120}, {3, 60}}, 140, 120, {0, 0}},      // past the right and bottom
        {{{-5, -6}, {107, -1}, {120, 99}, {-2, 81}}, 125, 105, {-5, -6}},  // past every side
    };
    for (const auto& c : cases) {
        const warp::TransformPlan plan = warp::PlanTransform({.canvas = warp::CanvasChoice::FitResult}, c.c, 100, 80);
        EXPECT_EQ(c.w, plan.width);
        EXPECT_EQ(c.h, plan.height);
        EXPECT_EQ(c.origin, plan.origin);
        EXPECT_EQ((Point{c.c.topRight.X - c.origin.X, c.c.topRight.Y - c.origin.Y}), plan.corners.topRight);
    }
    // The image moved up and left by (50, 40): on the fitted canvas, the image itself, exactly
    // through the perspective map; transparent beyond it.
    std::mt19937 rng(3);
    auto image = RandomBitmap(PixelFormat24bppRGB, 100, 80, rng);
    std::unique_ptr<Bitmap> argb = image->Clone({0, 0, 100, 80}, PixelFormat32bppARGB);
    for (warp::Mapping mapping : {warp::Mapping::Quad, warp::Mapping::Perspective}) {
        auto fitted = Render(*image, {.mapping = mapping, .canvas = warp::CanvasChoice::FitResult},
                             {{-50, -40}, {50, -40}, {50, 40}, {-50, 40}});
        ASSERT_EQ(150u, fitted->GetWidth());
        ASSERT_EQ(120u, fitted->GetHeight());
        for (int32_t y = 2; y < 120; y += 7)
            for (int32_t x = 2; x < 150; x += 5) {
                if ((x >= 98 && x <= 101) || (y >= 78 && y <= 81)) continue; // the image's edge
                const auto shown = PixelAt(*fitted, x, y);
                const bool inside = x < 100 && y < 80;
                ASSERT_EQ(inside ? 255 : 0, shown[3]) << x << "," << y;
                if (inside && mapping == warp::Mapping::Perspective) {
                    ASSERT_EQ(PixelAt(*argb, x, y), shown) << x << "," << y;
                }
            }
    }
}

TEST(Transform, ProblemsAreToldNotRendered) {
    const Corners square{{0, 0}, {10, 0}, {10, 10}, {0, 10}}, crossing{{0, 0}, {10, 10}, {10, 0}, {0, 10}};
    const warp::Direction straighten = warp::Direction::Straighten;
    const struct { Transform t; Corners c; uint32_t w; const char* problem; } cases[] = {
        {{}, crossing, 10, ""}, // the described mapping takes any corners
        {{.mapping = warp::Mapping::Perspective}, crossing, 10, "two sides of the quadrilateral cross"},
        {{.direction = straighten}, {{0, 0}, {5, 0}, {10, 0}, {0, 10}}, 10, "three corners lie on one line"},
        {{.direction = straighten, .pageSize = warp::PageSize{0, 5}}, square, 10, "the page size must be at least 1 x 1 pixels"},
        {{.canvas = warp::CanvasChoice::FitResult}, {{INT32_MIN, 0}, {INT32_MAX, 0}, {5, 5}, {0, 5}}, 10,
         "the result would be 4294967295 x 10 pixels, too large"},
        {{}, square, 0, "the image is empty"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.problem, warp::PlanTransform(c.t, c.c, c.w, 10).problem);
    // Without perspective: the page's proportions from its sides, a parallelogram 403 x 300.
    const warp::TransformPlan page = warp::PlanTransform({.direction = straighten}, {{10, 10}, {410, 60}, {410, 360}, {10, 310}}, 500, 400);
    EXPECT_EQ(403, page.width);
    EXPECT_EQ(300, page.height);
}

} // namespace
