#pragma once
// Internal: turning decoded pixels upright as the file's EXIF orientation says.

#include <QImage>

#include <cstdint>

namespace imaging {

// `stored` as it is meant to be seen under EXIF orientation 1 to 8 (1, or any value outside
// 1 to 8, leaves it as it is). Exact for every format, which it keeps. Null when the turned
// copy cannot be made.
QImage Upright(const QImage& stored, int orientation);

// Whether the orientation swaps width and height (5 to 8).
inline bool TurnsAQuarter(int orientation) { return orientation >= 5 && orientation <= 8; }

// Copies pixels of `bytesPerPixel` (1 or 3) bytes from the stored rows at `src` (`width` x
// `height` of them, `srcStride` bytes apart) upright into `dst`, whose rows are `dstStride`
// apart and as long as the upright picture is wide. Bands of rows go to every core.
void OrientPixels(const uint8_t* src, int32_t srcStride, int32_t width, int32_t height, int bytesPerPixel,
                  int orientation, uint8_t* dst, int32_t dstStride);

} // namespace imaging
