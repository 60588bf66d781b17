#include "files/ImageFiles.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

using namespace imaging;
using namespace testing_support;

TEST(EncoderMimeTypeForPath, LastThreeCharactersLowercased) {
    const std::pair<const char*, const char*> table[] = {
        {"/tmp/a.JPG", "image/jpeg"}, {"a.Jpg", "image/jpeg"}, {"a.jpg", "image/jpeg"},
        {"a.gif", "image/gif"},       {"a.tif", "image/tiff"}, {"a.bmp", "image/bmp"},
        {"a.png", "image/png"},       {"a.jpeg", "image/png"}, {"a.tiff", "image/png"},
        {"noextension", "image/png"}, {"jpg", "image/jpeg"},   {"pg", "image/png"},
        {"", "image/png"},            {"photo.xjpg", "image/jpeg"}, {"dir.jpg/file", "image/png"},
    };
    for (auto [path, mime] : table) EXPECT_STREQ(mime, files::EncoderMimeTypeForPath(path)) << path;
}

TEST(OpenImageCopy, CopyIsExactAndIndependentOfTheFile) {
    TempDir dir;
    std::mt19937 rng(51);
    for (PixelFormat format : {PixelFormat32bppARGB, PixelFormat8bppIndexed}) {
        auto original = RandomBitmap(format, 21, 13, rng);
        const std::string path = dir.file("source.png");
        ASSERT_EQ(Ok, files::SaveImageByName(*original, path).code);
        std::unique_ptr<Bitmap> decoded(Bitmap::FromFile(path));
        StatusRecord why;
        std::unique_ptr<Bitmap> copy(files::OpenImageCopy(path, &why));
        ASSERT_TRUE(copy) << why.reason;
        std::filesystem::remove(path); // nothing refers to the file any more
        EXPECT_EQ(decoded->GetPixelFormat(), copy->GetPixelFormat());
        EXPECT_EQ(PixelBytes(*decoded), PixelBytes(*copy));
        if (decoded->GetPalette()) {
            EXPECT_TRUE(std::equal(decoded->GetPalette(), decoded->GetPalette() + 256, copy->GetPalette()));
        }
    }
}

TEST(SaveImageByName, FormatFollowsTheName) {
    TempDir dir;
    Bitmap image(8, 8, PixelFormat32bppARGB);
    const std::pair<const char*, std::vector<uint8_t>> signatures[] = {
        {"a.JPG", {0xFF, 0xD8}}, {"a.gif", {'G', 'I', 'F'}}, {"a.tif", {'I', 'I'}},
        {"a.bmp", {'B', 'M'}}, {"a.jpeg", {0x89, 'P', 'N', 'G'}}, {"plain", {0x89, 'P', 'N', 'G'}},
    };
    for (const auto& [name, magic] : signatures) {
        ASSERT_EQ(Ok, files::SaveImageByName(image, dir.file(name)).code) << name;
        const auto bytes = ReadFile(dir.file(name));
        ASSERT_GE(bytes.size(), magic.size());
        EXPECT_TRUE(std::equal(magic.begin(), magic.end(), bytes.begin())) << name;
    }
}

} // namespace
