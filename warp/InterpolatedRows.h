#pragma once
// Internal to the warp: a cheaper mapping for pictures that only need to look right, such as
// the one that follows a dragged corner. It maps the rows kStep apart and the row halfway
// between exactly, and the other rows linearly from the rows kStep apart. A group of pixels
// is mapped exactly where a side of the quad passes (the three exact rows do not all show
// source pixels or all show none) or where the middle row lies off the line by more than a
// tenth of what a result pixel covers.

#include "MappedRun.h"
#include "RenderRegions.h"
#include "SimdSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace warp {

// Pixels are mapped in groups of this many; no position is taken farther out than kFar.
constexpr int32_t kInterpolationGroup = 32;
constexpr double kInterpolationFar = 1 << 20;

// The columns a group of pixels between exact rows is mapped from: the position on the exact
// row above, its change per row, and all ones where the rows above or below show the source.
struct InterpolationColumns {
    const double* u;
    const double* v;
    const double* du;
    const double* dv;
    const int32_t* seen;
};

// InterpolatedRows' linear mapping of a group of pixels `rows` below the exact row above, with
// AVX2: the numbers of its own loop. Only where UsableSimd() allows AVX2.
void InterpolateGroupAvx2(const InterpolationColumns& columns, double rows, const MappedRun& out);

template <class Exact>
class InterpolatedRows {
public:
    static constexpr int32_t kStep = 8;
    static constexpr int32_t kGroup = kInterpolationGroup; // mapped exactly together where a side passes

    // `exact` maps as the render loop's mappers do; columns [firstColumn, lastColumn) of a
    // source of `width` x `height` pixels.
    InterpolatedRows(Exact exact, int32_t firstColumn, int32_t lastColumn, int64_t width, int64_t height)
        : m_exact(std::move(exact)), m_first(firstColumn), m_width(lastColumn - firstColumn), m_sourceWidth(width),
          m_sourceHeight(height), m_u(Padded()), m_v(Padded()), m_du(Padded()), m_dv(Padded()), m_seen(Padded()),
          m_mixed(Padded() / kGroup), m_above(m_width), m_middle(m_width), m_below(m_width) {}

    void operator()(int32_t y, int32_t x0, int32_t count, const MappedRun& run) {
        const int32_t top = y - y % kStep; // rows are never negative
        if (top != m_top) Prepare(top);
        const int32_t c0 = x0 - m_first; // a multiple of kGroup: runs start kRun apart
        if (top == y || y == top + kStep / 2) { // the exact rows are exact
            const Row& row = top == y ? m_above : m_middle;
            std::copy_n(row.iu.begin() + c0, count, run.iu);
            std::copy_n(row.iv.begin() + c0, count, run.iv);
            std::copy_n(row.fx.begin() + c0, count, run.fx);
            std::copy_n(row.fy.begin() + c0, count, run.fy);
            return;
        }
        const double rows = double(y - top);
        for (int32_t g = 0; g < count; g += kGroup) {
            const int32_t c = c0 + g;
            if (m_mixed[size_t(c / kGroup)]) {
                m_exact(y, x0 + g, std::min(kGroup, count - g), {run.iu + g, run.iv + g, run.fx + g, run.fy + g});
                continue;
            }
            // A whole group even where the run ends sooner: the run's arrays hold kRun pixels.
            Interpolate(c, rows, run.iu + g, run.iv + g, run.fx + g, run.fy + g);
        }
    }

private:
    static constexpr double kFar = kInterpolationFar;
    static constexpr double kMiss = 0.1;

    size_t Padded() const { return size_t((m_width + 2 * kGroup - 1) / kGroup * kGroup); }

    void Interpolate(int32_t c, double rows, int32_t* __restrict iu, int32_t* __restrict iv, double* __restrict fx,
                     double* __restrict fy) const {
        const InterpolationColumns columns{m_u.data() + c, m_v.data() + c, m_du.data() + c, m_dv.data() + c,
                                           m_seen.data() + c};
        if (m_vector) return InterpolateGroupAvx2(columns, rows, {iu, iv, fx, fy});
        for (int32_t i = 0; i < kGroup; ++i) {
            // Floor by truncation of a positive number; a preview needs no position farther out.
            const double pu = std::clamp(columns.u[i] + columns.du[i] * rows, -kFar, kFar) + kFar;
            const double pv = std::clamp(columns.v[i] + columns.dv[i] * rows, -kFar, kFar) + kFar;
            const int32_t ku = int32_t(pu), kv = int32_t(pv);
            const bool seen = columns.seen[i] != 0;
            iu[i] = seen ? ku - int32_t(kFar) : kUnmapped;
            iv[i] = seen ? kv - int32_t(kFar) : kUnmapped;
            fx[i] = seen ? pu - ku : 0.0;
            fy[i] = seen ? pv - kv : 0.0;
        }
    }

