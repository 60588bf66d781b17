#pragma once
// Internal: TIFF encoding through libtiff.

#include "Bitmap.h"
#include "FileWrite.h"

namespace imaging {

// Writes `image` to `out` as an 8-bit RGB TIFF at 96 dpi, with unassociated alpha where any
// pixel is less than opaque, Deflate-compressed with the horizontal predictor. Strips are
// compressed on every core.
StatusRecord EncodeTiff(const Image& image, OutputFile& out);

} // namespace imaging
