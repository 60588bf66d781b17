// Where the warp's time goes, on one thread, for the warp benchmark's corners and a random
// 24-bit 4000 x 3000 source: the mapping alone, the mapping and the sampling, and the slope
// function on the values a row of the mapping feeds it. Figures are per scanned pixel.
//
//   build/bench/warp_stages_bench

#include "warp/MapRow.h"
#include "warp/ParallelRows.h"
#include "warp/QuadMapping.h"
#include "warp/SampleRunAvx2.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

constexpr int32_t kWidth = 4000, kHeight = 3000;
constexpr int32_t kColumns = 3800, kRows = 2850; // the scanned box of these corners
constexpr int32_t kRun = 256;

const warp::QuadMapping& Mapping() {
    static const warp::QuadMapping m =
        warp::MakeQuadMapping({200, 150}, {3800, 450}, {100, 2700}, {3700, 2850}, kWidth, kHeight);
    return m;
}

// Vertical left and right edges: no column vanishing point.
const warp::QuadMapping& VerticalMapping() {
    static const warp::QuadMapping m =
        warp::MakeQuadMapping({200, 150}, {3800, 450}, {200, 2700}, {3800, 2850}, kWidth, kHeight);
    return m;
}

const warp::QuadMapping& MappingOf(const benchmark::State& state) {
    return state.range(0) == 0 ? Mapping() : VerticalMapping();
}

struct Buffers {
    alignas(32) int32_t iu[kRun], iv[kRun];
    alignas(32) double fx[kRun], fy[kRun];
    warp::MappedRun run() { return {iu, iv, fx, fy}; }
};

// Every 8th row keeps a run short enough to time quickly and still covers the whole quad.
constexpr int32_t kRowStep = 8;

template <class PerRun>
void ScanBox(benchmark::State& state, PerRun perRun) {
    Buffers b;
    for (auto _ : state) {
        for (int32_t y = 0; y < kRows; y += kRowStep)
            for (int32_t x0 = 0; x0 < kColumns; x0 += kRun) {
                const int32_t count = std::min(kRun, kColumns - x0);
                warp::MapRun(MappingOf(state), y, x0, count, b.run());
                perRun(b, y, x0, count);
            }
        benchmark::ClobberMemory();
    }
    state.counters["per_pixel"] = benchmark::Counter(double(kColumns) * (kRows / kRowStep),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

void BM_MapOnly(benchmark::State& state) {
    ScanBox(state, [](Buffers& b, int32_t, int32_t, int32_t) { benchmark::DoNotOptimize(b.iu[0]); });
}

void BM_MapAndSample(benchmark::State& state) {
    static std::vector<uint8_t> source = [] {
        std::vector<uint8_t> s(size_t(kWidth) * 3 * kHeight);
        std::mt19937 rng(1);
        for (auto& byte : s) byte = uint8_t(rng());
        return s;
    }();
    static std::vector<uint8_t> destination(size_t(kWidth) * 4 * kHeight);
    const warp::SourceView view{source.data(), kWidth * 3, kWidth, kHeight, nullptr};
    ScanBox(state, [&](Buffers& b, int32_t y, int32_t x0, int32_t count) {
        warp::SampleRunAvx2(view, 3, 2, b.run(), {destination.data() + (size_t(y) * kWidth + x0) * 4, count});
    });
}

// The slope function on the tangents one row of the row lines produces.
void BM_Slopes(benchmark::State& state) {
    const warp::QuadMapping& m = Mapping();
    std::vector<float> t(kColumns), slope(kColumns);
    const float y = 1400.0f;
    for (int32_t x = 0; x < kColumns; ++x)
        t[x] = float((double(y) - double(m.colVanish.Y)) / (double(float(x)) - double(m.colVanish.X)));
    for (auto _ : state) {
        warp::SlopesOfTangents(t.data(), slope.data(), kColumns);
        benchmark::DoNotOptimize(slope.data());
    }
    state.counters["per_value"] = benchmark::Counter(
        kColumns, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Argument 0: the warp benchmark's corners; 1: vertical left and right edges.
BENCHMARK(BM_MapOnly)->Unit(benchmark::kMillisecond)->Arg(0)->Arg(1);
BENCHMARK(BM_MapAndSample)->Unit(benchmark::kMillisecond)->Arg(0)->Arg(1);
BENCHMARK(BM_Slopes)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
