// The vector mapping in eight double lanes of AVX-512 (F and DQ).

#include "Avx512Lanes.h"
#include "MapRowScalar.h"
#include "MapRowVector.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>

namespace warp {

namespace {

#include "MapRowVector.inc"

} // namespace

// What is left over, fewer than eight pixels or values, goes to the four-lane path.
void MapRunAvx512(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out,
                  ColumnFields fields, bool cull) {
    const int32_t done = MapRunLanes(m, y, x0, count, out, fields, cull);
    if (done < count)
        MapRunAvx2(m, y, x0 + done, count - done,
                   {out.iu + done, out.iv + done, out.fx + done, out.fy + done}, {}, false);
}

int SlopesOfTangentsAvx512(const float* t, float* slope, int n, uint8_t* redone) {
    const int done = n & ~(kLanes - 1);
    const int count = SlopesOfTangentsLanes(t, slope, done, redone);
    return count + SlopesOfTangentsAvx2(t + done, slope + done, n - done, redone ? redone + done : nullptr);
}

} // namespace warp
