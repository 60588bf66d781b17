#pragma once
// A scrolling view: a child window whose canvas is larger than its client area, with scroll
// bars, a paint callback already shifted by the scroll position, and mouse handlers.
//
// All client coordinates are device pixels, so that one canvas pixel is one screen pixel also
// on a scaled display. The canvas is shown at a scale, device pixels per logical unit (1
// unless SetScale says otherwise); the scroll position and range are device pixels of the
// scaled canvas. A logical (canvas) point (x, y) appears at client position
// (x * scale - scroll x, y * scale - scroll y); at scale 1, logical = client + scroll position.
//
// The wheel scrolls vertically, with Shift horizontally; dragging with the middle button
// moves the canvas. Both are handled here; Ctrl with the wheel goes to OnMouseWheel.

#include "Wnd.h"

class QPainter;

namespace framework {

// Mapping mode: one logical unit per device pixel. The only one supported.
inline constexpr int MM_TEXT = 1;

// What SetScrollSizes takes for "the default page or line size".
inline constexpr CSize sizeDefault{-1, -1};

// A paint surface handed to OnDraw. Its origin is the canvas origin.
class CDC {
public:
    explicit CDC(QPainter* painter) : m_painter(painter) {}
    // The surface for imaging::Graphics; valid during OnDraw only.
    QPainter* GetSafeHdc() const { return m_painter; }

private:
    QPainter* m_painter;
};

class CScrollView : public CWnd {
public:
    static const CRuntimeClass classCScrollView;
    static const CRuntimeClass* GetThisClass() { return &classCScrollView; }
    const CRuntimeClass* GetRuntimeClass() const override { return &classCScrollView; }

    CScrollView();
    ~CScrollView() override;

    // Creates the view's widget as a visible child of `parent` at `rect` (the parent's client
    // coordinates, device pixels) with the given control id. Its background is the desktop's
    // window colour wherever OnDraw paints nothing.
    bool Create(CWnd* parent, const CRect& rect, int id);

    // The canvas size and the steps of a click on the scroll bar's trough (page) and arrow
    // (line). sizeDefault: a tenth of the total for the page, a tenth of the page for the line.
    // The scroll position is kept within the canvas. The first call repaints with erase.
    void SetScrollSizes(int mapMode, CSize total, CSize page = sizeDefault, CSize line = sizeDefault);
    CSize GetTotalSize() const { return m_total; }
    CSize GetPageSize() const { return m_page; }
    CSize GetLineSize() const { return m_line; }
    CPoint GetScrollPosition() const;
    // Kept within the scroll range.
    void ScrollToPosition(CPoint position);

    // Device pixels per logical unit, above 0. Changing it keeps the scroll position within
    // the new range and repaints; callers that zoom about a point scroll afterwards.
    void SetScale(double scale);
    double GetScale() const { return m_scale; }
    // The client area's size with no scroll bar shown (device pixels): what fits without
    // scrolling.
    CSize GetFullClientSize() const;

    // Calls OnTimer(id) every `milliseconds` until KillTimer(id); setting a running timer again
    // restarts it.
    void SetTimer(UINT id, UINT milliseconds);
    void KillTimer(UINT id);

    // Requests a full repaint; called by the owner right after Create.
    virtual void OnInitialUpdate();

    // Paints the canvas; `dc`'s origin is canvas (0, 0), clipped to what needs repainting.
    virtual void OnDraw(CDC* dc) = 0;

    // Mouse handlers, with the point in client coordinates (device pixels; outside the client
    // area while a button is held and the pointer has left it). Each may call Default() to
    // pass the event on. A double-click's second press arrives as OnLButtonDown.
    virtual void OnLButtonDown(UINT flags, CPoint point);
    virtual void OnLButtonUp(UINT flags, CPoint point);
    virtual void OnMouseMove(UINT flags, CPoint point);
    // Before a press activates an inactive window.
    virtual int OnMouseActivate(CWnd* desktop, UINT hitTest, UINT message);
    // The wheel turned by `delta` (120 per notch, positive away from the user) with Ctrl held,
    // the pointer at `point`. Returns true when handled.
    virtual bool OnMouseWheel(UINT flags, int delta, CPoint point);
    // The client area was resized (device pixels).
    virtual void OnSize(UINT type, int cx, int cy);
    virtual void OnTimer(UINT id);

protected:
    // The default processing of the event being handled.
    int Default();
    // A view is owned by its window: it deletes itself once the window is gone, so it must be
    // made with new (or CreateObject).
    void PostNcDestroy() override;

private:
    friend class ScrollArea;
    void UpdateScrollBars();

    CSize m_total{0, 0};
    CSize m_page{0, 0};
    CSize m_line{0, 0};
    int m_mapMode = 0;
    double m_scale = 1.0;
    bool m_defaultRequested = false;
};

// Shows the wait cursor while it exists.
class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

} // namespace framework
