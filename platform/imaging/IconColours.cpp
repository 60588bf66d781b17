#include "IconColours.h"

#include <QtEndian>

#include <array>
#include <cstring>
#include <vector>

namespace imaging {

namespace {

// Takes `stored` for `decoded` only where it is the image Qt chose: the same pixels once
// premultiplied.
bool TakeIfSame(QImage&& stored, QImage& decoded) {
    if (stored.isNull() || stored.convertToFormat(QImage::Format_ARGB32_Premultiplied) !=
                               decoded.convertToFormat(QImage::Format_ARGB32_Premultiplied))
        return false;
    decoded = std::move(stored);
    return true;
}

void RestoreIcoColours(const uint8_t* bytes, size_t size, QImage& decoded) {
    if (size < 6) return;
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
        if (TakeIfSame(std::move(stored), decoded)) return;
    }
}

// ICNS colour elements and the masks that go with them, by side in pixels.
struct IcnsPair {
    const char* colours;
    const char* mask;
    int side;
};
constexpr std::array<IcnsPair, 4> kIcnsPairs{
    {{"is32", "s8mk", 16}, {"il32", "l8mk", 32}, {"ih32", "h8mk", 48}, {"it32", "t8mk", 128}}};

// The element of `type` in the ICNS file, its data without the eight bytes of type and length.
std::pair<const uint8_t*, size_t> IcnsElement(const uint8_t* bytes, size_t size, const char* type) {
    for (size_t at = 8; at + 8 <= size;) {
        const uint64_t length = qFromBigEndian<uint32_t>(bytes + at + 4);
        if (length < 8 || at + length > size) break;
        if (std::memcmp(bytes + at, type, 4) == 0) return {bytes + at + 8, size_t(length - 8)};
        at += length;
    }
    return {nullptr, 0};
}

// The colour element's red, then green, then blue plane, as one stream of runs: a byte n below
// 128 is followed by n + 1 values as they are, one of 128 or more by one value to repeat
// n - 125 times. False unless the stream fills `out` exactly.
bool UnpackIcnsRuns(const uint8_t* in, size_t size, std::vector<uint8_t>& out) {
    size_t filled = 0, at = 0;
    while (at < size && filled < out.size()) {
        const uint8_t n = in[at++];
        if (n < 128) {
            const size_t count = size_t(n) + 1;
            if (at + count > size || filled + count > out.size()) return false;
            std::memcpy(out.data() + filled, in + at, count);
            at += count;
            filled += count;
        } else {
            const size_t count = size_t(n) - 125;
            if (at >= size || filled + count > out.size()) return false;
            std::memset(out.data() + filled, in[at++], count);
            filled += count;
        }
    }
    return filled == out.size();
}

void RestoreIcnsColours(const uint8_t* bytes, size_t size, QImage& decoded) {
    const int side = decoded.width();
    if (decoded.height() != side) return;
    for (const IcnsPair& pair : kIcnsPairs) {
        if (pair.side != side) continue;
        auto [colours, colourBytes] = IcnsElement(bytes, size, pair.colours);
        const auto [mask, maskBytes] = IcnsElement(bytes, size, pair.mask);
        const size_t pixels = size_t(side) * size_t(side);
        if (!colours || !mask || maskBytes != pixels) return;
        // The largest element starts with four bytes of zero.
        if (side == 128 && colourBytes >= 4 && qFromBigEndian<uint32_t>(colours) == 0) {
            colours += 4;
            colourBytes -= 4;
        }
        std::vector<uint8_t> planes(3 * pixels);
        if (!UnpackIcnsRuns(colours, colourBytes, planes)) return;
        QImage stored(side, side, QImage::Format_ARGB32);
        if (stored.isNull()) return;
        for (int y = 0; y < side; ++y) {
            auto* out = reinterpret_cast<QRgb*>(stored.scanLine(y));
            for (int x = 0; x < side; ++x) {
                const size_t p = size_t(y) * size_t(side) + size_t(x);
                out[x] = qRgba(planes[p], planes[pixels + p], planes[2 * pixels + p], mask[p]);
            }
        }
        TakeIfSame(std::move(stored), decoded);
        return;
    }
}

} // namespace

void RestoreIconColours(const uint8_t* bytes, size_t size, QImage& decoded) {
    if (decoded.isNull() || size < 8) return;
    if (std::memcmp(bytes, "icns", 4) == 0)
        RestoreIcnsColours(bytes, size, decoded);
    else
        RestoreIcoColours(bytes, size, decoded);
}

} // namespace imaging
