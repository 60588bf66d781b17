#include "ReducedCopies.h"

#include "PixelCodec.h"
#include "QtBridge.h"
#include "ReducedCopiesAvx2.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

namespace imaging {

namespace {

// AVX2 where the processor has it, unless VERLUME_NO_SIMD=1 asks for the baseline loops
// (as it does of the warp's kernels).
bool UseAvx2() {
    static const bool use = [] {
        const char* off = std::getenv("VERLUME_NO_SIMD");
        return __builtin_cpu_supports("avx2") && !(off && std::strcmp(off, "1") == 0);
    }();
    return use;
}

struct Level {
    uint8_t* scan0;
    int64_t stride;
    int32_t width, height;
};

// Premultiplied channels of two pixels, eight 16-bit lanes B G R A B G R A, as Premultiply8
// rounds them: (x + 128 + ((x + 128) >> 8)) >> 8 is x / 255 rounded for x up to 255 * 255.
inline __m128i Premultiplied(__m128i pixels) {
    __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(pixels, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(3, 3, 3, 3));
    const __m128i alphaLanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
    alpha = _mm_or_si128(_mm_andnot_si128(alphaLanes, alpha), _mm_and_si128(alphaLanes, _mm_set1_epi16(255)));
    const __m128i x = _mm_add_epi16(_mm_mullo_epi16(pixels, alpha), _mm_set1_epi16(128));
    return _mm_srli_epi16(_mm_add_epi16(x, _mm_srli_epi16(x, 8)), 8);
}

// Two blocks' sums from four pixels' channels: v0 holds pixels 0 and 1, v1 pixels 2 and 3.
inline __m128i PairSums(__m128i v0, __m128i v1) {
    return _mm_add_epi16(_mm_unpacklo_epi64(v0, v1), _mm_unpackhi_epi64(v0, v1));
}

// The copies for the original's rows [first, first + 2^levels), from their exact sums: each
// level's sums are the 2 x 2 sums of the level before, so no rounding builds up from level to
// level. A block of up to 256 bytes sums to at most 65280: 16 bits hold it.
class Band {
public:
    Band(int32_t width, int levels) : m_levels(levels), m_avx2(UseAvx2()) {
        for (int k = 1; k <= levels; ++k) {
            // Rows of whole pairs of pixels and one pixel more, so that the level above reads
            // its blocks two at a time; the pixels beyond the copy's width stay 0.
            m_stride[k] = ((((width + (1 << k) - 1) >> k) + 1) / 2 * 2 + 2) * 4;
            m_sums[k].assign(size_t(m_stride[k]) << (levels - k), 0);
        }
    }

    void Run(const uint8_t* scan0, int64_t stride, int32_t width, int32_t height, int32_t first, bool opaqueRgb,
             const std::vector<Level>& out) {
        const int32_t rows = std::min(1 << m_levels, height - first);
        for (int k = 1; k <= m_levels; ++k) std::fill(m_sums[k].begin(), m_sums[k].end(), 0);
        if (opaqueRgb)
            SumFirstLevelRgb(scan0, stride, width, first, rows);
        else
            SumFirstLevel(scan0, stride, width, first, rows);
        for (int k = 2; k <= m_levels; ++k) {
            const int32_t w = out[k - 1].width;
            const int32_t lowerRows = (rows + (1 << (k - 1)) - 1) >> (k - 1);
            for (int32_t r = 0; r < lowerRows; r += 2) {
                const uint16_t* a = m_sums[k - 1].data() + size_t(r) * m_stride[k - 1];
                const uint16_t* b = r + 1 < lowerRows ? a + m_stride[k - 1] : nullptr;
                uint16_t* sum = m_sums[k].data() + size_t(r >> 1) * m_stride[k];
                for (int32_t x = 0; x < w; x += 2) {
                    auto load = [](const uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
                    __m128i v0 = load(a + 8 * x), v1 = load(a + 8 * x + 8);
                    if (b) {
                        v0 = _mm_add_epi16(v0, load(b + 8 * x));
                        v1 = _mm_add_epi16(v1, load(b + 8 * x + 8));
                    }
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(sum + 4 * x), PairSums(v0, v1));
                }
            }
        }
        // Each level's bytes: its sums over the number of original pixels in the block.
        for (int k = 1; k <= m_levels; ++k) {
            const Level& level = out[k - 1];
            const int32_t side = 1 << k, y0 = first >> k;
            const int32_t levelRows = (rows + side - 1) >> k;
            for (int32_t r = 0; r < levelRows; ++r) {
                const int32_t blockRows = std::min(side, height - (y0 + r) * side);
                const uint16_t* sum = m_sums[k].data() + size_t(r) * m_stride[k];
                uint8_t* dst = level.scan0 + (y0 + r) * level.stride;
                // Whole blocks: a shift rounds as the division does.
                int32_t x = 0;
                if (blockRows == side) {
                    const __m128i half = _mm_set1_epi16(int16_t(1 << (2 * k - 1)));
                    const __m128i shift = _mm_cvtsi32_si128(2 * k);
                    for (; x + 2 <= (width >> k); x += 2) {
                        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sum + 4 * x));
                        const __m128i bytes = _mm_srl_epi16(_mm_add_epi16(v, half), shift);
                        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 4 * x), _mm_packus_epi16(bytes, bytes));
                    }
                }
                for (; x < level.width; ++x) {
                    const uint32_t count = uint32_t(std::min(side, width - x * side)) * uint32_t(blockRows);
                    for (int c = 0; c < 4; ++c) dst[4 * x + c] = uint8_t((sum[4 * x + c] + count / 2) / count);
                }
            }
        }
    }

