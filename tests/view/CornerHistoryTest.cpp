// The history of corner moves on its own: its bound (the view's tests drive the rest).

#include "view/CornerHistory.h"

#include <gtest/gtest.h>

namespace {

using imaging::Point;
using view::CornerHistory;
using view::CornerQuad;

CornerQuad Quad(int32_t x) { return {Point{x, 0}, Point{100, 0}, Point{100, 80}, Point{0, 80}, Point{x, 0}}; }

TEST(CornerHistory, KeepsAtMostItsBound) {
    CornerHistory history;
    history.Start(Quad(0));
    for (int i = 1; i <= int(CornerHistory::kMostSteps) + 50; ++i) history.Add(Quad(i));
    int undone = 0;
    while (history.Undo()) ++undone;
    EXPECT_EQ(int(CornerHistory::kMostSteps), undone);
    EXPECT_EQ(Quad(50), history.Current().corners); // the oldest steps went
}

} // namespace
