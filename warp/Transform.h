#pragma once
// What a set of corners does to an image: where the result's pixels come from and how large
// the result is. The picture view and verlume-warp both render through this, so that they write
// the same bytes.

#include "Corners.h"
#include "Homography.h"
#include "PageSize.h"
#include "ResultRows.h"
#include "imaging/Bitmap.h"

#include <memory>
#include <optional>
#include <span>
#include <string>

namespace warp {

class SmoothSource;

enum class Direction {
    Place,      // the image's rectangle lands on the corners
    Straighten, // the corners lie on a page in the image; the result is that page, upright
};
enum class Mapping {
    Quad,        // WarpImageToQuad's edge ratios
    Perspective, // the projective map: straight lines stay straight
};
enum class CanvasChoice {
    ClipToImage, // the result has the image's size
    FitResult,   // the result grows to hold the image's rectangle and the corners
};

struct Transform {
    Direction direction = Direction::Place;
    Mapping mapping = Mapping::Quad;                 // Straighten is always Perspective
    CanvasChoice canvas = CanvasChoice::ClipToImage; // Place only
    // Straighten: the page's size in pixels; without it, EstimatePageSize.
    std::optional<PageSize> pageSize{};
    // Antialiased edges and area sampling where the picture shrinks (SmoothWarp.h); the
    // neighbourhood is then not used.
    bool smooth = false;
    friend bool operator==(const Transform&, const Transform&) = default;
};

// A render worked out: the result's size, and for Place where its pixel (0, 0) lies in image
// coordinates (negative where the canvas grew up or left). Empty `problem` when it can render.
struct TransformPlan {
    Transform transform;
    int64_t width = 0, height = 0;
    imaging::Point origin;
    Corners corners;                      // in the result's pixels
    std::optional<Homography> toSource;   // result pixel to source position, for Perspective
    std::string problem;                  // a sentence for the user
};

// Corners in image coordinates, outline order; the source is width x height. Problems: a
// quadrilateral the perspective map cannot take (CheckQuad), a page size of 0, a result
// beyond 2^31 - 1 pixels in either direction.
TransformPlan PlanTransform(const Transform& transform, const Corners& corners, uint32_t width, uint32_t height);

// Renders the plan's pixels inside `regions` (result pixels) into `destination`, a
// PixelFormat32bppARGB bitmap of the plan's size; the others keep their bytes. Nothing when
// the plan has a problem. A smooth plan makes the source's reduced copies on each call (see
// SmoothSource for rendering in parts).
void RenderPlan(imaging::Bitmap* source, imaging::Bitmap* destination, const TransformPlan& plan, int neighbourhood,
                std::span<const imaging::Rect> regions);

// The same into the rows of the result that `destination` holds. A smooth plan reads
// `smooth`, the source's reduced copies made once for many calls; without it, nothing.
void RenderPlan(imaging::Bitmap* source, const SmoothSource* smooth, const ResultRows& destination,
                const TransformPlan& plan, int neighbourhood, std::span<const imaging::Rect> regions);

// A new transparent result of the plan's size, rendered whole. Null with `why` set when the
// plan has a problem, or the result is beyond the bitmap size limit or memory.
std::unique_ptr<imaging::Bitmap> RenderTransform(imaging::Bitmap* source, const TransformPlan& plan, int neighbourhood,
                                                 std::string* why = nullptr);

} // namespace warp
