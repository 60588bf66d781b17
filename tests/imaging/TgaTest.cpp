// TGA files of every kind the format allows, written here from known pixels: each opens to
// them, and each cut short is refused.

#include "imaging/Bitmap.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

namespace {

using namespace imaging;
using namespace testing_support;

constexpr int kW = 7, kH = 5;
using Bgra = std::array<uint8_t, 4>;

struct Variant {
    const char* name;
    int type;       // 1 colour-mapped, 2 true colour, 3 grey; +8 run-length
    int bits;       // per pixel
    int descriptor; // alpha bits, right-to-left (0x10), top-down (0x20)
};

// The 5-bit channels of a 16-bit pixel (x, y): blue, green, red.
std::array<int, 3> FiveBits(int x, int y) { return {3 * y + x / 3, 5 + x / 3, 20 - y}; }

// The pixel (x, y) of the picture: opaque colours, for 32 bits also alpha; grey for grey
// images; few colours for colour-mapped ones; runs of equal pixels for run-length data.
// A 5-bit channel v reads as v * 255 / 31, as decoders scale it.
Bgra Truth(const Variant& v, int x, int y) {
    const int base = v.type & 7, run = x / 3;
    if (base == 2 && v.bits == 16) {
        const std::array<int, 3> c = FiveBits(x, y);
        return Bgra{uint8_t(c[0] * 255 / 31), uint8_t(c[1] * 255 / 31), uint8_t(c[2] * 255 / 31), 255};
    }
    if (base == 3)
        return Bgra{uint8_t(40 * y + 30 * run), uint8_t(40 * y + 30 * run), uint8_t(40 * y + 30 * run), 255};
    if (base == 1) return Bgra{uint8_t(60 * y), uint8_t(100 * run), 200, 255};
    return Bgra{uint8_t(50 * y + run), uint8_t(90 * run), uint8_t(7 * x),
                uint8_t(v.bits == 32 ? 60 * y + 5 : 255)};
}

// The bytes of pixel (x, y) as stored.
std::vector<uint8_t> Stored(const Variant& v, int x, int y) {
    const Bgra c = Truth(v, x, y);
    const int base = v.type & 7;
    if (base == 1) return {uint8_t(c[0] / 60 * 3 + c[1] / 100)}; // index into the map below
    if (base == 3) return {c[0]};
    if (v.bits == 16) {
        const std::array<int, 3> f = FiveBits(x, y);
        const uint16_t w = uint16_t(f[2] << 10 | f[1] << 5 | f[0] | 0x8000);
        return {uint8_t(w), uint8_t(w >> 8)};
    }
    if (v.bits == 24) return {c[0], c[1], c[2]};
    return {c[0], c[1], c[2], c[3]};
}

std::vector<uint8_t> TgaFile(const Variant& v) {
    const bool mapped = (v.type & 7) == 1, runLength = v.type > 8;
    std::vector<uint8_t> file = {3,
                                 uint8_t(mapped),
                                 uint8_t(v.type),
                                 0,
                                 0,
                                 uint8_t(mapped ? 15 : 0),
                                 0,
                                 uint8_t(mapped ? 24 : 0),
                                 0,
                                 0,
                                 0,
                                 0,
                                 kW,
                                 0,
                                 kH,
                                 0,
                                 uint8_t(v.bits),
                                 uint8_t(v.descriptor)};
    file.insert(file.end(), {'I', 'D', '!'});
    if (mapped) // entry 3 * (y) + run: blue 60 y, green 100 run, red 200
        for (int i = 0; i < 15; ++i)
            file.insert(file.end(), {uint8_t(60 * (i / 3)), uint8_t(100 * (i % 3)), 200});
    std::vector<std::vector<uint8_t>> pixels;
    for (int row = 0; row < kH; ++row)
        for (int column = 0; column < kW; ++column) {
            const int y = v.descriptor & 0x20 ? row : kH - 1 - row;
            const int x = v.descriptor & 0x10 ? kW - 1 - column : column;
            pixels.push_back(Stored(v, x, y));
        }
    for (size_t i = 0; i < pixels.size();) {
        if (!runLength) {
            file.insert(file.end(), pixels[i].begin(), pixels[i].end());
            ++i;
            continue;
        }
        // A run packet where the next pixels repeat, otherwise a raw one of a single pixel;
        // packets cross row ends, as the format allows.
        size_t n = 1;
        while (i + n < pixels.size() && n < 128 && pixels[i + n] == pixels[i]) ++n;
        file.push_back(uint8_t(n > 1 ? 0x80 | (n - 1) : 0));
        file.insert(file.end(), pixels[i].begin(), pixels[i].end());
        i += n;
    }
    return file;
}

TEST(Tga, EveryKindOpensToItsPixelsAndACutOneIsRefused) {
    const Variant variants[] = {
        {"24-bit", 2, 24, 0},
        {"24-bit, top-down", 2, 24, 0x20},
        {"24-bit, right to left", 2, 24, 0x10},
        {"24-bit, top-down right to left", 2, 24, 0x30},
        {"32-bit with alpha", 2, 32, 0x08},
        {"32-bit with alpha, top-down", 2, 32, 0x28},
        {"16-bit colour", 2, 16, 0x01},
        {"colour-mapped", 1, 8, 0},
        {"grey", 3, 8, 0},
        {"run-length 24-bit", 10, 24, 0},
        {"run-length 32-bit, top-down", 10, 32, 0x28},
        {"run-length 16-bit colour", 10, 16, 0x01},
        {"run-length colour-mapped", 9, 8, 0x20},
        {"run-length grey", 11, 8, 0},
    };
    TempDir dir;
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.name);
        const std::vector<uint8_t> bytes = TgaFile(v);
        WriteFile(dir.file("picture.tga"), bytes);
        auto bitmap = Bitmap::FromFile(dir.file("picture.tga"));
        ASSERT_TRUE(bitmap->HasContent()) << bitmap->GetLastReason();
        ASSERT_EQ(uint32_t(kW), bitmap->GetWidth());
        ASSERT_EQ(uint32_t(kH), bitmap->GetHeight());
        EXPECT_EQ(v.bits == 32 ? PixelFormat32bppARGB : PixelFormat24bppRGB, bitmap->GetPixelFormat());
        std::vector<uint8_t> expected;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const Bgra c = Truth(v, x, y);
                expected.insert(expected.end(), c.begin(), c.end());
            }
        EXPECT_EQ(expected, PixelBytes(*bitmap->Clone({0, 0, kW, kH}, PixelFormat32bppARGB)));
        for (size_t n = 1; n < bytes.size(); ++n) {
            WriteFile(dir.file("cut.tga"), std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(n)));
            ASSERT_FALSE(Bitmap::FromFile(dir.file("cut.tga"))->HasContent()) << "cut at byte " << n;
        }
    }
}

} // namespace
