// The vector mapping in four double lanes of AVX2; a mask is a vector whose lanes are all ones
// or all zeros.

#include "MapRowVector.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>

namespace warp {

namespace {

using V = __m256d;
using M = __m256d;
constexpr int kLanes = 4;

inline V Set(double x) { return _mm256_set1_pd(x); }
inline V Load(const double* p) { return _mm256_load_pd(p); } // 32-byte aligned
inline void Store(double* p, V a) { _mm256_store_pd(p, a); }
inline V Iota() { return _mm256_set_pd(3, 2, 1, 0); }
inline V Add(V a, V b) { return _mm256_add_pd(a, b); }
inline V Sub(V a, V b) { return _mm256_sub_pd(a, b); }
inline V Mul(V a, V b) { return _mm256_mul_pd(a, b); }
inline V Div(V a, V b) { return _mm256_div_pd(a, b); }
inline V MulAdd(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
inline V Sqrt(V a) { return _mm256_sqrt_pd(a); }
inline V Min(V a, V b) { return _mm256_min_pd(a, b); }
inline V Max(V a, V b) { return _mm256_max_pd(a, b); }
inline V Abs(V a) { return _mm256_andnot_pd(Set(-0.0), a); }
inline V Negate(V a) { return _mm256_xor_pd(a, Set(-0.0)); }
inline V WithSignOf(V a, V sign) { return _mm256_or_pd(a, _mm256_and_pd(sign, Set(-0.0))); } // a >= +0
inline V Binade(V d) { return _mm256_and_pd(d, _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FF0000000000000))); }
inline V Single(V a) { return _mm256_cvtps_pd(_mm256_cvtpd_ps(a)); }

inline M Eq(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
inline M Gt(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
inline M Lt(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
inline M Le(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
inline M NotLess(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_NLT_UQ); }
inline M And(M a, M b) { return _mm256_and_pd(a, b); }
inline M Or(M a, M b) { return _mm256_or_pd(a, b); }
inline M AndNot(M a, M b) { return _mm256_andnot_pd(a, b); } // ~a & b
inline M AllLanes() { return _mm256_castsi256_pd(_mm256_set1_epi64x(-1)); }
inline M NoLanes() { return _mm256_setzero_pd(); }
inline unsigned LaneBits(M m) { return unsigned(_mm256_movemask_pd(m)); } // bit k for lane k
inline bool None(M m) { return LaneBits(m) == 0; }
inline bool All(M m) { return LaneBits(m) == 0xF; }
inline V Select(M m, V ifTrue, V ifFalse) { return _mm256_blendv_pd(ifFalse, ifTrue, m); }

inline V LoadSingles(const float* p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
inline void StoreSingles(float* p, V a) { _mm_storeu_ps(p, _mm256_cvtpd_ps(a)); }
// Truncation; NaN and values beyond 32 bits give INT32_MIN, as TruncateToIndex does.
inline void StoreIndex(V a, int32_t* index, double* fraction) {
    const __m128i i = _mm256_cvttpd_epi32(a);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(index), i);
    _mm256_storeu_pd(fraction, Sub(a, _mm256_cvtepi32_pd(i)));
}

#include "MapRowVector.inc"

} // namespace

void MapRunAvx2(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out,
                ColumnFields fields, bool cull) {
    const int32_t done = MapRunLanes(m, y, x0, count, out, fields, cull);
    if (done < count)
        MapRunScalar(m, y, x0 + done, count - done, {out.iu + done, out.iv + done, out.fx + done, out.fy + done});
}

int SlopesOfTangentsAvx2(const float* t, float* slope, int n, uint8_t* redone) {
    const int done = n & ~(kLanes - 1);
    int count = SlopesOfTangentsLanes(t, slope, done, redone);
    for (int i = done; i < n; ++i, ++count) {
        slope[i] = SlopeOfTangent(t[i]);
        if (redone) redone[i] = 1;
    }
    return count;
}

} // namespace warp
