// Where the warp's time goes, on one thread, for the warp benchmark's corners and a random
// 24-bit 4000 x 3000 source: the mapping alone, the mapping and the sampling, the sampling
// alone, and the slope function on the values a row of the mapping feeds it; also the mapping
// of the whole box on all cores (in milliseconds for the box). Other figures are per scanned
// pixel. Also what one four-lane division and square root cost at full throughput: the floor
// under the divisions and roots each pixel needs.
//
//   build/bench/warp_stages_bench

#include "warp/MapRow.h"
#include "imaging/ParallelRows.h"
#include "warp/QuadMapping.h"
#include "warp/SampleRunAvx2.h"

#include <benchmark/benchmark.h>

#include <immintrin.h>

#include <optional>
#include <random>
#include <vector>

namespace {

constexpr int32_t kWidth = 4000, kHeight = 3000;
constexpr int32_t kColumns = 3800, kRows = 2850; // the scanned box of these corners
constexpr int32_t kRun = 256;

const warp::QuadMapping& Mapping() {
    static const warp::QuadMapping m =
        warp::MakeQuadMapping({{200, 150}, {3800, 450}, {3700, 2850}, {100, 2700}}, kWidth, kHeight);
    return m;
}

// Vertical left and right edges: no column vanishing point.
const warp::QuadMapping& VerticalMapping() {
    static const warp::QuadMapping m =
        warp::MakeQuadMapping({{200, 150}, {3800, 450}, {3800, 2850}, {200, 2700}}, kWidth, kHeight);
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

// A random 24-bit source of the benchmark's size, made once.
const warp::SourceView& RandomSource24() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> s(size_t(kWidth) * 3 * kHeight);
        std::mt19937 rng(1);
        for (auto& byte : s) byte = uint8_t(rng());
        return s;
    }();
    static const warp::SourceView view{bytes.data(), kWidth * 3, kWidth, kHeight, nullptr};
    return view;
}

void BM_MapAndSample(benchmark::State& state) {
    static std::vector<uint8_t> destination(size_t(kWidth) * 4 * kHeight);
    const warp::SourceView& view = RandomSource24();
    ScanBox(state, [&](Buffers& b, int32_t y, int32_t x0, int32_t count) {
        warp::SampleRunAvx2For(3, 2)(view, b.run(),
                                     {destination.data() + (size_t(y) * kWidth + x0) * 4, count});
    });
}

