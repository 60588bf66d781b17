// The picture view driven through its real widget with mouse events, offscreen.

#include "PicViewFixture.h"

#include <QScrollBar>

#include <memory>

namespace {

using namespace imaging;
using namespace testing_support;
using view::CPicView;

// Before any image, with an image without content, with a real one, null, and a second one.
TEST_F(PicViewTest, SetImage) {
    MakeView(700, 520);
    EXPECT_EQ(QSize(500, 500), m_view->GetTotalSize());
    EXPECT_EQ(nullptr, m_view->GetResultImage());
    // Nothing is painted; a drag from where corner 0 lies reads nothing and renders nothing.
    const QRgb window = Viewport()->palette().color(QPalette::Window).rgb();
    const QImage screen = Screen();
    for (int y = 0; y < screen.height(); y += 7)
        for (int x = 0; x < screen.width(); x += 7) ASSERT_EQ(window, screen.pixel(x, y) | 0xFF000000u);
    Drag({3, 3}, {40, 30});
    EXPECT_EQ(nullptr, m_view->GetResultImage());
    EXPECT_FALSE(m_view->IsDragging());
    EXPECT_EQ(nullptr, QApplication::overrideCursor()); // no wait cursor left behind

    SetRandomImage(640, 480, PixelFormat16bppRGB565);
    EXPECT_EQ(QSize(640, 480), m_view->GetTotalSize());
    // Scroll steps of a tenth of the canvas and a tenth of that.
    EXPECT_EQ(64, m_view->horizontalScrollBar()->pageStep());
    EXPECT_EQ(48, m_view->verticalScrollBar()->pageStep());
    EXPECT_EQ(6, m_view->horizontalScrollBar()->singleStep());
    EXPECT_EQ(4, m_view->verticalScrollBar()->singleStep());
    EXPECT_EQ((view::CornerQuad{Point{0, 0}, Point{640, 0}, Point{640, 480}, Point{0, 480}, Point{0, 0}}), m_view->GetCorners());
    Bitmap* result = m_view->GetResultImage();
    ASSERT_NE(nullptr, result);
    EXPECT_EQ(PixelFormat32bppARGB, result->GetPixelFormat());
    EXPECT_EQ(PixelBytes(*ArgbCopy(*m_image)), PixelBytes(*result));

    // Null changes nothing, not even dragged corners.
    Drag({640, 480}, {600, 400});
    const auto corners = m_view->GetCorners();
    Bitmap* before = m_view->GetResultImage();
    m_view->SetImage(nullptr);
    EXPECT_EQ(corners, m_view->GetCorners());
    EXPECT_EQ(before, m_view->GetResultImage());

    // A second image resets the corners and shows itself unwarped.
    std::mt19937 rng(3);
    auto second = RandomBitmap(PixelFormat32bppARGB, 320, 200, rng);
    m_view->SetImage(second.get());
    EXPECT_EQ((view::CornerQuad{Point{0, 0}, Point{320, 0}, Point{320, 200}, Point{0, 200}, Point{0, 0}}), m_view->GetCorners());
    EXPECT_EQ(PixelBytes(*second), PixelBytes(*m_view->GetResultImage()));

    // One without content: no canvas, no result, every corner at the origin.
    Bitmap none(0, 0, PixelFormat24bppRGB);
    m_view->SetImage(&none);
    EXPECT_EQ(QSize(0, 0), m_view->GetTotalSize());
    EXPECT_EQ(nullptr, m_view->GetResultImage());
    for (int i = 0; i < 5; ++i) EXPECT_EQ((Point{0, 0}), m_view->GetCorners()[i]);
}

// The first corner in index order within the radius is picked (the radius itself: the zoom
// tests); positions are canvas coordinates when scrolled; the closing point follows corner 0.
TEST_F(PicViewTest, PressAndDragPickAndMoveCorners) {
    MakeView(400, 300);
    SetRandomImage(200, 150);
    // A drag from a press that picks nothing moves no corner and renders nothing.
    const std::vector<uint8_t> unwarped = PixelBytes(*m_view->GetResultImage());
    const auto corners = m_view->GetCorners();
    Drag({100, 75}, {10, 10});
    EXPECT_EQ(corners, m_view->GetCorners());
    EXPECT_EQ(unwarped, PixelBytes(*m_view->GetResultImage()));
    EXPECT_FALSE(m_view->IsDragging()); // its release ended the tracking: hovering repaints nothing
    Drag({200, 150}, {180, 140});
    EXPECT_EQ((Point{180, 140}), m_view->GetCorners()[2]);
    EXPECT_EQ((Point{0, 0}), m_view->GetCorners()[4]);
    // Corner 1 dragged next to corner 0: a press nearer to 1 still picks 0, the lower index.
    Drag({200, 0}, {20, 5});
    Press(18, 4);
    EXPECT_EQ(0, m_view->GetSelectedCorner());
    Move(30, 25);
    Release(30, 25);
    EXPECT_EQ((Point{30, 25}), m_view->GetCorners()[0]);
    EXPECT_EQ((Point{30, 25}), m_view->GetCorners()[4]);

    SetRandomImage(1000, 800);
    m_view->ScrollToPosition({100, 50});
    EXPECT_EQ(QPoint(100, 50), m_view->GetScrollPosition());
    Press(10, 10);
    EXPECT_EQ((Point{110, 60}), m_view->GetPointerPosition());
    EXPECT_EQ(-1, m_view->GetSelectedCorner());
    Release(10, 10);
    // Corner 1 at canvas (1000, 0) seen from scroll position (750, 0).
    m_view->ScrollToPosition({750, 0});
    const QPoint scroll = m_view->GetScrollPosition();
    Press(1000 - scroll.x() - 4, 3);
    ASSERT_EQ(1, m_view->GetSelectedCorner());
    Move(100, 120);
    EXPECT_EQ((Point{scroll.x() + 100, 120}), m_view->GetCorners()[1]);
    Release(100, 120);
}

// The view keeps the pointer while the button is down: a corner dragged outside stays at the
// edge and the release ends the drag. A quick second press is a press like any other.
TEST_F(PicViewTest, PointerOutsideTheViewAndDoubleClicks) {
    MakeView(300, 200);
    SetRandomImage(250, 180);
    Press(250, 180);
    ASSERT_EQ(2, m_view->GetSelectedCorner());
    const QSize client = m_view->GetClientSize();
    Move(-60, 5000);
    EXPECT_EQ((Point{0, client.height() - 1}), m_view->GetCorners()[2]);
    Release(-60, 5000);
    EXPECT_FALSE(m_view->IsDragging());
    EXPECT_EQ(RenderedFromSource(Corners()), PixelBytes(*m_view->GetResultImage()));
    Move(100, 100); // with the button up the corner no longer follows
    EXPECT_EQ((Point{0, client.height() - 1}), m_view->GetCorners()[2]);

    Press(1, client.height() - 2);
    Release(1, client.height() - 2);
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, QPointF(1, client.height() - 2),
                            Viewport()->mapToGlobal(QPointF(1, client.height() - 2)), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Viewport(), &doubleClick);
    EXPECT_EQ(2, m_view->GetSelectedCorner());
    EXPECT_TRUE(m_view->IsDragging());
    Move(170, 130);
    Release(170, 130);
    EXPECT_EQ((Point{170, 130}), m_view->GetCorners()[2]);
}

