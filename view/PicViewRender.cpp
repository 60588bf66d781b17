// The render after a release, and the states undo and redo go back and forth between. What the
// client area shows is rendered and painted first, the rest of the result after it.

#include "PicView.h"

#include "ViewGeometry.h"
#include "WaitCursor.h"
#include "warp/Corners.h"
#include "warp/WarpImageToQuad.h"

#include <algorithm>
#include <cmath>

namespace view {

using namespace imaging;

void CPicView::RenderResult() {
    m_pResult.reset(); // its memory serves the new one
    const int32_t w = int32_t(m_pSource->GetWidth()), h = int32_t(m_pSource->GetHeight());
    auto result = std::make_unique<Bitmap>(w, h, PixelFormat32bppARGB);
    if (!result->HasContent()) return; // no content, or no memory: no result
    m_pResult = std::move(result);
    ResultChanged();
    const warp::Corners corners = warp::Corners::FromOutline(m_corners.data());
    const QSize client = GetClientSize();
    const QPoint scroll = GetScrollPosition();
    // The canvas pixels the client area shows (at 100 %, the client area itself).
    const double s = GetScale();
    const int32_t left = int32_t(std::floor(scroll.x() / s)), top = int32_t(std::floor(scroll.y() / s));
    const Rect visible{left, top, int32_t(std::ceil((scroll.x() + client.width()) / s)) - left,
                       int32_t(std::ceil((scroll.y() + client.height()) / s)) - top};
    warp::WarpImageToQuad(m_pSource, m_pResult.get(), corners, 2, {&visible, 1});
    // The user sees the new picture while the rest is rendered.
    viewport()->repaint();
    const std::array<Rect, 4> rest = Around(visible, w, h);
    if (std::any_of(rest.begin(), rest.end(), [](const Rect& r) { return r.Width > 0 && r.Height > 0; })) {
        warp::WarpImageToQuad(m_pSource, m_pResult.get(), corners, 2, rest);
        ResultChanged(); // reduced copies made for the first paint lack the rest
    }
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
        m_pResult = m_pSource->Clone({0, 0, int32_t(m_pSource->GetWidth()), int32_t(m_pSource->GetHeight())},
                                     PixelFormat32bppARGB);
        ResultChanged();
    } else {
        WaitCursor wait;
        RenderResult();
    }
    viewport()->update();
    emit stateChanged();
}

} // namespace view
