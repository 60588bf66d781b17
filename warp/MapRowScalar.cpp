#include "MapRowScalar.h"

#include <algorithm>
#include <cmath>

namespace warp {

void MapRunScalar(const QuadMapping& m, int32_t y, int32_t x0, int32_t count, const MappedRun& out) {
    for (int32_t i = 0; i < count; ++i) {
        const SourcePosition p = MapToSource(m, x0 + i, y);
        out.iu[i] = TruncateToIndex(p.u);
        out.iv[i] = TruncateToIndex(p.v);
        out.fx[i] = p.u - double(out.iu[i]);
        out.fy[i] = p.v - double(out.iv[i]);
    }
}

float SlopeOfTangent(float t) { return float(std::tan(double(float(std::atan(double(t)))))); }

int SlopesOfTangentsScalar(const float* t, float* slope, int n, uint8_t* redone) {
    for (int i = 0; i < n; ++i) {
        slope[i] = SlopeOfTangent(t[i]);
        if (redone) redone[i] = 1;
    }
    return n;
}

bool BeyondTopOrBottom(const QuadMapping& m, int32_t y, int32_t x0, int32_t count) {
    // A side is a half-plane: both ends of the pixels beyond it are enough.
    auto beyond = [&](const EdgeSide& side) {
        return side.At(x0, y) > 0 && side.At(double(x0) + count - 1, y) > 0;
    };
    return beyond(m.beyond[0]) || beyond(m.beyond[2]);
}

SideStretches BeyondLeftOrRight(const QuadMapping& m, int32_t y, int32_t x0, int32_t count) {
    SideStretches s{0, 0};
    for (const EdgeSide& side : {m.beyond[3], m.beyond[1]}) {
        // Pixel i is beyond where first + side.a * i > 0.
        const double first = side.At(x0, y), step = side.a;
        auto upTo = [&](double i) { return int32_t(std::clamp(std::ceil(i), 0.0, double(count))); };
        if (first > 0)
            s.leading = std::max(s.leading, step >= 0 ? count : upTo(first / -step));
        else if (step > 0)
            s.trailing = std::max(s.trailing, count - upTo(-first / step + 0x1p-20));
    }
    s.trailing = std::min(s.trailing, count - s.leading);
    return s;
}

} // namespace warp
