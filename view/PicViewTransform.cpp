// The choice of transform: Place or Straighten, the mapping, the canvas; and the page shown
// in place of the photo while straightening.

#include "PicView.h"

#include "WaitCursor.h"

#include <algorithm>
#include <cmath>

namespace view {

CornerQuad CPicView::CornersInView() const {
    const int32_t w = int32_t(m_pSource->GetWidth()), h = int32_t(m_pSource->GetHeight());
    const QPoint scroll = GetScrollPosition();
    const QSize client = GetClientSize();
    const double s = GetScale();
    const int32_t left = std::clamp(int32_t(std::floor(scroll.x() / s)) + m_origin.x(), 0, w);
    const int32_t top = std::clamp(int32_t(std::floor(scroll.y() / s)) + m_origin.y(), 0, h);
    const int32_t right = std::clamp(int32_t(std::ceil((scroll.x() + client.width()) / s)) + m_origin.x(), left, w);
    const int32_t bottom = std::clamp(int32_t(std::ceil((scroll.y() + client.height()) / s)) + m_origin.y(), top, h);
    const int32_t dx = (right - left) / 10, dy = (bottom - top) / 10;
    const Point tl{left + dx, top + dy}, tr{right - dx, top + dy}, br{right - dx, bottom - dy}, bl{left + dx, bottom - dy};
    return {tl, tr, br, bl, tl};
}

std::string CPicView::SetTransform(const warp::Transform& transform) {
    if (transform == m_transform) return {};
    if (!m_pSource) {
        m_transform = transform;
        return {};
    }
    if (m_nSelectedCorner != -1) return {}; // not during a drag
    const warp::Transform before = m_transform;
    const CornerQuad corners = m_corners;
    const bool entering = transform.direction != before.direction;
    m_transform = transform;
    if (entering) {
        if (Straightening()) {
            m_corners = CornersInView();
        } else {
            ResetCorners();
        }
        m_bShowStraightened = false;
    }
    return RenderAsOneStep(before, corners);
}

std::string CPicView::StraightenOn(const warp::Corners& page) {
    if (!m_pSource || m_nSelectedCorner != -1) return {};
    const warp::Transform before = m_transform;
    const CornerQuad corners = m_corners;
    m_transform.direction = warp::Direction::Straighten;
    m_corners = {page.topLeft, page.topRight, page.bottomRight, page.bottomLeft, page.topLeft};
    m_bShowStraightened = false;
    return RenderAsOneStep(before, corners);
}

std::string CPicView::RenderAsOneStep(const warp::Transform& before, const CornerQuad& corners) {
    std::string why;
    WaitCursor wait;
    if (!RenderResult(&why)) {
        m_transform = before;
        m_corners = corners;
        if (!m_pResult || m_bResultPartial) Show(&m_history.Current());
        return why;
    }
    m_history.Add(m_corners, m_transform);
    viewport()->update();
    emit stateChanged();
    return {};
}

void CPicView::ShowStraightened(bool show) {
    if (show == m_bShowStraightened) return;
    if (show) GetResultImage(); // the whole page, rendered
    m_bShowStraightened = show;
    ResultChanged();
    FitCanvasToShown();
    viewport()->update();
}

} // namespace view
