#include "FindPage.h"

#include "PageLines.h"
#include "PageQuads.h"
#include "RefineSides.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace pagefind {

namespace {

// The reduced copy the search works on: its longer side this many pixels.
constexpr int kWorkingSide = 640;
// At most this many of the strongest straight edges make the quadrilaterals tried.
constexpr int kLines = 44;

std::optional<warp::Corners> Find(const cv::Mat& photo) {
    const double scale = std::max(1.0, double(std::max(photo.cols, photo.rows)) / kWorkingSide);
    cv::Mat reduced, ycc;
    if (scale > 1) {
        cv::resize(photo, reduced,
                   cv::Size(int(std::lround(photo.cols / scale)), int(std::lround(photo.rows / scale))), 0, 0,
                   cv::INTER_AREA);
    } else {
        reduced = photo;
    }
    // Luma and two colour differences (the fourth byte left out): OpenCV builds Lab's tables on
    // first use (0.15 s).
    cv::cvtColor(reduced, ycc, cv::COLOR_BGR2YCrCb);
    const EdgeMap edges = FindEdges(ycc);
    const std::optional<PageQuad> quad = BestPageQuad(FindLines(ycc, edges, kLines), edges, ycc);
    if (!quad) return std::nullopt;
    // Pixel centres of the copy to those of the photo, the sides placed there.
    const double sx = double(photo.cols) / reduced.cols, sy = double(photo.rows) / reduced.rows;
    std::array<cv::Point2d, 4> corners;
    for (int i = 0; i < 4; ++i)
        corners[size_t(i)] = {(quad->corners[size_t(i)].x + 0.5) * sx - 0.5,
                              (quad->corners[size_t(i)].y + 0.5) * sy - 0.5};
    corners = RefineSides(photo, corners, 1.5 * std::max(sx, sy) + 3);
    // Corners lie between pixels: the top-left of pixel (0, 0) is (0, 0).
    auto point = [](cv::Point2d p) {
        const double limit = 1e9;
        return imaging::Point{int32_t(std::lround(std::clamp(p.x + 0.5, -limit, limit))),
                              int32_t(std::lround(std::clamp(p.y + 0.5, -limit, limit)))};
    };
    return warp::Corners{point(corners[0]), point(corners[1]), point(corners[2]), point(corners[3])};
}

} // namespace

std::optional<warp::Corners> FindPage(imaging::Bitmap& photo) {
    if (!photo.HasContent()) return std::nullopt;
    imaging::BitmapData data;
    if (photo.LockBits(nullptr, imaging::ImageLockModeRead, imaging::PixelFormat32bppARGB, &data) !=
        imaging::Ok)
        return std::nullopt;
    std::optional<warp::Corners> found;
    try {
        const cv::Mat pixels(int(data.Height), int(data.Width), CV_8UC4, data.Scan0, size_t(data.Stride));
        found = Find(pixels);
    } catch (const std::exception&) { // cv::Exception, std::bad_alloc: no page, the photo as it was
        found.reset();
    }
    photo.UnlockBits(&data);
    return found;
}

} // namespace pagefind
