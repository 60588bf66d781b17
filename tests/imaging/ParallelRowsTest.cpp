// The row pool: every row exactly once, whatever the count, blocks in whole bands where asked,
// and what the workers wrote is seen by the caller when it returns, also when several threads
// start jobs at once. Run under ThreadSanitizer by ./test, with the warp's tests.

#include "imaging/ParallelRows.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// Plain (not atomic) writes, one row each: a missing hand-over to the caller is a race. A
// block that starts or ends inside a band leaves its rows at 0.
std::vector<int> RunJob(int32_t rows, int tag, int32_t band = 1) {
    std::vector<int> seen(size_t(rows), 0);
    imaging::ParallelRows(
        rows,
        [&](int32_t first, int32_t last) {
            if (first % band != 0 || (last % band != 0 && last != rows)) return;
            for (int32_t y = first; y < last; ++y) seen[size_t(y)] += tag;
        },
        band);
    return seen;
}

TEST(ParallelRows, EveryRowOnceAndSeenByTheCaller) {
    for (int32_t band : {1, 8})
        for (int32_t rows : {0, 1, 2, 3, 17, 1000, 100003}) {
            const std::vector<int> seen = RunJob(rows, 1, band);
            EXPECT_EQ(std::vector<int>(size_t(rows), 1), seen) << rows << " rows, bands of " << band;
        }
}

TEST(ParallelRows, JobsFromSeveralThreadsAtOnce) {
    std::vector<bool> correct(3, true);
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t)
        callers.emplace_back([&, t] {
            for (int job = 0; job < 200; ++job) {
                const int32_t rows = 1 + (job * 37 + t) % 300;
                if (RunJob(rows, t + 2) != std::vector<int>(size_t(rows), t + 2)) correct[size_t(t)] = false;
            }
        });
    for (std::thread& c : callers) c.join();
    EXPECT_EQ(std::vector<bool>(3, true), correct);
}

} // namespace
