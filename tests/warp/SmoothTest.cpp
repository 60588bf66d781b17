// Smooth rendering: the oracle's bytes for both mappings, both directions and every kind of
// source; the identity gives the source back; edges cover what the quad covers; a fine
// pattern shrunk comes out as its average instead of aliasing.

#include "oracle/ReferenceSmooth.h"
#include "support/TestSupport.h"
#include "warp/BackgroundRender.h"
#include "warp/SmoothWarp.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace imaging;
using namespace testing_support;
using warp::Direction;
using warp::Mapping;

struct Case {
    const char* name;
    warp::Transform transform;
    Quad quad;
};

// Shrunk far enough to reach the last reduced copy, enlarged, tilted across the canvas's
// border, a page in the photo, and concave and crossed quads (Quad mapping only).
const Case kCases[] = {
    {"shrunk quad", {}, {{3, 5}, {21, 2}, {1, 14}, {17, 19}}},
    {"shrunk perspective", {.mapping = Mapping::Perspective}, {{3, 5}, {21, 2}, {1, 14}, {17, 19}}},
    {"enlarged perspective, fitted",
     {.mapping = Mapping::Perspective, .canvas = warp::CanvasChoice::FitResult},
     {{-9, -4}, {88, 7}, {-2, 70}, {95, 61}}},
    {"tilted quad, fitted",
     {.canvas = warp::CanvasChoice::FitResult},
     {{-7, 10}, {40, -6}, {12, 60}, {70, 44}}},
    {"concave quad", {}, {{0, 0}, {60, 0}, {0, 40}, {20, 12}}},
    // Crossed: no pixel at its box's corners or middle wants a reduced copy, some inside do,
    // so the copies are made after a first pass.
    {"crossed quad", {}, {{15, 51}, {48, -7}, {28, 55}, {61, 80}}},
    // Crossed far beyond the canvas: pixels between grid points mapped in full and points
    // whose stretches the mapping leaves half unmapped.
    {"crossed beyond the canvas", {}, {{55, 0}, {19, -55}, {94, 124}, {13, -35}}},
    {"twisted beyond the canvas", {}, {{57, 63}, {-49, 49}, {76, 53}, {99, 28}}},
    {"page", {.direction = Direction::Straighten}, {{10, 8}, {50, 3}, {-5, 44}, {58, 49}}},
    {"page shrunk",
     {.direction = Direction::Straighten, .pageSize = warp::PageSize{9, 7}},
     {{2, 1}, {59, 4}, {0, 45}, {57, 46}}},
};

// Opaque but for every seventh pixel.
void MostlyOpaque(Bitmap& argb) {
    BitmapData data;
    argb.LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &data);
    for (uint32_t y = 0; y < data.Height; ++y)
        for (uint32_t x = 0; x < data.Width; ++x)
            if ((x + y) % 7 != 0) static_cast<uint8_t*>(data.Scan0)[y * data.Stride + 4 * x + 3] = 255;
    argb.UnlockBits(&data);
}

TEST(Smooth, GivesTheOraclesBytes) {
    std::mt19937 rng(41);
    // Odd sizes, so that the reduced copies end in part blocks; alpha, a palette and a
    // premultiplied source read through their true colour; texels that are almost all opaque,
    // and 24-bit rows without padding stored bottom-up, which the vector path reads apart.
    std::vector<std::pair<std::string, std::unique_ptr<Bitmap>>> sources;
    for (PixelFormat format :
         {PixelFormat24bppRGB, PixelFormat32bppARGB, PixelFormat8bppIndexed, PixelFormat32bppPARGB})
        sources.emplace_back(std::to_string(format), RandomBitmap(format, 61, 47, rng));
    sources.emplace_back("opaque", RandomBitmap(PixelFormat32bppARGB, 61, 47, rng));
    MostlyOpaque(*sources.back().second);
    const std::vector<uint8_t> rows = PixelBytes(*RandomBitmap(PixelFormat24bppRGB, 60, 47, rng));
    std::vector<uint8_t> bottomUp(rows.size());
    for (size_t y = 0; y < 47; ++y) std::copy_n(rows.data() + y * 180, 180, bottomUp.data() + (46 - y) * 180);
    sources.emplace_back("bottom-up", std::make_unique<Bitmap>(60, 47, -180, PixelFormat24bppRGB,
                                                               bottomUp.data() + 46 * 180));
    for (const auto& [name, source] : sources)
        for (const Case& c : kCases) {
            SCOPED_TRACE(testing::Message() << name << " " << c.name);
            const int32_t width = int32_t(source->GetWidth());
            warp::Transform transform = c.transform;
            transform.smooth = true;
            const warp::TransformPlan plan = warp::PlanTransform(transform, c.quad.Outline(), width, 47);
            ASSERT_TRUE(plan.problem.empty()) << plan.problem;
            std::string why;
            const std::unique_ptr<Bitmap> result = warp::RenderTransform(source.get(), plan, 2, &why);
            ASSERT_TRUE(result) << why;
            Bitmap expected(int32_t(plan.width), int32_t(plan.height), PixelFormat32bppARGB);
            oracle::ReferenceSmooth(source.get(), &expected, plan);
            EXPECT_EQ(PixelBytes(expected), PixelBytes(*result));
        }
}

