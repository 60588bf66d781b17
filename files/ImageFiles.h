#pragma once
// Opening and saving image files as the program does it, without any user interface: shared
// by the main window and the command-line tool.

#include "imaging/Bitmap.h"
#include "imaging/Encoders.h"
#include "imaging/RowSource.h"

#include <memory>
#include <string>

namespace files {

// Decodes the file at `path` into a bitmap of its own (size, pixel format and palette as
// decoded) that refers to nothing of the file, which may then be moved or overwritten. Null on
// failure, with the reason in *why.
std::unique_ptr<imaging::Bitmap> OpenImageCopy(const std::string& path, imaging::StatusRecord* why);

// The MIME type of the encoder a file name asks for: its last three characters (the whole
// name when shorter), lowercased, "jpg" -> "image/jpeg", "gif" -> "image/gif",
// "tif" -> "image/tiff", "bmp" -> "image/bmp", anything else "image/png".
const char* EncoderMimeTypeForPath(const std::string& path);

// The index of the first installed encoder whose MIME type equals `mimeType` exactly (case
// matters), with its class id in *clsid; -1, leaving *clsid alone, when there is none.
int FindEncoderByMimeType(const std::string& mimeType, imaging::CLSID* clsid);

// Encodes `image` to `path` with the encoder the name asks for. Without that encoder, or when
// writing fails, an existing file at `path` is left as it was. `options` as Image::Save takes
// them: JPEG quality 90 and no metadata unless given.
imaging::StatusRecord SaveImageByName(imaging::Image& image, const std::string& path,
                                      const imaging::SaveOptions& options = {});

// The same for a picture given band by band: the bytes SaveImageByName writes for it held
// whole. PNG, BMP and TIFF only; never held whole where SavesInBands says so (PNG, BMP, a TIFF
// without metadata).
imaging::StatusRecord SaveBandsByName(imaging::RowSource& source, const std::string& path,
                                      const imaging::SaveOptions& options = {});
bool SavesInBands(const std::string& path, const imaging::SaveOptions& options = {});

// What a saved copy of a picture opened with `source` carries: all of it, its ICC profile
// only (`stripped`), or nothing (`stripped` and not `keepProfile`).
imaging::Metadata MetadataToKeep(const imaging::Metadata& source, bool stripped, bool keepProfile);

} // namespace files
