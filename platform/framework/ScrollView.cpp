#include "ScrollView.h"

#include "WndAccess.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>
#include <QTimerEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <map>

namespace framework {

const CRuntimeClass CScrollView::classCScrollView = {"CScrollView", nullptr, nullptr};

// The view's widget: scroll bars around a viewport that is the client area.
class ScrollArea : public QAbstractScrollArea {
public:
    ScrollArea(CScrollView* owner, QWidget* parent) : QAbstractScrollArea(parent), m_owner(owner) {
        setFrameStyle(QFrame::NoFrame);
        // Like a child window that is no tab stop: clicks leave the keyboard focus alone.
        setFocusPolicy(Qt::NoFocus);
        viewport()->setFocusPolicy(Qt::NoFocus);
        viewport()->setMouseTracking(true);
        viewport()->setBackgroundRole(QPalette::Window);
        viewport()->setAutoFillBackground(true);
    }
    ~ScrollArea() override { WndAccess::WidgetDestroyed(m_owner); }

    double Ratio() const { return devicePixelRatioF(); }

    CPoint DevicePoint(const QMouseEvent* e) const {
        const QPointF p = e->position() * Ratio();
        return {int32_t(std::floor(p.x())), int32_t(std::floor(p.y()))};
    }

    static UINT Flags(const QMouseEvent* e) {
        UINT flags = 0;
        if (e->buttons() & Qt::LeftButton) flags |= MK_LBUTTON;
        if (e->buttons() & Qt::RightButton) flags |= MK_RBUTTON;
        if (e->buttons() & Qt::MiddleButton) flags |= MK_MBUTTON;
        if (e->modifiers() & Qt::ShiftModifier) flags |= MK_SHIFT;
        if (e->modifiers() & Qt::ControlModifier) flags |= MK_CONTROL;
        return flags;
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(viewport());
        painter.setClipRegion(event->region());
        const double ratio = Ratio();
        const CPoint scroll = m_owner->GetScrollPosition();
        // Device pixels from here on, with the canvas origin where the scroll puts it.
        painter.scale(1.0 / ratio, 1.0 / ratio);
        painter.translate(-scroll.x, -scroll.y);
        CDC dc(&painter);
        m_owner->OnDraw(&dc);
    }

    void mousePressEvent(QMouseEvent* e) override { Press(e); }
    // A quick second press is a press like any other.
    void mouseDoubleClickEvent(QMouseEvent* e) override { Press(e); }

    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::MiddleButton && m_panning) {
            m_panning = false;
            viewport()->unsetCursor();
            return;
        }
        if (e->button() != Qt::LeftButton) return QAbstractScrollArea::mouseReleaseEvent(e);
        if (Dispatch([&] { m_owner->OnLButtonUp(Flags(e), DevicePoint(e)); }))
            QAbstractScrollArea::mouseReleaseEvent(e);
    }

    void mouseMoveEvent(QMouseEvent* e) override {
        if (m_panning) {
            // The canvas follows the pointer.
            const QPoint moved = e->position().toPoint() - m_panFrom;
            horizontalScrollBar()->setValue(m_panScroll.x() - moved.x());
            verticalScrollBar()->setValue(m_panScroll.y() - moved.y());
            return;
        }
        if (Dispatch([&] { m_owner->OnMouseMove(Flags(e), DevicePoint(e)); }))
            QAbstractScrollArea::mouseMoveEvent(e);
    }

    void wheelEvent(QWheelEvent* e) override {
        const QPoint angle = e->angleDelta();
        if (e->modifiers() & Qt::ControlModifier) {
            const QPointF p = e->position() * Ratio();
            const CPoint point{int32_t(std::floor(p.x())), int32_t(std::floor(p.y()))};
            const UINT flags = MK_CONTROL | ((e->modifiers() & Qt::ShiftModifier) ? MK_SHIFT : 0);
            if (m_owner->OnMouseWheel(flags, angle.y() != 0 ? angle.y() : angle.x(), point)) e->accept();
            return;
        }
        if (e->modifiers() & Qt::ShiftModifier) {
            // Across, by as many lines as a notch scrolls down (Qt's own Shift scrolls pages).
            const int delta = angle.y() != 0 ? angle.y() : angle.x();
            QScrollBar* bar = horizontalScrollBar();
            bar->setValue(bar->value() - delta * QApplication::wheelScrollLines() * bar->singleStep() / 120);
            e->accept();
            return;
        }
        QAbstractScrollArea::wheelEvent(e);
    }

    void timerEvent(QTimerEvent* e) override {
        for (const auto& [id, timer] : m_timers)
            if (timer == e->timerId()) return m_owner->OnTimer(id);
        QAbstractScrollArea::timerEvent(e);
    }

    void resizeEvent(QResizeEvent* e) override {
        QAbstractScrollArea::resizeEvent(e);
        m_owner->UpdateScrollBars();
        const CRect client = m_owner->GetClientRect();
        m_owner->OnSize(0, client.Width(), client.Height());
    }

    void scrollContentsBy(int, int) override { viewport()->update(); }

public:
    void SetTimer(UINT id, UINT milliseconds) {
        KillTimer(id);
        m_timers[id] = startTimer(int(milliseconds));
    }
    void KillTimer(UINT id) {
        auto it = m_timers.find(id);
        if (it == m_timers.end()) return;
        killTimer(it->second);
        m_timers.erase(it);
    }

