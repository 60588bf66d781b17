#pragma once
// Internal to the page finder: a page's sides, found on a reduced copy, placed on the photo
// itself.

#include <opencv2/core.hpp>

#include <array>

namespace pagefind {

// `corners` (outline order, pixel-centre coordinates of `photo`, CV_8UC4 BGRA) moved to where
// the sides between them lie in the photo: each side is the line best fitting the strongest
// change of brightness across it within `reach` pixels, and each corner where its two sides
// meet. A corner whose sides are not found, or would move it farther than twice `reach`, stays.
std::array<cv::Point2d, 4> RefineSides(const cv::Mat& photo, std::array<cv::Point2d, 4> corners,
                                       double reach);

} // namespace pagefind
