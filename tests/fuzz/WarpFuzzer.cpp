// Bytes as a warp: a small source of any pixel format with any content, a destination of any
// small size, corners anywhere (the 32-bit limits included) and a region. The program's quad
// warp, and where the corners allow it its perspective warp both ways (placing the source on
// them and straightening them), must give the plain implementations' bytes and write nothing
// outside the destination, rendered whole, in a region or in bands of rows. The smooth render
// of each, where its result is small, must give its oracle's bytes. The preview's render must
// stay within the source and the destination.
//
// Layout: format, source width and height, destination width and height, neighbourhood,
// region (4 bytes), then 4 bytes per corner coordinate (a kind and a value), then pixels and
// palette (repeated).

#include "FuzzImage.h"
#include "imaging/Bitmap.h"
#include "oracle/ReferenceSmooth.h"
#include "oracle/ReferenceWarp.h"
#include "warp/WarpImageToQuad.h"
#include "warp/SmoothWarp.h"
#include "warp/WarpPerspective.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace imaging;

constexpr size_t kHeader = 10, kCornerBytes = 32;
constexpr int32_t kGuard = 16;     // bytes after every destination row and after the last
constexpr uint8_t kPattern = 0xA5; // what the guards and untouched pixels hold

int32_t Coordinate(const uint8_t* b, int32_t size) {
    const int32_t value = int32_t(uint32_t(b[1]) | uint32_t(b[2]) << 8 | uint32_t(b[3]) << 16);
    switch (b[0] % 4) {
    case 0: return int32_t(int8_t(b[1])) + (b[2] % 2 ? size : 0); // near the image
    case 1: return int32_t(int16_t(b[1] | b[2] << 8));
    case 2: return int32_t(uint32_t(value) << 8 | b[0]);
    default: {
        const int32_t extremes[] = {INT32_MIN, INT32_MAX, INT32_MIN + 1, INT32_MAX - 1, 0, -1};
        return extremes[b[1] % 6];
    }
    }
}

// A 32bppARGB destination in memory of our own, with guard bytes after every row.
struct Guarded {
    int32_t width, height, stride;
    std::vector<uint8_t> memory;
    std::unique_ptr<Bitmap> bitmap;
    Guarded(int32_t w, int32_t h)
        : width(w), height(h), stride(4 * w + kGuard), memory(size_t(stride) * h + kGuard, kPattern),
          bitmap(std::make_unique<Bitmap>(w, h, stride, PixelFormat32bppARGB, memory.data())) {}
    bool GuardsIntact() const {
        for (int32_t y = 0; y < height; ++y)
            for (int32_t i = 4 * width; i < stride; ++i)
                if (memory[size_t(y) * stride + i] != kPattern) return false;
        for (size_t i = size_t(stride) * height; i < memory.size(); ++i)
            if (memory[i] != kPattern) return false;
        return true;
    }
    const uint8_t* Pixel(int32_t x, int32_t y) const { return &memory[size_t(y) * stride + 4 * x]; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeader + kCornerBytes + 1) return 0;
    const PixelFormat format = kAllPixelFormats[data[0] % std::size(kAllPixelFormats)];
    const int32_t sw = 1 + data[1] % 24, sh = 1 + data[2] % 24, dw = 1 + data[3] % 24, dh = 1 + data[4] % 24;
    const int neighbourhood = data[5] % 3;
    const Rect region{data[6] % dw, data[7] % dh, 1 + data[8] % dw, 1 + data[9] % dh};
    Point outline[4];
    for (int c = 0; c < 4; ++c) {
        outline[c].X = Coordinate(data + kHeader + 8 * c, dw);
        outline[c].Y = Coordinate(data + kHeader + 8 * c + 4, dh);
    }
    const warp::Corners corners = warp::Corners::FromOutline(outline);

    const uint8_t* pixels = data + kHeader + kCornerBytes;
    const size_t pixelBytes = size - kHeader - kCornerBytes;
    std::unique_ptr<Bitmap> source = fuzzing::ImageFromBytes(format, sw, sh, pixels, pixelBytes);

