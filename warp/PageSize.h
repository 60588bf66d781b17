#pragma once
// The size of the upright page a photographed quadrilateral shows.

#include "Corners.h"

#include <cstdint>

namespace warp {

struct PageSize {
    int64_t width, height;
    friend bool operator==(const PageSize&, const PageSize&) = default;
};

// The page's true proportions, estimated from the perspective of `corners` (outline order, in
// the pixels of an imageWidth x imageHeight photo): the camera's focal length from the two
// vanishing points with the principal point at the photo's centre and square pixels, then the
// aspect ratio (Zhang and He, "Whiteboard scanning and image enhancement", 2007). Where the
// quadrilateral does not allow that (a pair of opposite sides parallel, or no real focal
// length), the ratio of the mean lengths of opposite sides. The longer side of the result is
// the longest side of the quadrilateral, rounded; each side is at least 1. The corners must
// pass CheckQuad.
PageSize EstimatePageSize(const Corners& corners, int64_t imageWidth, int64_t imageHeight);

} // namespace warp
