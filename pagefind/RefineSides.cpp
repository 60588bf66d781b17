#include "RefineSides.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <optional>
#include <vector>

namespace pagefind {

namespace {

// Brightness at (x, y), blended from the four nearest pixels; nothing outside the photo.
std::optional<double> Brightness(const cv::Mat& photo, cv::Point2d p) {
    const int x = int(std::floor(p.x)), y = int(std::floor(p.y));
    if (x < 0 || y < 0 || x + 1 >= photo.cols || y + 1 >= photo.rows) return std::nullopt;
    const double fx = p.x - x, fy = p.y - y;
    auto at = [&](int u, int v) {
        const cv::Vec4b& b = photo.at<cv::Vec4b>(v, u);
        return 0.114 * b[0] + 0.587 * b[1] + 0.299 * b[2];
    };
    return (at(x, y) * (1 - fx) + at(x + 1, y) * fx) * (1 - fy) +
           (at(x, y + 1) * (1 - fx) + at(x + 1, y + 1) * fx) * fy;
}

// The line (point and direction) through the strongest changes across the side from a to b.
std::optional<cv::Vec4f> FitSide(const cv::Mat& photo, cv::Point2d a, cv::Point2d b, double reach) {
    const cv::Point2d d = (b - a) * (1 / std::hypot((b - a).x, (b - a).y)), n(-d.y, d.x);
    const int steps = int(std::ceil(reach));
    std::vector<cv::Point2f> points;
    std::vector<double> profile(size_t(2 * steps + 1));
    for (int k = 1; k < 48; ++k) {
        const double t = 0.06 + 0.88 * k / 48;
        const cv::Point2d p = a + (b - a) * t;
        bool inside = true;
        for (int s = -steps; s <= steps && inside; ++s) {
            double sum = 0;
            for (double along : {-1.5, 0.0, 1.5}) {
                const std::optional<double> v = Brightness(photo, p + n * s + d * along);
                if (!v) inside = false;
                sum += v.value_or(0);
            }
            profile[size_t(s + steps)] = sum / 3;
        }
        if (!inside) continue;
        auto change = [&](int s) { return std::abs(profile[size_t(s + 1)] - profile[size_t(s - 1)]); };
        int best = 0;
        for (int s = 1; s + 1 < int(profile.size()); ++s)
            if (best == 0 || change(s) > change(best)) best = s;
        if (change(best) < 8) continue;
        // Between whole steps, at the top of the parabola through the changes there.
        double shift = 0;
        if (best > 1 && best + 2 < int(profile.size())) {
            const double l = change(best - 1), m = change(best), r = change(best + 1), curve = l - 2 * m + r;
            if (curve < 0) shift = std::clamp(0.5 * (l - r) / curve, -0.5, 0.5);
        }
        points.emplace_back(p + n * (best - steps + shift));
    }
    if (points.size() < 8) return std::nullopt;
    cv::Vec4f line;
    cv::fitLine(points, line, cv::DIST_HUBER, 0, 0.01, 0.01);
    return line;
}

bool Meet(const cv::Vec4f& a, const cv::Vec4f& b, cv::Point2d& at) {
    const cv::Point2d da(a[0], a[1]), db(b[0], b[1]), pa(a[2], a[3]), pb(b[2], b[3]);
    const double det = da.x * db.y - da.y * db.x;
    if (std::abs(det) < 1e-3) return false;
    const cv::Point2d w = pb - pa;
    const double t = (w.x * db.y - w.y * db.x) / det;
    at = pa + da * t;
    return true;
}

} // namespace

std::array<cv::Point2d, 4> RefineSides(const cv::Mat& photo, std::array<cv::Point2d, 4> corners,
                                       double reach) {
    std::array<std::optional<cv::Vec4f>, 4> sides;
    for (int i = 0; i < 4; ++i)
        sides[size_t(i)] = FitSide(photo, corners[size_t(i)], corners[size_t((i + 1) % 4)], reach);
    std::array<cv::Point2d, 4> refined = corners;
    for (int i = 0; i < 4; ++i) {
        const auto& before = sides[size_t((i + 3) % 4)];
        const auto& after = sides[size_t(i)];
        cv::Point2d at;
        if (before && after && Meet(*before, *after, at) &&
            std::hypot((at - corners[size_t(i)]).x, (at - corners[size_t(i)]).y) <= 2 * reach)
            refined[size_t(i)] = at;
    }
    return refined;
}

} // namespace pagefind
