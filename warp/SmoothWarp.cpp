#include "SmoothWarp.h"

#include "AreaSampler.h"
#include "QuadMapping.h"
#include "SimdSupport.h"
#include "SmoothAvx2.h"
#include "SmoothGrid.h"
#include "imaging/ParallelRows.h"
#include "imaging/ReducedCopies.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <mutex>
#include <optional>
#include <tuple>

namespace warp {

using namespace imaging;

SmoothSource::SmoothSource(Bitmap& image) : m_image(image) {
    if (image.HasContent())
        m_possible = ReducedCopyCount(int32_t(image.GetWidth()), int32_t(image.GetHeight()), kMaxLevels);
}

void SmoothSource::MakeCopies() const {
    std::call_once(m_once, [this] {
        if (m_image.GetPixelFormat() == PixelFormat32bppARGB || m_image.GetPixelFormat() == PixelFormat24bppRGB) {
            m_reduced = MakeReducedCopies(m_image, kMaxLevels);
        } else if (m_image.HasContent()) {
            const Rect all{0, 0, int32_t(m_image.GetWidth()), int32_t(m_image.GetHeight())};
            if (const std::unique_ptr<Bitmap> argb = m_image.Clone(all, PixelFormat32bppARGB))
                m_reduced = MakeReducedCopies(*argb, kMaxLevels);
        }
        m_made.store(true, std::memory_order_release);
    });
}

namespace {

void UnlockLevels(const SmoothSource& source, std::vector<BitmapData>& data) {
    for (size_t k = 0; k < data.size(); ++k) source.Level(int(k)).UnlockBits(&data[k]);
}

bool LockLevels(const SmoothSource& source, std::vector<BitmapData>& data, std::vector<LevelView>& views) {
    data.resize(size_t(1 + source.Levels()));
    for (size_t k = 0; k < data.size(); ++k) {
        Bitmap& level = source.Level(int(k));
        if (level.LockBits(nullptr, ImageLockModeRead, level.GetPixelFormat(), &data[k]) != Ok) {
            data.resize(k);
            UnlockLevels(source, data);
            return false;
        }
        views.push_back({static_cast<const uint8_t*>(data[k].Scan0), data[k].Stride, int32_t(data[k].Width),
                         int32_t(data[k].Height), source.Image().GetPalette()});
    }
    return true;
}

// The pixels of `regions` inside columns [left, right) and rows [top, bottom).
struct Box {
    int64_t left, top, right, bottom;
};
Box Including(Box box, int64_t x, int64_t y) {
    return {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1), std::max(box.bottom, y + 1)};
}

// How the grid's points are mapped: `map` for every row, and where it culls, `exact` for the
// points it left without an index.
struct GridMap {
    MapGridRow map;
    MapGridRow exact;
};

// Renders the pixels of the box whose copy is `fromLevel` or above with the levels there are;
// returns the box of those that want a copy not made yet, if any.
std::optional<Box> RenderPass(const SmoothSource& source, const ResultRows& destination,
                              const BitmapData& out, Box box, std::span<const Rect> regions,
                              const GridMap& grid, int fromLevel) {
    const MapGridRow& map = grid.map;
    std::vector<BitmapData> levelData;
    std::vector<LevelView> levels;
    if (!LockLevels(source, levelData, levels)) return std::nullopt;
    uint8_t* const scan0 = static_cast<uint8_t*>(out.Scan0);
    const int32_t stride = out.Stride;
    const Bitmap& image = source.Image();
    const double width = image.GetWidth(), height = image.GetHeight();
    const int copies = source.CopiesMade() ? source.Levels() : source.PossibleLevels();
    auto clip = [](int64_t value, int64_t low, int64_t high) {
        return int32_t(std::clamp<int64_t>(value, low, high));
    };
    std::mutex merging;
    std::optional<Box> deferred;
    DispatchPixelFormat(image.GetPixelFormat(), [&]<PixelFormat F>() {
        constexpr int kOpaqueBytes = F == PixelFormat24bppRGB ? 3 : F == PixelFormat32bppARGB ? 4 : 0;
        const bool vector = UsableSimd() != SimdLevel::Scalar;
        std::array<GridKernels, kMaxLevels + 1> grids{};
        if (vector) {
            if (kOpaqueBytes != 0)
                grids[0] =
                    SampleGridAvx2For(levels[0], kOpaqueBytes == 3 ? LevelKind::Rgb24 : LevelKind::Argb32);
            for (size_t k = 1; k < levels.size(); ++k)
                grids[k] = SampleGridAvx2For(levels[k], LevelKind::Pargb32);
        }
        const AreaSampler<F> sampler(levels.data(), int(levels.size()), copies, width, height, grids);
        const OneSampleRunFunction oneSample =
            vector ? OneSampleRunAvx2For(levels[0], kOpaqueBytes) : nullptr;
        for (const Rect& region : regions) {
            const int32_t firstColumn = clip(region.X, box.left, box.right);
            const int32_t lastColumn = clip(int64_t(region.X) + region.Width, box.left, box.right);
            const int32_t firstRow = clip(region.Y, box.top, box.bottom);
            const int32_t lastRow = clip(int64_t(region.Y) + region.Height, box.top, box.bottom);
            if (firstColumn >= lastColumn || firstRow >= lastRow) continue;
            const int32_t points = lastColumn - firstColumn + 1;
            ParallelRows(lastRow - firstRow, [&](int32_t first, int32_t last) {
                // The grid row above the pixel row and the one below it (with their sides where
                // the map culls), and each row's pixels done by the vector run.
                std::vector<double> above(2 * size_t(points)), below(2 * size_t(points));
                std::vector<uint8_t> sidesAbove(grid.exact ? size_t(points) + 8 : 0),
                    sidesBelow(sidesAbove.size());
                std::vector<uint8_t> done(static_cast<size_t>(points));
                Box wanting{INT64_MAX, INT64_MAX, INT64_MIN, INT64_MIN};
                HeldPixel held;
                map(firstRow + first, firstColumn, points, above.data(), above.data() + points);
                if (grid.exact)
                    SidesOfRow(above.data(), above.data() + points, points, width, height, sidesAbove.data());
                for (int32_t y = firstRow + first; y < firstRow + last; ++y) {
                    map(y + 1, firstColumn, points, below.data(), below.data() + points);
                    double *u0 = above.data(), *v0 = u0 + points, *u1 = below.data(), *v1 = u1 + points;
                    // The row's pixels that may show anything, from its first column.
                    int32_t from = 0, to = points - 1;
                    if (grid.exact) {
                        SidesOfRow(u1, v1, points, width, height, sidesBelow.data());
                        std::tie(from, to) =
                            CompleteCulledCorners(grid.exact, y, firstColumn, points - 1, width, height,
                                                  {u0, v0, sidesAbove.data()}, {u1, v1, sidesBelow.data()});
                    }
                    uint8_t* pixels = scan0 + (y - destination.firstRow) * stride + 4 * int64_t(firstColumn);
                    // Its pixels are level 0's: a later pass has none to render.
                    if (oneSample && fromLevel == 0 && from < to)
                        oneSample(levels[0], {u0 + from, v0 + from, u1 + from, v1 + from}, to - from,
                                  pixels + 4 * int64_t(from), done.data() + from);
                    for (int32_t i = from; i < to; ++i)
                        if (!done[size_t(i)] &&
                            sampler.Pixel(
                                {u0[i], v0[i], u0[i + 1], v0[i + 1], u1[i], v1[i], u1[i + 1], v1[i + 1]},
                                pixels + 4 * int64_t(i), fromLevel, &held) == PixelOutcome::Deferred)
                            wanting = Including(wanting, firstColumn + i, y);
                    sampler.Flush(held);
                    above.swap(below);
                    sidesAbove.swap(sidesBelow);
                }
                if (wanting.left <= wanting.right) {
                    const std::lock_guard lock(merging);
                    deferred = deferred ? Box{std::min(deferred->left, wanting.left), std::min(deferred->top, wanting.top),
                                              std::max(deferred->right, wanting.right),
                                              std::max(deferred->bottom, wanting.bottom)}
                                        : wanting;
                }
            });
        }
    });
    UnlockLevels(source, levelData);
    return deferred;
}

// Whether a pixel at a corner or the middle of the box wants a copy.
bool LikelyWantsCopies(const MapGridRow& map, const Box& box) {
    for (int64_t y : {box.top, (box.top + box.bottom) / 2, box.bottom - 1})
        for (int64_t x : {box.left, (box.left + box.right) / 2, box.right - 1}) {
            double u[4], v[4];
            map(int32_t(y), int32_t(x), 2, u, v);
            map(int32_t(y + 1), int32_t(x), 2, u + 2, v + 2);
            if (WantsCopy(SidesOf({u[0], v[0], u[1], v[1], u[2], v[2], u[3], v[3]}))) return true;
        }
    return false;
}

// The copies are made only when a pixel wants one: a first pass renders what the source
// itself gives, a second, after them, the rest. Where the box's corners or middle already
// want one they are made first, for one pass.
void RenderGrid(const SmoothSource& source, const ResultRows& destination, Box box,
                std::span<const Rect> regions, const GridMap& grid) {
    BitmapData out;
    const Rect area{0, 0, int32_t(destination.bitmap->GetWidth()), int32_t(destination.bitmap->GetHeight())};
    if (destination.bitmap->LockBits(&area, ImageLockModeWrite, PixelFormat32bppARGB, &out) != Ok) return;
    // Only what the destination holds.
    box.right = std::clamp<int64_t>(area.Width, box.left, box.right);
    box.top = std::clamp(destination.firstRow, box.top, box.bottom);
    box.bottom = std::clamp(destination.firstRow + area.Height, box.top, box.bottom);
    if (box.left >= box.right || box.top >= box.bottom) {
        destination.bitmap->UnlockBits(&out);
        return;
    }
    if (!source.CopiesMade() && source.PossibleLevels() > 0 &&
        LikelyWantsCopies(grid.exact ? grid.exact : grid.map, box))
        source.MakeCopies();
    if (const std::optional<Box> wanting = RenderPass(source, destination, out, box, regions, grid, 0)) {
        source.MakeCopies();
        RenderPass(source, destination, out, *wanting, regions, grid, source.Levels() > 0 ? 1 : 0);
    }
    destination.bitmap->UnlockBits(&out);
}

} // namespace

