// Decoding files into the layer's formats, the encoders, and bad files.

#include "imaging/Bitmap.h"
#include "imaging/Encoders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QImageWriter>

#include <filesystem>
#include <memory>
#include <map>
#include <set>
#include <thread>
#include <unistd.h>
#include <cstring>

namespace {

using namespace imaging;
using namespace testing_support;

// A test picture with smooth gradients and a few sharp edges.
QImage Picture(int w, int h, QImage::Format format) {
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgba(x * 255 / w, y * 255 / h, (x / 8 + y / 8) % 2 ? 220 : 30,
                                       x < w / 2 ? 255 : (y * 7) % 256));
    return image.convertToFormat(format);
}

// The picture as a 32bppARGB bitmap, byte for byte.
std::unique_ptr<Bitmap> PictureBitmap(int w, int h, QImage::Format format) {
    const QImage picture = Picture(w, h, format).convertToFormat(QImage::Format_ARGB32);
    auto bitmap = std::make_unique<Bitmap>(w, h, PixelFormat32bppARGB);
    BitmapData data;
    bitmap->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &data);
    for (int y = 0; y < h; ++y)
        std::memcpy(static_cast<uint8_t*>(data.Scan0) + y * data.Stride, picture.constScanLine(y), size_t(w) * 4);
    bitmap->UnlockBits(&data);
    return bitmap;
}

void WriteWithQt(const QImage& image, const std::string& path, const char* format) {
    QImageWriter writer(QString::fromStdString(path), format);
    ASSERT_TRUE(writer.write(image)) << writer.errorString().toStdString();
}

std::string Head(const std::string& path, size_t n) {
    const auto bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.begin() + std::min(n, bytes.size()));
}

struct DecodeCase {
    const char* name;
    QImage::Format qtFormat;
    const char* qtWriter;
    PixelFormat expected;
};

// Files Qt writes open in the documented formats.
TEST(Decoding, FileTypesBecomeTheDocumentedFormats) {
    TempDir dir;
    const DecodeCase cases[] = {
        {"rgb.png", QImage::Format_RGB32, "png", PixelFormat24bppRGB},
        {"rgba.png", QImage::Format_ARGB32, "png", PixelFormat32bppARGB},
        {"rgba16.png", QImage::Format_RGBA64, "png", PixelFormat32bppARGB},
        {"grey.png", QImage::Format_Grayscale8, "png", PixelFormat8bppIndexed},
        {"grey16.png", QImage::Format_Grayscale16, "png", PixelFormat8bppIndexed},
        {"mono.png", QImage::Format_Mono, "png", PixelFormat1bppIndexed},
        {"palette.png", QImage::Format_Indexed8, "png", PixelFormat8bppIndexed},
        {"photo.jpg", QImage::Format_RGB32, "jpeg", PixelFormat24bppRGB},
        {"picture.bmp", QImage::Format_RGB32, "bmp", PixelFormat24bppRGB},
        {"picture.tif", QImage::Format_ARGB32, "tiff", PixelFormat32bppARGB},
        {"rgb.tif", QImage::Format_RGB32, "tiff", PixelFormat24bppRGB},
        {"grey.tif", QImage::Format_Grayscale8, "tiff", PixelFormat8bppIndexed},
        {"palette.tif", QImage::Format_Indexed8, "tiff", PixelFormat8bppIndexed},
        {"mono.tif", QImage::Format_Mono, "tiff", PixelFormat1bppIndexed},
        {"picture.webp", QImage::Format_RGB32, "webp", PixelFormat24bppRGB},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage picture = Picture(40, 24, c.qtFormat);
        WriteWithQt(picture, dir.file(c.name), c.qtWriter);
        auto bitmap = Bitmap::FromFile(dir.file(c.name));
        ASSERT_TRUE(bitmap->HasContent()) << bitmap->GetLastReason();
        EXPECT_EQ(c.expected, bitmap->GetPixelFormat());
        EXPECT_EQ(40u, bitmap->GetWidth());
        EXPECT_EQ(24u, bitmap->GetHeight());
        // Their pixels: the conformance test.
    }
}

TEST(Encoding, GifKeepsFewColoursExactlyAndReducesMany) {
    TempDir dir;
    // Four colours and transparency: exact.
    Bitmap few(30, 20, PixelFormat32bppARGB);
    BitmapData data;
    few.LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &data);
    const uint32_t colours[5] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF123456, 0x00000000};
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            std::memcpy(static_cast<uint8_t*>(data.Scan0) + y * data.Stride + 4 * x, &colours[(x + y) % 5], 4);
    few.UnlockBits(&data);
    ASSERT_EQ(Ok, few.Save(dir.file("few.gif"), &EncoderFor("image/gif"))) << few.GetLastReason();
    EXPECT_EQ("GIF89a", Head(dir.file("few.gif"), 6));
    auto back = Bitmap::FromFile(dir.file("few.gif"));
    ASSERT_TRUE(back->HasContent()) << back->GetLastReason();
    EXPECT_EQ(PixelBytes(few), PixelBytes(*ArgbCopy(*back)));

    // A photo-like image: at most 256 colours, close to the original.
    const auto photo = PictureBitmap(80, 60, QImage::Format_ARGB32);
    Bitmap& many = *photo;
    ASSERT_EQ(Ok, many.Save(dir.file("many.gif"), &EncoderFor("image/gif"))) << many.GetLastReason();
    auto reduced = Bitmap::FromFile(dir.file("many.gif"));
    ASSERT_TRUE(reduced->HasContent());
    const auto a = PixelBytes(many), b = PixelBytes(*ArgbCopy(*reduced));
    std::set<uint32_t> distinct;
    double error = 0;
    int opaque = 0;
    for (size_t i = 0; i < a.size(); i += 4) {
        distinct.insert(uint32_t(b[i]) | b[i + 1] << 8 | b[i + 2] << 16 | uint32_t(b[i + 3]) << 24);
        EXPECT_EQ(a[i + 3] >= 128 ? 255 : 0, b[i + 3]) << i / 4;
        if (a[i + 3] >= 128) {
            ++opaque;
            for (int c = 0; c < 3; ++c) error += std::abs(int(a[i + c]) - int(b[i + c]));
        }
    }
    EXPECT_LE(distinct.size(), 256u);
    EXPECT_LT(error / (3.0 * opaque), 8.0);
}

