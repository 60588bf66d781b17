// Checks the vector slope against the standard functions for every single-precision value
// (or a range of bit patterns), and lists the values that needed the standard functions.
//
//   build/tests/slope_exhaustive                 all 2^32 bit patterns, on every core
//   build/tests/slope_exhaustive FIRST LAST      bit patterns FIRST..LAST (hex or decimal)
//   build/tests/slope_exhaustive --lanes-alike FIRST LAST
//                                                each value in all lanes of a vector, so
//                                                that a shortcut taken only when every lane
//                                                allows it is checked for every value
//
// Prints the number of values checked, mismatches (must be 0) and values redone, those below
// 2^20 in magnitude and normal counted apart (subnormal and larger values are always redone),
// with the first of them as bit patterns. Exit status 1 on any mismatch. Without a vector path
// (no AVX2 and FMA, or VERLUME_NO_SIMD=1) there is nothing to check and it says so;
// VERLUME_NO_AVX512=1 checks the four-lane path where there are eight. CTest runs it with the
// label "exhaustive" (see tests/CMakeLists.txt).

#include "warp/MapRow.h"
#include "warp/MapRowScalar.h"

#include <atomic>
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    if (warp::ChosenMapKernels().lanes == 0) {
        std::printf("no vector slope on this processor: nothing to check\n");
        return 0;
    }
    const bool alike = argc > 1 && std::strcmp(argv[1], "--lanes-alike") == 0;
    if (alike) {
        --argc;
        ++argv;
    }
    const int copies = alike ? warp::ChosenMapKernels().lanes : 1;
    uint64_t first = 0, last = 0xFFFFFFFFull;
    if (argc == 3) {
        first = std::strtoull(argv[1], nullptr, 0);
        last = std::strtoull(argv[2], nullptr, 0);
    }
    constexpr uint64_t kBatch = 1 << 16;
    std::atomic<uint64_t> next{first}, checked{0}, mismatches{0}, redoneTotal{0}, redoneOrdinary{0};
    std::mutex printing;
    std::vector<uint32_t> examples;
    auto work = [&] {
        std::vector<float> t(kBatch * copies), fast(kBatch * copies);
        std::vector<uint8_t> redone(kBatch * copies);
        for (;;) {
            const uint64_t begin = next.fetch_add(kBatch);
            if (begin > last) return;
            const uint64_t end = std::min<uint64_t>(last + 1, begin + kBatch);
            int n = 0;
            for (uint64_t b = begin; b < end; ++b) {
                float f;
                const uint32_t bits = uint32_t(b);
                std::memcpy(&f, &bits, 4);
                if (std::isfinite(f))
                    for (int k = 0; k < copies; ++k) t[n++] = f;
            }
            redoneTotal += uint64_t(warp::SlopesOfTangents(t.data(), fast.data(), n, redone.data())) / copies;
            for (int i = 0; i < n; i += copies) {
                const float reference = warp::SlopeOfTangent(t[i]);
                bool same = std::memcmp(&reference, &fast[i], 4) == 0;
                for (int k = 1; k < copies; ++k) same = same && std::memcmp(&fast[i], &fast[i + k], 4) == 0;
                if (!same) {
                    ++mismatches;
                    std::lock_guard<std::mutex> lock(printing);
                    std::printf("MISMATCH t=%a fast=%a reference=%a\n", double(t[i]), double(fast[i]),
                                double(reference));
                }
                if (redone[i] && std::fabs(t[i]) >= FLT_MIN && std::fabs(t[i]) < 0x1p20f) {
                    ++redoneOrdinary;
                    std::lock_guard<std::mutex> lock(printing);
                    if (examples.size() < 64) {
                        uint32_t bits;
                        std::memcpy(&bits, &t[i], 4);
                        examples.push_back(bits);
                    }
                }
            }
            checked += uint64_t(n / copies);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i)
        threads.emplace_back(work);
    for (auto& th : threads) th.join();
    std::printf("checked %" PRIu64 " values, %" PRIu64 " mismatches, %" PRIu64 " redone, %" PRIu64
                " of them normal and below 2^20\n",
                checked.load(), mismatches.load(), redoneTotal.load(), redoneOrdinary.load());
    for (uint32_t bits : examples) std::printf("redone 0x%08" PRIx32 "\n", bits);
    return mismatches ? 1 : 0;
}
