#pragma once
// Reading and writing single pixels of every format, for loops that run over locked buffers.
// Each function takes a pointer to the start of a row and a column; nothing is checked, the
// caller keeps the column inside the row. Palettes are the 256-entry ARGB tables of Bitmap.

#include "PixelFormat.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace imaging {

struct Bgra {
    uint8_t B = 0, G = 0, R = 0, A = 0;
    friend bool operator==(const Bgra&, const Bgra&) = default;
};

namespace pixel {

inline uint16_t Load16(const uint8_t* p) { uint16_t v; std::memcpy(&v, p, 2); return v; }
inline void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

inline uint8_t Expand5(unsigned v) { return uint8_t(v << 3 | v >> 2); }
inline uint8_t Expand6(unsigned v) { return uint8_t(v << 2 | v >> 4); }

inline Bgra FromArgb(uint32_t argb) {
    return {uint8_t(argb), uint8_t(argb >> 8), uint8_t(argb >> 16), uint8_t(argb >> 24)};
}

// Straight colour from premultiplied colour, rounded to nearest.
inline uint8_t Unpremultiply8(unsigned c, unsigned a) {
    return a == 0 ? 0 : uint8_t(std::min(255u, (c * 255u + a / 2) / a));
}
inline uint16_t Unpremultiply16(uint32_t c, uint32_t a) {
    return a == 0 ? 0 : uint16_t(std::min<uint64_t>(65535u, (uint64_t(c) * 65535u + a / 2) / a));
}
inline uint8_t Premultiply8(unsigned c, unsigned a) { return uint8_t((c * a + 127u) / 255u); }

inline unsigned IndexAt(PixelFormat format, const uint8_t* row, int32_t x) {
    switch (format) {
    case PixelFormat1bppIndexed: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case PixelFormat4bppIndexed: return (x & 1) ? row[x >> 1] & 0xFu : row[x >> 1] >> 4;
    default: return row[x];
    }
}

} // namespace pixel

// The true colour and straight alpha of pixel x of a row in format F. Formats without alpha
// give 255; 16-bit channels give their high byte; premultiplied ones are unpremultiplied.
template <PixelFormat F>
inline Bgra ReadTrueColor(const uint8_t* row, int32_t x, const uint32_t* palette) {
    using namespace pixel;
    if constexpr (F == PixelFormat1bppIndexed || F == PixelFormat4bppIndexed ||
                  F == PixelFormat8bppIndexed) {
        return FromArgb(palette[IndexAt(F, row, x)]);
    } else if constexpr (F == PixelFormat16bppGrayScale) {
        uint8_t v = uint8_t(Load16(row + 2 * x) >> 8);
        return {v, v, v, 255};
    } else if constexpr (F == PixelFormat16bppRGB555 || F == PixelFormat16bppARGB1555) {
        unsigned p = Load16(row + 2 * x);
        uint8_t a = (F == PixelFormat16bppRGB555 || (p & 0x8000u)) ? 255 : 0;
        return {Expand5(p & 31u), Expand5(p >> 5 & 31u), Expand5(p >> 10 & 31u), a};
    } else if constexpr (F == PixelFormat16bppRGB565) {
        unsigned p = Load16(row + 2 * x);
        return {Expand5(p & 31u), Expand6(p >> 5 & 63u), Expand5(p >> 11), 255};
    } else if constexpr (F == PixelFormat24bppRGB) {
        const uint8_t* p = row + 3 * x;
        return {p[0], p[1], p[2], 255};
    } else if constexpr (F == PixelFormat32bppRGB) {
        const uint8_t* p = row + 4 * x;
        return {p[0], p[1], p[2], 255};
    } else if constexpr (F == PixelFormat32bppARGB) {
        const uint8_t* p = row + 4 * x;
        return {p[0], p[1], p[2], p[3]};
    } else if constexpr (F == PixelFormat32bppPARGB) {
        const uint8_t* p = row + 4 * x;
        return {Unpremultiply8(p[0], p[3]), Unpremultiply8(p[1], p[3]),
                Unpremultiply8(p[2], p[3]), p[3]};
    } else if constexpr (F == PixelFormat48bppRGB) {
        const uint8_t* p = row + 6 * x;
        return {uint8_t(Load16(p) >> 8), uint8_t(Load16(p + 2) >> 8), uint8_t(Load16(p + 4) >> 8), 255};
    } else if constexpr (F == PixelFormat64bppARGB) {
        const uint8_t* p = row + 8 * x;
        return {uint8_t(Load16(p) >> 8), uint8_t(Load16(p + 2) >> 8), uint8_t(Load16(p + 4) >> 8),
                uint8_t(Load16(p + 6) >> 8)};
    } else if constexpr (F == PixelFormat64bppPARGB) {
        const uint8_t* p = row + 8 * x;
        uint16_t a = Load16(p + 6);
        return {uint8_t(Unpremultiply16(Load16(p), a) >> 8),
                uint8_t(Unpremultiply16(Load16(p + 2), a) >> 8),
                uint8_t(Unpremultiply16(Load16(p + 4), a) >> 8), uint8_t(a >> 8)};
    } else {
        static_assert(F != F, "unknown pixel format");
    }
}

// Calls f.template operator()<F>() with the format id as a compile-time constant, so that a
// loop over pixels is instantiated once per format and chooses its reader outside the loop.
// Returns false for an unknown format.
template <class F>
bool DispatchPixelFormat(PixelFormat format, F&& f) {
    switch (format) {
#define VERLUME_PIXEL_FORMAT_CASE(id) case id: f.template operator()<id>(); return true;
    VERLUME_PIXEL_FORMAT_CASE(PixelFormat1bppIndexed)
    VERLUME_PIXEL_FORMAT_CASE(PixelFormat4bppIndexed)
    VERLUME_PIXEL_FORMAT_CASE(PixelFormat8bppIndexed)
    VERLUME_PIXEL_FORMAT_CASE(PixelFormat16bppGrayScale)
    VERLUME_PIXEL_FORMAT_CASE(PixelFormat16bppRGB555)
    VERLUME_PIXEL_FORMAT_CASE(PixelFormat16bppRGB565)
    VERLUME_PIXEL_FORMAT_CASE(PixelFormat16bppARGB1555)
    VERLUME_PIXEL_FORMAT_CASE(PixelFormat24bppRGB)
    VERLUME_PIXEL_FORMAT_CASE(PixelFormat32bppRGB)
    VERLUME_PIXEL_FORMAT_CASE(PixelFormat32bppARGB)
    VERLUME_PIXEL_FORMAT_CASE(PixelFormat32bppPARGB)
    VERLUME_PIXEL_FORMAT_CASE(PixelFormat48bppRGB)
    VERLUME_PIXEL_FORMAT_CASE(PixelFormat64bppARGB)
    VERLUME_PIXEL_FORMAT_CASE(PixelFormat64bppPARGB)
#undef VERLUME_PIXEL_FORMAT_CASE
    default: return false;
    }
}

// Stores a straight-alpha colour into pixel x of a row of a non-indexed format, the inverse of
// ReadTrueColor up to the format's precision. Formats without alpha drop it.
void WriteTrueColor(PixelFormat format, uint8_t* row, int32_t x, Bgra c);

} // namespace imaging
