// The view's plain geometry: what lies around a rectangle, and clipping a segment to a box.

#include "view/ViewGeometry.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using imaging::PointF;
using imaging::Rect;
using imaging::RectF;

TEST(ClipSegment, KeepsThePartInsideTheBox) {
    const RectF box{0, 0, 100, 50};
    const struct {
        PointF a, b;
        bool inside;
        double t0, t1;
    } cases[] = {
        {{10, 10}, {90, 40}, true, 0, 1},          // wholly inside
        {{-100, 25}, {200, 25}, true, 1.0 / 3, 2.0 / 3}, // across, horizontal
        {{50, -50}, {50, 150}, true, 0.25, 0.5},   // across, vertical
        {{-50, -25}, {150, 75}, true, 0.25, 0.75}, // along the diagonal
        {{-10, 60}, {200, 60}, false, 0, 0},       // below the box
        {{150, 0}, {300, 40}, false, 0, 0},        // beside it
        {{-20, 20}, {20, 60}, true, 0.5, 0.75},    // over a corner
        {{-20, 40}, {20, 80}, false, 0, 0},        // past the corner
        {{-20, 30}, {20, 70}, false, 0, 0},        // through the corner point only
    };
    for (const auto& c : cases) {
        double t0 = -1, t1 = -1;
        SCOPED_TRACE(testing::Message() << "(" << c.a.X << "," << c.a.Y << ") to (" << c.b.X << "," << c.b.Y << ")");
        ASSERT_EQ(c.inside, view::ClipSegment(c.a, c.b, box, t0, t1));
        if (!c.inside) continue;
        EXPECT_DOUBLE_EQ(c.t0, t0);
        EXPECT_DOUBLE_EQ(c.t1, t1);
    }
}

TEST(Around, TheRestOfTheCanvasInFourBands) {
    auto fields = [](const Rect& r) { return std::array<int32_t, 4>{r.X, r.Y, r.Width, r.Height}; };
    const auto parts = view::Around({20, 10, 50, 30}, 200, 100);
    EXPECT_EQ((std::array<int32_t, 4>{0, 0, 200, 10}), fields(parts[0]));   // above
    EXPECT_EQ((std::array<int32_t, 4>{0, 40, 200, 60}), fields(parts[1]));  // below
    EXPECT_EQ((std::array<int32_t, 4>{0, 10, 20, 30}), fields(parts[2]));   // left
    EXPECT_EQ((std::array<int32_t, 4>{70, 10, 130, 30}), fields(parts[3])); // right
    auto area = [](const std::array<Rect, 4>& rest) {
        int64_t sum = 0;
        for (const Rect& r : rest) sum += int64_t(std::max(0, r.Width)) * std::max(0, r.Height);
        return sum;
    };
    EXPECT_EQ(0, area(view::Around({0, 0, 200, 100}, 200, 100)));      // shows all of it
    EXPECT_EQ(20000, area(view::Around({300, 10, 50, 30}, 200, 100))); // shows none of it
    EXPECT_EQ(20000, area(view::Around({INT_MIN, INT_MIN, INT_MAX, INT_MAX}, 200, 100)));
    EXPECT_EQ(0, area(view::Around({-5, -5, INT_MAX, INT_MAX}, 200, 100)));
}

} // namespace