private:
    void Press(QMouseEvent* e) {
        if (!isActiveWindow()) m_owner->OnMouseActivate(nullptr, 0, 0);
        if (e->button() == Qt::MiddleButton) {
            m_panning = true;
            m_panFrom = e->position().toPoint();
            m_panScroll = {horizontalScrollBar()->value(), verticalScrollBar()->value()};
            viewport()->setCursor(Qt::ClosedHandCursor);
            return;
        }
        if (e->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(e);
        if (Dispatch([&] { m_owner->OnLButtonDown(Flags(e), DevicePoint(e)); }))
            QAbstractScrollArea::mousePressEvent(e);
    }

    // Runs a handler; true when it asked for the default processing.
    template <class Handler>
    bool Dispatch(Handler handler) {
        m_owner->m_defaultRequested = false;
        handler();
        return m_owner->m_defaultRequested;
    }

    CScrollView* m_owner;
    std::map<UINT, int> m_timers; // our ids to Qt's
    bool m_panning = false;
    QPoint m_panFrom, m_panScroll; // where the pan started, in Qt's pixels
};

CScrollView::CScrollView() = default;
CScrollView::~CScrollView() = default;

bool CScrollView::Create(CWnd* parent, const CRect& rect, int id) {
    if (IsWindow() || parent == nullptr || !parent->IsWindow()) return false;
    auto* area = new ScrollArea(this, parent->ClientWidget());
    Attach(area, area->viewport(), id);
    MoveWindow(rect);
    area->show();
    return true;
}

void CScrollView::SetScrollSizes(int mapMode, CSize total, CSize page, CSize line) {
    const bool first = m_mapMode != mapMode;
    m_mapMode = mapMode;
    m_total = {std::max(0, total.cx), std::max(0, total.cy)};
    m_page = page == sizeDefault ? CSize{m_total.cx / 10, m_total.cy / 10} : page;
    m_line = line == sizeDefault ? CSize{m_page.cx / 10, m_page.cy / 10} : line;
    UpdateScrollBars();
    if (first) Invalidate(true);
}

void CScrollView::UpdateScrollBars() {
    auto* area = static_cast<ScrollArea*>(GetSafeHwnd());
    if (!area) return;
    // Scroll bars count in Qt's pixels; the canvas is in device pixels.
    const double ratio = area->Ratio();
    const QSize client = area->viewport()->size();
    auto set = [&](QScrollBar* bar, int32_t total, int32_t clientSize, int32_t page, int32_t line) {
        // A hair below the whole pixel, so that a scale that fits exactly needs no scroll bar.
        bar->setRange(0, std::max(0, int(std::ceil(total * m_scale / ratio - 1e-6)) - clientSize));
        bar->setPageStep(std::max(1, int(page * m_scale / ratio)));
        bar->setSingleStep(std::max(1, int(line * m_scale / ratio)));
    };
    set(area->horizontalScrollBar(), m_total.cx, client.width(), m_page.cx, m_line.cx);
    set(area->verticalScrollBar(), m_total.cy, client.height(), m_page.cy, m_line.cy);
}

CPoint CScrollView::GetScrollPosition() const {
    auto* area = static_cast<ScrollArea*>(GetSafeHwnd());
    if (!area) return {};
    const double ratio = area->Ratio();
    return {int32_t(std::lround(area->horizontalScrollBar()->value() * ratio)),
            int32_t(std::lround(area->verticalScrollBar()->value() * ratio))};
}

void CScrollView::ScrollToPosition(CPoint position) {
    auto* area = static_cast<ScrollArea*>(GetSafeHwnd());
    if (!area) return;
    area->horizontalScrollBar()->setValue(int(std::lround(position.x / area->Ratio())));
    area->verticalScrollBar()->setValue(int(std::lround(position.y / area->Ratio())));
}

void CScrollView::SetScale(double scale) {
    if (!(scale > 0) || scale == m_scale) return;
    m_scale = scale;
    UpdateScrollBars();
    Invalidate(false);
}

CSize CScrollView::GetFullClientSize() const {
    auto* area = static_cast<ScrollArea*>(GetSafeHwnd());
    if (!area) return {};
    const QSize size = area->maximumViewportSize();
    const double ratio = area->Ratio();
    return {int32_t(std::lround(size.width() * ratio)), int32_t(std::lround(size.height() * ratio))};
}

void CScrollView::SetTimer(UINT id, UINT milliseconds) {
    if (auto* area = static_cast<ScrollArea*>(GetSafeHwnd())) area->SetTimer(id, milliseconds);
}

void CScrollView::KillTimer(UINT id) {
    if (auto* area = static_cast<ScrollArea*>(GetSafeHwnd())) area->KillTimer(id);
}

void CScrollView::OnInitialUpdate() { Invalidate(true); }

void CScrollView::OnLButtonDown(UINT, CPoint) { Default(); }
void CScrollView::OnLButtonUp(UINT, CPoint) { Default(); }
void CScrollView::OnMouseMove(UINT, CPoint) { Default(); }
int CScrollView::OnMouseActivate(CWnd*, UINT, UINT) { return Default(); }
bool CScrollView::OnMouseWheel(UINT, int, CPoint) { return false; }
void CScrollView::OnSize(UINT, int, int) {}
void CScrollView::OnTimer(UINT) {}

int CScrollView::Default() {
    m_defaultRequested = true;
    return MA_ACTIVATE;
}

void CScrollView::PostNcDestroy() { delete this; }

CWaitCursor::CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
CWaitCursor::~CWaitCursor() { QApplication::restoreOverrideCursor(); }

} // namespace framework
