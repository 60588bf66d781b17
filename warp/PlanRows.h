#pragma once
// A plan's result as a picture the encoders take band by band, rendered as they ask for it,
// so that a large result is never held whole.

#include "Transform.h"
#include "imaging/RowSource.h"

#include <memory>

namespace warp {

class PlanRows : public imaging::RowSource {
public:
    // `source` must outlive this object unchanged, and the plan have no problem. A smooth
    // plan's reduced copies of the source are made here, once.
    PlanRows(imaging::Bitmap& source, const TransformPlan& plan, int neighbourhood);
    ~PlanRows() override;

    uint32_t Width() const override { return uint32_t(m_plan.width); }
    uint32_t Height() const override { return uint32_t(m_plan.height); }
    // The band's pixels as RenderTransform renders them: bands put together are its bytes.
    void Render(imaging::Bitmap& band, uint32_t firstRow) override;

    // The time spent in Render so far, in milliseconds.
    double RenderMs() const { return m_renderMs; }

private:
    imaging::Bitmap& m_source;
    TransformPlan m_plan;
    int m_neighbourhood;
    std::unique_ptr<SmoothSource> m_smooth;
    double m_renderMs = 0;
};

} // namespace warp
