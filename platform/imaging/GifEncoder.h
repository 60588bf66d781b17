#pragma once
// Internal: GIF89a encoding through giflib.

#include "Bitmap.h"

#include <vector>

namespace imaging {

// Encodes `image` as a single-frame GIF89a. Up to 256 colours are kept exactly; more are
// reduced by median cut. Pixels with alpha below 128 become one transparent palette index.
StatusRecord EncodeGif(const Bitmap& image, std::vector<uint8_t>& out);

} // namespace imaging
