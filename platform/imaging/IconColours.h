#pragma once
// Internal: Qt's icon reader hands over a 32-bit image premultiplied, so that a pixel that is
// neither opaque nor clear comes back up to a few levels off in colour. The stored values are
// put back here.

#include <QImage>

#include <cstddef>
#include <cstdint>

namespace imaging {

// For an ICO or CUR file (`bytes` whole) and the image Qt decoded from it: where that image is
// one of the file's 32-bit bitmap images of the same size with some alpha (not a PNG, not one
// relying on its AND mask alone), `decoded` becomes its stored colours and alpha as ARGB32.
// Anything else leaves `decoded` as it is.
void RestoreIconColours(const uint8_t* bytes, size_t size, QImage& decoded);

} // namespace imaging
