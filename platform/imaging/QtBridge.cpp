#include "QtBridge.h"

#include "ParallelRows.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

namespace imaging {

QImage::Format QImageFormatFor(PixelFormat format) {
    switch (format) {
    case PixelFormat1bppIndexed: return QImage::Format_Mono;
    case PixelFormat8bppIndexed: return QImage::Format_Indexed8;
    case PixelFormat16bppGrayScale: return QImage::Format_Grayscale16;
    case PixelFormat16bppRGB555: return QImage::Format_RGB555;
    case PixelFormat16bppRGB565: return QImage::Format_RGB16;
    case PixelFormat24bppRGB: return QImage::Format_BGR888;
    case PixelFormat32bppRGB: return QImage::Format_RGB32;
    case PixelFormat32bppARGB: return QImage::Format_ARGB32;
    case PixelFormat32bppPARGB: return QImage::Format_ARGB32_Premultiplied;
    default: return QImage::Format_Invalid;
    }
}

namespace {

QImage Wrap(uint8_t* scan0, int32_t stride, uint32_t width, uint32_t height, QImage::Format f) {
    // QImage wants a positive stride: a bottom-up bitmap is wrapped from its last row and
    // mirrored, which copies it.
    if (stride >= 0) return QImage(scan0, int(width), int(height), stride, f);
    uint8_t* top = scan0 + int64_t(height - 1) * stride;
    return QImage(top, int(width), int(height), -stride, f).mirrored(false, true);
}

} // namespace

QImage AsQImage(const Image& image) {
    if (!image.HasContent()) return {};
    uint8_t* scan0 = ImageAccess::Scan0(image);
    const int32_t stride = ImageAccess::Stride(image);
    const QImage::Format f = QImageFormatFor(image.GetPixelFormat());
    if (f != QImage::Format_Invalid) {
        QImage q = Wrap(scan0, stride, image.GetWidth(), image.GetHeight(), f);
        if (const uint32_t* palette = image.GetPalette()) {
            const int n = PaletteSizeOf(image.GetPixelFormat());
            q.setColorTable(QList<QRgb>(palette, palette + n));
        }
        return q;
    }
    const Rect all{0, 0, int32_t(image.GetWidth()), int32_t(image.GetHeight())};
    std::unique_ptr<Bitmap> argb(static_cast<const Bitmap&>(image).Clone(all, PixelFormat32bppARGB));
    if (!argb) return {};
    return Wrap(ImageAccess::Scan0(*argb), ImageAccess::Stride(*argb), argb->GetWidth(),
                argb->GetHeight(), QImage::Format_ARGB32)
        .copy();
}

QImage ConvertedInBands(const QImage& image, QImage::Format format) {
    if (image.isNull() || image.format() == format) return image;
    QImage out(image.size(), format);
    if (out.isNull()) return {};
    // Qt converts an image of fewer than 131072 pixels on the calling thread.
    const int width = image.width(), height = image.height(), rows = std::max(1, 65536 / width);
    const int bands = (height + rows - 1) / rows;
    uchar* const bits = out.bits();
    const qsizetype outLine = out.bytesPerLine();
    const QList<QRgb> colours = image.colorTable();
    std::atomic<bool> ok{true};
    ParallelRows(bands, [&](int32_t first, int32_t last) {
        for (int b = first; b < last; ++b) {
            const int top = b * rows, count = std::min(rows, height - top);
            QImage band(image.constScanLine(top), width, count, image.bytesPerLine(), image.format());
            if (!colours.isEmpty()) band.setColorTable(colours);
            const QImage converted = band.convertToFormat(format);
            if (converted.isNull()) {
                ok = false;
                return;
            }
            for (int y = 0; y < count; ++y)
                std::memcpy(bits + (top + y) * outLine, converted.constScanLine(y), size_t(outLine));
        }
    });
    if (!ok) return {};
    // A one-bit image is made with Qt's own two colours: the source's keep their indices.
    if (format == QImage::Format_Mono || format == QImage::Format_MonoLSB) out.setColorTable(colours);
    return out;
}

QImage AsPaintTarget(Image& image) {
    if (!image.HasContent() || image.GetPalette() != nullptr) return {};
    const QImage::Format f = QImageFormatFor(image.GetPixelFormat());
    if (f == QImage::Format_Invalid || ImageAccess::Stride(image) < 0) return {};
    return QImage(ImageAccess::Scan0(image), int(image.GetWidth()), int(image.GetHeight()),
                  ImageAccess::Stride(image), f);
}

} // namespace imaging
