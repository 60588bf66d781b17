// The perspective warp of a 12-megapixel 4-channel photo against OpenCV's warpPerspective
// (bilinear, its default threads) on the same quad, in one run; and the plain oracle.
//
//   build/bench/perspective_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include "oracle/ReferenceWarp.h"
#include "warp/Homography.h"
#include "warp/WarpPerspective.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include <climits>
#include <random>

namespace {

using namespace imaging;

constexpr int32_t kWidth = 4000, kHeight = 3000;
const warp::Corners kQuad{{200, 150}, {3800, 450}, {3700, 2850}, {100, 2700}};

// Random colours, opaque, as a photo's are.
Bitmap& Source() {
    static std::unique_ptr<Bitmap> source = [] {
        auto bitmap = std::make_unique<Bitmap>(kWidth, kHeight, PixelFormat32bppARGB);
        BitmapData data;
        bitmap->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &data);
        std::mt19937 rng(1);
        for (int32_t y = 0; y < kHeight; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride);
            for (int32_t x = 0; x < kWidth; ++x) row[x] = rng() | 0xFF000000u;
        }
        bitmap->UnlockBits(&data);
        return bitmap;
    }();
    return *source;
}

// The same bytes as OpenCV sees them: its own matrix over the bitmap's memory.
cv::Mat View(Bitmap& bitmap, BitmapData& data) {
    bitmap.LockBits(nullptr, ImageLockModeRead | ImageLockModeWrite, PixelFormat32bppARGB, &data);
    return cv::Mat(int(bitmap.GetHeight()), int(bitmap.GetWidth()), CV_8UC4, data.Scan0, size_t(data.Stride));
}

void Count(benchmark::State& state) {
    state.counters["per_pixel"] = benchmark::Counter(
        double(kWidth) * kHeight, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Place: the source rectangle onto the quad.
void BM_PlaceVerlume(benchmark::State& state) {
    const warp::Homography toSource = warp::RectToQuad(kWidth, kHeight, kQuad)->Inverted();
    const Rect everything{0, 0, INT32_MAX, INT32_MAX};
    for (auto _ : state) {
        state.PauseTiming();
        Bitmap destination(kWidth, kHeight, PixelFormat32bppARGB);
        state.ResumeTiming();
        warp::WarpPerspective(&Source(), &destination, toSource, 2, {&everything, 1});
        benchmark::DoNotOptimize(destination.GetWidth());
    }
    Count(state);
}

void BM_PlaceOpenCV(benchmark::State& state) {
    const warp::Homography h = *warp::RectToQuad(kWidth, kHeight, kQuad);
    const cv::Matx33d forward(h.m[0], h.m[1], h.m[2], h.m[3], h.m[4], h.m[5], h.m[6], h.m[7], h.m[8]);
    BitmapData in;
    const cv::Mat source = View(Source(), in);
    for (auto _ : state) {
        state.PauseTiming();
        Bitmap destination(kWidth, kHeight, PixelFormat32bppARGB);
        BitmapData out;
        cv::Mat target = View(destination, out);
        state.ResumeTiming();
        cv::warpPerspective(source, target, forward, target.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT);
        benchmark::DoNotOptimize(target.data);
        destination.UnlockBits(&out);
    }
    Source().UnlockBits(&in);
    Count(state);
    state.counters["threads"] = cv::getNumThreads();
}

void BM_PlaceOracle(benchmark::State& state) {
    const warp::Homography toSource = warp::RectToQuad(kWidth, kHeight, kQuad)->Inverted();
    for (auto _ : state) {
        state.PauseTiming();
        Bitmap destination(kWidth, kHeight, PixelFormat32bppARGB);
        state.ResumeTiming();
        oracle::ReferenceWarpPerspective(&Source(), &destination, toSource, 2);
        benchmark::DoNotOptimize(destination.GetWidth());
    }
    Count(state);
}

BENCHMARK(BM_PlaceVerlume)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlaceOpenCV)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlaceOracle)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

} // namespace

BENCHMARK_MAIN();
