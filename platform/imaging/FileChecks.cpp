#include "FileChecks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace imaging {

namespace {

uint32_t Be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t Le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }

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

} // namespace imaging
