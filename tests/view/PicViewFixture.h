#pragma once
// The picture view inside a test window, driven through its real widget, offscreen.

#include "support/TestSupport.h"
#include "view/PicView.h"
#include "warp/WarpImageToQuad.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTest>

#include <memory>

namespace testing_support {

using imaging::Bitmap;
using imaging::PixelFormat;
using imaging::PixelFormat24bppRGB;
using imaging::Point;
using view::CPicView;

class PicViewTest : public testing::Test {
protected:
    // A view of `w` x `h` client (device) pixels inside its edge (no image yet), inside a
    // larger window.
    void MakeView(int w, int h) {
        m_window = std::make_unique<QWidget>();
        m_window->resize(w + 40, h + 40);
        m_view = new CPicView(m_window.get());
        ResizeClient(w, h);
        m_window->show();
        QApplication::processEvents();
    }
    void ResizeClient(int w, int h) {
        const double ratio = m_view->devicePixelRatioF();
        m_view->resize(int(w / ratio) + 2 * m_view->frameWidth(), int(h / ratio) + 2 * m_view->frameWidth());
    }
    // Gives the view a random image of the format, kept alive by the test.
    void SetRandomImage(int w, int h, PixelFormat format = PixelFormat24bppRGB) {
        std::mt19937 rng(w * 7 + h);
        UseImage(RandomBitmap(format, w, h, rng));
    }
    // Gives the view `image`; the old one goes after the view let go of it, as in the program.
    void UseImage(std::unique_ptr<Bitmap> image) {
        const std::unique_ptr<Bitmap> old = std::exchange(m_image, std::move(image));
        m_view->SetImage(m_image.get());
    }
    QWidget* Viewport() const { return m_view->viewport(); }
    void Press(int x, int y) { QTest::mousePress(Viewport(), Qt::LeftButton, {}, QPoint(x, y)); }
    void Move(int x, int y) { QTest::mouseMove(Viewport(), QPoint(x, y)); }
    // A release, and the render it starts finished and shown (RawRelease leaves it running).
    void Release(int x, int y) {
        RawRelease(x, y);
        m_view->FinishRender();
    }
    void RawRelease(int x, int y) { QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, QPoint(x, y)); }
    void Drag(Point from, Point to) {
        Press(from.X, from.Y);
        Move((from.X + to.X) / 2, (from.Y + to.Y) / 2);
        Move(to.X, to.Y);
        Release(to.X, to.Y);
    }
    // How many pixels of two screens of one size differ by more than `tolerance` in a channel.
    static int Differing(const QImage& a, const QImage& b, int tolerance) {
        int n = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x) {
                const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
                n += std::abs(qRed(p) - qRed(q)) > tolerance || std::abs(qGreen(p) - qGreen(q)) > tolerance ||
                     std::abs(qBlue(p) - qBlue(q)) > tolerance;
            }
        return n;
    }
    // What the screen shows of the view's client area.
    QImage Screen() const { return Viewport()->grab().toImage().convertToFormat(QImage::Format_ARGB32); }
    std::vector<uint8_t> RenderedFromSource(const std::array<Point, 4>& outline) {
        std::unique_ptr<Bitmap> expected = warp::WarpToNewBitmap(m_image.get(), warp::Corners::FromOutline(outline.data()));
        return PixelBytes(*expected);
    }
    std::array<Point, 4> Corners() const {
        const auto& c = m_view->GetCorners();
        return {c[0], c[1], c[2], c[3]};
    }

    std::unique_ptr<Bitmap> m_image;      // the view's source, gone after the view
    std::unique_ptr<QWidget> m_window;    // owns the view
    CPicView* m_view = nullptr;
};

} // namespace testing_support
