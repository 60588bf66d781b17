#include "WarpImageToQuad.h"

#include "MapRow.h"
#include "InterpolatedRows.h"
#include "QuadMapping.h"
#include "RenderRegions.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <optional>

namespace warp {

using namespace imaging;

int BytesPerPixel(int format) {
    switch (format) {
    case PixelFormat1bppIndexed:
    case PixelFormat4bppIndexed:
    case PixelFormat8bppIndexed: return 1;
    case PixelFormat16bppGrayScale:
    case PixelFormat16bppRGB555:
    case PixelFormat16bppRGB565:
    case PixelFormat16bppARGB1555: return 2;
    case PixelFormat24bppRGB: return 3;
    case PixelFormat32bppRGB:
    case PixelFormat32bppARGB:
    case PixelFormat32bppPARGB: return 4;
    case PixelFormat48bppRGB: return 6;
    case PixelFormat64bppARGB:
    case PixelFormat64bppPARGB: return 8;
    default: return 0;
    }
}

namespace {

// The render of `regions` through the described mapping; with `interpolated`, through
// InterpolatedRows over it.
void RenderQuad(Bitmap* source, const ResultRows& destination, const Corners& corners, int neighbourhood,
                std::span<const Rect> regions, bool interpolated, std::span<Bitmap* const> coarser = {},
                std::optional<uint32_t> background = std::nullopt) {
    if (source == nullptr || destination.bitmap == nullptr) return;
    const uint32_t width = source->GetWidth(), height = source->GetHeight();
    const int32_t maxX =
        std::max({corners.topLeft.X, corners.topRight.X, corners.bottomRight.X, corners.bottomLeft.X});
    const int32_t maxY =
        std::max({corners.topLeft.Y, corners.topRight.Y, corners.bottomRight.Y, corners.bottomLeft.Y});
    const int32_t columns = int32_t(destination.width), rows = int32_t(destination.height);
    const QuadMapping mapping = MakeQuadMapping(corners, width, height);
    const MapKernels& kernels = ChosenMapKernels();
    // Steep column lines of one slope cross the top and bottom edges alike from row to row.
    const bool memoPays = ColumnMemo::Pays(mapping) && kernels.lanes > 0;
    auto exactMapper = [&](int32_t firstColumn, int32_t lastColumn) {
        std::optional<ColumnMemo> memo;
        if (memoPays) memo.emplace(firstColumn, lastColumn - firstColumn);
        return [&mapping, &kernels, memo = std::move(memo)](int32_t y, int32_t x0, int32_t count,
                                                           const MappedRun& run) mutable {
            kernels.mapRun(mapping, y, x0, count, run, memo ? memo->At(x0, count) : ColumnFields{}, true);
        };
    };
    const int32_t right = std::clamp(maxX, 0, columns), bottom = std::clamp(maxY, 0, rows);
    if (!interpolated) return RenderRegions(source, destination, right, bottom, neighbourhood, regions, exactMapper);
    RenderRegions(
        source, destination, right, bottom, neighbourhood, regions,
        [&](int32_t firstColumn, int32_t lastColumn) {
            return InterpolatedRows(exactMapper(firstColumn, lastColumn), firstColumn, lastColumn, width,
                                    height);
        },
        Sampling::Preview, coarser, background);
}

} // namespace

void WarpImageToQuad(Bitmap* source, Bitmap* destination, const Corners& corners, int neighbourhood,
                     std::span<const Rect> regions) {
    RenderQuad(source, ResultRows::Whole(destination), corners, neighbourhood, regions, false);
}

void WarpImageToQuad(Bitmap* source, const ResultRows& destination, const Corners& corners, int neighbourhood,
                     std::span<const Rect> regions) {
    RenderQuad(source, destination, corners, neighbourhood, regions, false);
}

void WarpImageToQuadPreview(Bitmap* source, Bitmap* destination, const Corners& corners, int neighbourhood,
                            std::span<const Rect> regions, std::span<Bitmap* const> coarser,
                            std::optional<Color> background) {
    RenderQuad(source, ResultRows::Whole(destination), corners, neighbourhood, regions, true, coarser,
               background ? std::optional(background->Argb) : std::nullopt);
}

void WarpImageToQuad(Bitmap* source, Bitmap* destination, Point tl, Point tr, Point bl,
                     Point br, int neighbourhood) {
    // The one place where the warp's argument order meets the outline order.
    const Corners corners{.topLeft = tl, .topRight = tr, .bottomRight = br, .bottomLeft = bl};
    if (source == nullptr || destination == nullptr) return;
    // Only the source's extent of the destination, which must have it.
    const Rect extent{0, 0, int32_t(source->GetWidth()), int32_t(source->GetHeight())};
    if (destination->GetWidth() < source->GetWidth() || destination->GetHeight() < source->GetHeight()) return;
    WarpImageToQuad(source, destination, corners, neighbourhood, {&extent, 1});
}

void WarpImageToQuad(Bitmap* source, Bitmap* destination, Point tl, Point tr, Point bl,
                     Point br) {
    WarpImageToQuad(source, destination, tl, tr, bl, br, 2);
}

std::unique_ptr<Bitmap> WarpToNewBitmap(Bitmap* source, const Corners& corners, int neighbourhood) {
    if (source == nullptr || !source->HasContent()) return nullptr;
    auto result = std::make_unique<Bitmap>(int32_t(source->GetWidth()), int32_t(source->GetHeight()),
                                           PixelFormat32bppARGB);
    if (!result->HasContent()) return nullptr;
    const Rect everything{0, 0, INT32_MAX, INT32_MAX};
    WarpImageToQuad(source, result.get(), corners, neighbourhood, {&everything, 1});
    return result;
}

} // namespace warp
