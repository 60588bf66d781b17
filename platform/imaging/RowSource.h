#pragma once
// A picture handed to an encoder a band of rows at a time, so that it need never be held
// whole: a large warp result is rendered band by band as the encoder takes it.

#include "Bitmap.h"

#include <cstdint>

namespace imaging {

class RowSource {
public:
    virtual ~RowSource() = default;
    virtual uint32_t Width() const = 0;
    virtual uint32_t Height() const = 0;
    // Overwrites every pixel of `band` (PixelFormat32bppARGB, Width() pixels wide) with the
    // picture's rows [firstRow, firstRow + band height), which lie inside the picture. Asked
    // for any rows in any order, some more than once.
    virtual void Render(Bitmap& band, uint32_t firstRow) = 0;
};

} // namespace imaging
