#pragma once
// Internal to the smooth warp: one destination pixel from the source positions of its four
// corners, as SmoothWarp.h describes it. The source's level 0 is read in its own format F,
// the reduced copies in 32bppPARGB.

#include "imaging/PixelCodec.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include <emmintrin.h>

namespace warp {

struct LevelView {
    const uint8_t* scan0;
    int64_t stride; // signed
    int32_t width, height;
    const uint32_t* palette; // level 0's, for indexed formats
};

constexpr int kMaxLevels = 4;
constexpr int kMaxSamples = 16; // per side of a pixel
constexpr int kEdgeSamples = 8; // per side, at least, where a pixel reaches beyond the source

// Where sample i of n lies across a pixel: (2i + 1) / 2n.
struct SampleOffsets {
    double at[kMaxSamples + 1][kMaxSamples];
    constexpr SampleOffsets() : at{} {
        for (int n = 1; n <= kMaxSamples; ++n)
            for (int i = 0; i < n; ++i) at[n][i] = double(2 * i + 1) / double(2 * n);
    }
};
inline constexpr SampleOffsets kOffsets{};

// The mapped corners of a destination pixel: (x, y), (x + 1, y), (x, y + 1), (x + 1, y + 1).
// The sampler reads each corner's (u, v) as a pair.
struct Footprint {
    double u00, v00, u10, v10, u01, v01, u11, v11;
};
static_assert(sizeof(Footprint) == 8 * sizeof(double));

// A footprint's mean sides, across and down, in source pixels, squared.
struct Sides {
    double across, down;
};
inline Sides SidesOf(const Footprint& f) {
    const double xu = ((f.u10 - f.u00) + (f.u11 - f.u01)) * 0.5, xv = ((f.v10 - f.v00) + (f.v11 - f.v01)) * 0.5;
    const double yu = ((f.u01 - f.u00) + (f.u11 - f.u10)) * 0.5, yv = ((f.v01 - f.v00) + (f.v11 - f.v10)) * 0.5;
    return {xu * xu + xv * xv, yu * yu + yv * yv};
}
// Copy k + 1 serves footprints whose shorter side is at least 3.5 pixels of copy k: this, squared.
constexpr double kCopySideSquared = 12.25;
// Whether the footprint wants a reduced copy: its shorter side at least 3.5 source pixels.
inline bool WantsCopy(const Sides& s) { return std::min(s.across, s.down) >= kCopySideSquared; }

// Adds to `sum` the samples of an nx x ny grid over footprint `f` that lie on the source
// (`width` x `height` level-0 pixels), read from `level` at `toLevel` of level 0's scale, with
// the values the sampler's own loop adds for them one by one: a vector kernel's stand-in for
// that loop, for one kind of level.
using SampleGridFunction = void (*)(const LevelView& level, const Footprint& f, int nx, int ny,
                                    double toLevel, double width, double height, uint64_t sum[4]);

// A pixel's footprint and its grid of samples.
struct GridOfPixel {
    Footprint f;
    int nx, ny;
};
// The same for two pixels of at most four samples each, read from one level: `sums[0]` gets
// the first's, `sums[1]` the second's.
using SampleGridPairFunction = void (*)(const LevelView& level, const GridOfPixel& first,
                                        const GridOfPixel& second, double toLevel, double width,
                                        double height, uint64_t sums[2][4]);
struct GridKernels {
    SampleGridFunction grid = nullptr;
    SampleGridPairFunction pair = nullptr;
};

// A pixel of at most four samples held back to be sampled together with the next such pixel
// of its level; one per thread, flushed (AreaSampler::Flush) before its pixels are read.
struct HeldPixel {
    GridOfPixel grid;
    uint8_t* out = nullptr; // none held
    int k = 0;
};

// What became of a pixel.
enum class PixelOutcome {
    Written,
    Left,     // beyond the source, of alpha 0, or its copy below the pass's
    Deferred, // its copy is not among the levels given
    Held,     // in the HeldPixel given, to be written with another or by Flush
};

template <imaging::PixelFormat F>
class AreaSampler {
public:
    // `levels[0]` is the source in format F, `levels[k]` copy k; `count` of them given, and
    // the copy is chosen from 0 to `copies`, which may be more. `grids[k]`, where given,
    // adds the samples of pixels read from level k (its pair kernel two small grids at once).
    AreaSampler(const LevelView* levels, int count, int copies, double width, double height,
                const std::array<GridKernels, kMaxLevels + 1>& grids = {})
        : m_levels(levels),
          m_top(count - 1),
          m_copies(copies),
          m_width(width),
          m_height(height),
          m_grids(grids) {}

