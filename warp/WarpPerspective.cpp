#include "WarpPerspective.h"

#include "PerspectiveRunVector.h"
#include "QuadMapping.h"
#include "RenderRegions.h"
#include "SimdSupport.h"

#include <algorithm>
#include <cmath>

namespace warp {

namespace {

void MapPerspectiveRunScalar(const Homography& h, int32_t y, int32_t x0, int32_t count, const MappedRun& out) {
    const double* m = h.m;
    const double yd = y;
    const double rowX = m[1] * yd + m[2], rowY = m[4] * yd + m[5], rowW = m[7] * yd + m[8];
    for (int32_t i = 0; i < count; ++i) {
        const double x = double(int64_t(x0) + i);
        const double w = m[6] * x + rowW;
        double u = (m[0] * x + rowX) / w, v = (m[3] * x + rowY) / w;
        if (u < 0.0) u = u - 1.0;
        if (v < 0.0) v = v - 1.0;
        out.iu[i] = TruncateToIndex(u);
        out.iv[i] = TruncateToIndex(v);
        out.fx[i] = u - double(out.iu[i]);
        out.fy[i] = v - double(out.iv[i]);
    }
}

using VectorRun = int32_t (*)(const Homography&, int32_t, int32_t, int32_t, const MappedRun&);

VectorRun ChosenVectorRun() {
    static const VectorRun chosen = [] {
        switch (UsableSimd()) {
        case SimdLevel::Avx512: return MapPerspectiveRunAvx512;
        case SimdLevel::Avx2: return MapPerspectiveRunAvx2;
        case SimdLevel::Scalar: break;
        }
        return VectorRun{};
    }();
    return chosen;
}

} // namespace

void MapPerspectiveRun(const Homography& h, int32_t y, int32_t x0, int32_t count, const MappedRun& out) {
    int32_t done = 0;
    if (const VectorRun vector = ChosenVectorRun()) done = vector(h, y, x0, count, out);
    if (done < count)
        MapPerspectiveRunScalar(h, y, x0 + done, count - done,
                                {out.iu + done, out.iv + done, out.fx + done, out.fy + done});
}

void WarpPerspective(imaging::Bitmap* source, imaging::Bitmap* destination, const Homography& toSource,
                     int neighbourhood, std::span<const imaging::Rect> regions) {
    WarpPerspective(source, ResultRows::Whole(destination), toSource, neighbourhood, regions);
}

namespace {

// Runs of a row mapped through the homography; for the preview, also how far the positions
// move from that row to the next.
class PerspectiveRows {
public:
    explicit PerspectiveRows(const Homography& toSource) : m_toSource(toSource) {}

    void operator()(int32_t y, int32_t x0, int32_t count, const MappedRun& run) {
        m_y = y;
        m_run = run;
        MapPerspectiveRun(m_toSource, y, x0, count, run);
    }

    // For the run last mapped, from column x0 on, eight pixels at a time (RenderRegions.h): the
    // change of a position per row, d(u, v)/dy = ((m1, m4) - m7 (u, v)) / w, taken at every
    // 32nd pixel for the 32 from it (it changes slowly along a row).
    void AcrossRows(int32_t x0, int32_t count, float* across) const {
        const double* m = m_toSource.m;
        const double rowW = m[7] * m_y + m[8];
        for (int32_t g = 0; g < count; g += 32) {
            const double w = m[6] * double(int64_t(x0) + g) + rowW;
            const double u = m_run.iu[g] + m_run.fx[g], v = m_run.iv[g] + m_run.fy[g];
            const double step = std::max(std::abs(m[1] - m[7] * u), std::abs(m[4] - m[7] * v)) / std::abs(w);
            std::fill_n(across + g / 8, 4, step < 1e6 ? float(step) : 1e6f); // at the horizon: NaN or huge
        }
    }

private:
    const Homography& m_toSource;
    double m_y = 0;
    MappedRun m_run{};
};

void RenderPerspective(imaging::Bitmap* source, const ResultRows& destination, const Homography& toSource,
                       int neighbourhood, std::span<const imaging::Rect> regions, Sampling sampling,
                       std::span<imaging::Bitmap* const> coarser = {},
                       std::optional<uint32_t> background = std::nullopt) {
    if (source == nullptr || destination.bitmap == nullptr) return;
    RenderRegions(
        source, destination, destination.width, destination.height, neighbourhood, regions,
        [&](int32_t, int32_t) { return PerspectiveRows(toSource); }, sampling, coarser, background);
}

} // namespace

void WarpPerspective(imaging::Bitmap* source, const ResultRows& destination, const Homography& toSource,
                     int neighbourhood, std::span<const imaging::Rect> regions) {
    RenderPerspective(source, destination, toSource, neighbourhood, regions, Sampling::Exact);
}

void WarpPerspectivePreview(imaging::Bitmap* source, imaging::Bitmap* destination, const Homography& toSource,
                            int neighbourhood, std::span<const imaging::Rect> regions,
                            std::span<imaging::Bitmap* const> coarser,
                            std::optional<imaging::Color> background) {
    RenderPerspective(source, ResultRows::Whole(destination), toSource, neighbourhood, regions,
                      Sampling::Preview, coarser,
                      background ? std::optional(background->Argb) : std::nullopt);
}

} // namespace warp
