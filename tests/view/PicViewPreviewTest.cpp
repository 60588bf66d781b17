// Live preview: the picture follows a dragged corner before the release, offscreen.

#include "PicViewFixture.h"

#include <QImage>

namespace {

using namespace imaging;
using namespace testing_support;

class PicViewPreviewTest : public PicViewTest {
protected:
    // Counts the viewport's paints while it lives.
    struct PaintCounter : QObject {
        explicit PaintCounter(QWidget* w) : widget(w) { w->installEventFilter(this); }
        ~PaintCounter() override { widget->removeEventFilter(this); }
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (watched == widget && event->type() == QEvent::Paint) ++paints;
            return false;
        }
        QWidget* widget;
        int paints = 0;
    };
};

// At 100 % the preview is the release's render of what shows: mid-drag, the screen is what
// it is after the release, within a few levels a channel, also where the picture has alpha
// and shows the fill through it. Without Live preview only the outline moves.
TEST_F(PicViewPreviewTest, FollowsTheDragAt100Percent) {
    for (const PixelFormat format : {PixelFormat24bppRGB, PixelFormat32bppARGB}) {
        SCOPED_TRACE(format);
        MakeView(300, 200);
        SetRandomImage(260, 180, format); // smaller than the client area
        Press(258, 178); // corner 2
        Move(200, 120);
        QApplication::processEvents();
        const QImage outlineOnly = Screen();
        Release(200, 120);
        const QImage released = Screen();
        EXPECT_NE(outlineOnly, released);

        m_view->SetLivePreview(true);
        Press(200, 120);
        Move(150, 100);
        Move(230, 160);
        QApplication::processEvents();
        const QImage during = Screen();
        Release(230, 160);
        // Its rows in between are interpolated; where there is alpha, a colour and an alpha each
        // within 2 levels may blend 3 apart.
        EXPECT_EQ(0, Differing(during, Screen(), format == PixelFormat24bppRGB ? 2 : 3));
    }
}

// At fit, from a reduced copy: the picture leaves where the corner was and reaches where it
// is, before the release; a flood of moves costs one paint, not one each.
TEST_F(PicViewPreviewTest, FollowsTheDragAtFitAndDropsStaleFrames) {
    MakeView(400, 300);
    UseImage(std::make_unique<Bitmap>(1600, 1200, PixelFormat24bppRGB)); // black
    m_view->SetLivePreview(true);
    m_view->ZoomToFit();
    QTest::qWait(20); // the scroll bars of 100 % go
    ASSERT_DOUBLE_EQ(0.25, m_view->GetScale());
    ASSERT_EQ(QSize(400, 300), m_view->GetClientSize());
    auto black = [](QRgb p) { return (p & 0xFFFFFFu) == 0; };
    ASSERT_TRUE(black(Screen().pixel(380, 280)));
    Press(399, 299); // corner 2 at (400, 300) on screen
    {
        PaintCounter counter(Viewport());
        for (int i = 0; i < 200; ++i) Move(399 - i / 2, 299 - i / 2);
        QApplication::processEvents();
        EXPECT_LE(counter.paints, 3);
    }
    const QImage during = Screen();
    ASSERT_EQ(2, m_view->GetSelectedCorner());
    EXPECT_EQ((Point{1200, 800}), m_view->GetCorners()[2]);
    EXPECT_FALSE(black(during.pixel(380, 280))); // the corner left: the pale fill
    EXPECT_TRUE(black(during.pixel(200, 150)));
    EXPECT_EQ((Point{0, 0}), m_view->GetCorners()[0]); // nothing rendered yet: still the drag
    EXPECT_TRUE(m_view->IsDragging());
    Release(300, 200);
    EXPECT_TRUE(black(Screen().pixel(200, 150)));
}

} // namespace
