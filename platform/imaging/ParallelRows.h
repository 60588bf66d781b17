#pragma once
// Splitting the rows of a render over the processor's cores. The caller waits for all of
// them; every row is done by exactly one thread, so the result does not depend on how they
// are shared.

#include <cstdint>
#include <functional>

namespace imaging {

// Calls work(first, last) for consecutive blocks of rows covering [0, rows), on a small pool
// of threads (one per core, the caller included). Every block but the last starts and ends at
// a multiple of `band` (at least 1) rows. Returns when every block is done.
void ParallelRows(int32_t rows, const std::function<void(int32_t first, int32_t last)>& work,
                  int32_t band = 1);

// Ends the pool's threads, after the job under way; from then on ParallelRows does all the
// work on the calling thread.
void StopParallelRows();

} // namespace imaging
