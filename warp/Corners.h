#pragma once
// The four corners of a quad, in outline order: top-left, top-right, bottom-right,
// bottom-left, as the picture view and the command line keep them. Destination pixels.

#include "imaging/Types.h"

namespace warp {

struct Corners {
    imaging::Point topLeft, topRight, bottomRight, bottomLeft;

    // From four points in outline order.
    static Corners FromOutline(const imaging::Point outline[4]) {
        return {outline[0], outline[1], outline[2], outline[3]};
    }
    friend bool operator==(const Corners&, const Corners&) = default;
};

} // namespace warp
