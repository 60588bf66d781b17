// Zooming: steps about a point, fit (kept through resizes until another zoom), 100 %.

#include "PicView.h"

#include "Zoom.h"

#include <cmath>

namespace view {

void CPicView::SetZoom(double scale, QPoint anchor, bool fit) {
    m_bFit = fit;
    const double old = GetScale();
    if (scale > 0 && scale != old) {
        const QPoint scroll = GetScrollPosition();
        const double x = (double(anchor.x()) + scroll.x()) / old, y = (double(anchor.y()) + scroll.y()) / old;
        SetScale(scale);
        ScrollToPosition({int(std::lround(x * scale - anchor.x())), int(std::lround(y * scale - anchor.y()))});
        viewport()->update();
    }
    emit scaleChanged();
}

void CPicView::ZoomStep(int direction, QPoint anchor) { SetZoom(NextZoomStep(GetScale(), direction), anchor, false); }

void CPicView::ZoomIn() {
    const QSize client = GetClientSize();
    ZoomStep(1, {client.width() / 2, client.height() / 2});
}

void CPicView::ZoomOut() {
    const QSize client = GetClientSize();
    ZoomStep(-1, {client.width() / 2, client.height() / 2});
}

void CPicView::ZoomToFit() {
    if (!m_pSource) return;
    const QSize full = GetFullClientSize();
    const double fit = FitScale(m_total.width(), m_total.height(), full.width(), full.height());
    if (fit > 0) SetZoom(fit, {0, 0}, true);
}

void CPicView::ZoomToActualSize() {
    const QSize client = GetClientSize();
    SetZoom(1.0, {client.width() / 2, client.height() / 2}, false);
}

} // namespace view
