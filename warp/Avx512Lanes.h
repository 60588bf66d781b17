#pragma once
// The small vocabulary the warp's AVX-512 kernels are written in: V holds eight doubles, M is
// a mask of one bit per lane. MapRowVector.inc lists what each word means.
//
// Only files compiled with -mavx512f -mavx512dq include it. Its functions have internal
// linkage, so that no file's copies stand in for another's built for other instructions.

// GCC 12's AVX-512 header fills the unused source of min, max and the conversions with an
// undefined value and then warns about it there (its bug 105593); nothing reads such a value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include <cstdint>

namespace warp {
namespace {

using V = __m512d;
using M = __mmask8;
constexpr int kLanes = 8;

inline V Set(double x) { return _mm512_set1_pd(x); }
inline V Load(const double* p) { return _mm512_load_pd(p); } // 64-byte aligned
inline void Store(double* p, V a) { _mm512_store_pd(p, a); }
inline V Iota() { return _mm512_set_pd(7, 6, 5, 4, 3, 2, 1, 0); }
inline V Add(V a, V b) { return _mm512_add_pd(a, b); }
inline V Sub(V a, V b) { return _mm512_sub_pd(a, b); }
inline V Mul(V a, V b) { return _mm512_mul_pd(a, b); }
inline V Div(V a, V b) { return _mm512_div_pd(a, b); }
inline V MulAdd(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
inline V Sqrt(V a) { return _mm512_sqrt_pd(a); }
inline V Min(V a, V b) { return _mm512_min_pd(a, b); }
inline V Max(V a, V b) { return _mm512_max_pd(a, b); }
inline V Abs(V a) { return _mm512_abs_pd(a); }
inline V Negate(V a) { return _mm512_xor_pd(a, Set(-0.0)); }
inline V WithSignOf(V a, V sign) { return _mm512_or_pd(a, _mm512_and_pd(sign, Set(-0.0))); } // a >= +0
inline V Binade(V d) { return _mm512_and_pd(d, _mm512_castsi512_pd(_mm512_set1_epi64(0x7FF0000000000000))); }
inline V Single(V a) { return _mm512_cvtps_pd(_mm512_cvtpd_ps(a)); }

inline M Eq(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
inline M Gt(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ); }
inline M Lt(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
inline M Le(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ); }
inline M NotLess(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_NLT_UQ); }
inline M And(M a, M b) { return M(a & b); }
inline M Or(M a, M b) { return M(a | b); }
inline M AndNot(M a, M b) { return M(~a & b); }
inline M AllLanes() { return 0xFF; }
inline M NoLanes() { return 0; }
inline unsigned LaneBits(M m) { return m; } // bit k for lane k
inline bool None(M m) { return m == 0; }
inline bool All(M m) { return m == 0xFF; }
inline V Select(M m, V ifTrue, V ifFalse) { return _mm512_mask_blend_pd(m, ifFalse, ifTrue); }

inline V LoadSingles(const float* p) { return _mm512_cvtps_pd(_mm256_loadu_ps(p)); }
inline void StoreSingles(float* p, V a) { _mm256_storeu_ps(p, _mm512_cvtpd_ps(a)); }
// Truncation; NaN and values beyond 32 bits give INT32_MIN, as TruncateToIndex does.
inline void StoreIndex(V a, int32_t* index, double* fraction) {
    const __m256i i = _mm512_cvttpd_epi32(a);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(index), i);
    _mm512_storeu_pd(fraction, Sub(a, _mm512_cvtepi32_pd(i)));
}

} // namespace
} // namespace warp
