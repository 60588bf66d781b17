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

// The same for a picture given band by band: its bands of `rows` rows rendered into `buffer`
// (room for them in 32bppARGB) until one has such a pixel.
bool HasTranslucentPixel(RowSource& source, uint8_t* buffer, int32_t rows);

} // namespace imaging
