#include "TestSupport.h"

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
