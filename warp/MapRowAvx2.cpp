// Four pixels at a time in double lanes. Every operation is the one the scalar rules do, in
// the same order, so that IEEE arithmetic gives the same bits: additions, multiplications,
// divisions and square roots are correctly rounded in each lane, and conversions to single
// round to nearest like the scalar casts. Only the arc tangent and the tangent are
// approximated; their single-precision roundings are checked per lane (see SlopeFromArcTangent4).
// The arc tangent's polynomial is the one place that uses fused multiply-adds; no rule's
// rounding goes through it.

#include "MapRowAvx2.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>

namespace warp {

namespace {

using V = __m256d;

inline V Set(double x) { return _mm256_set1_pd(x); }
inline V Add(V a, V b) { return _mm256_add_pd(a, b); }
inline V Sub(V a, V b) { return _mm256_sub_pd(a, b); }
inline V Mul(V a, V b) { return _mm256_mul_pd(a, b); }
inline V Div(V a, V b) { return _mm256_div_pd(a, b); }
inline V Eq(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
inline V Gt(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
inline V Lt(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
inline V Or(V a, V b) { return _mm256_or_pd(a, b); }
inline V And(V a, V b) { return _mm256_and_pd(a, b); }
inline V AndNot(V a, V b) { return _mm256_andnot_pd(a, b); } // ~a & b
inline V Select(V mask, V ifTrue, V ifFalse) { return _mm256_blendv_pd(ifFalse, ifTrue, mask); }
inline V Abs(V a) { return _mm256_andnot_pd(Set(-0.0), a); }
// Rounded to single precision and widened again, as a scalar float cast does.
inline V Single(V a) { return _mm256_cvtps_pd(_mm256_cvtpd_ps(a)); }

// True in lanes where every value within `bound` of d rounds to the same single as d, where
// `error` = single(d) - d, exact. For d in [2^e, 2^(e+1)) the points halfway between singles
// lie at least 2^(e-24) - |error| from d on either side (also where single(d) is a power of
// two; below the smallest normal single they lie farther apart), and 2^(e-24) is a double,
// so the rounded sum |error| + bound is below it only when the exact sum is.
inline V Binade(V d) { return And(d, _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FF0000000000000))); } // 2^e

inline V RoundsSurely(V d, V error, V bound) { return Lt(Add(Abs(error), bound), Mul(Binade(d), Set(0x1p-24))); }

// The same for a bound of relative * |d|: that is below 2^(e+1) relative, so it is enough that
// |error| < 2^e (2^-24 - 2 relative), an exact product.
inline V RoundsSurelyRelative(V d, V error, double relative) {
    return Lt(Abs(error), Mul(Binade(d), Set(0x1p-24 - 2 * relative)));
}

// atan(r) = r * Q(r^2) for |r| <= tan(pi/8): a Chebyshev fit of Q(s) = atan(sqrt(s)) / sqrt(s)
// with coefficients rounded to double, lowest degree first (tools/atan_coefficients.py prints
// them). The rounded polynomial is within 1.0e-15 of Q, relatively.
constexpr std::array<double, 10> kAtanQ = {
    0x1.ffffffffffff7p-1, -0x1.5555555550697p-2, 0x1.999999922cfc3p-3, -0x1.249246f68e47ep-3,
    0x1.c71bcaa7f63f5p-4, -0x1.744ea12bfc3c4p-4, 0x1.3a4ed9a7ebd69p-4, -0x1.0a7c2c0d3b6c4p-4,
    0x1.9ba0dfaaaf232p-5, -0x1.9ec8f10924acbp-6,
};
constexpr double kTanEighthPi = 0x1.a827999fcef32p-2, kTanThreeEighthsPi = 0x1.3504f333f9de6p+1;
constexpr double kQuarterPiHigh = 0x1.921fb54442d18p-1, kQuarterPiLow = 0x1.1a62633145c07p-55;
constexpr double kHalfPiHigh = 0x1.921fb54442d18p+0, kHalfPiLow = 0x1.1a62633145c07p-54;

inline V MulAdd(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }

// Q(s) by Estrin's scheme: a dependency chain four multiply-adds deep instead of Horner's nine.
inline V AtanPolynomial(V s) {
    auto c = [](int i) { return Set(kAtanQ[i]); };
    const V s2 = Mul(s, s), s4 = Mul(s2, s2), s8 = Mul(s4, s4);
    auto pair = [&](int i) { return MulAdd(c(i + 1), s, c(i)); }; // terms i and i + 1
    const V quad0 = MulAdd(pair(2), s2, pair(0)), quad1 = MulAdd(pair(6), s2, pair(4));
    return MulAdd(pair(8), s8, MulAdd(quad1, s4, quad0));
}

// Which reductions the lanes of a pass need: |t| <= tan(pi/8) in all of them, |t| > tan(3 pi/8)
// in all, or any mix.
enum class Reduction { Small, Large, Any };

// The arc tangent of every lane, for finite and infinite t; NaN stays NaN. x = |t| is
// reduced to r = x below tan(pi/8), to (x - 1) / (x + 1) (both exact, x being a single) below
// tan(3 pi/8) and to -1 / x beyond, and atan(x) = offset + atan(r) with offset 0, pi/4, pi/2.
// The single-reduction forms do the operations the mixed form does in such lanes (x / 1 is
// x, adding a zero offset changes nothing), so all give the same bits.
template <Reduction R = Reduction::Any>
inline V ArcTangent(V t) {
    const V x = Abs(t);
    V theta;
    if constexpr (R == Reduction::Small) {
        theta = Mul(x, AtanPolynomial(Mul(x, x)));
    } else if constexpr (R == Reduction::Large) {
        const V r = Div(Set(-1.0), x);
        theta = Add(MulAdd(r, AtanPolynomial(Mul(r, r)), Set(kHalfPiHigh)), Set(kHalfPiLow));
    } else {
        const V middle = Gt(x, Set(kTanEighthPi)), far = Gt(x, Set(kTanThreeEighthsPi));
        const V numerator = Select(far, Set(-1.0), Select(middle, Sub(x, Set(1.0)), x));
        const V denominator = Select(far, x, Select(middle, Add(x, Set(1.0)), Set(1.0)));
        const V r = Div(numerator, denominator);
        const V offsetHigh = Select(far, Set(kHalfPiHigh), Select(middle, Set(kQuarterPiHigh), Set(0.0)));
        const V offsetLow = Select(far, Set(kHalfPiLow), Select(middle, Set(kQuarterPiLow), Set(0.0)));
        theta = Add(MulAdd(r, AtanPolynomial(Mul(r, r)), offsetHigh), offsetLow);
    }
    return Or(theta, And(t, Set(-0.0)));
}

// Relative error of ArcTangent: 1.0e-15 from the fit; at most 5.0e-16 from the roundings of
// Estrin's scheme (each term times the roundings on its way, as the script adds them up); the
// reduction's division (at most 1.05 * 2^-53 of the angle, where it is pi/8 or more), the
// square, the multiply-add and the offset's low part a few 2^-53 more. That is below 2e-15;
// the bound leaves nearly four times that, also for the rounding of d +- bound.
constexpr double kAtanBound = 0x1p-47;
// The tangent below: the arc tangent's error carried through the derivative 1 + tan^2, and
// a few ulp for the tangent's own roundings, with twice the room.
constexpr double kTanBound = 0x1p-46;
// Beyond this |t| the denominator 1 - t * tan(delta) could lose digits; such lanes are redone.
constexpr double kLargestTangent = 0x1p20;

// True in lanes where single(tan(single(atan(t)))) is t itself, for |t| <= tan(pi/8) and delta
// = single(theta) - theta from a theta within kAtanBound of atan(t), relatively. With delta'
// the true angle's offset from atan(t) (|delta' - delta| <= kAtanBound |theta| <= 2^-47 |t|),
// tan(a) - t = tan(delta') (1 + t^2) / (1 - t tan(delta')), within (1 + 2^-20) |delta'| (1 + t^2)
// of zero as |delta'| < 2^-24; the standard tangent adds an ulp of the double. For t in
// [2^e, 2^(e+1)), not a power of two (whose lower neighbour is nearer), the halfway points lie
// 2^(e-24) away. So |delta| (1 + t^2), computed, below 2^(e-24) (1 - 2^-18) is enough: the
// slack covers the product's rounding, the factor 1 + 2^-20 and the 2^(e-45) the rest adds.
// Zero never passes (its binade is 0); below the smallest normal single the halfway points
// lie farther apart, so there the test is only stricter than it need be.
inline V KeepsTangent(V t, V delta) {
    const V moved = Mul(Abs(delta), Add(Set(1.0), Mul(t, t)));
    const V binade = Binade(t);
    return AndNot(Eq(Abs(t), binade), Lt(moved, Mul(binade, Set(0x1p-24 * (1 - 0x1p-18)))));
}

// single(tan(single(atan(t)))) for lanes holding single values t. A lane is `unsure` when
// either rounding to single cannot be guaranteed; its result must then come from the
// standard functions. R is the reduction `theta` was computed with; it also bounds t.
//
// The tangent of the rounded angle a comes from t itself: with theta = atan(t) and
// delta = a - theta, tan(a) = (t + tan(delta)) / (1 - t tan(delta)), and delta is tiny (at
// most half a single ulp of the angle, 2^-24 |theta|), so tan(delta) is delta to within
// |delta|^3 / 3 < 2^-72 |theta|: carried through the derivative 1 + tan^2 that is far below
// kTanBound. `theta` is ArcTangent(t); the two are apart so that a loop over many values can
// take them in separate passes, each with a dependency chain short enough to overlap values.
template <Reduction R = Reduction::Any>
[[gnu::always_inline]] inline V SlopeFromArcTangent4(V t, V theta, V& unsure) {
    const V angle = Single(theta);
    const V delta = Sub(angle, theta); // exact: angle and theta are within a factor of 2
    const V angleSure = RoundsSurelyRelative(theta, delta, kAtanBound);
    if constexpr (R == Reduction::Small) {
        if (_mm256_movemask_pd(And(angleSure, KeepsTangent(t, delta))) == 0xF) {
            unsure = _mm256_setzero_pd();
            return t;
        }
    }
    const V tangent = Div(Add(t, delta), Sub(Set(1.0), Mul(t, delta)));
    // The spread (1 + tan^2) |theta| + |tan| of the tangent's error, taken from t rather than
    // the tangent so that it is ready when the division is. The two differ by at most
    // (1 + t^2) |delta|, |delta| <= 2^-24 |theta|: below kLargestTangent that is a tenth of
    // |t|, so 1.25 times the spread of t covers the tangent's. With |t| <= tan(pi/8) it is at
    // most (2 + tan^2(pi/8)) |t|, as |theta| <= |t|.
    const V spread = R == Reduction::Small ? Mul(Abs(t), Set(2.1716))
                                           : Add(Mul(Add(Set(1.0), Mul(t, t)), Abs(theta)), Abs(t));
    const V slope = Single(tangent);
    // Exact for the same reason as delta; beyond the singles the difference is infinite or NaN
    // and the lane not sure.
    const V slopeSure = RoundsSurely(tangent, Sub(slope, tangent), Mul(spread, Set(1.25 * kTanBound)));
    const V moderate = R == Reduction::Small ? _mm256_castsi256_pd(_mm256_set1_epi64x(-1)) : Lt(Abs(t), Set(kLargestTangent));
    // atan and tan keep a zero as it is, sign included.
    const V zero = Eq(t, Set(0.0));
    const V sure = Or(zero, And(moderate, And(angleSure, slopeSure)));
    unsure = AndNot(sure, _mm256_castsi256_pd(_mm256_set1_epi64x(-1)));
    return Select(zero, t, slope);
}

// Pixels per pass: the slopes of a chunk are computed first, in stages over the whole chunk
// whose dependency chains are short enough for the processor to overlap many pixels, then
// the rest, which keeps its many values in registers.
constexpr int32_t kChunk = 256;

// The slopes of the tangents t[i], i < count (singles as doubles; count a multiple of 4, at
// most kChunk), whose magnitudes per lane are at least `least` and at most `most` (NaN
// aside): the arc tangents go to work[i], then finish(i, slopes, unsure) takes each vector.
// The reduction is chosen once for the chunk.
template <class Finish>
void SlopesOfChunk(const double* t, double* work, int32_t count, V least, V most, Finish finish) {
    auto passes = [&]<Reduction R>() {
        for (int32_t i = 0; i < count; i += 4) _mm256_store_pd(work + i, ArcTangent<R>(_mm256_load_pd(t + i)));
        for (int32_t i = 0; i < count; i += 4) {
            V unsure;
            const V slope = SlopeFromArcTangent4<R>(_mm256_load_pd(t + i), _mm256_load_pd(work + i), unsure);
            finish(i, slope, unsure);
        }
    };
    if (_mm256_movemask_pd(Gt(most, Set(kTanEighthPi))) == 0) passes.template operator()<Reduction::Small>();
    else if (_mm256_movemask_pd(Gt(least, Set(kTanThreeEighthsPi))) == 0xF) passes.template operator()<Reduction::Large>();
    else passes.template operator()<Reduction::Any>();
}

// Keeps the smallest and largest |t| per lane. min and max return their second operand when
// the first is NaN, so NaN lanes (never sure) leave them alone.
inline void Widen(V t, V& least, V& most) {
    least = _mm256_min_pd(Abs(t), least), most = _mm256_max_pd(Abs(t), most);
}

struct PointV {
    V x, y;
};

inline PointV Select(V mask, PointV a, PointV b) { return {Select(mask, a.x, b.x), Select(mask, a.y, b.y)}; }

// Where the line through p with slope k crosses the edge line with slope kq and
// cq = single(q.Y - kq * q.X) (the same in every lane), as EdgePoint computes it where the
// lines are not parallel and p is not the corner.
inline PointV Crossing(PointV p, V k, V kq, V cq) {
    const V c1 = Single(Sub(p.y, Mul(k, p.x)));
    const V x = Single(Div(Sub(c1, cq), Sub(kq, k)));
    const V kx = Mul(k, x);
    // TakesYFromSecondLine(k, x, kq) in every lane.
    const V fromEdge = And(And(Gt(Abs(kx), Set(0x1p20)), Lt(Abs(kx), Set(HUGE_VAL))), Lt(Abs(kq), Abs(k)));
    if (_mm256_movemask_pd(fromEdge) == 0) [[likely]]
        return {x, Single(Add(kx, c1))};
    return {x, Select(fromEdge, Single(Add(Mul(kq, x), cq)), Single(Add(kx, c1)))};
}

// True in lanes where crossing a or b may not be the edge point as it is: a line parallel to
// its edge (kq - k is 0) leaves x infinite or NaN, and so the product of the four coordinates
// (four singles multiplied in double never overflow).
inline V MayFallBack(PointV a, PointV b) {
    const V product = Abs(Mul(Mul(a.x, a.y), Mul(b.x, b.y)));
    return _mm256_cmp_pd(product, Set(HUGE_VAL), _CMP_NLT_UQ); // infinite or NaN
}

// EdgePoint(p, k, q, kq) in every lane.
inline PointV IntersectOrCorner(PointV p, V k, PointV q, V kq, V cq) {
    const PointV c = Crossing(p, k, kq, cq);
    // p itself when p is q; q where the lines are parallel.
    const V samePoint = And(Eq(p.x, q.x), Eq(p.y, q.y));
    return Select(samePoint, p, Select(Eq(k, kq), q, c));
}

inline V SquaredDistance(PointV a, PointV b) {
    const V dx = Sub(a.x, b.x), dy = Sub(a.y, b.y);
    return Add(Mul(dx, dx), Mul(dy, dy));
}

inline V Distance(PointV a, PointV b) { return Single(_mm256_sqrt_pd(SquaredDistance(a, b))); }

// PointDistance(a, b) > reference, where reference = PointDistance of a pair whose squared
// distance is `referenceSquared`. single(sqrt(x)) never decreases with x, so a sum of squares
// no larger gives false, and one larger by more than 2^-20 (and far from the smallest
// singles) gives true; only in between are the roots taken.
inline V FartherThan(PointV a, PointV b, V reference, V referenceSquared) {
    const V squared = SquaredDistance(a, b);
    const V surelyNot = _mm256_cmp_pd(squared, referenceSquared, _CMP_LE_OQ);
    const V surely = And(Gt(squared, Mul(referenceSquared, Set(1.0 + 0x1p-20))), Gt(squared, Set(0x1p-200)));
    if (_mm256_movemask_pd(Or(surely, surelyNot)) == 0xF) return surely;
    return Gt(Single(_mm256_sqrt_pd(squared)), reference);
}

// The pixels (x + i, y), i < 4, their coordinates rounded to single as the scalar rules do;
// below 2^24 every integer is a single, which spares the rounding.
inline PointV Pixels(int32_t x, V y) {
    const V columns = Add(Set(double(x)), _mm256_set_pd(3, 2, 1, 0));
    return {x < (1 << 24) - 3 ? columns : Single(columns), y};
}

// The slope LineSlope gives a horizontal pair traversed right to left (angle pi).
const float kLeftward = LineSlope({1, 0}, {0, 0});

// The slopes of the lines from the vanishing point v to the pixels (x0 + i, y), i < count (a
// multiple of 4, at most kChunk), as LineSlope(v, p) gives them; lanes the approximation
// cannot guarantee are redone in scalar.
void SlopesFromVanishingPoint(PointF v, float y, int32_t x0, int32_t count, double* slope) {
    const V vx = Set(v.X), vy = Set(v.Y), py = Set(y);
    alignas(32) double t[kChunk];
    V least = Set(HUGE_VAL), most = Set(0.0);
    for (int32_t i = 0; i < count; i += 4) {
        const PointV p = Pixels(x0 + i, py);
        const V tangent = Single(Div(Sub(p.y, vy), Sub(p.x, vx)));
        _mm256_store_pd(t + i, tangent);
        Widen(tangent, least, most);
    }
    const bool sameY = v.Y == y;
    // The arc tangents go where the slopes will. Pixels straight above or below v have an
    // infinite t, never sure: LineSlope gives them their vertical slope.
    SlopesOfChunk(t, slope, count, least, most, [&](int32_t i, V s, V unsure) {
        if (sameY) [[unlikely]] {
            s = Select(Lt(Pixels(x0 + i, py).x, vx), Set(kLeftward), Set(0.0));
            unsure = _mm256_setzero_pd();
        }
        _mm256_store_pd(slope + i, s);
        const int redo = _mm256_movemask_pd(unsure);
        if (redo != 0) [[unlikely]]
            for (int k = 0; k < 4; ++k)
                if (redo & (1 << k)) slope[i + k] = double(LineSlope(v, PointF{float(x0 + i + k), y}));
    });
}

} // namespace

namespace {

void MapChunk(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out) {
    const V py = Set(float(y));
    alignas(32) double rowSlope[kChunk], colSlope[kChunk];
    auto slopes = [&](bool useVanish, PointF vanish, float fixed, double* slope) {
        if (useVanish) SlopesFromVanishingPoint(vanish, float(y), x0, count, slope);
        else std::fill_n(slope, count, double(fixed));
    };
    slopes(m.useRowVanish, m.rowVanish, m.kTop, rowSlope);
    slopes(m.useColVanish, m.colVanish, m.kRight, colSlope);

    auto corner = [](PointF c) { return PointV{Set(c.X), Set(c.Y)}; };
    const PointV tl = corner(m.tl), tr = corner(m.tr), bl = corner(m.bl), br = corner(m.br);
    auto intercept = [](PointF q, float k) { return Set(float(double(q.Y) - double(k) * double(q.X))); };
    const V kTop = Set(m.kTop), kBottom = Set(m.kBottom), kLeft = Set(m.kLeft), kRight = Set(m.kRight);
    const V cLeft = intercept(m.tl, m.kLeft), cRight = intercept(m.br, m.kRight);
    const V cTop = intercept(m.tr, m.kTop), cBottom = intercept(m.bl, m.kBottom);
    const V width = Set(m.width), height = Set(m.height);
    // A pixel that is a corner crosses that corner's edge at itself.
    const float first = float(x0), last = float(x0 + count - 1), row = float(y);
    auto among = [&](PointF c) { return c.Y == row && c.X >= first && c.X <= last; };
    const bool cornerInChunk = among(m.tl) || among(m.br) || among(m.tr) || among(m.bl);
    // The distances of the whole chunk first, then the ratios: the division that ends each
    // pixel's chain then does not hold back the crossings of the pixels after it.
    alignas(32) double ratios[4][kChunk];
    for (int32_t i = 0; i < count; i += 4) {
        const PointV p = Pixels(x0 + i, py);
        const V kRow = _mm256_load_pd(rowSlope + i), kCol = _mm256_load_pd(colSlope + i);

        PointV il = Crossing(p, kRow, kLeft, cLeft), ir = Crossing(p, kRow, kRight, cRight);
        PointV it = Crossing(p, kCol, kTop, cTop), ib = Crossing(p, kCol, kBottom, cBottom);
        // The fallbacks are rare: looked for only where a crossing looks unusual or a corner
        // is one of the chunk's pixels.
        const V unusual = Or(MayFallBack(il, ir), MayFallBack(it, ib));
        if (cornerInChunk || _mm256_movemask_pd(unusual) != 0) [[unlikely]] {
            il = IntersectOrCorner(p, kRow, tl, kLeft, cLeft), ir = IntersectOrCorner(p, kRow, br, kRight, cRight);
            it = IntersectOrCorner(p, kCol, tr, kTop, cTop), ib = IntersectOrCorner(p, kCol, bl, kBottom, cBottom);
        }

        V dL = Distance(il, p);
        const V squaredLR = SquaredDistance(il, ir), squaredTB = SquaredDistance(it, ib);
        const V dLR = Single(_mm256_sqrt_pd(squaredLR));
        V dT = Distance(it, p);
        const V dTB = Single(_mm256_sqrt_pd(squaredTB));
        // Negation flips the sign bit, as the scalar minus does (also for a zero).
        dL = Select(FartherThan(ir, p, dLR, squaredLR), _mm256_xor_pd(dL, Set(-0.0)), dL);
        dT = Select(FartherThan(ib, p, dTB, squaredTB), _mm256_xor_pd(dT, Set(-0.0)), dT);

        _mm256_store_pd(ratios[0] + i, dL), _mm256_store_pd(ratios[1] + i, dLR);
        _mm256_store_pd(ratios[2] + i, dT), _mm256_store_pd(ratios[3] + i, dTB);
    }
    for (int32_t i = 0; i < count; i += 4) {
        const V dL = _mm256_load_pd(ratios[0] + i), dLR = _mm256_load_pd(ratios[1] + i);
        const V dT = _mm256_load_pd(ratios[2] + i), dTB = _mm256_load_pd(ratios[3] + i);
        V u = Div(Mul(width, dL), dLR);
        V v = Div(Mul(height, dT), dTB);
        u = Select(Lt(u, Set(0.0)), Sub(u, Set(1.0)), u);
        v = Select(Lt(v, Set(0.0)), Sub(v, Set(1.0)), v);
        // Truncation; NaN and values beyond 32 bits give INT32_MIN, as TruncateToIndex does.
        const __m128i iu = _mm256_cvttpd_epi32(u), iv = _mm256_cvttpd_epi32(v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out.iu + i), iu);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out.iv + i), iv);
        _mm256_storeu_pd(out.fx + i, Sub(u, _mm256_cvtepi32_pd(iu)));
        _mm256_storeu_pd(out.fy + i, Sub(v, _mm256_cvtepi32_pd(iv)));
    }
}

} // namespace

