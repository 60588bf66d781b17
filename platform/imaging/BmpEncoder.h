#pragma once
// Internal: BMP encoding of a picture given band by band.

#include "FileWrite.h"
#include "RowSource.h"

namespace imaging {

// Writes `source` to `out` as a 24-bit BMP at 96 dpi, bottom row first, each pixel over white:
// the bytes Qt's BMP writer gives for the picture held whole. At most about 16 MB of pixels
// are held at a time.
StatusRecord EncodeBmp(RowSource& source, OutputFile& out);

} // namespace imaging
