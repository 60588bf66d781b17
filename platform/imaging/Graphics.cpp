#include "Graphics.h"

#include "QtBridge.h"

#include <QPainter>
#include <QPen>

#include <vector>

namespace imaging {

struct Graphics::Impl {
    QImage target;                   // wraps the image's memory
    std::unique_ptr<QPainter> owned; // painter on `target`
    QPainter* painter = nullptr;     // null when there is nothing to draw on
    StatusRecord unusable;           // why, then
};

namespace {

QColor ToQColor(Color c) { return QColor(c.GetR(), c.GetG(), c.GetB(), c.GetA()); }

QPen ToQPen(const Pen& pen) {
    return QPen(ToQColor(pen.GetColor()), qreal(pen.GetWidth()), Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
}

} // namespace

Graphics::Graphics(Image* image) : m_impl(std::make_unique<Impl>()) {
    if (image == nullptr || !image->HasContent()) {
        m_impl->unusable = {InvalidParameter, "there is no image to draw on"};
        m_lastStatus = m_impl->unusable;
        return;
    }
    m_impl->target = AsPaintTarget(*image);
    if (m_impl->target.isNull()) {
        m_impl->unusable = {NotImplemented, "images of this pixel format cannot be drawn on"};
        m_lastStatus = m_impl->unusable;
        return;
    }
    m_impl->owned = std::make_unique<QPainter>(&m_impl->target);
    m_impl->painter = m_impl->owned.get();
}

Graphics::Graphics(QPainter* painter) : m_impl(std::make_unique<Impl>()) {
    if (painter == nullptr || !painter->isActive()) {
        m_impl->unusable = {InvalidParameter, "there is no surface to draw on"};
        m_lastStatus = m_impl->unusable;
        return;
    }
    painter->save();
    m_impl->painter = painter;
}

Graphics::~Graphics() {
    if (m_impl->owned) m_impl->owned->end();
    else if (m_impl->painter) m_impl->painter->restore();
}

Status Graphics::Fail(Status code, std::string reason) {
    m_lastStatus = {code, std::move(reason)};
    return code;
}

QPainter* Graphics::Painter() {
    if (m_impl->painter == nullptr) m_lastStatus = m_impl->unusable;
    return m_impl->painter;
}

Status Graphics::SetSmoothingMode(SmoothingMode mode) {
    QPainter* p = Painter();
    if (!p) return m_lastStatus.code;
    const bool smooth = mode == SmoothingModeAntiAlias || mode == SmoothingModeHighQuality;
    p->setRenderHint(QPainter::Antialiasing, smooth);
    return Ok;
}

Status Graphics::SetInterpolationMode(InterpolationMode mode) {
    QPainter* p = Painter();
    if (!p) return m_lastStatus.code;
    p->setRenderHint(QPainter::SmoothPixmapTransform, mode == InterpolationModeHighQualityBilinear);
    return Ok;
}

Status Graphics::SetClip(const Rect& rect) {
    QPainter* p = Painter();
    if (!p) return m_lastStatus.code;
    p->setClipRect(QRect(rect.X, rect.Y, rect.Width, rect.Height), Qt::IntersectClip);
    return Ok;
}

Status Graphics::FillRectangle(const SolidBrush* brush, const RectF& rect) {
    QPainter* p = Painter();
    if (!p) return m_lastStatus.code;
    if (!brush) return Fail(InvalidParameter, "no brush");
    p->fillRect(QRectF(rect.X, rect.Y, rect.Width, rect.Height), ToQColor(brush->GetColor()));
    return Ok;
}

Status Graphics::DrawImage(Image* image, int32_t x, int32_t y) {
    QPainter* p = Painter();
    if (!p) return m_lastStatus.code;
    if (!image || !image->HasContent()) return Fail(InvalidParameter, "no image to draw");
    const QImage source = AsQImage(*image);
    if (source.isNull()) return Fail(OutOfMemory, "the image could not be prepared for drawing");
    p->drawImage(QPoint(x, y), source);
    return Ok;
}

Status Graphics::DrawImage(Image* image, const RectF& destination, const RectF& source) {
    QPainter* p = Painter();
    if (!p) return m_lastStatus.code;
    if (!image || !image->HasContent()) return Fail(InvalidParameter, "no image to draw");
    const QImage pixels = AsQImage(*image);
    if (pixels.isNull()) return Fail(OutOfMemory, "the image could not be prepared for drawing");
    p->drawImage(QRectF(destination.X, destination.Y, destination.Width, destination.Height), pixels,
                 QRectF(source.X, source.Y, source.Width, source.Height));
    return Ok;
}

Status Graphics::DrawRectangle(const Pen* pen, int32_t x, int32_t y, int32_t width, int32_t height) {
    QPainter* p = Painter();
    if (!p) return m_lastStatus.code;
    if (!pen) return Fail(InvalidParameter, "no pen");
    p->setPen(ToQPen(*pen));
    p->setBrush(Qt::NoBrush);
    p->drawRect(QRectF(x, y, width, height));
    return Ok;
}

namespace {

template <class P>
Status DrawPolyline(QPainter* p, const Pen& pen, const P* points, int count) {
    std::vector<QPointF> path;
    path.reserve(size_t(count));
    for (int i = 0; i < count; ++i) path.emplace_back(points[i].X, points[i].Y);
    p->setPen(ToQPen(pen));
    p->drawPolyline(path.data(), count);
    return Ok;
}

} // namespace

Status Graphics::DrawLines(const Pen* pen, const Point* points, int count) {
    QPainter* p = Painter();
    if (!p) return m_lastStatus.code;
    if (!pen || !points || count < 2) return Fail(InvalidParameter, "a polyline needs a pen and two points");
    return DrawPolyline(p, *pen, points, count);
}

Status Graphics::DrawLines(const Pen* pen, const PointF* points, int count) {
    QPainter* p = Painter();
    if (!p) return m_lastStatus.code;
    if (!pen || !points || count < 2) return Fail(InvalidParameter, "a polyline needs a pen and two points");
    return DrawPolyline(p, *pen, points, count);
}

Status Graphics::DrawLine(const Pen* pen, const PointF& from, const PointF& to) {
    QPainter* p = Painter();
    if (!p) return m_lastStatus.code;
    if (!pen) return Fail(InvalidParameter, "a line needs a pen");
    p->setPen(ToQPen(*pen));
    p->drawLine(QPointF(from.X, from.Y), QPointF(to.X, to.Y));
    return Ok;
}

} // namespace imaging
