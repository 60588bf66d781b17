#include "imaging/Bitmap.h"
#include "imaging/PixelCodec.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using namespace imaging;
using namespace testing_support;

TEST(Bitmap, EveryFormatIsCreatedZeroFilledWithWordAlignedRows) {
    for (PixelFormat format : kAllPixelFormats) {
        SCOPED_TRACE(testing::Message() << std::hex << format);
        Bitmap bitmap(13, 5, format);
        ASSERT_TRUE(bitmap.HasContent());
        BitmapData data;
        ASSERT_EQ(Ok, bitmap.LockBits(nullptr, ImageLockModeRead, format, &data));
        EXPECT_EQ(0, data.Stride % 4);
        EXPECT_GE(data.Stride * 8, 13 * GetPixelFormatSize(format));
        bitmap.UnlockBits(&data);
        for (uint8_t b : PixelBytes(bitmap)) ASSERT_EQ(0, b);
        EXPECT_EQ(IsIndexedPixelFormat(format), bitmap.GetPalette() != nullptr);
    }
}

TEST(Bitmap, FailedCreationLeavesNoContentAndEveryOperationFails) {
    const struct { int32_t w, h; PixelFormat f; Status why; } bad[] = {
        {0, 10, PixelFormat24bppRGB, InvalidParameter},
        {10, -1, PixelFormat24bppRGB, InvalidParameter},
        {10, 10, 0x12345, InvalidParameter},
        {70000, 2, PixelFormat24bppRGB, ValueOverflow},
        {30000, 30000, PixelFormat8bppIndexed, ValueOverflow},
    };
    for (const auto& c : bad) {
        Bitmap bitmap(c.w, c.h, c.f);
        EXPECT_FALSE(bitmap.HasContent());
        EXPECT_EQ(0u, bitmap.GetWidth());
        EXPECT_EQ(0u, bitmap.GetHeight());
        EXPECT_EQ(c.why, bitmap.GetLastStatus());
        EXPECT_FALSE(bitmap.GetLastReason().empty());
        BitmapData data;
        EXPECT_NE(Ok, bitmap.LockBits(nullptr, ImageLockModeRead, c.f, &data));
        EXPECT_EQ(nullptr, bitmap.Clone({0, 0, 1, 1}, PixelFormat32bppARGB));
        EXPECT_EQ(nullptr, bitmap.GetPalette());
    }
    uint8_t memory[16] = {};
    EXPECT_FALSE(Bitmap(3, 2, 8, PixelFormat32bppARGB, memory).HasContent()); // stride below the row
}

TEST(Bitmap, LockingRules) {
    Bitmap bitmap(8, 6, PixelFormat24bppRGB);
    BitmapData data, second;
    const Rect outside{4, 4, 5, 2};
    EXPECT_EQ(InvalidParameter, bitmap.LockBits(&outside, ImageLockModeRead, PixelFormat24bppRGB, &data));
    EXPECT_EQ(WrongState, bitmap.UnlockBits(&data));
    EXPECT_EQ(NotImplemented, bitmap.LockBits(nullptr, ImageLockModeRead, PixelFormat16bppRGB565, &data));
    ASSERT_EQ(Ok, bitmap.LockBits(nullptr, ImageLockModeRead, PixelFormat24bppRGB, &data));
    EXPECT_EQ(WrongState, bitmap.LockBits(nullptr, ImageLockModeRead, PixelFormat24bppRGB, &second));
    EXPECT_EQ(Ok, bitmap.UnlockBits(&data));

    // A partial lock in the own format points into the bitmap's memory.
    BitmapData whole;
    ASSERT_EQ(Ok, bitmap.LockBits(nullptr, ImageLockModeRead, PixelFormat24bppRGB, &whole));
    uint8_t* base = static_cast<uint8_t*>(whole.Scan0);
    const int32_t stride = whole.Stride;
    bitmap.UnlockBits(&whole);
    const Rect part{2, 3, 4, 2};
    ASSERT_EQ(Ok, bitmap.LockBits(&part, ImageLockModeWrite, PixelFormat24bppRGB, &data));
    EXPECT_EQ(base + 3 * stride + 2 * 3, data.Scan0);
    EXPECT_EQ(4u, data.Width);
    EXPECT_EQ(2u, data.Height);
    static_cast<uint8_t*>(data.Scan0)[0] = 0xAB;
    bitmap.UnlockBits(&data);
    EXPECT_EQ(0xAB, PixelBytes(bitmap)[3 * 8 * 3 + 2 * 3]);
}

