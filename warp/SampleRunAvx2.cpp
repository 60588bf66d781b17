#include "SampleRunAvx2.h"

#include "Avx2Lanes.h"

#include <cstring>

namespace warp {

namespace {

inline V Truncated(V v) { return _mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }

// ToByte in four lanes, the bytes kept as doubles: truncation toward zero, saturating; NaN
// gives 0 (Max returns its second operand when the first is NaN, and +0 for -0).
inline V ToByteValues(V v) { return Truncated(Min(Max(v, _mm256_setzero_pd()), Set(255.0))); }

inline V Blend(V w0, V a, V w1, V b) { return ToByteValues(Add(Mul(w0, a), Mul(w1, b))); }

inline V Blend(V w0, __m128i a, V w1, __m128i b) {
    return Blend(w0, _mm256_cvtepi32_pd(a), w1, _mm256_cvtepi32_pd(b));
}

struct Pixels {
    __m128i b, g, r, a;
};

// The source pixels at (sx, sy) per lane, transparent black where not usable.
template <int Bpp>
inline Pixels Gather(const SourceView& s, __m128i sx, __m128i sy) {
    const __m128i usable = _mm_and_si128(
        _mm_and_si128(_mm_cmpgt_epi32(sx, _mm_setzero_si128()), _mm_cmpgt_epi32(_mm_set1_epi32(int32_t(s.width)), sx)),
        _mm_and_si128(_mm_cmpgt_epi32(sy, _mm_setzero_si128()), _mm_cmpgt_epi32(_mm_set1_epi32(int32_t(s.height)), sy)));
    // Offsets in 64 bits: the stride is signed. A 24-bit pixel is read as the four bytes that
    // end with it (column 0 is never usable, so the byte before it is inside the row).
    const __m256i offset = _mm256_add_epi64(_mm256_mul_epi32(_mm256_cvtepi32_epi64(sy), _mm256_set1_epi64x(s.stride)),
                                            _mm256_mul_epi32(_mm256_cvtepi32_epi64(sx), _mm256_set1_epi64x(Bpp)));
    const __m256i address = Bpp == 3 ? _mm256_sub_epi64(offset, _mm256_set1_epi64x(1)) : offset;
    // Four plain loads cost less than a gather instruction on the processors measured.
    // Lanes that are not usable read a zero instead.
    static const uint32_t zero = 0;
    const __m256i pointer = _mm256_blendv_epi8(
        _mm256_set1_epi64x(int64_t(reinterpret_cast<uintptr_t>(&zero))),
        _mm256_add_epi64(address, _mm256_set1_epi64x(int64_t(reinterpret_cast<uintptr_t>(s.scan0)))),
        _mm256_cvtepi32_epi64(usable));
    alignas(32) uint64_t at[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), pointer);
    auto load = [&](int k) {
        uint32_t value;
        std::memcpy(&value, reinterpret_cast<const void*>(at[k]), 4);
        return int32_t(value);
    };
    __m128i v = _mm_set_epi32(load(3), load(2), load(1), load(0));
    if constexpr (Bpp == 3) v = _mm_srli_epi32(v, 8);
    const __m128i byte = _mm_set1_epi32(0xFF);
    Pixels p;
    p.b = _mm_and_si128(v, byte);
    p.g = _mm_and_si128(_mm_srli_epi32(v, 8), byte);
    p.r = _mm_and_si128(_mm_srli_epi32(v, 16), byte);
    p.a = Bpp == 3 ? _mm_and_si128(usable, byte) : _mm_srli_epi32(v, 24);
    return p;
}

// The fast case of the 2 x 2 blend: four pixels whose neighbourhoods lie wholly inside the
// usable source (columns and rows 1 to size - 1). Each pixel is blended on its own with its
// four channels in the lanes, which spares the per-channel gathering, the usability masks and
// the clamping: bytes are at most 255 and the weights (fx in [0, 1), 1 - fx) add up to at
// most 1 + 2^-53, so every sum lies in [0, 256) and truncation alone gives ToByte's byte.
// Bit k set for the lanes k whose pixel has such a neighbourhood.
inline int InteriorLanes(__m128i iu, __m128i iv, __m128i lastU, __m128i lastV) {
    // iu - 1 <= width - 3 as unsigned numbers: 1 <= iu and iu + 1 <= width - 1.
    const __m128i u = _mm_sub_epi32(iu, _mm_set1_epi32(1)), v = _mm_sub_epi32(iv, _mm_set1_epi32(1));
    const __m128i inside = _mm_and_si128(_mm_cmpeq_epi32(_mm_min_epu32(u, lastU), u), _mm_cmpeq_epi32(_mm_min_epu32(v, lastV), v));
    return _mm_movemask_ps(_mm_castsi128_ps(inside));
}

// The eight bytes at p in the low half of each 128-bit lane and, in the high half, the bytes
// of 2^52 + 255, which BiasedChannels picks from.
inline __m256i RowBytes(const uint8_t* p) {
    int64_t bytes;
    std::memcpy(&bytes, p, 8);
    return _mm256_blend_epi32(_mm256_set1_epi64x(bytes), _mm256_set1_epi64x(0x43300000000000FF), 0xCC);
}

// The channels B, G, R, A of the source pixel whose bytes start at `offset` in `row` (as
// RowBytes gives it), each as the double 2^52 + channel: the byte goes into the low bits of
// 2^52. For 24-bit pixels the alpha lane gets 255.
template <int Bpp>
inline V BiasedChannels(__m256i row, int offset) {
    const char o = char(offset), z = char(0x80), b6 = 14, b7 = 15;
    const char a = Bpp == 3 ? char(8) : char(o + 3);
    const __m256i pick = _mm256_setr_epi8(o, z, z, z, z, z, b6, b7, char(o + 1), z, z, z, z, z, b6, b7,
                                          char(o + 2), z, z, z, z, z, b6, b7, a, z, z, z, z, z, b6, b7);
    return _mm256_castsi256_pd(_mm256_shuffle_epi8(row, pick));
}

// w * channel, rounded once, from the biased channels and offset = -(w * 2^52): that product
// is exact, so the fused multiply-add's exact sum is w * channel itself, and its one rounding
// is the plain product's. This spares taking 2^52 off every channel first.
inline V Weighted(V w, V offset, V biased) { return MulAdd(w, biased, offset); }

// Pixel i of the run, whose neighbourhood is interior: B, G, R, A as 32-bit integers.
template <int Bpp>
inline __m128i BlendInterior(const SourceView& s, const MappedRun& run, int32_t i) {
    const uint8_t* p = s.scan0 + int64_t(run.iv[i]) * s.stride + int64_t(run.iu[i]) * Bpp;
    // The eight bytes that end with the right-hand pixel (24-bit; column iu >= 1 has two bytes
    // before it) or that hold both pixels (32-bit), in this row and the next.
    const uint8_t* first = Bpp == 3 ? p - 2 : p;
    const __m256i above = RowBytes(first), below = RowBytes(first + s.stride);
    constexpr int left = Bpp == 3 ? 2 : 0, right = left + Bpp;
    const V fx = _mm256_broadcast_sd(run.fx + i), fy = _mm256_broadcast_sd(run.fy + i);
    const V one = Set(1.0), gx = Sub(one, fx), gy = Sub(one, fy);
    const V unbias = Set(-0x1p52);
    const V gxOffset = Mul(gx, unbias), fxOffset = Mul(fx, unbias);
    auto blend = [&](__m256i row) {
        return Truncated(Add(Weighted(gx, gxOffset, BiasedChannels<Bpp>(row, left)),
                             Weighted(fx, fxOffset, BiasedChannels<Bpp>(row, right))));
    };
    const V h0 = blend(above), h1 = blend(below);
    // The sum lies in [0, 256) and the conversion truncates: no rounding of its own.
    return _mm256_cvttpd_epi32(Add(Mul(gy, h0), Mul(fy, h1)));
}

// Stores four pixels at `out` except those whose lane in `keep` is set, which keep their
// bytes: read, blended back in and stored with the others (a run's pixels are written by one
// thread only), which costs less here than a masked store.
inline void StoreKeeping(uint8_t* out, __m128i pixels, __m128i keep) {
    const __m128i kept = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_blendv_epi8(pixels, kept, keep));
}

