#pragma once
// The picture view: shows the current result at the top-left of a scrolling canvas the size of
// the image, with a handle on each corner of the corner quad and the closed outline through
// them, and lets the user drag the corners; each completed drag renders the result again from
// the source through the warp.
//
// Coordinate spaces:
// - canvas (logical): one unit per image pixel, the image's top-left pixel at (0, 0); the
//   canvas's own top-left lies at GetCanvasOrigin(), (0, 0) unless the canvas fits the result;
// - client: device pixels of the viewport, (0, 0) at its top-left. One canvas pixel is one
//   device pixel at 100 %, also on a scaled display.
// The canvas is shown at a scale (device pixels per image pixel, 100 % after SetImage): a canvas
// point p appears at client position (p - canvas origin) * scale - scroll position. Handles, outline and the
// press radius are in screen space at every scale.
//
// The corners say what a release renders through a warp::Transform: by default the image
// placed on them (Place) on a canvas of the image's size; or, with Straighten, the photo stays
// as it is under its handles and the page they outline is rendered upright beside it, shown
// in place of the photo on request.
//
// The member functions are spread over files by concern: PicView.cpp (the image, scrolling and
// Qt's events), PicViewPaint.cpp, PicViewDrag.cpp (corner editing and autoscroll),
// PicViewRender.cpp (the render after a release, undo and redo), PicViewTransform.cpp (the
// choice of transform), PicViewZoom.cpp.

#include "CornerHistory.h"
#include "warp/BackgroundRender.h"
#include "warp/Transform.h"
#include "imaging/Bitmap.h"
#include "imaging/Graphics.h"

#include <QAbstractScrollArea>
#include <QPoint>
#include <QSize>
#include <QTimer>

#include <chrono>
#include <memory>
#include <vector>

class QPainter;

namespace view {

using imaging::Bitmap;
using imaging::Point;

class CPicView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit CPicView(QWidget* parent = nullptr);
    ~CPicView() override;

    // Takes `image` as the new source, without taking ownership: it must stay alive until the
    // next SetImage or the view's destruction. Makes the displayed result a 32bppARGB copy of
    // it, a back buffer of its size, resets the corners to its rectangle, shows it at 100 %
    // from its top-left and repaints. Null is ignored. An image without content leaves the view
    // with no result and a 0 x 0 canvas.
    void SetImage(Bitmap* image);

    // The current result, what Save writes: the placed image, or with Straighten the page
    // (owned by the view; use it at once, do not keep or delete it). Null before the first
    // image or when it could not be made. Waits, under the wait cursor, for a render under
    // way: what it returns is always the exact render of the current state.
    Bitmap* GetResultImage();
    // Whether there is a result, and its size in pixels, without waiting for its render.
    bool HasResult() const { return ResultBitmap() != nullptr; }
    QSize GetResultSize() const {
        const Bitmap* result = ResultBitmap();
        return result ? QSize(int(result->GetWidth()), int(result->GetHeight())) : QSize();
    }
    // A release renders the result on another thread and the view stays responsive. Placing,
    // until it is done the view shows the corners' picture at its own scale, as Live preview
    // does; straightening, the photo. A press on a corner cancels it, since its release
    // renders anew.
    bool IsRendering() const { return m_pRender != nullptr; }
    // Waits for the render under way, shows its result and repaints.
    void FinishRender();

    // How releases render from now on, applied to the current corners at once as one
    // undoable step. Entering Straighten puts the corners on the part of the photo shown, 10 %
    // in from each of its edges; leaving it puts them on the image's corners. Returns why not,
    // and changes nothing, where the corners cannot take it (the perspective map needs a
    // convex quadrilateral); empty when done or when there is no image.
    std::string SetTransform(const warp::Transform& transform);
    // Straighten with the handles on `page` (image pixels, outline order), entering Straighten
    // when placing, as one undoable step. Returns why not, and changes nothing, where they
    // cannot take it; empty when done. Nothing happens without an image or during a drag.
    std::string StraightenOn(const warp::Corners& page);
    const warp::Transform& GetTransform() const { return m_transform; }
    // Live preview, off by default: while a corner is dragged the picture follows it, placed
    // through the transform at the view's scale for the client area only, from the reduced
    // copy of the source nearest that scale; the exact render still comes with the release.
    // Each paint renders the corners of that moment, so moves faster than frames drop frames.
    // Straightening, the photo stays as it is.
    void SetLivePreview(bool on);
    bool IsLivePreview() const { return m_bLivePreview; }

    // Straighten: shows the straightened page, without handles, in place of the photo (once
    // its render is done: it waits for it).
    void ShowStraightened(bool show);
    bool IsShowingStraightened() const { return Straightening() && m_bShowStraightened; }

