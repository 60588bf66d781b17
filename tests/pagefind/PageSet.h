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
// The photo as the program holds an opened one: a 32bppARGB bitmap.
std::unique_ptr<imaging::Bitmap> ToBitmap(const PagePhoto& photo);

} // namespace pagefind_testing
