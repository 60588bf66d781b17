// Built with AVX2 but without FMA: the products and sums are rounded as InterpolatedRows' own
// loop rounds them.
#include "InterpolatedRows.h"

#include <immintrin.h>

namespace warp {

void InterpolateGroupAvx2(const InterpolationColumns& columns, double rows, const MappedRun& out) {
    const __m256d step = _mm256_set1_pd(rows), far = _mm256_set1_pd(kInterpolationFar),
                  near = _mm256_set1_pd(-kInterpolationFar);
    const __m128i farIndex = _mm_set1_epi32(int32_t(kInterpolationFar)), unmapped = _mm_set1_epi32(kUnmapped);
    for (int32_t i = 0; i < kInterpolationGroup; i += 4) {
        const __m128i seen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns.seen + i));
        const __m256d seenLanes = _mm256_castsi256_pd(_mm256_cvtepi32_epi64(seen));
        // Floor by truncation of a positive number, as the loop does.
        auto axis = [&](const double* p, const double* dp, int32_t* index, double* fraction) {
            const __m256d moved =
                _mm256_add_pd(_mm256_loadu_pd(p + i), _mm256_mul_pd(_mm256_loadu_pd(dp + i), step));
            const __m256d pos = _mm256_add_pd(_mm256_min_pd(_mm256_max_pd(moved, near), far), far);
            const __m128i k = _mm256_cvttpd_epi32(pos);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(index + i),
                             _mm_blendv_epi8(unmapped, _mm_sub_epi32(k, farIndex), seen));
            _mm256_storeu_pd(fraction + i,
                             _mm256_and_pd(_mm256_sub_pd(pos, _mm256_cvtepi32_pd(k)), seenLanes));
        };
        axis(columns.u, columns.du, out.iu, out.fx);
        axis(columns.v, columns.dv, out.iv, out.fy);
    }
}

} // namespace warp

namespace warp {

namespace {

// Four columns of a row from column i on: whether they show the source, and their positions.
struct FourColumns {
    __m256d seen; // all ones where they do
    __m256d u, v;
};

inline FourColumns Columns(const ExactRow& row, int32_t i, __m128i width, __m128i height) {
    const __m128i iu = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row.iu + i));
    const __m128i iv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row.iv + i));
    const __m128i none = _mm_set1_epi32(-1);
    const __m128i inside =
        _mm_and_si128(_mm_and_si128(_mm_cmpgt_epi32(iu, none), _mm_cmpgt_epi32(width, iu)),
                      _mm_and_si128(_mm_cmpgt_epi32(iv, none), _mm_cmpgt_epi32(height, iv)));
    return {_mm256_castsi256_pd(_mm256_cvtepi32_epi64(inside)),
            _mm256_add_pd(_mm256_cvtepi32_pd(iu), _mm256_loadu_pd(row.fx + i)),
            _mm256_add_pd(_mm256_cvtepi32_pd(iv), _mm256_loadu_pd(row.fy + i))};
}

inline __m256d Abs(__m256d x) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), x); }

} // namespace

void PrepareColumnsAvx2(const ExactRow& above, const ExactRow& middle, const ExactRow& below, int32_t first,
                        int32_t last, int32_t width, int32_t height, const PreparedColumns& out) {
    const __m128i w = _mm_set1_epi32(width), h = _mm_set1_epi32(height);
    const __m256d eighth = _mm256_set1_pd(1.0 / 8), four = _mm256_set1_pd(4.0), one = _mm256_set1_pd(1.0);
    const __m256d miss = _mm256_set1_pd(kInterpolationMiss);
    for (int32_t i = first; i < last; i += 4) {
        const FourColumns up = Columns(above, i, w, h), down = Columns(below, i, w, h);
        const FourColumns between = Columns(middle, i, w, h), before = Columns(above, i - 1, w, h);
        const __m256d any = _mm256_or_pd(up.seen, down.seen);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out.seen + i),
                         _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(
                             _mm256_castpd_si256(any), _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7))));
        _mm256_storeu_pd(out.u + i, up.u);
        _mm256_storeu_pd(out.v + i, up.v);
        // Divided by 8, a power of two: the same as the loop's division.
        const __m256d du = _mm256_mul_pd(_mm256_sub_pd(down.u, up.u), eighth);
        const __m256d dv = _mm256_mul_pd(_mm256_sub_pd(down.v, up.v), eighth);
        _mm256_storeu_pd(out.du + i, du);
        _mm256_storeu_pd(out.dv + i, dv);
        // std::max(a, b) is b < a ? a : b, as max_pd(b, a) gives it.
        __m256d cover = _mm256_max_pd(_mm256_add_pd(Abs(du), Abs(dv)), one);
        const __m256d step =
            _mm256_add_pd(Abs(_mm256_sub_pd(up.u, before.u)), Abs(_mm256_sub_pd(up.v, before.v)));
        cover = _mm256_blendv_pd(cover, _mm256_max_pd(step, cover), _mm256_and_pd(up.seen, before.seen));
        const __m256d missU = _mm256_sub_pd(_mm256_add_pd(up.u, _mm256_mul_pd(du, four)), between.u);
        const __m256d missV = _mm256_sub_pd(_mm256_add_pd(up.v, _mm256_mul_pd(dv, four)), between.v);
        const __m256d limit = _mm256_mul_pd(miss, cover);
        const __m256d bent = _mm256_and_pd(any, _mm256_or_pd(_mm256_cmp_pd(Abs(missU), limit, _CMP_GT_OQ),
                                                             _mm256_cmp_pd(Abs(missV), limit, _CMP_GT_OQ)));
        const __m256d mixed = _mm256_or_pd(_mm256_or_pd(_mm256_xor_pd(up.seen, down.seen), bent),
                                           _mm256_xor_pd(between.seen, up.seen));
        out.mixed[i / kInterpolationGroup] |= _mm256_movemask_pd(mixed) != 0;
    }
}

} // namespace warp
