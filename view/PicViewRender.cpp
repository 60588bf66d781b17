// The render after a release, and the states undo and redo go back and forth between. The
// result (or page) is rendered on the render's thread while the view shows the corners'
// picture at its scale (or the photo); whatever reads the result waits for it.

#include "PicView.h"

#include "WaitCursor.h"
#include "warp/Corners.h"
#include "warp/Transform.h"

#include <algorithm>
#include <cmath>

namespace view {

using namespace imaging;

namespace {

constexpr std::chrono::milliseconds kLatestStart{50};

// A transparent bitmap of the plan's size for its render; null with `why` set beyond the size
// limit or memory.
std::unique_ptr<Bitmap> NewResultFor(const warp::TransformPlan& plan, std::string* why) {
    auto result = std::make_unique<Bitmap>(int32_t(plan.width), int32_t(plan.height), PixelFormat32bppARGB);
    if (result->HasContent()) return result;
    if (why) *why = result->GetLastReason();
    return nullptr;
}

} // namespace

bool CPicView::RenderResult(std::string* why) {
    CancelRender(); // what it was rendering is stale
    const int32_t w = int32_t(m_pSource->GetWidth()), h = int32_t(m_pSource->GetHeight());
    const warp::TransformPlan plan =
        warp::PlanTransform(m_transform, warp::Corners::FromOutline(m_corners.data()), uint32_t(w), uint32_t(h));
    if (!plan.problem.empty()) {
        if (why) *why = plan.problem;
        return false;
    }
    if (Straightening()) {
        std::unique_ptr<Bitmap> page = NewResultFor(plan, why);
        if (!page) return false;
        m_pStraightened = std::move(page);
        m_resultOrigin = {0, 0};
        if (!m_bResultIsPhoto) {
            m_pResult = m_pSource->Clone({0, 0, w, h}, PixelFormat32bppARGB);
            m_bResultIsPhoto = true;
        }
        ResultChanged();
        FitCanvasToShown();
        StartRender(*m_pStraightened, plan); // the photo stays on screen meanwhile
        return true;
    }
    // Until the render is done the view shows the corners' picture at its own scale, below
    // 100 % from reduced copies of the source (of the opened copy while the result is still it).
    if (GetScale() < 1.0 && m_sourceReduced.empty()) MakePreviewSources();
    m_pStraightened.reset();
    m_bShowStraightened = false;
    m_pResult.reset(); // its memory serves the new one
    m_bResultIsPhoto = false;
    m_resultOrigin = plan.origin;
    m_pResult = NewResultFor(plan, why);
    if (!m_pResult) return false; // the caller shows the state before again
    ResultChanged();
    FitCanvasToShown();
    StartRender(*m_pResult, plan);
    return true;
}

void CPicView::StartRender(Bitmap& destination, const warp::TransformPlan& plan) {
    m_bResultPartial = false;
    m_pRender = std::make_unique<warp::BackgroundRender>(*m_pSource, destination, plan, [this] {
        QMetaObject::invokeMethod(this, &CPicView::OnRenderFinished, Qt::QueuedConnection);
    });
    // It starts when the view has painted, or soon without a paint (a hidden view).
    viewport()->update();
    QTimer::singleShot(kLatestStart, this, [this] {
        if (m_pRender) m_pRender->Start();
    });
}

Bitmap* CPicView::GetResultImage() {
    FinishRender();
    if (m_bResultPartial) {
        // A cancelled render that no release took up again: the current state, rendered.
        RenderResult();
        FinishRender();
    }
    return ResultBitmap();
}

void CPicView::FinishRender() {
    if (!m_pRender) return;
    if (!m_pRender->IsDone()) {
        WaitCursor wait;
        m_pRender->Wait();
    }
    OnRenderFinished();
}

void CPicView::OnRenderFinished() {
    if (!m_pRender || !m_pRender->IsDone()) return; // a cancelled render's late word
    m_pRender->Wait();
    m_pRender.reset();
    ResultChanged();
    viewport()->update();
}

void CPicView::CancelRender() {
    if (!m_pRender) return;
    m_pRender->Cancel();
    m_pRender.reset();
    m_bResultPartial = true;
}

void CPicView::Undo() {
    if (m_nSelectedCorner == -1 && m_pSource) Show(m_history.Undo());
}

void CPicView::Redo() {
    if (m_nSelectedCorner == -1 && m_pSource) Show(m_history.Redo());
}

void CPicView::Show(const CornerHistory::State* state) {
    if (!state) return;
    CancelRender();
    m_corners = state->corners;
    m_transform = state->transform;
    if (state->opened && !Straightening()) {
        m_pResult = m_pSource->Clone({0, 0, int32_t(m_pSource->GetWidth()), int32_t(m_pSource->GetHeight())},
                                     PixelFormat32bppARGB);
        m_bResultIsPhoto = true;
        m_bResultPartial = false;
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
