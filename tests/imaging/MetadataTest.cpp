// Photos as cameras write them: the EXIF orientation applied on opening, and the colour
// profile, EXIF and XMP carried into PNG, JPEG and TIFF, read back with exiv2 itself. Also
// the JPEG writer's quality and what formats without alpha show under transparent pixels.

#include "imaging/Bitmap.h"
#include "imaging/Encoders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QColorSpace>

#include <cstring>
#include <functional>
#include <optional>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

namespace {

using namespace imaging;
using namespace testing_support;

void Tag(const std::string& path, const std::function<void(Exiv2::Image&)>& edit) {
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    edit(*image);
    image->writeMetadata();
}

// Each of the eight orientations, in a lossless PNG and TIFF (the decoder's bytes must be the
// upright picture's) and in JPEG (the untagged file's pixels, turned by the definition).
TEST(Orientation, EveryTagOpensUpright) {
    TempDir dir;
    std::mt19937 rng(8);
    auto upright = RandomBitmap(PixelFormat24bppRGB, 7, 4, rng);
    auto uprightArgb = ArgbCopy(*upright);
    for (const char* type : {"png", "tif", "jpg"}) {
        const std::string mime = std::string("image/") + (type[0] == 'p' ? "png" : type[0] == 't' ? "tiff" : "jpeg");
        for (int o = 1; o <= 8; ++o) {
            SCOPED_TRACE(testing::Message() << type << ", orientation " << o);
            const std::string path = dir.file("o" + std::to_string(o) + "." + type);
            auto stored = StoredAs(*uprightArgb, o);
            ASSERT_EQ(Ok, stored->Save(path, &EncoderFor(mime)));
            auto untagged = Bitmap::FromFile(path);
            TagOrientation(path, o);
            auto opened = Bitmap::FromFile(path);
            ASSERT_TRUE(opened->HasContent()) << opened->GetLastReason();
            EXPECT_EQ(o, opened->GetMetadata().orientation);
            if (type[0] != 'j') {
                EXPECT_EQ(PixelBytes(*upright), PixelBytes(*opened));
            } else {
                auto plain = ArgbCopy(*untagged);
                EXPECT_EQ(PixelBytes(*StoredAs(*ArgbCopy(*opened), o)), PixelBytes(*plain));
            }
        }
    }
    // A bilevel picture turns as well, keeping its two colours.
    Bitmap mono(5, 3, PixelFormat1bppIndexed);
    BitmapData data;
    mono.LockBits(nullptr, ImageLockModeWrite, PixelFormat1bppIndexed, &data);
    static_cast<uint8_t*>(data.Scan0)[0] = 0x80; // pixel (0, 0) white
    mono.UnlockBits(&data);
    ASSERT_EQ(Ok, mono.Save(dir.file("mono.png"), &EncoderFor("image/png")));
    TagOrientation(dir.file("mono.png"), 6);
    auto turned = Bitmap::FromFile(dir.file("mono.png"));
    ASSERT_EQ(3u, turned->GetWidth());
    EXPECT_EQ(0xFF, PixelAt(*turned, 2, 0)[0]); // row 0 on the right, column 0 at the top
    EXPECT_EQ(0, PixelAt(*turned, 0, 0)[0]);
}

// A photo as a phone writes it: profile, camera, date, GPS, a thumbnail, XMP, orientation 6.
struct Photo {
    std::string path;
    std::vector<uint8_t> icc;
};

Photo PhoneJpeg(const TempDir& dir) {
    std::mt19937 rng(5);
    auto pixels = RandomBitmap(PixelFormat24bppRGB, 40, 30, rng);
    Photo photo{dir.file("phone.jpg"), {}};
    pixels->Save(photo.path, &EncoderFor("image/jpeg"));
    const QByteArray icc = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    photo.icc.assign(icc.begin(), icc.end());
    Tag(photo.path, [&](Exiv2::Image& image) {
        Exiv2::ExifData& exif = image.exifData();
        exif["Exif.Image.Make"] = "Acme";
        exif["Exif.Image.Model"] = "Phone 9";
        exif["Exif.Image.Orientation"] = uint16_t(6);
        exif["Exif.Photo.DateTimeOriginal"] = "2026:07:14 10:20:30";
        exif["Exif.Photo.PixelXDimension"] = uint32_t(40);
        exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
        exif["Exif.GPSInfo.GPSLatitude"] = "52/1 30/1 0/1";
        const std::vector<uint8_t> thumbnail = ReadFile(photo.path);
        Exiv2::ExifThumb(exif).setJpegThumbnail(thumbnail.data(), long(thumbnail.size()));
        image.xmpData()["Xmp.dc.creator"] = "A. Photographer";
        image.xmpData()["Xmp.tiff.Orientation"] = "6";
        Exiv2::DataBuf profile(photo.icc.data(), long(photo.icc.size()));
        image.setIccProfile(profile);
    });
    return photo;
}

TEST(Metadata, CarriedIntoEveryFormatThatHoldsIt) {
    TempDir dir;
    const Photo photo = PhoneJpeg(dir);
    auto opened = Bitmap::FromFile(photo.path);
    ASSERT_EQ(30u, opened->GetWidth()); // upright: a quarter turn
    ASSERT_EQ(photo.icc, opened->GetMetadata().icc);
    SaveOptions options;
    options.metadata = &opened->GetMetadata();
    for (const char* mime : {"image/png", "image/jpeg", "image/tiff"}) {
        SCOPED_TRACE(mime);
        const std::string path = dir.file(std::string("out.") + (mime + 6));
        ASSERT_EQ(Ok, opened->Save(path, &EncoderFor(mime), options)) << opened->GetLastReason();
        EXPECT_EQ(30u, Bitmap::FromFile(path)->GetWidth()); // still opens, upright
        auto back = Exiv2::ImageFactory::open(path);
        back->readMetadata();
        ASSERT_TRUE(back->iccProfileDefined());
        EXPECT_EQ(photo.icc, std::vector<uint8_t>(back->iccProfile()->pData_, back->iccProfile()->pData_ + back->iccProfile()->size_));
        Exiv2::ExifData& exif = back->exifData();
        EXPECT_EQ("Acme", exif["Exif.Image.Make"].toString());
        EXPECT_EQ("Phone 9", exif["Exif.Image.Model"].toString());
        EXPECT_EQ("2026:07:14 10:20:30", exif["Exif.Photo.DateTimeOriginal"].toString());
        EXPECT_EQ("52/1 30/1 0/1", exif["Exif.GPSInfo.GPSLatitude"].toString());
        EXPECT_EQ(1, exif["Exif.Image.Orientation"].toLong());
        EXPECT_EQ(30, exif["Exif.Photo.PixelXDimension"].toLong());
        EXPECT_EQ(40, exif["Exif.Photo.PixelYDimension"].toLong());
        EXPECT_EQ(0, Exiv2::ExifThumbC(exif).copy().size_);
        EXPECT_EQ("A. Photographer", back->xmpData()["Xmp.dc.creator"].toString());
        EXPECT_EQ("1", back->xmpData()["Xmp.tiff.Orientation"].toString());
    }
    // PNG holds them in the standard chunks.
    const std::vector<uint8_t> png = ReadFile(dir.file("out.png"));
    for (const char* chunk : {"iCCP", "eXIf", "iTXtXML:com.adobe.xmp"})
        EXPECT_NE(png.end(), std::search(png.begin(), png.end(), chunk, chunk + std::strlen(chunk))) << chunk;
    // GIF and BMP hold none and are written as before.
    for (const char* mime : {"image/gif", "image/bmp"})
        EXPECT_EQ(Ok, opened->Save(dir.file(std::string("out.") + (mime + 6)), &EncoderFor(mime), options)) << mime;
}

// Damaged EXIF never stops the picture from opening: it opens as it is stored, without it.
TEST(Metadata, DamagedExifIsLeftOut) {
    TempDir dir;
    std::mt19937 rng(6);
    auto pixels = RandomBitmap(PixelFormat24bppRGB, 12, 8, rng);
    pixels->Save(dir.file("a.jpg"), &EncoderFor("image/jpeg"));
    std::vector<uint8_t> bytes = ReadFile(dir.file("a.jpg"));
    // An APP1 segment that says Exif and then holds a TIFF header pointing far outside.
    const uint8_t app1[] = {0xFF, 0xE1, 0x00, 0x10, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F};
    bytes.insert(bytes.begin() + 2, std::begin(app1), std::end(app1));
    WriteFile(dir.file("b.jpg"), bytes);
    auto opened = Bitmap::FromFile(dir.file("b.jpg"));
    ASSERT_TRUE(opened->HasContent()) << opened->GetLastReason();
    EXPECT_EQ(12u, opened->GetWidth());
    EXPECT_EQ(1, opened->GetMetadata().orientation);
}

// The quantisation tables tell the quality libjpeg was given: the standard luminance table's
// first entry, 16, scaled by 200 - 2q percent (q >= 50) or 5000 / q percent.
TEST(Encoding, JpegQualityAndSubsampling) {
    TempDir dir;
    std::mt19937 rng(9);
    auto image = RandomBitmap(PixelFormat24bppRGB, 32, 32, rng);
    const struct { std::optional<int> quality; int first; } cases[] = {{std::nullopt, 3}, {75, 8}, {40, 20}, {100, 1}};
    for (const auto& c : cases) {
        SaveOptions options;
        if (c.quality) options.jpegQuality = *c.quality;
        ASSERT_EQ(Ok, image->Save(dir.file("q.jpg"), &EncoderFor("image/jpeg"), options));
        const std::vector<uint8_t> jpeg = ReadFile(dir.file("q.jpg"));
        const uint8_t dqt[] = {0xFF, 0xDB}, sof[] = {0xFF, 0xC0};
        const auto table = std::search(jpeg.begin(), jpeg.end(), std::begin(dqt), std::end(dqt));
        ASSERT_LT(table + 5, jpeg.end());
        EXPECT_EQ(c.first, table[5]) << c.quality.value_or(0);
        const auto frame = std::search(jpeg.begin(), jpeg.end(), std::begin(sof), std::end(sof));
        ASSERT_LT(frame + 11, jpeg.end());
        EXPECT_EQ(0x22, frame[11]); // luma 2 x 2 per chroma sample: 4:2:0
    }
}

// JPEG and BMP hold no alpha: what is not opaque shows over white, as viewers show it.
TEST(Encoding, FormatsWithoutAlphaShowWhiteUnderTransparency) {
    TempDir dir;
    auto painted = PaintedArgb(16, 16, [](int32_t x, int32_t y) { // red, transparent, opaque or a fifth
        return std::array<uint8_t, 4>{0, 0, 200, uint8_t(x < 8 ? 0 : y < 8 ? 255 : 51)};
    });
    Bitmap& image = *painted;
    ASSERT_EQ(Ok, image.Save(dir.file("w.bmp"), &EncoderFor("image/bmp")));
    auto bmp = Bitmap::FromFile(dir.file("w.bmp"));
    EXPECT_EQ((std::array<uint8_t, 4>{255, 255, 255, 255}), PixelAt(*bmp, 2, 2));
    EXPECT_EQ((std::array<uint8_t, 4>{0, 0, 200, 255}), PixelAt(*bmp, 12, 2));
    // A fifth of red 200 over white: 200 / 5 + 255 * 4 / 5 = 244, 204 for the others.
    EXPECT_EQ((std::array<uint8_t, 4>{204, 204, 244, 255}), PixelAt(*bmp, 12, 12));
    ASSERT_EQ(Ok, image.Save(dir.file("w.jpg"), &EncoderFor("image/jpeg")));
    auto jpeg = Bitmap::FromFile(dir.file("w.jpg"));
    for (int c = 0; c < 3; ++c) EXPECT_GE(PixelAt(*jpeg, 2, 2)[c], 250) << c;
}

} // namespace
