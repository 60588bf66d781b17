// Painting: the result over the pale fill, composed off-screen with the handles and the
// outline, at 100 % in the back buffer, at other scales in a buffer of the client's size.

#include "PicView.h"

#include "ViewGeometry.h"
#include "Zoom.h"
#include "imaging/ReducedCopies.h"

#include <algorithm>
#include <cmath>

namespace view {

using namespace imaging;

namespace {

constexpr Color kHandle(0xFFC800C8); // magenta handles and outline
constexpr float kPenWidth = 2.0f;
constexpr int kHandleHalf = 5;
// Reduced copies down to 1/16, the smallest zoom step.
constexpr int kReducedCopies = 4;
// Outline sides longer than this (device pixels) are drawn only near what is shown, from this
// far outside it.
constexpr double kLongSide = 2048;
constexpr float kMargin = 16;

} // namespace

void CPicView::OnDraw(QPainter* painter) {
    if (!m_pSource || m_total.isEmpty()) return;
    Graphics screen(painter);
    if (Previewing()) return DrawPreview(&screen);
    if (GetScale() != 1.0 || FittingCanvas()) return DrawScaled(&screen);
    if (m_pBackBuffer == nullptr || !m_pBackBuffer->HasContent()) return;
    const QSize client = GetClientSize();
    const QPoint scroll = GetScrollPosition();
    {
        Graphics buffer(m_pBackBuffer.get());
        buffer.SetSmoothingMode(SmoothingModeAntiAlias);
        // Compose only the part of the canvas the client area shows. The fill follows the
        // scroll position, so transparent parts of the result never show an earlier frame.
        const Rect visible{scroll.x(), scroll.y(), client.width(), client.height()};
        const RectF visibleF{float(visible.X), float(visible.Y), float(visible.Width), float(visible.Height)};
        buffer.SetClip(visible);
        buffer.FillRectangle(&m_backgroundBrush, visibleF);
        if (Bitmap* shown = Shown()) buffer.DrawImage(shown, 0, 0);
        if (!IsShowingStraightened()) DrawHandles(&buffer, 1.0, {0, 0}, visibleF);
    }
    screen.DrawImage(m_pBackBuffer.get(), 0, 0);
    m_bCanvasDrawn = true;
}

void CPicView::DrawScaled(Graphics* screen) {
    const QSize client = GetClientSize();
    const QPoint scroll = GetScrollPosition();
    if (!ScreenBufferFits()) return;
    const double s = GetScale();
    const float w = float(m_total.width()), h = float(m_total.height());
    // The scaled canvas in buffer (client) pixels, and the part of it the client area shows.
    const RectF canvas{float(-scroll.x()), float(-scroll.y()), float(w * s), float(h * s)};
    const float right = std::min(canvas.X + canvas.Width, float(client.width()));
    const float bottom = std::min(canvas.Y + canvas.Height, float(client.height()));
    const RectF shown{0, 0, std::max(0.0f, right), std::max(0.0f, bottom)};
    {
        Graphics buffer(m_pScreenBuffer.get());
        buffer.SetSmoothingMode(SmoothingModeAntiAlias);
        buffer.SetClip({0, 0, int32_t(std::ceil(shown.Width)), int32_t(std::ceil(shown.Height))});
        buffer.FillRectangle(&m_backgroundBrush, shown);
        if (Bitmap* shownImage = Shown()) {
            // Below 100 % from the reduced copy that shrinks by less than half, averaged again
            // by the bilinear filter; above it each image pixel is a block.
            const int k = ReducedCopyFor(s, kReducedCopies);
            if (k > 0 && m_reduced.empty()) m_reduced = MakeReducedCopies(*shownImage, kReducedCopies);
            Bitmap* image = k > 0 && int(m_reduced.size()) >= k ? m_reduced[k - 1].get() : shownImage;
            // Image pixels per pixel of the copy; its last column and row may stand for fewer
            // (the clip cuts them at the canvas's edge).
            const float side = image == shownImage ? 1.0f : float(1 << k);
            const float iw = float(image->GetWidth()), ih = float(image->GetHeight());
            buffer.SetInterpolationMode(s < 1.0 ? InterpolationModeHighQualityBilinear
                                                : InterpolationModeNearestNeighbor);
            const float x = canvas.X + float((m_resultOrigin.X - m_origin.x()) * s);
            const float y = canvas.Y + float((m_resultOrigin.Y - m_origin.y()) * s);
            buffer.DrawImage(image, RectF{x, y, float(iw * side * s), float(ih * side * s)}, RectF{0, 0, iw, ih});
        }
        buffer.SetClip({0, 0, client.width(), client.height()});
        if (!IsShowingStraightened())
            DrawHandles(&buffer, s, {canvas.X - float(m_origin.x() * s), canvas.Y - float(m_origin.y() * s)},
                        RectF{0, 0, float(client.width()), float(client.height())});
    }
    // Beyond the canvas the window's background shows, as at 100 %.
    const RectF target{float(scroll.x()), float(scroll.y()), shown.Width, shown.Height};
    screen->DrawImage(m_pScreenBuffer.get(), target, shown);
    m_bCanvasDrawn = true;
}

bool CPicView::ScreenBufferFits() {
    const QSize client = GetClientSize();
    if (client.isEmpty()) return false;
    if (!m_pScreenBuffer || int(m_pScreenBuffer->GetWidth()) != client.width() ||
        int(m_pScreenBuffer->GetHeight()) != client.height())
        m_pScreenBuffer = std::make_unique<Bitmap>(client.width(), client.height(), PixelFormat32bppPARGB);
    return m_pScreenBuffer->HasContent();
}

void CPicView::DrawHandles(Graphics* graphics, double scale, PointF origin, const RectF& shown) {
    const double ratio = Ratio();
    const int32_t half = int32_t(std::lround(kHandleHalf * ratio));
    Pen pen(kHandle, float(kPenWidth * ratio));
    PointF at[5];
    for (int i = 0; i < 5; ++i)
        at[i] = {float(std::lround(origin.X + m_corners[i].X * scale)), float(std::lround(origin.Y + m_corners[i].Y * scale))};
    for (int i = 0; i < 4; ++i)
        graphics->DrawRectangle(&pen, int32_t(at[i].X) - half, int32_t(at[i].Y) - half, 2 * half, 2 * half);
    // The outline, side by side: antialiased, a polyline's joins cost milliseconds, four lines
    // a tenth of one. Each side reaches half the pen's width past its corners, which closes a
    // corner as a square join would. A line costs its whole length however little of it shows,
    // so a long side is cut to the part near what is shown.
    const RectF box{shown.X - kMargin, shown.Y - kMargin, shown.Width + 2 * kMargin, shown.Height + 2 * kMargin};
    const double reach = pen.GetWidth() / 2.0;
    for (int i = 0; i < 4; ++i) {
        const double dx = double(at[i + 1].X) - at[i].X, dy = double(at[i + 1].Y) - at[i].Y;
        const double length = std::hypot(dx, dy);
        if (length == 0) continue;
        const PointF a{float(at[i].X - dx / length * reach), float(at[i].Y - dy / length * reach)};
        const PointF b{float(at[i + 1].X + dx / length * reach), float(at[i + 1].Y + dy / length * reach)};
        double t0 = 0, t1 = 1;
        if (length > kLongSide && !ClipSegment(a, b, box, t0, t1)) continue;
        auto along = [&](double t) {
            return PointF{float(a.X + t * (double(b.X) - a.X)), float(a.Y + t * (double(b.Y) - a.Y))};
        };
        graphics->DrawLine(&pen, along(t0), along(t1));
    }
}

} // namespace view
