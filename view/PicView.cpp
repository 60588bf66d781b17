#include "PicView.h"

#include "warp/Corners.h"
#include "warp/Geometry.h"
#include "warp/WarpImageToQuad.h"

#include <algorithm>

namespace view {

using namespace imaging;

VERLUME_IMPLEMENT_DYNCREATE(CPicView, framework::CScrollView)

namespace {

constexpr Color kBackground(0xFFFFFFC8); // pale yellow under transparent parts
constexpr Color kHandle(0xFFC800C8);     // magenta handles and outline
constexpr float kPenWidth = 2.0f;
constexpr int kHandleHalf = 5;

// The parts of a width x height canvas outside `shown`: the bands above and below it and the
// parts left and right of it (in 64 bits: `shown` may reach beyond the 32-bit range).
std::array<Rect, 4> Around(const Rect& shown, int32_t width, int32_t height) {
    const int64_t w = width, h = height;
    const int64_t left = std::clamp<int64_t>(shown.X, 0, w);
    const int64_t right = std::clamp<int64_t>(int64_t(shown.X) + std::max(0, shown.Width), left, w);
    const int64_t top = std::clamp<int64_t>(shown.Y, 0, h);
    const int64_t bottom = std::clamp<int64_t>(int64_t(shown.Y) + std::max(0, shown.Height), top, h);
    auto rect = [](int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
        return Rect{int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)};
    };
    return {rect(0, 0, w, top), rect(0, bottom, w, h), rect(0, top, left, bottom),
            rect(right, top, w, bottom)};
}

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

    // Premultiplied: every pixel the view composes is opaque (the fill comes first), where
    // premultiplied and straight alpha are the same bytes, and Qt blends and copies
    // premultiplied pixels at twice the speed.
    m_pBackBuffer = std::make_unique<Bitmap>(w, h, PixelFormat32bppPARGB);

    ResetCorners();
    Invalidate(false);
}

void CPicView::ResetCorners() {
    const int32_t w = m_pSource ? int32_t(m_pSource->GetWidth()) : 0;
    const int32_t h = m_pSource ? int32_t(m_pSource->GetHeight()) : 0;
    m_corners = {Point{0, 0}, Point{w, 0}, Point{w, h}, Point{0, h}, Point{0, 0}};
}

void CPicView::OnDraw(framework::CDC* dc) {
    if (m_pBackBuffer == nullptr || !m_pBackBuffer->HasContent()) return;
    const framework::CRect client = GetClientRect();
    const framework::CPoint scroll = GetScrollPosition();

    Graphics screen(dc->GetSafeHdc());
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
        DrawHandles(&buffer);
    }
    screen.DrawImage(m_pBackBuffer.get(), 0, 0);
}

void CPicView::DrawHandles(Graphics* graphics) {
    Pen pen(kHandle, kPenWidth);
    for (int i = 0; i < 4; ++i)
        graphics->DrawRectangle(&pen, m_corners[i].X - kHandleHalf, m_corners[i].Y - kHandleHalf,
                                2 * kHandleHalf, 2 * kHandleHalf);
    graphics->DrawLines(&pen, m_corners.data(), int(m_corners.size()));
}

Point CPicView::ToCanvas(framework::CPoint client) const {
    // While a button is held the pointer may leave the view; a corner stays where it can be
    // seen and grabbed again.
    const framework::CRect area = GetClientRect();
    const int32_t x = std::clamp(client.x, 0, std::max(0, area.Width() - 1));
    const int32_t y = std::clamp(client.y, 0, std::max(0, area.Height() - 1));
    const framework::CPoint scroll = GetScrollPosition();
    return {x + scroll.x, y + scroll.y};
}

void CPicView::OnLButtonDown(framework::UINT, framework::CPoint point) {
    m_bDragging = true;
    m_ptCurrent = ToCanvas(point);
    for (int i = 0; i < 4; ++i) {
        if (warp::PointDistance(m_ptCurrent, m_corners[i]) < float(kHitRadius)) {
            m_nSelectedCorner = i;
            break;
        }
    }
    Default();
}

void CPicView::OnMouseMove(framework::UINT, framework::CPoint point) {
    if (!m_bDragging) return;
    m_ptCurrent = ToCanvas(point);
    if (m_nSelectedCorner != -1) {
        m_corners[m_nSelectedCorner] = m_ptCurrent;
        m_corners[4] = m_corners[0];
    }
    Invalidate(false);
    Default();
}

void CPicView::OnLButtonUp(framework::UINT, framework::CPoint) {
    if (!m_bDragging || m_nSelectedCorner == -1) return;
    m_nSelectedCorner = -1;
    m_bDragging = false;
    if (m_pSource != nullptr) { // before the first image there is nothing to render
        framework::CWaitCursor wait;
        RenderResult();
    }
    Invalidate(false);
    Default();
}

void CPicView::RenderResult() {
    m_pResult.reset(); // its memory serves the new one
    const int32_t w = int32_t(m_pSource->GetWidth()), h = int32_t(m_pSource->GetHeight());
    auto result = std::make_unique<Bitmap>(w, h, PixelFormat32bppARGB);
    if (!result->HasContent()) return; // no content, or no memory: no result
    m_pResult = std::move(result);
    // The user sees the new picture while the rest is rendered.
    const warp::Corners corners = warp::Corners::FromOutline(m_corners.data());
    const framework::CRect client = GetClientRect();
    const framework::CPoint scroll = GetScrollPosition();
    const Rect visible{scroll.x, scroll.y, client.Width(), client.Height()};
    warp::WarpImageToQuad(m_pSource, m_pResult.get(), corners, 2, {&visible, 1});
    UpdateWindow();
    warp::WarpImageToQuad(m_pSource, m_pResult.get(), corners, 2, Around(visible, w, h));
}

int CPicView::OnMouseActivate(framework::CWnd*, framework::UINT, framework::UINT) { return Default(); }

} // namespace view
