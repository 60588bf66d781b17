#include "TestSupport.h"

#include "imaging/Encoders.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <zlib.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

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

std::unique_ptr<Bitmap> ArgbCopy(Bitmap& bitmap) {
    return bitmap.Clone({0, 0, int32_t(bitmap.GetWidth()), int32_t(bitmap.GetHeight())},
                        PixelFormat32bppARGB);
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

int PixelsApart(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int tolerance) {
    if (a.size() != b.size()) return int(std::max(a.size(), b.size()) / 4); // all of them
    int count = 0;
    for (size_t i = 0; i + 4 <= a.size(); i += 4) {
        bool near = true;
        for (size_t c = i; c < i + 4; ++c) near = near && std::abs(int(a[c]) - int(b[c])) <= tolerance;
        count += !near;
    }
    return count;
}

void FillBytes(Bitmap& bitmap, uint8_t value) {
    BitmapData data;
    if (bitmap.LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &data) != Ok) return;
    for (uint32_t y = 0; y < data.Height; ++y)
        std::memset(static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride, value, data.Width * 4);
    bitmap.UnlockBits(&data);
}

std::unique_ptr<Bitmap> PaintedArgb(int32_t width, int32_t height,
                                    const std::function<std::array<uint8_t, 4>(int32_t x, int32_t y)>& bgra) {
    auto bitmap = std::make_unique<Bitmap>(width, height, PixelFormat32bppARGB);
    BitmapData data;
    if (bitmap->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &data) != Ok) return bitmap;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            std::memcpy(static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride + 4 * x, bgra(x, y).data(), 4);
    bitmap->UnlockBits(&data);
    return bitmap;
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

namespace {

// Where stored pixel (row r, column c) shows in the upright picture of `w` x `h`, by the
// EXIF definition of each orientation (where row 0 and column 0 lie).
std::pair<int, int> Seen(int orientation, int r, int c, int w, int h) {
    switch (orientation) {
    case 2: return {w - 1 - c, r};
    case 3: return {w - 1 - c, h - 1 - r};
    case 4: return {c, h - 1 - r};
    case 5: return {r, c};
    case 6: return {w - 1 - r, c};
    case 7: return {w - 1 - r, h - 1 - c};
    case 8: return {r, h - 1 - c};
    default: return {c, r};
    }
}

} // namespace

std::unique_ptr<Bitmap> StoredAs(Bitmap& upright, int orientation) {
    const int w = int(upright.GetWidth()), h = int(upright.GetHeight());
    const bool turned = orientation >= 5;
    return PaintedArgb(turned ? h : w, turned ? w : h, [&](int32_t c, int32_t r) {
        const auto [x, y] = Seen(orientation, r, c, w, h);
        return PixelAt(upright, x, y);
    });
}

void TagOrientation(const std::string& path, int orientation) {
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    image->exifData()["Exif.Image.Orientation"] = uint16_t(orientation);
    image->writeMetadata();
}

std::vector<uint8_t> Inflated(const std::vector<uint8_t>& stream, size_t expected, bool zlibWrapped) {
    std::vector<uint8_t> out(expected + 1);
    z_stream z{};
    inflateInit2(&z, zlibWrapped ? MAX_WBITS : -MAX_WBITS);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = uInt(stream.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const bool whole = inflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out == expected && z.avail_in == 0;
    inflateEnd(&z);
    out.resize(whole ? expected : 0);
    return out;
}

std::string DataFile(const std::string& name) { return std::string(VERLUME_TEST_DATA) + "/" + name; }

std::vector<BadFile> BadInputFiles(const TempDir& dir) {
    namespace fs = std::filesystem;
    for (const fs::directory_entry& e : fs::directory_iterator(DataFile("bad")))
        fs::copy_file(e.path(), dir.path() / e.path().filename());
    std::vector<BadFile> bad;
    std::ifstream index(DataFile("bad/index.txt"));
    for (std::string name, what; std::getline(index, name, '\t') && std::getline(index, what);) bad.push_back({name, what});
    if (bad.empty()) ADD_FAILURE() << "no list of bad files in " << DataFile("bad");
    ::mkfifo(dir.file("fifo.png").c_str(), 0600);
    fs::create_directory(dir.file("folder.png"));
    bad.insert(bad.end(), {{"fifo.png", "a FIFO that nobody writes to"}, {"folder.png", "a folder"},
                           {"missing.png", "a file that does not exist"}});
    return bad;
}

} // namespace testing_support
