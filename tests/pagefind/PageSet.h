#pragma once
// Photos of pages made here, with the truth known: flat pages (text, a table, a printed photo,
// blank paper, a coloured card) seen through a range of cameras on a range of tables, under
// what real photos suffer.

#include "imaging/Bitmap.h"

#include <opencv2/core.hpp>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace pagefind_testing {

struct PagePhoto {
    std::string condition;              // what this photo is meant to try
    cv::Mat bgra;                       // CV_8UC4
    std::array<cv::Point2d, 4> corners; // the page's corners, pixel-boundary coordinates, outline order
};

// The conditions the set holds, each with `perCondition` photos of `width` x `height`.
std::vector<std::string> PageConditions();
PagePhoto MakePagePhoto(const std::string& condition, int index, int width, int height);
// How far `found` (outline order, either way round) lies from the photo's page: its farthest
// corner from the truth as a share of the photo's diagonal, in the best of the ways to say
// which corner comes first.
double CornerError(const PagePhoto& photo, std::array<cv::Point2d, 4> found);

// The photo as the program holds an opened one: a 32bppARGB bitmap.
std::unique_ptr<imaging::Bitmap> ToBitmap(const PagePhoto& photo);

} // namespace pagefind_testing
