#include "PreviewSampleAvx2.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>

namespace warp {

namespace {

constexpr int kFractionBits = 8;
constexpr int kOne = 1 << kFractionBits;
constexpr int kGroup = 8;

// Each pixel's weights in 1/256, as the pairs _mm256_madd_epi16 takes, one per lane: (left,
// right) for the blend along the rows and (upper, lower) for the one across.
struct WeightPairs {
    __m256i across, down;
};

inline WeightPairs Weights(const MappedRun& run, int32_t i) {
    const __m256d scale = _mm256_set1_pd(kOne);
    auto steps = [&](const double* f) { // f in [0, 1), rounded to the nearest step
        return _mm256_set_m128i(_mm256_cvtpd_epi32(_mm256_mul_pd(_mm256_loadu_pd(f + 4), scale)),
                                _mm256_cvtpd_epi32(_mm256_mul_pd(_mm256_loadu_pd(f), scale)));
    };
    auto pair = [](__m256i step) {
        return _mm256_or_si256(_mm256_sub_epi32(_mm256_set1_epi32(kOne), step), _mm256_slli_epi32(step, 16));
    };
    return {pair(steps(run.fx + i)), pair(steps(run.fy + i))};
}

// Whether all eight pixels from i on have their neighbourhood in the usable columns and rows
// 1 to size - 1, as SampleRunAvx2For's interior test: 1 <= iu <= width - 2, rows alike.
inline bool AllInterior(const MappedRun& run, int32_t i, __m256i lastU, __m256i lastV) {
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i u = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(run.iu + i)), one);
    const __m256i v = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(run.iv + i)), one);
    const __m256i inside = _mm256_and_si256(_mm256_cmpeq_epi32(_mm256_min_epu32(u, lastU), u),
                                            _mm256_cmpeq_epi32(_mm256_min_epu32(v, lastV), v));
    return _mm256_movemask_epi8(inside) == -1;
}

// The eight bytes that hold pixel k's two neighbours in `row` (0 or 1 below iv): for 24-bit
// pixels the eight that end with the right-hand one (column iu >= 1 has two bytes before it).
template <int Bpp>
[[gnu::always_inline]] inline __m128i NeighbourBytes(const SourceView& s, const MappedRun& run, int32_t k,
                                                     int row) {
    const uint8_t* p =
        s.scan0 + (int64_t(run.iv[k]) + row) * s.stride + int64_t(run.iu[k]) * Bpp - (Bpp == 3 ? 2 : 0);
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

// Pixels j and j + 4 of the group from i on: B, G, R, A as 32-bit integers, pixel j in the
// low 128 bits. Each blend is truncated, as the warp's are.
template <int Bpp>
[[gnu::always_inline]] inline __m256i BlendTwo(const SourceView& s, const MappedRun& run, int32_t i, int j,
                                               const WeightPairs& w) {
    // Left and right neighbour side by side per channel, as 16-bit numbers.
    const char z = char(0x80);
    const __m256i spread = Bpp == 4 ? _mm256_setr_epi8(0, z, 4, z, 1, z, 5, z, 2, z, 6, z, 3, z, 7, z, 0, z,
                                                       4, z, 1, z, 5, z, 2, z, 6, z, 3, z, 7, z)
                                    : _mm256_setr_epi8(2, z, 5, z, 3, z, 6, z, 4, z, 7, z, z, z, z, z, 2, z,
                                                       5, z, 3, z, 6, z, 4, z, 7, z, z, z, z, z);
    const __m256i lanes = _mm256_setr_epi32(j, j, j, j, j + 4, j + 4, j + 4, j + 4);
    const __m256i across = _mm256_permutevar8x32_epi32(w.across, lanes);
    auto row = [&](int below) {
        const __m256i bytes = _mm256_set_m128i(NeighbourBytes<Bpp>(s, run, i + j + 4, below),
                                               NeighbourBytes<Bpp>(s, run, i + j, below));
        return _mm256_madd_epi16(_mm256_shuffle_epi8(bytes, spread), across); // at most 255 * 256
    };
    // Upper and lower row's blend side by side, as 16-bit numbers, then blended down.
    const __m256i rows = _mm256_or_si256(_mm256_srli_epi32(row(0), kFractionBits),
                                         _mm256_and_si256(_mm256_slli_epi32(row(1), 16 - kFractionBits),
                                                          _mm256_set1_epi32(int32_t(0xFFFF0000))));
    return _mm256_srli_epi32(_mm256_madd_epi16(rows, _mm256_permutevar8x32_epi32(w.down, lanes)),
                             kFractionBits);
}

// Places the eight pixels from i on in the terms of copy k (`copy`, 2^k times smaller) into
// `at`: false where one of them is not inside it, as AllInterior takes the inside.
[[gnu::noinline]] bool PlaceInCopy(const MappedRun& run, int32_t i, int k, const SourceView& copy,
                                   const MappedRun& at) {
    // Copy pixel j lies where source pixels 2^k j to 2^k (j + 1) - 1 do: at 2^k j + (2^k - 1) / 2.
    // Powers of two, exact (std::ldexp here was a library call per group).
    const __m256d scale = _mm256_set1_pd(1.0 / double(1 << k)), offset = _mm256_set1_pd(double((1 << k) - 1) / 2);
    auto place = [&](const int32_t* index, const double* fraction, int32_t* copyIndex, double* copyFraction,
                     int64_t size) {
        __m128i whole[2];
        for (int half = 0; half < 2; ++half) {
            const int32_t j = i + 4 * half;
            const __m256d source = _mm256_add_pd(
                _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(index + j))),
                _mm256_loadu_pd(fraction + j));
            const __m256d p = _mm256_mul_pd(_mm256_sub_pd(source, offset), scale), below = _mm256_floor_pd(p);
            whole[half] = _mm256_cvttpd_epi32(below);
            _mm_store_si128(reinterpret_cast<__m128i*>(copyIndex + 4 * half), whole[half]);
            _mm256_store_pd(copyFraction + 4 * half, _mm256_sub_pd(p, below));
        }
        const __m256i shifted = _mm256_sub_epi32(_mm256_set_m128i(whole[1], whole[0]), _mm256_set1_epi32(1));
        const __m256i last = _mm256_set1_epi32(int32_t(size) - 3);
        return _mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_min_epu32(shifted, last), shifted)) == -1;
    };
    return place(run.iu, run.fx, at.iu, at.fx, copy.width) &&
           place(run.iv, run.fy, at.iv, at.fy, copy.height);
}

