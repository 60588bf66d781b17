// The smooth warp of a 12-megapixel photo against the plain warp of the same corners, in one
// run: both mappings, a mild perspective and the picture shrunk to a quarter and an eighth
// of its width on a tilted quad. Each time includes what the render makes first (the smooth
// render's reduced copies).
//
//   build/bench/smooth_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true

#include "warp/Transform.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

namespace {

using namespace imaging;

constexpr int32_t kWidth = 4000, kHeight = 3000;

// A photo's detail is neither flat nor noise: smooth random colour fields with grain.
Bitmap& Source() {
    static std::unique_ptr<Bitmap> source = [] {
        auto bitmap = std::make_unique<Bitmap>(kWidth, kHeight, PixelFormat24bppRGB);
        BitmapData data;
        bitmap->LockBits(nullptr, ImageLockModeWrite, PixelFormat24bppRGB, &data);
        std::mt19937 rng(1);
        for (int32_t y = 0; y < kHeight; ++y) {
            auto* row = static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
            for (int32_t x = 0; x < kWidth; ++x)
                for (int c = 0; c < 3; ++c)
                    row[3 * x + c] = uint8_t(((x >> 4) * (c + 3) + (y >> 3) * (c + 5)) + (rng() & 31));
        }
        bitmap->UnlockBits(&data);
        return bitmap;
    }();
    return *source;
}

// Corners for a picture `1/shrink` of the image's width, tilted, near the image's middle.
warp::Corners Shrunk(int shrink) {
    const int32_t w = kWidth / shrink, h = kHeight / shrink, x = 1500, y = 1000;
    return {{x, y + h / 8}, {x + w, y}, {x + w - w / 10, y + h}, {x + w / 12, y + h - h / 10}};
}

const warp::Corners kMild{{200, 150}, {3800, 450}, {3700, 2850}, {100, 2700}};

void Run(benchmark::State& state) {
    const warp::Mapping mapping = state.range(0) ? warp::Mapping::Perspective : warp::Mapping::Quad;
    const int shrink = int(state.range(1));
    const bool smooth = state.range(2) != 0;
    const warp::TransformPlan plan = warp::PlanTransform(
        {.mapping = mapping, .smooth = smooth}, shrink == 1 ? kMild : Shrunk(shrink), kWidth, kHeight);
    for (auto _ : state) {
        std::unique_ptr<Bitmap> result = warp::RenderTransform(&Source(), plan, 2);
        benchmark::DoNotOptimize(result.get());
    }
}

// Arguments: perspective (0 Quad, 1 Perspective), shrink (1 is the mild quad), smooth.
BENCHMARK(Run)
    ->Name("Warp")
    ->ArgNames({"perspective", "shrink", "smooth"})
    ->ArgsProduct({{0, 1}, {1, 4, 8}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
