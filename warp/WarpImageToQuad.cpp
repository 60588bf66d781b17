#include "WarpImageToQuad.h"

#include "MapRow.h"
#include "imaging/ParallelRows.h"
#include "QuadMapping.h"
#include "SampleRunAvx2.h"
#include "SimdSupport.h"
#include "SourceSampler.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <optional>

namespace warp {

using namespace imaging;

int BytesPerPixel(int format) {
    switch (format) {
    case PixelFormat1bppIndexed:
    case PixelFormat4bppIndexed:
    case PixelFormat8bppIndexed: return 1;
    case PixelFormat16bppGrayScale:
    case PixelFormat16bppRGB555:
    case PixelFormat16bppRGB565:
    case PixelFormat16bppARGB1555: return 2;
    case PixelFormat24bppRGB: return 3;
    case PixelFormat32bppRGB:
    case PixelFormat32bppARGB:
    case PixelFormat32bppPARGB: return 4;
    case PixelFormat48bppRGB: return 6;
    case PixelFormat64bppARGB:
    case PixelFormat64bppPARGB: return 8;
    default: return 0;
    }
}

namespace {

struct Target {
    uint8_t* scan0;
    int32_t stride; // signed
    // The pixels rendered: the scanned box clipped to the destination and the region.
    int32_t firstColumn, firstRow, lastColumn, lastRow; // last ones excluded
};

// Rows are mapped in runs of this many pixels, then sampled.
constexpr int32_t kRun = 256;

// What renders a run, chosen once per warp.
struct Kernels {
    const MapKernels& map;
    SampleRunFunction sample; // null: SampleInto pixel by pixel
};

template <PixelFormat F>
Kernels ChooseKernels(int n) {
    constexpr int kBytes = GetPixelFormatSize(F) / 8;
    const bool vectorSampling =
        (F == PixelFormat24bppRGB || kBytes == 4) && UsableSimd() != SimdLevel::Scalar;
    return {ChosenMapKernels(), vectorSampling ? SampleRunAvx2For(kBytes, n) : nullptr};
}

// Asks the cache for the source rows a mapped run will read (every eighth pixel's two rows:
// a cache line holds several neighbouring pixels), so that the reads of the whole run are
// under way together instead of one after the other as the sampling reaches them. The
// sampling then finds most of them there: about 7% of the warp's time on a 12-megapixel
// photo. Kept inline: GCC takes a function that only prefetches for one without effect and
// drops its calls.
[[gnu::always_inline]] inline void PrefetchSource(const SourceView& source, int bitsPerPixel, const MappedRun& run,
                                                  int32_t count) {
    for (int32_t i = 0; i < count; i += 8) {
        const int64_t u = run.iu[i], v = run.iv[i];
        if (u < 0 || u >= source.width || v < 0 || v + 1 >= source.height) continue;
        const uint8_t* p = source.scan0 + v * source.stride + u * bitsPerPixel / 8;
        __builtin_prefetch(p);
        __builtin_prefetch(p + source.stride);
    }
}

template <PixelFormat F>
void RenderRows(const QuadMapping& m, const SourceView& source, const Target& target, int n,
                const Kernels& kernels, int32_t firstRow, int32_t lastRow) {
    alignas(32) int32_t iu[kRun], iv[kRun];
    alignas(32) double fx[kRun], fy[kRun];
    const MappedRun run{iu, iv, fx, fy};
    // Steep column lines of one slope cross the top and bottom edges alike from row to row.
    std::optional<ColumnMemo> memo;
    if (ColumnMemo::Pays(m) && kernels.map.lanes > 0)
        memo.emplace(target.firstColumn, target.lastColumn - target.firstColumn);
    for (int32_t y = firstRow; y < lastRow; ++y) {
        uint8_t* row = target.scan0 + int64_t(y) * target.stride;
        for (int32_t x0 = target.firstColumn; x0 < target.lastColumn; x0 += kRun) {
            const int32_t count = std::min(kRun, target.lastColumn - x0);
            kernels.map.mapRun(m, y, x0, count, run, memo ? memo->At(x0, count) : ColumnFields{}, true);
            PrefetchSource(source, GetPixelFormatSize(F), run, count);
            uint8_t* out = row + 4 * int64_t(x0);
            if (kernels.sample) {
                kernels.sample(source, run, {out, count});
                continue;
            }
            for (int32_t i = 0; i < count; ++i) SampleInto<F>(out + 4 * i, source, iu[i], iv[i], fx[i], fy[i], n);
        }
    }
}

} // namespace

void WarpImageToQuad(Bitmap* source, Bitmap* destination, const Corners& corners, int neighbourhood,
                     std::span<const Rect> regions) {
    if (source == nullptr || destination == nullptr) return;
    const PixelFormat format = source->GetPixelFormat();
    const uint32_t width = source->GetWidth();
    const uint32_t height = source->GetHeight();
    const int32_t maxX =
        std::max({corners.topLeft.X, corners.topRight.X, corners.bottomRight.X, corners.bottomLeft.X});
    const int32_t maxY =
        std::max({corners.topLeft.Y, corners.topRight.Y, corners.bottomRight.Y, corners.bottomLeft.Y});

    const Rect all{0, 0, int32_t(width), int32_t(height)};
    BitmapData in, out;
    if (source->LockBits(&all, ImageLockModeRead, format, &in) != Ok) return;
    if (destination->LockBits(&all, ImageLockModeWrite, PixelFormat32bppARGB, &out) != Ok) {
        source->UnlockBits(&in);
        return;
    }

    const QuadMapping mapping = MakeQuadMapping(corners, width, height);
    const SourceView view{static_cast<const uint8_t*>(in.Scan0), in.Stride, int64_t(width), int64_t(height),
                          source->GetPalette()};
    const int n = neighbourhood <= 1 ? 1 : 2;
    // The scanned box, clipped to the destination; in 64 bits, as a region may reach beyond
    // the 32-bit range.
    const int64_t columns = std::clamp<int32_t>(maxX, 0, int32_t(width));
    const int64_t rows = std::clamp<int32_t>(maxY, 0, int32_t(height));
    auto clip = [](int64_t value, int64_t box) { return int32_t(std::clamp<int64_t>(value, 0, box)); };
    DispatchPixelFormat(format, [&]<PixelFormat F>() {
        const Kernels kernels = ChooseKernels<F>(n);
        for (const Rect& region : regions) {
            const Target target{static_cast<uint8_t*>(out.Scan0),
                                out.Stride,
                                clip(region.X, columns),
                                clip(region.Y, rows),
                                clip(int64_t(region.X) + region.Width, columns),
                                clip(int64_t(region.Y) + region.Height, rows)};
            if (target.firstColumn >= target.lastColumn) continue;
            ParallelRows(target.lastRow - target.firstRow, [&](int32_t first, int32_t last) {
                RenderRows<F>(mapping, view, target, n, kernels, target.firstRow + first,
                              target.firstRow + last);
            });
        }
    });

    source->UnlockBits(&in);
    destination->UnlockBits(&out);
}

void WarpImageToQuad(Bitmap* source, Bitmap* destination, Point tl, Point tr, Point bl,
                     Point br, int neighbourhood) {
    // The one place where the warp's argument order meets the outline order.
    const Corners corners{.topLeft = tl, .topRight = tr, .bottomRight = br, .bottomLeft = bl};
    const Rect everything{0, 0, INT32_MAX, INT32_MAX};
    WarpImageToQuad(source, destination, corners, neighbourhood, {&everything, 1});
}

void WarpImageToQuad(Bitmap* source, Bitmap* destination, Point tl, Point tr, Point bl,
                     Point br) {
    WarpImageToQuad(source, destination, tl, tr, bl, br, 2);
}

std::unique_ptr<Bitmap> WarpToNewBitmap(Bitmap* source, const Corners& corners, int neighbourhood) {
    if (source == nullptr || !source->HasContent()) return nullptr;
    auto result = std::make_unique<Bitmap>(int32_t(source->GetWidth()), int32_t(source->GetHeight()),
                                           PixelFormat32bppARGB);
    if (!result->HasContent()) return nullptr;
    const Rect everything{0, 0, INT32_MAX, INT32_MAX};
    WarpImageToQuad(source, result.get(), corners, neighbourhood, {&everything, 1});
    return result;
}

} // namespace warp
