#pragma once
// Internal: binary PGM and PPM files of more than 8 bits a sample (maxval 256 to 65535), which
// Qt's reader cuts to 8 bits by dropping the low byte. Read here with each sample rounded.

#include "DecodeLimits.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace imaging {

// The size a P5 or P6 file whose maxval is above 255 states, if `head` (the file's first
// bytes, its header among them) starts one.
std::optional<StatedSize> WidePnmSize(const uint8_t* head, size_t headBytes);

// Such a file, whole: Grayscale8 (P5) or RGB32 (P6), each sample v as v * 255 / maxval
// rounded (one above maxval counts as maxval). A null image where the file holds fewer
// samples than its header states, or memory runs out (*noMemory set).
QImage DecodeWidePnm(const uint8_t* bytes, size_t size, bool* noMemory);

} // namespace imaging
