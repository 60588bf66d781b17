// Every format the program opens, cut short at any byte, is refused: nothing that a decoder
// would fill in is shown as a picture. (Each format's whole file opens; the bad-input matrix
// has one cut and one overstated file of each at both levels.)

#include "imaging/Bitmap.h"
#include "imaging/Encoders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QImageReader>

#include <cctype>
#include <set>

namespace {

using namespace imaging;
using namespace testing_support;

TEST(FormatCompleteness, EveryFormatCutAtAnyByteIsRefused) {
    std::mt19937 rng(12);
    auto picture = RandomBitmap(PixelFormat24bppRGB, 9, 7, rng);
    TempDir dir;
    auto ours = [&](const char* mime) {
        picture->Save(dir.file("f"), &EncoderFor(mime));
        return ReadFile(dir.file("f"));
    };
    const std::pair<const char*, std::vector<uint8_t>> files[] = {
        {"png", ours("image/png")}, {"jpeg", ours("image/jpeg")}, {"gif", ours("image/gif")},
        {"tiff", ours("image/tiff")}, {"bmp", ours("image/bmp")}, {"webp", QtWritten("webp", 9, 7)},
        {"ppm", QtWritten("ppm", 9, 7)}, {"pgm", QtWritten("pgm", 9, 7)}, {"pbm", QtWritten("pbm", 9, 7)},
        {"xbm", QtWritten("xbm", 9, 7)}, {"xpm", QtWritten("xpm", 9, 7)}, {"ico", QtWritten("ico", 9, 7)},
        {"cur", QtWritten("cur", 9, 7)}, {"icns", QtWritten("icns", 9, 7)}, {"wbmp", QtWritten("wbmp", 9, 7)},
    };
    std::set<std::string> covered;
    for (const auto& [format, bytes] : files) {
        SCOPED_TRACE(format);
        covered.insert(format);
        // As files: Qt tells some formats (TGA from a cursor) only by a file's end.
        auto open = [&](size_t n) {
            WriteFile(dir.file("cut"), std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(n)));
            return Bitmap::FromFile(dir.file("cut"));
        };
        ASSERT_TRUE(open(bytes.size())->HasContent());
        for (size_t n = 1; n < bytes.size(); ++n) {
            // What only drops the line end after the last line is the same file.
            if (std::all_of(bytes.begin() + long(n), bytes.end(), [](uint8_t b) { return std::isspace(b); })) continue;
            ASSERT_FALSE(open(n)->HasContent()) << "cut at byte " << n << " of " << bytes.size();
        }
    }
    // Every format Qt's readers open here is among them (jpg, tif: other names). Not opened:
    // MNG, whose reader shows no frame of a file it is given by content, and TGA, which Qt
    // tells only by a file's name (by its bytes it is a cursor).
    for (const QByteArray& f : QImageReader::supportedImageFormats()) {
        const std::string name = f == "jpg" ? "jpeg" : f == "tif" ? "tiff" : f.toStdString();
        if (name != "mng" && name != "tga") {
            EXPECT_TRUE(covered.count(name)) << name << " is opened but not checked here";
        }
    }
}

} // namespace
