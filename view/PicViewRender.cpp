// The render after a release, and the states undo and redo go back and forth between. What the
// client area shows is rendered and painted first, the rest of the result after it.

#include "PicView.h"

#include "ViewGeometry.h"
#include "WaitCursor.h"
#include "warp/Corners.h"
#include "warp/Transform.h"

#include <algorithm>
#include <cmath>

namespace view {

using namespace imaging;

bool CPicView::RenderResult(std::string* why) {
    const int32_t w = int32_t(m_pSource->GetWidth()), h = int32_t(m_pSource->GetHeight());
    const warp::TransformPlan plan =
        warp::PlanTransform(m_transform, warp::Corners::FromOutline(m_corners.data()), uint32_t(w), uint32_t(h));
    if (!plan.problem.empty()) {
        if (why) *why = plan.problem;
        return false;
    }
    if (Straightening()) {
        std::string failed;
        std::unique_ptr<Bitmap> page = warp::RenderTransform(m_pSource, plan, 2, &failed);
        if (!page) {
            if (why) *why = failed;
            return false;
        }
        m_pStraightened = std::move(page);
        m_resultOrigin = {0, 0};
        if (!m_bResultIsPhoto) {
            m_pResult = m_pSource->Clone({0, 0, w, h}, PixelFormat32bppARGB);
            m_bResultIsPhoto = true;
        }
        ResultChanged();
        FitCanvasToShown();
        return true;
    }
    m_pStraightened.reset();
    m_bShowStraightened = false;
    m_pResult.reset(); // its memory serves the new one
    m_bResultIsPhoto = false;
    m_resultOrigin = plan.origin;
    auto result = std::make_unique<Bitmap>(int32_t(plan.width), int32_t(plan.height), PixelFormat32bppARGB);
    if (!result->HasContent()) {
        if (why) *why = result->GetLastReason(); // beyond the size limit, or no memory
        return false; // the caller shows the state before again
    }
    m_pResult = std::move(result);
    ResultChanged();
    FitCanvasToShown();
    const QSize client = GetClientSize();
    const QPoint scroll = GetScrollPosition();
    // The result pixels the client area shows (at 100 %, the client area itself).
    const double s = GetScale();
    const int32_t left = int32_t(std::floor(scroll.x() / s)), top = int32_t(std::floor(scroll.y() / s));
    const QPoint shift = m_origin - QPoint(plan.origin.X, plan.origin.Y);
    const Rect visible{left + shift.x(), top + shift.y(), int32_t(std::ceil((scroll.x() + client.width()) / s)) - left,
                       int32_t(std::ceil((scroll.y() + client.height()) / s)) - top};
    warp::RenderPlan(m_pSource, m_pResult.get(), plan, 2, {&visible, 1});
    // The user sees the new picture while the rest is rendered.
    viewport()->repaint();
    const std::array<Rect, 4> rest = Around(visible, int32_t(plan.width), int32_t(plan.height));
    if (std::any_of(rest.begin(), rest.end(), [](const Rect& r) { return r.Width > 0 && r.Height > 0; })) {
        warp::RenderPlan(m_pSource, m_pResult.get(), plan, 2, rest);
        ResultChanged(); // reduced copies made for the first paint lack the rest
    }
    return true;
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
    m_transform = state->transform;
    if (state->opened && !Straightening()) {
        m_pResult = m_pSource->Clone({0, 0, int32_t(m_pSource->GetWidth()), int32_t(m_pSource->GetHeight())},
                                     PixelFormat32bppARGB);
        m_bResultIsPhoto = true;
        m_resultOrigin = {0, 0};
        m_pStraightened.reset();
        m_bShowStraightened = false;
        ResultChanged();
        FitCanvasToShown();
    } else {
        WaitCursor wait;
        RenderResult(); // every state in the history was rendered once: it renders again
    }
    viewport()->update();
    emit stateChanged();
}

} // namespace view
