#pragma once
// Internal: BMP headers Qt's reader does not know, rewritten as one it does.

#include <QByteArray>
#include <QImage>

#include <cstddef>
#include <cstdint>

namespace imaging {

// Qt reads BMP info headers of 12, 40, 108 and 124 bytes. Photoshop and others also write
// those of 52 and 56 bytes: the 40-byte header followed by the red, green and blue masks (and
// the alpha mask), which is also how the 108-byte header starts.

// Whether a file starting with `head` (at least its first 18 bytes) is such a BMP.
bool BmpHeaderUnknownToQt(const uint8_t* head, size_t headBytes);

// For such a file (`bytes` whole) the same file with a 108-byte header, its colour space left
// empty (the pixels' own values) and the offsets and size moved to match; an empty array when
// its offsets do not fit the file.
QByteArray BmpWithKnownHeader(const QByteArray& bytes);

// Qt widens a channel of fewer than 8 bits (the 5 and 6 of 16-bit BMPs, any narrow bit-field
// mask) by a shift, so that white reads as 248. For a BMP starting with `head` (its first 70
// bytes, or the whole file if shorter), the picture Qt decoded from it (RGB32 or ARGB32) with
// each such channel's bits instead repeated until they fill the byte (v << 3 | v >> 2 for 5
// bits), as other decoders widen them: white is 255, black 0.
void WidenNarrowBmpChannels(const uint8_t* head, size_t headBytes, QImage& decoded);

} // namespace imaging