// The sampling alone: 64 consecutive rows of the box mapped once, then sampled again and
// again from a random 24-bit source, as the warp samples them (argument 0: the warp
// benchmark's corners, 1: vertical left and right edges).
void BM_SampleOnly(benchmark::State& state) {
    constexpr int32_t kFirstRow = 1400, kSampledRows = 64;
    std::vector<uint8_t> destination(size_t(kWidth) * 4 * kSampledRows);
    const size_t n = size_t(kColumns) * kSampledRows;
    std::vector<int32_t> iu(n), iv(n);
    std::vector<double> fx(n), fy(n);
    auto at = [&](int32_t row, int32_t x) -> warp::MappedRun {
        const size_t k = size_t(row) * kColumns + x;
        return {&iu[k], &iv[k], &fx[k], &fy[k]};
    };
    for (int32_t row = 0; row < kSampledRows; ++row)
        for (int32_t x0 = 0; x0 < kColumns; x0 += kRun)
            warp::MapRun(MappingOf(state), kFirstRow + row, x0, std::min(kRun, kColumns - x0), at(row, x0));
    const warp::SourceView& view = RandomSource24();
    const warp::SampleRunFunction sample = warp::SampleRunAvx2For(3, 2);
    for (auto _ : state) {
        for (int32_t row = 0; row < kSampledRows; ++row)
            for (int32_t x0 = 0; x0 < kColumns; x0 += kRun)
                sample(view, at(row, x0),
                       {destination.data() + (size_t(row) * kWidth + x0) * 4, std::min(kRun, kColumns - x0)});
        benchmark::ClobberMemory();
    }
    state.counters["per_pixel"] = benchmark::Counter(
        double(n), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The slope function on the tangents one row of pixels produces: argument 0, the lines to the
// column vanishing point (steep); 1, those to the row vanishing point (flat).
void BM_Slopes(benchmark::State& state) {
    const warp::QuadMapping& m = Mapping();
    const warp::PointF v = state.range(0) == 0 ? m.colVanish : m.rowVanish;
    std::vector<float> t(kColumns), slope(kColumns);
    const float y = 1400.0f;
    for (int32_t x = 0; x < kColumns; ++x)
        t[x] = float((double(y) - double(v.Y)) / (double(float(x)) - double(v.X)));
    for (auto _ : state) {
        warp::SlopesOfTangents(t.data(), slope.data(), kColumns);
        benchmark::DoNotOptimize(slope.data());
    }
    state.counters["per_value"] = benchmark::Counter(
        kColumns, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The mapping of every row of the scanned box, split over all cores, keeping column crossings
// and leaving out what shows nothing as the warp does: what the whole warp spends on the
// mapping, the rest being sampling and writing.
void BM_MapWholeBox(benchmark::State& state) {
    const warp::QuadMapping& m = MappingOf(state);
    for (auto _ : state) {
        imaging::ParallelRows(kRows, [&](int32_t first, int32_t last) {
            Buffers b;
            std::optional<warp::ColumnMemo> memo;
            if (warp::ColumnMemo::Pays(m)) memo.emplace(0, kColumns);
            for (int32_t y = first; y < last; ++y)
                for (int32_t x0 = 0; x0 < kColumns; x0 += kRun)
                    warp::MapRun(m, y, x0, std::min(kRun, kColumns - x0), b.run(), memo ? &*memo : nullptr,
                                 warp::Cull::Unseen);
            benchmark::DoNotOptimize(b.iu[0]);
        });
    }
}

// Argument 0: the warp benchmark's corners; 1: vertical left and right edges.
BENCHMARK(BM_MapOnly)->Unit(benchmark::kMillisecond)->Arg(0)->Arg(1);
BENCHMARK(BM_MapWholeBox)->Unit(benchmark::kMillisecond)->UseRealTime()->Arg(0)->Arg(1);
BENCHMARK(BM_MapAndSample)->Unit(benchmark::kMillisecond)->Arg(0)->Arg(1);
BENCHMARK(BM_SampleOnly)->Unit(benchmark::kMillisecond)->Arg(0)->Arg(1);
// Eight independent chains of the operation, in registers.
template <int Operation>
[[gnu::noinline]] double Chains(int64_t n, double start, double divisor) {
    __m256d a0 = _mm256_set1_pd(start), a1 = _mm256_set1_pd(start + 1), a2 = _mm256_set1_pd(start + 2),
            a3 = _mm256_set1_pd(start + 3), a4 = _mm256_set1_pd(start + 4), a5 = _mm256_set1_pd(start + 5),
            a6 = _mm256_set1_pd(start + 6), a7 = _mm256_set1_pd(start + 7);
    const __m256d m = _mm256_set1_pd(divisor);
    auto step = [&](__m256d x) { return Operation == 0 ? _mm256_div_pd(x, m) : _mm256_sqrt_pd(x); };
    for (int64_t i = 0; i < n; ++i) {
        a0 = step(a0);
        a1 = step(a1);
        a2 = step(a2);
        a3 = step(a3);
        a4 = step(a4);
        a5 = step(a5);
        a6 = step(a6);
        a7 = step(a7);
    }
    const __m256d sum = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(a0, a1), _mm256_add_pd(a2, a3)),
                                      _mm256_add_pd(_mm256_add_pd(a4, a5), _mm256_add_pd(a6, a7)));
    return _mm256_cvtsd_f64(sum);
}

template <int Operation>
void BM_FourLanes(benchmark::State& state) {
    constexpr int64_t kSteps = 1 << 14;
    double start = 1.5, divisor = 1.0000000001;
    for (auto _ : state) {
        benchmark::DoNotOptimize(start); // else the call, free of effects, leaves the loop
        benchmark::DoNotOptimize(Chains<Operation>(kSteps, start, divisor));
    }
    state.counters["per_operation"] = benchmark::Counter(
        8.0 * kSteps, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Division(benchmark::State& state) { BM_FourLanes<0>(state); }
void BM_SquareRoot(benchmark::State& state) { BM_FourLanes<1>(state); }

BENCHMARK(BM_Division)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SquareRoot)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Slopes)->Unit(benchmark::kMicrosecond)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
