#include "SmoothAvx2.h"

#include "MappedRun.h"

#include <immintrin.h>

#include <climits>
#include <cstring>
#include <limits>

namespace warp {

namespace {

// n / 65025 truncated for n < 2^24, as (n * kMagic) >> 47: the product exceeds n / 65025 by
// less than 2^-23, and a quotient's fraction is at most 1 - 1/65025.
constexpr uint64_t kMagic = ((uint64_t(1) << 47) + 65024) / 65025;
constexpr bool MagicDivides() {
    for (uint64_t s = 0; s <= 65025; ++s) { // every opaque channel sum
        const uint64_t n = s * 255 + 32512;
        if ((n * kMagic) >> 47 != n / 65025) return false;
    }
    return true;
}
static_assert(kMagic < (uint64_t(1) << 32) && MagicDivides());

inline __m256i DivideBy65025(__m256i n) {
    const __m256i magic = _mm256_set1_epi64x(int64_t(kMagic));
    const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(n, magic), 47);
    const __m256i odd = _mm256_srli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(n, 32), magic), 47);
    return _mm256_or_si256(even, _mm256_slli_epi64(odd, 32));
}

struct Centres {
    __m128i x, y;   // the texel left of and above the sample, int32_t(floor)
    __m128i wx, wy; // 8-bit weights of the texel right of and below it
    int usable;     // lane bits: inside the source, one sample
    int skipped;    // lane bits: AreaSampler writes nothing (a corner without a position, or all
                    // four beyond one side of the source)
};

