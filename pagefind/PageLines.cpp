#include "PageLines.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace pagefind {

EdgeMap FindEdges(const cv::Mat& ycc) {
    cv::Mat smooth;
    cv::GaussianBlur(ycc, smooth, cv::Size(5, 5), 1.2);
    std::vector<cv::Mat> channels;
    cv::split(smooth, channels);
    cv::Mat dx(ycc.size(), CV_16S), dy(ycc.size(), CV_16S);
    std::vector<cv::Mat> gx(3), gy(3);
    for (int c = 0; c < 3; ++c) {
        cv::Sobel(channels[size_t(c)], gx[size_t(c)], CV_16S, 1, 0, 3);
        cv::Sobel(channels[size_t(c)], gy[size_t(c)], CV_16S, 0, 1, 3);
    }
    // The colour differences are weighed double: their steps are smaller than the luma's.
    for (int y = 0; y < ycc.rows; ++y) {
        int16_t* ox = dx.ptr<int16_t>(y);
        int16_t* oy = dy.ptr<int16_t>(y);
        const int16_t* ix[3] = {gx[0].ptr<int16_t>(y), gx[1].ptr<int16_t>(y), gx[2].ptr<int16_t>(y)};
        const int16_t* iy[3] = {gy[0].ptr<int16_t>(y), gy[1].ptr<int16_t>(y), gy[2].ptr<int16_t>(y)};
        for (int x = 0; x < ycc.cols; ++x) {
            int best = 0, bestX = 0, bestY = 0;
            for (int c = 0; c < 3; ++c) {
                const int w = c == 0 ? 1 : 2, vx = ix[c][x] * w, vy = iy[c][x] * w;
                const int m = vx * vx + vy * vy;
                if (m > best) best = m, bestX = vx, bestY = vy;
            }
            // Which way is brighter decides the sign, where brightness changes at all: a page's
            // side on a chequered cloth is lighter all along, while its colour changes with the tiles.
            const int lx = ix[0][x], ly = iy[0][x];
            if (lx * lx + ly * ly > best / 25 && lx * bestX + ly * bestY < 0) bestX = -bestX, bestY = -bestY;
            ox[x] = int16_t(std::clamp(bestX, -32767, 32767));
            oy[x] = int16_t(std::clamp(bestY, -32767, 32767));
        }
    }
    EdgeMap map;
    cv::Canny(dx, dy, map.edges, 25, 60, true);
    map.angle = cv::Mat(ycc.size(), CV_8U, cv::Scalar(0));
    for (int y = 0; y < ycc.rows; ++y) {
        const uint8_t* e = map.edges.ptr<uint8_t>(y);
        const int16_t* vx = dx.ptr<int16_t>(y);
        const int16_t* vy = dy.ptr<int16_t>(y);
        uint8_t* a = map.angle.ptr<uint8_t>(y);
        for (int x = 0; x < ycc.cols; ++x) {
            if (!e[x]) continue;
            double degrees = std::atan2(double(vy[x]), double(vx[x])) * 180 / CV_PI;
            if (degrees < 0) degrees += 360;
            a[x] = uint8_t(int(std::lround(degrees / 2)) % 180);
        }
    }
    return map;
}

PageLine::PageLine(double rho, double theta, const EdgeMap& map) : m_rho(rho), m_theta(theta) {
    const cv::Point2d n = Normal(), d = Direction(), base = n * rho;
    const int normal = int(std::lround(theta * 90 / CV_PI)) % 180; // in steps of 2 degrees
    // The positions where the line is inside the picture.
    double low = -1e9, high = 1e9;
    auto clip = [&](double origin, double step, double size) {
        if (std::abs(step) < 1e-12) {
            if (origin < 0 || origin > size - 1) low = 1, high = 0;
            return;
        }
        const double a = (0 - origin) / step, b = (size - 1 - origin) / step;
        low = std::max(low, std::min(a, b)), high = std::min(high, std::max(a, b));
    };
    clip(base.x, d.x, map.edges.cols);
    clip(base.y, d.y, map.edges.rows);
    if (low > high) return;
    m_first = std::ceil(low);
    const int count = int(std::floor(high) - m_first) + 1;
    for (std::vector<int>& backed : m_backed) backed.assign(size_t(count) + 1, 0);
    for (int i = 0; i < count; ++i) {
        const cv::Point2d p = base + d * (m_first + i);
        bool way[2] = {false, false};
        for (int o = -1; o <= 1; ++o) {
            const int x = int(std::lround(p.x + o * n.x)), y = int(std::lround(p.y + o * n.y));
            if (x < 0 || y < 0 || x >= map.edges.cols || y >= map.edges.rows || !map.edges.at<uint8_t>(y, x))
                continue;
            const int off = (map.angle.at<uint8_t>(y, x) - normal + 360) % 180; // 0 along n, 90 against it
            way[0] = way[0] || std::min(off, 180 - off) <= 10;
            way[1] = way[1] || std::abs(off - 90) <= 10;
        }
        for (int w = 0; w < 2; ++w) m_backed[w][size_t(i) + 1] = m_backed[w][size_t(i)] + way[w];
    }
}

