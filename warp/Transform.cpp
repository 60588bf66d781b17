#include "Transform.h"

#include "SmoothWarp.h"
#include "WarpImageToQuad.h"
#include "WarpPerspective.h"

#include <algorithm>
#include <climits>

namespace warp {

namespace {

Corners Shifted(const Corners& c, int64_t dx, int64_t dy) {
    auto move = [&](imaging::Point p) { return imaging::Point{int32_t(p.X + dx), int32_t(p.Y + dy)}; };
    return {move(c.topLeft), move(c.topRight), move(c.bottomRight), move(c.bottomLeft)};
}

std::string SizeProblem(int64_t width, int64_t height) {
    if (width <= INT32_MAX && height <= INT32_MAX) return {};
    return "the result would be " + std::to_string(width) + " x " + std::to_string(height) + " pixels, too large";
}

} // namespace

TransformPlan PlanTransform(const Transform& transform, const Corners& corners, uint32_t width, uint32_t height) {
    TransformPlan plan{transform, width, height, {0, 0}, corners, std::nullopt, {}};
    if (width == 0 || height == 0) {
        plan.problem = "the image is empty";
        return plan;
    }
    const bool perspective =
        transform.direction == Direction::Straighten || transform.mapping == Mapping::Perspective;
    if (perspective) {
        plan.problem = Describe(CheckQuad(corners));
        if (!plan.problem.empty()) return plan;
    }
    if (transform.direction == Direction::Straighten) {
        const PageSize page = transform.pageSize ? *transform.pageSize : EstimatePageSize(corners, width, height);
        if (page.width <= 0 || page.height <= 0) {
            plan.problem = "the page size must be at least 1 x 1 pixels";
            return plan;
        }
        plan.width = page.width;
        plan.height = page.height;
        plan.problem = SizeProblem(page.width, page.height);
        if (plan.problem.empty()) plan.toSource = RectToQuad(double(page.width), double(page.height), corners);
        return plan;
    }
    if (transform.canvas == CanvasChoice::FitResult) {
        const std::array<imaging::Point, 4> p{corners.topLeft, corners.topRight, corners.bottomRight,
                                              corners.bottomLeft};
        int64_t left = 0, top = 0, right = width, bottom = height;
        for (const imaging::Point& q : p) {
            left = std::min<int64_t>(left, q.X);
            top = std::min<int64_t>(top, q.Y);
            right = std::max<int64_t>(right, q.X);
            bottom = std::max<int64_t>(bottom, q.Y);
        }
        plan.width = right - left;
        plan.height = bottom - top;
        plan.origin = {int32_t(left), int32_t(top)};
        plan.corners = Shifted(corners, -left, -top);
        plan.problem = SizeProblem(plan.width, plan.height);
        if (!plan.problem.empty()) return plan;
    }
    if (perspective) plan.toSource = RectToQuad(width, height, plan.corners)->Inverted();
    return plan;
}

void RenderPlan(imaging::Bitmap* source, imaging::Bitmap* destination, const TransformPlan& plan, int neighbourhood,
                std::span<const imaging::Rect> regions) {
    if (!plan.problem.empty() || source == nullptr) return;
    if (plan.transform.smooth) return RenderSmooth(SmoothSource(*source), destination, plan, regions);
    RenderPlan(source, nullptr, ResultRows::Whole(destination), plan, neighbourhood, regions);
}

void RenderPlan(imaging::Bitmap* source, const SmoothSource* smooth, const ResultRows& destination,
                const TransformPlan& plan, int neighbourhood, std::span<const imaging::Rect> regions) {
    if (!plan.problem.empty() || source == nullptr) return;
    if (plan.transform.smooth) {
        if (smooth) RenderSmooth(*smooth, destination, plan, regions);
        return;
    }
    if (plan.toSource) return WarpPerspective(source, destination, *plan.toSource, neighbourhood, regions);
    WarpImageToQuad(source, destination, plan.corners, neighbourhood, regions);
}

std::unique_ptr<imaging::Bitmap> RenderTransform(imaging::Bitmap* source, const TransformPlan& plan, int neighbourhood,
                                                 std::string* why) {
    auto fail = [&](std::string reason) {
        if (why) *why = std::move(reason);
        return nullptr;
    };
    if (!plan.problem.empty()) return fail(plan.problem);
    if (source == nullptr || !source->HasContent()) return fail("there is no image to render");
    auto result = std::make_unique<imaging::Bitmap>(int32_t(plan.width), int32_t(plan.height),
                                                    imaging::PixelFormat32bppARGB);
    if (!result->HasContent()) return fail(result->GetLastReason()); // beyond the size limit, or no memory
    const imaging::Rect everything{0, 0, INT32_MAX, INT32_MAX};
    RenderPlan(source, result.get(), plan, neighbourhood, {&everything, 1});
    return result;
}

} // namespace warp
