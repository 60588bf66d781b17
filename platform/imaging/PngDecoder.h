#pragma once
// Internal: the common PNGs decoded through libpng straight into the bitmap's memory, so that
// opening one holds the picture once, not twice as Qt's reader and a conversion do.

#include "Bitmap.h"
#include "DecodeLimits.h"

#include <QIODevice>

#include <memory>

namespace imaging {

// Decodes an 8-bit RGB or RGBA PNG, not interlaced and without a transparent colour, from the
// device's current position: RGB into 24bppRGB (upright as EXIF `orientation` says), RGBA
// into 32bppARGB with straight alpha (upright ones only), the pixels Qt's reader gives. A
// picture beyond `limits` is refused with ValueOverflow before memory is taken for it. Any
// other PNG gives null with *handled false and the device where it was, for Qt to decode. On
// failure null, with the code and a reason that follows the file's name in *why.
std::unique_ptr<Bitmap> DecodePng(QIODevice& device, int orientation, const DecodeLimits& limits,
                                  StatusRecord* why, bool* handled);

} // namespace imaging
