#include "BackgroundRender.h"

#include <system_error>

#include "SmoothWarp.h"

#include <algorithm>
#include <optional>

namespace warp {

using namespace imaging;

namespace {

// A view of `bitmap`'s own pixel memory, its palette included (no content where it has none).
std::unique_ptr<Bitmap> PixelsOf(Bitmap& bitmap) {
    BitmapData data;
    if (!bitmap.HasContent() || bitmap.LockBits(nullptr, ImageLockModeRead, bitmap.GetPixelFormat(), &data) != Ok)
        return std::make_unique<Bitmap>(0, 0, PixelFormat32bppARGB);
    auto pixels = std::make_unique<Bitmap>(int32_t(data.Width), int32_t(data.Height), data.Stride, data.PixelFormat,
                                           static_cast<uint8_t*>(data.Scan0));
    bitmap.UnlockBits(&data);
    if (const uint32_t* palette = bitmap.GetPalette()) pixels->SetPalette(palette, PaletteSizeOf(bitmap.GetPixelFormat()));
    return pixels;
}

// Bands small enough to stop within a few milliseconds, large enough that starting one costs
// nothing measurable.
constexpr int32_t kBands = 32;
constexpr int32_t kLeastBandRows = 16;

} // namespace

BackgroundRender::BackgroundRender(Bitmap& source, Bitmap& destination, const TransformPlan& plan,
                                   std::function<void()> finished)
    : m_source(PixelsOf(source)), m_destination(PixelsOf(destination)), m_plan(plan), m_finished(std::move(finished)) {}

BackgroundRender::~BackgroundRender() { Cancel(); }

void BackgroundRender::Start() {
    if (m_thread.joinable() || m_done.load(std::memory_order_acquire) || m_cancel.load(std::memory_order_relaxed)) return;
    try {
        m_thread = std::thread(&BackgroundRender::Run, this);
    } catch (const std::system_error&) {
        Run(); // no room for a thread: the render is done here, before Start returns
    }
}

void BackgroundRender::Run() {
    const int32_t width = int32_t(m_plan.width), height = int32_t(m_plan.height);
    const int32_t rows = std::max(kLeastBandRows, (height + kBands - 1) / kBands);
    std::optional<SmoothSource> smooth;
    if (m_plan.transform.smooth) smooth.emplace(*m_source);
    for (int32_t top = 0; top < height; top += rows) {
        if (m_cancel.load(std::memory_order_relaxed)) return;
        const Rect band{0, top, width, std::min(rows, height - top)};
        if (smooth)
            RenderSmooth(*smooth, m_destination.get(), m_plan, {&band, 1});
        else
            RenderPlan(m_source.get(), m_destination.get(), m_plan, 2, {&band, 1});
    }
    m_done.store(true, std::memory_order_release);
    if (m_finished) m_finished();
}

void BackgroundRender::Wait() {
    Start();
    if (m_thread.joinable()) m_thread.join();
}

void BackgroundRender::Cancel() {
    m_cancel.store(true, std::memory_order_relaxed);
    if (m_thread.joinable()) m_thread.join();
}

} // namespace warp
