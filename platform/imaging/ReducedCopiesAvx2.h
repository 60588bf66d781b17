#pragma once
// Internal to the reduced copies: the first level's sums with AVX2, eight pixels at a time,
// with the bytes of the SSE2 loops they stand in for. Only where ReducedCopies allows AVX2.

#include <cstdint>

namespace imaging {

// The 2 x 2 sums of premultiplied B, G, R, A of rows `a` and `b` (b null: row a alone) of a
// 32bppARGB picture, block j (pixels 2j and 2j + 1) at sum + 4j, for the pixels before the
// returned count, a multiple of 8 at most `width`.
int32_t SumArgbBlocksAvx2(const uint8_t* a, const uint8_t* b, int32_t width, uint16_t* sum);

// The same for 24bppRGB rows, alpha 255. Neither reads beyond a row's last pixel.
int32_t SumRgbBlocksAvx2(const uint8_t* a, const uint8_t* b, int32_t width, uint16_t* sum);

} // namespace imaging
