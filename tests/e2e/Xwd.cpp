#include "Xwd.h"

#include <QFile>

#include <cstdint>

namespace e2e {

namespace {

uint32_t Be32(const uchar* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

} // namespace

QImage ReadXwd(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    if (bytes.size() < 100) return {};
    // The header is 25 big-endian 32-bit fields, then the window name, then the colour map.
    const uint32_t headerSize = Be32(data), format = Be32(data + 8), width = Be32(data + 16),
                   height = Be32(data + 20), byteOrder = Be32(data + 28), bitsPerPixel = Be32(data + 44),
                   bytesPerLine = Be32(data + 48), colours = Be32(data + 76);
    constexpr uint32_t kZPixmap = 2;
    if (format != kZPixmap || (bitsPerPixel != 32 && bitsPerPixel != 24)) return {};
    const qint64 offset = qint64(headerSize) + qint64(colours) * 12;
    if (offset + qint64(bytesPerLine) * height > bytes.size()) return {};
    QImage image(int(width), int(height), QImage::Format_RGB32);
    const int step = int(bitsPerPixel / 8);
    for (uint32_t y = 0; y < height; ++y) {
        const uchar* row = data + offset + qint64(y) * bytesPerLine;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(int(y)));
        for (uint32_t x = 0; x < width; ++x) {
            const uchar* p = row + x * step;
            // byte order 0: least significant byte first (B, G, R).
            out[x] = byteOrder == 0 ? qRgb(p[2], p[1], p[0]) : qRgb(p[step - 3], p[step - 2], p[step - 1]);
        }
    }
    return image;
}

} // namespace e2e