// Raw pixel bytes of a format and the true colour (B, G, R, A) they stand for.
struct ColourCase {
    PixelFormat format;
    std::vector<uint8_t> raw;
    Bgra colour;
};

TEST(Bitmap, ConvertedLockAndCloneGiveTrueColour) {
    const ColourCase cases[] = {
        {PixelFormat16bppGrayScale, {0x34, 0xC8}, {0xC8, 0xC8, 0xC8, 255}},
        {PixelFormat16bppRGB555, {0x1F, 0x7C}, {0xFF, 0x00, 0xFF, 255}},   // r 31 g 0 b 31
        {PixelFormat16bppRGB555, {0x10, 0x80}, {0x84, 0x00, 0x00, 255}},   // b 16; bit 15 ignored
        {PixelFormat16bppRGB565, {0x00, 0xF8}, {0x00, 0x00, 0xFF, 255}},
        {PixelFormat16bppRGB565, {0xE0, 0x07}, {0x00, 0xFF, 0x00, 255}},
        {PixelFormat16bppRGB565, {0x20, 0x00}, {0x00, 0x04, 0x00, 255}},   // g 1 of 63
        {PixelFormat16bppARGB1555, {0x00, 0x7C}, {0x00, 0x00, 0xFF, 0}},
        {PixelFormat16bppARGB1555, {0x00, 0xFC}, {0x00, 0x00, 0xFF, 255}},
        {PixelFormat24bppRGB, {1, 2, 3}, {1, 2, 3, 255}},
        {PixelFormat32bppRGB, {1, 2, 3, 0}, {1, 2, 3, 255}},               // fourth byte ignored
        {PixelFormat32bppARGB, {1, 2, 3, 4}, {1, 2, 3, 4}},
        {PixelFormat32bppPARGB, {64, 32, 128, 128}, {128, 64, 255, 128}},
        {PixelFormat32bppPARGB, {9, 9, 9, 0}, {0, 0, 0, 0}},
        {PixelFormat48bppRGB, {0xFF, 0x10, 0x00, 0x20, 0x99, 0xFE}, {0x10, 0x20, 0xFE, 255}},
        {PixelFormat64bppARGB, {0, 1, 0, 2, 0, 3, 0xFF, 0x80}, {1, 2, 3, 0x80}},
        {PixelFormat64bppPARGB, {0, 0x40, 0, 0x20, 0, 0x80, 0, 0x80}, {0x80, 0x40, 0xFF, 0x80}},
    };
    for (const ColourCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.format);
        Bitmap bitmap(2, 1, c.format);
        BitmapData data;
        ASSERT_EQ(Ok, bitmap.LockBits(nullptr, ImageLockModeWrite, c.format, &data));
        std::memcpy(static_cast<uint8_t*>(data.Scan0) + c.raw.size(), c.raw.data(), c.raw.size());
        bitmap.UnlockBits(&data);

        ASSERT_EQ(Ok, bitmap.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &data));
        const uint8_t* p = static_cast<uint8_t*>(data.Scan0) + 4;
        EXPECT_EQ(c.colour, (Bgra{p[0], p[1], p[2], p[3]}));
        bitmap.UnlockBits(&data);

        std::unique_ptr<Bitmap> clone(bitmap.Clone({1, 0, 1, 1}, PixelFormat32bppARGB));
        ASSERT_TRUE(clone);
        EXPECT_EQ(PixelFormat32bppARGB, clone->GetPixelFormat());
        const auto bytes = PixelBytes(*clone);
        EXPECT_EQ(c.colour, (Bgra{bytes[0], bytes[1], bytes[2], bytes[3]}));
    }
}

