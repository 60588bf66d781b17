// The warp's rules checked on cases whose outcome follows from the rules by hand.

#include "imaging/Graphics.h"
#include "imaging/ReducedCopies.h"
#include "support/TestSupport.h"
#include "warp/PreviewSampleAvx2.h"
#include "warp/SimdSupport.h"
#include "warp/SourceSampler.h"
#include "warp/WarpImageToQuad.h"
#include "warp/WarpPerspective.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>

namespace {

using namespace imaging;
using namespace testing_support;
using warp::WarpImageToQuad;

// --- one output pixel from its neighbourhood ------------------------------------------------

class SampleTest : public testing::Test {
protected:
    // A 4 x 4 32bppARGB source whose pixel (x, y) has all four channels equal to values[y][x].
    void SetValues(const uint8_t (&values)[4][4]) {
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) std::memset(m_pixels + 16 * y + 4 * x, values[y][x], 4);
    }
    Bgra Sample(int32_t iu, int32_t iv, double fx, double fy, int n = 2) const {
        const warp::SourceView view{m_pixels, 16, 4, 4, nullptr};
        return warp::Sample<PixelFormat32bppARGB>(view, iu, iv, fx, fy, n);
    }
    uint8_t m_pixels[64] = {};
};

TEST_F(SampleTest, BlendsAlongRowsFirstThenDownTruncatingEachStep) {
    // Y(1,1) = 3, its neighbours 0. Rows first: h0 = trunc(0.5 * 3) = 1, h1 = 0, then
    // trunc(0.75 * 1) = 0. Columns first would give trunc(0.5 * trunc(2.25)) = 1.
    const uint8_t values[4][4] = {{0, 0, 0, 0}, {0, 3, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}};
    SetValues(values);
    EXPECT_EQ(0, Sample(1, 1, 0.5, 0.25).B);
    // The weight 1 - fx goes to column iu: trunc(0.75 * 3) = 2, then trunc(0.5 * 2) = 1.
    EXPECT_EQ(1, Sample(1, 1, 0.25, 0.5).B);
}

TEST_F(SampleTest, ColumnZeroRowZeroAndOutsideYieldNothing) {
    const uint8_t values[4][4] = {{9, 9, 9, 9}, {9, 7, 7, 7}, {9, 7, 7, 7}, {9, 7, 7, 7}};
    SetValues(values);
    EXPECT_EQ(Bgra{}, Sample(0, 2, 0, 0, 1));  // column 0
    EXPECT_EQ(Bgra{}, Sample(2, 0, 0, 0, 1));  // row 0
    EXPECT_EQ((Bgra{7, 7, 7, 7}), Sample(3, 3, 0, 0, 1)); // W - 1 is usable
    EXPECT_EQ(Bgra{}, Sample(4, 3, 0, 0, 1));  // W is not
    EXPECT_EQ(Bgra{}, Sample(-5, 2, 0.3, 0.3)); // far left: nothing usable
    // Negative fractions only ever weigh unusable positions (iu <= -1).
    EXPECT_EQ(Bgra{}, Sample(-1, 2, -0.25, 0.0));
    // A position that did not fit in 32 bits, with a NaN fraction, is transparent.
    EXPECT_EQ(Bgra{}, Sample(INT32_MIN, 2, std::nan(""), 0.5));
    EXPECT_EQ(Bgra{}, Sample(INT32_MAX, INT32_MAX, 0.5, 0.5));
}

// --- whole renders ---------------------------------------------------------------------------

std::unique_ptr<Bitmap> Marked(int32_t w, int32_t h) {
    auto bitmap = std::make_unique<Bitmap>(w, h, PixelFormat32bppARGB);
    FillBytes(*bitmap, 0x5A);
    return bitmap;
}

bool Inside(const Rect& r, int32_t x, int32_t y) {
    return x >= int64_t(r.X) && x < int64_t(r.X) + r.Width && y >= int64_t(r.Y) &&
           y < int64_t(r.Y) + r.Height;
}

bool AllBytesAre(Bitmap& bitmap, uint8_t value) {
    for (uint8_t b : PixelBytes(bitmap))
        if (b != value) return false;
    return true;
}

