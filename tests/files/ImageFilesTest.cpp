#include "files/ImageFiles.h"
#include "support/TestSupport.h"
#include "warp/PlanRows.h"

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

// A warp written band by band is the file of the result rendered whole and saved, to the
// byte: results wide enough to take several bands, opaque (without alpha: the whole picture
// asked twice) and not, every mapping and smooth, with metadata and without. (The fuzzer
// renders the plain warp in bands of every height.)
TEST(SaveBandsByName, WritesTheBytesOfTheWholeResult) {
    TempDir dir;
    std::mt19937 rng(52);
    auto photo = RandomBitmap(PixelFormat24bppRGB, 300, 200, rng);
    auto translucent = RandomBitmap(PixelFormat32bppARGB, 300, 200, rng);
    const warp::Corners inside{{30, 20}, {270, 25}, {260, 180}, {20, 170}};
    Metadata carried; // a TIFF with metadata is rendered whole first
    carried.xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>";
    const struct {
        const char* what;
        Bitmap* source;
        warp::Transform transform;
        warp::Corners corners;
        int neighbourhood;
        std::vector<const char*> names;
        const Metadata* metadata = nullptr;
    } cases[] = {
        {"a wide page, opaque", photo.get(),
         {.direction = warp::Direction::Straighten, .pageSize = warp::PageSize{20000, 300}}, inside, 2,
         {"a.png", "a.bmp", "a.tif"}},
        {"a wide page reaching below the photo: transparent only far down, written again", photo.get(),
         {.direction = warp::Direction::Straighten, .pageSize = warp::PageSize{20000, 300}},
         {{30, 20}, {270, 25}, {260, 180}, {20, 230}}, 2, {"e.png", "e.tif"}},
        {"a wide canvas, transparent around, smooth", photo.get(),
         {.canvas = warp::CanvasChoice::FitResult, .smooth = true},
         {{0, 0}, {20000, 100}, {19000, 300}, {0, 250}}, 2, {"b.png", "b.bmp", "b.tif"}},
        {"smooth perspective", photo.get(), {.mapping = warp::Mapping::Perspective, .smooth = true}, inside, 2,
         {"c.png", "c.bmp"}},
        {"a translucent source, nearest pixel, with metadata", translucent.get(), {}, inside, 1,
         {"d.png", "d.bmp", "d.tif"}, &carried},
    };
    for (const auto& c : cases) {
        const warp::TransformPlan plan = warp::PlanTransform(c.transform, c.corners, 300, 200);
        ASSERT_EQ("", plan.problem);
        auto whole = warp::RenderTransform(c.source, plan, c.neighbourhood);
        ASSERT_TRUE(whole);
        warp::PlanRows bands(*c.source, plan, c.neighbourhood);
        const SaveOptions options{.metadata = c.metadata};
        for (const std::string name : c.names) {
            SCOPED_TRACE(std::string(c.what) + ", " + name);
            ASSERT_EQ(Ok, files::SaveImageByName(*whole, dir.file("whole-" + name), options).code);
            ASSERT_EQ(Ok, files::SaveBandsByName(bands, dir.file(name), options).code);
            EXPECT_EQ(ReadFile(dir.file("whole-" + name)), ReadFile(dir.file(name)));
        }
    }
}

} // namespace
