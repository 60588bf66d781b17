#pragma once
// Internal: TGA (Truevision) files. They have no signature, so a file is taken for one only
// when its 18-byte header is one the format allows; it is whole when its colour map and pixel
// data are all there. stb_image decodes them; the right-to-left origin it leaves out is
// mended here.

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace imaging {

struct TgaHeader {
    int32_t width, height;
    int bitsPerPixel;
    int alphaBits;      // attribute bits per pixel: 0 means none
    bool rightToLeft;   // the first pixel of a row is its rightmost
    bool runLength;     // image types 9, 10 and 11
    uint64_t dataStart; // where the pixels begin, after the ID and the colour map
};

// The header of `bytes` (at least 18 of them) if it is one a TGA file can have: a colour
// mapped, true-colour or grey image type, uncompressed or run-length, with a depth that type
// allows, a colour map where it needs one, and a size of at least 1 x 1.
std::optional<TgaHeader> ReadTgaHeader(const uint8_t* bytes, size_t size);

// Whether the `size` bytes hold every pixel the header states (for run-length data, packets
// that add up to them).
bool TgaIsWhole(const TgaHeader& header, const uint8_t* bytes, size_t size);

// The picture of a whole TGA file, ARGB32 where it has alpha and RGB32 otherwise; a null image
// where it cannot be decoded, with *noMemory telling whether memory was what failed.
QImage DecodeTga(const TgaHeader& header, const uint8_t* bytes, size_t size, bool* noMemory);

} // namespace imaging
