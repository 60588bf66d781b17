#pragma once
// Where a render writes: the whole result, or a band of its rows, so that a result too large
// to hold can be rendered and encoded a band at a time.

#include "imaging/Bitmap.h"

#include <cstdint>

namespace warp {

// `bitmap` (PixelFormat32bppARGB, the result's width) holds the result's rows
// [firstRow, firstRow + its height) of a result `width` x `height` pixels.
struct ResultRows {
    imaging::Bitmap* bitmap = nullptr;
    int64_t firstRow = 0;
    int64_t width = 0, height = 0;

    // `bitmap` is the whole result.
    static ResultRows Whole(imaging::Bitmap* bitmap) {
        return {bitmap, 0, bitmap ? int64_t(bitmap->GetWidth()) : 0,
                bitmap ? int64_t(bitmap->GetHeight()) : 0};
    }
};

} // namespace warp