// Four interior pixels from i on, written to `out`. A 24-bit source is opaque, and blends of
// 255 give at least 253, so all four are written; a 32-bit one writes those with alpha.
template <int Bpp>
inline void SampleInterior(const SourceView& s, const MappedRun& run, int32_t i, uint8_t* out) {
    const __m128i packed = _mm_packus_epi16(_mm_packus_epi32(BlendInterior<Bpp>(s, run, i), BlendInterior<Bpp>(s, run, i + 1)),
                                            _mm_packus_epi32(BlendInterior<Bpp>(s, run, i + 2), BlendInterior<Bpp>(s, run, i + 3)));
    if constexpr (Bpp == 3) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed);
    } else {
        StoreKeeping(out, packed, _mm_cmpeq_epi32(_mm_and_si128(packed, _mm_set1_epi32(int32_t(0xFF000000))), _mm_setzero_si128()));
    }
}

// The pixels after the last whole vector, one at a time; kept out of line so that the main
// loop keeps its registers.
template <int Bpp, int N>
[[gnu::noinline]] void SampleTail(const SourceView& source, const MappedRun& run, const RunTarget& target,
                                  int32_t first) {
    constexpr PixelFormat kFormat = Bpp == 3 ? imaging::PixelFormat24bppRGB : imaging::PixelFormat32bppARGB;
    for (int32_t i = first; i < target.count; ++i)
        SampleInto<kFormat>(target.out + 4 * i, source, run.iu[i], run.iv[i], run.fx[i], run.fy[i], N);
}