void MapRunAvx2(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out) {
    const int32_t vectorCount = count & ~3;
    for (int32_t i = 0; i < vectorCount; i += kChunk)
        MapChunk(m, y, x0 + i, std::min(kChunk, vectorCount - i), {out.iu + i, out.iv + i, out.fx + i, out.fy + i});
    if (vectorCount < count)
        MapRunScalar(m, y, x0 + vectorCount, count - vectorCount,
                     {out.iu + vectorCount, out.iv + vectorCount, out.fx + vectorCount, out.fy + vectorCount});
}

int SlopesOfTangentsAvx2(const float* t, float* slope, int n, uint8_t* redone) {
    int count = 0;
    const int vectorCount = n & ~3;
    alignas(32) double tangents[kChunk], work[kChunk];
    for (int first = 0; first < vectorCount; first += kChunk) {
        const int chunk = std::min(kChunk, vectorCount - first);
        V least = Set(HUGE_VAL), most = Set(0.0);
        for (int i = 0; i < chunk; i += 4) {
            const V tangent = _mm256_cvtps_pd(_mm_loadu_ps(t + first + i));
            _mm256_store_pd(tangents + i, tangent);
            Widen(tangent, least, most);
        }
        SlopesOfChunk(tangents, work, chunk, least, most, [&](int32_t i, V s, V unsure) {
            _mm_storeu_ps(slope + first + i, _mm256_cvtpd_ps(s));
            const int redo = _mm256_movemask_pd(unsure);
            if (redo == 0 && redone == nullptr) return; // the common case, kept short
            for (int k = 0; k < 4; ++k) {
                const bool again = redo & (1 << k);
                if (again) slope[first + i + k] = SlopeOfTangent(t[first + i + k]), ++count;
                if (redone) redone[first + i + k] = again;
            }
        });
    }
    for (int i = vectorCount; i < n; ++i, ++count) {
        slope[i] = SlopeOfTangent(t[i]);
        if (redone) redone[i] = 1;
    }
    return count;
}

} // namespace warp