// A region renders exactly its pixels of the whole render and leaves the others alone, also
// where it reaches beyond the destination or the 32-bit range, or is empty; several regions
// in one call render their union.
TEST(WarpImageToQuad, RegionRendersItsPartOfTheWhole) {
    std::mt19937 rng(31);
    const Rect regions[] = {
        {0, 0, 70, 50},      {13, 7, 20, 11},         {-5, -5, 10, 10},       {60, 40, 100, 100},
        {5, 5, 0, 10},       {5, 5, 10, -3},          {3, -2, 1, INT32_MAX},  {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX},
        {INT32_MAX, 0, INT32_MAX, 50},
    };
    for (PixelFormat format : {PixelFormat24bppRGB, PixelFormat32bppARGB}) {
        auto source = RandomBitmap(format, 70, 50, rng);
        const Quad q{{4, 2}, {66, 6}, {1, 45}, {69, 49}};
        auto whole = Marked(70, 50);
        WarpImageToQuad(source.get(), whole.get(), q.tl, q.tr, q.bl, q.br, 2);
        for (const Rect& r : regions) {
            auto part = Marked(70, 50);
            WarpImageToQuad(source.get(), part.get(), q.Outline(), 2, {&r, 1});
            for (int32_t y = 0; y < 50; ++y)
                for (int32_t x = 0; x < 70; ++x) {
                    const auto expected = Inside(r, x, y) ? PixelAt(*whole, x, y)
                                                          : std::array<uint8_t, 4>{0x5A, 0x5A, 0x5A, 0x5A};
                    ASSERT_EQ(expected, PixelAt(*part, x, y)) << x << "," << y << " in region " << r.X << "," << r.Y
                                                              << " " << r.Width << "x" << r.Height;
                }
        }
        const Rect some[] = {regions[1], regions[3], regions[4]};
        auto parts = Marked(70, 50);
        WarpImageToQuad(source.get(), parts.get(), q.Outline(), 2, some);
        for (int32_t y = 0; y < 50; ++y)
            for (int32_t x = 0; x < 70; ++x) {
                const bool any = Inside(some[0], x, y) || Inside(some[1], x, y) || Inside(some[2], x, y);
                const auto expected =
                    any ? PixelAt(*whole, x, y) : std::array<uint8_t, 4>{0x5A, 0x5A, 0x5A, 0x5A};
                ASSERT_EQ(expected, PixelAt(*parts, x, y)) << x << "," << y;
            }
    }
}

TEST(WarpImageToQuad, RendersNothingWhenALockFails) {
    std::mt19937 rng(11);
    auto source = RandomBitmap(PixelFormat24bppRGB, 30, 20, rng);
    const Quad q{{0, 0}, {30, 0}, {0, 20}, {30, 20}};

    // Source already locked.
    BitmapData held;
    ASSERT_EQ(Ok, source->LockBits(nullptr, ImageLockModeRead, PixelFormat24bppRGB, &held));
    auto dest = Marked(30, 20);
    WarpImageToQuad(source.get(), dest.get(), q.tl, q.tr, q.bl, q.br);
    EXPECT_TRUE(AllBytesAre(*dest, 0x5A));
    source->UnlockBits(&held);

    // Destination smaller than the source.
    auto small = Marked(29, 20);
    WarpImageToQuad(source.get(), small.get(), q.tl, q.tr, q.bl, q.br);
    EXPECT_TRUE(AllBytesAre(*small, 0x5A));

    // One bitmap as both source and destination.
    auto both = Marked(30, 20);
    const auto before = PixelBytes(*both);
    WarpImageToQuad(both.get(), both.get(), q.tl, q.tr, q.bl, q.br);
    EXPECT_EQ(before, PixelBytes(*both));

    // A source without content, and null pointers.
    Bitmap empty(0, 0, PixelFormat24bppRGB);
    WarpImageToQuad(&empty, dest.get(), q.tl, q.tr, q.bl, q.br);
    WarpImageToQuad(nullptr, dest.get(), q.tl, q.tr, q.bl, q.br);
    WarpImageToQuad(source.get(), nullptr, q.tl, q.tr, q.bl, q.br);
    EXPECT_TRUE(AllBytesAre(*dest, 0x5A));
    // No lock was left behind: the source renders again.
    WarpImageToQuad(source.get(), dest.get(), q.tl, q.tr, q.bl, q.br);
    EXPECT_FALSE(AllBytesAre(*dest, 0x5A));
}

