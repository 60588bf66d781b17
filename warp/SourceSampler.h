#pragma once
// Internal to the warp: reading the source around a mapped position and blending it into one
// output pixel, for a source format fixed at compile time.

#include "imaging/PixelCodec.h"

#include <cstdint>

namespace warp {

using imaging::Bgra;
using imaging::PixelFormat;

struct SourceView {
    const uint8_t* scan0;
    int32_t stride; // signed
    int64_t width, height;
    const uint32_t* palette;
};

// The source pixel at (sx, sy), or transparent black where it is not usable: column 0, row 0
// and everything outside the source.
template <PixelFormat F>
inline Bgra Yield(const SourceView& s, int64_t sx, int64_t sy) {
    using namespace imaging;
    if (sx < 1 || sy < 1 || sx >= s.width || sy >= s.height) return {};
    const uint8_t* row = s.scan0 + sy * s.stride;
    if constexpr (F == PixelFormat24bppRGB) {
        const uint8_t* p = row + 3 * sx;
        return {p[0], p[1], p[2], 255};
    } else if constexpr (F == PixelFormat32bppRGB || F == PixelFormat32bppARGB ||
                         F == PixelFormat32bppPARGB) {
        const uint8_t* p = row + 4 * sx;
        return {p[0], p[1], p[2], p[3]};
    } else {
        return ReadTrueColor<F>(row, int32_t(sx), s.palette);
    }
}

// Truncation toward zero to a byte, saturating; NaN gives 0.
inline uint8_t ToByte(double value) {
    if (!(value > 0.0)) return 0;
    return value < 255.0 ? uint8_t(int32_t(value)) : 255;
}

inline uint8_t Blend(double w0, uint8_t a, double w1, uint8_t b) {
    return ToByte(w0 * double(a) + w1 * double(b));
}

// The output pixel for source position (iu + fx, iv + fy).
template <PixelFormat F>
inline Bgra Sample(const SourceView& s, int32_t iu, int32_t iv, double fx, double fy,
                   int neighbourhood) {
    if (neighbourhood <= 1) return Yield<F>(s, iu, iv);
    const Bgra y00 = Yield<F>(s, iu, iv), y01 = Yield<F>(s, iu, int64_t(iv) + 1);
    const Bgra y10 = Yield<F>(s, int64_t(iu) + 1, iv);
    const Bgra y11 = Yield<F>(s, int64_t(iu) + 1, int64_t(iv) + 1);
    const double gx = 1.0 - fx, gy = 1.0 - fy;
    auto channel = [&](uint8_t Bgra::*c) {
        const uint8_t h0 = Blend(gx, y00.*c, fx, y10.*c);
        const uint8_t h1 = Blend(gx, y01.*c, fx, y11.*c);
        return Blend(gy, h0, fy, h1);
    };
    return {channel(&Bgra::B), channel(&Bgra::G), channel(&Bgra::R), channel(&Bgra::A)};
}

// One destination pixel from its mapped position, as the warp does it: passed over when the
// position is far outside in both directions, otherwise sampled and written to `out` (B, G, R,
// A) unless its alpha is 0.
template <PixelFormat F>
inline void SampleInto(uint8_t* out, const SourceView& s, int32_t iu, int32_t iv, double fx, double fy,
                       int neighbourhood) {
    const bool outsideU = iu < -1 || iu > s.width;
    const bool outsideV = iv < -1 || iv > s.height;
    if (outsideU && outsideV) return;
    const Bgra c = Sample<F>(s, iu, iv, fx, fy, neighbourhood);
    if (c.A == 0) return;
    out[0] = c.B;
    out[1] = c.G;
    out[2] = c.R;
    out[3] = c.A;
}

} // namespace warp