// Four pixels from i: AreaSampler's footprint tests and its sample position at level 0,
// operation for operation.
[[gnu::always_inline]] inline Centres FourCentres(const GridRows& g, int32_t i, __m256d width,
                                                  __m256d height) {
    const __m256d u00 = _mm256_loadu_pd(g.u0 + i), u10 = _mm256_loadu_pd(g.u0 + i + 1);
    const __m256d u01 = _mm256_loadu_pd(g.u1 + i), u11 = _mm256_loadu_pd(g.u1 + i + 1);
    const __m256d v00 = _mm256_loadu_pd(g.v0 + i), v10 = _mm256_loadu_pd(g.v0 + i + 1);
    const __m256d v01 = _mm256_loadu_pd(g.v1 + i), v11 = _mm256_loadu_pd(g.v1 + i + 1);
    const __m256d zero = _mm256_setzero_pd();
    // Inside: every corner in [0, width] x [0, height]; NaN fails.
    auto within = [&](__m256d u, __m256d v) {
        return _mm256_and_pd(
            _mm256_and_pd(_mm256_cmp_pd(u, zero, _CMP_GE_OQ), _mm256_cmp_pd(u, width, _CMP_LE_OQ)),
            _mm256_and_pd(_mm256_cmp_pd(v, zero, _CMP_GE_OQ), _mm256_cmp_pd(v, height, _CMP_LE_OQ)));
    };
    const __m256d inside = _mm256_and_pd(_mm256_and_pd(within(u00, v00), within(u10, v10)),
                                         _mm256_and_pd(within(u01, v01), within(u11, v11)));
    auto allBelow = [](__m256d a, __m256d b, __m256d c, __m256d d, __m256d bound) {
        return _mm256_and_pd(
            _mm256_and_pd(_mm256_cmp_pd(a, bound, _CMP_LT_OQ), _mm256_cmp_pd(b, bound, _CMP_LT_OQ)),
            _mm256_and_pd(_mm256_cmp_pd(c, bound, _CMP_LT_OQ), _mm256_cmp_pd(d, bound, _CMP_LT_OQ)));
    };
    auto allAbove = [](__m256d a, __m256d b, __m256d c, __m256d d, __m256d bound) {
        return _mm256_and_pd(
            _mm256_and_pd(_mm256_cmp_pd(a, bound, _CMP_GT_OQ), _mm256_cmp_pd(b, bound, _CMP_GT_OQ)),
            _mm256_and_pd(_mm256_cmp_pd(c, bound, _CMP_GT_OQ), _mm256_cmp_pd(d, bound, _CMP_GT_OQ)));
    };
    auto finite = [&](__m256d a) { return _mm256_cmp_pd(_mm256_sub_pd(a, a), zero, _CMP_EQ_OQ); };
    const __m256d allFinite = _mm256_and_pd(
        _mm256_and_pd(_mm256_and_pd(finite(u00), finite(u10)), _mm256_and_pd(finite(u01), finite(u11))),
        _mm256_and_pd(_mm256_and_pd(finite(v00), finite(v10)), _mm256_and_pd(finite(v01), finite(v11))));
    const __m256d beyond =
        _mm256_or_pd(_mm256_or_pd(allBelow(u00, u10, u01, u11, zero), allAbove(u00, u10, u01, u11, width)),
                     _mm256_or_pd(allBelow(v00, v10, v01, v11, zero), allAbove(v00, v10, v01, v11, height)));
    const int skipped = (~_mm256_movemask_pd(allFinite) & 0xF) | _mm256_movemask_pd(beyond);
    // Most of the box around a shrunk picture: nothing more to find.
    if (skipped == 0xF)
        return {
            _mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128(), 0, skipped};
    const __m256d half = _mm256_set1_pd(0.5);
    auto sum = [&](__m256d a0, __m256d a1, __m256d b0, __m256d b1) {
        return _mm256_mul_pd(_mm256_add_pd(_mm256_sub_pd(a1, a0), _mm256_sub_pd(b1, b0)), half);
    };
    const __m256d xu = sum(u00, u10, u01, u11), xv = sum(v00, v10, v01, v11);
    const __m256d yu = sum(u00, u01, u10, u11), yv = sum(v00, v01, v10, v11);
    const __m256d across = _mm256_add_pd(_mm256_mul_pd(xu, xu), _mm256_mul_pd(xv, xv));
    const __m256d down = _mm256_add_pd(_mm256_mul_pd(yu, yu), _mm256_mul_pd(yv, yv));
    // One sample a side: (1 + 1/2)^2 of level 0's pixel area reaches the side.
    const __m256d limit = _mm256_set1_pd(2.25);
    const __m256d one =
        _mm256_and_pd(_mm256_cmp_pd(limit, across, _CMP_GE_OQ), _mm256_cmp_pd(limit, down, _CMP_GE_OQ));
    // The footprint's centre, which must be left of and above the source's far edges (it
    // is on them only for a footprint of no width there).
    auto centre = [&](__m256d a00, __m256d a10, __m256d a01, __m256d a11) {
        const __m256d top = _mm256_add_pd(a00, _mm256_mul_pd(_mm256_sub_pd(a10, a00), half));
        const __m256d bottom = _mm256_add_pd(a01, _mm256_mul_pd(_mm256_sub_pd(a11, a01), half));
        return _mm256_add_pd(top, _mm256_mul_pd(_mm256_sub_pd(bottom, top), half));
    };
    const __m256d cu = centre(u00, u10, u01, u11), cv = centre(v00, v10, v01, v11);
    const __m256d onSource =
        _mm256_and_pd(_mm256_cmp_pd(cu, width, _CMP_LT_OQ), _mm256_cmp_pd(cv, height, _CMP_LT_OQ));
    // At level 0 the position times 1.0 is itself.
    const __m256d x = _mm256_sub_pd(cu, half), y = _mm256_sub_pd(cv, half);
    const __m256d fx = _mm256_floor_pd(x), fy = _mm256_floor_pd(y);
    const __m256d scale = _mm256_set1_pd(256.0);
    // Unusable lanes may hold NaN; their conversions are never used.
    return {_mm256_cvttpd_epi32(fx),
            _mm256_cvttpd_epi32(fy),
            _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_sub_pd(x, fx), scale)),
            _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_sub_pd(y, fy), scale)),
            _mm256_movemask_pd(_mm256_and_pd(_mm256_and_pd(inside, one), onSource)),
            skipped};
}

inline __m256i Join(__m128i low, __m128i high) { return _mm256_set_m128i(high, low); }

// a * (256 - w) + b * w in one product. The lanes compute it modulo 2^32, so it is exact
// wherever the true value fits 32 unsigned bits; also for two channels packed in a lane's
// 16-bit halves, as long as each half's value is at most 255 * 256.
inline __m256i Lerp(__m256i a, __m256i b, __m256i w) {
    return _mm256_add_epi32(_mm256_slli_epi32(a, 8), _mm256_mullo_epi32(_mm256_sub_epi32(b, a), w));
}

inline __m256i Times255(__m256i v) { return _mm256_sub_epi32(_mm256_slli_epi32(v, 8), v); }

// A bilinear sum rounded off 16 bits; at most 65025 * 2^16 + 2^15: unsigned lanes hold it.
inline __m256i Round16(__m256i blended) {
    return _mm256_srli_epi32(_mm256_add_epi32(blended, _mm256_set1_epi32(32768)), 16);
}

// One channel's bilinear blend with 8-bit weights, rounded off 16 bits, as Add sums it: from
// bytes that stand for themselves times 255 (a copy's, or the 24-bit source's), or from
// premultiplied values (the ARGB source's colour times its alpha).
inline __m256i Blend(__m256i t00, __m256i t10, __m256i t01, __m256i t11, __m256i wx, __m256i wy,
                     bool times255) {
    const __m256i blended = Lerp(Lerp(t00, t10, wx), Lerp(t01, t11, wx), wy);
    return Round16(times255 ? Times255(blended) : blended);
}

