#pragma once
// Internal: rows of any pixel format as 8-bit R, G, B (and A) bytes, the order PNG and TIFF
// store. Encoders choose a reader once per image and call it row by row.

#include "Bitmap.h"
#include "RowSource.h"

#include <cstdint>

namespace imaging {

// Writes `width` pixels of `row` to `out`: 3 bytes per pixel (R, G, B), or 4 with straight
// alpha when `alpha`. `palette` is the image's palette (indexed formats only).
using RgbRowReader = void (*)(const uint8_t* row, int32_t width, const uint32_t* palette, uint8_t* out);

// The reader for `format`, with or without alpha; null for an unknown format.
RgbRowReader RgbRowReaderFor(PixelFormat format, bool alpha);

// Whether any pixel of `image` is less than opaque. False for formats without alpha.
bool HasTranslucentPixel(const Image& image);

// The same for the picture's first `limit` rows, given band by band: rendered into `buffer`
// (room for `rows` rows in 32bppARGB) until a band has such a pixel.
bool HasTranslucentPixel(RowSource& source, uint8_t* buffer, int32_t rows, int64_t limit);

// How many of a banded picture's first rows an encoder looks at for a pixel less than opaque
// before it writes: they tell for most warps (their transparent margins). Past them the picture
// is taken for opaque, and written again with alpha should a band say otherwise; a file that
// cannot be written again has every row looked at first.
inline constexpr int64_t kRowsLookedAtFirst = 64;

} // namespace imaging
