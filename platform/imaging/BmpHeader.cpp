#include "BmpHeader.h"

#include <QtEndian>

namespace imaging {

namespace {

constexpr uint32_t kFileHeader = 14, kVersion4 = 108;

uint32_t InfoSize(const uint8_t* head) { return qFromLittleEndian<uint32_t>(head + kFileHeader); }

// The bits of a mask: its width, and where it starts.
struct Field {
    int shift = 0, width = 0;
};
Field FieldOf(uint32_t mask) {
    Field f;
    if (mask == 0) return f;
    while (!(mask >> f.shift & 1)) ++f.shift;
    while (f.shift + f.width < 32 && (mask >> (f.shift + f.width) & 1)) ++f.width;
    return f;
}

} // namespace

void WidenNarrowBmpChannels(const uint8_t* head, size_t headBytes, QImage& decoded) {
    if (headBytes < 34 || head[0] != 'B' || head[1] != 'M' || InfoSize(head) < 40) return;
    const QImage::Format format = decoded.format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32) return;
    const uint32_t bits = qFromLittleEndian<uint16_t>(head + 28),
                   compression = qFromLittleEndian<uint32_t>(head + 30);
    constexpr uint32_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;
    uint32_t masks[4] = {0x7C00, 0x03E0, 0x001F, 0}; // 16 bits without fields: 5-5-5
    if (compression == kBitFields || compression == kAlphaBitFields) {
        // After the 40-byte header, or inside a longer one.
        const int count = compression == kAlphaBitFields || InfoSize(head) >= 56 ? 4 : 3;
        if (headBytes < kFileHeader + 40 + 4 * size_t(count)) return;
        for (int i = 0; i < count; ++i)
            masks[i] = qFromLittleEndian<uint32_t>(head + kFileHeader + 40 + 4 * i);
    } else if (!(compression == kRgb && bits == 16)) {
        return;
    }
    // Red, green, blue, alpha: Qt's byte, which is v << (8 - width), to the widened value.
    const int shifts[4] = {16, 8, 0, 24};
    bool any = false;
    uint8_t table[4][256];
    for (int c = 0; c < 4; ++c) {
        const int width = FieldOf(masks[c]).width;
        const bool narrow = width > 0 && width < 8 && (c < 3 || format == QImage::Format_ARGB32);
        any = any || narrow;
        for (int q = 0; q < 256; ++q) {
            // The value's bits repeated until they fill the byte: v << 3 | v >> 2 for 5 bits.
            const int v = narrow ? q >> (8 - width) : 0;
            int widened = 0;
            for (int at = 8 - width; narrow && at > -width; at -= width)
                widened |= at >= 0 ? v << at : v >> -at;
            table[c][q] = narrow ? uint8_t(widened) : uint8_t(q);
        }
    }
    if (!any) return;
    for (int y = 0; y < decoded.height(); ++y) {
        auto* p = reinterpret_cast<uint32_t*>(decoded.scanLine(y));
        for (int x = 0; x < decoded.width(); ++x) {
            uint32_t out = 0;
            for (int c = 0; c < 4; ++c) out |= uint32_t(table[c][p[x] >> shifts[c] & 0xFF]) << shifts[c];
            p[x] = out;
        }
    }
}

bool BmpHeaderUnknownToQt(const uint8_t* head, size_t headBytes) {
    return headBytes >= kFileHeader + 4 && head[0] == 'B' && head[1] == 'M' &&
           (InfoSize(head) == 52 || InfoSize(head) == 56);
}

QByteArray BmpWithKnownHeader(const QByteArray& bytes) {
    const auto* head = reinterpret_cast<const uint8_t*>(bytes.constData());
    if (!BmpHeaderUnknownToQt(head, size_t(bytes.size()))) return {};
    const uint32_t infoSize = InfoSize(head), offset = qFromLittleEndian<uint32_t>(head + 10);
    if (offset < kFileHeader + infoSize || offset > uint32_t(bytes.size())) return {};
    const uint32_t added = kVersion4 - infoSize;
    QByteArray widened = bytes.left(kFileHeader + infoSize);
    widened.append(qsizetype(added),
                   '\0'); // the alpha mask (52 bytes: none), colour space, end points, gammas
    widened.append(bytes.mid(kFileHeader + infoSize));
    auto* p = reinterpret_cast<uint8_t*>(widened.data());
    qToLittleEndian(qFromLittleEndian<uint32_t>(p + 2) + added, p + 2);
    qToLittleEndian(offset + added, p + 10);
    qToLittleEndian(kVersion4, p + kFileHeader);
    return widened;
}

} // namespace imaging
