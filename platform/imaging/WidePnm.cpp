#include "WidePnm.h"

#include <cctype>

namespace imaging {

namespace {

// The next header number from `at`, past white space and comments; -1 where there is none.
int64_t HeaderNumber(const uint8_t* b, size_t size, size_t& at) {
    while (at < size && (std::isspace(b[at]) || b[at] == '#')) {
        if (b[at] == '#')
            while (at < size && b[at] != '\n' && b[at] != '\r') ++at;
        else
            ++at;
    }
    if (at >= size || !std::isdigit(b[at])) return -1;
    int64_t v = 0;
    while (at < size && std::isdigit(b[at]) && v < (int64_t(1) << 32)) v = v * 10 + (b[at++] - '0');
    return v;
}

struct Header {
    bool colour;
    int64_t w, h, maxval;
    size_t data; // where the samples start
};

// The header of a P5 or P6 file of more than 8 bits a sample, if `b` starts with one.
bool ReadHeader(const uint8_t* b, size_t size, Header& header) {
    if (size < 3 || b[0] != 'P' || (b[1] != '5' && b[1] != '6')) return false;
    size_t at = 2;
    const int64_t w = HeaderNumber(b, size, at), h = HeaderNumber(b, size, at),
                  maxval = HeaderNumber(b, size, at);
    // One white-space character ends the header.
    if (w <= 0 || h <= 0 || maxval <= 255 || maxval > 65535 || at >= size || !std::isspace(b[at]))
        return false;
    header = {b[1] == '6', w, h, maxval, at + 1};
    return true;
}

} // namespace

std::optional<StatedSize> WidePnmSize(const uint8_t* head, size_t headBytes) {
    Header header;
    if (!ReadHeader(head, headBytes, header)) return std::nullopt;
    return StatedSize{header.w, header.h};
}

QImage DecodeWidePnm(const uint8_t* b, size_t size, bool* noMemory) {
    *noMemory = false;
    Header header;
    if (!ReadHeader(b, size, header)) return {};
    const bool colour = header.colour;
    const int64_t w = header.w, h = header.h, maxval = header.maxval;
    const size_t at = header.data;
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
