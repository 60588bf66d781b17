#include "PageQuads.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <deque>

namespace pagefind {

namespace {

// How far apart two lines' directions are, 0 to 90 degrees.
double AngleBetween(const PageLine& a, const PageLine& b) {
    double d = std::abs(a.theta() - b.theta()) * 180 / CV_PI;
    return std::min(d, 180 - d);
}

double Cross(cv::Point2d a, cv::Point2d b) { return a.x * b.y - a.y * b.x; }

// A quadrilateral tried: its corners, the lines its sides lie on, and how page-like it is.
struct Candidate {
    std::array<cv::Point2d, 4> corners;
    std::array<const PageLine*, 4> sides{}; // side i runs from corner i to corner i + 1
    double support = 0, area = 0;
    double beyond = 0; // how far the sides' edges run on past the corners
};

// The share of the lines past the corners (a fifth of each side's length, what of it shows)
// that is backed by edges: a page's sides end at its corners, the lines of a tiled floor or of
// a table printed on the page run on.
double Beyond(const Candidate& k) {
    double backed = 0, inside = 0;
    for (int s = 0; s < 4; ++s) {
        const PageLine& line = *k.sides[size_t(s)];
        const double from = line.At(k.corners[size_t(s)]), to = line.At(k.corners[size_t((s + 1) % 4)]);
        const double reach = (to - from) / 5;
        for (const auto& [a, b] : {std::pair{from - reach, from}, std::pair{to, to + reach}}) {
            const double share = line.InsideShare(a, b) * std::abs(reach);
            backed += line.Support(a, b) * share;
            inside += share;
        }
    }
    return inside > 0 ? backed / inside : 0;
}

// Whether the corners make a convex quadrilateral, turning one way, with no corner sharper
// than 30 degrees or flatter than 150.
bool Convex(const std::array<cv::Point2d, 4>& q) {
    int sign = 0;
    for (int i = 0; i < 4; ++i) {
        const cv::Point2d a = q[size_t(i)], b = q[size_t((i + 1) % 4)], c = q[size_t((i + 2) % 4)];
        const cv::Point2d u = b - a, v = c - b;
        const double cross = Cross(u, v), lengths = std::hypot(u.x, u.y) * std::hypot(v.x, v.y);
        if (lengths < 1e-9) return false;
        const int s = cross > 0 ? 1 : -1;
        if (sign != 0 && s != sign) return false;
        sign = s;
        const double turn = std::asin(std::clamp(std::abs(cross) / lengths, 0.0, 1.0)) * 180 / CV_PI;
        const bool obtuseTurn = u.dot(v) < 0; // the corner sharper than 90 degrees
        const double inside = obtuseTurn ? turn : 180 - turn;
        if (inside < 30 || inside > 150) return false;
    }
    return true;
}

double Area(const std::array<cv::Point2d, 4>& q) {
    double sum = 0;
    for (int i = 0; i < 4; ++i) sum += Cross(q[size_t(i)], q[size_t((i + 1) % 4)]);
    return std::abs(sum) / 2;
}

// The median colour difference across the sides, a few pixels in and out.
double Contrast(const Candidate& c, const cv::Mat& ycc) {
    cv::Point2d centre(0, 0);
    for (const cv::Point2d& p : c.corners) centre += p * 0.25;
    std::vector<double> differences;
    const double offset = std::max(3.0, std::min(ycc.cols, ycc.rows) / 100.0);
    for (int i = 0; i < 4; ++i) {
        const cv::Point2d a = c.corners[size_t(i)], b = c.corners[size_t((i + 1) % 4)];
        cv::Point2d n(-(b - a).y, (b - a).x);
        n *= 1 / std::hypot(n.x, n.y);
        if ((centre - a).dot(n) < 0) n = -n; // inwards
        for (int k = 1; k < 16; ++k) {
            const cv::Point2d p = a + (b - a) * (k / 16.0);
            const cv::Point in = p + n * offset, out = p - n * offset;
            const cv::Rect all(0, 0, ycc.cols, ycc.rows);
            if (!all.contains(in) || !all.contains(out)) continue;
            const cv::Vec3b x = ycc.at<cv::Vec3b>(in), y = ycc.at<cv::Vec3b>(out);
            differences.push_back(
                std::hypot(double(x[0]) - y[0], 2.0 * (double(x[1]) - y[1]), 2.0 * (double(x[2]) - y[2])));
        }
    }
    if (differences.size() < 8) return 0;
    std::nth_element(differences.begin(), differences.begin() + differences.size() / 2, differences.end());
    return differences[differences.size() / 2];
}

// Corners reordered: the one nearest the top-left first, then clockwise on screen (y down).
std::array<cv::Point2d, 4> OutlineOrder(std::array<cv::Point2d, 4> q) {
    if (Cross(q[1] - q[0], q[2] - q[1]) < 0) std::reverse(q.begin(), q.end());
    const auto first = std::min_element(q.begin(), q.end(),
                                        [](cv::Point2d a, cv::Point2d b) { return a.x + a.y < b.x + b.y; });
    std::rotate(q.begin(), first, q.end());
    return q;
}

// Fills in what makes `k` page-like, from its corners and sides; false where it is not a
// quadrilateral a page could make here: not convex, small, its sides hardly seen or backed.
bool Measure(Candidate& k, double width, double height) {
    const double shortSide = std::min(width, height);
    const cv::Rect2d reach(-0.3 * width, -0.3 * height, 1.6 * width, 1.6 * height);
    if (!std::all_of(k.corners.begin(), k.corners.end(), [&](cv::Point2d x) { return reach.contains(x); }))
        return false;
    if (!Convex(k.corners)) return false;
    k.area = Area(k.corners) / (width * height);
    if (k.area < 0.08) return false;
    double backed = 0, inside = 0, weakest = 1;
    for (int s = 0; s < 4; ++s) {
        const PageLine& line = *k.sides[size_t(s)];
        const double from = line.At(k.corners[size_t(s)]), to = line.At(k.corners[size_t((s + 1) % 4)]);
        const double share = line.InsideShare(from, to), length = std::abs(to - from);
        if (share < 0.3 || length < 0.1 * shortSide) return false;
        const double support = line.Support(from, to);
        weakest = std::min(weakest, support);
        backed += support * share * length;
        inside += share * length;
    }
    k.support = backed / inside;
    if (weakest < 0.3 || k.support < 0.5) return false;
    k.beyond = Beyond(k);
    return true;
}

// Corners of `sides` in turn (side i from corner i to corner i + 1); false where two are parallel.
bool CornersOf(Candidate& k) {
    for (int i = 0; i < 4; ++i)
        if (!Meet(*k.sides[size_t((i + 3) % 4)], *k.sides[size_t(i)], k.corners[size_t(i)])) return false;
    return true;
}

// Quadrilaterals of four of `lines`: two pairs of like direction.
void FromLines(const std::vector<PageLine>& lines, double width, double height, std::vector<Candidate>& out) {
    const double shortSide = std::min(width, height);
    const cv::Rect2d reach(-0.3 * width, -0.3 * height, 1.6 * width, 1.6 * height);
    // Pairs of lines that may be opposite sides: of like direction, not meeting in the picture.
    std::vector<std::pair<int, int>> pairs;
    const cv::Point2d centre(width / 2, height / 2);
    for (int i = 0; i < int(lines.size()); ++i)
        for (int j = i + 1; j < int(lines.size()); ++j) {
            const PageLine &a = lines[size_t(i)], &b = lines[size_t(j)];
            if (AngleBetween(a, b) > 40) continue;
            cv::Point2d at;
            if (Meet(a, b, at) && reach.contains(at)) continue;
            const cv::Point2d nearest = centre - a.Normal() * (centre.dot(a.Normal()) - a.rho());
            if (std::abs(nearest.dot(b.Normal()) - b.rho()) < 0.1 * shortSide) continue;
            pairs.emplace_back(i, j);
        }
    for (size_t p = 0; p < pairs.size(); ++p)
        for (size_t q = p + 1; q < pairs.size(); ++q) {
            const PageLine &a = lines[size_t(pairs[p].first)], &b = lines[size_t(pairs[p].second)];
            const PageLine &c = lines[size_t(pairs[q].first)], &e = lines[size_t(pairs[q].second)];
            if (&a == &c || &a == &e || &b == &c || &b == &e) continue;
            if (std::min({AngleBetween(a, c), AngleBetween(a, e), AngleBetween(b, c), AngleBetween(b, e)}) <
                25)
                continue;
            Candidate k;
            k.sides = {&c, &b, &e, &a}; // corners a^c, c^b, b^e, e^a
            if (CornersOf(k) && Measure(k, width, height)) out.push_back(k);
        }
}

// Quadrilaterals of the outlines the edges close: the convex hull of each large one, cut down
// to four corners, its sides then laid on the edges near them. Kept in `sides`.
void FromOutlines(const EdgeMap& edges, std::deque<PageLine>& sides, std::vector<Candidate>& out) {
    const double width = edges.edges.cols, height = edges.edges.rows;
    cv::Mat closed;
    cv::dilate(edges.edges, closed, cv::Mat());
    std::vector<std::vector<cv::Point>> outlines;
    cv::findContours(closed, outlines, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
    for (const std::vector<cv::Point>& outline : outlines) {
        const cv::Rect box = cv::boundingRect(outline);
        if (double(box.area()) < 0.08 * width * height) continue;
        std::vector<cv::Point> hull, corners;
        cv::convexHull(outline, hull);
        const double perimeter = cv::arcLength(hull, true);
        for (double share : {0.02, 0.04, 0.08}) {
            cv::approxPolyDP(hull, corners, share * perimeter, true);
            if (corners.size() <= 4) break;
        }
        if (corners.size() != 4) continue;
        Candidate k;
        for (int i = 0; i < 4; ++i) {
            const cv::Point2d a = corners[size_t(i)], b = corners[size_t((i + 1) % 4)];
            double theta = std::atan2((b - a).x, -(b - a).y);
            if (theta < 0) theta += CV_PI;
            if (theta >= CV_PI) theta -= CV_PI;
            const double rho = a.x * std::cos(theta) + a.y * std::sin(theta);
            if (HugsTheFrame(rho, theta, int(width), int(height))) break;
            const PageLine rough(rho, theta, edges);
            sides.push_back(Refined(rough, edges, rough.At(a), rough.At(b)));
            k.sides[size_t(i)] = &sides.back();
        }
        if (k.sides[3] && CornersOf(k) && Measure(k, width, height)) out.push_back(k);
    }
}

} // namespace

std::optional<PageQuad> BestPageQuad(const std::vector<PageLine>& lines, const EdgeMap& edges,
                                     const cv::Mat& ycc) {
    std::vector<Candidate> candidates;
    FromLines(lines, ycc.cols, ycc.rows, candidates);
    std::deque<PageLine> outlineSides;
    FromOutlines(edges, outlineSides, candidates);
    // The most promising few are looked at more closely.
    auto promise = [](const Candidate& k) {
        return k.support * k.support * (1 - k.beyond) * (1 - k.beyond) * std::sqrt(k.area);
    };
    std::sort(candidates.begin(), candidates.end(),
              [&](const Candidate& x, const Candidate& y) { return promise(x) > promise(y); });
    std::vector<PageQuad> scored;
    for (size_t i = 0; i < std::min<size_t>(candidates.size(), 40); ++i) {
        const Candidate& k = candidates[i];
        const double contrast = Contrast(k, ycc);
        // A corner the frame cuts off is taken on trust: each costs a fifth of the score.
        double trust = 1;
        for (const cv::Point2d& c : k.corners)
            if (c.x < 0 || c.y < 0 || c.x > ycc.cols || c.y > ycc.rows) trust *= 0.8;
        if (contrast >= 8)
            scored.push_back({OutlineOrder(k.corners), promise(k) * std::min(1.0, contrast / 30) * trust});
    }
    if (scored.empty()) return std::nullopt;
    std::optional<PageQuad> best = *std::max_element(
        scored.begin(), scored.end(), [](const PageQuad& a, const PageQuad& b) { return a.score < b.score; });
    // What is printed on a page may outline a quadrilateral of its own (a table, a block of
    // text, a photo): a nearly as page-like one around the best is the page.
    auto around = [](const PageQuad& outer, const PageQuad& inner) {
        const std::vector<cv::Point2f> outline(outer.corners.begin(), outer.corners.end());
        return std::all_of(inner.corners.begin(), inner.corners.end(), [&](cv::Point2d p) {
            return cv::pointPolygonTest(outline, cv::Point2f(p), true) > 2;
        });
    };
    const double strongest = best->score;
    for (bool widened = true; widened;) { // outwards only, so it ends
        widened = false;
        for (const PageQuad& q : scored)
            if (q.score >= 0.6 * strongest && around(q, *best)) {
                best = q;
                widened = true;
                break;
            }
    }
    // Too weak to propose: of the made photos, the one answer below it was a wrong page.
    constexpr double kConvincing = 0.1;
    if (best && best->score < kConvincing) return std::nullopt;
    return best;
}

} // namespace pagefind