TEST(WarpImageToQuad, BottomUpSourceRendersLikeTopDown) {
    std::mt19937 rng(13);
    auto topDown = RandomBitmap(PixelFormat24bppRGB, 33, 21, rng);
    const int32_t stride = int32_t(StrideFor(PixelFormat24bppRGB, 33));
    std::vector<uint8_t> memory(size_t(stride) * 21);
    const std::vector<uint8_t> rows = PixelBytes(*topDown);
    for (int y = 0; y < 21; ++y) // row y stored at the y-th row from the end
        std::memcpy(memory.data() + size_t(20 - y) * stride, rows.data() + size_t(y) * 99, 99);
    Bitmap bottomUp(33, 21, -stride, PixelFormat24bppRGB, memory.data() + size_t(20) * stride);
    ASSERT_TRUE(bottomUp.HasContent());
    Bitmap a(33, 21, PixelFormat32bppARGB), b(33, 21, PixelFormat32bppARGB);
    WarpImageToQuad(topDown.get(), &a, {1, 2}, {30, 0}, {3, 20}, {33, 19});
    WarpImageToQuad(&bottomUp, &b, {1, 2}, {30, 0}, {3, 20}, {33, 19});
    EXPECT_EQ(PixelBytes(a), PixelBytes(b));
}

} // namespace

namespace {

// The preview: the picture the warp shows, within two levels a channel but for a few pixels
// where the rows between the exact ones are mapped linearly, its sides where the warp's are;
// placed by the perspective mapping, every pixel within two levels.
TEST(WarpImageToQuadPreview, NearlyTheWarpsPicture) {
    // A picture as photos are, smooth but for a few edges: a tenth of a pixel moves its
    // colours by less than a level.
    auto smooth = PaintedArgb(300, 200, [](int32_t x, int32_t y) {
        return std::array<uint8_t, 4>{uint8_t(x * 255 / 300), uint8_t(y * 255 / 200), uint8_t(x < 150 ? 40 : 200), 255};
    });
    Bitmap* source = smooth.get();
    const warp::Corners quads[] = {
        {{0, 0}, {300, 0}, {300, 200}, {0, 200}},
        {{20, 10}, {280, 30}, {250, 190}, {-40, 170}},
        {{0, 0}, {300, 0}, {120, 90}, {0, 200}}, // concave
    };
    for (const warp::Corners& quad : quads) {
        SCOPED_TRACE(quad.bottomRight.X);
        Bitmap exact(300, 200, PixelFormat32bppARGB), preview(300, 200, PixelFormat32bppARGB);
        const Rect all{0, 0, 300, 200};
        WarpImageToQuad(source, &exact, quad, 2, {&all, 1});
        warp::WarpImageToQuadPreview(source, &preview, quad, 2, {&all, 1});
        auto far = [](Bitmap& a, Bitmap& b) { return PixelsApart(PixelBytes(a), PixelBytes(b), 2); };
        EXPECT_LT(far(exact, preview), 300 * 200 / 1000); // under 0.1 %
        // Placed by the perspective mapping, which the preview takes as it is: every pixel near.
        if (const auto map = warp::RectToQuad(300, 200, quad)) {
            Bitmap placed(300, 200, PixelFormat32bppARGB), placedPreview(300, 200, PixelFormat32bppARGB);
            warp::WarpPerspective(source, &placed, map->Inverted(), 2, {&all, 1});
            warp::WarpPerspectivePreview(source, &placedPreview, map->Inverted(), 2, {&all, 1});
            EXPECT_EQ(0, far(placed, placedPreview));
        }
    }
}

// Noise shrunk eight times from one result row to the next, not along them: the preview reads
// the copy of that step and shows its averages, where the warp shows one pixel in eight rows;
// by either mapping.
TEST(WarpImageToQuadPreview, ShrunkAcrossTheRowsShowsAverages) {
    if (warp::UsableSimd() == warp::SimdLevel::Scalar) GTEST_SKIP() << "no AVX2 here";
    std::mt19937 rng(9);
    auto noise = RandomBitmap(PixelFormat24bppRGB, 256, 2048, rng);
    const auto copies = MakeReducedCopies(*noise, 4);
    const std::vector<Bitmap*> coarser{copies[0].get(), copies[1].get(), copies[2].get(), copies[3].get()};
    const warp::Corners quad{{0, 0}, {256, 0}, {256, 256}, {0, 256}};
    const warp::Homography toSource = warp::RectToQuad(256, 2048, quad)->Inverted();
    const Rect all{0, 0, 256, 256};
    // How much a pixel differs from the one below it, on average over the inner rows.
    auto roughness = [](Bitmap& b) {
        double sum = 0;
        for (int32_t y = 8; y < 240; ++y)
            for (int32_t x = 8; x < 248; ++x) sum += std::abs(PixelAt(b, x, y)[1] - PixelAt(b, x, y + 1)[1]);
        return sum / (232 * 240);
    };
    for (const bool perspective : {false, true}) {
        SCOPED_TRACE(perspective);
        Bitmap exact(256, 256, PixelFormat32bppARGB), preview(256, 256, PixelFormat32bppARGB);
        if (perspective) {
            warp::WarpPerspective(noise.get(), &exact, toSource, 2, {&all, 1});
            warp::WarpPerspectivePreview(noise.get(), &preview, toSource, 2, {&all, 1}, coarser);
        } else {
            WarpImageToQuad(noise.get(), &exact, quad, 2, {&all, 1});
            warp::WarpImageToQuadPreview(noise.get(), &preview, quad, 2, {&all, 1}, coarser);
        }
        EXPECT_GT(roughness(exact), 60.0); // noise: a third of the range
        EXPECT_LT(roughness(preview), 15.0);
    }
}

// Over a background the preview writes every pixel of its regions, opaque: the preview
// without one as the imaging layer draws it over that colour, also where the quad falls short
// of the region's last rows and columns. Outside the regions nothing is written.
TEST(WarpImageToQuadPreview, OverABackgroundWritesTheRegionOpaque) {
    std::mt19937 rng(17);
    const Color background(0xFFFFFFC8);
    const Rect region{3, 2, 90, 60};
    const warp::Corners quad{{10, 5}, {70, 8}, {60, 40}, {5, 45}};
    for (const PixelFormat format : {PixelFormat24bppRGB, PixelFormat32bppARGB, PixelFormat32bppPARGB}) {
        SCOPED_TRACE(format);
        // Written through a lock in 24-bit or ARGB: a premultiplied source comes out as it should.
        const PixelFormat written = format == PixelFormat24bppRGB ? format : PixelFormat32bppARGB;
        const std::vector<uint8_t> bytes = PixelBytes(*RandomBitmap(written, 80, 50, rng));
        Bitmap source(80, 50, format);
        BitmapData in;
        ASSERT_EQ(Ok, source.LockBits(nullptr, ImageLockModeWrite, written, &in));
        for (int32_t y = 0; y < 50; ++y)
            std::memcpy(static_cast<uint8_t*>(in.Scan0) + y * in.Stride, bytes.data() + y * bytes.size() / 50,
                        bytes.size() / 50);
        source.UnlockBits(&in);
        Bitmap alone(100, 70, PixelFormat32bppARGB), expected(100, 70, PixelFormat32bppPARGB);
        warp::WarpImageToQuadPreview(&source, &alone, quad, 2, {&region, 1});
        auto over = Marked(100, 70);
        warp::WarpImageToQuadPreview(&source, over.get(), quad, 2, {&region, 1}, {}, background);
        BitmapData data;
        ASSERT_EQ(Ok, alone.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &data));
        {
            // A premultiplied source's preview is premultiplied.
            Bitmap drawn(100, 70, data.Stride,
                         format == PixelFormat32bppPARGB ? format : PixelFormat32bppARGB,
                         static_cast<uint8_t*>(data.Scan0));
            Graphics g(&expected);
            SolidBrush brush(background);
            g.FillRectangle(&brush, RectF{0, 0, 100, 70});
            g.DrawImage(&drawn, 0, 0);
        }
        alone.UnlockBits(&data);
        for (int32_t y = 0; y < 70; ++y)
            for (int32_t x = 0; x < 100; ++x) {
                const auto got = PixelAt(*over, x, y), want = PixelAt(expected, x, y);
                const bool inside = Inside(region, x, y);
                for (int c = 0; c < 4; ++c)
                    ASSERT_LE(std::abs(got[c] - (inside ? want[c] : 0x5A)), inside ? 1 : 0) << x << "," << y;
            }
    }
}

