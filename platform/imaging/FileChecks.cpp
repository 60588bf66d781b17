#include "FileChecks.h"

#include <algorithm>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string>

namespace imaging {

namespace {

uint32_t Be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t Le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }
uint32_t Be32(const uint8_t* p) { return Be16(p) << 16 | Be16(p + 2); }

// Start-of-frame markers: C0-CF but for DHT (C4), JPG (C8) and DAC (CC).
bool IsFrameMarker(uint8_t m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }
bool IsArithmeticFrame(uint8_t m) { return m >= 0xC9; }

int64_t CeilDiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

} // namespace

bool JpegIsWhole(const uint8_t* data, size_t size) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    int64_t blocks = 0;     // 8 x 8 blocks of the first component
    bool arithmetic = false;
    size_t scanBytes = 0;   // entropy-coded data of every scan
    size_t i = 2;
    for (;;) {
        // The next marker; stray bytes before it are skipped, as libjpeg does.
        const void* ff = i < size ? std::memchr(data + i, 0xFF, size - i) : nullptr;
        if (ff == nullptr) return false;
        i = size_t(static_cast<const uint8_t*>(ff) - data);
        while (i < size && data[i] == 0xFF) ++i; // fill bytes
        if (i >= size) return false;
        const uint8_t marker = data[i++];
        if (marker == 0xD9) return arithmetic || scanBytes * 8 >= uint64_t(blocks);
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue; // no length
        if (i + 2 > size) return false;
        const size_t length = Be16(data + i);
        if (length < 2 || i + length > size) return false;
        const uint8_t* segment = data + i + 2;
        if (IsFrameMarker(marker) && length >= 8) {
            const int64_t height = Be16(segment + 1), width = Be16(segment + 3);
            const int components = segment[5];
            if (components >= 1 && length >= size_t(8 + 3 * components)) {
                int hMax = 1, vMax = 1;
                for (int c = 0; c < components; ++c) {
                    hMax = std::max(hMax, segment[7 + 3 * c] >> 4);
                    vMax = std::max(vMax, segment[7 + 3 * c] & 15);
                }
                const int h1 = std::max(1, segment[7] >> 4), v1 = std::max(1, segment[7] & 15);
                blocks = CeilDiv(CeilDiv(width * h1, hMax), 8) * CeilDiv(CeilDiv(height * v1, vMax), 8);
            }
            arithmetic = IsArithmeticFrame(marker);
        }
        i += length;
        if (marker != 0xDA) continue;
        // Entropy-coded data runs to the next marker: an FF not followed by a stuffed 00, a
        // fill byte or a restart marker.
        const size_t start = i;
        for (;;) {
            const void* ff = std::memchr(data + i, 0xFF, size - i);
            if (ff == nullptr) return false;
            i = size_t(static_cast<const uint8_t*>(ff) - data);
            if (i + 1 >= size) return false;
            const uint8_t next = data[i + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
                i += 2;
                continue;
            }
            if (next == 0xFF) {
                ++i;
                continue;
            }
            break;
        }
        scanBytes += i - start;
    }
}

bool BmpIsWhole(const uint8_t* data, size_t headerBytes, uint64_t size) {
    if (headerBytes < 26 || size < headerBytes || data[0] != 'B' || data[1] != 'M') return false;
    if (size < Le32(data + 2)) return false; // shorter than it says it is
    const uint32_t offset = Le32(data + 10), headerSize = Le32(data + 14);
    int64_t width, height;
    uint32_t bits, compression = 0;
    if (headerSize == 12) { // the old OS/2 header
        width = Le16(data + 18);
        height = Le16(data + 20);
        bits = Le16(data + 24);
    } else {
        if (headerBytes < 34) return false;
        width = int32_t(Le32(data + 18));
        height = int32_t(Le32(data + 22));
        bits = Le16(data + 28);
        compression = Le32(data + 30);
    }
    // Run-length and embedded JPEG or PNG data have no least size per pixel worth checking.
    constexpr uint32_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;
    if (compression != kRgb && compression != kBitFields && compression != kAlphaBitFields) return true;
    // At most 2^31 x 2^16 bits a row and 2^31 rows: the product is compared by division.
    const uint64_t rowBits = uint64_t(std::abs(width)) * bits, rows = uint64_t(std::abs(height));
    const uint64_t stride = uint64_t(CeilDiv(int64_t(rowBits), 32)) * 4, last = uint64_t(CeilDiv(int64_t(rowBits), 8));
    if (rows == 0 || stride == 0) return true;
    if (size < uint64_t(offset) + last) return false;
    return rows - 1 <= (size - offset - last) / stride;
}