// A release shows the picture at once, at the view's scale, and renders the exact result on
// other threads; a press on a corner cancels a render at once, and undo during one goes back
// to the exact result before it.
TEST_F(PicViewTest, ReleaseShowsThePictureAtOnceAndRendersBehindIt) {
    MakeView(200, 150);
    SetRandomImage(3000, 2000);
    Drag({1, 1}, {10, 8});
    const auto before = Corners();
    Press(10, 8);
    Move(30, 20);
    RawRelease(30, 20);
    ASSERT_TRUE(m_view->IsRendering());
    const QImage first = Screen(); // at 100 % the preview is the exact picture, nearly
    m_view->FinishRender();
    EXPECT_FALSE(m_view->IsRendering());
    EXPECT_EQ(0, Differing(first, Screen(), 2));
    EXPECT_EQ(RenderedFromSource(Corners()), PixelBytes(*m_view->GetResultImage()));

    Press(30, 20);
    Move(40, 30);
    RawRelease(40, 30);
    ASSERT_TRUE(m_view->IsRendering());
    Press(40, 30);
    EXPECT_FALSE(m_view->IsRendering());
    Move(50, 40);
    Release(50, 40);
    EXPECT_EQ(RenderedFromSource(Corners()), PixelBytes(*m_view->GetResultImage()));

    m_view->Undo();
    ASSERT_TRUE(m_view->IsRendering());
    m_view->Undo();
    m_view->Undo();
    EXPECT_EQ(before, Corners());
    EXPECT_EQ(RenderedFromSource(before), PixelBytes(*m_view->GetResultImage()));
}

TEST_F(PicViewTest, ReleaseRendersFromTheSource) {
    MakeView(400, 300);
    SetRandomImage(200, 150);
    // A click on a corner without moving renders with the unchanged corners.
    const std::vector<uint8_t> unwarped = PixelBytes(*m_view->GetResultImage());
    Press(198, 148);
    Release(198, 148);
    EXPECT_FALSE(m_view->IsDragging());
    EXPECT_EQ(-1, m_view->GetSelectedCorner());
    ASSERT_NE(nullptr, m_view->GetResultImage());
    // The warp through the image's own corners is not a plain copy (column 0 and row 0
    // never contribute), so the render is visible in the pixels.
    EXPECT_NE(unwarped, PixelBytes(*m_view->GetResultImage()));
    EXPECT_EQ(RenderedFromSource(Corners()), PixelBytes(*m_view->GetResultImage()));

    // Dragged away and back: the render comes from the source again, not from the last result.
    Drag({200, 150}, {150, 120});
    EXPECT_EQ(RenderedFromSource(Corners()), PixelBytes(*m_view->GetResultImage()));
    Drag({150, 120}, {200, 150});
    const std::array<Point, 4> identity = {Point{0, 0}, Point{200, 0}, Point{200, 150}, Point{0, 150}};
    EXPECT_EQ(identity, Corners());
    EXPECT_EQ(RenderedFromSource(identity), PixelBytes(*m_view->GetResultImage()));
}