// The preview's sampler against the warp's on noise, where every neighbour differs: within
// two levels a channel for every pixel, and the same pixels written.
TEST(PreviewSampler, WithinTwoLevelsOfTheWarpsSampler) {
    if (warp::UsableSimd() == warp::SimdLevel::Scalar) GTEST_SKIP() << "no AVX2 here";
    std::mt19937 rng(5);
    for (const PixelFormat format : {PixelFormat24bppRGB, PixelFormat32bppARGB, PixelFormat32bppPARGB}) {
        SCOPED_TRACE(format);
        auto noise = RandomBitmap(format, 41, 23, rng);
        BitmapData in;
        const Rect all{0, 0, 41, 23};
        ASSERT_EQ(Ok, noise->LockBits(&all, ImageLockModeRead, format, &in));
        const warp::SourceView view{static_cast<const uint8_t*>(in.Scan0), in.Stride, 41, 23, nullptr};
        // Inside, on the edges and outside, with every kind of fraction.
        constexpr int kCount = 203;
        std::vector<int32_t> iu(kCount), iv(kCount);
        std::vector<double> fx(kCount), fy(kCount);
        std::uniform_int_distribution<int32_t> u(-2, 42), v(-2, 24);
        std::uniform_real_distribution<double> f(0.0, 1.0);
        for (int i = 0; i < kCount; ++i) {
            const bool inside = i % 16 < 12;
            iu[i] = inside ? 1 + i % 39 : u(rng), iv[i] = inside ? 1 + i % 21 : v(rng);
            fx[i] = i % 7 == 0 ? 0.0 : f(rng), fy[i] = i % 5 == 0 ? 0.999999 : f(rng);
        }
        const warp::MappedRun run{iu.data(), iv.data(), fx.data(), fy.data()};
        const int bytes = format == PixelFormat24bppRGB ? 3 : 4;
        std::vector<uint8_t> theirs(4 * kCount, 0), ours(4 * kCount, 0);
        warp::SampleRunAvx2For(bytes, 2)(view, run, {theirs.data(), kCount});
        warp::PreviewSampleRunAvx2For(bytes)(view, {}, run, {ours.data(), kCount}, nullptr);
        noise->UnlockBits(&in);
        EXPECT_EQ(0, PixelsApart(ours, theirs, 2));
    }
}