    // A render of the whole destination, and of the region alone, against the plain one.
    auto compare = [&](auto render, auto whole, auto inParts) {
        Guarded all(dw, dh), part(dw, dh), expected(dw, dh), expectedParts(dw, dh);
        const Rect everything{0, 0, INT32_MAX, INT32_MAX};
        render(warp::ResultRows::Whole(all.bitmap.get()), std::span<const Rect>(&everything, 1));
        render(warp::ResultRows::Whole(part.bitmap.get()), std::span<const Rect>(&region, 1));
        // In bands of the region's height, each a bitmap of its own: the whole render's bytes.
        for (int32_t top = 0; top < dh; top += region.Height) {
            Guarded band(dw, std::min(region.Height, dh - top));
            render(warp::ResultRows{band.bitmap.get(), top, dw, dh}, std::span<const Rect>(&everything, 1));
            if (!band.GuardsIntact()) __builtin_trap();
            for (int32_t y = 0; y < band.height; ++y)
                if (std::memcmp(band.Pixel(0, y), all.Pixel(0, top + y), 4 * size_t(dw)) != 0) __builtin_trap();
        }
        whole(expected.bitmap.get());
        inParts(expectedParts.bitmap.get());
        if (!all.GuardsIntact() || !part.GuardsIntact() || !expected.GuardsIntact()) __builtin_trap();
        for (int32_t y = 0; y < dh; ++y)
            for (int32_t x = 0; x < dw; ++x) {
                if (std::memcmp(all.Pixel(x, y), expectedParts.Pixel(x, y), 4) != 0) __builtin_trap();
                const bool inside = x >= region.X && x < region.X + region.Width && y >= region.Y &&
                                    y < region.Y + region.Height;
                const uint8_t untouched[4] = {kPattern, kPattern, kPattern, kPattern};
                if (std::memcmp(part.Pixel(x, y), inside ? expectedParts.Pixel(x, y) : untouched, 4) != 0) __builtin_trap();
            }
        return std::move(expected);
    };
    Bitmap* s = source.get();
    // The described form locks the destination at the source's size, the regions form at its own.
    Guarded described(dw, dh);
    warp::WarpImageToQuad(s, described.bitmap.get(), outline[0], outline[1], outline[3], outline[2], neighbourhood);
    const Guarded plain = compare(
        [&](const warp::ResultRows& d, std::span<const Rect> r) {
            warp::WarpImageToQuad(s, d, corners, neighbourhood, r);
        },
        [&](Bitmap* d) { oracle::ReferenceWarpImageToQuad(s, d, outline[0], outline[1], outline[3], outline[2], neighbourhood); },
        [&](Bitmap* d) {
            oracle::ReferenceWarpImageToQuad(s, d, outline[0], outline[1], outline[3], outline[2], neighbourhood, true);
        });
    if (!described.GuardsIntact() || described.memory != plain.memory) __builtin_trap();
    // The preview's cheaper mapping and sampling read only the source and write only the
    // destination (its bytes are near the warp's, not the same).
    Guarded preview(dw, dh);
    const Rect whole{0, 0, INT32_MAX, INT32_MAX};
    warp::WarpImageToQuadPreview(s, preview.bitmap.get(), corners, neighbourhood, std::span<const Rect>(&whole, 1));
    if (!preview.GuardsIntact()) __builtin_trap();
    if (const auto placed = warp::RectToQuad(sw, sh, corners)) {
        const warp::Homography inverse = placed->Inverted();
        auto reference = [&](Bitmap* d) { oracle::ReferenceWarpPerspective(s, d, inverse, neighbourhood); };
        compare([&](const warp::ResultRows& d,
                    std::span<const Rect> r) { warp::WarpPerspective(s, d, inverse, neighbourhood, r); },
                reference, reference);
    }
    if (const auto page = warp::RectToQuad(dw, dh, corners)) {
        auto reference = [&](Bitmap* d) { oracle::ReferenceWarpPerspective(s, d, *page, neighbourhood); };
        compare([&](const warp::ResultRows& d,
                    std::span<const Rect> r) { warp::WarpPerspective(s, d, *page, neighbourhood, r); },
                reference, reference);
    }
    using warp::Mapping, warp::Direction;
    for (const warp::Transform transform : {warp::Transform{.smooth = true},
                                            {.mapping = Mapping::Perspective, .smooth = true},
                                            {.direction = Direction::Straighten, .smooth = true}}) {
        const warp::TransformPlan plan = warp::PlanTransform(transform, corners, uint32_t(sw), uint32_t(sh));
        if (!plan.problem.empty() || plan.width < 1 || plan.height < 1 || plan.width * plan.height > 4096) continue;
        Guarded smooth(int32_t(plan.width), int32_t(plan.height)), expected(int32_t(plan.width), int32_t(plan.height));
        const Rect everything{0, 0, INT32_MAX, INT32_MAX};
        warp::RenderSmooth(warp::SmoothSource(*s), warp::ResultRows::Whole(smooth.bitmap.get()), plan,
                           std::span<const Rect>(&everything, 1));
        oracle::ReferenceSmooth(s, expected.bitmap.get(), plan);
        if (!smooth.GuardsIntact() || smooth.memory != expected.memory) __builtin_trap();
    }
    return 0;
}
