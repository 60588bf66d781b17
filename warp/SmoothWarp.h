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
// k <= 4): the last whose pixels' side is at most 4/7 of the footprint's shorter side. Along
// each side of the footprint one sample serves up to one and a half copy pixels, and each
// further pixel adds one (at most 16); a pixel that reaches beyond the source's
// border takes at least 8 x 8 samples, so that its alpha is the share of it the picture covers.

#include "ResultRows.h"
#include "Transform.h"
#include "imaging/Bitmap.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace warp {

// The source as the smooth render reads it: the image in its own format and its reduced
// copies 1 to 4 (32bppPARGB, as MakeReducedCopies makes them), made once, when a render first
// needs them, for any number of renders.
class SmoothSource {
public:
    // Keeps a reference to `image` (any format), which must outlive this object unchanged.
    explicit SmoothSource(imaging::Bitmap& image);

    imaging::Bitmap& Image() const { return m_image; }
    // How many copies the image has room for, at most 4: what the choice of copy counts with.
    int PossibleLevels() const { return m_possible; }
    // Makes the copies unless they are made; safe from several threads. Without memory for
    // them there are none (see Levels).
    void MakeCopies() const;
    bool CopiesMade() const { return m_made.load(std::memory_order_acquire); }
    // How many copies there are: 0 until they are made.
    int Levels() const { return CopiesMade() ? int(m_reduced.size()) : 0; }
    // The image for k = 0, copy k otherwise.
    imaging::Bitmap& Level(int k) const { return k == 0 ? m_image : *m_reduced[size_t(k - 1)]; }

private:
    imaging::Bitmap& m_image;
    int m_possible = 0;
    mutable std::once_flag m_once;
    mutable std::atomic<bool> m_made{false};
    mutable std::vector<std::unique_ptr<imaging::Bitmap>> m_reduced;
};

// Renders the plan's pixels inside `regions` (result pixels) smoothly into `destination`, a
// PixelFormat32bppARGB bitmap of the plan's size, as the model above says. A pixel whose
// corners all lie beyond one side of the source, or whose alpha comes out 0, is not written:
// it keeps its bytes, as do the pixels outside the regions. The Quad mapping renders only
// pixels left of and above the corners' largest X and Y, like the plain warp; placing by the
// Perspective mapping, only pixels inside the corners' bounding box, where the picture lies
// (beyond it, a pixel near the horizon would take samples from its corners' far-apart
// images). Nothing when the plan has a problem or a bitmap cannot be locked.
void RenderSmooth(const SmoothSource& source, imaging::Bitmap* destination, const TransformPlan& plan,
                  std::span<const imaging::Rect> regions);
// The same for the rows of the result that `destination` holds.
void RenderSmooth(const SmoothSource& source, const ResultRows& destination, const TransformPlan& plan,
                  std::span<const imaging::Rect> regions);

} // namespace warp
