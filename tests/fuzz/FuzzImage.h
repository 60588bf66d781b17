#pragma once
// Bitmaps made of a fuzzer's bytes.

#include "imaging/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace fuzzing {

// A bitmap of the given format and size whose pixel bytes, then palette (indexed formats),
// are taken from `bytes`, repeated as far as needed. Its bytes are left zero when `size` is 0.
inline std::unique_ptr<imaging::Bitmap> ImageFromBytes(imaging::PixelFormat format, int32_t width, int32_t height,
                                                       const uint8_t* bytes, size_t size) {
    using namespace imaging;
    auto image = std::make_unique<Bitmap>(width, height, format);
    if (size == 0) return image;
    BitmapData locked;
    image->LockBits(nullptr, ImageLockModeWrite, format, &locked);
    const size_t rowBytes = size_t((int64_t(width) * GetPixelFormatSize(format) + 7) / 8);
    size_t at = 0;
    for (int32_t y = 0; y < height; ++y)
        for (size_t i = 0; i < rowBytes; ++i) static_cast<uint8_t*>(locked.Scan0)[y * locked.Stride + i] = bytes[at++ % size];
    image->UnlockBits(&locked);
    if (IsIndexedPixelFormat(format)) {
        uint32_t palette[256];
        for (uint32_t& entry : palette) {
            entry = 0;
            for (int k = 0; k < 4; ++k) entry = entry << 8 | bytes[at++ % size];
        }
        image->SetPalette(palette, PaletteSizeOf(format));
    }
    return image;
}

} // namespace fuzzing