    const CornerQuad& GetCorners() const { return m_corners; }
    // The last pointer position of a press or drag, canvas coordinates.
    Point GetPointerPosition() const { return m_ptCurrent; }
    int GetSelectedCorner() const { return m_nSelectedCorner; }
    bool IsDragging() const { return m_bDragging; }

    // Radius, in interface pixels, within which a press picks a corner (strictly less).
    static constexpr int kHitRadius = 20;

    // The canvas size in image pixels (500 x 500 before the first image). The page step of
    // the scroll bars is a tenth of it, the line step a tenth of that.
    QSize GetTotalSize() const { return m_total; }
    // The canvas point at the canvas's top-left, image coordinates.
    Point GetCanvasOrigin() const { return {m_origin.x(), m_origin.y()}; }
    // Scroll position and client area, client (device) pixels. The position is kept within the
    // scroll range.
    QPoint GetScrollPosition() const;
    void ScrollToPosition(QPoint position);
    QSize GetClientSize() const;
    // The client area with no scroll bar shown: what fits without scrolling.
    QSize GetFullClientSize() const;
    double GetScale() const { return m_scale; }

    // Zooming. Each keeps the canvas point under `anchor` (client pixels) where it is, as far
    // as the scroll range allows. ZoomStep: one of kZoomSteps further in (direction > 0) or
    // out; ZoomIn and ZoomOut do it about the client area's centre. ZoomToFit: the whole
    // canvas in the client area, kept so when the view is resized, until another zoom.
    void ZoomStep(int direction, QPoint anchor);
    void ZoomIn();
    void ZoomOut();
    void ZoomToFit();
    void ZoomToActualSize();
    bool IsFit() const { return m_bFit; }

    // Undo puts the corners back where they were before the last completed drag that moved
    // them and renders again from the source (back to the opened image: its unwarped copy);
    // Redo goes forward again. Nothing happens during a drag or where there is no step.
    void Undo();
    void Redo();
    // Tells apart what the result shows: equal ids, the same corners rendered (or the image as
    // opened). A new image starts a new history.
    uint64_t GetStateId() const { return m_history.Current().id; }
    bool CanUndo() const { return m_pSource && m_history.CanUndo(); }
    bool CanRedo() const { return m_pSource && m_history.CanRedo(); }

signals:
    // After every zoom, fit or return to 100 % (also when the scale stayed).
    void scaleChanged();
    // The result shows another state (a release, undo, redo, a new image).
    void stateChanged();
    // The pointer moved over the view: the canvas pixel under it.
    void pointerMoved(Point canvas);
    // A release left corners the transform cannot take: they went back, and this says why.
    void renderRefused(const QString& why);

protected:
    // The handlers of the corner editing, with client points (device pixels; outside the
    // client area while the button is held and the pointer has left it).
    void OnLButtonDown(QPoint client);
    void OnMouseMove(QPoint client);
    void OnLButtonUp(QPoint client);
    // Paints the canvas through `painter`, whose origin is canvas (0, 0) in device pixels.
    void OnDraw(QPainter* painter);

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // Device pixels per Qt pixel of this widget.
    double Ratio() const { return devicePixelRatioF(); }
    QPoint ClientPoint(const QPointF& qtPoint) const;
    void SetScrollSizes(QSize total);
    void SetScale(double scale);
    void UpdateScrollBars();
    void Press(QMouseEvent* event);