// The bits of each lane from `shift` up, under `mask`.
inline __m256i Bytes(__m256i t, __m256i mask, int shift) {
    return _mm256_and_si256(_mm256_srli_epi32(t, shift), mask);
}

struct TwoChannels {
    __m256i low, high;
};

// Blend of bytes times 255 for two channels at once, given in bits 0-7 and 16-23 of the lanes:
// the blends across share the products, the blends down need a lane each.
inline TwoChannels BlendTwo(__m256i t00, __m256i t10, __m256i t01, __m256i t11, __m256i wx, __m256i wy) {
    const __m256i top = Lerp(t00, t10, wx), bottom = Lerp(t01, t11, wx);
    const __m256i half = _mm256_set1_epi32(0xFFFF);
    auto down = [&](__m256i t, __m256i b) { return Round16(Times255(Lerp(t, b, wy))); };
    return {down(_mm256_and_si256(top, half), _mm256_and_si256(bottom, half)),
            down(_mm256_srli_epi32(top, 16), _mm256_srli_epi32(bottom, 16))};
}

// AreaSampler's one-sample channel of opaque texels: the blend divided by 255 * 255, rounding
// to nearest.
inline __m256i OneSampleChannel(__m256i sum) {
    return DivideBy65025(_mm256_add_epi32(Times255(sum), _mm256_set1_epi32(32512)));
}

inline __m256i LaneMask(int bits) {
    return _mm256_cmpgt_epi32(
        _mm256_and_si256(_mm256_set1_epi32(bits), _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128)),
        _mm256_setzero_si256());
}

// Where the texels of columns x and x + 1 of a row are read as one eight-byte word: from
// column x, or a few bytes earlier near the row's end, so never beyond the row; `shift` (in
// bits) moves column x's texel to the word's low bytes.
template <int Bpp>
inline __m256i PairOffset(__m256i x, __m256i width, __m256i& shift) {
    const __m256i start = Bpp == 3 ? _mm256_add_epi32(x, _mm256_add_epi32(x, x)) : _mm256_slli_epi32(x, 2);
    // Bytes the word would reach beyond the row, at most 5 (24-bit) or 4.
    const __m256i beyond =
        _mm256_max_epi32(_mm256_sub_epi32(_mm256_add_epi32(start, _mm256_set1_epi32(8)),
                                          _mm256_mullo_epi32(width, _mm256_set1_epi32(Bpp))),
                         _mm256_setzero_si256());
    shift = _mm256_slli_epi32(beyond, 3);
    return _mm256_sub_epi32(start, beyond);
}

struct TexelPairs {
    __m256i left, right; // the texels of columns x0 and x0 + 1, in the low bytes of each lane
};

// Eight lanes' pairs from one row, by eight plain loads: on the processors measured they cost
// less than gather instructions (two of four words, or four of eight texels).
template <int Bpp>
inline TexelPairs GatherPairs(const uint8_t* scan0, __m256i offset, __m256i shift) {
    alignas(32) int32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), offset);
    auto word = [&](int i) {
        uint64_t w;
        std::memcpy(&w, scan0 + at[i], 8);
        return int64_t(w);
    };
    const __m256i low = _mm256_srlv_epi64(_mm256_setr_epi64x(word(0), word(1), word(2), word(3)),
                                          _mm256_cvtepu32_epi64(_mm256_castsi256_si128(shift)));
    const __m256i high = _mm256_srlv_epi64(_mm256_setr_epi64x(word(4), word(5), word(6), word(7)),
                                           _mm256_cvtepu32_epi64(_mm256_extracti128_si256(shift, 1)));
    // The low and the high double word of each word, lanes back in order.
    const __m256i order = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256i a = _mm256_permutevar8x32_epi32(low, order), b = _mm256_permutevar8x32_epi32(high, order);
    const __m256i first = _mm256_permute2x128_si256(a, b, 0x20),
                  second = _mm256_permute2x128_si256(a, b, 0x31);
    if constexpr (Bpp == 4) return {first, second};
    // 24-bit: the right texel starts at bit 24.
    return {first, _mm256_or_si256(_mm256_srli_epi32(first, 24), _mm256_slli_epi32(second, 8))};
}

