#include "ReducedCopiesAvx2.h"

#include <immintrin.h>

namespace imaging {

namespace {

// ReducedCopies.cpp's Premultiplied and PairSums, two 128-bit lanes at once: every step keeps
// to its lane, so lane 1 does for pixels 4 to 7 what lane 0 does for 0 to 3.
inline __m256i Premultiplied(__m256i pixels) {
    __m256i alpha = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(pixels, _MM_SHUFFLE(3, 3, 3, 3)),
                                           _MM_SHUFFLE(3, 3, 3, 3));
    const __m256i alphaLanes = _mm256_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0);
    alpha = _mm256_or_si256(_mm256_andnot_si256(alphaLanes, alpha),
                            _mm256_and_si256(alphaLanes, _mm256_set1_epi16(255)));
    const __m256i x = _mm256_add_epi16(_mm256_mullo_epi16(pixels, alpha), _mm256_set1_epi16(128));
    return _mm256_srli_epi16(_mm256_add_epi16(x, _mm256_srli_epi16(x, 8)), 8);
}

inline __m256i PairSums(__m256i v0, __m256i v1) {
    return _mm256_add_epi16(_mm256_unpacklo_epi64(v0, v1), _mm256_unpackhi_epi64(v0, v1));
}

inline void Store(uint16_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

} // namespace

int32_t SumArgbBlocksAvx2(const uint8_t* a, const uint8_t* b, int32_t width, uint16_t* sum) {
    const __m256i zero = _mm256_setzero_si256();
    auto load = [](const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); };
    int32_t i = 0;
    for (; i + 8 <= width; i += 8) {
        const __m256i top = load(a + 4 * i);
        __m256i v0 = Premultiplied(_mm256_unpacklo_epi8(top, zero)); // pixels 0, 1 | 4, 5
        __m256i v1 = Premultiplied(_mm256_unpackhi_epi8(top, zero)); // pixels 2, 3 | 6, 7
        if (b) {
            const __m256i bottom = load(b + 4 * i);
            v0 = _mm256_add_epi16(v0, Premultiplied(_mm256_unpacklo_epi8(bottom, zero)));
            v1 = _mm256_add_epi16(v1, Premultiplied(_mm256_unpackhi_epi8(bottom, zero)));
        }
        Store(sum + 2 * i, PairSums(v0, v1));
    }
    return i;
}

int32_t SumRgbBlocksAvx2(const uint8_t* a, const uint8_t* b, int32_t width, uint16_t* sum) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i colour = _mm256_set_epi16(0, -1, -1, -1, 0, -1, -1, -1, 0, -1, -1, -1, 0, -1, -1, -1);
    // Pixels 0 to 3 from the lane holding bytes 0 to 15, 4 to 7 from the one holding 12 to 27.
    auto blocks = [&](const uint8_t* row, int32_t i) {
        const __m256i bytes = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(row + 3 * i + 12),
                                                  reinterpret_cast<const __m128i*>(row + 3 * i));
        const __m256i first = _mm256_unpacklo_epi8(bytes, zero);
        const __m256i second = _mm256_unpacklo_epi8(_mm256_srli_si256(bytes, 6), zero);
        return _mm256_unpacklo_epi64(_mm256_add_epi16(first, _mm256_srli_si256(first, 6)),
                                     _mm256_add_epi16(second, _mm256_srli_si256(second, 6)));
    };
    const __m256i alpha = _mm256_andnot_si256(colour, _mm256_set1_epi16(int16_t(b ? 4 * 255 : 2 * 255)));
    int32_t i = 0;
    for (; i + 10 <= width; i += 8) { // the second load ends at byte 3i + 28
        __m256i v = blocks(a, i);
        if (b) v = _mm256_add_epi16(v, blocks(b, i));
        Store(sum + 2 * i, _mm256_or_si256(_mm256_and_si256(v, colour), alpha));
    }
    return i;
}

} // namespace imaging
