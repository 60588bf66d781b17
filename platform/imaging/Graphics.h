#pragma once
// Drawing on images: fills, outlines, polylines and alpha-blended images, antialiased on
// request. Coordinates are the target image's pixels, (0, 0) at its top-left corner.

#include "Bitmap.h"
#include "Status.h"
#include "Types.h"

#include <memory>

class QPainter;

namespace imaging {

enum SmoothingMode : int {
    SmoothingModeDefault = 0,
    SmoothingModeHighSpeed = 1,
    SmoothingModeHighQuality = 2,
    SmoothingModeNone = 3,
    SmoothingModeAntiAlias = 4,
};

// How stretched images are sampled.
enum InterpolationMode : int {
    InterpolationModeNearestNeighbor = 5, // each image pixel a block of target pixels
    InterpolationModeHighQualityBilinear = 6,
};

class SolidBrush {
public:
    explicit SolidBrush(Color color) : m_color(color) {}
    Color GetColor() const { return m_color; }

private:
    Color m_color;
};

// A pen of a colour and a width in pixels; lines are centred on their path, with flat ends
// and mitred joins.
class Pen {
public:
    explicit Pen(Color color, float width = 1.0f) : m_color(color), m_width(width) {}
    Color GetColor() const { return m_color; }
    float GetWidth() const { return m_width; }

private:
    Color m_color;
    float m_width;
};

class Graphics {
public:
    // Draws on `image`'s own memory; what is drawn is in the image when the Graphics is
    // deleted. Drawing on indexed images, bottom-up bitmaps and 4bpp, 1555, 48- and 64-bit
    // images is not supported: the Graphics then fails every call with NotImplemented.
    // The image must outlive the Graphics and must not be locked meanwhile.
    explicit Graphics(Image* image);
    // Draws through a painter that the caller owns and keeps active meanwhile (a window's
    // paint surface); the painter's state is restored when the Graphics is deleted.
    explicit Graphics(QPainter* painter);
    ~Graphics();
    Graphics(const Graphics&) = delete;
    Graphics& operator=(const Graphics&) = delete;

    Status SetSmoothingMode(SmoothingMode mode);
    // For stretched images; nearest neighbour until set.
    Status SetInterpolationMode(InterpolationMode mode);
    // Limits all further drawing to `rect` (target pixels).
    Status SetClip(const Rect& rect);
    Status FillRectangle(const SolidBrush* brush, const RectF& rect);
    // Draws `image` with its top-left at (x, y), one image pixel per target pixel, blended
    // over what is there by its alpha.
    Status DrawImage(Image* image, int32_t x, int32_t y);
    // Draws the part `source` of `image` (image pixels) stretched over `destination` (target
    // pixels), sampled as the interpolation mode says, blended over what is there.
    Status DrawImage(Image* image, const RectF& destination, const RectF& source);
    Status DrawRectangle(const Pen* pen, int32_t x, int32_t y, int32_t width, int32_t height);
    // A polyline through `count` points, not closed unless its last point is its first.
    Status DrawLines(const Pen* pen, const Point* points, int count);
    Status DrawLines(const Pen* pen, const PointF* points, int count);
    // One straight line with flat ends. Antialiased, it costs far less than a polyline, whose
    // joins Qt fills as one shape: a few lines make an outline in a tenth of a millisecond
    // where the polyline takes milliseconds.
    Status DrawLine(const Pen* pen, const PointF& from, const PointF& to);

    Status GetLastStatus() const { return m_lastStatus.code; }
    const std::string& GetLastReason() const { return m_lastStatus.reason; }

private:
    Status Fail(Status code, std::string reason);
    QPainter* Painter();

    struct Impl;
    std::unique_ptr<Impl> m_impl;
    StatusRecord m_lastStatus;
};

} // namespace imaging
