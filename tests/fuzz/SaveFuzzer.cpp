// Bytes as a file name: the encoder the name chooses, and saving under it into a temporary
// folder. A save either works and leaves exactly the named file, or fails with a reason and
// leaves nothing.

#include "files/ImageFiles.h"
#include "imaging/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Folder scratch;
    const fs::path& folder = scratch.path;
    // A name within the folder: no separators, no NUL, not "." or "..".
    std::string name;
    for (size_t i = 0; i < size && name.size() < 200; ++i)
        if (data[i] != '/' && data[i] != 0) name.push_back(char(data[i]));
    if (name.empty() || name == "." || name == "..") return 0;

    const char* mime = files::EncoderMimeTypeForPath(name);
    imaging::CLSID clsid;
    if (files::FindEncoderByMimeType(mime, &clsid) < 0) return 0;

    static imaging::Bitmap image(7, 5, imaging::PixelFormat32bppARGB);
    const imaging::StatusRecord saved = files::SaveImageByName(image, (folder / name).string());
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++files;
    }
    if (saved.code == imaging::Ok ? files != 1 : (files != 0 || saved.reason.empty())) __builtin_trap();
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path(), ignored);
    return 0;
}
