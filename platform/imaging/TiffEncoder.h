#pragma once
// Internal: TIFF encoding through libtiff.

#include "Bitmap.h"
#include "FileWrite.h"

namespace imaging {

// Writes `image` to `out` as an 8-bit RGB TIFF at 96 dpi, with unassociated alpha where any
// pixel is less than opaque, Deflate-compressed with the horizontal predictor. Strips are
// compressed on every core. `metadata` (prepared for output, or null) goes in through exiv2:
// EXIF, XMP and the ICC profile tag.
StatusRecord EncodeTiff(const Image& image, const Metadata* metadata, OutputFile& out);

} // namespace imaging
