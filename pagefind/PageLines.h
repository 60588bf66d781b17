#pragma once
// Internal to the page finder: the straight edges of a reduced photo, and how much of any
// stretch of each is backed by edge pixels running along it.

#include <opencv2/core.hpp>

#include <vector>

namespace pagefind {

// The edge pixels of a picture and the direction of each one's gradient (towards the brighter
// side), in steps of 2 degrees: 0 to 179.
struct EdgeMap {
    cv::Mat edges; // CV_8U, 255 on an edge
    cv::Mat angle; // CV_8U
};

// Edges of a CV_8UC3 YCrCb picture, in whichever channel changes most at each pixel (a page and
// its table may differ in colour only).
EdgeMap FindEdges(const cv::Mat& ycc);

// A straight line x cos(theta) + y sin(theta) = rho in the picture's pixels, and along it, the
// edge pixels that run along it (within a pixel, gradient within 20 degrees of its normal), one
// way and the other: the sides of a page are brighter on the same side all along, the lines
// of a chequered floor change sides at every tile.
class PageLine {
public:
    PageLine(double rho, double theta, const EdgeMap& map);
    double rho() const { return m_rho; }
    double theta() const { return m_theta; }
    cv::Point2d Normal() const { return {std::cos(m_theta), std::sin(m_theta)}; }
    cv::Point2d Direction() const { return {-std::sin(m_theta), std::cos(m_theta)}; }
    // Position of `p` along the line.
    double At(cv::Point2d p) const { return p.dot(Direction()); }
    // Of the stretch between positions a and b: the share inside the picture, and the share of
    // that part backed by edge pixels brighter on one side, the side where more are (0 where
    // none of it is inside).
    double InsideShare(double a, double b) const;
    double Support(double a, double b) const;

private:
    double m_rho, m_theta;
    double m_first = 0;           // position of m_backed[0]
    std::vector<int> m_backed[2]; // edge pixels backing positions before each whole position, each way
};

// The picture's (CV_8UC3 YCrCb) strongest straight edges, at most `count`: the lines of the
// segments a line segment detector finds in any channel, merged where they lie on one line,
// ranked by the square of the longest one's length and a quarter of the others' (long unbroken
// stretches first), at most two of each direction before the rest, each nudged onto its edges.
std::vector<PageLine> FindLines(const cv::Mat& ycc, const EdgeMap& map, int count);

// Of the lines within 2 pixels and 1 degree of `line`, the one with the most edge pixels backing
// it between positions `from` and `to` along `line` (all of what shows when they are equal).
PageLine Refined(const PageLine& line, const EdgeMap& map, double from = 0, double to = 0);

// Whether the line x cos(theta) + y sin(theta) = rho runs along the frame of a picture of
// `width` x `height`, about a hundredth of it in from one side at both ends: the dark border
// many cameras and scanners leave, not a page's side (a page filling the frame lies further in,
// or its side is cut off).
bool HugsTheFrame(double rho, double theta, int width, int height);

// Where two lines meet; false for lines that are (nearly) parallel.
bool Meet(const PageLine& a, const PageLine& b, cv::Point2d& at);

} // namespace pagefind
