// Every format the program opens, cut short at any byte, is refused: nothing that a decoder
// would fill in is shown as a picture. (Each format's whole file opens; the bad-input matrix
// has one cut and one overstated file of each at both levels.)

#include "imaging/Bitmap.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QImageReader>

#include <cctype>
#include <filesystem>
#include <set>

namespace {

using namespace imaging;
using namespace testing_support;

TEST(FormatCompleteness, EveryFormatCutAtAnyByteIsRefused) {
    TempDir dir;
    std::set<std::string> covered; // one 9 x 7 picture of each format, by its extension
    for (const auto& file : std::filesystem::directory_iterator(DataFile("whole"))) {
        const std::string format = file.path().extension().string().substr(1);
        SCOPED_TRACE(format);
        covered.insert(format);
        const std::vector<uint8_t> bytes = ReadFile(file.path());
        // As files: Qt tells some formats only by a file's end.
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
    // Every format Qt's readers open here is among them (jpg, tif: other names), and TGA,
    // which the program reads itself. Not opened: MNG, whose reader shows no frame of a file
    // it is given by content.
    EXPECT_TRUE(covered.count("tga"));
    for (const QByteArray& f : QImageReader::supportedImageFormats()) {
        const std::string name = f == "jpg" ? "jpeg" : f == "tif" ? "tiff" : f.toStdString();
        if (name != "mng") {
            EXPECT_TRUE(covered.count(name)) << name << " is opened but not checked here";
        }
    }
}

} // namespace