    // Writes the pixel of footprint `f` to `out` (B, G, R, A, straight) unless it is beyond the
    // source or its alpha is 0, if its copy is `fromLevel` or above and among those given.
    // With `held`, a pixel of few samples may wait there for another (the outcome of the one
    // written with it is not told).
    PixelOutcome Pixel(const Footprint& f, uint8_t* out, int fromLevel = 0, HeldPixel* held = nullptr) const {
        const int result = Render(f, out, fromLevel, held);
        return result == 2  ? PixelOutcome::Held
               : result < 0 ? PixelOutcome::Deferred
               : result     ? PixelOutcome::Written
                            : PixelOutcome::Left;
    }

    // Writes the pixel `held` holds, if any.
    void Flush(HeldPixel& held) const {
        if (held.out == nullptr) return;
        uint64_t sum[4] = {0, 0, 0, 0};
        const int k = held.k;
        m_grids[size_t(k)].grid(m_levels[k], held.grid.f, held.grid.nx, held.grid.ny, ToLevel(k), m_width,
                                m_height, sum);
        Average(sum, uint64_t(held.grid.nx) * uint64_t(held.grid.ny), held.out);
        held.out = nullptr;
    }

private:
    static double ToLevel(int k) {
        static constexpr double kToLevel[kMaxLevels + 1] = {1.0, 0.5, 0.25, 0.125, 0.0625};
        return kToLevel[k];
    }

