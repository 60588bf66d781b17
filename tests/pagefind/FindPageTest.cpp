// The page finder on photos of pages made with the truth known (PageSet.h): how often every
// corner lands within 1 % of the photo's diagonal, per condition, and that no page it reports
// is far off (a wrong page is worse than none).

#include "PageSet.h"
#include "files/ImageFiles.h"
#include "pagefind/FindPage.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>

namespace {

using namespace imaging;
using namespace pagefind_testing;

// Ten photos a condition; VERLUME_PAGE_SET=N takes N (the figures in docs/page-finding.md are
// for 30).
TEST(FindPage, PhotosOfPagesWithTheTruthKnown) {
    constexpr int kWidth = 1200, kHeight = 900;
    const char* size = std::getenv("VERLUME_PAGE_SET");
    const int kPerCondition = size ? std::max(1, std::atoi(size)) : 10;
    testing_support::TempDir dir;
    struct Tally {
        int right = 0, none = 0, off = 0, wrong = 0;
    };
    std::map<std::string, Tally> tallies;
    int right = 0, all = 0, wrong = 0;
    double slowest = 0;
    std::string slowestCase;
    for (const std::string& condition : PageConditions())
        for (int i = 0; i < kPerCondition; ++i) {
            const PagePhoto photo = MakePagePhoto(condition, i, kWidth, kHeight);
            std::unique_ptr<Bitmap> bitmap = ToBitmap(photo);
            if (condition == "jpeg") {
                SaveOptions options;
                options.jpegQuality = 60 + 3 * (i % 10);
                const std::string path = dir.file("photo.jpg");
                ASSERT_EQ(Ok, files::SaveImageByName(*bitmap, path, options).code);
                bitmap = Bitmap::FromFile(path);
                ASSERT_TRUE(bitmap && bitmap->HasContent());
            }
            const auto start = std::chrono::steady_clock::now();
            const std::optional<warp::Corners> found = pagefind::FindPage(*bitmap);
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            if (ms > slowest) slowest = ms, slowestCase = condition + " " + std::to_string(i);
            Tally& t = tallies[condition];
            ++all;
            if (!found) {
                ++t.none;
                continue;
            }
            const auto at = [](imaging::Point p) { return cv::Point2d(p.X, p.Y); };
            const double error = CornerError(photo, {at(found->topLeft), at(found->topRight),
                                                     at(found->bottomRight), at(found->bottomLeft)});
            if (error <= 0.01) {
                ++t.right, ++right;
            } else if (error <= 0.05) {
                ++t.off;
            } else {
                ++t.wrong, ++wrong;
                ADD_FAILURE() << condition << " " << i << ": a page " << error * 100
                              << " % of the diagonal off";
            }
        }
    for (const auto& [condition, t] : tallies)
        std::printf("%-22s right %2d  none %2d  off (1-5 %%) %2d  wrong %2d\n", condition.c_str(), t.right,
                    t.none, t.off, t.wrong);
    std::printf("all: %d of %d right (%.1f %%), slowest %.1f ms (%s)\n", right, all, 100.0 * right / all,
                slowest, slowestCase.c_str());
    EXPECT_EQ(0, wrong);
    EXPECT_GE(right, all * 95 / 100);
}

} // namespace
