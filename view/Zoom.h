#pragma once
// The picture view's scales: the steps a zoom goes through, the scale that fits, and which
// reduced copy of the result a scale is drawn from.

#include <array>
#include <cstdint>

namespace view {

// Device pixels per image pixel: 6.25 % to 1600 %.
inline constexpr std::array<double, 15> kZoomSteps = {1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4,
                                                      1.0 / 3,  1.0 / 2,  2.0 / 3, 1.0,     1.5,
                                                      2.0,      3.0,      4.0,     8.0,     16.0};

// The first step beyond `scale` in `direction` (in for > 0, out for < 0); `scale` itself
// where there is none.
double NextZoomStep(double scale, int direction);

// The largest scale at which a width x height canvas lies wholly inside a client area of
// clientWidth x clientHeight device pixels; 0 where either has no extent.
double FitScale(int32_t width, int32_t height, int32_t clientWidth, int32_t clientHeight);

// The reduced copy (1 for half the size, up to `levels`) to draw from at `scale`: the smallest
// one still at least as large as the picture drawn, so that drawing it shrinks by less than
// half; 0 (the full size) from scale 1 on.
int ReducedCopyFor(double scale, int levels);

} // namespace view
