#include "PageSet.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace pagefind_testing {

namespace {

using Rng = std::mt19937;

double Uniform(Rng& rng, double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(rng);
}

// A smooth random field in [0, 1], `cells` blobs across.
cv::Mat Smooth(Rng& rng, cv::Size size, int cells) {
    cv::Mat small(cells, cells, CV_32F);
    for (int y = 0; y < cells; ++y)
        for (int x = 0; x < cells; ++x) small.at<float>(y, x) = float(Uniform(rng, 0, 1));
    cv::Mat field;
    cv::resize(small, field, size, 0, 0, cv::INTER_CUBIC);
    return field;
}

cv::Mat Page(const std::string& kind, Rng& rng, cv::Size size) {
    const double paper = Uniform(rng, 225, 250);
    cv::Mat page(size, CV_8UC3, cv::Scalar(paper - Uniform(rng, 0, 12), paper - Uniform(rng, 0, 6), paper));
    if (kind == "text" || kind == "table") {
        const int margin = size.width / 10, line = int(Uniform(rng, 18, 28));
        for (int y = margin; y + 10 < size.height - margin; y += line) {
            for (int x = margin; x < size.width - margin;) {
                const int word = int(Uniform(rng, 12, 70));
                const double ink = Uniform(rng, 20, 70);
                cv::rectangle(page, cv::Rect(x, y, std::min(word, size.width - margin - x), 9),
                              cv::Scalar(ink, ink, ink), cv::FILLED);
                x += word + int(Uniform(rng, 6, 12));
            }
            if (Uniform(rng, 0, 1) < 0.08) y += line; // a paragraph
        }
        if (kind == "table")
            for (int x = margin; x <= size.width - margin; x += (size.width - 2 * margin) / 4) {
                cv::line(page, {x, margin}, {x, size.height - margin}, cv::Scalar(40, 40, 40), 3);
                for (int y = margin; y <= size.height - margin; y += 3 * line)
                    cv::line(page, {margin, y}, {size.width - margin, y}, cv::Scalar(40, 40, 40), 2);
            }
    } else if (kind == "photo") {
        std::vector<cv::Mat> channels;
        for (int c = 0; c < 3; ++c) {
            cv::Mat f = Smooth(rng, size, 7);
            f.convertTo(f, CV_8U, 200, 30);
            channels.push_back(f);
        }
        cv::merge(channels, page);
    } else if (kind == "card") {
        cv::Mat hsv(1, 1, CV_8UC3,
                    cv::Scalar(Uniform(rng, 0, 180), Uniform(rng, 120, 230), Uniform(rng, 150, 240))),
            bgr;
        cv::cvtColor(hsv, bgr, cv::COLOR_HSV2BGR);
        page.setTo(bgr.at<cv::Vec3b>(0, 0));
    }
    return page;
}

cv::Mat Table(const std::string& kind, Rng& rng, cv::Size size) {
    cv::Mat table(size, CV_8UC3);
    const cv::Vec3d base(Uniform(rng, 40, 160), Uniform(rng, 50, 170), Uniform(rng, 60, 180));
    if (kind == "wood") {
        const cv::Mat waves = Smooth(rng, size, 5);
        const double period = Uniform(rng, 8, 20);
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x) {
                const double grain =
                    0.5 + 0.5 * std::sin((y + 40 * waves.at<float>(y, x)) * 2 * CV_PI / period);
                const double tone = 0.7 + 0.3 * grain;
                table.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar(40 * tone), uchar(80 * tone), uchar(130 * tone));
            }
    } else if (kind == "fabric") {
        const double f = Uniform(rng, 0.6, 1.2);
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x) {
                const double weave = 0.75 + 0.25 * std::sin(x * f) * std::sin(y * f);
                table.at<cv::Vec3b>(y, x) =
                    cv::Vec3b(uchar(base[0] * weave), uchar(base[1] * weave), uchar(base[2] * weave));
            }
    } else if (kind == "patterned") {
        const int tile = int(Uniform(rng, 25, 70));
        const cv::Vec3b other(uchar(255 - base[0]), uchar(200 - base[1] / 2), uchar(base[2] / 2));
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x)
                table.at<cv::Vec3b>(y, x) = ((x / tile + y / tile) % 2) ? other : cv::Vec3b(base);
    } else if (kind == "page-coloured") {
        const double tone = Uniform(rng, 185, 205);
        table.setTo(cv::Scalar(tone - 15, tone - 5, tone));
    } else {
        table.setTo(cv::Scalar(base));
    }
    return table;
}

