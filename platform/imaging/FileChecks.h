#pragma once
// Internal: what a file's own bytes say about whether it is whole and can hold the image its
// header claims, checked before a decoder is given it. Decoders fill in what is missing (a cut
// JPEG shows grey, a short BMP black) and allocate whatever a header claims.

#include <cstddef>
#include <cstdint>

namespace imaging {

// For a JPEG (starting FF D8): true when its markers lead to the end-of-image marker, and its
// entropy-coded data holds at least one bit per 8 x 8 block of the first component, the least
// Huffman coding can spend. (Arithmetic-coded files are only checked for their end.)
bool JpegIsWhole(const uint8_t* data, size_t size);

// For a BMP (starting "BM"), from its first `headerBytes` bytes (34 suffice) and the file's
// size: false when the file is shorter than its size field says, or than the rows its header
// claims need (uncompressed BMPs; the last row's padding may be missing).
bool BmpIsWhole(const uint8_t* header, size_t headerBytes, uint64_t fileSize);

} // namespace imaging
