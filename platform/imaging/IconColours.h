#pragma once
// Internal: Qt's icon readers hand over a 32-bit image premultiplied, so that a pixel that is
// neither opaque nor clear comes back up to a few levels off in colour. The stored values are
// put back here.

#include <QImage>

#include <cstddef>
#include <cstdint>

namespace imaging {

// For an ICO, CUR or ICNS file (`bytes` whole) and the image Qt decoded from it: where that
// image is one of the file's stored pictures of the same size with some alpha, `decoded`
// becomes its stored colours and alpha as ARGB32. In an ICO or CUR those are the 32-bit bitmap
// images (not a PNG, not one relying on its AND mask alone); in an ICNS the run-length coded
// colour elements with their 8-bit masks (16, 32, 48 and 128 pixels square). Anything else
// leaves `decoded` as it is.
void RestoreIconColours(const uint8_t* bytes, size_t size, QImage& decoded);

} // namespace imaging