bool Convex(const std::array<cv::Point2d, 4>& q) {
    int sign = 0;
    for (int i = 0; i < 4; ++i) {
        const cv::Point2d u = q[size_t((i + 1) % 4)] - q[size_t(i)],
                          v = q[size_t((i + 2) % 4)] - q[size_t((i + 1) % 4)];
        const double cross = u.x * v.y - u.y * v.x;
        const double sine = cross / (std::hypot(u.x, u.y) * std::hypot(v.x, v.y));
        if (std::abs(sine) < std::sin(50 * CV_PI / 180)) return false; // corners 50 to 130 degrees
        const int s = cross > 0 ? 1 : -1;
        if (sign != 0 && s != sign) return false;
        sign = s;
    }
    return true;
}

// Where the page's corners land: a turned, tilted rectangle covering about `cover` of the
// frame (less where it would not fit), every corner inside the frame by `margin` of its width.
std::array<cv::Point2d, 4> Camera(Rng& rng, cv::Size frame, cv::Size page, double cover, double turn,
                                  double tilt, double margin) {
    for (int attempt = 0;; ++attempt) {
        if (attempt % 20 == 19) cover *= 0.95;
        const double area = cover * frame.area(), aspect = double(page.width) / page.height;
        const double h = std::sqrt(area / aspect), w = h * aspect,
                     angle = Uniform(rng, -turn, turn) * CV_PI / 180;
        const cv::Point2d centre(frame.width / 2.0 + Uniform(rng, -0.1, 0.1) * frame.width,
                                 frame.height / 2.0 + Uniform(rng, -0.1, 0.1) * frame.height);
        std::array<cv::Point2d, 4> q;
        const cv::Point2d half[4] = {{-w / 2, -h / 2}, {w / 2, -h / 2}, {w / 2, h / 2}, {-w / 2, h / 2}};
        const double jitter = tilt * std::hypot(w, h);
        for (int i = 0; i < 4; ++i) {
            const cv::Point2d p = half[i];
            q[size_t(i)] = centre +
                           cv::Point2d(p.x * std::cos(angle) - p.y * std::sin(angle),
                                       p.x * std::sin(angle) + p.y * std::cos(angle)) +
                           cv::Point2d(Uniform(rng, -jitter, jitter), Uniform(rng, -jitter, jitter));
        }
        const double m = margin * frame.width;
        const bool inside = std::all_of(q.begin(), q.end(), [&](cv::Point2d p) {
            return p.x >= m && p.y >= m && p.x <= frame.width - m && p.y <= frame.height - m;
        });
        if (inside && Convex(q)) return q;
    }
}

} // namespace

std::vector<std::string> PageConditions() {
    // clang-format off
    return {"plain table", "wood", "fabric", "patterned", "page-coloured table", "uneven light", "shadow",
            "blur", "noise", "jpeg", "corner outside", "corner covered", "rounded corners", "fills the frame",
            "dark border"};
    // clang-format on
}