TEST(Encoding, ImageWithoutContentOrUnknownEncoderSavesNothing) {
    TempDir dir;
    Bitmap empty(0, 0, PixelFormat32bppARGB);
    EXPECT_NE(Ok, empty.Save(dir.file("a.png"), &EncoderFor("image/png")));
    Bitmap image(4, 4, PixelFormat32bppARGB);
    CLSID unknown;
    unknown.Data1 = 42;
    EXPECT_EQ(InvalidParameter, image.Save(dir.file("b.png"), &unknown));
    EXPECT_EQ(InvalidParameter, image.Save(dir.file("c.png"), nullptr));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(Decoding, BadFilesGiveAClearStatus) {
    TempDir dir;
    const std::string damaged = "is damaged or incomplete";
    const std::map<std::string, std::pair<Status, std::string>> expected = {
        {"missing.png", {FileNotFound, "does not exist"}},
        {"empty.png", {UnknownImageFormat, "is empty"}},
        {"text.png", {UnknownImageFormat, "not an image file"}},
        {"huge.png", {ValueOverflow, "more than this program can hold"}},
        {"folder.png", {InvalidParameter, "is a folder"}},
        {"fifo.png", {UnknownImageFormat, "is empty"}},
        {"screen.gif", {ValueOverflow, "is 16384 x 16384 pixels, more than this program can hold"}},
        {"no-image.gif", {UnknownImageFormat, "holds no image"}},
        {"tall.bmp", {UnknownImageFormat, damaged}},
        // A WBMP has no signature: Qt knows one only by a header and data that agree.
        {"truncated.wbmp", {UnknownImageFormat, "not an image file"}},
        {"claim.wbmp", {UnknownImageFormat, "not an image file"}},
        {"scan-start.jpg", {UnknownImageFormat, damaged}},
        {"scan-half.jpg", {UnknownImageFormat, damaged}},
        {"scan-most.jpg", {UnknownImageFormat, damaged}},
        {"progressive.jpg", {UnknownImageFormat, damaged}},
    };
    // Every other format cut in half, and every claim of more than the file holds: damaged,
    // told before memory is taken for the claim.
    auto damagedOne = [](const std::string& name) {
        return !name.ends_with(".wbmp") && (name.starts_with("truncated.") || name.starts_with("claim."));
    };
    for (const BadFile& f : BadInputFiles(dir)) {
        SCOPED_TRACE(f.what);
        auto bitmap = Bitmap::FromFile(dir.file(f.name));
        EXPECT_FALSE(bitmap->HasContent());
        EXPECT_EQ(0u, bitmap->GetWidth());
        EXPECT_NE(std::string::npos, bitmap->GetLastReason().find(f.name)) << bitmap->GetLastReason();
        if (damagedOne(f.name)) {
            EXPECT_EQ(UnknownImageFormat, bitmap->GetLastStatus()) << bitmap->GetLastReason();
            EXPECT_NE(std::string::npos, bitmap->GetLastReason().find(damaged)) << bitmap->GetLastReason();
        } else if (auto e = expected.find(f.name); e != expected.end()) {
            EXPECT_EQ(e->second.first, bitmap->GetLastStatus()) << bitmap->GetLastReason();
            EXPECT_NE(std::string::npos, bitmap->GetLastReason().find(e->second.second)) << bitmap->GetLastReason();
        }
    }
    // The whole files they were cut from open.
    for (const char* name : {"good.jpg", "good.gif", "good.bmp", "good.png", "good.tif"})
        EXPECT_TRUE(Bitmap::FromFile(dir.file(name))->HasContent()) << name;
}

// Through a pipe a file has no size to check against: what arrives is checked instead, and a
// pipe that delivers a whole image opens it.
TEST(Decoding, PipesAreCheckedByWhatTheyDeliver) {
    TempDir dir;
    BadInputFiles(dir);
    const struct { const char* file; bool opens; } rows[] = {
        {"good.png", true}, {"good.jpg", true}, {"truncated.gif", false},
        {"truncated.bmp", false}, {"scan-half.jpg", false}, {"claim.bmp", false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.file);
        int fds[2];
        ASSERT_EQ(0, ::pipe(fds));
        const auto bytes = ReadFile(dir.file(r.file));
        std::thread writer([&] {
            size_t at = 0;
            while (at < bytes.size()) {
                const ssize_t n = ::write(fds[1], bytes.data() + at, bytes.size() - at);
                if (n <= 0) break;
                at += size_t(n);
            }
            ::close(fds[1]);
        });
        auto piped = Bitmap::FromFile("/dev/fd/" + std::to_string(fds[0]));
        writer.join();
        ::close(fds[0]);
        ASSERT_EQ(r.opens, piped->HasContent()) << piped->GetLastReason();
        if (r.opens) {
            EXPECT_EQ(PixelBytes(*Bitmap::FromFile(dir.file(r.file))), PixelBytes(*piped));
        } else {
            EXPECT_NE(std::string::npos, piped->GetLastReason().find("is damaged or incomplete")) << piped->GetLastReason();
        }
    }
}

} // namespace
