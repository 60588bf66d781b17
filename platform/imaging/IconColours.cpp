#include "IconColours.h"

#include <QtEndian>

#include <cstring>

namespace imaging {

void RestoreIconColours(const uint8_t* bytes, size_t size, QImage& decoded) {
    if (size < 6 || decoded.isNull()) return;
    const int width = decoded.width(), height = decoded.height();
    const uint32_t count = qFromLittleEndian<uint16_t>(bytes + 4);
    for (uint32_t k = 0; k < count && 6 + 16 * uint64_t(k + 1) <= size; ++k) {
        const uint8_t* entry = bytes + 6 + 16 * k;
        const uint64_t length = qFromLittleEndian<uint32_t>(entry + 8),
                       offset = qFromLittleEndian<uint32_t>(entry + 12);
        if (offset + length > size || length < 40) continue;
        const uint8_t* dib = bytes + offset;
        const uint32_t header = qFromLittleEndian<uint32_t>(dib);
        const int32_t w = qFromLittleEndian<int32_t>(dib + 4), h2 = qFromLittleEndian<int32_t>(dib + 8);
        const uint16_t bits = qFromLittleEndian<uint16_t>(dib + 14);
        const uint32_t compression = qFromLittleEndian<uint32_t>(dib + 16);
        // The colour bitmap is twice as high as the image (the AND mask below it), bottom row first.
        if (header < 40 || bits != 32 || compression != 0 || w != width || h2 != 2 * height) continue;
        const uint64_t rowBytes = uint64_t(width) * 4;
        if (header + rowBytes * uint64_t(height) > length) continue;
        const uint8_t* pixels = dib + header;
        bool alpha = false;
        for (uint64_t i = 3; i < rowBytes * uint64_t(height) && !alpha; i += 4) alpha = pixels[i] != 0;
        if (!alpha) continue;
        QImage stored(width, height, QImage::Format_ARGB32);
        if (stored.isNull()) return;
        for (int y = 0; y < height; ++y) // B, G, R, A in memory, as ARGB32
            std::memcpy(stored.scanLine(y), pixels + rowBytes * uint64_t(height - 1 - y), size_t(rowBytes));
        // Only where it is the image Qt chose: the same pixels once premultiplied.
        if (stored.convertToFormat(QImage::Format_ARGB32_Premultiplied) !=
            decoded.convertToFormat(QImage::Format_ARGB32_Premultiplied))
            continue;
        decoded = std::move(stored);
        return;
    }
}

} // namespace imaging
