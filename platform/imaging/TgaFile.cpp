#include "TgaFile.h"

#include <stb_image.h>

#include <algorithm>
#include <limits>
#include <string_view>

namespace imaging {

namespace {

uint32_t Word(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

} // namespace

std::optional<TgaHeader> ReadTgaHeader(const uint8_t* b, size_t size) {
    if (size < 18) return std::nullopt;
    const int idLength = b[0], mapType = b[1], type = b[2];
    const uint32_t mapLength = Word(b + 5);
    const int mapBits = b[7], bits = b[16], descriptor = b[17];
    const int base = type & 7;
    if (mapType > 1 || (type != base && type != base + 8) || base < 1 || base > 3) return std::nullopt;
    if (base == 1   ? (mapType != 1 || (bits != 8 && bits != 16))
        : base == 2 ? (bits != 15 && bits != 16 && bits != 24 && bits != 32)
                    : (bits != 8 && bits != 16))
        return std::nullopt;
    // A colour map, where there is one, of an entry size the format knows.
    if (mapType == 1 &&
        (mapLength == 0 || (mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32)))
        return std::nullopt;
    // The two interleaving bits are reserved: no writer sets them.
    if ((descriptor & 0xC0) != 0) return std::nullopt;
    TgaHeader header{};
    header.width = int32_t(Word(b + 12));
    header.height = int32_t(Word(b + 14));
    if (header.width == 0 || header.height == 0) return std::nullopt;
    header.bitsPerPixel = bits;
    header.alphaBits = descriptor & 0x0F;
    header.rightToLeft = (descriptor & 0x10) != 0;
    header.runLength = type > 8;
    header.dataStart =
        18 + uint64_t(idLength) + (mapType == 1 ? uint64_t(mapLength) * ((mapBits + 7) / 8) : 0);
    return header;
}

bool TgaIsWhole(const TgaHeader& header, const uint8_t* bytes, size_t size) {
    const uint64_t pixelBytes = uint64_t(header.bitsPerPixel + 7) / 8;
    const uint64_t pixels = uint64_t(header.width) * uint64_t(header.height);
    if (header.dataStart > size) return false;
    if (!header.runLength) return size - header.dataStart >= pixels * pixelBytes;
    // Packets: a count byte, then one pixel repeated (high bit set) or that many pixels raw.
    uint64_t at = header.dataStart, seen = 0;
    while (seen < pixels) {
        if (at >= size) return false;
        const uint8_t count = bytes[at++];
        const uint64_t n = (count & 0x7F) + 1u;
        at += (count & 0x80) ? pixelBytes : n * pixelBytes;
        seen += n;
    }
    return at <= size;
}

QImage DecodeTga(const TgaHeader& header, const uint8_t* bytes, size_t size, bool* noMemory) {
    *noMemory = false;
    if (size > size_t(std::numeric_limits<int>::max())) return {};
    int width = 0, height = 0, channels = 0;
    stbi_uc* rgba = stbi_load_from_memory(bytes, int(size), &width, &height, &channels, 4);
    if (rgba == nullptr) {
        *noMemory = std::string_view(stbi_failure_reason()) == "outofmem";
        return {};
    }
    // Alpha where the pixels have it: grey with alpha, or 32 bits with attribute bits.
    const bool alpha = channels == 2 || (channels == 4 && header.alphaBits > 0);
    QImage image(
        rgba, width, height, 4 * width, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32,
        [](void* pixels) { stbi_image_free(pixels); }, rgba);
    // R, G, B, A bytes to the B, G, R, A of Qt's 32-bit formats (opaque ones with alpha 255).
    for (int y = 0; y < height; ++y) {
        uchar* row = image.bits() + int64_t(y) * image.bytesPerLine();
        for (int x = 0; x < width; ++x) {
            std::swap(row[4 * x], row[4 * x + 2]);
            if (!alpha) row[4 * x + 3] = 255;
        }
        if (header.rightToLeft) {
            auto* pixels = reinterpret_cast<uint32_t*>(row);
            std::reverse(pixels, pixels + width);
        }
    }
    return image;
}

} // namespace imaging
