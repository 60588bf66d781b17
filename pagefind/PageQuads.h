#pragma once
// Internal to the page finder: the quadrilaterals four straight edges make, and which of them
// looks most like a page.

#include "PageLines.h"

#include <array>
#include <optional>

namespace pagefind {

// Corners in outline order (the one nearest the picture's top-left first, then clockwise),
// picture pixels, and how page-like they are.
struct PageQuad {
    std::array<cv::Point2d, 4> corners;
    double score = 0;
};

// The most page-like quadrilateral in a CV_8UC3 YCrCb picture, of four of `lines` or of an
// outline its `edges` close: convex, large, its sides backed by edges along most of what shows
// of them and ending at its corners, its inside distinct from its outside. Nothing when none is
// convincing.
std::optional<PageQuad> BestPageQuad(const std::vector<PageLine>& lines, const EdgeMap& edges,
                                     const cv::Mat& ycc);

} // namespace pagefind