double PageLine::InsideShare(double a, double b) const {
    if (a > b) std::swap(a, b);
    if (m_backed[0].empty() || b - a < 1) return 0;
    const double last = m_first + double(m_backed[0].size()) - 2;
    return std::max(0.0, std::min(b, last) - std::max(a, m_first)) / (b - a);
}

double PageLine::Support(double a, double b) const {
    if (a > b) std::swap(a, b);
    if (m_backed[0].empty()) return 0;
    const int n = int(m_backed[0].size()) - 1;
    const int i = std::clamp(int(std::ceil(a - m_first)), 0, n),
              j = std::clamp(int(std::floor(b - m_first)) + 1, 0, n);
    if (j <= i) return 0;
    const int most = std::max(m_backed[0][size_t(j)] - m_backed[0][size_t(i)],
                              m_backed[1][size_t(j)] - m_backed[1][size_t(i)]);
    return double(most) / (j - i);
}

namespace {

// Whether two lines are within 2 degrees and 3 pixels of each other.
bool Alike(double rho1, double theta1, double rho2, double theta2) {
    double dt = std::abs(theta1 - theta2), dr = std::abs(rho1 - rho2);
    if (dt > CV_PI / 2) dt = CV_PI - dt, dr = std::abs(rho1 + rho2); // the same line, turned
    return dt < 2 * CV_PI / 180 && dr < 3;
}

} // namespace

bool HugsTheFrame(double rho, double theta, int width, int height) {
    const double band = std::max(2.0, 0.02 * std::min(width, height));
    const double c = std::cos(theta), s = std::sin(theta);
    // Whether the line's ends, at 0 and size - 1 along the frame's side, are both near one side.
    auto ends = [&](double size, double across, double at0, double step) {
        const double a = at0, b = at0 + step * (size - 1);
        return std::max(a, b) < band || std::min(a, b) > across - 1 - band;
    };
    if (std::abs(s) > 0.99) return ends(width, height, rho / s, -c / s); // y at x = 0 and on
    if (std::abs(c) > 0.99) return ends(height, width, rho / c, -s / c); // x at y = 0 and on
    return false;
}