    // 1 written, 0 left, -1 deferred, 2 held.
    int Render(const Footprint& f, uint8_t* out, int fromLevel, HeldPixel* held) const {
        // The corners as (u, v) pairs, each side of the source in one lane. x - x is 0 for a
        // finite x only.
        const __m128d c0 = _mm_loadu_pd(&f.u00), c1 = _mm_loadu_pd(&f.u10), c2 = _mm_loadu_pd(&f.u01),
                      c3 = _mm_loadu_pd(&f.u11);
        const __m128d zero = _mm_setzero_pd(), far = _mm_setr_pd(m_width, m_height);
        auto finite = [&](__m128d c) { return _mm_cmpeq_pd(_mm_sub_pd(c, c), zero); };
        if (_mm_movemask_pd(
                _mm_and_pd(_mm_and_pd(finite(c0), finite(c1)), _mm_and_pd(finite(c2), finite(c3)))) != 3)
            return false;
        const __m128d before[4] = {_mm_cmplt_pd(c0, zero), _mm_cmplt_pd(c1, zero), _mm_cmplt_pd(c2, zero),
                                   _mm_cmplt_pd(c3, zero)};
        const __m128d after[4] = {_mm_cmpgt_pd(c0, far), _mm_cmpgt_pd(c1, far), _mm_cmpgt_pd(c2, far),
                                  _mm_cmpgt_pd(c3, far)};
        auto all = [](const __m128d m[4]) {
            return _mm_and_pd(_mm_and_pd(m[0], m[1]), _mm_and_pd(m[2], m[3]));
        };
        auto any = [](const __m128d m[4]) { return _mm_or_pd(_mm_or_pd(m[0], m[1]), _mm_or_pd(m[2], m[3])); };
        if (_mm_movemask_pd(_mm_or_pd(all(before), all(after))) != 0) return false; // beyond one side
        const bool inside = _mm_movemask_pd(_mm_or_pd(any(before), any(after))) == 0;

        const Sides sides = SidesOf(f);
        const double across = sides.across, down = sides.down;
        int k = 0;
        while (k < m_copies && std::min(across, down) >= kCopySideSquared * double(int64_t(1) << (2 * k)))
            ++k;
        if (k < fromLevel) return 0;
        if (k > m_top) return -1;
        const double toLevel = ToLevel(k), area = double(int64_t(1) << (2 * k));
        int nx = Count(across, area), ny = Count(down, area);
        if (!inside) {
            nx = std::max(nx, kEdgeSamples);
            ny = std::max(ny, kEdgeSamples);
        }

        const LevelView& level = m_levels[k];
        if (nx == 1 && ny == 1) return One(level, k, f, toLevel, out);
        const GridKernels& kernels = m_grids[size_t(k)];
        if (held && kernels.pair && nx * ny <= 4) {
            if (held->out && held->k != k) Flush(*held);
            if (held->out == nullptr) {
                *held = {{f, nx, ny}, out, k};
                return 2;
            }
            uint64_t sums[2][4] = {};
            kernels.pair(level, held->grid, {f, nx, ny}, toLevel, m_width, m_height, sums);
            Average(sums[0], uint64_t(held->grid.nx) * uint64_t(held->grid.ny), held->out);
            held->out = nullptr;
            return Average(sums[1], uint64_t(nx) * uint64_t(ny), out);
        }
        uint64_t sum[4] = {0, 0, 0, 0};
        if (kernels.grid) {
            kernels.grid(level, f, nx, ny, toLevel, m_width, m_height, sum);
        } else {
            for (int j = 0; j < ny; ++j)
                for (int i = 0; i < nx; ++i) {
                    const Position p = At(f, kOffsets.at[nx][i], kOffsets.at[ny][j]);
                    if (!(p.u >= 0.0 && p.u < m_width && p.v >= 0.0 && p.v < m_height)) continue;
                    Add(level, k, p.u * toLevel - 0.5, p.v * toLevel - 0.5, sum);
                }
        }
        return Average(sum, uint64_t(nx) * uint64_t(ny), out);
    }

    // Samples along a side of squared length `side` in a copy whose pixels have area `area`:
    // the least n with (n + 1/2)^2 pixels' area reaching it, so that one sample serves up to
    // one and a half pixels.
    static int Count(double side, double area) {
        for (int n = 1; n < kMaxSamples; ++n)
            if ((n + 0.5) * (n + 0.5) * area >= side) return n;
        return kMaxSamples;
    }

    // a / b truncated, for a / b below 2^8 and b below 2^25, as a double division gives it
    // exactly (its rounding cannot reach the next integer) and several times faster than a
    // 64-bit one.
    static uint64_t Quotient(uint64_t a, uint64_t b) { return uint64_t(double(a) / double(b)); }

    // Premultiplied channels of one texel, scaled by 255: colour times alpha, alpha times 255.
    using Texel = std::array<uint32_t, 4>;

    Texel Read(const LevelView& level, int k, int32_t x, int32_t y) const {
        const uint8_t* row = level.scan0 + int64_t(y) * level.stride;
        if (k > 0) {
            const uint8_t* p = row + 4 * int64_t(x);
            return {p[0] * 255u, p[1] * 255u, p[2] * 255u, p[3] * 255u};
        }
        imaging::Bgra c;
        if constexpr (F == imaging::PixelFormat24bppRGB) {
            const uint8_t* p = row + 3 * int64_t(x);
            return {p[0] * 255u, p[1] * 255u, p[2] * 255u, 255u * 255u};
        } else if constexpr (F == imaging::PixelFormat32bppARGB) {
            const uint8_t* p = row + 4 * int64_t(x);
            c = {p[0], p[1], p[2], p[3]};
        } else {
            c = imaging::ReadTrueColor<F>(row, x, level.palette);
        }
        const uint32_t a = c.A;
        return {c.B * a, c.G * a, c.R * a, a * 255u};
    }