// The copy (1 to coarser.size()) that the eight pixels from i on read, from the larger of their
// step along the row and `across`, in source pixels: copy k for a step of 2^k up to 2^(k + 1);
// 0 for the source itself.
// Their positions in that copy's terms go to `at`; 0 as well where one of them is not inside it.
[[gnu::always_inline]] inline int CoarserLevel(const MappedRun& run, int32_t i, double across,
                                               std::span<const SourceView> coarser, const MappedRun& at) {
    const int32_t last = i + kGroup - 1;
    const double du = run.iu[last] + run.fx[last] - (run.iu[i] + run.fx[i]);
    const double dv = run.iv[last] + run.fy[last] - (run.iv[i] + run.fy[i]);
    const double step = std::max(std::max(std::abs(du), std::abs(dv)) / (kGroup - 1), across);
    if (!(step >= 2.0)) return 0;
    const int k = std::min(std::ilogb(step), int(coarser.size()));
    return PlaceInCopy(run, i, k, coarser[size_t(k - 1)], at) ? k : 0;
}

// The eight pixels from i on blended from `source`, as bytes B, G, R, A.
template <int Bpp>
[[gnu::always_inline]] inline __m256i BlendGroup(const SourceView& source, const MappedRun& run, int32_t i) {
    const WeightPairs w = Weights(run, i);
    // Pixels 0, 1, 4, 5 and 2, 3, 6, 7 as 16-bit channels, then 0 to 3 and 4 to 7 as bytes.
    const __m256i low =
        _mm256_packus_epi32(BlendTwo<Bpp>(source, run, i, 0, w), BlendTwo<Bpp>(source, run, i, 1, w));
    const __m256i high =
        _mm256_packus_epi32(BlendTwo<Bpp>(source, run, i, 2, w), BlendTwo<Bpp>(source, run, i, 3, w));
    return _mm256_packus_epi16(low, high);
}

template <int Bpp>
void SampleRun(const SourceView& source, std::span<const SourceView> coarser, const MappedRun& run,
               const RunTarget& target, const float* across) {
    const SampleRunFunction exact = SampleRunAvx2For(Bpp, 2);
    // Sources narrower or lower than 3 pixels have no interior.
    const int32_t groups = source.width >= 3 && source.height >= 3 ? target.count / kGroup * kGroup : 0;
    const __m256i lastU = _mm256_set1_epi32(int32_t(source.width) - 3),
                  lastV = _mm256_set1_epi32(int32_t(source.height) - 3);
    alignas(32) int32_t iu[kGroup], iv[kGroup];
    alignas(32) double fx[kGroup], fy[kGroup];
    const MappedRun inCopy{iu, iv, fx, fy};
    for (int32_t i = 0; i < groups; i += kGroup) {
        uint8_t* out = target.out + 4 * i;
        if (!AllInterior(run, i, lastU, lastV)) {
            exact(source, {run.iu + i, run.iv + i, run.fx + i, run.fy + i}, {out, kGroup});
            continue;
        }
        const int k =
            coarser.empty() ? 0 : CoarserLevel(run, i, across ? across[i / kGroup] : 0.0, coarser, inCopy);
        const __m256i pixels =
            k > 0 ? BlendGroup<4>(coarser[size_t(k - 1)], inCopy, 0) : BlendGroup<Bpp>(source, run, i);
        auto* at = reinterpret_cast<__m256i*>(out);
        if constexpr (Bpp == 3) {
            _mm256_storeu_si256(at, _mm256_or_si256(pixels, _mm256_set1_epi32(int32_t(0xFF000000))));
        } else {
            // As the warp's sampler: a pixel that comes out clear leaves the destination as it was.
            const __m256i clear = _mm256_cmpeq_epi32(_mm256_srli_epi32(pixels, 24), _mm256_setzero_si256());
            _mm256_storeu_si256(at, _mm256_blendv_epi8(pixels, _mm256_loadu_si256(at), clear));
        }
    }
    if (groups < target.count)
        exact(source, {run.iu + groups, run.iv + groups, run.fx + groups, run.fy + groups},
              {target.out + 4 * groups, target.count - groups});
}

} // namespace

PreviewSampleRunFunction PreviewSampleRunAvx2For(int bytesPerPixel) {
    return bytesPerPixel == 3 ? SampleRun<3> : SampleRun<4>;
}

} // namespace warp