std::vector<PageLine> FindLines(const cv::Mat& ycc, const EdgeMap& map, int count) {
    // Segments on one line: the line first met, then the one fitting them all (moments of
    // their points weighed by length), and their weight.
    struct Merged {
        double rho, theta, weight, longest;
        double w = 0, x = 0, y = 0, xx = 0, xy = 0, yy = 0;
        void Add(cv::Point2d a, cv::Point2d b, double length) {
            for (const cv::Point2d p : {a, (a + b) * 0.5, b}) {
                w += length, x += length * p.x, y += length * p.y;
                xx += length * p.x * p.x, xy += length * p.x * p.y, yy += length * p.y * p.y;
            }
        }
        void Fit() {
            const double mx = x / w, my = y / w;
            const double cxx = xx / w - mx * mx, cxy = xy / w - mx * my, cyy = yy / w - my * my;
            // The normal is the direction of least spread.
            double t = 0.5 * std::atan2(2 * cxy, cxx - cyy) + CV_PI / 2;
            if (t < 0) t += CV_PI;
            if (t >= CV_PI) t -= CV_PI;
            theta = t, rho = mx * std::cos(t) + my * std::sin(t);
        }
    };
    std::vector<cv::Mat> channels;
    cv::split(ycc, channels);
    const cv::Ptr<cv::LineSegmentDetector> detector = cv::createLineSegmentDetector();
    const double shortest = 0.03 * std::min(ycc.cols, ycc.rows);
    std::vector<Merged> merged;
    for (const cv::Mat& channel : channels) {
        std::vector<cv::Vec4f> segments;
        detector->detect(channel, segments);
        for (const cv::Vec4f& s : segments) {
            const cv::Point2d a(s[0], s[1]), b(s[2], s[3]);
            const double length = std::hypot((b - a).x, (b - a).y);
            if (length < shortest) continue;
            double theta = std::atan2((b - a).x, -(b - a).y); // of the normal, within a half turn
            if (theta < 0) theta += CV_PI;
            if (theta >= CV_PI) theta -= CV_PI;
            const double rho = a.x * std::cos(theta) + a.y * std::sin(theta);
            const auto found = std::find_if(merged.begin(), merged.end(), [&](const Merged& m) {
                return Alike(m.rho, m.theta, rho, theta);
            });
            if (found != merged.end()) {
                found->weight += length * length;
                found->longest = std::max(found->longest, length);
                found->Add(a, b, length);
            } else {
                merged.push_back({rho, theta, length * length, length});
                merged.back().Add(a, b, length);
            }
        }
    }
    // Long unbroken stretches first: a page's sides are, the grain of wood or a row of text is not.
    for (Merged& m : merged)
        m.Fit(), m.weight = m.longest * m.longest + 0.25 * (m.weight - m.longest * m.longest);
    std::erase_if(merged, [&](const Merged& m) { return HugsTheFrame(m.rho, m.theta, ycc.cols, ycc.rows); });
    std::sort(merged.begin(), merged.end(),
              [](const Merged& a, const Merged& b) { return a.weight > b.weight; });
    // The two strongest of every direction (in steps of 5 degrees) first, so that the grain of a
    // table or the lines of a text cannot crowd out a side of another direction; then the rest.
    std::vector<bool> taken(merged.size(), false);
    int perDirection[36] = {};
    std::vector<PageLine> lines;
    auto known = [&](const Merged& m) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const PageLine& l) { return Alike(l.rho(), l.theta(), m.rho, m.theta); });
    };
    for (size_t i = 0; i < merged.size() && int(lines.size()) < count; ++i) {
        int& n = perDirection[std::min(35, int(merged[i].theta * 36 / CV_PI))];
        if (n == 2 || known(merged[i])) continue;
        ++n;
        taken[i] = true;
        lines.push_back(Refined(PageLine(merged[i].rho, merged[i].theta, map), map));
    }
    for (size_t i = 0; i < merged.size() && int(lines.size()) < count; ++i)
        if (!taken[i] && !known(merged[i]))
            lines.push_back(Refined(PageLine(merged[i].rho, merged[i].theta, map), map));
    return lines;
}

PageLine Refined(const PageLine& line, const EdgeMap& map, double from, double to) {
    // Turned about the middle of the stretch, or of what shows.
    if (from == to) from = -1e9, to = 1e9;
    const cv::Point2d base = line.Normal() * line.rho();
    const double middle = line.InsideShare(from, to) > 0 ? (std::max(from, -1e6) + std::min(to, 1e6)) / 2 : 0;
    cv::Point2d pivot = base + line.Direction() * middle;
    if (std::abs(middle) > 1e5) pivot = base;
    PageLine best = line;
    double most = -1;
    for (double dt = -1; dt <= 1; dt += 0.5)
        for (double dr = -2; dr <= 2; dr += 1) {
            double theta = line.theta() + dt * CV_PI / 180;
            const cv::Point2d n(std::cos(theta), std::sin(theta));
            double rho = pivot.dot(n) + dr;
            if (theta < 0) theta += CV_PI, rho = -rho;
            if (theta >= CV_PI) theta -= CV_PI, rho = -rho;
            PageLine candidate(rho, theta, map);
            const cv::Point2d a = base + line.Direction() * std::max(from, -1e6),
                              b = base + line.Direction() * std::min(to, 1e6);
            const double ca = candidate.At(a), cb = candidate.At(b);
            const double backed = candidate.Support(ca, cb) * candidate.InsideShare(ca, cb);
            if (backed > most) most = backed, best = candidate;
        }
    return best;
}

bool Meet(const PageLine& a, const PageLine& b, cv::Point2d& at) {
    const double det = std::cos(a.theta()) * std::sin(b.theta()) - std::sin(a.theta()) * std::cos(b.theta());
    if (std::abs(det) < 1e-6) return false;
    at.x = (a.rho() * std::sin(b.theta()) - b.rho() * std::sin(a.theta())) / det;
    at.y = (b.rho() * std::cos(a.theta()) - a.rho() * std::cos(b.theta())) / det;
    return true;
}

} // namespace pagefind
