#pragma once
// Internal to the warp: the render loop both mappings share. Rows are split over all cores;
// each row is mapped in runs of kRun pixels (a source index and fraction per pixel), then
// sampled with the kernel chosen once for the source's format.

#include "MappedRun.h"
#include "PreviewSampleAvx2.h"
#include "ResultRows.h"
#include "SampleRunAvx2.h"
#include "SimdSupport.h"
#include "SourceSampler.h"
#include "imaging/Bitmap.h"
#include "imaging/ParallelRows.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <optional>
#include <span>

namespace warp {

constexpr int32_t kRun = 256;

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

// How a render samples: as the warp does, or as a picture that need only look right may
// (PreviewSampleAvx2.h; where the processor has no AVX2, as the warp does).
enum class Sampling { Exact, Preview };

// Sets `count` pixels to `value`, four at a time (plain code is not vectorized at -O2).
inline void FillPixels(uint32_t* pixels, int32_t count, uint32_t value) {
    const __m128i four = _mm_set1_epi32(int32_t(value));
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + i), four);
    for (; i < count; ++i) pixels[i] = value;
}

// The `count` pixels from `pixels` as they show over the opaque `background` (0xAARRGGBB, as
// the pixels are stored): those that are not opaque blended, in place. `premultiplied`: their
// colours are premultiplied by their alpha.
inline void BlendOverBackground(uint32_t* pixels, int32_t count, uint32_t background, bool premultiplied) {
    auto blend = [&](uint32_t& pixel) {
        const uint32_t p = pixel, a = p >> 24;
        if (a == 255) return;
        uint32_t blended = 0xFF000000u;
        for (int shift = 0; shift < 24; shift += 8) {
            const uint32_t c = p >> shift & 0xFF, under = (background >> shift & 0xFF) * (255 - a);
            const uint32_t sum = (premultiplied ? c * 255 : c * a) + under;
            blended |= std::min<uint32_t>((sum + 127) / 255, 255) << shift;
        }
        pixel = blended;
    };
    // Nearly all are opaque: looked at eight at a time.
    const __m128i colours = _mm_set1_epi32(0x00FFFFFF), opaque = _mm_set1_epi32(-1);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i both = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + i)),
                                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + i + 4)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_or_si128(both, colours), opaque)) == 0xFFFF) continue;
        for (int j = 0; j < 8; ++j) blend(pixels[i + j]);
    }
    for (; i < count; ++i) blend(pixels[i]);
}

// The source's halved copies a preview reads where it is shrunk (PreviewSampleAvx2.h), locked
// for as long as this lives; the first that is not 32bppPARGB or cannot be locked ends them.
class LockedCopies {
public:
    explicit LockedCopies(std::span<imaging::Bitmap* const> copies) {
        for (imaging::Bitmap* copy : copies.first(std::min(copies.size(), m_data.size()))) {
            imaging::BitmapData& data = m_data[m_count];
            if (copy == nullptr || copy->GetPixelFormat() != imaging::PixelFormat32bppPARGB ||
                copy->LockBits(nullptr, imaging::ImageLockModeRead, imaging::PixelFormat32bppPARGB, &data) !=
                    imaging::Ok)
                break;
            m_copies[m_count] = copy;
            m_views[m_count++] = {static_cast<const uint8_t*>(data.Scan0), data.Stride, data.Width,
                                  data.Height, nullptr};
        }
    }
    ~LockedCopies() {
        for (size_t i = 0; i < m_count; ++i) m_copies[i]->UnlockBits(&m_data[i]);
    }
    LockedCopies(const LockedCopies&) = delete;
    LockedCopies& operator=(const LockedCopies&) = delete;
    std::span<const SourceView> Views() const { return {m_views.data(), m_count}; }

private:
    std::array<imaging::Bitmap*, 4> m_copies{};
    std::array<imaging::BitmapData, 4> m_data{};
    std::array<SourceView, 4> m_views{};
    size_t m_count = 0;
};

