#include "WidePnm.h"

#include "FileChecks.h"

#include <cctype>

namespace imaging {

namespace {

// The header of a P5 or P6 file of more than 8 bits a sample, if `b` starts with one.
bool ReadWideHeader(const uint8_t* b, size_t size, PnmHeader& header) {
    return ReadPnmHeader(b, size, header) && (header.kind == 5 || header.kind == 6) && header.width > 0 &&
           header.height > 0 && header.maxValue > 255 && header.maxValue <= 65535 &&
           std::isspace(b[header.dataStart - 1]);
}

} // namespace

std::optional<StatedSize> WidePnmSize(const uint8_t* head, size_t headBytes) {
    PnmHeader header;
    if (!ReadWideHeader(head, headBytes, header)) return std::nullopt;
    return StatedSize{int64_t(header.width), int64_t(header.height)};
}

QImage DecodeWidePnm(const uint8_t* b, size_t size, bool* noMemory) {
    *noMemory = false;
    PnmHeader header;
    if (!ReadWideHeader(b, size, header)) return {};
    const bool colour = header.kind == 6;
    const int64_t w = int64_t(header.width), h = int64_t(header.height), maxval = int64_t(header.maxValue);
    const size_t at = header.dataStart;
    const int channels = colour ? 3 : 1;
    if (w > (1 << 20) || h > (1 << 20) || (size - at) / 2 / uint64_t(channels) / uint64_t(w) < uint64_t(h))
        return {};
    QImage image(int(w), int(h), colour ? QImage::Format_RGB32 : QImage::Format_Grayscale8);
    if (image.isNull()) {
        *noMemory = true;
        return {};
    }
    const uint8_t* p = b + at;
    auto sample = [&] {
        const uint32_t v = uint32_t(p[0]) << 8 | p[1]; // most significant byte first
        p += 2;
        const uint32_t c = v > uint32_t(maxval) ? uint32_t(maxval) : v;
        return uint32_t((c * 255 + uint32_t(maxval) / 2) / uint32_t(maxval));
    };
    for (int y = 0; y < int(h); ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < int(w); ++x) {
            if (!colour) {
                row[x] = uchar(sample());
                continue;
            }
            const uint32_t r = sample(), g = sample(), bl = sample();
            reinterpret_cast<uint32_t*>(row)[x] = 0xFF000000u | r << 16 | g << 8 | bl;
        }
    }
    return image;
}

} // namespace imaging
