#include "PlanRows.h"

#include "SmoothWarp.h"

#include <chrono>
#include <climits>
#include <cstring>

namespace warp {

PlanRows::PlanRows(imaging::Bitmap& source, const TransformPlan& plan, int neighbourhood)
    : m_source(source), m_plan(plan), m_neighbourhood(neighbourhood) {
    if (plan.transform.smooth) m_smooth = std::make_unique<SmoothSource>(source);
}

PlanRows::~PlanRows() = default;

void PlanRows::Render(imaging::Bitmap& band, uint32_t firstRow) {
    const auto start = std::chrono::steady_clock::now();
    imaging::BitmapData data;
    if (band.LockBits(nullptr, imaging::ImageLockModeWrite, imaging::PixelFormat32bppARGB, &data) !=
        imaging::Ok)
        return;
    // Transparent first: the render leaves what it does not reach alone.
    for (uint32_t y = 0; y < data.Height; ++y)
        std::memset(static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride, 0, size_t(data.Width) * 4);
    band.UnlockBits(&data);
    const imaging::Rect everything{0, 0, INT32_MAX, INT32_MAX};
    RenderPlan(&m_source, m_smooth.get(), {&band, firstRow, m_plan.width, m_plan.height}, m_plan,
               m_neighbourhood, {&everything, 1});
    m_renderMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace warp
