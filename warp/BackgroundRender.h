#pragma once
// A transform plan rendered on a thread of its own, band by band, so that a render nobody
// wants any more stops within a band instead of running to its end.

#include "Transform.h"
#include "imaging/Bitmap.h"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace warp {

class BackgroundRender {
public:
    // A render of the whole plan into `destination` (32bppARGB of the plan's size) from
    // `source`, as RenderTransform would: the same bytes. Both bitmaps are read here, on the
    // calling thread, for their pixel memory; the render then works on that memory only.
    // Until Wait or Cancel has returned (or the object is gone) the caller keeps both alive,
    // writes no source pixel and reads no destination pixel; locking them is fine.
    // `finished` runs on the render's thread after the last band, never after a cancel.
    BackgroundRender(imaging::Bitmap& source, imaging::Bitmap& destination, const TransformPlan& plan,
                     std::function<void()> finished);
    ~BackgroundRender(); // cancels
    BackgroundRender(const BackgroundRender&) = delete;
    BackgroundRender& operator=(const BackgroundRender&) = delete;

    // Starts the render's thread, once; until then the processor is the caller's.
    void Start();
    // Starts the render if need be and returns once every band is rendered.
    void Wait();
    // Stops after the band under way and returns; the destination is then partly rendered.
    void Cancel();
    // Every band is rendered (the finished call may still be under way until Wait).
    bool IsDone() const { return m_done.load(std::memory_order_acquire); }

private:
    void Run();

    std::unique_ptr<imaging::Bitmap> m_source, m_destination; // views of the caller's pixel memory
    TransformPlan m_plan;
    std::function<void()> m_finished;
    std::atomic<bool> m_cancel{false}, m_done{false};
    std::thread m_thread;
};

} // namespace warp
