// The picture view at other scales than 100 %: positions, the press radius, zooming about a
// point, fit, autoscroll, the reduced picture and the handles, offscreen.

#include "PicViewFixture.h"

#include <QWheelEvent>

#include <chrono>
#include <cmath>

namespace {

using namespace imaging;
using namespace testing_support;

class PicViewZoomTest : public PicViewTest {
protected:
    // Steps from 100 % to `scale`, one of the zoom steps, about the client area's centre.
    void ZoomTo(double scale) {
        m_view->ZoomToActualSize();
        while (m_view->GetScale() < scale) m_view->ZoomIn();
        while (m_view->GetScale() > scale) m_view->ZoomOut();
        ASSERT_EQ(scale, m_view->GetScale());
        QApplication::processEvents();
    }
    // Where canvas point `p` appears in the client area, device pixels.
    QPointF OnScreen(Point p) const {
        const QPoint scroll = m_view->GetScrollPosition();
        const double s = m_view->GetScale();
        return {p.X * s - scroll.x(), p.Y * s - scroll.y()};
    }
    void Wheel(QPoint at, int delta, Qt::KeyboardModifiers modifiers) {
        QWheelEvent e(at, Viewport()->mapToGlobal(at), {}, {0, delta}, Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(Viewport(), &e);
    }
};

// A press at a client point is the canvas point round((point + scroll) / scale), and a press
// where a corner appears picks it, within 20 screen pixels whatever the scale.
TEST_F(PicViewZoomTest, PositionsAndPressRadiusAtEveryScale) {
    MakeView(400, 300);
    SetRandomImage(1000, 800);
    for (double scale : {0.25, 1.0, 4.0}) {
        SCOPED_TRACE(testing::Message() << "scale " << scale);
        ZoomTo(scale);
        m_view->ScrollToPosition({int32_t(100 * scale), int32_t(60 * scale)});
        const QPoint scroll = m_view->GetScrollPosition();
        Press(37, 41);
        EXPECT_EQ((Point{int32_t(std::lround((37 + scroll.x()) / scale)), int32_t(std::lround((41 + scroll.y()) / scale))}),
                  m_view->GetPointerPosition());
        Release(37, 41);
        // Corner 0 dragged to a canvas point that shows, then looked at scrolled.
        m_view->ScrollToPosition({0, 0});
        const Point target = scale > 1 ? Point{60, 40} : Point{248, 200};
        const QPointF at = OnScreen(m_view->GetCorners()[0]); // (QTest takes (0, 0) for the centre)
        Drag({int32_t(at.x()) + 1, int32_t(at.y()) + 1},
             {int32_t(std::lround(target.X * scale)), int32_t(std::lround(target.Y * scale))});
        ASSERT_EQ(target, m_view->GetCorners()[0]);
        m_view->ScrollToPosition({int32_t(10 * scale), int32_t(8 * scale)});
        const QPointF corner = OnScreen(target);
        const int cx = int(corner.x()), cy = int(corner.y());
        const std::pair<int, int> near[] = {{19, 0}, {14, 14}, {-5, -5}}, far[] = {{20, 0}, {12, 16}, {15, 14}};
        for (auto [dx, dy] : near) {
            Press(cx + dx, cy + dy);
            EXPECT_EQ(0, m_view->GetSelectedCorner()) << dx << "," << dy;
            Release(cx + dx, cy + dy);
        }
        for (auto [dx, dy] : far) {
            Press(cx + dx, cy + dy);
            EXPECT_EQ(-1, m_view->GetSelectedCorner()) << dx << "," << dy;
            Release(cx + dx, cy + dy);
        }
        // The drag moved corner 0 back under the pointer, whole image pixels.
        m_view->SetImage(m_image.get());
    }
}

TEST_F(PicViewZoomTest, CtrlWheelKeepsThePixelUnderThePointer) {
    MakeView(400, 300);
    SetRandomImage(3000, 2000);
    m_view->ScrollToPosition({1100, 700});
    const QPoint at(123, 87);
    double scale = m_view->GetScale();
    const std::pair<int, double> steps[] = {{120, 1.5}, {120, 2}, {-120, 1.5}, {-120, 1}, {-120, 2.0 / 3}, {-120, 0.5}, {120, 2.0 / 3}};
    for (auto [delta, expected] : steps) {
        const QPoint scroll = m_view->GetScrollPosition();
        const double x = (at.x() + scroll.x()) / scale, y = (at.y() + scroll.y()) / scale;
        Wheel(at, delta, Qt::ControlModifier);
        const double now = m_view->GetScale();
        EXPECT_EQ(expected, now);
        const QPoint after = m_view->GetScrollPosition();
        EXPECT_NEAR(x * now - after.x(), at.x(), 1.0) << "at scale " << now;
        EXPECT_NEAR(y * now - after.y(), at.y(), 1.0) << "at scale " << now;
        scale = now;
    }
}

TEST_F(PicViewZoomTest, WheelScrollsAndMiddleButtonPans) {
    MakeView(400, 300);
    SetRandomImage(2000, 1500);
    Wheel({100, 100}, -120, Qt::NoModifier);
    EXPECT_EQ(0, m_view->GetScrollPosition().x());
    EXPECT_GT(m_view->GetScrollPosition().y(), 0);
    Wheel({100, 100}, -120, Qt::ShiftModifier);
    EXPECT_GT(m_view->GetScrollPosition().x(), 0);
    EXPECT_EQ(1.0, m_view->GetScale());
    const QPoint before = m_view->GetScrollPosition();
    QTest::mousePress(Viewport(), Qt::MiddleButton, {}, QPoint(200, 150));
    QMouseEvent move(QEvent::MouseMove, QPointF(150, 110), Viewport()->mapToGlobal(QPointF(150, 110)), Qt::NoButton,
                     Qt::MiddleButton, Qt::NoModifier);
    QApplication::sendEvent(Viewport(), &move);
    QTest::mouseRelease(Viewport(), Qt::MiddleButton, {}, QPoint(150, 110));
    EXPECT_EQ((QPoint{before.x() + 50, before.y() + 40}), m_view->GetScrollPosition());
    EXPECT_EQ(-1, m_view->GetSelectedCorner()); // panning is no press
}

TEST_F(PicViewZoomTest, FitFollowsResizesUntilAnotherZoom) {
    MakeView(400, 300);
    SetRandomImage(1600, 900);
    m_view->ZoomToFit();
    EXPECT_TRUE(m_view->IsFit());
    EXPECT_DOUBLE_EQ(0.25, m_view->GetScale());
    QApplication::processEvents();
    EXPECT_EQ((QPoint{0, 0}), m_view->GetScrollPosition());
    ResizeClient(800, 450);
    QApplication::processEvents();
    EXPECT_DOUBLE_EQ(0.5, m_view->GetScale());
    m_view->ZoomIn();
    EXPECT_FALSE(m_view->IsFit());
    ResizeClient(400, 300);
    QApplication::processEvents();
    EXPECT_EQ(2.0 / 3, m_view->GetScale());
    // A new image is shown at 100 % again.
    m_view->ZoomToFit();
    SetRandomImage(100, 100);
    EXPECT_EQ(1.0, m_view->GetScale());
    EXPECT_FALSE(m_view->IsFit());
}

// Beyond the canvas, and everywhere before there is an image, the window's background shows
// (the view paints all of itself): nothing of a larger picture stays there.
TEST_F(PicViewZoomTest, BeyondTheCanvasTheWindowShows) {
    MakeView(400, 300);
    const QRgb window = Viewport()->palette().color(QPalette::Window).rgb();
    auto windowAt = [&](std::initializer_list<QPoint> points) {
        const QImage screen = Screen();
        return std::all_of(points.begin(), points.end(), [&](QPoint p) { return screen.pixel(p) == window; });
    };
    EXPECT_TRUE(windowAt({{0, 0}, {200, 150}, {350, 250}}));
    SetRandomImage(1600, 900);
    m_view->ZoomToFit(); // 400 x 225
    EXPECT_TRUE(windowAt({{0, 225}, {380, 280}}));
    EXPECT_FALSE(windowAt({{0, 224}}));
    SetRandomImage(100, 100); // at 100 %
    EXPECT_TRUE(windowAt({{100, 0}, {0, 100}, {380, 280}}));
    EXPECT_FALSE(windowAt({{99, 99}}));
}

TEST_F(PicViewZoomTest, DraggedCornerScrollsTheViewWhileThePointerIsOutside) {
    MakeView(300, 200);
    SetRandomImage(2000, 1000);
    Press(2, 2); // corner 0
    ASSERT_EQ(0, m_view->GetSelectedCorner());
    QMouseEvent out(QEvent::MouseMove, QPointF(360, 100), Viewport()->mapToGlobal(QPointF(360, 100)), Qt::NoButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Viewport(), &out);
    const Point first = m_view->GetCorners()[0];
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    while (std::chrono::steady_clock::now() < until) QTest::qWait(20);
    const QPoint scroll = m_view->GetScrollPosition();
    const int32_t width = m_view->GetClientSize().width();
    EXPECT_GT(scroll.x(), width / 10); // at most a client width per second, faster farther out
    EXPECT_LE(scroll.x(), width);
    EXPECT_EQ(0, scroll.y());
    // The corner stays at the client area's right edge, on the canvas that moved past it.
    EXPECT_EQ((Point{width - 1 + scroll.x(), 100}), m_view->GetCorners()[0]);
    EXPECT_GT(m_view->GetCorners()[0].X, first.X);
    Release(360, 100);
    QTest::qWait(50);
    EXPECT_EQ(scroll.x(), m_view->GetScrollPosition().x()); // the release ends it
}

// Below 100 % what the view shows is the average of the image pixels it covers.
TEST_F(PicViewZoomTest, ReducedPictureAveragesTheImage) {
    MakeView(400, 300);
    SetRandomImage(640, 480); // opaque: the fill shows nowhere
    ZoomTo(0.5);
    m_view->ScrollToPosition({0, 0});
    QApplication::processEvents();
    const QImage screen = Screen();
    std::unique_ptr<Bitmap> image = ArgbCopy(*m_image);
    // Away from the handles and the outline along the image's edges.
    for (int y = 20; y < 230; y += 3)
        for (int x = 20; x < 310; x += 3) {
            const QRgb shown = screen.pixel(x, y);
            int sum[3] = {};
            for (int v = 0; v < 2; ++v)
                for (int u = 0; u < 2; ++u) {
                    const auto p = PixelAt(*image, 2 * x + u, 2 * y + v);
                    for (int c = 0; c < 3; ++c) sum[c] += p[c];
                }
            ASSERT_NEAR(sum[2] / 4.0, qRed(shown), 1.0) << x << "," << y;
            ASSERT_NEAR(sum[1] / 4.0, qGreen(shown), 1.0) << x << "," << y;
            ASSERT_NEAR(sum[0] / 4.0, qBlue(shown), 1.0) << x << "," << y;
        }
}

// Above 100 % each image pixel is a square block of screen pixels.
TEST_F(PicViewZoomTest, EnlargedPixelsAreBlocks) {
    MakeView(400, 300);
    SetRandomImage(300, 200);
    ZoomTo(4.0);
    m_view->ScrollToPosition({400, 200});
    QApplication::processEvents();
    const QImage screen = Screen();
    std::unique_ptr<Bitmap> image = ArgbCopy(*m_image);
    for (int y = 0; y < screen.height(); y += 5)
        for (int x = 0; x < screen.width(); x += 5) {
            const auto p = PixelAt(*image, (x + 400) / 4, (y + 200) / 4);
            ASSERT_EQ(qRgba(p[2], p[1], p[0], 255), screen.pixel(x, y)) << x << "," << y;
        }
}

// Sides far longer than the view is wide are still drawn where they cross it.
TEST_F(PicViewZoomTest, LongSidesShowWhereTheyCrossTheView) {
    MakeView(400, 300);
    UseImage(std::make_unique<Bitmap>(1600, 1200, PixelFormat24bppRGB)); // black
    Drag({1, 1}, {300, 200}); // corner 0: the top side now runs from (300, 200) to (1600, 0)
    ASSERT_EQ((Point{300, 200}), m_view->GetCorners()[0]);
    ZoomTo(4.0); // that side is 5260 device pixels long
    m_view->ScrollToPosition({3000, 200});
    QApplication::processEvents();
    const QImage screen = Screen();
    const QPoint scroll = m_view->GetScrollPosition();
    for (int x = 5; x < screen.width() - 5; x += 23) {
        const double canvasX = (x + scroll.x()) / 4.0, canvasY = 200 - 200 * (canvasX - 300) / 1300;
        const int y = int(std::lround(canvasY * 4 - scroll.y()));
        if (y < 3 || y >= screen.height() - 3) continue;
        bool drawn = false;
        for (int dy = -2; dy <= 2; ++dy) {
            const QRgb p = screen.pixel(x, y + dy);
            drawn = drawn || (qRed(p) > 100 && qGreen(p) < 60 && qBlue(p) > 100);
        }
        EXPECT_TRUE(drawn) << x << "," << y;
        // Below it the warped black image, above it the pale yellow of nothing.
        if (y + 20 < screen.height()) {
            EXPECT_EQ(0u, screen.pixel(x, y + 20) & 0xFFFFFFu) << x;
        }
        if (y >= 20) {
            EXPECT_EQ(0xFFFFC8u, screen.pixel(x, y - 20) & 0xFFFFFFu) << x;
        }
    }
}

// Run with QT_SCALE_FACTOR=2 (a second registration in CTest): one image pixel per device
// pixel, handles 20 x 20 device pixels with a pen 4 wide, and a press picks a corner within 40.
TEST_F(PicViewZoomTest, OnAScaledDisplay) {
    MakeView(300, 200);
    if (Viewport()->devicePixelRatioF() != 2.0) GTEST_SKIP() << "needs a scaled display (QT_SCALE_FACTOR=2)";
    SetRandomImage(200, 150);
    QApplication::processEvents(); // the scroll bars of the initial extent go away
    EXPECT_EQ(300, m_view->GetClientSize().width());
    QImage screen = Screen(); // grabbed in device pixels
    ASSERT_EQ(300, screen.width());
    const auto inside = PixelAt(*ArgbCopy(*m_image), 100, 100);
    EXPECT_EQ(qRgba(inside[2], inside[1], inside[0], 255), screen.pixel(100, 100));
    EXPECT_EQ(Viewport()->palette().color(QPalette::Window).rgb(), screen.pixel(230, 100) | 0xFF000000u);

    UseImage(std::make_unique<Bitmap>(200, 150, PixelFormat24bppRGB)); // black
    // Corner 2 (200, 150) to (100, 75), in device pixels; Qt's points are half.
    QTest::mousePress(Viewport(), Qt::LeftButton, {}, QPoint(99, 74));
    QTest::mouseMove(Viewport(), QPoint(50, 37));
    QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, QPoint(50, 37));
    ASSERT_EQ((Point{100, 74}), m_view->GetCorners()[2]);
    screen = Screen();
    auto magenta = [&](int x, int y) {
        const QRgb p = screen.pixel(x, y);
        return qRed(p) > 150 && qGreen(p) < 100 && qBlue(p) > 150;
    };
    EXPECT_TRUE(magenta(90, 74)); // the square's left side, 10 device pixels out
    EXPECT_TRUE(magenta(110, 74));
    EXPECT_FALSE(magenta(95, 74)); // inside the square
    EXPECT_FALSE(magenta(84, 74)); // beyond it
    // A press 39 device pixels away picks the corner; 40 does not.
    for (auto [x, picked] : {std::pair{139, 2}, std::pair{140, -1}}) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(x / 2.0, 37), Viewport()->mapToGlobal(QPointF(x / 2.0, 37)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Viewport(), &press);
        EXPECT_EQ(picked, m_view->GetSelectedCorner()) << x;
        QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, QPoint(70, 37));
    }
}

} // namespace