// Bpp bytes per source pixel, neighbourhood N (1 or 2): fixed for the whole run.
template <int Bpp, int N>
void SampleRun(const SourceView& source, const MappedRun& run, const RunTarget& target) {
    // The neighbourhood of (iu, iv) reaches the usable columns 1 to width - 1 from iu = 0 on
    // with two pixels, from 1 on with one; rows alike.
    const __m128i lowest = _mm_set1_epi32(N == 2 ? 0 : 1);
    const __m128i lastColumn = _mm_set1_epi32(int32_t(source.width) - 1), lastRow = _mm_set1_epi32(int32_t(source.height) - 1);
    const V one = Set(1.0);
    const int32_t vectorCount = target.count & ~3;
    // Sources narrower or lower than 3 pixels have no interior.
    const bool interior = N == 2 && source.width >= 3 && source.height >= 3;
    const __m128i lastU = _mm_set1_epi32(int32_t(source.width) - 3), lastV = _mm_set1_epi32(int32_t(source.height) - 3);
    for (int32_t i = 0; i < vectorCount; i += 4) {
        const __m128i iu = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run.iu + i));
        const __m128i iv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run.iv + i));
        const int inner = interior ? InteriorLanes(iu, iv, lastU, lastV) : 0;
        if (inner == 0xF) {
            SampleInterior<Bpp>(source, run, i, target.out + 4 * i);
            continue;
        }
        // Passed over when every pixel's neighbourhood lies where the source counts as
        // transparent (far outside in both directions is one such case): none would be written.
        const __m128i outsideU = _mm_or_si128(_mm_cmplt_epi32(iu, lowest), _mm_cmpgt_epi32(iu, lastColumn));
        const __m128i outsideV = _mm_or_si128(_mm_cmplt_epi32(iv, lowest), _mm_cmpgt_epi32(iv, lastRow));
        const __m128i skip = _mm_or_si128(outsideU, outsideV);
        const int passed = _mm_movemask_ps(_mm_castsi128_ps(skip));
        if (passed == 0xF) continue;

        Pixels out;
        if constexpr (N == 1) {
            out = Gather<Bpp>(source, iu, iv);
        } else {
            const __m128i iu1 = _mm_add_epi32(iu, _mm_set1_epi32(1)), iv1 = _mm_add_epi32(iv, _mm_set1_epi32(1));
            const Pixels y00 = Gather<Bpp>(source, iu, iv), y01 = Gather<Bpp>(source, iu, iv1);
            const Pixels y10 = Gather<Bpp>(source, iu1, iv), y11 = Gather<Bpp>(source, iu1, iv1);
            const V fx = _mm256_loadu_pd(run.fx + i), fy = _mm256_loadu_pd(run.fy + i);
            const V gx = Sub(one, fx), gy = Sub(one, fy);
            auto channel = [&](__m128i Pixels::*c) {
                const V h0 = Blend(gx, y00.*c, fx, y10.*c);
                const V h1 = Blend(gx, y01.*c, fx, y11.*c);
                return _mm256_cvttpd_epi32(Blend(gy, h0, fy, h1));
            };
            out = {channel(&Pixels::b), channel(&Pixels::g), channel(&Pixels::r), channel(&Pixels::a)};
        }
        const __m128i packed = _mm_or_si128(_mm_or_si128(out.b, _mm_slli_epi32(out.g, 8)),
                                            _mm_or_si128(_mm_slli_epi32(out.r, 16), _mm_slli_epi32(out.a, 24)));
        const __m128i keep = _mm_or_si128(skip, _mm_cmpeq_epi32(out.a, _mm_setzero_si128()));
        StoreKeeping(target.out + 4 * i, packed, keep);
    }
    // The rest one pixel at a time.
    if (vectorCount < target.count) SampleTail<Bpp, N>(source, run, target, vectorCount);
}

} // namespace

SampleRunFunction SampleRunAvx2For(int bytesPerPixel, int n) {
    if (bytesPerPixel == 3) return n <= 1 ? SampleRun<3, 1> : SampleRun<3, 2>;
    return n <= 1 ? SampleRun<4, 1> : SampleRun<4, 2>;
}

} // namespace warp
