#include "RgbRows.h"

#include "ParallelRows.h"
#include "PixelCodec.h"
#include "QtBridge.h"

#include <atomic>

namespace imaging {

namespace {

template <PixelFormat F, bool Alpha>
void ReadRow(const uint8_t* row, int32_t width, const uint32_t* palette, uint8_t* out) {
    constexpr int kOut = Alpha ? 4 : 3;
    if constexpr (F == PixelFormat32bppARGB || F == PixelFormat32bppRGB || F == PixelFormat24bppRGB) {
        // The common results: a plain byte shuffle the compiler vectorises.
        constexpr int kIn = F == PixelFormat24bppRGB ? 3 : 4;
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* p = row + kIn * x;
            uint8_t* q = out + kOut * x;
            q[0] = p[2];
            q[1] = p[1];
            q[2] = p[0];
            if constexpr (Alpha) q[3] = F == PixelFormat32bppARGB ? p[3] : 255;
        }
    } else {
        for (int32_t x = 0; x < width; ++x) {
            const Bgra c = ReadTrueColor<F>(row, x, palette);
            uint8_t* q = out + kOut * x;
            q[0] = c.R;
            q[1] = c.G;
            q[2] = c.B;
            if constexpr (Alpha) q[3] = c.A;
        }
    }
}

bool FormatHasAlpha(PixelFormat format) {
    return IsIndexedPixelFormat(format) || IsAlphaPixelFormat(format);
}

} // namespace

RgbRowReader RgbRowReaderFor(PixelFormat format, bool alpha) {
    RgbRowReader reader = nullptr;
    DispatchPixelFormat(format, [&]<PixelFormat F>() {
        reader = alpha ? &ReadRow<F, true> : &ReadRow<F, false>;
    });
    return reader;
}

bool HasTranslucentPixel(const Image& image) {
    const PixelFormat format = image.GetPixelFormat();
    if (!image.HasContent() || !FormatHasAlpha(format)) return false;
    const uint8_t* scan0 = ImageAccess::Scan0(image);
    const int32_t stride = ImageAccess::Stride(image);
    const int32_t width = int32_t(image.GetWidth());
    if (format == PixelFormat32bppARGB || format == PixelFormat32bppPARGB) {
        // Most results are transparent around the quad and this answers at the first row; an
        // opaque one is read whole, on every core.
        std::atomic<bool> found{false};
        ParallelRows(int32_t(image.GetHeight()), [&](int32_t first, int32_t last) {
            for (int32_t y = first; y < last && !found.load(std::memory_order_relaxed); ++y) {
                const uint8_t* row = scan0 + int64_t(y) * stride;
                uint8_t all = 255;
                for (int32_t x = 0; x < width; ++x) all &= row[4 * x + 3];
                if (all != 255) found = true;
            }
        });
        return found;
    }
    const uint32_t* palette = image.GetPalette();
    if (IsIndexedPixelFormat(format)) {
        // Only the entries a pixel uses count; checking the palette first saves the scan.
        bool any = false;
        for (int i = 0; i < PaletteSizeOf(format); ++i) any |= (palette[i] >> 24) != 255;
        if (!any) return false;
    }
    bool found = false;
    DispatchPixelFormat(format, [&]<PixelFormat F>() {
        for (uint32_t y = 0; y < image.GetHeight() && !found; ++y) {
            const uint8_t* row = scan0 + int64_t(y) * stride;
            for (int32_t x = 0; x < width && !found; ++x) found = ReadTrueColor<F>(row, x, palette).A != 255;
        }
    });
    return found;
}

bool HasTranslucentPixel(RowSource& source, uint8_t* buffer, int32_t rows, int64_t limit) {
    const int32_t width = int32_t(source.Width());
    const int32_t height = int32_t(std::min<int64_t>(source.Height(), limit));
    // Small bands first, where such a pixel mostly is (a warp's transparent margins), then
    // growing ones, so that an opaque picture costs few renders.
    int32_t count = std::min(rows, 16);
    for (int32_t top = 0; top < height; top += count, count = std::min(rows, count * 2)) {
        Bitmap band(width, std::min(count, height - top), width * 4, PixelFormat32bppARGB, buffer);
        source.Render(band, uint32_t(top));
        if (HasTranslucentPixel(band)) return true;
    }
    return false;
}

} // namespace imaging
