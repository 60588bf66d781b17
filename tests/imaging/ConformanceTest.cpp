// Every variant of every format the program opens, in tests/data/conformance, opens to the
// pixels stored beside it (an independent decoder's reading in 16 bits, or for TGA the pixels
// the file was made from; each channel rounded to 8 bits), and cut short at any byte it is
// refused: nothing a decoder would fill in is shown as a picture.

#include "imaging/Bitmap.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QImageReader>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <set>

namespace {

using namespace imaging;
using namespace testing_support;

// Where a cut leaves a text file as one that is whole: only the line ends after the last line
// dropped, or, in a plain PNM file, the last sample's first digits kept, which is a smaller
// last sample.
bool CutLooksWhole(const std::string& name, const std::vector<uint8_t>& bytes, size_t n) {
    const bool plainPnm = name.find("-plain.p") != std::string::npos;
    if (!plainPnm && !name.ends_with(".xpm") && !name.ends_with(".xbm")) return false;
    auto space = [](uint8_t b) { return std::isspace(b) != 0; };
    const auto rest = bytes.begin() + long(n);
    if (std::all_of(rest, bytes.end(), space)) return true;
    if (!plainPnm) return false;
    const auto digit = [](uint8_t b) { return std::isdigit(b) != 0; };
    const auto end = std::find_if(rest, bytes.end(), space);
    return digit(bytes[n - 1]) && std::all_of(rest, end, digit) && std::all_of(end, bytes.end(), space);
}

TEST(Conformance, EveryVariantOpensToTheIndependentDecodersPixels) {
    std::set<std::string> covered; // the formats, by their files' extensions
    auto check = [&](const std::filesystem::path& path, const std::string& name) {
        const std::vector<uint8_t> wide = ReadFile(path.string()),
                                   bytes = ReadFile(DataFile("conformance/" + name));
        auto bitmap = Bitmap::FromFile(DataFile("conformance/" + name));
        ASSERT_TRUE(bitmap->HasContent()) << bitmap->GetLastReason();
        const int32_t w = int32_t(bitmap->GetWidth()), h = int32_t(bitmap->GetHeight());
        ASSERT_EQ(size_t(w) * size_t(h) * 8, wide.size());
        const std::vector<uint8_t> ours = PixelBytes(*bitmap->Clone({0, 0, w, h}, PixelFormat32bppARGB));
        int differing = 0;
        for (size_t p = 0; p < ours.size() / 4; ++p) {
            // Theirs as B, G, R, A, each 16-bit value v rounded to the nearest of v * 255 / 65535.
            std::array<int, 4> theirs{}, mine{};
            for (int c = 0; c < 4; ++c) {
                const int v = wide[8 * p + 2 * c] | wide[8 * p + 2 * c + 1] << 8;
                theirs[c == 3 ? 3 : 2 - c] = (v * 255 + 32767) / 65535;
                mine[c] = ours[4 * p + c];
            }
            // The colour of a clear pixel is not seen.
            bool same = theirs[3] == 0 ? mine[3] == 0 : mine == theirs;
            if (!same && differing++ < 3)
                ADD_FAILURE() << "pixel " << p % w << "," << p / w << " (B, G, R, A): ours "
                              << testing::PrintToString(mine) << ", theirs "
                              << testing::PrintToString(theirs);
        }
        for (size_t n = 1; n < bytes.size(); ++n) {
            if (CutLooksWhole(name, bytes, n)) continue;
            ASSERT_FALSE(Bitmap::FromMemory(bytes.data(), n)->HasContent()) << "cut at byte " << n;
        }
    };
    for (const auto& entry : std::filesystem::directory_iterator(DataFile("conformance"))) {
        if (entry.path().extension() != ".rgba") continue;
        const std::string name = entry.path().stem().string();
        SCOPED_TRACE(name);
        covered.insert(std::filesystem::path(name).extension().string().substr(1));
        check(entry.path(), name);
    }
    // Every format Qt's readers open here (jpg, tif: other names), and TGA, which the program
    // reads itself. Not opened: MNG, whose reader shows no frame of a file given by content.
    EXPECT_TRUE(covered.count("tga"));
    for (const QByteArray& f : QImageReader::supportedImageFormats()) {
        const std::string name = f == "jpg" ? "jpeg" : f == "tif" ? "tiff" : f.toStdString();
        if (name != "mng") {
            EXPECT_TRUE(covered.count(name)) << name << " is opened but not checked here";
        }
    }
}

} // namespace
