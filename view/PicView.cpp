#include "PicView.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace view {

using namespace imaging;

namespace {
constexpr Color kBackground(0xFFFFFFC8); // pale yellow under transparent parts
}

CPicView::CPicView(QWidget* parent) : QAbstractScrollArea(parent), m_backgroundBrush(kBackground) {
    // A sunken edge two pixels wide, whatever the widget style.
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    // No tab stop: clicks leave the keyboard focus on the buttons.
    setFocusPolicy(Qt::NoFocus);
    viewport()->setFocusPolicy(Qt::NoFocus);
    viewport()->setMouseTracking(true);
    viewport()->setBackgroundRole(QPalette::Window);
    // The view paints every pixel of the viewport itself (paintEvent): Qt's fill of all of it
    // first cost each frame of the live preview a quarter of a millisecond.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_autoScroll.setInterval(15);
    connect(&m_autoScroll, &QTimer::timeout, this, &CPicView::AutoScrollStep);
    SetScrollSizes({500, 500});
}

CPicView::~CPicView() { CancelRender(); }

void CPicView::SetImage(Bitmap* image) {
    if (image == nullptr) return;
    CancelRender(); // it reads the old source
    m_pSource = image;
    const int32_t w = int32_t(image->GetWidth()), h = int32_t(image->GetHeight());
    m_pResult = image->Clone({0, 0, w, h}, PixelFormat32bppARGB);
    m_bResultIsPhoto = true;
    m_bResultPartial = false;
    m_sourceReduced.clear();
    if (m_bLivePreview) MakePreviewSources();
    m_pStraightened.reset();
    m_bShowStraightened = false;
    m_resultOrigin = {0, 0};
    ResultChanged();
    // A new image is shown at 100 %, from its top-left corner.
    m_bFit = false;
    SetScale(1.0);
    FitCanvasToShown();
    ScrollToPosition({-m_origin.x(), -m_origin.y()});

    ResetCorners();
    if (Straightening()) {
        m_corners = CornersInView();
        RenderResult();
    }
    m_history.Start(m_corners, m_transform);
    viewport()->update();
    emit stateChanged();
}

void CPicView::FitCanvasToShown() {
    Bitmap* shown = Shown();
    const int32_t w = shown ? int32_t(shown->GetWidth()) : 0, h = shown ? int32_t(shown->GetHeight()) : 0;
    QRect canvas(0, 0, w, h);
    if (FittingCanvas() && m_pSource) {
        const int32_t iw = int32_t(m_pSource->GetWidth()), ih = int32_t(m_pSource->GetHeight());
        const int32_t margin = std::max(iw, ih) / 2;
        canvas = QRect(m_resultOrigin.X, m_resultOrigin.Y, w, h).united(QRect(0, 0, iw, ih))
                     .adjusted(-margin, -margin, margin, margin);
    }
    // The canvas points on screen stay where they are.
    const QPoint moved = m_origin - canvas.topLeft();
    m_origin = canvas.topLeft();
    SetScrollSizes(canvas.size());
    if (!moved.isNull()) ScrollToPosition(GetScrollPosition() + QPoint(int(std::lround(moved.x() * m_scale)),
                                                                        int(std::lround(moved.y() * m_scale))));
    if (FittingCanvas()) {
        m_pBackBuffer.reset();
        return;
    }
    // Premultiplied: every pixel the view composes is opaque (the fill comes first), where
    // premultiplied and straight alpha are the same bytes, and Qt blends and copies
    // premultiplied pixels at twice the speed.
    if (!m_pBackBuffer || int32_t(m_pBackBuffer->GetWidth()) != w || int32_t(m_pBackBuffer->GetHeight()) != h)
        m_pBackBuffer = std::make_unique<Bitmap>(w, h, PixelFormat32bppPARGB);
}

void CPicView::ResetCorners() {
    const int32_t w = m_pSource ? int32_t(m_pSource->GetWidth()) : 0;
    const int32_t h = m_pSource ? int32_t(m_pSource->GetHeight()) : 0;
    m_corners = {Point{0, 0}, Point{w, 0}, Point{w, h}, Point{0, h}, Point{0, 0}};
}

// Scrolling. The canvas counts device pixels, Qt's scroll bars count Qt's pixels.

void CPicView::SetScrollSizes(QSize total) {
    m_total = total.expandedTo({0, 0});
    UpdateScrollBars();
}

void CPicView::UpdateScrollBars() {
    const double ratio = Ratio();
    // A canvas that fits the viewport without scroll bars gets none, also where it would not
    // fit beside them (Qt keeps bars that are shown while their range is above 0).
    const QSize full = maximumViewportSize();
    auto extent = [&](int total) { return int(std::ceil(total * m_scale / ratio - 1e-6)); }; // a hair below: exact fits fit
    const bool fits = extent(m_total.width()) <= full.width() && extent(m_total.height()) <= full.height();
    const QSize client = fits ? full : viewport()->size();
    auto set = [&](QScrollBar* bar, int total, int clientSize) {
        const int page = total / 10, line = page / 10;
        bar->setRange(0, std::max(0, extent(total) - clientSize));
        bar->setPageStep(std::max(1, int(page * m_scale / ratio)));
        bar->setSingleStep(std::max(1, int(line * m_scale / ratio)));
    };
    set(horizontalScrollBar(), m_total.width(), client.width());
    set(verticalScrollBar(), m_total.height(), client.height());
}

