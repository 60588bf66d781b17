// Checks the vector slope against the standard functions for every single-precision value
// (or a range of bit patterns), and lists the values that needed the standard functions.
//
//   build/tests/slope_exhaustive                 all 2^32 bit patterns, on every core
//   build/tests/slope_exhaustive FIRST LAST      bit patterns FIRST..LAST (hex or decimal)
//
// Each value is checked twice against one computation of the standard functions: packed with
// its neighbours into the chosen kernel's vectors, and, for the flat-line values (|t| up to
// tan(pi/8)), alone in all lanes of a vector of every kernel the processor runs (eight lanes
// and four, or four), so that a shortcut taken only when every lane allows it is checked for
// every value.
//
// Prints, per check, the number of values checked, mismatches (must be 0) and values redone,
// those below 2^20 in magnitude and normal counted apart (subnormal and larger values are
// always redone), with the first of the packed check's as bit patterns. Exit status 1 on any
// mismatch. Without a vector path (no AVX2 and FMA, or VERLUME_NO_SIMD=1) there is nothing to
// check and it says so; VERLUME_NO_AVX512=1 checks only the four-lane kernel where there are
// eight. CTest runs it with the label "exhaustive" (see tests/CMakeLists.txt).

#include "warp/MapRow.h"
#include "warp/MapRowScalar.h"
#include "warp/MapRowVector.h"

#include <atomic>
#include <bit>
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using SlopesKernel = int (*)(const float* t, float* slope, int n, uint8_t* redone);

struct Check {
    std::string what;
    SlopesKernel kernel;
    int copies; // lanes each value fills
    std::atomic<uint64_t> checked{0}, mismatches{0}, redone{0}, redoneOrdinary{0};
};

// The largest flat-line bit pattern: tan(pi/8) rounded down.
constexpr uint32_t kFlatLast = 0x3ED413CD;

bool Ordinary(float t) { return std::fabs(t) >= FLT_MIN && std::fabs(t) < 0x1p20f; }

} // namespace

int main(int argc, char** argv) {
    const int lanes = warp::ChosenMapKernels().lanes;
    if (lanes == 0) {
        std::printf("no vector slope on this processor: nothing to check\n");
        return 0;
    }
    uint64_t first = 0, last = 0xFFFFFFFFull;
    if (argc == 3) {
        first = std::strtoull(argv[1], nullptr, 0);
        last = std::strtoull(argv[2], nullptr, 0);
    }
    Check packed{"packed", warp::ChosenMapKernels().slopesOfTangents, 1};
    std::vector<Check*> alike;
    Check alike8{"alone in eight lanes", warp::SlopesOfTangentsAvx512, 8};
    Check alike4{"alone in four lanes", warp::SlopesOfTangentsAvx2, 4};
    if (lanes == 8) alike.push_back(&alike8);
    alike.push_back(&alike4);

    constexpr uint64_t kBatch = 1 << 16;
    std::atomic<uint64_t> next{first};
    std::mutex printing;
    std::vector<uint32_t> examples;
    auto mismatch = [&](const Check& c, float t, float fast, float reference) {
        std::lock_guard<std::mutex> lock(printing);
        std::printf("MISMATCH (%s) t=%a fast=%a reference=%a\n", c.what.c_str(), double(t), double(fast),
                    double(reference));
    };
    auto work = [&] {
        std::vector<float> t(kBatch), reference(kBatch), fast(kBatch), copies(kBatch * 8),
            alikeFast(kBatch * 8);
        std::vector<uint8_t> redone(kBatch * 8);
        std::vector<int> flatAt(kBatch);
        for (;;) {
            const uint64_t begin = next.fetch_add(kBatch);
            if (begin > last) return;
            const uint64_t end = std::min<uint64_t>(last + 1, begin + kBatch);
            int n = 0, flats = 0;
            for (uint64_t b = begin; b < end; ++b) {
                const uint32_t bits = uint32_t(b);
                float f;
                std::memcpy(&f, &bits, 4);
                if (!std::isfinite(f)) continue;
                if ((bits & 0x7FFFFFFFu) <= kFlatLast) flatAt[flats++] = n;
                reference[n] = warp::SlopeOfTangent(f);
                t[n++] = f;
            }

            packed.redone += uint64_t(packed.kernel(t.data(), fast.data(), n, redone.data()));
            for (int i = 0; i < n; ++i) {
                if (std::bit_cast<uint32_t>(reference[i]) != std::bit_cast<uint32_t>(fast[i])) {
                    ++packed.mismatches;
                    mismatch(packed, t[i], fast[i], reference[i]);
                }
                if (redone[i] && Ordinary(t[i])) {
                    ++packed.redoneOrdinary;
                    std::lock_guard<std::mutex> lock(printing);
                    if (examples.size() < 64) examples.push_back(std::bit_cast<uint32_t>(t[i]));
                }
            }
            packed.checked += uint64_t(n);

            for (Check* c : alike) {
                const int k = c->copies;
                for (int j = 0; j < flats; ++j)
                    for (int l = 0; l < k; ++l) copies[size_t(j * k + l)] = t[size_t(flatAt[j])];
                c->redone +=
                    uint64_t(c->kernel(copies.data(), alikeFast.data(), flats * k, redone.data())) / k;
                for (int j = 0; j < flats; ++j) {
                    const int i = flatAt[j];
                    const uint32_t expected = std::bit_cast<uint32_t>(reference[i]);
                    uint32_t apart = 0;
                    for (int l = 0; l < k; ++l)
                        apart |= std::bit_cast<uint32_t>(alikeFast[size_t(j * k + l)]) ^ expected;
                    if (apart != 0) {
                        ++c->mismatches;
                        mismatch(*c, t[i], alikeFast[size_t(j * k)], reference[i]);
                    }
                    if (redone[size_t(j * k)] && Ordinary(t[i])) ++c->redoneOrdinary;
                }
                c->checked += uint64_t(flats);
            }
        }
    };
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i)
        threads.emplace_back(work);
    for (auto& th : threads) th.join();

    uint64_t mismatches = 0;
    std::vector<const Check*> all{&packed};
    all.insert(all.end(), alike.begin(), alike.end());
    for (const Check* c : all) {
        std::printf("checked %" PRIu64 " values %s, %" PRIu64 " mismatches, %" PRIu64 " redone, %" PRIu64
                    " of them normal and below 2^20\n",
                    c->checked.load(), c->what.c_str(), c->mismatches.load(), c->redone.load(),
                    c->redoneOrdinary.load());
        mismatches += c->mismatches;
    }
    for (uint32_t bits : examples) std::printf("redone 0x%08" PRIx32 "\n", bits);
    return mismatches ? 1 : 0;
}
