#include "MapRow.h"

#include "MapRowAvx2.h"

#include <cmath>
#include <cstdlib>
#include <string_view>

namespace warp {

bool HasVectorMapping() {
    // The vector arc tangent also uses FMA instructions. VERLUME_NO_SIMD=1 takes the scalar
    // path everywhere, as on processors without them.
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
                             !(std::getenv("VERLUME_NO_SIMD") && std::string_view(std::getenv("VERLUME_NO_SIMD")) == "1");
    return avx2;
}

void MapRunScalar(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out) {
    for (int32_t i = 0; i < count; ++i) {
        const SourcePosition p = MapToSource(m, x0 + i, y);
        out.iu[i] = TruncateToIndex(p.u);
        out.iv[i] = TruncateToIndex(p.v);
        out.fx[i] = p.u - double(out.iu[i]);
        out.fy[i] = p.v - double(out.iv[i]);
    }
}

void MapRun(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out) {
    if (HasVectorMapping()) MapRunAvx2(m, y, x0, count, out);
    else MapRunScalar(m, y, x0, count, out);
}

float SlopeOfTangent(float t) { return float(std::tan(double(float(std::atan(double(t)))))); }

int SlopesOfTangents(const float* t, float* slope, int n, uint8_t* redone) {
    if (HasVectorMapping()) return SlopesOfTangentsAvx2(t, slope, n, redone);
    for (int i = 0; i < n; ++i) {
        slope[i] = SlopeOfTangent(t[i]);
        if (redone) redone[i] = 1;
    }
    return n;
}

} // namespace warp