// In bands on a thread of its own, from copies made once, the same bytes as whole.
TEST(Smooth, InBandsAsWhole) {
    std::mt19937 rng(43);
    auto source = RandomBitmap(PixelFormat32bppARGB, 90, 700, rng);
    const warp::TransformPlan plan =
        warp::PlanTransform({.mapping = Mapping::Perspective, .smooth = true},
                            Quad{{4, 30}, {85, 2}, {-6, 690}, {92, 640}}.Outline(), 90, 700);
    Bitmap result(90, 700, PixelFormat32bppARGB);
    warp::BackgroundRender(*source, result, plan, nullptr).Wait();
    EXPECT_EQ(PixelBytes(*warp::RenderTransform(source.get(), plan, 2)), PixelBytes(result));
}

// Pixel (x, y) covers [x, x + 1] x [y, y + 1] in either picture: the identity is the source,
// its first column and row included. (The Quad mapping's single-precision slopes put its
// identity a little off the integers.)
TEST(Smooth, IdentityIsTheSource) {
    std::mt19937 rng(47);
    for (PixelFormat format : {PixelFormat24bppRGB, PixelFormat32bppARGB, PixelFormat8bppIndexed}) {
        auto source = RandomBitmap(format, 37, 23, rng);
        const warp::TransformPlan plan =
            warp::PlanTransform({.mapping = Mapping::Perspective, .smooth = true},
                                Quad{{0, 0}, {37, 0}, {0, 23}, {37, 23}}.Outline(), 37, 23);
        Bitmap expected(37, 23, PixelFormat32bppARGB);
        const Rect all{0, 0, 37, 23};
        const std::unique_ptr<Bitmap> argb = source->Clone(all, PixelFormat32bppARGB);
        // Pixels of alpha 0 are not written: they stay transparent black.
        BitmapData in, out;
        argb->LockBits(&all, ImageLockModeRead, PixelFormat32bppARGB, &in);
        expected.LockBits(&all, ImageLockModeWrite, PixelFormat32bppARGB, &out);
        for (int32_t y = 0; y < 23; ++y)
            for (int32_t x = 0; x < 37; ++x) {
                const uint8_t* p = static_cast<uint8_t*>(in.Scan0) + y * in.Stride + 4 * x;
                if (p[3] != 0) std::copy(p, p + 4, static_cast<uint8_t*>(out.Scan0) + y * out.Stride + 4 * x);
            }
        argb->UnlockBits(&in);
        expected.UnlockBits(&out);
        EXPECT_EQ(PixelBytes(expected), PixelBytes(*warp::RenderTransform(source.get(), plan, 2)))
            << std::hex << format;
    }
}

// An opaque picture on a tilted quad: the alphas add up to the quad's area, and its edges
// take many levels, not just 0 and 255.
TEST(Smooth, EdgesCoverTheQuadsArea) {
    Bitmap white(80, 60, PixelFormat24bppRGB);
    FillBytes(white, 255);
    const Quad quad{{7, 3}, {71, 12}, {2, 50}, {66, 57}};
    const warp::TransformPlan plan =
        warp::PlanTransform({.mapping = Mapping::Perspective, .smooth = true}, quad.Outline(), 80, 60);
    const std::vector<uint8_t> bytes = PixelBytes(*warp::RenderTransform(&white, plan, 2));
    double covered = 0;
    int partial = 0;
    for (size_t i = 3; i < bytes.size(); i += 4) {
        covered += bytes[i] / 255.0;
        partial += bytes[i] > 0 && bytes[i] < 255;
    }
    const Point p[4] = {quad.tl, quad.tr, quad.br, quad.bl};
    double area = 0;
    for (int k = 0; k < 4; ++k) area += double(p[k].X) * p[(k + 1) % 4].Y - double(p[(k + 1) % 4].X) * p[k].Y;
    EXPECT_NEAR(std::abs(area) / 2, covered, 2.0);
    EXPECT_GT(partial, 200); // about one per pixel of the quad's outline
}

// One-pixel black and white checks shrunk eight times: grey throughout, where the plain warp
// picks single checks.
TEST(Smooth, ShrinkingAveragesAFinePattern) {
    Bitmap checks(256, 256, PixelFormat24bppRGB);
    BitmapData data;
    const Rect all{0, 0, 256, 256};
    checks.LockBits(&all, ImageLockModeWrite, PixelFormat24bppRGB, &data);
    for (int32_t y = 0; y < 256; ++y)
        for (int32_t x = 0; x < 256; ++x)
            std::fill_n(static_cast<uint8_t*>(data.Scan0) + y * data.Stride + 3 * x, 3,
                        (x + y) % 2 ? 255 : 0);
    checks.UnlockBits(&data);
    for (Mapping mapping : {Mapping::Quad, Mapping::Perspective}) {
        const warp::TransformPlan plan =
            warp::PlanTransform({.mapping = mapping, .smooth = true},
                                Quad{{0, 0}, {32, 0}, {0, 32}, {32, 32}}.Outline(), 256, 256);
        const std::unique_ptr<Bitmap> result = warp::RenderTransform(&checks, plan, 2);
        const std::unique_ptr<Bitmap> inner = result->Clone({0, 0, 32, 32}, PixelFormat32bppARGB);
        const std::vector<uint8_t> bytes = PixelBytes(*inner);
        for (size_t i = 0; i < bytes.size(); ++i)
            ASSERT_NEAR(i % 4 == 3 ? 255 : 128, bytes[i], 1)
                << "byte " << i << (mapping == Mapping::Quad ? " quad" : " perspective");
    }
}

} // namespace