// Samples the `usable` lanes of the eight pixels at `out` and writes those whose texels are
// opaque; returns their lane bits.
template <int Bpp>
int RenderEight(const LevelView& source, const Centres& low, const Centres& high, int usable, uint8_t* out) {
    const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi32(1);
    const __m256i lastColumn = _mm256_set1_epi32(source.width - 1),
                  lastRow = _mm256_set1_epi32(source.height - 1);
    const __m256i fx = Join(low.x, high.x), fy = Join(low.y, high.y);
    const __m256i x0 = _mm256_max_epi32(fx, zero),
                  x1 = _mm256_min_epi32(_mm256_add_epi32(fx, one), lastColumn);
    const __m256i y0 = _mm256_max_epi32(fy, zero), y1 = _mm256_min_epi32(_mm256_add_epi32(fy, one), lastRow);
    __m256i shift;
    const __m256i column = PairOffset<Bpp>(x0, _mm256_set1_epi32(source.width), shift);
    const __m256i stride = _mm256_set1_epi32(int32_t(source.stride));
    const __m256i lanes = LaneMask(usable); // the others read texel (0, 0)
    auto row = [&](__m256i y) {
        return GatherPairs<Bpp>(
            source.scan0, _mm256_and_si256(_mm256_add_epi32(_mm256_mullo_epi32(y, stride), column), lanes),
            _mm256_and_si256(shift, lanes));
    };
    const TexelPairs p0 = row(y0), p1 = row(y1);
    // Where the sample is clamped at the first or last column, both texels are the one.
    const __m256i alike = _mm256_cmpeq_epi32(x0, x1);
    const __m256i t00 = p0.left, t10 = _mm256_blendv_epi8(p0.right, p0.left, alike);
    const __m256i t01 = p1.left, t11 = _mm256_blendv_epi8(p1.right, p1.left, alike);
    int opaque = usable;
    if constexpr (Bpp == 4) {
        const __m256i alphas =
            _mm256_srli_epi32(_mm256_and_si256(_mm256_and_si256(t00, t10), _mm256_and_si256(t01, t11)), 24);
        opaque &=
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(alphas, _mm256_set1_epi32(0xFF))));
        if (opaque == 0) return 0;
    }
    const __m256i wx = Join(low.wx, high.wx), wy = Join(low.wy, high.wy);
    const __m256i pair = _mm256_set1_epi32(0x00FF00FF), byte = _mm256_set1_epi32(0xFF);
    const TwoChannels br =
        BlendTwo(Bytes(t00, pair, 0), Bytes(t10, pair, 0), Bytes(t01, pair, 0), Bytes(t11, pair, 0), wx, wy);
    const __m256i b = OneSampleChannel(br.low), r = OneSampleChannel(br.high);
    const __m256i g = OneSampleChannel(Blend(Bytes(t00, byte, 8), Bytes(t10, byte, 8), Bytes(t01, byte, 8),
                                             Bytes(t11, byte, 8), wx, wy, true));
    const __m256i pixels =
        _mm256_or_si256(_mm256_or_si256(b, _mm256_slli_epi32(g, 8)),
                        _mm256_or_si256(_mm256_slli_epi32(r, 16), _mm256_set1_epi32(int32_t(0xFF000000u))));
    _mm256_maskstore_epi32(reinterpret_cast<int*>(out), LaneMask(opaque), pixels);
    return opaque;
}

template <int Bpp>
void OneSampleRun(const LevelView& source, const GridRows& grid, int32_t count, uint8_t* out, uint8_t* done) {
    const __m256d width = _mm256_set1_pd(double(source.width)),
                  height = _mm256_set1_pd(double(source.height));
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const Centres low = FourCentres(grid, i, width, height),
                      high = FourCentres(grid, i + 4, width, height);
        const int usable = low.usable | high.usable << 4, skipped = low.skipped | high.skipped << 4;
        const int written =
            usable != 0 ? RenderEight<Bpp>(source, low, high, usable, out + 4 * int64_t(i)) : 0;
        for (int j = 0; j < 8; ++j) done[i + j] = uint8_t((written | skipped) >> j & 1);
    }
    std::memset(done + i, 0, size_t(count - i));
}

// A footprint's corners and sides, broadcast, and four of its points (tx, ty) of the way across
// and down, as AreaSampler::At computes them.
struct FootprintLanes {
    __m256d u00, u01, v00, v01, du0, du1, dv0, dv1;
    explicit FootprintLanes(const Footprint& f)
        : u00(_mm256_set1_pd(f.u00)),
          u01(_mm256_set1_pd(f.u01)),
          v00(_mm256_set1_pd(f.v00)),
          v01(_mm256_set1_pd(f.v01)),
          du0(_mm256_set1_pd(f.u10 - f.u00)),
          du1(_mm256_set1_pd(f.u11 - f.u01)),
          dv0(_mm256_set1_pd(f.v10 - f.v00)),
          dv1(_mm256_set1_pd(f.v11 - f.v01)) {}
    void At(__m256d tx, __m256d ty, __m256d& u, __m256d& v) const {
        auto at = [&](__m256d a0, __m256d d0, __m256d a1, __m256d d1) {
            const __m256d top = _mm256_add_pd(a0, _mm256_mul_pd(d0, tx));
            const __m256d bottom = _mm256_add_pd(a1, _mm256_mul_pd(d1, tx));
            return _mm256_add_pd(top, _mm256_mul_pd(_mm256_sub_pd(bottom, top), ty));
        };
        u = at(u00, du0, u01, du1);
        v = at(v00, dv0, v01, dv1);
    }
};

