#pragma once
// The picture view: shows the current result at the top-left of a scrolling canvas the size of
// the image, with a handle on each corner of the corner quad and the closed outline through
// them, and lets the user drag the corners; each completed drag renders the result again from
// the source through the warp.
//
// Canvas (logical) coordinates are one unit per image pixel. The canvas is shown at a scale
// (device pixels per image pixel, 100 % after SetImage): below 100 % it is drawn from reduced
// copies that average every image pixel, above it each image pixel is a block of device
// pixels. Handles, outline and the press radius are in screen space at every scale, in the
// interface's pixels times the display's device pixel ratio. At 100 % canvas coordinates are
// client coordinates plus the scroll position.

#include "CornerHistory.h"
#include "framework/ScrollView.h"
#include "imaging/Bitmap.h"
#include "imaging/Graphics.h"

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace view {

using imaging::Bitmap;
using imaging::Point;


class CPicView : public framework::CScrollView {
    VERLUME_DECLARE_DYNCREATE(CPicView)

public:
    CPicView();
    ~CPicView() override;

    void OnInitialUpdate() override;

    // Takes `image` as the new source, without taking ownership: it must stay alive until the
    // next SetImage or the view's destruction. Makes the displayed result a 32bppARGB copy of
    // it, a back buffer of its size, resets the corners to its rectangle and repaints. Null is
    // ignored. An image without content leaves the view with no result and a 0 x 0 canvas.
    void SetImage(Bitmap* image);

    // The current result (owned by the view; use it at once, do not keep or delete it), or
    // null before the first image or when the copy could not be made.
    Bitmap* GetResultImage() const { return m_pResult.get(); }

    const CornerQuad& GetCorners() const { return m_corners; }
    // The last pointer position, in canvas coordinates.
    Point GetPointerPosition() const { return m_ptCurrent; }
    int GetSelectedCorner() const { return m_nSelectedCorner; }
    bool IsDragging() const { return m_bDragging; }

    // Radius, in interface pixels, within which a press picks a corner (strictly less).
    static constexpr int kHitRadius = 20;

    // Zooming. Each keeps the canvas point under `anchor` (client device pixels) where it is,
    // as far as the scroll range allows. ZoomStep: one of kZoomSteps further in (direction > 0)
    // or out; ZoomIn and ZoomOut do it about the client area's centre. ZoomToFit: the whole
    // canvas in the client area, kept so when the view is resized, until another zoom.
    void ZoomStep(int direction, framework::CPoint anchor);
    void ZoomIn();
    void ZoomOut();
    void ZoomToFit();
    void ZoomToActualSize();
    bool IsFit() const { return m_bFit; }
    // Called after every change of scale (not for SetImage's return to 100 %).
    void SetScaleListener(std::function<void()> listener) { m_scaleListener = std::move(listener); }

    // Undo puts the corners back where they were before the last completed drag that moved
    // them and renders again from the source (back to the opened image: its unwarped copy);
    // Redo goes forward again. Nothing happens during a drag or where there is no step.
    void Undo();
    void Redo();
    // Tells apart what the result shows: equal ids, the same corners rendered (or the image as
    // opened). A new image starts a new history.
    uint64_t GetStateId() const { return m_history.Current().id; }

    // While a corner is dragged with the pointer at or beyond an edge of the client area, the
    // view scrolls towards it on this timer, faster the farther out, up to one client width
    // (or height) per second; the corner follows.
    static constexpr framework::UINT kAutoScrollTimer = 1;

protected:
    void OnDraw(framework::CDC* dc) override;
    void OnLButtonDown(framework::UINT flags, framework::CPoint point) override;
    void OnMouseMove(framework::UINT flags, framework::CPoint point) override;
    void OnLButtonUp(framework::UINT flags, framework::CPoint point) override;
    int OnMouseActivate(framework::CWnd* desktop, framework::UINT hitTest, framework::UINT message) override;
    bool OnMouseWheel(framework::UINT flags, int delta, framework::CPoint point) override;
    void OnSize(framework::UINT type, int cx, int cy) override;
    void OnTimer(framework::UINT id) override;

private:
    void ResetCorners();
    // Replaces the result by a render of the source onto the corners: what the client area
    // shows first, painted at once, then the rest.
    void RenderResult();
    // The handles and outline, with the canvas point (0, 0) at `origin` of the target and
    // `scale` target pixels per canvas unit; `shown` is the part of the target that is seen.
    void DrawHandles(imaging::Graphics* graphics, double scale, imaging::PointF origin, const imaging::RectF& shown);
    // Composes the client area at a scale other than 100 %.
    void DrawScaled(imaging::Graphics* screen);
    // The canvas position under a client point, kept inside the visible client area: the
    // nearest image pixel boundary.
    Point ToCanvas(framework::CPoint client) const;
    framework::CPoint ClampToClient(framework::CPoint client) const;
    void SetZoom(double scale, framework::CPoint anchor, bool fit);
    // The result changed: reduced copies made from it are stale.
    void ResultChanged() { m_reduced.clear(); }
    void MoveSelectedCorner(framework::CPoint client);
    // Shows a state of the history: its corners, rendered, or the unwarped copy.
    void Show(const CornerHistory::State* state);

    bool m_bDragging;
    Point m_ptCurrent;
    std::unique_ptr<Bitmap> m_pResult;
    Bitmap* m_pSource;                     // not owned
    std::unique_ptr<Bitmap> m_pBackBuffer; // the source's size, premultiplied
    std::unique_ptr<imaging::SolidBrush> m_pBackgroundBrush;
    CornerQuad m_corners;
    int m_nSelectedCorner;

    CornerHistory m_history;
    bool m_bFit = false;
    int m_nWheelCarry = 0; // a notch is 120; finer wheels send less at a time
    std::function<void()> m_scaleListener;
    std::vector<std::unique_ptr<Bitmap>> m_reduced; // of m_pResult, made when first needed
    std::unique_ptr<Bitmap> m_pScreenBuffer;        // the client area's size, premultiplied
    // Autoscroll: the pointer's last client position, when the view last scrolled, and the
    // fractions of a pixel not yet scrolled.
    framework::CPoint m_ptPointer;
    bool m_bAutoScrolling = false;
    std::chrono::steady_clock::time_point m_lastScroll;
    double m_scrollCarryX = 0, m_scrollCarryY = 0;
};

} // namespace view
