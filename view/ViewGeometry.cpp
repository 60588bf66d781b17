#include "ViewGeometry.h"

#include <algorithm>
#include <utility>

namespace view {

using imaging::PointF;
using imaging::Rect;
using imaging::RectF;

std::array<Rect, 4> Around(const Rect& shown, int32_t width, int32_t height) {
    // In 64 bits: `shown` may reach beyond the 32-bit range.
    const int64_t w = width, h = height;
    const int64_t left = std::clamp<int64_t>(shown.X, 0, w);
    const int64_t right = std::clamp<int64_t>(int64_t(shown.X) + std::max(0, shown.Width), left, w);
    const int64_t top = std::clamp<int64_t>(shown.Y, 0, h);
    const int64_t bottom = std::clamp<int64_t>(int64_t(shown.Y) + std::max(0, shown.Height), top, h);
    auto rect = [](int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
        return Rect{int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)};
    };
    return {rect(0, 0, w, top), rect(0, bottom, w, h), rect(0, top, left, bottom),
            rect(right, top, w, bottom)};
}

bool ClipSegment(PointF a, PointF b, const RectF& box, double& t0, double& t1) {
    t0 = 0;
    t1 = 1;
    const double d[2] = {double(b.X) - a.X, double(b.Y) - a.Y};
    const double from[2] = {a.X, a.Y}, low[2] = {box.X, box.Y};
    const double high[2] = {double(box.X) + box.Width, double(box.Y) + box.Height};
    for (int k = 0; k < 2; ++k) {
        if (d[k] == 0) {
            if (from[k] < low[k] || from[k] > high[k]) return false;
            continue;
        }
        double enter = (low[k] - from[k]) / d[k], leave = (high[k] - from[k]) / d[k];
        if (enter > leave) std::swap(enter, leave);
        t0 = std::max(t0, enter);
        t1 = std::min(t1, leave);
    }
    return t0 < t1;
}

} // namespace view
