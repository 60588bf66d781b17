#pragma once
// Internal: PNG encoding that keeps pace with the warp.

#include "Bitmap.h"
#include "FileWrite.h"
#include "RowSource.h"

namespace imaging {

// Writes `image` to `out` as an 8-bit PNG at 96 dpi: RGBA where any pixel is less than opaque,
// RGB otherwise (indexed and 16-bit formats as their 8-bit true colours). Bands of rows are
// filtered and compressed on every core straight from the image's rows, as independent pieces
// of the one zlib stream the format has. `metadata` (prepared for output, or null) goes into
// iCCP, eXIf and an XMP iTXt chunk.
StatusRecord EncodePng(const Image& image, const Metadata* metadata, OutputFile& out);

// The same bytes for a picture given band by band, of which at most about 16 MB of pixels are
// held at a time. Alpha is decided as kRowsLookedAtFirst (RgbRows.h) says: a picture whose
// first pixel less than opaque lies past those rows is written twice.
StatusRecord EncodePng(RowSource& source, const Metadata* metadata, OutputFile& out);

} // namespace imaging