// The source positions of a pixel's nx x ny samples, row after row, as AreaSampler::At
// places them; the four after the last are scratch.
struct GridPositions {
    alignas(32) double u[kMaxSamples * kMaxSamples + 4];
    alignas(32) double v[kMaxSamples * kMaxSamples + 4];
};

void PlaceSamples(const FootprintLanes& f, int nx, int ny, GridPositions& p) {
    for (int j = 0; j < ny; ++j) {
        const __m256d ty = _mm256_set1_pd(kOffsets.at[ny][j]);
        for (int i = 0; i < nx; i += 4) {
            // Past nx the offsets are 0: scratch lanes, overwritten by the next row.
            __m256d u, v;
            f.At(_mm256_loadu_pd(&kOffsets.at[nx][i]), ty, u, v);
            _mm256_storeu_pd(p.u + j * nx + i, u);
            _mm256_storeu_pd(p.v + j * nx + i, v);
        }
    }
}

// The offsets across and down of each sample of a grid of at most 16 samples and 8 a side,
// lane by lane in the order GridPositions holds them; lanes past the grid's samples are 0.
// Such grids are placed in registers, four samples at a time.
struct LaneOffsets {
    static constexpr int kSide = 8, kLanes = 16;
    double tx[kSide + 1][kSide + 1][kLanes], ty[kSide + 1][kSide + 1][kLanes];
    constexpr LaneOffsets() : tx{}, ty{} {
        for (int nx = 1; nx <= kSide; ++nx)
            for (int ny = 1; ny <= kSide && nx * ny <= kLanes; ++ny)
                for (int l = 0; l < nx * ny; ++l) {
                    tx[nx][ny][l] = kOffsets.at[nx][l % nx];
                    ty[nx][ny][l] = kOffsets.at[ny][l / nx];
                }
    }
};
constexpr LaneOffsets kLaneOffsets{};

struct FourSamples {
    __m128i x, y, wx, wy; // as in Centres
    int onSource;         // lane bits
};

// Four samples' texels and weights in a level, as AreaSampler::Add finds them.
[[gnu::always_inline]] inline FourSamples Four(__m256d uu, __m256d vv, __m256d width, __m256d height,
                                               __m256d toLevel) {
    const __m256d zero = _mm256_setzero_pd();
    const __m256d on = _mm256_and_pd(
        _mm256_and_pd(_mm256_cmp_pd(uu, zero, _CMP_GE_OQ), _mm256_cmp_pd(uu, width, _CMP_LT_OQ)),
        _mm256_and_pd(_mm256_cmp_pd(vv, zero, _CMP_GE_OQ), _mm256_cmp_pd(vv, height, _CMP_LT_OQ)));
    const __m256d half = _mm256_set1_pd(0.5), scale = _mm256_set1_pd(256.0);
    const __m256d x = _mm256_sub_pd(_mm256_mul_pd(uu, toLevel), half),
                  y = _mm256_sub_pd(_mm256_mul_pd(vv, toLevel), half);
    const __m256d fx = _mm256_floor_pd(x), fy = _mm256_floor_pd(y);
    // Lanes off the source may hold anything; their conversions are never used.
    return {_mm256_cvttpd_epi32(fx), _mm256_cvttpd_epi32(fy),
            _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_sub_pd(x, fx), scale)),
            _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_sub_pd(y, fy), scale)), _mm256_movemask_pd(on)};
}

// The sums of the samples of one level, eight lanes at a time, kept apart for the lower and
// the upper four lanes.
template <LevelKind K>
class GridSums {
public:
    GridSums(const LevelView& level, double toLevel, double width, double height)
        : m_level(level),
          m_width(_mm256_set1_pd(width)),
          m_height(_mm256_set1_pd(height)),
          m_scale(_mm256_set1_pd(toLevel)),
          m_lastColumn(_mm256_set1_epi32(level.width - 1)),
          m_lastRow(_mm256_set1_epi32(level.height - 1)),
          m_columns(_mm256_set1_epi32(level.width)),
          m_stride(_mm256_set1_epi32(int32_t(level.stride))) {}

    FourSamples Four(__m256d u, __m256d v) const { return warp::Four(u, v, m_width, m_height, m_scale); }

