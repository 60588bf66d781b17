#include "ImageFiles.h"

#include <cctype>
#include <memory>

namespace files {

using namespace imaging;

std::unique_ptr<Bitmap> OpenImageCopy(const std::string& path, StatusRecord* why) {
    // The decoded bitmap is already the copy: its pixels and palette live in memory of its own
    // and nothing of it refers to the file, so a second copy would only cost memory.
    std::unique_ptr<Bitmap> decoded = Bitmap::FromFile(path);
    if (!decoded->HasContent()) {
        if (why) *why = {decoded->GetLastStatus(), decoded->GetLastReason()};
        return nullptr;
    }
    return decoded;
}

const char* EncoderMimeTypeForPath(const std::string& path) {
    static const struct { const char* key; const char* mime; } table[] = {
        {"jpg", "image/jpeg"}, {"gif", "image/gif"}, {"tif", "image/tiff"}, {"bmp", "image/bmp"},
    };
    std::string tail = path.size() > 3 ? path.substr(path.size() - 3) : path;
    for (char& c : tail) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& row : table)
        if (tail == row.key) return row.mime;
    return "image/png";
}

int FindEncoderByMimeType(const std::string& mimeType, CLSID* clsid) {
    const std::vector<ImageCodecInfo>& encoders = GetImageEncoders();
    for (size_t i = 0; i < encoders.size(); ++i) {
        if (encoders[i].MimeType == mimeType) {
            if (clsid) *clsid = encoders[i].Clsid;
            return int(i);
        }
    }
    return -1;
}

StatusRecord SaveImageByName(Image& image, const std::string& path, const SaveOptions& options) {
    const char* mime = EncoderMimeTypeForPath(path);
    CLSID clsid;
    if (FindEncoderByMimeType(mime, &clsid) < 0)
        return {NotImplemented, std::string("no encoder for ") + mime + " is installed"};
    if (image.Save(path, &clsid, options) != Ok) return {image.GetLastStatus(), image.GetLastReason()};
    return {};
}

StatusRecord SaveBandsByName(RowSource& source, const std::string& path, const SaveOptions& options) {
    const char* mime = EncoderMimeTypeForPath(path);
    CLSID clsid;
    if (FindEncoderByMimeType(mime, &clsid) < 0)
        return {NotImplemented, std::string("no encoder for ") + mime + " is installed"};
    return SaveBands(source, path, &clsid, options);
}

bool SavesInBands(const std::string& path, const SaveOptions& options) {
    CLSID clsid;
    return FindEncoderByMimeType(EncoderMimeTypeForPath(path), &clsid) >= 0 && EncodesInBands(clsid, options);
}

Metadata MetadataToKeep(const Metadata& source, bool stripped, bool keepProfile) {
    if (!stripped) return source;
    Metadata kept;
    if (keepProfile) kept.icc = source.icc;
    return kept;
}

} // namespace files
