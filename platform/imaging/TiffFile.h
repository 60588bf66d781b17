#pragma once
// Internal: TIFF files read with libtiff directly. Qt's reader takes the colour of
// semi-transparent pixels through premultiplied alpha, refuses tiled files, and shows a file
// whose directory points past its end; here the first image's stored values come through as
// they are, in every layout libtiff reads, and a file is whole only when everything its
// first directory points to is there.

#include "DecodeLimits.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace imaging {

// The size of the first image of the TIFF in `bytes` (classic or BigTIFF, either byte order)
// when the file holds all its first directory points to: the directory itself, every value
// stored outside it, the strips or tiles, and the start of the next directory, and no strip or
// tile decodes to more than 8 bytes a pixel of the picture or 64 MB, whichever is more.
// Nothing otherwise: the file is damaged or incomplete, or no TIFF.
std::optional<StatedSize> ReadTiffSize(const uint8_t* bytes, size_t size);

// The first image as stored (its orientation tag not applied): ARGB32 with the stored alpha
// where it has alpha, RGB32 otherwise, 16-bit samples rounded to 8 bits. A null image where
// libtiff cannot decode it, with *noMemory telling whether memory was what failed.
QImage DecodeTiff(const uint8_t* bytes, size_t size, bool* noMemory);

} // namespace imaging
