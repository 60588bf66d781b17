#include "SmoothGrid.h"

#include "MapRow.h"
#include "MappedRun.h"
#include "SimdSupport.h"
#include "SmoothAvx2.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

namespace warp {

namespace {

constexpr int32_t kRunPoints = 256;
constexpr double kNotMapped = std::numeric_limits<double>::quiet_NaN();

constexpr uint8_t kMissing = 16;
constexpr uint64_t kTopBits = 0x8080808080808080u; // of each byte

uint8_t PointSides(double u, double v, double width, double height) {
    return uint8_t(int(u < 0.0) | int(u > width) << 1 | int(v < 0.0) << 2 | int(v > height) << 3 |
                   int(std::isnan(u + v)) << 4);
}

// Eight pixels from i on, a byte each (its top bit): whether all four corners lie beyond one
// side of the source, and whether a corner misses a coordinate. Sides bytes are at most 31.
struct EightPixels {
    uint64_t beyond, missing;
};
EightPixels Eight(const GridRow& top, const GridRow& bottom, int32_t i) {
    auto word = [](const uint8_t* bytes) {
        uint64_t w;
        std::memcpy(&w, bytes, sizeof w);
        return w;
    };
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Fu;
    const uint64_t a = word(top.sides + i), b = word(top.sides + i + 1), c = word(bottom.sides + i),
                   d = word(bottom.sides + i + 1);
    // Adding 127 to a byte of at most 15 sets its top bit, without a carry, where it is not 0;
    // the missing bit, 4, moves up to the top of its byte.
    const uint64_t all = a & b & c & d & 0x0F0F0F0F0F0F0F0Fu, any = a | b | c | d;
    return {(all + kLow7) & kTopBits, (any << 3) & kTopBits};
}

} // namespace

MapGridRow PerspectiveGrid(const Homography& toSource) {
    if (UsableSimd() != SimdLevel::Scalar)
        return [toSource](int32_t y, int32_t x0, int32_t count, double* u, double* v) {
            MapGridRowAvx2(toSource, y, x0, count, u, v);
        };
    return [toSource](int32_t y, int32_t x0, int32_t count, double* u, double* v) {
        for (int32_t i = 0; i < count; ++i) {
            const Homography::Mapped p = toSource.Map(double(int64_t(x0) + i), double(y));
            u[i] = p.x;
            v[i] = p.y;
        }
    };
}

MapGridRow QuadGrid(const QuadMapping& mapping, bool cull) {
    return [&mapping, &kernels = ChosenMapKernels(), vector = UsableSimd() != SimdLevel::Scalar, cull](
               int32_t y, int32_t x0, int32_t count, double* u, double* v) {
        alignas(64) int32_t iu[kRunPoints], iv[kRunPoints];
        alignas(64) double fx[kRunPoints], fy[kRunPoints];
        // What the kernels left out, and where culled what they left unmapped (a position of
        // -1 exactly looks the same, and is mapped again where it is needed).
        auto unmoved = [cull](int32_t index, double fraction) {
            if (index == INT32_MIN || (cull && index == kUnmapped && fraction == 0.0)) return kNotMapped;
            const double position = double(index) + fraction;
            return position < 0.0 ? position + 1.0 : position;
        };
        for (int32_t done = 0; done < count; done += kRunPoints) {
            const int32_t n = std::min(kRunPoints, count - done);
            kernels.mapRun(mapping, y, x0 + done, n, {iu, iv, fx, fy}, {}, cull);
            const int32_t fours = vector ? UnmovedPositionsAvx2(iu, fx, n, cull, u + done) : 0;
            if (vector) UnmovedPositionsAvx2(iv, fy, n, cull, v + done);
            for (int32_t i = fours; i < n; ++i) {
                u[done + i] = unmoved(iu[i], fx[i]);
                v[done + i] = unmoved(iv[i], fy[i]);
            }
        }
    };
}

void SidesOfRow(const double* u, const double* v, int32_t n, double width, double height, uint8_t* sides) {
    int32_t i = UsableSimd() != SimdLevel::Scalar ? PointSidesAvx2(u, v, n, width, height, sides) : 0;
    for (; i < n; ++i) sides[i] = PointSides(u[i], v[i], width, height);
}

std::pair<int32_t, int32_t> CompleteCulledCorners(const MapGridRow& exact, int32_t y, int32_t x0,
                                                  int32_t pixels, double width, double height,
                                                  const GridRow& top, const GridRow& bottom) {
    auto complete = [&](const GridRow& row, int32_t rowY, int32_t at) {
        if (!(row.sides[at] & kMissing)) return;
        exact(rowY, x0 + at, 1, row.u + at, row.v + at);
        row.sides[at] = PointSides(row.u[at], row.v[at], width, height);
    };
    auto within = [pixels](int32_t i) { // the bytes of the pixels there are
        return pixels - i >= 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * (pixels - i))) - 1;
    };
    // One pass: a word's pixels are looked at again only where some got corners. Corners a
    // later word gets can only add sides to the last pixel of this one: the span may take in
    // a pixel the sampler leaves, never leave out one it renders.
    int32_t first = pixels, last = 0;
    for (int32_t i = 0; i < pixels; i += 8) {
        EightPixels e = Eight(top, bottom, i);
        if (uint64_t need = e.missing & ~e.beyond & within(i); need != 0) {
            for (; need != 0; need &= need - 1) {
                const int32_t j = i + std::countr_zero(need) / 8;
                complete(top, y, j);
                complete(top, y, j + 1);
                complete(bottom, y + 1, j);
                complete(bottom, y + 1, j + 1);
            }
            e = Eight(top, bottom, i);
        }
        if (const uint64_t shown = ~e.beyond & kTopBits & within(i); shown != 0) {
            first = std::min(first, i + std::countr_zero(shown) / 8);
            last = i + (63 - std::countl_zero(shown)) / 8 + 1;
        }
    }
    return first < last ? std::pair(first, last) : std::pair(0, 0);
}

} // namespace warp
