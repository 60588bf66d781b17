#pragma once
// Crossings the vector mapping may keep from one row to the next.

#include "QuadMapping.h"

#include <cstdint>
#include <memory>

namespace warp {

// A run's share of a ColumnMemo: kFields blocks `stride` doubles apart (data null: none).
struct ColumnFields {
    double* data = nullptr;
    int64_t stride = 0;
};

// Crossings kept for the columns [first, first + columns). Where the quad has no column
// vanishing point every column line has the same slope, and a line's crossings with the top
// and bottom edges depend on the row only through its intercept rounded to single; for steep
// lines (vertical edges) that changes only every few hundred rows. One memo serves one mapping
// on one thread; it starts empty, and keeps nothing if its memory could not be had.
class ColumnMemo {
public:
    ColumnMemo(int32_t first, int32_t columns);
    // True where keeping pays: no column vanishing point, and column lines steeper than 2^20.
    static bool Pays(const QuadMapping& m);
    static constexpr int kFields = 7;
    // The fields for the columns [x, x + count), 64-byte aligned; none unless x is a multiple
    // of 8 columns from `first` and they all lie inside.
    ColumnFields At(int32_t x, int32_t count) const;

private:
    std::unique_ptr<double[]> m_storage;
    double* m_data;
    int32_t m_first, m_columns;
    int64_t m_stride;
};

} // namespace warp
