#include "BmpHeader.h"

#include <QtEndian>

namespace imaging {

namespace {

constexpr uint32_t kFileHeader = 14, kVersion4 = 108;

uint32_t InfoSize(const uint8_t* head) { return qFromLittleEndian<uint32_t>(head + kFileHeader); }

} // namespace

bool BmpHeaderUnknownToQt(const uint8_t* head, size_t headBytes) {
    return headBytes >= kFileHeader + 4 && head[0] == 'B' && head[1] == 'M' && (InfoSize(head) == 52 || InfoSize(head) == 56);
}

QByteArray BmpWithKnownHeader(const QByteArray& bytes) {
    const auto* head = reinterpret_cast<const uint8_t*>(bytes.constData());
    if (!BmpHeaderUnknownToQt(head, size_t(bytes.size()))) return {};
    const uint32_t infoSize = InfoSize(head), offset = qFromLittleEndian<uint32_t>(head + 10);
    if (offset < kFileHeader + infoSize || offset > uint32_t(bytes.size())) return {};
    const uint32_t added = kVersion4 - infoSize;
    QByteArray widened = bytes.left(kFileHeader + infoSize);
    widened.append(qsizetype(added), '\0'); // the alpha mask (52 bytes: none), colour space, end points, gammas
    widened.append(bytes.mid(kFileHeader + infoSize));
    auto* p = reinterpret_cast<uint8_t*>(widened.data());
    qToLittleEndian(qFromLittleEndian<uint32_t>(p + 2) + added, p + 2);
    qToLittleEndian(offset + added, p + 10);
    qToLittleEndian(kVersion4, p + kFileHeader);
    return widened;
}

} // namespace imaging
