#pragma once
// Internal: a pixel over white, for formats without alpha.

#include <cstdint>

namespace imaging {

// A 32bppARGB pixel composited onto white: each channel c * a + 255 * (1 - a), rounded;
// the result is opaque.
inline uint32_t OverWhite(uint32_t p) {
    const uint32_t a = p >> 24;
    if (a == 255 || a == 0) return a ? p : 0xFFFFFFFFu; // most pixels: the picture, or nothing
    const uint32_t white = 255 * (255 - a) + 127;
    auto over = [&](int shift) { return ((p >> shift & 0xFF) * a + white) / 255 << shift; };
    return 0xFF000000u | over(16) | over(8) | over(0);
}

} // namespace imaging