bool ReadPnmHeader(const uint8_t* p, size_t n, PnmHeader& h) {
    if (n < 3 || p[0] != 'P' || p[1] < '1' || p[1] > '6') return false;
    h.kind = p[1] - '0';
    const int fields = h.kind == 1 || h.kind == 4 ? 2 : 3;
    size_t i = 2;
    for (int f = 0; f < fields; ++f) {
        for (;;) { // white space and comments
            if (i >= n) return false;
            if (p[i] == '#') {
                while (i < n && p[i] != '\n' && p[i] != '\r') ++i;
            } else if (std::isspace(p[i])) {
                ++i;
            } else {
                break;
            }
        }
        uint64_t value = 0;
        const size_t start = i;
        while (i < n && p[i] >= '0' && p[i] <= '9' && value < (uint64_t(1) << 40)) value = value * 10 + (p[i++] - '0');
        if (i == start || i >= n) return false;
        (f == 0 ? h.width : f == 1 ? h.height : h.maxValue) = value;
    }
    h.dataStart = i + 1;
    return true;
}

namespace {

bool Named(const char* format, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (std::strcmp(format, n) == 0) return true;
    return false;
}

// Whether `chunk` (4 letters) appears as a chunk without data (its length 0) among the bytes.
bool HasEmptyChunk(const uint8_t* bytes, size_t n, const char* chunk) {
    const uint8_t want[8] = {0, 0, 0, 0, uint8_t(chunk[0]), uint8_t(chunk[1]), uint8_t(chunk[2]), uint8_t(chunk[3])};
    // Its CRC follows.
    for (size_t i = 0; i + 12 <= n; ++i)
        if (std::memcmp(bytes + i, want, 8) == 0) return true;
    return false;
}

bool PnmIsWhole(const FileBytes& f) {
    PnmHeader h;
    if (!ReadPnmHeader(f.head, f.headBytes, h)) return false;
    const uint64_t samples = h.width * h.height * (h.kind == 3 || h.kind == 6 ? 3 : 1);
    const uint64_t bytesPerSample = h.maxValue > 255 ? 2 : 1;
    uint64_t least;
    switch (h.kind) {
    case 4: least = CeilDiv(int64_t(h.width), 8) * h.height; break;
    case 5: case 6: least = samples * bytesPerSample; break;
    case 1: least = samples; break;                          // digits may touch
    default: least = samples == 0 ? 0 : 2 * samples - 1; break; // a digit, and a separator between
    }
    return f.size >= h.dataStart && f.size - h.dataStart >= least;
}

// A WBMP's multi-byte integers: 7 bits a byte, the high bit set on all but the last.
bool ReadWbmpInt(const uint8_t* p, size_t n, size_t& i, uint64_t& value) {
    value = 0;
    for (int k = 0; k < 5; ++k) {
        if (i >= n) return false;
        const uint8_t b = p[i++];
        value = value << 7 | (b & 0x7F);
        if (!(b & 0x80)) return true;
    }
    return false;
}

bool WbmpIsWhole(const FileBytes& f) {
    size_t i = 0;
    uint64_t type, width, height;
    if (!ReadWbmpInt(f.head, f.headBytes, i, type) || ++i > f.headBytes || !ReadWbmpInt(f.head, f.headBytes, i, width) ||
        !ReadWbmpInt(f.head, f.headBytes, i, height))
        return false;
    return f.size >= i && f.size - i >= uint64_t(CeilDiv(int64_t(width), 8)) * height;
}

bool IcoIsWhole(const FileBytes& f) {
    if (f.headBytes < 6) return false;
    const uint32_t count = Le16(f.head + 4);
    if (count == 0 || f.headBytes < 6 + 16 * uint64_t(count)) return false;
    for (uint32_t k = 0; k < count; ++k) {
        const uint8_t* entry = f.head + 6 + 16 * k;
        const uint64_t bytes = Le32(entry + 8), offset = Le32(entry + 12);
        if (offset + bytes > f.size) return false;
    }
    return true;
}

// An ICNS file: its stated length, each element's (type and length) within it as far as the
// first bytes show, and what a table of contents lists (Qt's reader takes its lengths as
// they are) adding up to no more than the file.
bool IcnsIsWhole(const FileBytes& f) {
    if (f.headBytes < 8 || f.size < Be32(f.head + 4)) return false;
    for (uint64_t at = 8; at + 8 <= f.headBytes && at + 8 <= f.size;) {
        const uint64_t length = Be32(f.head + at + 4);
        if (length < 8 || at + length > f.size) return false;
        if (std::memcmp(f.head + at, "TOC ", 4) == 0) {
            uint64_t listed = 0;
            for (uint64_t e = at + 8; e + 8 <= at + length && e + 8 <= f.headBytes; e += 8) {
                const uint64_t entry = Be32(f.head + e + 4);
                if (entry < 8) return false;
                listed += entry;
            }
            if (listed > f.size) return false;
        }
        at += length;
    }
    return true;
}

// Whether the C array that holds the picture ends, "};", at or after `from`.
bool ClosesArray(const uint8_t* from, const uint8_t* end) {
    const uint8_t* brace = std::find(from, end, '}');
    while (brace != end && ++brace != end && std::isspace(*brace)) {}
    return brace != end && *brace == ';';
}

// After the last '"' (the last row of pixels) the array must close; for XBM the values its
// size needs must all be there too.
bool XpmIsWhole(const FileBytes& f) {
    const uint8_t* end = f.head + f.headBytes;
    const uint8_t* quote = std::find(std::make_reverse_iterator(end), std::make_reverse_iterator(f.head), '"').base();
    return quote != f.head && ClosesArray(quote, end);
}

bool XbmIsWhole(const FileBytes& f) {
    const std::string text(reinterpret_cast<const char*>(f.head), f.headBytes);
    auto define = [&](const char* suffix) -> int64_t {
        const size_t at = text.find(suffix);
        return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + std::strlen(suffix));
    };
    const int64_t width = define("_width "), height = define("_height ");
    const size_t open = text.find('{'), close = text.find('}', open == std::string::npos ? 0 : open);
    if (width <= 0 || height <= 0 || open == std::string::npos || close == std::string::npos ||
        !ClosesArray(f.head + close, f.head + f.headBytes))
        return false;
    int64_t values = 0;
    for (size_t at = text.find("0x", open); at != std::string::npos && at < close; at = text.find("0x", at + 2)) ++values;
    return values >= CeilDiv(width, 8) * height;
}

} // namespace

