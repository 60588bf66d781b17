#pragma once
// Internal: turning decoded pixels upright as the file's EXIF orientation says.

#include <QImage>

namespace imaging {

// `stored` as it is meant to be seen under EXIF orientation 1 to 8 (1, or any value outside
// 1 to 8, leaves it as it is). Exact for every format, which it keeps. Null when the turned
// copy cannot be made.
QImage Upright(const QImage& stored, int orientation);

} // namespace imaging
