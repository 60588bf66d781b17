#pragma once
// Internal: BMP headers Qt's reader does not know, rewritten as one it does.

#include <QByteArray>

namespace imaging {

// Qt reads BMP info headers of 12, 40, 108 and 124 bytes. Photoshop and others also write
// those of 52 and 56 bytes: the 40-byte header followed by the red, green and blue masks (and
// the alpha mask), which is also how the 108-byte header starts. For such a file (`bytes`
// whole, starting "BM") this gives the same file with a 108-byte header, its colour space
// left empty (the pixels' own values) and the offsets and size moved to match; for any other
// file, an empty array.
QByteArray BmpWithKnownHeader(const QByteArray& bytes);

} // namespace imaging
