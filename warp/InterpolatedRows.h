#pragma once
// Internal to the warp: a cheaper mapping for pictures that only need to look right, such as
// the one that follows a dragged corner. It maps the rows kStep apart and the row halfway
// between exactly, and the other rows linearly from the rows kStep apart. A group of pixels
// is mapped exactly where a side of the quad passes (the three exact rows do not all show
// source pixels or all show none) or where the middle row lies off the line by more than a
// tenth of what a result pixel covers (PrepareColumn).

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

// An exactly mapped row, as indices and fractions per column.
struct ExactRow {
    const int32_t* iu;
    const int32_t* iv;
    const double* fx;
    const double* fy;
};

// What the rows between two exact rows take from them, per column: the columns above, and per
// group of kInterpolationGroup columns whether it is mapped exactly (or-ed in, never cleared).
struct PreparedColumns {
    double *u, *v, *du, *dv;
    int32_t* seen;
    uint8_t* mixed;
};

// How far the line from the row above to the row below may miss the middle row: a tenth of what
// a result pixel covers.
constexpr double kInterpolationMiss = 0.1;

// Column i of the rows `above`, `middle` and `below` (kStep / 2 and kStep rows down) of a source
// of `width` x `height`, prepared into `out`. Where the line misses the middle row by more than
// a tenth of what a result pixel covers (a source pixel where it covers less), the mapping bends
// too much between them (near a concave corner): the group is exact. Where the picture is
// shrunk, a tenth of a source pixel off would not show.
inline void PrepareColumn(const ExactRow& above, const ExactRow& middle, const ExactRow& below, int32_t i,
                          int64_t width, int64_t height, int32_t step, const PreparedColumns& out) {
    auto seen = [&](const ExactRow& row, int32_t c) {
        return row.iu[c] >= 0 && row.iu[c] < width && row.iv[c] >= 0 && row.iv[c] < height;
    };
    const bool up = seen(above, i), down = seen(below, i);
    out.seen[i] = up || down ? -1 : 0;
    bool mixed = up != down;
    out.u[i] = above.iu[i] + above.fx[i];
    out.v[i] = above.iv[i] + above.fy[i];
    out.du[i] = (below.iu[i] + below.fx[i] - out.u[i]) / step;
    out.dv[i] = (below.iv[i] + below.fy[i] - out.v[i]) / step;
    double cover = std::max(1.0, std::abs(out.du[i]) + std::abs(out.dv[i]));
    if (i > 0 && up && seen(above, i - 1))
        cover = std::max(cover, std::abs(out.u[i] - (above.iu[i - 1] + above.fx[i - 1])) +
                                    std::abs(out.v[i] - (above.iv[i - 1] + above.fy[i - 1])));
    const double missU = out.u[i] + out.du[i] * (step / 2) - (middle.iu[i] + middle.fx[i]);
    const double missV = out.v[i] + out.dv[i] * (step / 2) - (middle.iv[i] + middle.fy[i]);
    mixed |= (up || down) &&
             (std::abs(missU) > kInterpolationMiss * cover || std::abs(missV) > kInterpolationMiss * cover);
    mixed |= seen(middle, i) != up;
    out.mixed[i / kInterpolationGroup] |= mixed;
}

// PrepareColumn for the columns [first, last), multiples of 4 with first at least 4, with AVX2
// (for rows 8 apart): the numbers of its own loop. Only where UsableSimd() allows AVX2.
void PrepareColumnsAvx2(const ExactRow& above, const ExactRow& middle, const ExactRow& below, int32_t first,
                        int32_t last, int32_t width, int32_t height, const PreparedColumns& out);

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
          m_mixed(Padded() / kGroup), m_across(Padded() / 8), m_above(m_width), m_middle(m_width), m_below(m_width) {}

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

    // For the run last mapped, from column x0 on, eight pixels at a time: how far apart their
    // positions lie in source pixels from one row to the next (0 where a group is mapped exactly).
    // The same for every row between two exact rows: taken once for them.
    void AcrossRows(int32_t x0, int32_t count, float* across) const {
        std::copy_n(m_across.begin() + (x0 - m_first) / 8, (count + 7) / 8, across);
    }

private:
    static constexpr double kFar = kInterpolationFar;

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

    // Mapped straight into the row, a run at a time.
    void MapRow(int32_t y, Row& row) {
        for (int32_t c = 0; c < m_width; c += kRun)
            m_exact(y, m_first + c, std::min(kRun, m_width - c),
                    {row.iu.data() + c, row.iv.data() + c, row.fx.data() + c, row.fy.data() + c});
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
        auto exact = [](const Row& row) {
            return ExactRow{row.iu.data(), row.iv.data(), row.fx.data(), row.fy.data()};
        };
        const ExactRow above = exact(m_above), middle = exact(m_middle), below = exact(m_below);
        const PreparedColumns out{m_u.data(),  m_v.data(),    m_du.data(),
                                  m_dv.data(), m_seen.data(), m_mixed.data()};
        // The first four columns and those after the last whole four here, the rest in vectors.
        static_assert(kStep == 8, "PrepareColumnsAvx2 takes rows 8 apart");
        const int32_t vectorEnd = m_vector && m_width >= 8 ? m_width & ~3 : std::min(m_width, 4);
        for (int32_t c = 0; c < std::min(m_width, 4); ++c)
            PrepareColumn(above, middle, below, c, m_sourceWidth, m_sourceHeight, kStep, out);
        if (vectorEnd > 4)
            PrepareColumnsAvx2(above, middle, below, 4, vectorEnd, int32_t(m_sourceWidth),
                               int32_t(m_sourceHeight), out);
        for (int32_t c = std::max(vectorEnd, 4); c < m_width; ++c)
            PrepareColumn(above, middle, below, c, m_sourceWidth, m_sourceHeight, kStep, out);
        for (int32_t c = 0; c < m_width; c += 8)
            m_across[size_t(c / 8)] = m_mixed[size_t(c / kGroup)]
                                          ? 0.0f
                                          : float(std::max(std::abs(m_du[size_t(c)]), std::abs(m_dv[size_t(c)])));
    }

    Exact m_exact;
    const bool m_vector = UsableSimd() != SimdLevel::Scalar;
    int32_t m_first, m_width;
    int64_t m_sourceWidth, m_sourceHeight;
    int32_t m_top = INT32_MIN;
    std::vector<double> m_u, m_v, m_du, m_dv; // position on the row above, and its change per row
    std::vector<int32_t> m_seen;  // per column: all ones where the rows above or below show the source
    std::vector<uint8_t> m_mixed; // per group of kGroup columns
    std::vector<float> m_across;  // per eight columns: AcrossRows
    Row m_above, m_middle, m_below;
};

} // namespace warp
