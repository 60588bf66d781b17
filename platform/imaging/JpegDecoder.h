#pragma once
// Internal: JPEG decoding through libjpeg-turbo straight into the bitmap's memory.

#include "Bitmap.h"
#include "DecodeLimits.h"

#include <cstdint>
#include <memory>

namespace imaging {

// Decodes a whole JPEG file held in memory, upright as EXIF `orientation` says: colour into
// 24bppRGB, grey into 8bppIndexed with the grey ramp, CMYK (as Adobe writes it, inverted) into
// 24bppRGB with each channel k * c / 255. A picture beyond `limits` is refused with
// ValueOverflow before memory is taken for it. On failure null, with the code and a reason
// that follows the file's name in *why ("is damaged or incomplete"). `headerRead` tells
// whether libjpeg-turbo understood the header at all; when it did not, another decoder may try.
std::unique_ptr<Bitmap> DecodeJpeg(const uint8_t* data, size_t size, int orientation, const DecodeLimits& limits,
                                   StatusRecord* why, bool* headerRead);

} // namespace imaging
