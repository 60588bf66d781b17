// The PNG and TIFF writers: exact round trips through Qt's reader and through libpng and
// libtiff directly, and one valid zlib stream across the PNG's bands. (A failed write keeps
// the old file: the output file's own tests.)

#include "imaging/Bitmap.h"
#include "imaging/Encoders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <png.h>
#include <tiffio.h>

#include <cstring>

namespace {

using namespace imaging;
using namespace testing_support;

// The image as R, G, B(, A) bytes, row after row: what both formats must hold.
std::vector<uint8_t> ExpectedSamples(Bitmap& image, bool alpha) {
    std::vector<uint8_t> out;
    const auto bgra = PixelBytes(*ArgbCopy(image));
    for (size_t i = 0; i < bgra.size(); i += 4) {
        out.insert(out.end(), {bgra[i + 2], bgra[i + 1], bgra[i]});
        if (alpha) out.push_back(bgra[i + 3]);
    }
    return out;
}

struct Samples {
    int channels = 0;
    std::vector<uint8_t> bytes;
};

Samples ReadWithLibpng(const std::string& path) {
    Samples s;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return s;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_read_info(png, info);
        s.channels = png_get_channels(png, info);
        EXPECT_EQ(8, png_get_bit_depth(png, info));
        png_uint_32 resX = 0, resY = 0;
        int unit = 0;
        EXPECT_NE(0u, png_get_pHYs(png, info, &resX, &resY, &unit));
        EXPECT_EQ(3780u, resX); // 96 dpi
        EXPECT_EQ(PNG_RESOLUTION_METER, unit);
        const size_t rowBytes = png_get_rowbytes(png, info);
        s.bytes.resize(rowBytes * png_get_image_height(png, info));
        for (png_uint_32 y = 0; y < png_get_image_height(png, info); ++y) png_read_row(png, &s.bytes[y * rowBytes], nullptr);
        png_read_end(png, nullptr);
    } else {
        ADD_FAILURE() << "libpng cannot read " << path;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return s;
}

Samples ReadWithLibtiff(const std::string& path) {
    Samples s;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) return s;
    uint32_t width = 0, height = 0;
    uint16_t spp = 0, compression = 0, predictor = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tiff, TIFFTAG_PREDICTOR, &predictor);
    EXPECT_EQ(COMPRESSION_ADOBE_DEFLATE, compression);
    EXPECT_EQ(PREDICTOR_HORIZONTAL, predictor);
    s.channels = spp;
    s.bytes.resize(size_t(width) * spp * height);
    for (uint32_t y = 0; y < height; ++y)
        if (TIFFReadScanline(tiff, &s.bytes[size_t(y) * width * spp], y) < 0) ADD_FAILURE() << "row " << y;
    TIFFClose(tiff);
    return s;
}

// Random pixels (a quarter transparent, when `alpha`) in 32bppARGB, or in 24bppRGB. Those
// 40 pixels high or more are smooth, with a little noise, as photos are: filters other than
// the trivial ones are chosen for them.
std::unique_ptr<Bitmap> Image(int32_t w, int32_t h, bool alpha, std::mt19937& rng) {
    const PixelFormat format = alpha ? PixelFormat32bppARGB : PixelFormat24bppRGB;
    auto image = RandomBitmap(format, w, h, rng);
    if (h < 40) return image;
    BitmapData data;
    image->LockBits(nullptr, ImageLockModeWrite, format, &data);
    const int bpp = alpha ? 4 : 3;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
        for (int32_t i = 0; i < w * bpp; ++i)
            if (i % 4 != 3) row[i] = uint8_t(i * 7 / bpp + y * (i % bpp + 1) + (row[i] & 3));
    }
    image->UnlockBits(&data);
    return image;
}

TEST(LosslessWriters, RoundTripsAreExact) {
    TempDir dir;
    std::mt19937 rng(5);
    const struct { int32_t w, h; } sizes[] = {{1, 1}, {1, 9}, {13, 1}, {33, 17}, {31, 45}, {kMaxImageSide, 1}};
    for (const char* mime : {"image/png", "image/tiff"})
        for (bool alpha : {false, true})
            for (auto size : sizes) {
                SCOPED_TRACE(std::string(mime) + (alpha ? " alpha " : " opaque ") + std::to_string(size.w) + "x" +
                             std::to_string(size.h));
                auto image = Image(size.w, size.h, alpha, rng);
                if (alpha) { // at least one pixel less than opaque, whatever the random bytes
                    BitmapData data;
                    image->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &data);
                    static_cast<uint8_t*>(data.Scan0)[3] = 7;
                    image->UnlockBits(&data);
                }
                const std::string path = dir.file(std::string("out.") + (mime + 6));
                ASSERT_EQ(Ok, image->Save(path, &EncoderFor(mime))) << image->GetLastReason();

                const Samples direct = std::string(mime) == "image/png" ? ReadWithLibpng(path) : ReadWithLibtiff(path);
                EXPECT_EQ(alpha ? 4 : 3, direct.channels);
                EXPECT_TRUE(direct.bytes == ExpectedSamples(*image, alpha));

                // And as the program opens files: the same bytes.
                std::unique_ptr<Bitmap> back(Bitmap::FromFile(path));
                ASSERT_TRUE(back->HasContent()) << back->GetLastReason();
                EXPECT_EQ(alpha ? PixelFormat32bppARGB : PixelFormat24bppRGB, back->GetPixelFormat());
                EXPECT_TRUE(PixelBytes(*back) == PixelBytes(*image));
            }
}

// The bands of a large PNG are compressed apart; together they must still be one zlib stream
// whose Adler-32 holds.
TEST(LosslessWriters, PngBandsFormOneZlibStream) {
    TempDir dir;
    std::mt19937 rng(3);
    auto image = Image(700, 1200, true, rng); // 2.8 MB of rows: several bands
    const std::string path = dir.file("bands.png");
    ASSERT_EQ(Ok, image->Save(path, &EncoderFor("image/png")));
    const auto file = ReadFile(path);
    std::vector<uint8_t> stream;
    int idats = 0;
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t length = uint32_t(file[at]) << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        if (std::memcmp(&file[at + 4], "IDAT", 4) == 0) {
            stream.insert(stream.end(), file.begin() + long(at + 8), file.begin() + long(at + 8 + length));
            ++idats;
        }
        at += 12 + length;
    }
    EXPECT_GE(idats, 3);
    const size_t filtered = 1200 * (1 + 700 * 4);
    EXPECT_EQ(filtered, Inflated(stream, filtered, true).size());
    stream[stream.size() - 1] ^= 1; // the Adler-32 is checked
    EXPECT_TRUE(Inflated(stream, filtered, true).empty());
}

} // namespace
