#include "Zoom.h"

#include <algorithm>
#include <cmath>

namespace view {

double NextZoomStep(double scale, int direction) {
    // A scale within a hair of a step counts as that step.
    constexpr double kSame = 1e-9;
    if (direction > 0) {
        for (double step : kZoomSteps)
            if (step > scale * (1 + kSame)) return step;
    } else if (direction < 0) {
        for (auto it = kZoomSteps.rbegin(); it != kZoomSteps.rend(); ++it)
            if (*it < scale * (1 - kSame)) return *it;
    }
    return scale;
}

double FitScale(int32_t width, int32_t height, int32_t clientWidth, int32_t clientHeight) {
    if (width <= 0 || height <= 0 || clientWidth <= 0 || clientHeight <= 0) return 0;
    return std::min(double(clientWidth) / width, double(clientHeight) / height);
}

int ReducedCopyFor(double scale, int levels) {
    int k = 0;
    while (k < levels && scale <= std::ldexp(1.0, -(k + 1))) ++k;
    return k;
}

} // namespace view
