#pragma once
// The picture view: shows the current result at the top-left of a scrolling canvas the size of
// the image, with a handle on each corner of the corner quad and the closed outline through
// them, and lets the user drag the corners; each completed drag renders the result again from
// the source through the warp.
//
// Canvas (logical) coordinates are client coordinates plus the scroll position, one unit per
// image pixel and per device pixel.

#include "framework/ScrollView.h"
#include "imaging/Bitmap.h"
#include "imaging/Graphics.h"

#include <array>
#include <memory>

namespace view {

using imaging::Bitmap;
using imaging::Point;

// Corners 0 to 3 (top-left, top-right, bottom-right, bottom-left after a reset) and a fifth
// point equal to corner 0, so that the outline is one closed polyline.
using CornerQuad = std::array<Point, 5>;

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

    // Radius, in pixels, within which a press picks a corner (strictly less).
    static constexpr int kHitRadius = 20;

protected:
    void OnDraw(framework::CDC* dc) override;
    void OnLButtonDown(framework::UINT flags, framework::CPoint point) override;
    void OnMouseMove(framework::UINT flags, framework::CPoint point) override;
    void OnLButtonUp(framework::UINT flags, framework::CPoint point) override;
    int OnMouseActivate(framework::CWnd* desktop, framework::UINT hitTest, framework::UINT message) override;

private:
    void ResetCorners();
    // Replaces the result by a render of the source onto the corners: what the client area
    // shows first, painted at once, then the rest.
    void RenderResult();
    void DrawHandles(imaging::Graphics* graphics);
    // The canvas position under a client point, kept inside the visible client area.
    Point ToCanvas(framework::CPoint client) const;

    bool m_bDragging;
    Point m_ptCurrent;
    std::unique_ptr<Bitmap> m_pResult;
    Bitmap* m_pSource;                     // not owned
    std::unique_ptr<Bitmap> m_pBackBuffer; // the source's size, premultiplied
    std::unique_ptr<imaging::SolidBrush> m_pBackgroundBrush;
    CornerQuad m_corners;
    int m_nSelectedCorner;
};

} // namespace view
