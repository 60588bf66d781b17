// Corner editing: a press near a handle picks its corner, moves drag it, the release renders.
// While a corner is dragged with the pointer at or beyond an edge of the client area, the view
// scrolls towards it, faster the farther out, up to one client width (or height) per second;
// the corner follows.

#include "PicView.h"

#include "WaitCursor.h"

#include <algorithm>
#include <cmath>

namespace view {

QPoint CPicView::ClampToClient(QPoint client) const {
    // While a button is held the pointer may leave the view; a corner stays where it can be
    // seen and grabbed again.
    const QSize area = GetClientSize();
    return {std::clamp(client.x(), 0, std::max(0, area.width() - 1)),
            std::clamp(client.y(), 0, std::max(0, area.height() - 1))};
}

Point CPicView::ToCanvas(QPoint client) const {
    const QPoint p = ClampToClient(client) + GetScrollPosition();
    const double s = GetScale();
    if (s == 1.0) return {p.x() + m_origin.x(), p.y() + m_origin.y()};
    return {int32_t(std::lround(p.x() / s)) + m_origin.x(), int32_t(std::lround(p.y() / s)) + m_origin.y()};
}

void CPicView::OnLButtonDown(QPoint client) {
    if (IsShowingStraightened()) return; // the page has no handles
    m_bDragging = true;
    m_ptCurrent = ToCanvas(client);
    // Measured on screen: the corner's device position against the pointer's (at 100 % on an
    // unscaled display, the distance between m_ptCurrent and the corner).
    const QPoint p = ClampToClient(client) + GetScrollPosition();
    const double s = GetScale(), radius = kHitRadius * Ratio();
    for (int i = 0; i < 4; ++i) {
        const double dx = (m_corners[i].X - m_origin.x()) * s - p.x(), dy = (m_corners[i].Y - m_origin.y()) * s - p.y();
        if (std::sqrt(dx * dx + dy * dy) < radius) {
            m_nSelectedCorner = i;
            break;
        }
    }
    if (m_nSelectedCorner == -1) return;
    CancelRender(); // its release renders anew
    // What the release paints first below 100 % comes from reduced copies of the source: made
    // now, the first time, rather than in the release's frame.
    if (GetScale() < 1.0 && m_sourceReduced.empty() && !Straightening()) MakePreviewSources();
}

void CPicView::OnMouseMove(QPoint client) {
    if (!m_bDragging) return;
    m_ptPointer = client;
    MoveSelectedCorner(client);
    if (m_nSelectedCorner == -1) return;
    const QSize area = GetClientSize();
    const bool atEdge = client.x() <= 0 || client.y() <= 0 || client.x() >= area.width() - 1 ||
                        client.y() >= area.height() - 1;
    if (atEdge && !m_autoScroll.isActive()) {
        m_lastScroll = std::chrono::steady_clock::now();
        m_scrollCarryX = m_scrollCarryY = 0;
        m_autoScroll.start();
    } else if (!atEdge) {
        m_autoScroll.stop();
    }
}

void CPicView::MoveSelectedCorner(QPoint client) {
    m_ptCurrent = ToCanvas(client);
    if (m_nSelectedCorner != -1) {
        m_corners[m_nSelectedCorner] = m_ptCurrent;
        m_corners[4] = m_corners[0];
    }
    viewport()->update();
}

void CPicView::AutoScrollStep() {
    if (!m_bDragging || m_nSelectedCorner == -1) return m_autoScroll.stop();
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::min(0.1, std::chrono::duration<double>(now - m_lastScroll).count());
    m_lastScroll = now;
    const QSize area = GetClientSize();
    // How far out the pointer is (1 on the edge itself), and the speed that gives: from a
    // twentieth of the client's extent per second on the edge to all of it 100 pixels out.
    auto speed = [](int p, int extent) {
        const int out = p <= 0 ? p - 1 : p >= extent - 1 ? p - (extent - 1) + 1 : 0;
        if (out == 0) return 0.0;
        const double share = std::min(1.0, 0.05 + std::abs(out) / 100.0);
        return (out < 0 ? -1 : 1) * share * extent;
    };
    m_scrollCarryX += speed(m_ptPointer.x(), area.width()) * seconds;
    m_scrollCarryY += speed(m_ptPointer.y(), area.height()) * seconds;
    const int dx = int(m_scrollCarryX), dy = int(m_scrollCarryY);
    if (dx == 0 && dy == 0) return;
    m_scrollCarryX -= dx;
    m_scrollCarryY -= dy;
    ScrollToPosition(GetScrollPosition() + QPoint(dx, dy));
    MoveSelectedCorner(m_ptPointer);
}

void CPicView::OnLButtonUp(QPoint) {
    m_autoScroll.stop();
    // A press that picked no corner ends here too, so that hovering afterwards repaints nothing.
    const bool draggedCorner = m_bDragging && m_nSelectedCorner != -1;
    m_bDragging = false;
    if (!draggedCorner) return;
    m_nSelectedCorner = -1;
    if (m_pSource != nullptr) { // before the first image there is nothing to render
        WaitCursor wait;
        std::string why;
        if (RenderResult(&why)) {
            m_history.Add(m_corners, m_transform);
        } else {
            m_corners = m_history.Current().corners; // what the transform cannot take goes back
            if (!m_pResult || m_bResultPartial) Show(&m_history.Current());
            emit renderRefused(QString::fromStdString(why));
        }
    }
    viewport()->update();
    emit stateChanged();
}

} // namespace view