    struct Row {
        explicit Row(int32_t width) : iu(size_t(width)), iv(size_t(width)), fx(size_t(width)), fy(size_t(width)) {}
        std::vector<int32_t> iu, iv;
        std::vector<double> fx, fy;
    };

    void MapRow(int32_t y, Row& row) {
        alignas(64) int32_t iu[kRun], iv[kRun];
        alignas(64) double fx[kRun], fy[kRun];
        const MappedRun run{iu, iv, fx, fy};
        for (int32_t c = 0; c < m_width; c += kRun) {
            const int32_t n = std::min(kRun, m_width - c);
            m_exact(y, m_first + c, n, run);
            std::copy_n(iu, n, row.iu.begin() + c);
            std::copy_n(iv, n, row.iv.begin() + c);
            std::copy_n(fx, n, row.fx.begin() + c);
            std::copy_n(fy, n, row.fy.begin() + c);
        }
    }

    // The exact rows `top` and `top + kStep`, and what the rows between take from them.
    void Prepare(int32_t top) {
        if (top == m_top + kStep) {
            std::swap(m_above, m_below);
        } else {
            MapRow(top, m_above);
        }
        MapRow(top + kStep / 2, m_middle);
        MapRow(top + kStep, m_below);
        m_top = top;
        std::fill(m_mixed.begin(), m_mixed.end(), 0);
        auto seen = [&](const Row& row, size_t i) {
            return row.iu[i] >= 0 && row.iu[i] < m_sourceWidth && row.iv[i] >= 0 && row.iv[i] < m_sourceHeight;
        };
        for (int32_t c = 0; c < m_width; ++c) {
            const size_t i = size_t(c);
            const bool above = seen(m_above, i), below = seen(m_below, i);
            m_seen[i] = above || below ? -1 : 0;
            m_mixed[i / kGroup] |= above != below;
            m_u[i] = m_above.iu[i] + m_above.fx[i];
            m_v[i] = m_above.iv[i] + m_above.fy[i];
            m_du[i] = (m_below.iu[i] + m_below.fx[i] - m_u[i]) / kStep;
            m_dv[i] = (m_below.iv[i] + m_below.fy[i] - m_v[i]) / kStep;
            // Where the line misses the middle row by more than a tenth of what a result pixel
            // covers (a source pixel where it covers less), the mapping bends too much between
            // them (near a concave corner): exact there too. Where the picture is shrunk, a
            // tenth of a source pixel off would not show.
            double cover = std::max(1.0, std::abs(m_du[i]) + std::abs(m_dv[i]));
            if (c > 0 && above && seen(m_above, i - 1))
                cover = std::max(cover, std::abs(m_u[i] - m_u[i - 1]) + std::abs(m_v[i] - m_v[i - 1]));
            const double missU = m_u[i] + m_du[i] * (kStep / 2) - (m_middle.iu[i] + m_middle.fx[i]);
            const double missV = m_v[i] + m_dv[i] * (kStep / 2) - (m_middle.iv[i] + m_middle.fy[i]);
            m_mixed[i / kGroup] |=
                (above || below) && (std::abs(missU) > kMiss * cover || std::abs(missV) > kMiss * cover);
            m_mixed[i / kGroup] |= seen(m_middle, i) != above;
        }
    }

    Exact m_exact;
    const bool m_vector = UsableSimd() != SimdLevel::Scalar;
    int32_t m_first, m_width;
    int64_t m_sourceWidth, m_sourceHeight;
    int32_t m_top = INT32_MIN;
    std::vector<double> m_u, m_v, m_du, m_dv; // position on the row above, and its change per row
    std::vector<int32_t> m_seen;  // per column: all ones where the rows above or below show the source
    std::vector<uint8_t> m_mixed; // per group of kGroup columns
    Row m_above, m_middle, m_below;
};

} // namespace warp
