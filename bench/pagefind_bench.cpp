// The page finder: its time on a 12-megapixel photo beside the recipe a user of OpenCV would
// write (edges, outlines, the largest four-cornered one), and, with --compare N, its hit rate on
// the made photos (N a condition) beside that recipe's, in the same run. With --photos DIR the
// same on real photos whose corners were marked by hand: DIR/corners.txt, a line "FILE X0,Y0
// X1,Y1 X2,Y2 X3,Y3" (outline order from the top-left, pixel-boundary coordinates) each.

#include "files/ImageFiles.h"
#include "imaging/Bitmap.h"
#include "pagefind/FindPage.h"
#include "pagefind/PageSet.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include <unistd.h>

namespace {

using namespace imaging;
using pagefind_testing::MakePagePhoto;
using pagefind_testing::PagePhoto;

// The usual recipe: grey, blurred, Canny, closed, outlines, the largest convex one that
// approxPolyDP makes four-cornered (corners in pixel-boundary terms, like the finder's).
std::optional<std::array<cv::Point2d, 4>> Recipe(const cv::Mat& bgra) {
    const double scale = std::max(1.0, std::max(bgra.cols, bgra.rows) / 640.0);
    cv::Mat small, grey, edges;
    cv::resize(bgra, small, cv::Size(int(bgra.cols / scale), int(bgra.rows / scale)), 0, 0, cv::INTER_AREA);
    cv::cvtColor(small, grey, cv::COLOR_BGRA2GRAY);
    cv::GaussianBlur(grey, grey, cv::Size(5, 5), 0);
    cv::Canny(grey, edges, 75, 200);
    cv::dilate(edges, edges, cv::Mat());
    std::vector<std::vector<cv::Point>> outlines;
    cv::findContours(edges, outlines, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
    std::optional<std::array<cv::Point2d, 4>> best;
    double largest = 0.05 * small.total();
    for (const auto& outline : outlines) {
        std::vector<cv::Point> corners;
        cv::approxPolyDP(outline, corners, 0.02 * cv::arcLength(outline, true), true);
        const double area = std::abs(cv::contourArea(corners));
        if (corners.size() != 4 || !cv::isContourConvex(corners) || area <= largest) continue;
        largest = area;
        std::array<cv::Point2d, 4> q;
        for (int i = 0; i < 4; ++i)
            q[size_t(i)] = (cv::Point2d(corners[size_t(i)]) + cv::Point2d(0.5, 0.5)) * scale;
        best = q;
    }
    return best;
}

// Arg: which photo of the "plain table" and "wood" conditions (0 and 1); the recipe beside it
// in the same run, on the same photo.
PagePhoto Photo12Megapixels(const benchmark::State& state) {
    return MakePagePhoto(state.range(0) ? "wood" : "plain table", 3, 4000, 3000);
}
void BM_FindPage12Megapixels(benchmark::State& state) {
    auto bitmap = pagefind_testing::ToBitmap(Photo12Megapixels(state));
    for (auto _ : state) benchmark::DoNotOptimize(pagefind::FindPage(*bitmap));
}
void BM_Recipe12Megapixels(benchmark::State& state) {
    const PagePhoto photo = Photo12Megapixels(state);
    for (auto _ : state) benchmark::DoNotOptimize(Recipe(photo.bgra));
}
BENCHMARK(BM_FindPage12Megapixels)->Unit(benchmark::kMillisecond)->UseRealTime()->Arg(0)->Arg(1);
BENCHMARK(BM_Recipe12Megapixels)->Unit(benchmark::kMillisecond)->UseRealTime()->Arg(0)->Arg(1);

std::optional<std::array<cv::Point2d, 4>> Found(Bitmap& bitmap) {
    const auto c = pagefind::FindPage(bitmap);
    if (!c) return std::nullopt;
    return std::array<cv::Point2d, 4>{
        cv::Point2d(c->topLeft.X, c->topLeft.Y), cv::Point2d(c->topRight.X, c->topRight.Y),
        cv::Point2d(c->bottomRight.X, c->bottomRight.Y), cv::Point2d(c->bottomLeft.X, c->bottomLeft.Y)};
}

// The farthest corner from its mark, a share of the diagonal (the recipe's corners may start
// anywhere round the outline and run either way).
double MarkError(const std::array<cv::Point2d, 4>& found, const std::array<cv::Point2d, 4>& marked,
                 cv::Size size) {
    double best = 1e300;
    for (int way : {1, 3})
        for (int start = 0; start < 4; ++start) {
            double worst = 0;
            for (int i = 0; i < 4; ++i) {
                const cv::Point2d d = found[size_t((start + way * i) % 4)] - marked[size_t(i)];
                worst = std::max(worst, std::hypot(d.x, d.y));
            }
            best = std::min(best, worst);
        }
    return best / std::hypot(size.width, size.height);
}

int RealPhotos(const std::string& folder) {
    std::ifstream list(folder + "/corners.txt");
    std::string name;
    int count = 0, right[2] = {}, none[2] = {}, wrong[2] = {};
    std::printf("%-12s %-24s %s\n", "photo", "Verlume: error", "OpenCV recipe: error");
    while (list >> name) {
        std::array<cv::Point2d, 4> marked;
        char comma;
        for (cv::Point2d& p : marked) list >> p.x >> comma >> p.y;
        auto bitmap = Bitmap::FromFile(folder + "/" + name);
        if (!list || !bitmap) return std::fprintf(stderr, "cannot read %s\n", name.c_str()), 1;
        BitmapData data;
        bitmap->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &data);
        const cv::Mat bgra =
            cv::Mat(int(data.Height), int(data.Width), CV_8UC4, data.Scan0, size_t(data.Stride)).clone();
        bitmap->UnlockBits(&data);
        std::string errors[2];
        for (int who = 0; who < 2; ++who) {
            const auto found = who == 0 ? Found(*bitmap) : Recipe(bgra);
            if (!found) {
                ++none[who], errors[who] = "none";
                continue;
            }
            const double e = MarkError(*found, marked, bgra.size());
            right[who] += e <= 0.01, wrong[who] += e > 0.05;
            char text[32];
            std::snprintf(text, sizeof text, "%.2f %%", 100 * e);
            errors[who] = text;
        }
        std::printf("%-12s %-24s %s\n", name.c_str(), errors[0].c_str(), errors[1].c_str());
        ++count;
    }
    for (int who = 0; who < 2; ++who)
        std::printf("%s: %d of %d right, %d none, %d wrong\n", who ? "OpenCV recipe" : "Verlume", right[who],
                    count, none[who], wrong[who]);
    return count ? 0 : 1;
}

int Compare(int perCondition) {
    struct Tally {
        int right = 0, none = 0, wrong = 0;
        double ms = 0;
    };
    std::map<std::string, std::array<Tally, 2>> tallies;
    std::array<Tally, 2> all{};
    double slowest = 0;
    for (const std::string& condition : pagefind_testing::PageConditions())
        for (int i = 0; i < perCondition; ++i) {
            PagePhoto photo = MakePagePhoto(condition, i, 1200, 900);
            auto bitmap = pagefind_testing::ToBitmap(photo);
            if (condition == "jpeg") { // through a JPEG file as the test does, for both
                imaging::SaveOptions options;
                options.jpegQuality = 60 + 3 * (i % 10);
                char path[] = "/tmp/pagefind-bench-XXXXXX.jpg";
                const int fd = mkstemps(path, 4);
                if (fd < 0 || files::SaveImageByName(*bitmap, path, options).code != imaging::Ok) return 1;
                close(fd);
                bitmap = Bitmap::FromFile(path);
                std::remove(path);
                if (!bitmap) return 1;
                BitmapData data;
                bitmap->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &data);
                for (int y = 0; y < photo.bgra.rows; ++y)
                    std::memcpy(photo.bgra.ptr(y),
                                static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride,
                                4 * size_t(photo.bgra.cols));
                bitmap->UnlockBits(&data);
            }
            for (int who = 0; who < 2; ++who) {
                const auto start = std::chrono::steady_clock::now();
                std::optional<std::array<cv::Point2d, 4>> found;
                found = who == 0 ? Found(*bitmap) : Recipe(photo.bgra);
                const double ms =
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                        .count();
                if (who == 0) slowest = std::max(slowest, ms);
                for (Tally* t : {&tallies[condition][size_t(who)], &all[size_t(who)]}) {
                    t->ms += ms;
                    if (!found)
                        ++t->none;
                    else if (const double e = pagefind_testing::CornerError(photo, *found); e <= 0.01)
                        ++t->right;
                    else if (e > 0.05)
                        ++t->wrong;
                }
            }
        }
    std::printf("%-22s %-26s %s\n", "condition", "Verlume: right none wrong",
                "OpenCV recipe: right none wrong");
    for (const auto& [condition, t] : tallies)
        std::printf("%-22s %5d %4d %5d %20d %4d %5d\n", condition.c_str(), t[0].right, t[0].none, t[0].wrong,
                    t[1].right, t[1].none, t[1].wrong);
    const int n = perCondition * int(tallies.size());
    for (int who = 0; who < 2; ++who)
        std::printf("%s: %d of %d right (%.1f %%), %d wrong, %.1f ms a photo\n",
                    who ? "OpenCV recipe" : "Verlume", all[size_t(who)].right, n,
                    100.0 * all[size_t(who)].right / n, all[size_t(who)].wrong, all[size_t(who)].ms / n);
    std::printf("Verlume's slowest: %.1f ms\n", slowest);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--compare") return Compare(std::max(1, std::atoi(argv[2])));
    if (argc == 3 && std::string(argv[1]) == "--photos") return RealPhotos(argv[2]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
