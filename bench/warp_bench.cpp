// The warp on a 12-megapixel photo: production against the plain oracle, in one run.
//
//   build/bench/warp_bench                     both
//   build/bench/warp_bench --benchmark_filter=Production

#include "oracle/ReferenceWarp.h"
#include "warp/WarpImageToQuad.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

namespace {

using namespace imaging;

constexpr int32_t kWidth = 4000, kHeight = 3000;
constexpr Point kTL{200, 150}, kTR{3800, 450}, kBR{3700, 2850}, kBL{100, 2700};

Bitmap& Source24() {
    static std::unique_ptr<Bitmap> source = [] {
        auto bitmap = std::make_unique<Bitmap>(kWidth, kHeight, PixelFormat24bppRGB);
        BitmapData data;
        bitmap->LockBits(nullptr, ImageLockModeWrite, PixelFormat24bppRGB, &data);
        std::mt19937 rng(1);
        for (int32_t y = 0; y < kHeight; ++y) {
            auto* row = static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
            for (int32_t i = 0; i < 3 * kWidth; i += 4) {
                const uint32_t r = rng();
                for (int k = 0; k < 4 && i + k < 3 * kWidth; ++k) row[i + k] = uint8_t(r >> (8 * k));
            }
        }
        bitmap->UnlockBits(&data);
        return bitmap;
    }();
    return *source;
}

template <class Warp>
void RunWarp(benchmark::State& state, Warp warp) {
    Bitmap& source = Source24();
    for (auto _ : state) {
        state.PauseTiming();
        Bitmap destination(kWidth, kHeight, PixelFormat32bppARGB);
        state.ResumeTiming();
        warp(&source, &destination);
        benchmark::DoNotOptimize(destination.GetWidth());
    }
    // Time per pixel of the image (the scanned box is 3800 x 2850 of its 4000 x 3000).
    state.counters["per_pixel"] = benchmark::Counter(
        double(kWidth) * kHeight, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_WarpProduction(benchmark::State& state) {
    RunWarp(state, [](Bitmap* s, Bitmap* d) { warp::WarpImageToQuad(s, d, kTL, kTR, kBL, kBR); });
}

void BM_WarpOracle(benchmark::State& state) {
    RunWarp(state, [](Bitmap* s, Bitmap* d) { oracle::ReferenceWarpImageToQuad(s, d, kTL, kTR, kBL, kBR, 2); });
}

BENCHMARK(BM_WarpProduction)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_WarpOracle)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