    // Adds the samples of lanes `used` (a's in the lower four, b's in the upper).
    [[gnu::always_inline]] void Add(const FourSamples& a, const FourSamples& b, int used) {
        constexpr int Bpp = K == LevelKind::Rgb24 ? 3 : 4;
        if (used == 0) return;
        const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi32(1);
        const __m256i byte = _mm256_set1_epi32(0xFF);
        const __m256i lanes = LaneMask(used); // the others read texel (0, 0) and add nothing
        const __m256i fx = Join(a.x, b.x), fy = Join(a.y, b.y);
        const __m256i x0 = _mm256_max_epi32(fx, zero),
                      x1 = _mm256_min_epi32(_mm256_add_epi32(fx, one), m_lastColumn);
        const __m256i y0 = _mm256_max_epi32(fy, zero),
                      y1 = _mm256_min_epi32(_mm256_add_epi32(fy, one), m_lastRow);
        __m256i shift;
        const __m256i column = PairOffset<Bpp>(x0, m_columns, shift);
        auto row = [&](__m256i y) {
            return GatherPairs<Bpp>(
                m_level.scan0,
                _mm256_and_si256(_mm256_add_epi32(_mm256_mullo_epi32(y, m_stride), column), lanes),
                _mm256_and_si256(shift, lanes));
        };
        const TexelPairs p0 = row(y0), p1 = row(y1);
        const __m256i alike = _mm256_cmpeq_epi32(x0, x1); // clamped at the first or last column
        const __m256i t00 = p0.left, t10 = _mm256_blendv_epi8(p0.right, p0.left, alike);
        const __m256i t01 = p1.left, t11 = _mm256_blendv_epi8(p1.right, p1.left, alike);
        const __m256i wx = Join(a.wx, b.wx), wy = Join(a.wy, b.wy);
        auto add = [&](int c, __m256i value) {
            m_acc[c] = _mm256_add_epi32(m_acc[c], _mm256_and_si256(value, lanes));
        };
        if constexpr (K == LevelKind::Argb32) { // colour times alpha, alpha times 255
            for (int c = 0; c < 4; ++c) {
                auto premultiplied = [&](__m256i t) {
                    return _mm256_mullo_epi32(Bytes(t, byte, 8 * c),
                                              c == 3 ? _mm256_set1_epi32(255) : _mm256_srli_epi32(t, 24));
                };
                add(c, Blend(premultiplied(t00), premultiplied(t10), premultiplied(t01), premultiplied(t11),
                             wx, wy, false));
            }
        } else { // channels 0 and 2 together, then 1 and 3 (premultiplied) or 1 alone (24-bit)
            const __m256i pair = _mm256_set1_epi32(0x00FF00FF);
            auto two = [&](int first) {
                const int shift = 8 * first;
                const TwoChannels v = BlendTwo(Bytes(t00, pair, shift), Bytes(t10, pair, shift),
                                               Bytes(t01, pair, shift), Bytes(t11, pair, shift), wx, wy);
                add(first, v.low);
                add(first + 2, v.high);
            };
            two(0);
            if constexpr (K == LevelKind::Pargb32)
                two(1);
            else
                add(1, Blend(Bytes(t00, byte, 8), Bytes(t10, byte, 8), Bytes(t01, byte, 8),
                             Bytes(t11, byte, 8), wx, wy, true));
        }
        if constexpr (K == LevelKind::Rgb24) {
            m_opaque[0] += uint64_t(__builtin_popcount(unsigned(used & 0xF)));
            m_opaque[1] += uint64_t(__builtin_popcount(unsigned(used >> 4)));
        }
    }

    // Adds the lower lanes' sums to `low` and the upper ones' to `high`, which may be the same.
    // At most 256 samples of at most 255 * 255 each: a channel's sum over all lanes fits 32
    // bits, so the lanes are added in 32 bits, the four channels at once.
    void AddTo(uint64_t low[4], uint64_t high[4]) const {
        const __m256i pairs =
            _mm256_hadd_epi32(_mm256_hadd_epi32(m_acc[0], m_acc[1]), _mm256_hadd_epi32(m_acc[2], m_acc[3]));
        alignas(32) uint32_t total[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(total), pairs);
        for (int c = 0; c < 4; ++c) {
            low[c] += total[c];
            high[c] += total[4 + c];
        }
        if constexpr (K == LevelKind::Rgb24) { // each opaque sample adds 255 * 255 of alpha
            low[3] += m_opaque[0] * 255u * 255u;
            high[3] += m_opaque[1] * 255u * 255u;
        }
    }

private:
    const LevelView& m_level;
    const __m256d m_width, m_height, m_scale;
    const __m256i m_lastColumn, m_lastRow, m_columns, m_stride;
    __m256i m_acc[4] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(),
                        _mm256_setzero_si256()};
    uint64_t m_opaque[2] = {0, 0}; // 24-bit: opaque samples in the lower and the upper lanes
};

