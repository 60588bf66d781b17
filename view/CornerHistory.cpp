#include "CornerHistory.h"

namespace view {

void CornerHistory::Start(const CornerQuad& opened, const warp::Transform& transform) {
    m_states = {State{opened, transform, true, m_nextId++}};
    m_at = 0;
}

void CornerHistory::Add(const CornerQuad& corners, const warp::Transform& transform) {
    if (corners == Current().corners && transform == Current().transform) return;
    m_states.erase(m_states.begin() + std::ptrdiff_t(m_at) + 1, m_states.end());
    m_states.push_back({corners, transform, false, m_nextId++});
    if (m_states.size() > kMostSteps + 1) m_states.pop_front();
    m_at = m_states.size() - 1;
}

const CornerHistory::State* CornerHistory::Undo() {
    if (!CanUndo()) return nullptr;
    return &m_states[--m_at];
}

const CornerHistory::State* CornerHistory::Redo() {
    if (!CanRedo()) return nullptr;
    return &m_states[++m_at];
}

} // namespace view
