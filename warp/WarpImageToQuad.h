#pragma once
// The quad warp: renders a source bitmap so that its rectangle lands on the quadrilateral of
// four corner points, working backwards from every destination pixel.

#include "Corners.h"
#include "ResultRows.h"
#include "imaging/Bitmap.h"
#include "imaging/Types.h"

#include <optional>
#include <span>

namespace warp {

using imaging::Bitmap;
using imaging::Point;

// Bytes one pixel of `format` occupies as the warp addresses it; 1 for the 1- and 4-bit
// indexed formats, 0 for an id it does not know.
int BytesPerPixel(int format);

// Renders `source` (any pixel format) into `destination`, which the caller makes in
// PixelFormat32bppARGB at the source's width and height. Corners are destination pixels in
// the order top-left, top-right, bottom-left, bottom-right.
//
// Every destination pixel (x, y) with x below the corners' largest X and y below their largest
// Y (and inside the destination) samples the source around the position MapToSource gives it;
// a pixel whose sample has alpha 0 is not written and keeps its bytes. Source column 0 and row
// 0, and positions outside the source, count as transparent black.
//
// `neighbourhood` n: 1 or less takes the single source pixel (iu, iv) at the truncated
// position; 2 or more blends the 2 x 2 pixels from (iu, iv) by the fractional position,
// first along each row, then down the column, each step truncated to a byte (larger n gives
// the same result as 2).
//
// 24- and 32-bit sources are read as stored: bytes B, G, R, and for the 4-byte formats the
// fourth byte as alpha (so 32bppRGB gives its stored fourth byte, 32bppPARGB its
// premultiplied bytes); other formats give their true colour and alpha (ReadTrueColor).
//
// Nothing is read or written outside the two bitmaps. When either cannot be locked (no
// content, too small, the same bitmap twice, already locked) nothing is rendered.
void WarpImageToQuad(Bitmap* source, Bitmap* destination, Point tl, Point tr, Point bl, Point br,
                     int neighbourhood);
void WarpImageToQuad(Bitmap* source, Bitmap* destination, Point tl, Point tr, Point bl,
                     Point br);

// The same with the corners in outline order, for the destination pixels inside any of
// `regions` only; the others keep their bytes. The destination may have any size (a canvas
// larger than the source): the scanned box is clipped to it. Every pixel is rendered on its
// own, so rendering a bitmap in parts gives the bytes of rendering it whole.
void WarpImageToQuad(Bitmap* source, Bitmap* destination, const Corners& corners, int neighbourhood,
                     std::span<const imaging::Rect> regions);

// The same for the rows of the result that `destination` holds: bands rendered this way put
// together give the bytes of rendering the result whole.
void WarpImageToQuad(Bitmap* source, const ResultRows& destination, const Corners& corners, int neighbourhood,
                     std::span<const imaging::Rect> regions);

// The same for a picture that need only look right, such as one that follows a dragged
// corner: the mapping is exact on every fourth row, where a side passes and where it bends,
// and linear in between; the sampling, with AVX2, in steps of 1/256 of a pixel. Not the
// warp's bytes: within a level or two of them where the picture is smooth. Where the picture is
// shrunk to half or less it reads `coarser` instead, the source's copies each half the size of
// the one before (32bppPARGB, as MakeReducedCopies makes them), when the source is 24bppRGB or
// 32bppPARGB. With a `background` (opaque) every pixel of the regions is written, opaque: the
// picture over that colour, as a screen shows it.
void WarpImageToQuadPreview(Bitmap* source, Bitmap* destination, const Corners& corners, int neighbourhood,
                            std::span<const imaging::Rect> regions, std::span<Bitmap* const> coarser = {},
                            std::optional<imaging::Color> background = std::nullopt);

// A new PixelFormat32bppARGB bitmap of the source's size, transparent black, with the source
// warped onto `corners`. Null when the source has no content or memory runs out.
std::unique_ptr<Bitmap> WarpToNewBitmap(Bitmap* source, const Corners& corners, int neighbourhood = 2);

} // namespace warp
