#pragma once
// Undo and redo of corner moves: the corners after each completed drag that changed them, and
// after each change of the transform, back to those an image was opened with. Only corners and
// transforms are kept, at most kMostSteps of them.

#include "imaging/Types.h"
#include "warp/Transform.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace view {

// Corners 0 to 3 (top-left, top-right, bottom-right, bottom-left after a reset) and a fifth
// point equal to corner 0, so that the outline is one closed polyline.
using CornerQuad = std::array<imaging::Point, 5>;

class CornerHistory {
public:
    struct State {
        CornerQuad corners;
        warp::Transform transform;
        bool opened;  // the image as opened, unwarped
        uint64_t id;  // tells states apart, also across Start
    };
    static constexpr size_t kMostSteps = 1000;

    // A new image, shown unwarped with these corners; the history before is gone.
    void Start(const CornerQuad& opened, const warp::Transform& transform = {});
    // A completed drag or a new transform rendered `corners`: one step, unless both are the
    // current ones. Steps that were undone are dropped; beyond kMostSteps the oldest goes.
    void Add(const CornerQuad& corners, const warp::Transform& transform = {});
    // The state to show after stepping back or forward; null where there is none.
    const State* Undo();
    const State* Redo();
    // The state shown; before Start, an opened state of no corners.
    const State& Current() const { return m_states[m_at]; }
    bool CanUndo() const { return m_at > 0; }
    bool CanRedo() const { return m_at + 1 < m_states.size(); }

private:
    std::deque<State> m_states{State{{}, {}, true, 0}};
    size_t m_at = 0;
    uint64_t m_nextId = 1;
};

} // namespace view
