#pragma once
// What an image file says about its picture besides the pixels: the colour profile, EXIF and
// XMP. It is carried from an opened file to a saved one unchanged but for what the pixels
// changed: the orientation (applied on opening), the size and the embedded thumbnail.

#include <cstdint>
#include <string>
#include <vector>

namespace imaging {

struct Metadata {
    std::vector<uint8_t> icc;  // the ICC profile's bytes; empty when the file has none
    std::vector<uint8_t> exif; // EXIF as a TIFF-structured block ("II*\0..." or "MM\0*...")
    std::string xmp;           // the XMP packet
    // How the stored pixels turn upright, as EXIF orientation 1 to 8. The decoder has applied
    // it already: the bitmap holding this is upright.
    int orientation = 1;

    bool HasExifOrXmp() const { return !exif.empty() || !xmp.empty(); }
};

// Reads the metadata of an image file's bytes (JPEG, PNG, TIFF, WebP; nothing for other
// formats). Damaged metadata is left out: it never stops the picture from opening.
Metadata ReadMetadata(const uint8_t* file, size_t size);
// The same for a regular file by its path; only the metadata's own parts of it are read.
Metadata ReadMetadata(const std::string& path);

// What to write for a picture of `width` x `height` pixels made from one that carried `m`:
// the same ICC profile; EXIF and XMP with orientation 1 and the pixel dimensions set, without
// the thumbnail (it shows the old picture) and without the tags that describe the old file's
// own layout (strips, compression, the profile's place). EXIF or XMP that cannot be read back
// is left out.
Metadata MetadataForOutput(const Metadata& m, uint32_t width, uint32_t height);

// Puts `metadata` (already prepared for output) into an encoded JPEG or TIFF file in memory:
// EXIF and XMP, and the ICC profile (APP2 segments in a JPEG, the profile tag in a TIFF).
// False with `bytes` unchanged when it cannot; `why` says why.
bool EmbedMetadata(std::vector<uint8_t>& bytes, const Metadata& metadata, std::string* why);

} // namespace imaging
