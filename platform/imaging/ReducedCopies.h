#pragma once
// Reduced copies of an image, for showing it smaller than one image pixel per screen pixel
// without losing detail to aliasing.

#include "Bitmap.h"

#include <memory>
#include <vector>

namespace imaging {

// Copies 1 to `levels` of a 32bppARGB or 24bppRGB image, copy k being ceil(width / 2^k) x ceil(height / 2^k)
// pixels in 32bppPARGB. Each pixel is the average, rounded to nearest, of the premultiplied
// pixels of the original's 2^k x 2^k block it covers (fewer at the right and bottom edges), so
// that a copy drawn over a background shows the average of the original drawn over it. Stops
// early where a copy would be 1 x 1 already; empty for an image without content, of another
// format, or when memory runs out. `levels` at most 4.
std::vector<std::unique_ptr<Bitmap>> MakeReducedCopies(const Bitmap& image, int levels);

// How many copies MakeReducedCopies makes of a width x height image, memory allowing.
int ReducedCopyCount(int32_t width, int32_t height, int levels);

} // namespace imaging
