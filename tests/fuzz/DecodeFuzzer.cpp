// Bytes as an image file: decoded, and when that works, copied to 32-bit ARGB and warped as
// the program does it. Nothing may crash, leak or read outside a buffer.

#include "files/ImageFiles.h"
#include "imaging/Bitmap.h"
#include "warp/WarpImageToQuad.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// Images up to a megapixel: inputs that claim more are refused before anything is allocated,
// so the fuzzer explores instead of filling memory (the program's own limit has tests of its
// own). Only small ones (4096 pixels) are warped: under the fuzzer's instrumentation the warp
// costs far more than the decode, and fuzz_warp explores the warp itself.
constexpr int64_t kDecodeLimit = int64_t(1) << 20, kWarpLimit = int64_t(1) << 12;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    imaging::SetDecodeLimit(kDecodeLimit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace imaging;
    std::unique_ptr<Bitmap> decoded(Bitmap::FromMemory(data, size));
    if (!decoded->HasContent()) return 0;
    const int32_t w = int32_t(decoded->GetWidth()), h = int32_t(decoded->GetHeight());
    if (int64_t(w) * h > kWarpLimit) return 0;
    std::unique_ptr<Bitmap> copy(decoded->Clone({0, 0, w, h}, decoded->GetPixelFormat()));
    std::unique_ptr<Bitmap> argb(decoded->Clone({0, 0, w, h}, PixelFormat32bppARGB));
    if (!copy || !argb) __builtin_trap(); // a decoded image must copy
    const uint8_t pick = size > 0 ? data[size - 1] : 0;
    const warp::Corners corners{
        {pick % 7, pick % 5}, {w - pick % 3, pick % 11}, {w + pick % 9, h - pick % 4}, {pick % 2, h}};
    std::unique_ptr<Bitmap> result(warp::WarpToNewBitmap(copy.get(), corners));
    return 0;
}