private:
    // Level 1's sums of premultiplied pixels, four pixels (two blocks) at a time.
    void SumFirstLevel(const uint8_t* scan0, int64_t stride, int32_t width, int32_t first, int32_t rows) {
        const __m128i zero = _mm_setzero_si128();
        for (int32_t r = 0; r < rows; r += 2) {
            const uint8_t* a = scan0 + int64_t(first + r) * stride;
            const uint8_t* b = r + 1 < rows ? a + stride : nullptr;
            uint16_t* sum = m_sums[1].data() + size_t(r >> 1) * m_stride[1];
            // The first pixel of the next pair of blocks.
            int32_t i = m_avx2 ? SumArgbBlocksAvx2(a, b, width, sum) : 0;
            for (; i + 4 <= width; i += 4) {
                const __m128i top = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 4 * i));
                __m128i v0 = Premultiplied(_mm_unpacklo_epi8(top, zero));
                __m128i v1 = Premultiplied(_mm_unpackhi_epi8(top, zero));
                if (b) {
                    const __m128i bottom = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 4 * i));
                    v0 = _mm_add_epi16(v0, Premultiplied(_mm_unpacklo_epi8(bottom, zero)));
                    v1 = _mm_add_epi16(v1, Premultiplied(_mm_unpackhi_epi8(bottom, zero)));
                }
                _mm_storeu_si128(reinterpret_cast<__m128i*>(sum + 2 * i), PairSums(v0, v1));
            }
            for (; i < width; ++i)
                for (const uint8_t* row : {a, b}) {
                    if (!row) continue;
                    const uint8_t* p = row + 4 * i;
                    uint16_t* s = sum + (i >> 1) * 4;
                    s[0] = uint16_t(s[0] + pixel::Premultiply8(p[0], p[3]));
                    s[1] = uint16_t(s[1] + pixel::Premultiply8(p[1], p[3]));
                    s[2] = uint16_t(s[2] + pixel::Premultiply8(p[2], p[3]));
                    s[3] = uint16_t(s[3] + p[3]);
                }
        }
    }

    // The same for three bytes a pixel, alpha 255: nothing to premultiply.
    void SumFirstLevelRgb(const uint8_t* scan0, int64_t stride, int32_t width, int32_t first, int32_t rows) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i colour = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
        for (int32_t r = 0; r < rows; r += 2) {
            const uint8_t* a = scan0 + int64_t(first + r) * stride;
            const uint8_t* b = r + 1 < rows ? a + stride : nullptr;
            uint16_t* sum = m_sums[1].data() + size_t(r >> 1) * m_stride[1];
            // Two blocks' colour sums of one row's pixels i to i + 3 (lanes 0 to 2 and 4 to 6),
            // from 16 bytes, of which the first 12 are theirs.
            auto blocks = [&](const uint8_t* row, int32_t i) {
                const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 3 * i));
                const __m128i first = _mm_unpacklo_epi8(bytes, zero);                     // pixels 0, 1
                const __m128i second = _mm_unpacklo_epi8(_mm_srli_si128(bytes, 6), zero); // pixels 2, 3
                return _mm_unpacklo_epi64(_mm_add_epi16(first, _mm_srli_si128(first, 6)),
                                          _mm_add_epi16(second, _mm_srli_si128(second, 6)));
            };
            const __m128i alpha = _mm_andnot_si128(colour, _mm_set1_epi16(int16_t(b ? 4 * 255 : 2 * 255)));
            // The first pixel of the next pair of blocks.
            int32_t i = m_avx2 ? SumRgbBlocksAvx2(a, b, width, sum) : 0;
            for (; i + 6 <= width; i += 4) {
                __m128i v = blocks(a, i);
                if (b) v = _mm_add_epi16(v, blocks(b, i));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(sum + 2 * i),
                                 _mm_or_si128(_mm_and_si128(v, colour), alpha));
            }
            for (; i < width; ++i)
                for (const uint8_t* row : {a, b}) {
                    if (!row) continue;
                    const uint8_t* p = row + 3 * i;
                    uint16_t* s = sum + (i >> 1) * 4;
                    s[0] = uint16_t(s[0] + p[0]);
                    s[1] = uint16_t(s[1] + p[1]);
                    s[2] = uint16_t(s[2] + p[2]);
                    s[3] = uint16_t(s[3] + 255);
                }
        }
    }

    int m_levels;
    bool m_avx2; // the first level's sums start with the AVX2 loops
    std::vector<uint16_t> m_sums[5];
    int32_t m_stride[5] = {}; // 16-bit values per row
};

} // namespace