// Whether a grid is placed from kLaneOffsets.
inline bool FromLaneOffsets(int nx, int ny) {
    return nx <= LaneOffsets::kSide && ny <= LaneOffsets::kSide && nx * ny <= LaneOffsets::kLanes;
}

// Samples s to s + 3 of an nx x ny grid placed from kLaneOffsets.
template <LevelKind K>
[[gnu::always_inline]] inline FourSamples FourOfGrid(const GridSums<K>& sums, const FootprintLanes& footprint,
                                                     int nx, int ny, int s) {
    __m256d u, v;
    footprint.At(_mm256_loadu_pd(kLaneOffsets.tx[nx][ny] + s), _mm256_loadu_pd(kLaneOffsets.ty[nx][ny] + s),
                 u, v);
    return sums.Four(u, v);
}

template <LevelKind K>
void SampleGrid(const LevelView& level, const Footprint& f, int nx, int ny, double toLevel, double width,
                double height, uint64_t sum[4]) {
    GridSums<K> sums(level, toLevel, width, height);
    const int n = nx * ny;
    auto used = [&](const FourSamples& a, const FourSamples& b, int s) {
        const int bits = a.onSource | b.onSource << 4;
        return n - s < 8 ? bits & ((1 << (n - s)) - 1) : bits;
    };
    const FootprintLanes footprint(f);
    if (FromLaneOffsets(nx, ny)) {
        for (int s = 0; s < n; s += 8) {
            const FourSamples a = FourOfGrid(sums, footprint, nx, ny, s),
                              b = FourOfGrid(sums, footprint, nx, ny, s + 4);
            sums.Add(a, b, used(a, b, s));
        }
    } else {
        GridPositions p;
        PlaceSamples(footprint, nx, ny, p);
        for (int s = 0; s < n; s += 8) {
            const FourSamples a = sums.Four(_mm256_loadu_pd(p.u + s), _mm256_loadu_pd(p.v + s)),
                              b = sums.Four(_mm256_loadu_pd(p.u + s + 4), _mm256_loadu_pd(p.v + s + 4));
            sums.Add(a, b, used(a, b, s));
        }
    }
    sums.AddTo(sum, sum);
}

// Two pixels' grids of at most four samples each in one pass of eight lanes.
template <LevelKind K>
void SampleGridPair(const LevelView& level, const GridOfPixel& first, const GridOfPixel& second,
                    double toLevel, double width, double height, uint64_t sums[2][4]) {
    GridSums<K> grid(level, toLevel, width, height);
    const FourSamples a = FourOfGrid(grid, FootprintLanes(first.f), first.nx, first.ny, 0),
                      b = FourOfGrid(grid, FootprintLanes(second.f), second.nx, second.ny, 0);
    const int used = (a.onSource & ((1 << (first.nx * first.ny)) - 1)) |
                     (b.onSource & ((1 << (second.nx * second.ny)) - 1)) << 4;
    grid.Add(a, b, used);
    grid.AddTo(sums[0], sums[1]);
}

} // namespace

void MapGridRowAvx2(const Homography& toSource, int32_t y, int32_t x0, int32_t count, double* u, double* v) {
    const double* m = toSource.m;
    const __m256d yy = _mm256_set1_pd(double(y));
    // The terms in y, as Map adds them: m[1] y + m[2] and so on.
    const __m256d rowX = _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(m[1]), yy), _mm256_set1_pd(m[2]));
    const __m256d rowY = _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(m[4]), yy), _mm256_set1_pd(m[5]));
    const __m256d rowW = _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(m[7]), yy), _mm256_set1_pd(m[8]));
    const __m256d m0 = _mm256_set1_pd(m[0]), m3 = _mm256_set1_pd(m[3]), m6 = _mm256_set1_pd(m[6]);
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m256d x = _mm256_add_pd(_mm256_set1_pd(double(int64_t(x0) + i)), _mm256_setr_pd(0, 1, 2, 3));
        const __m256d w = _mm256_add_pd(_mm256_mul_pd(m6, x), rowW);
        _mm256_storeu_pd(u + i, _mm256_div_pd(_mm256_add_pd(_mm256_mul_pd(m0, x), rowX), w));
        _mm256_storeu_pd(v + i, _mm256_div_pd(_mm256_add_pd(_mm256_mul_pd(m3, x), rowY), w));
    }
    for (; i < count; ++i) {
        const Homography::Mapped p = toSource.Map(double(int64_t(x0) + i), double(y));
        u[i] = p.x;
        v[i] = p.y;
    }
}