    struct Position {
        double u, v;
    };
    // The point (tx, ty) of the way across and down the footprint.
    static Position At(const Footprint& f, double tx, double ty) {
        const double topU = f.u00 + (f.u10 - f.u00) * tx, bottomU = f.u01 + (f.u11 - f.u01) * tx;
        const double topV = f.v00 + (f.v10 - f.v00) * tx, bottomV = f.v01 + (f.v11 - f.v01) * tx;
        return {topU + (bottomU - topU) * ty, topV + (bottomV - topV) * ty};
    }

    // Writes the averages of `samples` samples' sums: the alpha byte over all of them, the
    // colour over the covered part, each rounded to nearest. False for alpha 0.
    static bool Average(const uint64_t sum[4], uint64_t samples, uint8_t* out) {
        const uint64_t all = samples * 255u;
        const uint64_t alpha = Quotient(sum[3] + all / 2, all);
        if (alpha == 0) return false;
        for (int c = 0; c < 3; ++c)
            out[c] = uint8_t(std::min<uint64_t>(255u, Quotient(sum[c] * 255u + sum[3] / 2, sum[3])));
        out[3] = uint8_t(alpha);
        return true;
    }

    // The pixel of one sample, at the footprint's centre; opaque texels divide by a constant
    // (a sample's sum is below 2^32).
    bool One(const LevelView& level, int k, const Footprint& f, double toLevel, uint8_t* out) const {
        const double half = kOffsets.at[1][0];
        const Position p = At(f, half, half);
        // Inside, so on the source but for a footprint of no width on its right or bottom
        // border, whose sample lies beyond the source like the others there.
        if (!(p.u < m_width && p.v < m_height)) return false;
        uint64_t sum[4] = {0, 0, 0, 0};
        Add(level, k, p.u * toLevel - 0.5, p.v * toLevel - 0.5, sum);
        if (sum[3] != 255u * 255u) return Average(sum, 1, out);
        for (int c = 0; c < 3; ++c) out[c] = uint8_t((uint32_t(sum[c]) * 255u + 32512u) / 65025u);
        out[3] = 255;
        return true;
    }

    // Adds the bilinear sample at (x, y) in texel-centre coordinates of `level`, clamped at
    // its border, with 8-bit weights.
    void Add(const LevelView& level, int k, double x, double y, uint64_t sum[4]) const {
        const double fx = std::floor(x), fy = std::floor(y);
        const uint32_t wx = uint32_t((x - fx) * 256.0), wy = uint32_t((y - fy) * 256.0);
        const int32_t x0 = std::max(int32_t(fx), 0), x1 = std::min(int32_t(fx) + 1, level.width - 1);
        const int32_t y0 = std::max(int32_t(fy), 0), y1 = std::min(int32_t(fy) + 1, level.height - 1);
        const Texel t00 = Read(level, k, x0, y0), t10 = Read(level, k, x1, y0);
        const Texel t01 = Read(level, k, x0, y1), t11 = Read(level, k, x1, y1);
        // At most 65025 * 2^16 + 2^15: 32 bits hold it.
        for (int c = 0; c < 4; ++c) {
            const uint32_t top = t00[c] * (256u - wx) + t10[c] * wx;
            const uint32_t bottom = t01[c] * (256u - wx) + t11[c] * wx;
            sum[c] += (top * (256u - wy) + bottom * wy + 32768u) >> 16;
        }
    }

    const LevelView* m_levels;
    int m_top;    // the highest copy given
    int m_copies; // the highest copy chosen
    double m_width, m_height;
    std::array<GridKernels, kMaxLevels + 1> m_grids;
};

} // namespace warp
