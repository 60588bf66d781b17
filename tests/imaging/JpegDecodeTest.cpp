// JPEG decoding through libjpeg-turbo: the bytes libjpeg-turbo's own API gives for every kind
// of JPEG file, the picture Qt's reader showed before (CMYK among them), and upright.

#include "imaging/Bitmap.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QImage>

#include <turbojpeg.h>

#include <cstdlib>

namespace {

using namespace imaging;
using namespace testing_support;

// A picture as photos are: smooth gradients and a few edges, B, G, R, X.
std::vector<uint8_t> Photo(int w, int h) {
    std::vector<uint8_t> bgrx(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &bgrx[(size_t(y) * w + x) * 4];
            p[0] = uint8_t(x * 255 / w), p[1] = uint8_t(y * 255 / h), p[2] = (x / 16 + y / 16) % 2 ? 210 : 40;
            p[3] = uint8_t((x * 3 + y * 5) % 256); // the black ink of the CMYK file
        }
    return bgrx;
}

struct Kind {
    const char* name;
    int subsampling;
    int flags;
    bool cmyk = false;
    const char* restart = nullptr; // TurboJPEG's TJ_RESTART: rows between restart markers
};

std::vector<uint8_t> Compress(const Kind& k, int w, int h) {
    const std::vector<uint8_t> pixels = Photo(w, h);
    if (k.restart) ::setenv("TJ_RESTART", k.restart, 1);
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int ok = tjCompress2(tj, pixels.data(), w, 0, h, k.cmyk ? TJPF_CMYK : TJPF_BGRX, &jpeg, &size, k.subsampling,
                               88, k.flags);
    ::unsetenv("TJ_RESTART");
    std::vector<uint8_t> bytes(jpeg, jpeg + (ok == 0 ? size : 0));
    tjFree(jpeg);
    tjDestroy(tj);
    return bytes;
}

// libjpeg-turbo's own decode: B, G, R or grey bytes, rows packed.
std::vector<uint8_t> TurboDecode(const std::vector<uint8_t>& jpeg, int w, int h, bool grey) {
    std::vector<uint8_t> out(size_t(w) * h * (grey ? 1 : 3));
    tjhandle tj = tjInitDecompress();
    EXPECT_EQ(0, tjDecompress2(tj, jpeg.data(), jpeg.size(), out.data(), w, 0, h, grey ? TJPF_GRAY : TJPF_BGR, 0));
    tjDestroy(tj);
    return out;
}

TEST(JpegDecode, EveryKindGivesLibjpegTurbosBytesAndQtsPicture) {
    TempDir dir;
    const int w = 203, h = 131; // not whole blocks
    const Kind kinds[] = {
        {"baseline 4:2:0", TJSAMP_420, 0},
        {"baseline 4:4:4", TJSAMP_444, 0},
        {"baseline 4:2:2", TJSAMP_422, 0},
        {"progressive", TJSAMP_420, TJFLAG_PROGRESSIVE},
        {"grey", TJSAMP_GRAY, 0},
        {"restart markers", TJSAMP_420, 0, false, "1"},
        {"CMYK", TJSAMP_444, 0, true},
    };
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.name);
        const std::vector<uint8_t> jpeg = Compress(k, w, h);
        ASSERT_FALSE(jpeg.empty());
        if (k.restart) {
            const uint8_t rst0[] = {0xFF, 0xD0};
            ASSERT_NE(jpeg.end(), std::search(jpeg.begin(), jpeg.end(), std::begin(rst0), std::end(rst0)));
        }
        const std::string path = dir.file("k.jpg");
        WriteFile(path, jpeg);
        auto bitmap = Bitmap::FromFile(path);
        ASSERT_TRUE(bitmap->HasContent()) << bitmap->GetLastReason();
        const bool grey = k.subsampling == TJSAMP_GRAY;
        EXPECT_EQ(grey ? PixelFormat8bppIndexed : PixelFormat24bppRGB, bitmap->GetPixelFormat());
        if (!k.cmyk) {
            EXPECT_EQ(TurboDecode(jpeg, w, h, grey), PixelBytes(*bitmap));
        }
        // What Qt's reader shows, pixel for pixel.
        const QImage qt = QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_ARGB32);
        const std::vector<uint8_t> shown = PixelBytes(*ArgbCopy(*bitmap));
        for (int y = 0; y < h; ++y)
            ASSERT_EQ(0, std::memcmp(qt.constScanLine(y), shown.data() + size_t(y) * w * 4, size_t(w) * 4)) << y;
        // Upright under a quarter turn, every kind.
        TagOrientation(path, 6);
        auto turned = Bitmap::FromFile(path);
        ASSERT_EQ(uint32_t(h), turned->GetWidth());
        EXPECT_EQ(shown, PixelBytes(*StoredAs(*turned, 6)));
    }
}

} // namespace
