#pragma once
// Internal: the imaging layer's images seen as Qt images, for Qt's codecs and QPainter.

#include "Bitmap.h"

#include <QImage>

namespace imaging {

// Reaches the storage of an Image for the layer's own .cpp files.
struct ImageAccess {
    static uint8_t* Scan0(const Image& image) { return image.m_scan0; }
    static int32_t Stride(const Image& image) { return image.m_stride; }
    static std::array<uint32_t, 256>& Palette(Image& image) { return image.m_palette; }
    static void SetMetadata(Image& image, Metadata metadata) { image.m_metadata = std::move(metadata); }
    static void SetStatus(const Image& image, StatusRecord status) { image.m_lastStatus = std::move(status); }
};

// The QImage format with the same memory layout as `format`, or QImage::Format_Invalid.
QImage::Format QImageFormatFor(PixelFormat format);

// A QImage over the image's own memory (no copy) where Qt has the same layout, with the
// palette as its colour table; otherwise a 32-bit ARGB copy. Null for an image without
// content or when the copy cannot be made. The image must outlive the QImage.
QImage AsQImage(const Image& image);

// `image` converted to `format` in bands of rows, on the layer's threads: Qt converts a large
// image on helper threads of its own and, where one cannot be started (memory is short),
// waits for it forever. The same pixels as QImage::convertToFormat for conversions that do not
// dither (to true-colour formats, Mono from MonoLSB, Grayscale8 from Grayscale16). Null
// without memory.
QImage ConvertedInBands(const QImage& image, QImage::Format format);

// Wraps the image's memory for drawing; null where Qt cannot paint on that layout.
QImage AsPaintTarget(Image& image);

} // namespace imaging
