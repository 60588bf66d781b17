#pragma once
// Internal: TIFF encoding through libtiff.

#include "Bitmap.h"
#include "FileWrite.h"
#include "RowSource.h"

namespace imaging {

// Writes `image` to `out` as an 8-bit RGB TIFF at 96 dpi, with unassociated alpha where any
// pixel is less than opaque, Deflate-compressed with the horizontal predictor. Strips are
// compressed on every core. `metadata` (prepared for output, or null) goes in through exiv2:
// EXIF, XMP and the ICC profile tag. Without metadata, into a regular file, the bytes go out
// as they are made; otherwise the file is assembled in memory first.
StatusRecord EncodeTiff(const Image& image, const Metadata* metadata, OutputFile& out);

// The same bytes, without metadata, for a picture given band by band, of which at most about
// 16 MB of pixels are held at a time; `out` must be Seekable. Alpha is decided as the PNG
// encoder decides it.
StatusRecord EncodeTiff(RowSource& source, OutputFile& out);

} // namespace imaging
