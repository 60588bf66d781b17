// The history of corner moves on its own: steps, undo, redo, dropped redo steps, the bound.

#include "view/CornerHistory.h"

#include <gtest/gtest.h>

namespace {

using imaging::Point;
using view::CornerHistory;
using view::CornerQuad;

CornerQuad Quad(int32_t x) { return {Point{x, 0}, Point{100, 0}, Point{100, 80}, Point{0, 80}, Point{x, 0}}; }

TEST(CornerHistory, UndoRedoAndNewStepsAfterUndo) {
    CornerHistory history;
    history.Start(Quad(0));
    const uint64_t opened = history.Current().id;
    EXPECT_TRUE(history.Current().opened);
    EXPECT_EQ(nullptr, history.Undo());
    history.Add(Quad(0)); // unchanged corners: no step
    EXPECT_EQ(opened, history.Current().id);
    history.Add(Quad(5));
    history.Add(Quad(9));
    EXPECT_FALSE(history.Current().opened);
    EXPECT_EQ(Quad(5), history.Undo()->corners);
    const CornerHistory::State* start = history.Undo();
    ASSERT_NE(nullptr, start);
    EXPECT_TRUE(start->opened);
    EXPECT_EQ(opened, start->id);
    EXPECT_EQ(nullptr, history.Undo());
    EXPECT_EQ(Quad(5), history.Redo()->corners);
    history.Add(Quad(7)); // drops the step to 9
    EXPECT_EQ(nullptr, history.Redo());
    EXPECT_EQ(Quad(5), history.Undo()->corners);
    EXPECT_EQ(Quad(7), history.Redo()->corners);
    // A new image starts anew, with an id never seen before.
    history.Start(Quad(1));
    EXPECT_EQ(nullptr, history.Undo());
    EXPECT_NE(opened, history.Current().id);
}

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
