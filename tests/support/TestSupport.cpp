#include "TestSupport.h"

#include "imaging/Encoders.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace testing_support {

using namespace imaging;

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "verlume-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

const imaging::CLSID& EncoderFor(const std::string& mime) {
    for (const imaging::ImageCodecInfo& e : imaging::GetImageEncoders())
        if (e.MimeType == mime) return e.Clsid;
    ADD_FAILURE() << "no encoder " << mime;
    static imaging::CLSID none;
    return none;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void WriteFile(const std::string& path, const std::string& text) {
    WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::unique_ptr<Bitmap> RandomBitmap(PixelFormat format, int32_t width, int32_t height,
                                     std::mt19937& rng) {
    auto bitmap = std::make_unique<Bitmap>(width, height, format);
    if (!bitmap->HasContent()) return bitmap;
    BitmapData data;
    bitmap->LockBits(nullptr, ImageLockModeWrite, format, &data);
    std::uniform_int_distribution<int> byte(0, 255), pick(0, 3);
    const size_t rowBytes = (size_t(width) * GetPixelFormatSize(format) + 7) / 8;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
        for (size_t i = 0; i < rowBytes; ++i) row[i] = uint8_t(byte(rng));
        if (format == PixelFormat32bppARGB) {
            // Mostly opaque, some fully transparent, some in between.
            for (int32_t x = 0; x < width; ++x) {
                const int k = pick(rng);
                row[4 * x + 3] = k < 2 ? 255 : k == 2 ? 0 : row[4 * x + 3];
            }
        }
    }
    bitmap->UnlockBits(&data);
    if (IsIndexedPixelFormat(format)) {
        std::array<uint32_t, 256> palette;
        for (uint32_t& entry : palette) entry = uint32_t(rng());
        bitmap->SetPalette(palette.data(), PaletteSizeOf(format));
    }
    return bitmap;
}

std::vector<uint8_t> PixelBytes(Bitmap& bitmap) {
    std::vector<uint8_t> bytes;
    if (!bitmap.HasContent()) return bytes;
    BitmapData data;
    if (bitmap.LockBits(nullptr, ImageLockModeRead, bitmap.GetPixelFormat(), &data) != Ok) return bytes;
    const size_t rowBytes = (size_t(data.Width) * GetPixelFormatSize(data.PixelFormat) + 7) / 8;
    for (uint32_t y = 0; y < data.Height; ++y) {
        const uint8_t* row = static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
        bytes.insert(bytes.end(), row, row + rowBytes);
    }
    bitmap.UnlockBits(&data);
    return bytes;
}

void FillBytes(Bitmap& bitmap, uint8_t value) {
    BitmapData data;
    if (bitmap.LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &data) != Ok) return;
    for (uint32_t y = 0; y < data.Height; ++y)
        std::memset(static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride, value, data.Width * 4);
    bitmap.UnlockBits(&data);
}

std::array<uint8_t, 4> PixelAt(Bitmap& bitmap, int32_t x, int32_t y) {
    BitmapData data;
    std::array<uint8_t, 4> px{};
    const Rect one{x, y, 1, 1};
    if (bitmap.LockBits(&one, ImageLockModeRead, PixelFormat32bppARGB, &data) != Ok) return px;
    std::memcpy(px.data(), data.Scan0, 4);
    bitmap.UnlockBits(&data);
    return px;
}

} // namespace testing_support

namespace testing_support {

std::vector<uint8_t> PngWithStatedSize(uint32_t w, uint32_t h) {
    auto crc32 = [](const std::vector<uint8_t>& bytes) {
        uint32_t c = 0xFFFFFFFFu;
        for (uint8_t b : bytes) {
            c ^= b;
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        }
        return c ^ 0xFFFFFFFFu;
    };
    auto be32 = [](std::vector<uint8_t>& v, uint32_t x) {
        for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
    };
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* type, std::vector<uint8_t> data) {
        be32(png, uint32_t(data.size()));
        data.insert(data.begin(), type, type + 4);
        png.insert(png.end(), data.begin(), data.end());
        be32(png, crc32(data));
    };
    std::vector<uint8_t> ihdr;
    be32(ihdr, w);
    be32(ihdr, h);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    chunk("IHDR", ihdr);
    chunk("IDAT", {0x78, 0x9C, 0x63, 0x60});
    chunk("IEND", {});
    return png;
}

std::vector<BadFile> MakeBadInputFiles(const TempDir& dir) {
    std::mt19937 rng(77);
    auto good = RandomBitmap(PixelFormat24bppRGB, 32, 24, rng);
    const std::pair<const char*, const char*> encoders[] = {
        {"png", "image/png"}, {"jpg", "image/jpeg"}, {"gif", "image/gif"}, {"tif", "image/tiff"}, {"bmp", "image/bmp"}};
    std::vector<BadFile> bad;
    for (auto [extension, mime] : encoders) {
        const std::string whole = dir.file(std::string("good.") + extension);
        for (const ImageCodecInfo& e : GetImageEncoders())
            if (e.MimeType == mime) good->Save(whole, &e.Clsid);
        auto bytes = ReadFile(whole);
        bytes.resize(bytes.size() / 2);
        const std::string name = std::string("truncated.") + extension;
        WriteFile(dir.file(name), bytes);
        bad.push_back({name, std::string("a ") + extension + " file cut in half"});
    }
    WriteFile(dir.file("empty.png"), std::string());
    bad.push_back({"empty.png", "an empty file"});
    WriteFile(dir.file("text.png"), std::string("Dear reader, this is not a picture.\n"));
    bad.push_back({"text.png", "a text file named .png"});
    WriteFile(dir.file("huge.png"), PngWithStatedSize(100000, 100000));
    bad.push_back({"huge.png", "a PNG whose header claims 100000 x 100000 pixels"});
    WriteFile(dir.file("zero.png"), PngWithStatedSize(0, 10));
    bad.push_back({"zero.png", "a PNG of zero width"});
    std::filesystem::create_directory(dir.file("folder.png"));
    bad.push_back({"folder.png", "a folder"});
    bad.push_back({"missing.png", "a file that does not exist"});
    return bad;
}

} // namespace testing_support
