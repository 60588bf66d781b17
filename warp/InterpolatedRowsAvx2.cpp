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
