#pragma once
// Smooth rendering, for either mapping and either direction: the picture's edges are
// antialiased by how much of each destination pixel they cover, and where the mapping shrinks
// the picture every source pixel under a destination pixel counts. Deterministic like the
// plain warp: integer blending, double-precision positions in a fixed order.
//
// The model. The source is a continuous picture over [0, width] x [0, height], pixel (i, j)
// covering [i, i + 1] x [j, j + 1]; it is read bilinearly between pixel centres, clamped at its
// border, and is transparent outside it. Destination pixel (x, y) covers [x, x + 1] x [y, y + 1].
// Its four corners are mapped to the source (Perspective: the plan's homography at the integer
// points; Quad: MapToSource with a negative position moved back up, u < 0 becoming u + 1), and
// the pixel is the average of nx x ny samples placed evenly between them by bilinear
// interpolation. The samples are read from reduced copy k (averages of 2^k x 2^k pixel blocks,
// k <= 4): the last whose pixels' side is at most a quarter of the footprint's shorter side. Along
// each side of the footprint one sample serves up to one and a half copy pixels, and each
// further pixel adds one (at most 16); a pixel that reaches beyond the source's
// border takes at least 8 x 8 samples, so that its alpha is the share of it the picture covers.

#include "ResultRows.h"
#include "Transform.h"
#include "imaging/Bitmap.h"

#include <memory>
#include <span>
#include <vector>

namespace warp {

// The source as the smooth render reads it: the image in its own format and its reduced
// copies 1 to 4 (32bppPARGB, as MakeReducedCopies makes them), made once for any number of
// renders.
class SmoothSource {
public:
    // Keeps a reference to `image` (any format), which must outlive this object unchanged.
    // The copies are made here; without memory for them there are fewer (see Levels).
    explicit SmoothSource(imaging::Bitmap& image);

    imaging::Bitmap& Image() const { return m_image; }
    // How many copies there are, at most 4.
    int Levels() const { return int(m_reduced.size()); }
    // The image for k = 0, copy k otherwise.
    imaging::Bitmap& Level(int k) const { return k == 0 ? m_image : *m_reduced[size_t(k - 1)]; }

private:
    imaging::Bitmap& m_image;
    std::vector<std::unique_ptr<imaging::Bitmap>> m_reduced;
};

// Renders the plan's pixels inside `regions` (result pixels) smoothly into `destination`, a
// PixelFormat32bppARGB bitmap of the plan's size, as the model above says. A pixel whose
// corners all lie beyond one side of the source, or whose alpha comes out 0, is not written:
// it keeps its bytes, as do the pixels outside the regions. The Quad mapping renders only
// pixels left of and above the corners' largest X and Y, like the plain warp. Nothing when
// the plan has a problem or a bitmap cannot be locked.
void RenderSmooth(const SmoothSource& source, imaging::Bitmap* destination, const TransformPlan& plan,
                  std::span<const imaging::Rect> regions);
// The same for the rows of the result that `destination` holds.
void RenderSmooth(const SmoothSource& source, const ResultRows& destination, const TransformPlan& plan,
                  std::span<const imaging::Rect> regions);

} // namespace warp
