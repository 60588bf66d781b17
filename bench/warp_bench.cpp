// The warp on a 12-megapixel photo: production against the plain oracle, in one run.
//
//   build/bench/warp_bench                     both
//   build/bench/warp_bench --benchmark_filter=Production
//   build/bench/warp_bench --benchmark_filter='Production/|OpenCV'   against OpenCV's warpPerspective

#include "oracle/ReferenceWarp.h"
#include "warp/WarpImageToQuad.h"

#include <benchmark/benchmark.h>
#ifdef VERLUME_BENCH_OPENCV
#include "warp/Homography.h"

#include <opencv2/imgproc.hpp>
#endif

#include <memory>
#include <random>

namespace {

using namespace imaging;

constexpr int32_t kWidth = 4000, kHeight = 3000;
constexpr Point kTL{200, 150}, kTR{3800, 450}, kBR{3700, 2850}, kBL{100, 2700};

// Vertical left and right edges: no column vanishing point, the edges' own slopes.
constexpr Point kVTL{200, 150}, kVTR{3800, 450}, kVBR{3800, 2850}, kVBL{200, 2700};
// Horizontal top and bottom edges, the top one on the first row: no row vanishing point.
constexpr Point kHTL{200, 0}, kHTR{3800, 0}, kHBR{3700, 2850}, kHBL{100, 2850};

std::unique_ptr<Bitmap> RandomSource(PixelFormat format) {
    auto bitmap = std::make_unique<Bitmap>(kWidth, kHeight, format);
    BitmapData data;
    bitmap->LockBits(nullptr, ImageLockModeWrite, format, &data);
    std::mt19937 rng(1);
    const int32_t rowBytes = kWidth * GetPixelFormatSize(format) / 8;
    for (int32_t y = 0; y < kHeight; ++y) {
        auto* row = static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
        for (int32_t i = 0; i < rowBytes; i += 4) {
            const uint32_t r = rng();
            for (int k = 0; k < 4 && i + k < rowBytes; ++k) row[i + k] = uint8_t(r >> (8 * k));
        }
    }
    bitmap->UnlockBits(&data);
    return bitmap;
}

Bitmap& Source24() {
    static std::unique_ptr<Bitmap> source = RandomSource(PixelFormat24bppRGB);
    return *source;
}

Bitmap& Source32() {
    static std::unique_ptr<Bitmap> source = RandomSource(PixelFormat32bppARGB);
    return *source;
}

template <class Warp>
void RunWarp(benchmark::State& state, Bitmap& source, Warp warp) {
    for (auto _ : state) {
        state.PauseTiming();
        Bitmap destination(kWidth, kHeight, PixelFormat32bppARGB);
        state.ResumeTiming();
        warp(&source, &destination);
        benchmark::DoNotOptimize(destination.GetWidth());
    }
    // Time per pixel of the image (the scanned box is 3800 x 2850 of its 4000 x 3000).
    state.counters["per_pixel"] =
        benchmark::Counter(double(kWidth) * kHeight,
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

auto Production(Point tl, Point tr, Point bl, Point br) {
    return [=](Bitmap* s, Bitmap* d) { warp::WarpImageToQuad(s, d, tl, tr, bl, br); };
}
auto Oracle(Point tl, Point tr, Point bl, Point br) {
    return [=](Bitmap* s, Bitmap* d) { oracle::ReferenceWarpImageToQuad(s, d, tl, tr, bl, br, 2); };
}

void BM_WarpProduction(benchmark::State& state) {
    RunWarp(state, Source24(), Production(kTL, kTR, kBL, kBR));
}
void BM_WarpOracle(benchmark::State& state) { RunWarp(state, Source24(), Oracle(kTL, kTR, kBL, kBR)); }
void BM_WarpProduction32(benchmark::State& state) {
    RunWarp(state, Source32(), Production(kTL, kTR, kBL, kBR));
}
void BM_WarpOracle32(benchmark::State& state) { RunWarp(state, Source32(), Oracle(kTL, kTR, kBL, kBR)); }
void BM_WarpProductionVertical(benchmark::State& state) {
    RunWarp(state, Source24(), Production(kVTL, kVTR, kVBL, kVBR));
}
void BM_WarpProductionHorizontal(benchmark::State& state) {
    RunWarp(state, Source24(), Production(kHTL, kHTR, kHBL, kHBR));
}
void BM_WarpOracleVertical(benchmark::State& state) {
    RunWarp(state, Source24(), Oracle(kVTL, kVTR, kVBL, kVBR));
}

#ifdef VERLUME_BENCH_OPENCV
// The peer a user would script instead: OpenCV's warpPerspective (bilinear, its own threads)
// placing the same photo, converted to BGRA as one must for a transparent border, on the same
// corners, into a fresh destination each time as the warp above gets.
void BM_WarpOpenCV(benchmark::State& state) {
    BitmapData in;
    Source24().LockBits(nullptr, ImageLockModeRead, PixelFormat24bppRGB, &in);
    cv::Mat bgra;
    cv::cvtColor(cv::Mat(kHeight, kWidth, CV_8UC3, in.Scan0, size_t(in.Stride)), bgra, cv::COLOR_BGR2BGRA);
    Source24().UnlockBits(&in);
    const warp::Homography h =
        *warp::RectToQuad(kWidth, kHeight, {{kTL.X, kTL.Y}, {kTR.X, kTR.Y}, {kBR.X, kBR.Y}, {kBL.X, kBL.Y}});
    const cv::Matx33d forward(h.m[0], h.m[1], h.m[2], h.m[3], h.m[4], h.m[5], h.m[6], h.m[7], h.m[8]);
    for (auto _ : state) {
        state.PauseTiming();
        cv::Mat placed(kHeight, kWidth, CV_8UC4);
        state.ResumeTiming();
        cv::warpPerspective(bgra, placed, forward, placed.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                            cv::Scalar(0, 0, 0, 0));
        benchmark::DoNotOptimize(placed.data);
    }
    state.counters["threads"] = cv::getNumThreads();
}
BENCHMARK(BM_WarpOpenCV)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
#endif

BENCHMARK(BM_WarpProduction)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_WarpOracle)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_WarpProduction32)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_WarpOracle32)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_WarpProductionVertical)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_WarpProductionHorizontal)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_WarpOracleVertical)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