void RenderSmooth(const SmoothSource& source, Bitmap* destination, const TransformPlan& plan,
                  std::span<const Rect> regions) {
    RenderSmooth(source, ResultRows::Whole(destination), plan, regions);
}

void RenderSmooth(const SmoothSource& source, const ResultRows& destination, const TransformPlan& plan,
                  std::span<const Rect> regions) {
    if (!plan.problem.empty() || destination.bitmap == nullptr || !source.Image().HasContent()) return;
    const int64_t columns = destination.width, rows = destination.height;
    const Corners& c = plan.corners;
    const int64_t minX = std::min({c.topLeft.X, c.topRight.X, c.bottomRight.X, c.bottomLeft.X});
    const int64_t minY = std::min({c.topLeft.Y, c.topRight.Y, c.bottomRight.Y, c.bottomLeft.Y});
    const int64_t maxX = std::max({c.topLeft.X, c.topRight.X, c.bottomRight.X, c.bottomLeft.X});
    const int64_t maxY = std::max({c.topLeft.Y, c.topRight.Y, c.bottomRight.Y, c.bottomLeft.Y});
    auto within = [](int64_t value, int64_t size) { return std::clamp<int64_t>(value, 0, size); };
    if (plan.transform.direction == Direction::Straighten)
        return RenderGrid(source, destination, {0, 0, columns, rows}, regions,
                          {PerspectiveGrid(*plan.toSource), nullptr});
    // Placed by the projective map, the picture lies inside the quad, and so inside the
    // corners' bounding box: nothing beyond it can come out with an alpha above 0.
    if (plan.toSource)
        return RenderGrid(
            source, destination,
            {within(minX, columns), within(minY, rows), within(maxX, columns), within(maxY, rows)}, regions,
            {PerspectiveGrid(*plan.toSource), nullptr});
    const QuadMapping mapping = MakeQuadMapping(c, source.Image().GetWidth(), source.Image().GetHeight());
    RenderGrid(source, destination, {0, 0, within(maxX, columns), within(maxY, rows)}, regions,
               {QuadGrid(mapping, true), QuadGrid(mapping, false)});
}

} // namespace warp
