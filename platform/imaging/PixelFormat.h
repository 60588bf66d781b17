#pragma once
// Pixel format ids and their memory layouts.
//
// The id encodes the bits per pixel in bits 8-15. Layouts, little-endian, per pixel:
//   1/4/8bppIndexed   palette indices, 1- and 4-bit packed most significant bits first
//   16bppGrayScale    one 16-bit grey value
//   16bppRGB555       x:1 r:5 g:5 b:5 (b in the low bits); 16bppRGB565 r:5 g:6 b:5
//   16bppARGB1555     a:1 r:5 g:5 b:5
//   24bppRGB          bytes B, G, R
//   32bppRGB          bytes B, G, R, x (x is stored but carries no meaning)
//   32bppARGB         bytes B, G, R, A (straight alpha); 32bppPARGB the same, premultiplied
//   48bppRGB          16-bit B, G, R
//   64bppARGB         16-bit B, G, R, A; 64bppPARGB the same, premultiplied

#include <cstdint>

namespace imaging {

using PixelFormat = int32_t;

inline constexpr PixelFormat PixelFormatUndefined = 0;
inline constexpr PixelFormat PixelFormat1bppIndexed = 0x30101;
inline constexpr PixelFormat PixelFormat4bppIndexed = 0x30402;
inline constexpr PixelFormat PixelFormat8bppIndexed = 0x30803;
inline constexpr PixelFormat PixelFormat16bppGrayScale = 0x101004;
inline constexpr PixelFormat PixelFormat16bppRGB555 = 0x21005;
inline constexpr PixelFormat PixelFormat16bppRGB565 = 0x21006;
inline constexpr PixelFormat PixelFormat16bppARGB1555 = 0x61007;
inline constexpr PixelFormat PixelFormat24bppRGB = 0x21808;
inline constexpr PixelFormat PixelFormat32bppRGB = 0x22009;
inline constexpr PixelFormat PixelFormat32bppARGB = 0x26200A;
inline constexpr PixelFormat PixelFormat32bppPARGB = 0xE200B;
inline constexpr PixelFormat PixelFormat48bppRGB = 0x10300C;
inline constexpr PixelFormat PixelFormat64bppARGB = 0x34400D;
inline constexpr PixelFormat PixelFormat64bppPARGB = 0x1C400E;

// Every format a Bitmap can be created in, in id order.
inline constexpr PixelFormat kAllPixelFormats[] = {
    PixelFormat1bppIndexed,  PixelFormat4bppIndexed, PixelFormat8bppIndexed,
    PixelFormat16bppGrayScale, PixelFormat16bppRGB555, PixelFormat16bppRGB565,
    PixelFormat16bppARGB1555, PixelFormat24bppRGB,    PixelFormat32bppRGB,
    PixelFormat32bppARGB,    PixelFormat32bppPARGB,  PixelFormat48bppRGB,
    PixelFormat64bppARGB,    PixelFormat64bppPARGB,
};

// True for the formats listed above.
bool IsKnownPixelFormat(PixelFormat format);

// Bits one pixel occupies (1 to 64); 0 for an unknown format.
constexpr int GetPixelFormatSize(PixelFormat format) { return (format >> 8) & 0xFF; }

constexpr bool IsIndexedPixelFormat(PixelFormat format) { return (format & 0x10000) != 0; }

// True for the formats with an alpha channel (ARGB1555, ARGB, PARGB in 32 and 64 bits).
constexpr bool IsAlphaPixelFormat(PixelFormat format) { return (format & 0x40000) != 0; }

// Number of palette entries an indexed format addresses (2, 16 or 256); 0 otherwise.
constexpr int PaletteSizeOf(PixelFormat format) {
    return IsIndexedPixelFormat(format) ? 1 << GetPixelFormatSize(format) : 0;
}

// Bytes of one row, rounded up to whole 32-bit words as every bitmap stores it.
// Returns -1 when that does not fit in 32 bits.
int64_t StrideFor(PixelFormat format, int64_t width);

} // namespace imaging
