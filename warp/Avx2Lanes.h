#pragma once
// The small vocabulary the warp's AVX2 kernels are written in: V holds four doubles, M is a
// mask whose lanes are all ones or all zeros. MapRowVector.inc lists what each word means.
//
// Only files compiled with -mavx2 -mfma include it. Its functions have internal linkage, so
// that no file's copies stand in for another's built for other instructions.

#include <immintrin.h>

#include <cstdint>

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

} // namespace
} // namespace warp
