#include "PicView.h"

#include "ViewGeometry.h"
#include "Zoom.h"
#include "imaging/ReducedCopies.h"
#include "warp/Corners.h"
#include "warp/WarpImageToQuad.h"

#include <algorithm>
#include <cmath>

namespace view {

using namespace imaging;

VERLUME_IMPLEMENT_DYNCREATE(CPicView, framework::CScrollView)

namespace {

constexpr Color kBackground(0xFFFFFFC8); // pale yellow under transparent parts
constexpr Color kHandle(0xFFC800C8);     // magenta handles and outline
constexpr float kPenWidth = 2.0f;
constexpr int kHandleHalf = 5;
// Reduced copies down to 1/16, the smallest zoom step.
constexpr int kReducedCopies = 4;
// Outline sides longer than this (device pixels) are drawn only near what is shown, from this
// far outside it.
constexpr double kLongSide = 2048;
constexpr float kMargin = 16;


} // namespace

CPicView::CPicView()
    : m_bDragging(false),
      m_ptCurrent{0, 0},
      m_pSource(nullptr),
      m_pBackgroundBrush(std::make_unique<SolidBrush>(kBackground)),
      m_corners{},
      m_nSelectedCorner(-1) {}

CPicView::~CPicView() = default;

void CPicView::OnInitialUpdate() {
    CScrollView::OnInitialUpdate();
    const framework::CSize total = m_pResult
        ? framework::CSize{int32_t(m_pResult->GetWidth()), int32_t(m_pResult->GetHeight())}
        : framework::CSize{500, 500};
    SetScrollSizes(framework::MM_TEXT, total);
}

void CPicView::SetImage(Bitmap* image) {
    if (image == nullptr) return;
    m_pSource = image;
    const int32_t w = int32_t(image->GetWidth()), h = int32_t(image->GetHeight());
    SetScrollSizes(framework::MM_TEXT, {w, h});

    m_pResult.reset(image->Clone({0, 0, w, h}, PixelFormat32bppARGB));
    ResultChanged();
    // A new image is shown at 100 %, from its top-left corner.
    m_bFit = false;
    SetScale(1.0);

    // Premultiplied: every pixel the view composes is opaque (the fill comes first), where
    // premultiplied and straight alpha are the same bytes, and Qt blends and copies
    // premultiplied pixels at twice the speed.
    m_pBackBuffer = std::make_unique<Bitmap>(w, h, PixelFormat32bppPARGB);

    ResetCorners();
    m_history.Start(m_corners);
    Invalidate(false);
}

void CPicView::ResetCorners() {
    const int32_t w = m_pSource ? int32_t(m_pSource->GetWidth()) : 0;
    const int32_t h = m_pSource ? int32_t(m_pSource->GetHeight()) : 0;
    m_corners = {Point{0, 0}, Point{w, 0}, Point{w, h}, Point{0, h}, Point{0, 0}};
}

void CPicView::OnDraw(framework::CDC* dc) {
    if (m_pBackBuffer == nullptr || !m_pBackBuffer->HasContent()) return;
    Graphics screen(dc->GetSafeHdc());
    if (GetScale() != 1.0) return DrawScaled(&screen);
    const framework::CRect client = GetClientRect();
    const framework::CPoint scroll = GetScrollPosition();
    {
        Graphics buffer(m_pBackBuffer.get());
        buffer.SetSmoothingMode(SmoothingModeAntiAlias);
        // Compose only the part of the canvas the client area shows. The fill follows the
        // scroll position, so transparent parts of the result never show an earlier frame.
        const Rect visible{scroll.x, scroll.y, client.Width(), client.Height()};
        buffer.SetClip(visible);
        buffer.FillRectangle(m_pBackgroundBrush.get(), RectF{float(visible.X), float(visible.Y),
                                                             float(visible.Width), float(visible.Height)});
        if (m_pResult) buffer.DrawImage(m_pResult.get(), 0, 0);
        DrawHandles(&buffer, 1.0, {0, 0}, RectF{float(visible.X), float(visible.Y), float(visible.Width), float(visible.Height)});
    }
    screen.DrawImage(m_pBackBuffer.get(), 0, 0);
}

void CPicView::DrawScaled(Graphics* screen) {
    const framework::CRect client = GetClientRect();
    const framework::CPoint scroll = GetScrollPosition();
    if (client.Width() <= 0 || client.Height() <= 0) return;
    if (!m_pScreenBuffer || int32_t(m_pScreenBuffer->GetWidth()) != client.Width() ||
        int32_t(m_pScreenBuffer->GetHeight()) != client.Height()) {
        m_pScreenBuffer = std::make_unique<Bitmap>(client.Width(), client.Height(), PixelFormat32bppPARGB);
        if (!m_pScreenBuffer->HasContent()) return;
    }
    const double s = GetScale();
    const float w = float(m_pBackBuffer->GetWidth()), h = float(m_pBackBuffer->GetHeight());
    // The scaled canvas in buffer (client) pixels, and the part of it the client area shows.
    const RectF canvas{float(-scroll.x), float(-scroll.y), float(w * s), float(h * s)};
    const float right = std::min(canvas.X + canvas.Width, float(client.Width()));
    const float bottom = std::min(canvas.Y + canvas.Height, float(client.Height()));
    const RectF shown{0, 0, std::max(0.0f, right), std::max(0.0f, bottom)};
    {
        Graphics buffer(m_pScreenBuffer.get());
        buffer.SetSmoothingMode(SmoothingModeAntiAlias);
        buffer.SetClip({0, 0, int32_t(std::ceil(shown.Width)), int32_t(std::ceil(shown.Height))});
        buffer.FillRectangle(m_pBackgroundBrush.get(), shown);
        if (m_pResult) {
            // Below 100 % from the reduced copy that shrinks by less than half, averaged again
            // by the bilinear filter; above it each image pixel is a block.
            const int k = ReducedCopyFor(s, kReducedCopies);
            if (k > 0 && m_reduced.empty()) m_reduced = MakeReducedCopies(*m_pResult, kReducedCopies);
            Bitmap* image = k > 0 && int(m_reduced.size()) >= k ? m_reduced[k - 1].get() : m_pResult.get();
            // Image pixels per pixel of the copy; its last column and row may stand for fewer
            // (the clip cuts them at the canvas's edge).
            const float side = image == m_pResult.get() ? 1.0f : float(1 << k);
            const float iw = float(image->GetWidth()), ih = float(image->GetHeight());
            buffer.SetInterpolationMode(s < 1.0 ? InterpolationModeHighQualityBilinear
                                                : InterpolationModeNearestNeighbor);
            buffer.DrawImage(image, RectF{canvas.X, canvas.Y, float(iw * side * s), float(ih * side * s)},
                             RectF{0, 0, iw, ih});
        }
        buffer.SetClip({0, 0, client.Width(), client.Height()});
        DrawHandles(&buffer, s, {canvas.X, canvas.Y}, RectF{0, 0, float(client.Width()), float(client.Height())});
    }
    // Beyond the canvas the window's background shows, as at 100 %.
    const RectF target{float(scroll.x), float(scroll.y), shown.Width, shown.Height};
    screen->DrawImage(m_pScreenBuffer.get(), target, shown);
}

void CPicView::DrawHandles(Graphics* graphics, double scale, PointF origin, const RectF& shown) {
    const double ratio = DevicePixelRatio();
    const int32_t half = int32_t(std::lround(kHandleHalf * ratio));
    Pen pen(kHandle, float(kPenWidth * ratio));
    PointF at[5];
    for (int i = 0; i < 5; ++i)
        at[i] = {float(std::lround(origin.X + m_corners[i].X * scale)), float(std::lround(origin.Y + m_corners[i].Y * scale))};
    for (int i = 0; i < 4; ++i)
        graphics->DrawRectangle(&pen, int32_t(at[i].X) - half, int32_t(at[i].Y) - half, 2 * half, 2 * half);
    // The outline, one polyline as far as it can be. Antialiased lines cost their whole length
    // however little of them shows, so a long side is cut to the part near what is shown; the
    // join where it is cut lies outside.
    const RectF box{shown.X - kMargin, shown.Y - kMargin, shown.Width + 2 * kMargin, shown.Height + 2 * kMargin};
    std::vector<PointF> run;
    auto flush = [&] {
        if (run.size() >= 2) graphics->DrawLines(&pen, run.data(), int(run.size()));
        run.clear();
    };
    for (int i = 0; i < 4; ++i) {
        PointF a = at[i], b = at[i + 1];
        if (std::hypot(double(b.X) - a.X, double(b.Y) - a.Y) > kLongSide) {
            double t0, t1;
            if (!ClipSegment(a, b, box, t0, t1)) {
                flush();
                continue;
            }
            auto along = [&](double t) {
                return PointF{float(a.X + t * (double(b.X) - a.X)), float(a.Y + t * (double(b.Y) - a.Y))};
            };
            if (t0 > 0) flush();
            const PointF from = along(t0), to = along(t1);
            a = from;
            if (t1 < 1) {
                if (run.empty()) run.push_back(a);
                run.push_back(to);
                flush();
                continue;
            }
            b = to;
        }
        if (run.empty()) run.push_back(a);
        run.push_back(b);
    }
    flush();
}

framework::CPoint CPicView::ClampToClient(framework::CPoint client) const {
    // While a button is held the pointer may leave the view; a corner stays where it can be
    // seen and grabbed again.
    const framework::CRect area = GetClientRect();
    return {std::clamp(client.x, 0, std::max(0, area.Width() - 1)),
            std::clamp(client.y, 0, std::max(0, area.Height() - 1))};
}

Point CPicView::ToCanvas(framework::CPoint client) const {
    const framework::CPoint p = ClampToClient(client);
    const framework::CPoint scroll = GetScrollPosition();
    const double s = GetScale();
    if (s == 1.0) return {p.x + scroll.x, p.y + scroll.y};
    return {int32_t(std::lround((double(p.x) + scroll.x) / s)), int32_t(std::lround((double(p.y) + scroll.y) / s))};
}

void CPicView::OnLButtonDown(framework::UINT, framework::CPoint point) {
    m_bDragging = true;
    m_ptCurrent = ToCanvas(point);
    // Measured on screen: the corner's device position against the pointer's (at 100 % on an
    // unscaled display, the distance between m_ptCurrent and the corner).
    const framework::CPoint p = ClampToClient(point), scroll = GetScrollPosition();
    const double s = GetScale(), radius = kHitRadius * DevicePixelRatio();
    for (int i = 0; i < 4; ++i) {
        const double dx = m_corners[i].X * s - (double(p.x) + scroll.x);
        const double dy = m_corners[i].Y * s - (double(p.y) + scroll.y);
        if (std::sqrt(dx * dx + dy * dy) < radius) {
            m_nSelectedCorner = i;
            break;
        }
    }
    Default();
}

void CPicView::OnMouseMove(framework::UINT, framework::CPoint point) {
    if (!m_bDragging) return;
    m_ptPointer = point;
    MoveSelectedCorner(point);
    if (m_nSelectedCorner != -1) {
        // At or beyond an edge the view scrolls towards the pointer.
        const framework::CRect area = GetClientRect();
        const bool atEdge = point.x <= 0 || point.y <= 0 || point.x >= area.Width() - 1 || point.y >= area.Height() - 1;
        if (atEdge && !m_bAutoScrolling) {
            m_bAutoScrolling = true;
            m_lastScroll = std::chrono::steady_clock::now();
            m_scrollCarryX = m_scrollCarryY = 0;
            SetTimer(kAutoScrollTimer, 15);
        } else if (!atEdge && m_bAutoScrolling) {
            m_bAutoScrolling = false;
            KillTimer(kAutoScrollTimer);
        }
    }
    Default();
}

void CPicView::MoveSelectedCorner(framework::CPoint client) {
    m_ptCurrent = ToCanvas(client);
    if (m_nSelectedCorner != -1) {
        m_corners[m_nSelectedCorner] = m_ptCurrent;
        m_corners[4] = m_corners[0];
    }
    Invalidate(false);
}

void CPicView::OnTimer(framework::UINT id) {
    if (id != kAutoScrollTimer) return;
    if (!m_bDragging || m_nSelectedCorner == -1) {
        m_bAutoScrolling = false;
        KillTimer(kAutoScrollTimer);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::min(0.1, std::chrono::duration<double>(now - m_lastScroll).count());
    m_lastScroll = now;
    const framework::CRect area = GetClientRect();
    // How far out the pointer is (1 on the edge itself), and the speed that gives: from a
    // twentieth of the client's extent per second on the edge to all of it 100 pixels out.
    auto speed = [](int32_t p, int32_t extent) {
        const int32_t out = p <= 0 ? p - 1 : p >= extent - 1 ? p - (extent - 1) + 1 : 0;
        if (out == 0) return 0.0;
        const double share = std::min(1.0, 0.05 + std::abs(out) / 100.0);
        return (out < 0 ? -1 : 1) * share * extent;
    };
    m_scrollCarryX += speed(m_ptPointer.x, area.Width()) * seconds;
    m_scrollCarryY += speed(m_ptPointer.y, area.Height()) * seconds;
    const int32_t dx = int32_t(m_scrollCarryX), dy = int32_t(m_scrollCarryY);
    if (dx == 0 && dy == 0) return;
    m_scrollCarryX -= dx;
    m_scrollCarryY -= dy;
    const framework::CPoint scroll = GetScrollPosition();
    ScrollToPosition({scroll.x + dx, scroll.y + dy});
    MoveSelectedCorner(m_ptPointer);
}

void CPicView::OnLButtonUp(framework::UINT, framework::CPoint) {
    if (m_bAutoScrolling) {
        m_bAutoScrolling = false;
        KillTimer(kAutoScrollTimer);
    }
    // A press that picked no corner ends here too, so that hovering afterwards repaints nothing.
    const bool draggedCorner = m_bDragging && m_nSelectedCorner != -1;
    m_bDragging = false;
    if (!draggedCorner) return;
    m_nSelectedCorner = -1;
    if (m_pSource != nullptr) { // before the first image there is nothing to render
        framework::CWaitCursor wait;
        RenderResult();
        m_history.Add(m_corners);
    }
    Invalidate(false);
    Default();
}

void CPicView::Undo() {
    if (m_nSelectedCorner == -1 && m_pSource) Show(m_history.Undo());
}

void CPicView::Redo() {
    if (m_nSelectedCorner == -1 && m_pSource) Show(m_history.Redo());
}

void CPicView::Show(const CornerHistory::State* state) {
    if (!state) return;
    m_corners = state->corners;
    if (state->opened) {
        m_pResult.reset(m_pSource->Clone({0, 0, int32_t(m_pSource->GetWidth()), int32_t(m_pSource->GetHeight())},
                                         PixelFormat32bppARGB));
        ResultChanged();
    } else {
        framework::CWaitCursor wait;
        RenderResult();
    }
    Invalidate(false);
}

void CPicView::RenderResult() {
    m_pResult.reset(); // its memory serves the new one
    const int32_t w = int32_t(m_pSource->GetWidth()), h = int32_t(m_pSource->GetHeight());
    auto result = std::make_unique<Bitmap>(w, h, PixelFormat32bppARGB);
    if (!result->HasContent()) return; // no content, or no memory: no result
    m_pResult = std::move(result);
    // The user sees the new picture while the rest is rendered.
    ResultChanged();
    const warp::Corners corners = warp::Corners::FromOutline(m_corners.data());
    const framework::CRect client = GetClientRect();
    const framework::CPoint scroll = GetScrollPosition();
    // The canvas pixels the client area shows (at 100 %, the client area itself).
    const double s = GetScale();
    const int32_t left = int32_t(std::floor(scroll.x / s)), top = int32_t(std::floor(scroll.y / s));
    const Rect visible{left, top, int32_t(std::ceil((scroll.x + client.Width()) / s)) - left,
                       int32_t(std::ceil((scroll.y + client.Height()) / s)) - top};
    warp::WarpImageToQuad(m_pSource, m_pResult.get(), corners, 2, {&visible, 1});
    UpdateWindow();
    const std::array<Rect, 4> rest = Around(visible, w, h);
    if (std::any_of(rest.begin(), rest.end(), [](const Rect& r) { return r.Width > 0 && r.Height > 0; })) {
        warp::WarpImageToQuad(m_pSource, m_pResult.get(), corners, 2, rest);
        ResultChanged(); // reduced copies made for the first paint lack the rest
    }
}

int CPicView::OnMouseActivate(framework::CWnd*, framework::UINT, framework::UINT) { return Default(); }

bool CPicView::OnMouseWheel(framework::UINT, int delta, framework::CPoint point) {
    // Ctrl + wheel: a step per notch about the pointer.
    m_nWheelCarry += delta;
    while (m_nWheelCarry >= 120 || m_nWheelCarry <= -120) {
        const int direction = m_nWheelCarry > 0 ? 1 : -1;
        m_nWheelCarry -= direction * 120;
        ZoomStep(direction, point);
    }
    return true;
}

void CPicView::OnSize(framework::UINT, int, int) {
    if (m_bFit) ZoomToFit();
}

void CPicView::SetZoom(double scale, framework::CPoint anchor, bool fit) {
    m_bFit = fit;
    const double old = GetScale();
    if (!(scale > 0) || scale == old) {
        if (m_scaleListener) m_scaleListener();
        return;
    }
    const framework::CPoint scroll = GetScrollPosition();
    const double x = (double(anchor.x) + scroll.x) / old, y = (double(anchor.y) + scroll.y) / old;
    SetScale(scale);
    ScrollToPosition({int32_t(std::lround(x * scale - anchor.x)), int32_t(std::lround(y * scale - anchor.y))});
    Invalidate(false);
    if (m_scaleListener) m_scaleListener();
}

void CPicView::ZoomStep(int direction, framework::CPoint anchor) {
    SetZoom(NextZoomStep(GetScale(), direction), anchor, false);
}

void CPicView::ZoomIn() {
    const framework::CRect client = GetClientRect();
    ZoomStep(1, {client.Width() / 2, client.Height() / 2});
}

void CPicView::ZoomOut() {
    const framework::CRect client = GetClientRect();
    ZoomStep(-1, {client.Width() / 2, client.Height() / 2});
}

void CPicView::ZoomToFit() {
    if (!m_pSource) return;
    const framework::CSize full = GetFullClientSize();
    const double fit = FitScale(int32_t(m_pSource->GetWidth()), int32_t(m_pSource->GetHeight()), full.cx, full.cy);
    if (fit > 0) SetZoom(fit, {0, 0}, true);
}

void CPicView::ZoomToActualSize() {
    const framework::CRect client = GetClientRect();
    SetZoom(1.0, {client.Width() / 2, client.Height() / 2}, false);
}

} // namespace view