bool CheckNeedsWholeFile(const char* format) { return Named(format, {"xbm", "xpm"}); }

bool FormatIsWhole(const char* format, const FileBytes& f) {
    if (Named(format, {"png"})) return HasEmptyChunk(f.tail, f.tailBytes, "IEND");
    if (Named(format, {"mng"})) return HasEmptyChunk(f.tail, f.tailBytes, "MEND");
    if (Named(format, {"pbm", "pgm", "ppm"})) return PnmIsWhole(f);
    if (Named(format, {"wbmp"})) return WbmpIsWhole(f);
    if (Named(format, {"ico", "cur"})) return IcoIsWhole(f);
    if (Named(format, {"icns"})) return IcnsIsWhole(f);
    if (Named(format, {"webp"})) return f.headBytes >= 12 && f.size >= uint64_t(Le32(f.head + 4)) + 8;
    if (Named(format, {"xpm"})) return XpmIsWhole(f);
    if (Named(format, {"xbm"})) return XbmIsWhole(f);
    return true;
}

bool PngChunksFit(uint64_t size, const std::function<bool(uint64_t offset, uint8_t* out)>& read) {
    uint8_t start[8]; // a chunk's length and type
    for (uint64_t at = 8; at + 12 <= size && read(at, start);) {
        const uint64_t length = Be32(start);
        if (length > 0x7FFFFFFFu || at + 12 + length > size) return false;
        if (std::memcmp(start + 4, "IEND", 4) == 0) return true;
        at += 12 + length;
    }
    return false;
}

} // namespace imaging