    void ResetCorners();
    // Corners 10 % in from each edge of the part of the image the client area shows.
    CornerQuad CornersInView() const;
    bool Straightening() const { return m_transform.direction == warp::Direction::Straighten; }
    // Place on a canvas that fits the result: the canvas reaches beyond the image and the
    // result, so that corners can be dragged out there, negative positions included.
    bool FittingCanvas() const {
        return !Straightening() && m_transform.canvas == warp::CanvasChoice::FitResult;
    }
    // The image the canvas shows: the result, the photo while straightening, or the page.
    Bitmap* Shown() const { return IsShowingStraightened() ? m_pStraightened.get() : m_pResult.get(); }
    // The canvas takes the size of what is shown, and with a fitting canvas a margin of half
    // the image's longer side around it and the image; the scroll position keeps the canvas
    // points where they were. The back buffer follows it at 100 % (not with a fitting canvas,
    // which is composed at the client's size).
    void FitCanvasToShown();
    // Renders the corners through the transform; false where the transform cannot take them
    // or memory runs out (`why` says it), with nothing changed but, for want of memory, the
    // result gone. Starts the render of the new result (Place) or page (Straighten).
    bool RenderResult(std::string* why = nullptr);
    // Renders the transform and corners set now as one undoable step; where they cannot be
    // rendered, puts back `before` and `corners` and returns why.
    std::string RenderAsOneStep(const warp::Transform& before, const CornerQuad& corners);
    // The handles and outline, with the canvas point (0, 0) at `origin` of the target and
    // `scale` target pixels per canvas unit; `shown` is the part of the target that is seen.
    void DrawHandles(imaging::Graphics* graphics, double scale, imaging::PointF origin, const imaging::RectF& shown);
    // Composes the client area at a scale other than 100 %.
    void DrawScaled(imaging::Graphics* screen);
    // Whether paints show the preview: a corner is being dragged with Live preview on, or
    // there is no whole result to show (a render is under way or was cancelled).
    bool Previewing() const {
        const bool dragging = m_bLivePreview && m_nSelectedCorner != -1;
        return (dragging || m_pRender || m_bResultPartial) && !Straightening() && m_pSource;
    }
    Bitmap* ResultBitmap() const { return Straightening() ? m_pStraightened.get() : m_pResult.get(); }
    // Renders `plan` into `destination` on the render's thread, started after the next paint.
    void StartRender(Bitmap& destination, const warp::TransformPlan& plan);
    // Stops the render under way; the result is then partial until the next render.
    void CancelRender();
    // The render's thread has finished: its result is shown.
    void OnRenderFinished();
    // Makes the reduced copies of the source the preview is rendered from.
    void MakePreviewSources();
    // Composes the client area from a preview of the corners as they are.
    void DrawPreview(imaging::Graphics* screen);
    // The client-sized buffer composition uses, made anew when the client's size changed.
    bool ScreenBufferFits();
    // The part of the viewport the canvas covers whole, in Qt's pixels; empty without an image.
    QRect CanvasOnViewport() const;
    // The canvas position under a client point, kept inside the visible client area: the
    // nearest image pixel boundary.
    Point ToCanvas(QPoint client) const;
    QPoint ClampToClient(QPoint client) const;
    void SetZoom(double scale, QPoint anchor, bool fit);
    // The result changed: reduced copies made from it are stale.
    void ResultChanged() { m_reduced.clear(); }
    void MoveSelectedCorner(QPoint client);
    void AutoScrollStep();
    // Shows a state of the history: its corners, rendered, or the unwarped copy.
    void Show(const CornerHistory::State* state);

    bool m_bDragging = false;
    Point m_ptCurrent;
    std::unique_ptr<Bitmap> m_pResult;        // while straightening, the photo
    std::unique_ptr<Bitmap> m_pStraightened; // the page, while straightening
    warp::Transform m_transform;
    bool m_bShowStraightened = false;
    bool m_bResultIsPhoto = true; // m_pResult is the unwarped copy of the source
    Bitmap* m_pSource = nullptr;           // not owned
    std::unique_ptr<Bitmap> m_pBackBuffer; // the canvas's size, premultiplied
    imaging::SolidBrush m_backgroundBrush;
    CornerQuad m_corners{};
    int m_nSelectedCorner = -1;

    QSize m_total{500, 500};
    QPoint m_origin;         // the canvas's top-left, image coordinates (negative with room above or left)
    Point m_resultOrigin;    // where the result's pixel (0, 0) lies, image coordinates
    double m_scale = 1.0;
    CornerHistory m_history;
    bool m_bFit = false;
    int m_nWheelCarry = 0; // a notch is 120; finer wheels send less at a time
    std::vector<std::unique_ptr<Bitmap>> m_reduced; // of m_pResult, made when first needed
    std::unique_ptr<Bitmap> m_pScreenBuffer;        // the client area's size, premultiplied
    bool m_bLivePreview = false;
    bool m_bCanvasDrawn = false;                          // the paint under way has drawn the canvas
    std::vector<std::unique_ptr<Bitmap>> m_sourceReduced; // of the source, for the preview and releases below 100 %
    std::unique_ptr<Bitmap> m_pPreview;                   // the client area's size
    // The render of the result (or page) under way; its pixels are the render's until done.
    std::unique_ptr<warp::BackgroundRender> m_pRender;
    bool m_bResultPartial = false; // the result (or page) of a cancelled render
    // Middle-button panning: where it started, in Qt's pixels.
    bool m_bPanning = false;
    QPoint m_panFrom, m_panScroll;
    // Autoscroll: the pointer's last client position, when the view last scrolled, and the
    // fractions of a pixel not yet scrolled.
    QTimer m_autoScroll;
    QPoint m_ptPointer;
    std::chrono::steady_clock::time_point m_lastScroll;
    double m_scrollCarryX = 0, m_scrollCarryY = 0;
};

} // namespace view
