#include "ViewGeometry.h"

#include <algorithm>
#include <utility>

namespace view {

using imaging::PointF;
using imaging::RectF;

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
