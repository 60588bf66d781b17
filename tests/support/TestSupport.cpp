#include "TestSupport.h"

#include "imaging/Encoders.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <tuple>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

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

} // namespace testing_support

namespace testing_support {

std::vector<uint8_t> PngWithStatedSize(uint32_t w, uint32_t h) {
    auto be32 = [](std::vector<uint8_t>& v, uint32_t x) {
        for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
    };
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* type, std::vector<uint8_t> data) {
        be32(png, uint32_t(data.size()));
        data.insert(data.begin(), type, type + 4);
        png.insert(png.end(), data.begin(), data.end());
        be32(png, uint32_t(crc32(0, data.data(), uInt(data.size()))));
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

namespace {

// The position of the first marker FF `code` at or after `from`; the end when there is none.
size_t FindMarker(const std::vector<uint8_t>& jpeg, uint8_t code, size_t from) {
    for (size_t i = from; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return i;
    return jpeg.size();
}

std::vector<uint8_t> ProgressiveJpeg() {
    QImage picture(64, 48, QImage::Format_RGB32);
    std::mt19937 rng(3);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) picture.setPixel(x, y, qRgb(x * 4, y * 5, int(rng() & 255)));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    writer.write(picture);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// An uncompressed 24-bit BMP header stating `width` x `height`, then `dataBytes` of pixels; its
// size field matches the file.
std::vector<uint8_t> BmpWithStatedSize(int32_t width, int32_t height, size_t dataBytes) {
    std::vector<uint8_t> b(54 + dataBytes, 0x55);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, uint32_t(b.size()));
    Put32(b, 6, 0);
    Put32(b, 10, 54);
    Put32(b, 14, 40);
    Put32(b, 18, uint32_t(width));
    Put32(b, 22, uint32_t(height));
    Put16(b, 26, 1);
    Put16(b, 28, 24);
    Put32(b, 30, 0);
    Put32(b, 34, 0);
    for (size_t i = 38; i < 54; ++i) b[i] = 0;
    return b;
}

} // namespace

std::vector<uint8_t> GifWithScreen(uint16_t width, uint16_t height) {
    std::vector<uint8_t> b = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255};
    Put16(b, 6, width);
    Put16(b, 8, height);
    const uint8_t image[] = {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
    b.insert(b.end(), std::begin(image), std::end(image));
    return b;
}

std::vector<uint8_t> QtWritten(const char* format, int w, int h) {
    QImage picture(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) picture.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, (x + y) % 2 ? 200 : 40));
    const bool bilevel = std::string(format) == "xbm" || std::string(format) == "pbm" || std::string(format) == "wbmp";
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(bilevel ? picture.convertToFormat(QImage::Format_Mono) : picture);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
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
    // JPEGs cut inside their entropy-coded data, which libjpeg would fill with grey.
    const auto jpeg = ReadFile(dir.file("good.jpg"));
    const size_t scan = FindMarker(jpeg, 0xDA, 0);
    const size_t scanData = scan + 2 + (size_t(jpeg[scan + 2]) << 8 | jpeg[scan + 3]);
    for (auto [name, length] : {std::pair<const char*, size_t>{"scan-start.jpg", scanData + 2},
                                {"scan-half.jpg", jpeg.size() / 2}, {"scan-most.jpg", jpeg.size() * 9 / 10}}) {
        WriteFile(dir.file(name), std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + long(length)));
        bad.push_back({name, std::string("a JPEG cut inside its scan data, at byte ") + std::to_string(length)});
    }
    const auto progressive = ProgressiveJpeg();
    const size_t secondScan = FindMarker(progressive, 0xDA, FindMarker(progressive, 0xDA, 0) + 2);
    WriteFile(dir.file("progressive.jpg"),
              std::vector<uint8_t>(progressive.begin(), progressive.begin() + long(secondScan)));
    bad.push_back({"progressive.jpg", "a progressive JPEG cut after its first scan"});
    // Whole files that claim far more than they can hold.
    auto claim = jpeg;
    const size_t frame = FindMarker(claim, 0xC0, 0);
    for (size_t i : {frame + 5, frame + 7}) { // height and width: 16384
        claim[i] = 0x40;
        claim[i + 1] = 0x00;
    }
    WriteFile(dir.file("claim.jpg"), claim);
    bad.push_back({"claim.jpg", "a whole JPEG of a few hundred bytes claiming 16384 x 16384 pixels"});
    WriteFile(dir.file("claim.bmp"), BmpWithStatedSize(8192, 8192, 60));
    bad.push_back({"claim.bmp", "a 114-byte BMP claiming 8192 x 8192 pixels"});
    WriteFile(dir.file("tall.bmp"), BmpWithStatedSize(12, -16777207, 324));
    bad.push_back({"tall.bmp", "a 378-byte BMP of 12 x -16777207 pixels"});
    WriteFile(dir.file("screen.gif"), GifWithScreen(16384, 16384));
    bad.push_back({"screen.gif", "a whole GIF whose logical screen is 16384 x 16384"});
    // The other formats Qt reads: each cut in half, and one claiming far more than it holds.
    for (const char* format : {"webp", "ppm", "pgm", "pbm", "xbm", "xpm", "ico", "cur", "icns", "wbmp"}) {
        const std::string name = std::string("truncated.") + format;
        auto bytes = QtWritten(format, 32, 24);
        bytes.resize(bytes.size() / 2);
        WriteFile(dir.file(name), bytes);
        bad.push_back({name, std::string("a ") + format + " file cut in half"});
    }
    for (const auto& [name, text] : std::initializer_list<std::pair<const char*, const char*>>{
             {"claim.ppm", "P6\n16000 16000\n255\n\x01\x02"},
             {"claim.pgm", "P2\n16000 16000\n255\n1 2 3\n"},
             {"claim.xbm", "#define a_width 16000\n#define a_height 16000\nstatic char a_bits[] = {\n0x01, 0x02 };\n"}}) {
        WriteFile(dir.file(name), std::string(text));
        bad.push_back({name, std::string("a ") + (name + 6) + " file of a few bytes claiming 16000 x 16000 pixels"});
    }
    WriteFile(dir.file("claim.wbmp"), std::vector<uint8_t>{0, 0, 0x81, 0xFD, 0x00, 0x81, 0xFD, 0x00, 0xFF, 0xFF});
    bad.push_back({"claim.wbmp", "a 10-byte WBMP claiming 16000 x 16000 pixels"});
    // A grey TIFF whose one uncompressed strip, 64 bytes in the file, claims 16000 x 16000.
    std::vector<uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 9, 0};
    auto le = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) tiff.push_back(uint8_t(v >> 8 * i));
    };
    for (auto [tag, type, value] : {std::tuple{256u, 4u, 16000u}, {257u, 4u, 16000u}, {258u, 3u, 8u}, {259u, 3u, 1u},
                                    {262u, 3u, 1u}, {273u, 4u, 122u}, {277u, 3u, 1u}, {278u, 4u, 16000u},
                                    {279u, 4u, 256000000u}})
        le(tag, 2), le(type, 2), le(1, 4), le(value, 4);
    le(0, 4); // no further directory; the strip starts at byte 122
    tiff.resize(tiff.size() + 64, 0x10);
    WriteFile(dir.file("claim.tif"), tiff);
    bad.push_back({"claim.tif", "a 186-byte TIFF whose strip claims 16000 x 16000 pixels"});
    auto ico = QtWritten("ico", 16, 16);
    ico[14] = ico[15] = ico[16] = 0x7F; // the first image's size, far beyond the file
    WriteFile(dir.file("claim.ico"), ico);
    bad.push_back({"claim.ico", "an ICO whose directory lists an image beyond the file"});
    ::mkfifo(dir.file("fifo.png").c_str(), 0600);
    bad.push_back({"fifo.png", "a FIFO that nobody writes to"});
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