TEST(Bitmap, IndexedFormatsReadThroughTheirPalette) {
    const uint32_t palette[4] = {0xFF000000, 0x80112233, 0xFFAABBCC, 0x00FFFFFF};
    // Index 1 at pixel 3 of each format: bit 4 of byte 0, low nibble of byte 1, byte 3.
    const struct { PixelFormat format; int byte; uint8_t value; } cases[] = {
        {PixelFormat1bppIndexed, 0, 0x10},
        {PixelFormat4bppIndexed, 1, 0x01},
        {PixelFormat8bppIndexed, 3, 0x01},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.format);
        Bitmap bitmap(6, 2, c.format);
        ASSERT_EQ(Ok, bitmap.SetPalette(palette, c.format == PixelFormat1bppIndexed ? 2 : 4));
        BitmapData data;
        bitmap.LockBits(nullptr, ImageLockModeWrite, c.format, &data);
        static_cast<uint8_t*>(data.Scan0)[c.byte] = c.value;
        bitmap.UnlockBits(&data);
        std::unique_ptr<Bitmap> argb(bitmap.Clone({0, 0, 6, 2}, PixelFormat32bppARGB));
        ASSERT_TRUE(argb);
        EXPECT_EQ((std::array<uint8_t, 4>{0x33, 0x22, 0x11, 0x80}), PixelAt(*argb, 3, 0));
        EXPECT_EQ((std::array<uint8_t, 4>{0, 0, 0, 0xFF}), PixelAt(*argb, 2, 0));
        // A copy in the own format keeps indices and palette; a sub-byte area is realigned.
        std::unique_ptr<Bitmap> same(bitmap.Clone({3, 0, 3, 2}, c.format));
        ASSERT_TRUE(same);
        std::unique_ptr<Bitmap> sameArgb(same->Clone({0, 0, 3, 2}, PixelFormat32bppARGB));
        EXPECT_EQ((std::array<uint8_t, 4>{0x33, 0x22, 0x11, 0x80}), PixelAt(*sameArgb, 0, 0));
    }
    Bitmap rgb(2, 2, PixelFormat24bppRGB);
    EXPECT_EQ(InvalidParameter, rgb.SetPalette(palette, 2));
    Bitmap mono(2, 2, PixelFormat1bppIndexed);
    EXPECT_EQ(InvalidParameter, mono.SetPalette(palette, 3));
    EXPECT_EQ(0xFF000000u, mono.GetPalette()[0]); // black and white by default
    EXPECT_EQ(0xFFFFFFFFu, mono.GetPalette()[1]);
}

TEST(Bitmap, CloneInOwnFormatIsByteExact) {
    std::mt19937 rng(21);
    for (PixelFormat format : kAllPixelFormats) {
        SCOPED_TRACE(testing::Message() << std::hex << format);
        auto bitmap = RandomBitmap(format, 19, 7, rng);
        std::unique_ptr<Bitmap> copy(bitmap->Clone({0, 0, 19, 7}, format));
        ASSERT_TRUE(copy);
        EXPECT_EQ(PixelBytes(*bitmap), PixelBytes(*copy));
        if (IsIndexedPixelFormat(format)) {
            EXPECT_EQ(0, std::memcmp(bitmap->GetPalette(), copy->GetPalette(), 4 * PaletteSizeOf(format)));
        }
    }
    Bitmap bitmap(4, 4, PixelFormat24bppRGB);
    EXPECT_EQ(nullptr, bitmap.Clone({2, 2, 3, 1}, PixelFormat24bppRGB));
    EXPECT_EQ(InvalidParameter, bitmap.GetLastStatus());
    EXPECT_EQ(nullptr, bitmap.Clone({0, 0, 4, 4}, PixelFormat16bppRGB565));
    EXPECT_EQ(NotImplemented, bitmap.GetLastStatus());
}

TEST(Bitmap, ConvertedWriteLockWritesBackOnUnlock) {
    for (PixelFormat format : {PixelFormat24bppRGB, PixelFormat16bppRGB565, PixelFormat32bppPARGB,
                               PixelFormat64bppARGB}) {
        SCOPED_TRACE(testing::Message() << std::hex << format);
        Bitmap bitmap(3, 2, format);
        BitmapData data;
        ASSERT_EQ(Ok, bitmap.LockBits(nullptr, ImageLockModeRead | ImageLockModeWrite, PixelFormat32bppARGB, &data));
        uint8_t* p = static_cast<uint8_t*>(data.Scan0) + data.Stride + 4; // pixel (1, 1)
        p[0] = 0, p[1] = 0xFF, p[2] = 0xFF, p[3] = 0xFF;                  // opaque yellow
        bitmap.UnlockBits(&data);
        std::unique_ptr<Bitmap> argb(bitmap.Clone({0, 0, 3, 2}, PixelFormat32bppARGB));
        EXPECT_EQ((std::array<uint8_t, 4>{0, 0xFF, 0xFF, 0xFF}), PixelAt(*argb, 1, 1));
        EXPECT_EQ(0, PixelAt(*argb, 0, 1)[1]); // the rest stays black
    }
    Bitmap indexed(3, 2, PixelFormat8bppIndexed);
    BitmapData data;
    EXPECT_EQ(NotImplemented, indexed.LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &data));
}

} // namespace
