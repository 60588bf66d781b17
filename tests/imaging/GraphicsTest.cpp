#include "imaging/Graphics.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace imaging;
using namespace testing_support;

using Px = std::array<uint8_t, 4>; // B, G, R, A

TEST(Graphics, FillsAndBlendsImagesByAlpha) {
    Bitmap canvas(20, 10, PixelFormat32bppARGB);
    Bitmap overlay(4, 4, PixelFormat32bppARGB);
    FillBytes(overlay, 0);
    {
        // Left half opaque blue, right half transparent.
        BitmapData data;
        overlay.LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &data);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 2; ++x) {
                uint8_t* p = static_cast<uint8_t*>(data.Scan0) + y * data.Stride + 4 * x;
                p[0] = 255;
                p[3] = 255;
            }
        overlay.UnlockBits(&data);
    }
    SolidBrush paleYellow(Color(0xFFFFFFC8));
    {
        Graphics g(&canvas);
        ASSERT_EQ(Ok, g.GetLastStatus());
        EXPECT_EQ(Ok, g.FillRectangle(&paleYellow, RectF{0, 0, 12, 10}));
        EXPECT_EQ(Ok, g.DrawImage(&overlay, 3, 2));
    }
    EXPECT_EQ((Px{0xC8, 0xFF, 0xFF, 0xFF}), PixelAt(canvas, 0, 0));
    EXPECT_EQ((Px{0, 0, 0, 0}), PixelAt(canvas, 15, 5));        // outside the fill
    EXPECT_EQ((Px{0xFF, 0, 0, 0xFF}), PixelAt(canvas, 3, 2));   // opaque overlay
    EXPECT_EQ((Px{0xC8, 0xFF, 0xFF, 0xFF}), PixelAt(canvas, 5, 2)); // fill shows through
}

TEST(Graphics, IndexedAndMissingTargetsFailWithoutDrawing) {
    Bitmap indexed(8, 8, PixelFormat8bppIndexed);
    Graphics g(&indexed);
    EXPECT_EQ(NotImplemented, g.GetLastStatus());
    SolidBrush brush(Color(0xFFFFFFFF));
    EXPECT_EQ(NotImplemented, g.FillRectangle(&brush, RectF{0, 0, 8, 8}));
    for (uint8_t b : PixelBytes(indexed)) ASSERT_EQ(0, b);

    Bitmap empty(0, 0, PixelFormat32bppARGB);
    Graphics none(&empty);
    EXPECT_EQ(InvalidParameter, none.FillRectangle(&brush, RectF{0, 0, 1, 1}));
    Graphics null(static_cast<Image*>(nullptr));
    EXPECT_NE(Ok, null.SetSmoothingMode(SmoothingModeAntiAlias));

    Bitmap canvas(4, 4, PixelFormat32bppARGB);
    Graphics ok(&canvas);
    EXPECT_EQ(InvalidParameter, ok.DrawImage(&empty, 0, 0));
    EXPECT_EQ(InvalidParameter, ok.FillRectangle(nullptr, RectF{0, 0, 1, 1}));
    const Point one[1] = {{1, 1}};
    Pen pen(Color(0xFF000000));
    EXPECT_EQ(InvalidParameter, ok.DrawLines(&pen, one, 1));
}

} // namespace