TEST_F(PicViewTest, ScrolledRepaintShowsTheFullComposition) {
    MakeView(320, 240);
    SetRandomImage(900, 700, PixelFormat32bppARGB);
    m_view->ScrollToPosition({300, 200});
    const QPoint scroll = m_view->GetScrollPosition();
    Drag({900 - scroll.x() - 600 + 3, 3}, {100, 50}); // nothing picked: off the corners
    // Drag corner 0 into view, rendering a warp with transparent areas.
    m_view->ScrollToPosition({0, 0});
    Drag({1, 1}, {250, 180});
    m_view->ScrollToPosition({200, 150});
    QApplication::processEvents();
    const QPoint at = m_view->GetScrollPosition();
    const QImage screen = Screen();

    // The whole canvas composed the plain way in the view's premultiplied back buffer format:
    // fill, result blended, handles and outline.
    auto compose = [&](PixelFormat format) {
        auto full = std::make_unique<Bitmap>(900, 700, format);
        Graphics g(full.get());
        g.SetSmoothingMode(SmoothingModeAntiAlias);
        SolidBrush yellow(Color(0xFFFFFFC8));
        g.FillRectangle(&yellow, RectF{0, 0, 900, 700});
        g.DrawImage(m_view->GetResultImage(), 0, 0);
        Pen pen(Color(0xFFC800C8), 2.0f);
        const auto& c = m_view->GetCorners();
        for (int i = 0; i < 4; ++i) g.DrawRectangle(&pen, c[i].X - 5, c[i].Y - 5, 10, 10);
        for (int i = 0; i < 4; ++i) { // each side a pen's half width past its corners
            const double dx = c[i + 1].X - c[i].X, dy = c[i + 1].Y - c[i].Y, reach = 1.0 / std::hypot(dx, dy);
            g.DrawLine(&pen, {float(c[i].X - dx * reach), float(c[i].Y - dy * reach)},
                       {float(c[i + 1].X + dx * reach), float(c[i + 1].Y + dy * reach)});
        }
        return full;
    };
    // Exact but for the outline's antialiased edge: Qt rasterizes a line cut at the buffer's
    // edge up to three levels off the same line drawn whole. A pixel out of place on the noise
    // would be far more.
    std::unique_ptr<Bitmap> expected(compose(PixelFormat32bppPARGB)->Clone({0, 0, 900, 700}, PixelFormat32bppARGB));
    for (int y = 0; y < screen.height(); ++y)
        for (int x = 0; x < screen.width(); ++x) {
            const auto px = PixelAt(*expected, at.x() + x, at.y() + y);
            const QRgb shown = screen.pixel(x, y);
            const int off = std::max({std::abs(qRed(shown) - px[2]), std::abs(qGreen(shown) - px[1]),
                                      std::abs(qBlue(shown) - px[0]), std::abs(qAlpha(shown) - px[3])});
            ASSERT_LE(off, 3) << x << "," << y;
        }
}

// Undo returns to the corners before a drag, rendered from the source as a drag there would;
// back to the start it is the unwarped copy; redo goes forward.
TEST_F(PicViewTest, UndoAndRedoOfCornerMoves) {
    MakeView(300, 200);
    SetRandomImage(200, 150, PixelFormat32bppARGB);
    const std::vector<uint8_t> opened = PixelBytes(*ArgbCopy(*m_image));
    Drag({2, 2}, {30, 20});
    const auto first = Corners();
    Drag({198, 148}, {170, 120});
    const auto second = Corners();
    const std::vector<uint8_t> shown = PixelBytes(*m_view->GetResultImage());
    m_view->Undo();
    EXPECT_EQ(first, Corners());
    EXPECT_EQ(RenderedFromSource(first), PixelBytes(*m_view->GetResultImage()));
    m_view->Undo();
    EXPECT_EQ((std::array<Point, 4>{Point{0, 0}, Point{200, 0}, Point{200, 150}, Point{0, 150}}), Corners());
    EXPECT_EQ(m_view->GetCorners()[0], m_view->GetCorners()[4]);
    EXPECT_EQ(opened, PixelBytes(*m_view->GetResultImage())); // not a render of its own corners
    m_view->Undo(); // nothing further back
    EXPECT_EQ(opened, PixelBytes(*m_view->GetResultImage()));
    m_view->Redo();
    m_view->Redo();
    EXPECT_EQ(second, Corners());
    EXPECT_EQ(shown, PixelBytes(*m_view->GetResultImage()));
    // A click without moving renders but adds no step; a new drag after an undo drops redo.
    const uint64_t state = m_view->GetStateId();
    Press(170, 120);
    Release(170, 120);
    EXPECT_EQ(state, m_view->GetStateId());
    m_view->Undo();
    Drag({30, 20}, {40, 25});
    const auto third = Corners();
    m_view->Redo();
    EXPECT_EQ(third, Corners());
}

} // namespace