PagePhoto MakePagePhoto(const std::string& condition, int index, int width, int height) {
    uint32_t seed = 2166136261u; // FNV-1a of the condition's name, the same everywhere
    for (char c : condition) seed = (seed ^ uint8_t(c)) * 16777619u;
    Rng rng(seed + 7919u * uint32_t(index));
    static const char* kPages[] = {"text", "table", "photo", "blank", "card"};
    static const char* kTables[] = {"plain", "wood", "fabric", "patterned"};
    const std::string pageKind = kPages[index % 5];
    std::string tableKind = kTables[(index / 5 + index) % 4];
    if (condition == "plain table") tableKind = "plain";
    if (condition == "wood" || condition == "fabric" || condition == "patterned") tableKind = condition;
    if (condition == "page-coloured table") tableKind = "page-coloured";
    const cv::Size frame(width, height);
    const cv::Size pageSize = index % 3 == 0   ? cv::Size(1100, 850)
                              : index % 7 == 1 ? cv::Size(500, 1200)
                                               : cv::Size(850, 1100);
    cv::Mat page =
        Page(pageKind == "blank" && tableKind == "page-coloured" ? "text" : pageKind, rng, pageSize);
    const double cover = condition == "fills the frame" ? Uniform(rng, 0.85, 0.95) : Uniform(rng, 0.2, 0.55);
    const bool fills = condition == "fills the frame";
    std::array<cv::Point2d, 4> corners;
    for (;;) {
        corners =
            Camera(rng, frame, pageSize, cover, fills ? 3 : 30, fills ? 0.01 : 0.07, fills ? 0.01 : 0.03);
        if (condition != "corner outside") break;
        // The page moved so that one corner lies past the edge of the frame, the others inside.
        const int c = index % 4;
        const double by = Uniform(rng, 10, 80);
        cv::Point2d shift;
        if (index % 2) {
            shift.x = c == 1 || c == 2 ? width - corners[size_t(c)].x + by : -corners[size_t(c)].x - by;
        } else {
            shift.y = c >= 2 ? height - corners[size_t(c)].y + by : -corners[size_t(c)].y - by;
        }
        for (cv::Point2d& p : corners) p += shift;
        // The others inside, and most of each side seen: the corner is where the seen sides meet.
        auto inside = [&](cv::Point2d p) { return p.x >= 0 && p.y >= 0 && p.x <= width && p.y <= height; };
        bool seen = true;
        for (int k = 0; k < 4; ++k) {
            int shown = 0;
            for (int t = 0; t <= 20; ++t)
                shown += inside(corners[size_t(k)] +
                                (corners[size_t((k + 1) % 4)] - corners[size_t(k)]) * (t / 20.0));
            seen = seen && shown >= 12 && (k == c || inside(corners[size_t(k)]));
        }
        if (seen) break;
    }
    // The page's pixel edges, in pixel-centre coordinates, onto the corners (pixel boundaries).
    const cv::Point2f from[4] = {{-0.5f, -0.5f},
                                 {pageSize.width - 0.5f, -0.5f},
                                 {pageSize.width - 0.5f, pageSize.height - 0.5f},
                                 {-0.5f, pageSize.height - 0.5f}};
    cv::Point2f to[4];
    for (int i = 0; i < 4; ++i) to[i] = cv::Point2f(corners[size_t(i)] - cv::Point2d(0.5, 0.5));
    const cv::Mat h = cv::getPerspectiveTransform(from, to);
    cv::Mat mask(pageSize, CV_32F, cv::Scalar(1));
    if (condition == "rounded corners") {
        mask.setTo(0);
        const int r = int(Uniform(rng, 30, 70));
        cv::rectangle(mask, cv::Rect(r, 0, pageSize.width - 2 * r, pageSize.height), 1, cv::FILLED);
        cv::rectangle(mask, cv::Rect(0, r, pageSize.width, pageSize.height - 2 * r), 1, cv::FILLED);
        for (cv::Point c :
             {cv::Point(r, r), cv::Point(pageSize.width - r, r), cv::Point(r, pageSize.height - r),
              cv::Point(pageSize.width - r, pageSize.height - r)})
            cv::circle(mask, c, r, 1, cv::FILLED, cv::LINE_AA);
    }
    cv::Mat warpedPage, warpedMask;
    cv::warpPerspective(page, warpedPage, h, frame, cv::INTER_AREA);
    cv::warpPerspective(mask, warpedMask, h, frame, cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
    cv::Mat table = Table(tableKind, rng, frame), photo(frame, CV_32FC3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const float m = warpedMask.at<float>(y, x);
            const cv::Vec3b p = warpedPage.at<cv::Vec3b>(y, x), t = table.at<cv::Vec3b>(y, x);
            photo.at<cv::Vec3f>(y, x) = cv::Vec3f(p) * m + cv::Vec3f(t) * (1 - m);
        }
    if (condition == "corner covered") { // a thumb on one corner
        const cv::Point2d c = corners[size_t(index % 4)];
        const cv::Point2d inwards = (corners[size_t((index + 2) % 4)] - c) * 0.04;
        cv::ellipse(photo, cv::Point(c + inwards), cv::Size(int(0.05 * width), int(0.035 * width)),
                    Uniform(rng, 0, 180), 0, 360, cv::Scalar(110, 140, 200), cv::FILLED, cv::LINE_AA);
    }
    // Light from one side, always a little; strongly where that is the point.
    const double strength = condition == "uneven light" ? Uniform(rng, 0.35, 0.5) : Uniform(rng, 0, 0.12);
    const double direction = Uniform(rng, 0, 2 * CV_PI);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double t =
                ((x - width / 2.0) * std::cos(direction) + (y - height / 2.0) * std::sin(direction)) /
                std::hypot(width, height);
            photo.at<cv::Vec3f>(y, x) *= float(1 + 2 * strength * t);
        }
    if (condition == "shadow") { // a soft shadow over part of the page, its edge across it
        cv::Mat shade(frame, CV_32F, cv::Scalar(1));
        const cv::Point2d a = corners[size_t(index % 4)], b = corners[size_t((index + 1) % 4)];
        const cv::Point2d m = (a + b) * 0.5, far = m + (corners[size_t((index + 2) % 4)] - b) * 0.4;
        std::vector<cv::Point> area = {cv::Point(a * 1.3 - m * 0.3), cv::Point(b * 1.3 - m * 0.3),
                                       cv::Point(far + (b - a) * 0.8), cv::Point(far - (b - a) * 0.8)};
        cv::fillConvexPoly(shade, area, cv::Scalar(Uniform(rng, 0.45, 0.65)));
        cv::GaussianBlur(shade, shade, cv::Size(0, 0), 8);
        std::vector<cv::Mat> channels;
        cv::split(photo, channels);
        for (cv::Mat& c : channels) c = c.mul(shade);
        cv::merge(channels, photo);
    }
    if (condition == "blur") cv::GaussianBlur(photo, photo, cv::Size(0, 0), Uniform(rng, 1.5, 3.0));
    const double noise = condition == "noise" ? Uniform(rng, 8, 14) : 1.5;
    cv::Mat grain(frame, CV_32FC3);
    cv::RNG(rng()).fill(grain, cv::RNG::NORMAL, 0,
                        noise); // its own generator: the same photo whatever came before
    photo += grain;
    if (condition == "dark border") { // the black rows and columns a camera or scanner leaves
        const int band = int(Uniform(rng, 0.004, 0.011) * std::min(width, height)) + 1;
        for (const cv::Rect side : {cv::Rect(0, 0, width, band), cv::Rect(0, height - band, width, band),
                                    cv::Rect(0, 0, band, height), cv::Rect(width - band, 0, band, height)})
            photo(side).setTo(cv::Scalar(Uniform(rng, 0, 12), Uniform(rng, 0, 12), Uniform(rng, 0, 12)));
    }
    PagePhoto out;
    out.condition = condition;
    out.corners = corners;
    cv::Mat bgr;
    photo.convertTo(bgr, CV_8UC3);
    cv::cvtColor(bgr, out.bgra, cv::COLOR_BGR2BGRA);
    return out;
}