int32_t UnmovedPositionsAvx2(const int32_t* index, const double* fraction, int32_t n, bool culled,
                             double* position) {
    const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0),
                  none = _mm256_set1_pd(std::numeric_limits<double>::quiet_NaN());
    const __m128i unmapped = _mm_set1_epi32(INT32_MIN), left = _mm_set1_epi32(culled ? kUnmapped : INT32_MIN);
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(index + i));
        const __m256d f = _mm256_loadu_pd(fraction + i);
        const __m256d p = _mm256_add_pd(_mm256_cvtepi32_pd(k), f);
        const __m256d moved = _mm256_blendv_pd(p, _mm256_add_pd(p, one), _mm256_cmp_pd(p, zero, _CMP_LT_OQ));
        const __m256d leftOut =
            _mm256_and_pd(_mm256_castsi256_pd(_mm256_cvtepi32_epi64(_mm_cmpeq_epi32(k, left))),
                          _mm256_cmp_pd(f, zero, _CMP_EQ_OQ));
        const __m256d missing =
            _mm256_or_pd(_mm256_castsi256_pd(_mm256_cvtepi32_epi64(_mm_cmpeq_epi32(k, unmapped))), leftOut);
        _mm256_storeu_pd(position + i, _mm256_blendv_pd(moved, none, missing));
    }
    return i;
}

int32_t PointSidesAvx2(const double* u, const double* v, int32_t n, double width, double height,
                       uint8_t* sides) {
    const __m256d zero = _mm256_setzero_pd(), w = _mm256_set1_pd(width), h = _mm256_set1_pd(height);
    auto bit = [](__m256d mask, int64_t value) {
        return _mm256_and_si256(_mm256_castpd_si256(mask), _mm256_set1_epi64x(value));
    };
    // The low byte of each 64-bit lane to bytes 0 and 1 of each half.
    const __m256i low = _mm256_setr_epi8(0, 8, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 8,
                                         -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d pu = _mm256_loadu_pd(u + i), pv = _mm256_loadu_pd(v + i);
        __m256i flags = _mm256_or_si256(bit(_mm256_cmp_pd(pu, zero, _CMP_LT_OQ), 1),
                                        bit(_mm256_cmp_pd(pu, w, _CMP_GT_OQ), 2));
        flags = _mm256_or_si256(flags, bit(_mm256_cmp_pd(pv, zero, _CMP_LT_OQ), 4));
        flags = _mm256_or_si256(flags, bit(_mm256_cmp_pd(pv, h, _CMP_GT_OQ), 8));
        flags = _mm256_or_si256(flags, bit(_mm256_cmp_pd(_mm256_add_pd(pu, pv), zero, _CMP_UNORD_Q), 16));
        const __m256i packed = _mm256_shuffle_epi8(flags, low);
        const int32_t four = _mm_cvtsi128_si32(
            _mm_unpacklo_epi16(_mm256_castsi256_si128(packed), _mm256_extracti128_si256(packed, 1)));
        std::memcpy(sides + i, &four, 4);
    }
    return i;
}

OneSampleRunFunction OneSampleRunAvx2For(const LevelView& source, int bytesPerPixel) {
    // Offsets from the first row's start in 32 bits; a row's last pair read from before its end.
    const int64_t extent = (source.stride < 0 ? -source.stride : source.stride) * int64_t(source.height);
    if (source.width < 3 || source.height < 1 || extent >= (int64_t(1) << 31)) return nullptr;
    if (bytesPerPixel == 3) return OneSampleRun<3>;
    if (bytesPerPixel == 4) return OneSampleRun<4>;
    return nullptr;
}

GridKernels SampleGridAvx2For(const LevelView& level, LevelKind kind) {
    // A texel pair is read as a word that starts no earlier than its row.
    const int bytesPerPixel = kind == LevelKind::Rgb24 ? 3 : 4;
    const int64_t extent = (level.stride < 0 ? -level.stride : level.stride) * int64_t(level.height);
    if (int64_t(level.width) * bytesPerPixel < 8 || level.height < 1 || extent >= (int64_t(1) << 31))
        return {};
    switch (kind) {
    case LevelKind::Rgb24: return {SampleGrid<LevelKind::Rgb24>, SampleGridPair<LevelKind::Rgb24>};
    case LevelKind::Argb32: return {SampleGrid<LevelKind::Argb32>, SampleGridPair<LevelKind::Argb32>};
    case LevelKind::Pargb32: return {SampleGrid<LevelKind::Pargb32>, SampleGridPair<LevelKind::Pargb32>};
    }
    return {};
}

} // namespace warp
