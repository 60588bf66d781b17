#pragma once
// The perspective warp: renders a source bitmap through a projective map, so that straight
// lines stay straight. The sampling is the quad warp's, only the mapping differs.

#include "Homography.h"
#include "MappedRun.h"
#include "ResultRows.h"
#include "imaging/Bitmap.h"

#include <optional>
#include <span>

namespace warp {

// Maps destination pixels (x0 + i, y), i < count, at their integer coordinates, through
// `toSource` (Homography::Map) to source positions; a negative one is moved one further down
// (u < 0 becomes u - 1), then each is truncated as TruncateToIndex does, the fraction kept.
// Bit for bit the same on every processor; four or eight pixels at a time where AVX2 or
// AVX-512 allow it.
void MapPerspectiveRun(const Homography& toSource, int32_t y, int32_t x0, int32_t count, const MappedRun& out);

// Renders the pixels inside any of `regions` of `destination` (PixelFormat32bppARGB, any size):
// each is sampled from `source` (any format) around the position MapPerspectiveRun gives it
// and written unless the sample's alpha is 0, exactly as WarpImageToQuad samples and writes
// (neighbourhood 1 or 2, source column and row 0 transparent). The other pixels keep their
// bytes. Nothing is rendered when either bitmap cannot be locked.
void WarpPerspective(imaging::Bitmap* source, imaging::Bitmap* destination, const Homography& toSource,
                     int neighbourhood, std::span<const imaging::Rect> regions);
// The same for the rows of the result that `destination` holds.
void WarpPerspective(imaging::Bitmap* source, const ResultRows& destination, const Homography& toSource,
                     int neighbourhood, std::span<const imaging::Rect> regions);
// The same for a picture that need only look right, such as one that follows a dragged
// corner: sampled, with AVX2, in steps of 1/256 of a pixel, within two levels of the warp's
// bytes; reading `coarser` where the picture is shrunk, and over a `background`, as
// WarpImageToQuadPreview does.
void WarpPerspectivePreview(imaging::Bitmap* source, imaging::Bitmap* destination, const Homography& toSource,
                            int neighbourhood, std::span<const imaging::Rect> regions,
                            std::span<imaging::Bitmap* const> coarser = {},
                            std::optional<imaging::Color> background = std::nullopt);

} // namespace warp