double CornerError(const PagePhoto& photo, std::array<cv::Point2d, 4> found) {
    // The truth runs clockwise on screen (y down); so must the answer.
    const cv::Point2d u = found[1] - found[0], v = found[2] - found[1];
    if (u.x * v.y - u.y * v.x < 0) std::reverse(found.begin(), found.end());
    double best = 1e9;
    for (int first = 0; first < 4; ++first) {
        double worst = 0;
        for (int i = 0; i < 4; ++i) {
            const cv::Point2d d = found[size_t(i)] - photo.corners[size_t((first + i) % 4)];
            worst = std::max(worst, std::hypot(d.x, d.y));
        }
        best = std::min(best, worst);
    }
    return best / std::hypot(photo.bgra.cols, photo.bgra.rows);
}

std::unique_ptr<imaging::Bitmap> ToBitmap(const PagePhoto& photo) {
    const cv::Mat& bgra = photo.bgra;
    auto bitmap = std::make_unique<imaging::Bitmap>(bgra.cols, bgra.rows, imaging::PixelFormat32bppARGB);
    imaging::BitmapData data;
    if (bitmap->LockBits(nullptr, imaging::ImageLockModeWrite, imaging::PixelFormat32bppARGB, &data) !=
        imaging::Ok)
        return nullptr;
    for (int y = 0; y < bgra.rows; ++y)
        std::memcpy(static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride, bgra.ptr(y),
                    4 * size_t(bgra.cols));
    bitmap->UnlockBits(&data);
    return bitmap;
}

} // namespace pagefind_testing