// Where eight positions lie two or more source pixels apart along the row, or from one row to
// the next, the preview reads the halved copy nearest the larger step (copy k from 2^k on, the
// last one beyond), at the place copy pixel j covers: 2^k j + (2^k - 1) / 2. Checked against
// the warp's sampler there.
TEST(PreviewSampler, ReadsTheCopyNearestTheStep) {
    if (warp::UsableSimd() == warp::SimdLevel::Scalar) GTEST_SKIP() << "no AVX2 here";
    std::mt19937 rng(8);
    auto noise = RandomBitmap(PixelFormat24bppRGB, 640, 480, rng);
    const auto copies = MakeReducedCopies(*noise, 4);
    ASSERT_EQ(4u, copies.size());
    std::vector<BitmapData> data(5);
    std::vector<warp::SourceView> views;
    for (int k = 0; k <= 4; ++k) {
        Bitmap* level = k == 0 ? noise.get() : copies[size_t(k - 1)].get();
        ASSERT_EQ(Ok, level->LockBits(nullptr, ImageLockModeRead, level->GetPixelFormat(), &data[size_t(k)]));
        views.push_back({static_cast<const uint8_t*>(data[size_t(k)].Scan0), data[size_t(k)].Stride,
                         data[size_t(k)].Width, data[size_t(k)].Height, nullptr});
    }
    const struct {
        double step;
        float across;
        int level;
    } cases[] = {{1.5, 0, 0}, {2.0, 0, 1},    {3.9, 0, 1},    {4.0, 0, 2}, {9, 0, 3},
                 {37, 0, 4},  {1.5, 1.9f, 0}, {1.5, 4.5f, 2}, {2.0, 9, 3}, {9, 2, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.step << " along, " << c.across << " across");
        constexpr int kCount = 16;
        int32_t iu[kCount], iv[kCount], ku[kCount], kv[kCount];
        double fx[kCount], fy[kCount], kfx[kCount], kfy[kCount];
        const double scale = std::ldexp(1.0, -c.level), offset = (std::ldexp(1.0, c.level) - 1) / 2;
        for (int j = 0; j < kCount; ++j) {
            const double u = 40.25 + c.step * j, v = 40.75 + c.step * j / 4;
            iu[j] = int32_t(u), iv[j] = int32_t(v), fx[j] = u - iu[j], fy[j] = v - iv[j];
            const double cu = (u - offset) * scale, cv = (v - offset) * scale;
            ku[j] = int32_t(std::floor(cu)), kv[j] = int32_t(std::floor(cv));
            kfx[j] = cu - ku[j], kfy[j] = cv - kv[j];
        }
        const float across[kCount / 8] = {c.across, c.across};
        std::vector<uint8_t> expected(4 * kCount, 0), preview(4 * kCount, 0);
        warp::SampleRunAvx2For(c.level == 0 ? 3 : 4, 2)(views[size_t(c.level)], {ku, kv, kfx, kfy},
                                                        {expected.data(), kCount});
        warp::PreviewSampleRunAvx2For(3)(views[0], {views.data() + 1, 4}, {iu, iv, fx, fy},
                                         {preview.data(), kCount}, across);
        EXPECT_EQ(0, PixelsApart(preview, expected, 2));
    }
    for (int k = 0; k <= 4; ++k)
        (k == 0 ? noise.get() : copies[size_t(k - 1)].get())->UnlockBits(&data[size_t(k)]);
}

} // namespace