int ReducedCopyCount(int32_t width, int32_t height, int levels) {
    levels = std::clamp(levels, 0, 4);
    while (levels > 0 && ((width - 1) >> (levels - 1)) == 0 && ((height - 1) >> (levels - 1)) == 0) --levels;
    return levels;
}

std::vector<std::unique_ptr<Bitmap>> MakeReducedCopies(const Bitmap& image, int levels) {
    std::vector<std::unique_ptr<Bitmap>> copies;
    const bool opaqueRgb = image.GetPixelFormat() == PixelFormat24bppRGB;
    if (!image.HasContent() || (image.GetPixelFormat() != PixelFormat32bppARGB && !opaqueRgb)) return copies;
    const int32_t width = int32_t(image.GetWidth()), height = int32_t(image.GetHeight());
    levels = ReducedCopyCount(width, height, levels);
    std::vector<Level> out;
    for (int k = 1; k <= levels; ++k) {
        auto copy = std::make_unique<Bitmap>((width + (1 << k) - 1) >> k, (height + (1 << k) - 1) >> k,
                                             PixelFormat32bppPARGB);
        if (!copy->HasContent()) return {};
        out.push_back({ImageAccess::Scan0(*copy), ImageAccess::Stride(*copy), int32_t(copy->GetWidth()),
                       int32_t(copy->GetHeight())});
        copies.push_back(std::move(copy));
    }
    if (levels == 0) return copies;

    // Bands of 2^levels rows, in two halves on two threads where there are two cores.
    const uint8_t* scan0 = ImageAccess::Scan0(image);
    const int64_t stride = ImageAccess::Stride(image);
    const int32_t bandRows = 1 << levels, bands = (height + bandRows - 1) / bandRows;
    auto work = [&](int32_t firstBand, int32_t lastBand) {
        Band band(width, levels);
        for (int32_t b = firstBand; b < lastBand; ++b) band.Run(scan0, stride, width, height, b * bandRows, opaqueRgb, out);
    };
    std::thread other;
    if (bands >= 8 && std::thread::hardware_concurrency() > 1) {
        try {
            other = std::thread(work, bands / 2, bands);
        } catch (const std::system_error&) { // no room for a thread: all on this one
        }
    }
    work(0, other.joinable() ? bands / 2 : bands);
    if (other.joinable()) other.join();
    return copies;
}

} // namespace imaging