QPoint CPicView::GetScrollPosition() const {
    return {int(std::lround(horizontalScrollBar()->value() * Ratio())),
            int(std::lround(verticalScrollBar()->value() * Ratio()))};
}

void CPicView::ScrollToPosition(QPoint position) {
    horizontalScrollBar()->setValue(int(std::lround(position.x() / Ratio())));
    verticalScrollBar()->setValue(int(std::lround(position.y() / Ratio())));
}

QSize CPicView::GetClientSize() const {
    const QSize size = viewport()->size();
    return {int(std::lround(size.width() * Ratio())), int(std::lround(size.height() * Ratio()))};
}

QSize CPicView::GetFullClientSize() const {
    const QSize size = maximumViewportSize();
    return {int(std::lround(size.width() * Ratio())), int(std::lround(size.height() * Ratio()))};
}

void CPicView::SetScale(double scale) {
    if (!(scale > 0) || scale == m_scale) return;
    m_scale = scale;
    UpdateScrollBars();
    viewport()->update();
}

// Qt's events, in client (device) pixels.

QPoint CPicView::ClientPoint(const QPointF& qtPoint) const {
    const QPointF p = qtPoint * Ratio();
    return {int(std::floor(p.x())), int(std::floor(p.y()))};
}

QRect CPicView::CanvasOnViewport() const {
    if (!m_pSource) return {};
    const QPoint scroll = GetScrollPosition();
    const double s = GetScale(), ratio = Ratio();
    const int w = int(std::floor((std::floor(m_total.width() * s) - scroll.x()) / ratio));
    const int h = int(std::floor((std::floor(m_total.height() * s) - scroll.y()) / ratio));
    return QRect(0, 0, std::max(w, 0), std::max(h, 0)) & viewport()->rect();
}

void CPicView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.setClipRegion(event->region());
    // Beyond the canvas the window's background; the canvas over it where it could not be drawn.
    const QBrush background = viewport()->palette().brush(viewport()->backgroundRole());
    const QRect canvas = CanvasOnViewport();
    for (const QRect& r : event->region() - canvas) painter.fillRect(r, background);
    painter.save();
    const QPoint scroll = GetScrollPosition();
    // Device pixels from here on, with the canvas origin where the scroll puts it.
    painter.scale(1.0 / Ratio(), 1.0 / Ratio());
    painter.translate(-scroll.x(), -scroll.y());
    m_bCanvasDrawn = false;
    OnDraw(&painter);
    painter.restore();
    if (!m_bCanvasDrawn) painter.fillRect(canvas, background);
    // The exact render waits for the release's picture to be painted: until then the processor
    // is the paint's.
    if (m_pRender) m_pRender->Start();
}

void CPicView::mousePressEvent(QMouseEvent* event) { Press(event); }
// A quick second press is a press like any other.
void CPicView::mouseDoubleClickEvent(QMouseEvent* event) { Press(event); }

void CPicView::Press(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton) {
        m_bPanning = true;
        m_panFrom = event->position().toPoint();
        m_panScroll = {horizontalScrollBar()->value(), verticalScrollBar()->value()};
        viewport()->setCursor(Qt::ClosedHandCursor);
        return;
    }
    if (event->button() == Qt::LeftButton) OnLButtonDown(ClientPoint(event->position()));
}

void CPicView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton && m_bPanning) {
        m_bPanning = false;
        viewport()->unsetCursor();
        return;
    }
    if (event->button() == Qt::LeftButton) OnLButtonUp(ClientPoint(event->position()));
}

void CPicView::mouseMoveEvent(QMouseEvent* event) {
    if (m_bPanning) {
        // The canvas follows the pointer.
        const QPoint moved = event->position().toPoint() - m_panFrom;
        horizontalScrollBar()->setValue(m_panScroll.x() - moved.x());
        verticalScrollBar()->setValue(m_panScroll.y() - moved.y());
        return;
    }
    const QPoint client = ClientPoint(event->position());
    OnMouseMove(client);
    emit pointerMoved(ToCanvas(client));
}

void CPicView::wheelEvent(QWheelEvent* event) {
    const QPoint angle = event->angleDelta();
    const int delta = angle.y() != 0 ? angle.y() : angle.x();
    if (event->modifiers() & Qt::ControlModifier) {
        // Ctrl + wheel: a step per notch about the pointer.
        m_nWheelCarry += delta;
        while (m_nWheelCarry >= 120 || m_nWheelCarry <= -120) {
            const int direction = m_nWheelCarry > 0 ? 1 : -1;
            m_nWheelCarry -= direction * 120;
            ZoomStep(direction, ClientPoint(event->position()));
        }
        event->accept();
        return;
    }
    if (event->modifiers() & Qt::ShiftModifier) {
        // Across, by as many lines as a notch scrolls down (Qt's own Shift scrolls pages).
        QScrollBar* bar = horizontalScrollBar();
        bar->setValue(bar->value() - delta * QApplication::wheelScrollLines() * bar->singleStep() / 120);
        event->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
}

void CPicView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
    if (m_bFit) ZoomToFit();
}

void CPicView::scrollContentsBy(int, int) { viewport()->update(); }

} // namespace view
