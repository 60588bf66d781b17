// The warp on random sizes, every pixel format and random corners, near the 32-bit limits
// too: it must write nothing outside the source-sized area of its destination and give the
// bytes of the plain implementation.

#include "oracle/ReferenceWarp.h"
#include "imaging/Bitmap.h"
#include "warp/WarpImageToQuad.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace imaging;

// Reads the input front to back; zeros once it runs out.
struct Input {
    const uint8_t* data;
    size_t size, at = 0;
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    int32_t Int32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
        return int32_t(v);
    }
    // A corner coordinate: mostly near the image, sometimes anywhere in 32 bits.
    int32_t Coordinate(int32_t extent) {
        const uint8_t kind = Byte();
        if (kind < 200) return int32_t(kind) - 40 + (extent * (kind % 3)) / 2;
        if (kind < 230) return Int32();
        return kind & 1 ? INT32_MAX - (kind & 15) : INT32_MIN + (kind & 15);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    const int32_t w = 1 + in.Byte() % 48, h = 1 + in.Byte() % 48;
    const PixelFormat format = kAllPixelFormats[in.Byte() % std::size(kAllPixelFormats)];
    const int n = int(in.Byte() % 5) - 1;
    Point c[4];
    for (Point& p : c) p = {in.Coordinate(w), in.Coordinate(h)};

    Bitmap source(w, h, format);
    BitmapData locked;
    source.LockBits(nullptr, ImageLockModeWrite, format, &locked);
    const size_t rowBytes = (size_t(w) * GetPixelFormatSize(format) + 7) / 8;
    for (int32_t y = 0; y < h; ++y)
        for (size_t i = 0; i < rowBytes; ++i) static_cast<uint8_t*>(locked.Scan0)[y * locked.Stride + i] = in.Byte();
    source.UnlockBits(&locked);
    if (IsIndexedPixelFormat(format)) {
        uint32_t palette[256];
        for (uint32_t& e : palette) e = uint32_t(in.Int32());
        source.SetPalette(palette, PaletteSizeOf(format));
    }

    // A destination with a margin of marked pixels right and below the area the warp may use.
    constexpr int32_t kMargin = 5;
    Bitmap actual(w + kMargin, h + kMargin, PixelFormat32bppARGB), expected(w, h, PixelFormat32bppARGB);
    for (Bitmap* b : {&actual, &expected}) {
        BitmapData d;
        b->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &d);
        for (uint32_t y = 0; y < d.Height; ++y) std::memset(static_cast<uint8_t*>(d.Scan0) + y * d.Stride, 0xA5, d.Width * 4);
        b->UnlockBits(&d);
    }
    warp::WarpImageToQuad(&source, &actual, c[0], c[1], c[2], c[3], n);
    oracle::ReferenceWarpImageToQuad(&source, &expected, c[0], c[1], c[2], c[3], n);

    BitmapData a, e;
    actual.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &a);
    expected.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &e);
    for (int32_t y = 0; y < h + kMargin; ++y) {
        const uint8_t* row = static_cast<uint8_t*>(a.Scan0) + y * a.Stride;
        for (int32_t x = 0; x < w + kMargin; ++x) {
            const uint8_t* px = row + 4 * x;
            if (x >= w || y >= h) {
                for (int k = 0; k < 4; ++k)
                    if (px[k] != 0xA5) __builtin_trap(); // written outside the area
            } else if (std::memcmp(px, static_cast<uint8_t*>(e.Scan0) + y * e.Stride + 4 * x, 4) != 0) {
                __builtin_trap(); // differs from the plain implementation
            }
        }
    }
    actual.UnlockBits(&a);
    expected.UnlockBits(&e);
    return 0;
}
