// Reduced copies against the plain box average of the original's premultiplied pixels.

#include "imaging/PixelCodec.h"
#include "imaging/ReducedCopies.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace imaging;
using namespace testing_support;

// The stored bytes of pixel (x, y) of a 32bppPARGB copy.
std::array<uint8_t, 4> Stored(Bitmap& copy, int32_t x, int32_t y) {
    BitmapData data;
    std::array<uint8_t, 4> px{};
    const Rect one{x, y, 1, 1};
    if (copy.LockBits(&one, ImageLockModeRead, copy.GetPixelFormat(), &data) != Ok) return px;
    std::memcpy(px.data(), data.Scan0, 4);
    copy.UnlockBits(&data);
    return px;
}

// Pixel (x, y) of copy k as the average of its block, straight from the original.
std::array<uint8_t, 4> BoxAverage(Bitmap& original, int k, int32_t x, int32_t y) {
    const int32_t side = 1 << k, w = int32_t(original.GetWidth()), h = int32_t(original.GetHeight());
    uint64_t sum[4] = {}, count = 0;
    for (int32_t v = y * side; v < std::min(h, (y + 1) * side); ++v)
        for (int32_t u = x * side; u < std::min(w, (x + 1) * side); ++u) {
            const auto p = PixelAt(original, u, v);
            for (int c = 0; c < 3; ++c) sum[c] += pixel::Premultiply8(p[c], p[3]);
            sum[3] += p[3];
            ++count;
        }
    std::array<uint8_t, 4> average;
    for (int c = 0; c < 4; ++c) average[c] = uint8_t((sum[c] + count / 2) / count);
    return average;
}

TEST(ReducedCopies, EachPixelIsTheRoundedAverageOfItsBlock) {
    std::mt19937 rng(5);
    // Odd sizes for partial blocks; 301 rows for enough bands of 16 to split over two threads.
    const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {37, 23}, {64, 48}, {75, 301}};
    for (const auto& [w, h] : sizes) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        for (PixelFormat format : {PixelFormat32bppARGB, PixelFormat24bppRGB}) {
            auto original = RandomBitmap(format, w, h, rng);
            const auto copies = MakeReducedCopies(*original, 4);
            // Until a copy is 1 x 1.
            int expected = 0;
            while (expected < 4 && ((w - 1) >> expected > 0 || (h - 1) >> expected > 0)) ++expected;
            ASSERT_EQ(size_t(expected), copies.size());
            for (int k = 1; k <= int(copies.size()); ++k) {
                Bitmap& copy = *copies[k - 1];
                ASSERT_EQ(PixelFormat32bppPARGB, copy.GetPixelFormat());
                ASSERT_EQ(uint32_t((w + (1 << k) - 1) >> k), copy.GetWidth());
                ASSERT_EQ(uint32_t((h + (1 << k) - 1) >> k), copy.GetHeight());
                for (int32_t y = 0; y < int32_t(copy.GetHeight()); ++y)
                    for (int32_t x = 0; x < int32_t(copy.GetWidth()); ++x)
                        ASSERT_EQ(BoxAverage(*original, k, x, y), Stored(copy, x, y)) << "copy " << k << " at " << x << "," << y;
            }
        }
    }
}

TEST(ReducedCopies, NoneForOtherFormatsOrNoContent) {
    Bitmap indexed(8, 8, PixelFormat8bppIndexed), empty(0, 0, PixelFormat32bppARGB);
    EXPECT_TRUE(MakeReducedCopies(indexed, 2).empty());
    EXPECT_TRUE(MakeReducedCopies(empty, 2).empty());
}

} // namespace
