#pragma once
// The encoders the layer can save with, each known by a fixed class id and a MIME type.

#include "Metadata.h"
#include "Status.h"

#include <cstdint>
#include <string>
#include <vector>

namespace imaging {

class RowSource;

// A 16-byte class identifier.
struct CLSID {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};
    friend bool operator==(const CLSID&, const CLSID&) = default;
};

struct ImageCodecInfo {
    CLSID Clsid;
    std::string MimeType;          // "image/png", ...
    std::string FormatDescription; // "PNG"
    std::string FilenameExtension; // "*.PNG"
};

// How Image::Save encodes, beyond the format.
struct SaveOptions {
    // JPEG quality, 1 to 100, with Qt's 4:2:0 chroma subsampling.
    int jpegQuality = 90;
    // Written into PNG, JPEG and TIFF files, made fit for the saved picture (MetadataForOutput);
    // none when null. GIF and BMP hold none.
    const Metadata* metadata = nullptr;
};

// The encoders available on this machine, in a fixed order: BMP, JPEG, GIF, TIFF, PNG
// ("image/bmp", "image/jpeg", "image/gif", "image/tiff", "image/png"). One whose codec is not
// installed (Qt's JPEG or BMP writer) is left out.
const std::vector<ImageCodecInfo>& GetImageEncoders();

// Whether SaveBands encodes with `encoder` and `options` a band at a time: PNG and BMP, and
// TIFF without metadata (exiv2 puts that into a whole file) into a regular file.
bool EncodesInBands(const CLSID& encoder, const SaveOptions& options);

// Saves a picture given band by band (RowSource.h) with a PNG, BMP or TIFF encoder as
// Image::Save saves it held whole, to the byte, with the same guarantees for the file. A band
// at a time where EncodesInBands says so, at most about 16 MB of the picture held; otherwise
// (a TIFF) it is rendered whole first. NotImplemented for the other encoders; a picture beyond
// the bitmap size limit is refused, as a bitmap of it would be.
StatusRecord SaveBands(RowSource& source, const std::string& path, const CLSID* encoder, const SaveOptions& options);

} // namespace imaging
