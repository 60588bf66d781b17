#pragma once
// Internal: what a file's own bytes say about whether it is whole and can hold the image its
// header claims, checked before a decoder is given it. Decoders fill in what is missing (a cut
// JPEG shows grey, a short BMP black) and allocate whatever a header claims.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace imaging {

// For a JPEG (starting FF D8): true when its markers lead to the end-of-image marker, and its
// entropy-coded data holds at least one bit per 8 x 8 block of the first component, the least
// Huffman coding can spend. (Arithmetic-coded files are only checked for their end.)
bool JpegIsWhole(const uint8_t* data, size_t size);

// For a BMP (starting "BM"), from its first `headerBytes` bytes (34 suffice) and the file's
// size: false when the file is shorter than its size field says, or than the rows its header
// claims need (uncompressed BMPs; the last row's padding may be missing).
bool BmpIsWhole(const uint8_t* header, size_t headerBytes, uint64_t fileSize);

// The formats Qt reads besides those, by the name Qt gives them ("png", "ppm", "xbm", ...),
// from the file's first bytes (`head`: 4 KiB, or the whole file if shorter), its last bytes
// (`tail`: up to 4 KiB), and its size. False when the file is cut short or is shorter than
// its header claims an uncompressed picture needs:
//   png, mng  the end chunk (IEND, MEND) among the last bytes;
//   pbm, pgm, ppm  the samples the header states, at their least (binary: exactly; plain
//             text: a digit and a separator each);
//   wbmp      the rows the header states;
//   ico, cur  every image its directory lists, within the file;
//   icns      the length it states for itself, each element's, and its table of contents;
//   webp      the length the file states for itself;
//   xbm, xpm  (text, so `head` must be the whole file) the last row and the closing brace.
// True for every other name: it is not checked here.
struct FileBytes {
    const uint8_t* head;
    size_t headBytes;
    const uint8_t* tail;
    size_t tailBytes;
    uint64_t size;
};
bool FormatIsWhole(const char* format, const FileBytes& file);
// Whether the check above needs the whole file in `head` (the text formats).
bool CheckNeedsWholeFile(const char* format);

// For a PNG of `size` bytes: true when every chunk from the signature on, up to IEND, lies
// within the file (readers allocate what a chunk's length claims before reading it).
// read(offset, out) fills out[0..8) with the file's bytes there, false past its end.
bool PngChunksFit(uint64_t size, const std::function<bool(uint64_t offset, uint8_t* out)>& read);

// The header fields of a PNM file: its magic digit, then width, height and (but for bitmaps)
// the largest value, each after white space and comments; the data starts after one more
// white-space byte. False when the header is not all there in the `n` bytes at `p`.
struct PnmHeader {
    int kind = 0;
    uint64_t width = 0, height = 0, maxValue = 1;
    size_t dataStart = 0;
};
bool ReadPnmHeader(const uint8_t* p, size_t n, PnmHeader& h);

} // namespace imaging