// Renders the pixels of `regions` inside result columns [0, columns) and rows [0, rows) that
// `destination` holds; the source is locked whole in its own format. `makeMapper()` gives
// each thread a callable map(y, x0, count, run) that maps result pixels (x0 + i, y),
// i < count, into `run`, culled as Cull::Unseen allows. A preview reads `coarser` copies of
// the source where it is shrunk, along the rows or, for a mapper that tells it with
// AcrossRows(x0, count, across) after mapping a run (InterpolatedRows, the perspective
// warp's), from row to row. With a `background`, every pixel of the regions that the
// destination holds is written: the render over that opaque colour. Nothing happens when a
// lock fails.
template <class MakeMapper>
void RenderRegions(imaging::Bitmap* source, const ResultRows& destination, int64_t columns, int64_t rows,
                   int neighbourhood, std::span<const imaging::Rect> regions, MakeMapper makeMapper,
                   Sampling sampling = Sampling::Exact, std::span<imaging::Bitmap* const> coarser = {},
                   std::optional<uint32_t> background = std::nullopt) {
    using namespace imaging;
    const PixelFormat format = source->GetPixelFormat();
    const uint32_t width = source->GetWidth(), height = source->GetHeight();
    const Rect all{0, 0, int32_t(width), int32_t(height)};
    BitmapData in, out;
    if (source->LockBits(&all, ImageLockModeRead, format, &in) != Ok) return;
    const Rect held{0, 0, int32_t(destination.bitmap->GetWidth()), int32_t(destination.bitmap->GetHeight())};
    if (destination.bitmap->LockBits(&held, ImageLockModeWrite, PixelFormat32bppARGB, &out) != Ok) {
        source->UnlockBits(&in);
        return;
    }
    const SourceView view{static_cast<const uint8_t*>(in.Scan0), in.Stride, int64_t(width), int64_t(height),
                          source->GetPalette()};
    const int n = neighbourhood <= 1 ? 1 : 2;
    uint8_t* const scan0 = static_cast<uint8_t*>(out.Scan0);
    const int32_t stride = out.Stride;
    // In 64 bits: a region may reach beyond the 32-bit range.
    auto clip = [](int64_t value, int64_t low, int64_t high) {
        return int32_t(std::clamp<int64_t>(value, low, high));
    };
    // Only what the destination holds.
    const int64_t right = std::min<int64_t>(columns, held.Width);
    const int64_t top = std::clamp<int64_t>(destination.firstRow, 0, rows);
    const int64_t bottom = std::clamp<int64_t>(destination.firstRow + held.Height, top, rows);
    DispatchPixelFormat(format, [&]<PixelFormat F>() {
        constexpr int kBytes = GetPixelFormatSize(F) / 8;
        const bool vectorSampling = (F == PixelFormat24bppRGB || kBytes == 4) && UsableSimd() != SimdLevel::Scalar;
        const SampleRunFunction sample = vectorSampling ? SampleRunAvx2For(kBytes, n) : nullptr;
        const PreviewSampleRunFunction preview = vectorSampling && sampling == Sampling::Preview && n == 2
                                                     ? PreviewSampleRunAvx2For(kBytes)
                                                     : nullptr;
        // Averages of a source with alpha are premultiplied: only its own kind may be mixed in.
        const bool mixes = preview && (F == PixelFormat24bppRGB || F == PixelFormat32bppPARGB);
        const LockedCopies copies(mixes ? coarser : std::span<Bitmap* const>{});
        using Mapper = decltype(makeMapper(0, 0));
        constexpr int32_t kBand = [] {
            if constexpr (requires { Mapper::kStep; }) return Mapper::kStep;
            return 1;
        }();
        for (const Rect& region : regions) {
            const int32_t firstColumn = clip(region.X, 0, right);
            const int32_t lastColumn = clip(int64_t(region.X) + region.Width, 0, right);
            const int32_t firstRow = clip(region.Y, top, bottom);
            const int32_t lastRow = clip(int64_t(region.Y) + region.Height, top, bottom);
            // The rows and columns written: those rendered, or with a background all held.
            const int64_t heldTop = destination.firstRow, heldBottom = heldTop + held.Height;
            const int32_t fromColumn = background ? clip(region.X, 0, held.Width) : firstColumn;
            const int32_t toColumn =
                background ? clip(int64_t(region.X) + region.Width, 0, held.Width) : lastColumn;
            const int32_t fromRow = background ? clip(region.Y, heldTop, heldBottom) : firstRow;
            const int32_t toRow =
                background ? clip(int64_t(region.Y) + region.Height, heldTop, heldBottom) : lastRow;
            if (fromColumn >= toColumn || fromRow >= toRow) continue;
            auto renderRows = [&](int32_t first, int32_t last) {
                alignas(64) int32_t iu[kRun], iv[kRun];
                alignas(64) double fx[kRun], fy[kRun];
                alignas(32) float across[kRun / 8];
                const MappedRun run{iu, iv, fx, fy};
                auto map = makeMapper(firstColumn, lastColumn);
                // The step from row to row only matters where there are copies to read.
                constexpr bool kKnowsAcross = requires { map.AcrossRows(0, 0, across); };
                const bool wantsAcross = kKnowsAcross && !copies.Views().empty();
                for (int32_t y = fromRow + first; y < fromRow + last; ++y) {
                    uint8_t* row = scan0 + (y - destination.firstRow) * stride;
                    if (background)
                        FillPixels(reinterpret_cast<uint32_t*>(row) + fromColumn, toColumn - fromColumn,
                                   *background);
                    if (y < firstRow || y >= lastRow) continue;
                    for (int32_t x0 = firstColumn; x0 < lastColumn; x0 += kRun) {
                        const int32_t count = std::min(kRun, lastColumn - x0);
                        map(y, x0, count, run);
                        // A preview reads shrunk parts from the copies, and the rest the
                        // prefetcher finds: asking ahead only cost it time.
                        if (!preview) PrefetchSource(view, GetPixelFormatSize(F), run, count);
                        uint8_t* pixels = row + 4 * int64_t(x0);
                        if (preview) {
                            if constexpr (kKnowsAcross)
                                if (wantsAcross) map.AcrossRows(x0, count, across);
                            preview(view, copies.Views(), run, {pixels, count}, wantsAcross ? across : nullptr);
                        } else if (sample) {
                            sample(view, run, {pixels, count});
                        } else {
                            for (int32_t i = 0; i < count; ++i)
                                SampleInto<F>(pixels + 4 * i, view, iu[i], iv[i], fx[i], fy[i], n);
                        }
                        // Premultiplied where the source is; the copies mixed into a 24-bit one are opaque.
                        if (background)
                            BlendOverBackground(reinterpret_cast<uint32_t*>(pixels), count, *background,
                                                F == PixelFormat32bppPARGB);
                    }
                }
            };
            // A mapper that maps rows in bands (InterpolatedRows) gets whole bands: a thread
            // that started inside one would map the band's exact rows again.
            const int32_t before = (fromRow % kBand + kBand) % kBand; // rows of the first band above fromRow
            ParallelRows(
                toRow - fromRow + before,
                [&](int32_t a, int32_t b) { renderRows(std::max(a - before, 0), b - before); }, kBand);
        }
    });
    source->UnlockBits(&in);
    destination.bitmap->UnlockBits(&out);
}

} // namespace warp
