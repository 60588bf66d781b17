#include "BmpHeader.h"

#include <cstdint>

namespace imaging {

namespace {

constexpr int kFileHeader = 14, kVersion4 = 108;

uint32_t Le32(const char* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(p[i]);
    return v;
}

void PutLe32(char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = char(v >> 8 * i);
}

} // namespace

QByteArray BmpWithKnownHeader(const QByteArray& bytes) {
    if (bytes.size() < kFileHeader + 56 || !bytes.startsWith("BM")) return {};
    const uint32_t infoSize = Le32(bytes.constData() + kFileHeader);
    const uint32_t offset = Le32(bytes.constData() + 10);
    if ((infoSize != 52 && infoSize != 56) || offset < kFileHeader + infoSize || offset > uint32_t(bytes.size())) return {};
    const int added = kVersion4 - int(infoSize);
    QByteArray widened = bytes.left(kFileHeader + int(infoSize));
    widened.append(added, '\0'); // the alpha mask (52 bytes: none), colour space, end points, gammas
    widened.append(bytes.mid(kFileHeader + int(infoSize)));
    char* p = widened.data();
    PutLe32(p + 2, Le32(p + 2) + uint32_t(added));
    PutLe32(p + 10, offset + uint32_t(added));
    PutLe32(p + kFileHeader, kVersion4);
    return widened;
}

} // namespace imaging
