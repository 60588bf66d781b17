#include "ColumnMemo.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace warp {

ColumnMemo::ColumnMemo(int32_t first, int32_t columns)
    : m_first(first), m_columns(std::max(columns, 0)), m_stride((int64_t(m_columns) + 7) & ~int64_t(7)) {
    // Eight doubles of slack to align the start to 64 bytes; the keys start as NaN, which no
    // intercept equals.
    m_storage.reset(new (std::nothrow) double[size_t(kFields * m_stride + 8)]);
    if (m_storage == nullptr) {
        m_data = nullptr;
        return;
    }
    const auto address = reinterpret_cast<uintptr_t>(m_storage.get());
    m_data = m_storage.get() + ((64 - address % 64) % 64) / sizeof(double);
    std::fill_n(m_data, m_stride, std::nan(""));
}

bool ColumnMemo::Pays(const QuadMapping& m) { return !m.useColVanish && std::fabs(m.kRight) > 0x1p20f; }

ColumnFields ColumnMemo::At(int32_t x, int32_t count) const {
    const int64_t offset = int64_t(x) - m_first;
    if (m_data == nullptr || offset < 0 || count < 0 || offset + count > m_columns || offset % 8 != 0)
        return {};
    return {m_data + offset, m_stride};
}

} // namespace warp
