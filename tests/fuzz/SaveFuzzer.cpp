// Bytes as an image and a file name: the encoder the name chooses, and saving under it into a
// temporary folder. A save either works and leaves exactly the named file, or fails with a
// reason and leaves nothing. What the lossless writers saved opens to the same pixels.
//
// Layout: byte 0 chooses the pixel format, bytes 1 and 2 the size (1 to 48 each), byte 3 the
// name's length; the name follows, and the rest fills the pixels and palette (repeated).

#include "FuzzImage.h"
#include "files/ImageFiles.h"
#include "imaging/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace imaging;

// The folder the saves go to, removed when the fuzzer ends.
struct Folder {
    fs::path path;
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "verlume-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        path = pattern;
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

std::unique_ptr<Bitmap> AsArgb(Bitmap& image) {
    return std::unique_ptr<Bitmap>(
        image.Clone({0, 0, int32_t(image.GetWidth()), int32_t(image.GetHeight())}, PixelFormat32bppARGB));
}

// PNG and TIFF keep every byte.
bool SameAfterReading(Bitmap& saved, const std::string& path) {
    std::unique_ptr<Bitmap> back(Bitmap::FromFile(path));
    if (!back->HasContent() || back->GetWidth() != saved.GetWidth() || back->GetHeight() != saved.GetHeight())
        return false;
    auto want = AsArgb(saved), got = AsArgb(*back);
    BitmapData a, b;
    want->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &a);
    got->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &b);
    bool same = true;
    for (uint32_t y = 0; y < saved.GetHeight(); ++y)
        for (uint32_t x = 0; x < saved.GetWidth(); ++x) {
            const uint8_t* p = static_cast<uint8_t*>(a.Scan0) + y * a.Stride + 4 * x;
            const uint8_t* q = static_cast<uint8_t*>(b.Scan0) + y * b.Stride + 4 * x;
            same = same && std::memcmp(p, q, 4) == 0;
        }
    want->UnlockBits(&a);
    got->UnlockBits(&b);
    return same;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Folder scratch;
    const fs::path& folder = scratch.path;
    if (size < 4) return 0;
    // A name within the folder: no separators, no NUL, not "." or "..".
    const size_t nameLength = std::min<size_t>(data[3], size - 4);
    std::string name;
    for (size_t i = 0; i < nameLength; ++i)
        if (data[4 + i] != '/' && data[4 + i] != 0) name.push_back(char(data[4 + i]));
    if (name.empty() || name == "." || name == "..") return 0;

    const char* mime = files::EncoderMimeTypeForPath(name);
    CLSID clsid;
    if (files::FindEncoderByMimeType(mime, &clsid) < 0) return 0;

    std::unique_ptr<Bitmap> image = fuzzing::ImageFromBytes(kAllPixelFormats[data[0] % std::size(kAllPixelFormats)],
                                                            1 + data[1] % 48, 1 + data[2] % 48, data, size);
    const std::string path = (folder / name).string();
    const StatusRecord saved = files::SaveImageByName(*image, path);
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++files;
    }
    if (saved.code == Ok ? files != 1 : (files != 0 || saved.reason.empty())) __builtin_trap();
    const bool png = std::strcmp(mime, "image/png") == 0;
    if (saved.code == Ok && (png || std::strcmp(mime, "image/tiff") == 0) && !SameAfterReading(*image, path))
        __builtin_trap();
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path(), ignored);
    return 0;
}
