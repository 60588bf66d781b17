#pragma once
// The projective map (homography) between a rectangle and a quadrilateral: straight lines stay
// straight. Everything is in double precision with the operations in a fixed order (no fused
// multiply-add), so that every build maps every pixel to the same bits.

#include "Corners.h"

#include <cstdint>
#include <optional>

namespace warp {

// Maps (x, y) to (X / W, Y / W) with X = m[0] x + (m[1] y + m[2]), Y = m[3] x + (m[4] y + m[5])
// and W = m[6] x + (m[7] y + m[8]), in that order of operations.
struct Homography {
    double m[9];

    struct Mapped {
        double x, y;
    };
    Mapped Map(double x, double y) const {
        const double w = m[6] * x + (m[7] * y + m[8]);
        return {(m[0] * x + (m[1] * y + m[2])) / w, (m[3] * x + (m[4] * y + m[5])) / w};
    }
    // The inverse map, up to a common factor (the adjugate): exact for the identity.
    Homography Inverted() const;
};

// What keeps four corners (outline order) from being the image of a rectangle under a
// projective map.
enum class QuadProblem {
    None,
    Collinear, // three of them on one line (two that coincide included)
    Crossing,  // two sides cross
    Concave,   // one corner lies inside the triangle of the other three
};
QuadProblem CheckQuad(const Corners& corners);
// A sentence for the user: "three corners lie on one line" and so on; empty for None.
const char* Describe(QuadProblem problem);

// The map that takes the width x height rectangle's corners (0, 0), (width, 0),
// (width, height), (0, height) to the corners in outline order. Empty when CheckQuad finds a
// problem or the rectangle is empty.
std::optional<Homography> RectToQuad(double width, double height, const Corners& corners);

} // namespace warp
