// Bytes as an image file: decoded, and when that works, copied to 32-bit ARGB and warped as
// the program does it. Nothing may crash, leak or read outside a buffer.

#include "files/ImageFiles.h"
#include "imaging/Bitmap.h"
#include "warp/WarpImageToQuad.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace imaging;
    // Keep each run small: files that state a large size are refused or skipped here (the
    // refusal of sizes beyond the program's limit has a test of its own).
    {
        const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        const QSize stated = QImageReader(&buffer).size();
        if (stated.isValid() && int64_t(stated.width()) * stated.height() > 1 << 20) return 0;
    }
    std::unique_ptr<Bitmap> decoded(Bitmap::FromMemory(data, size));
    if (!decoded->HasContent()) return 0;
    const int32_t w = int32_t(decoded->GetWidth()), h = int32_t(decoded->GetHeight());
    if (int64_t(w) * h > 1 << 20) return 0;
    std::unique_ptr<Bitmap> copy(decoded->Clone({0, 0, w, h}, decoded->GetPixelFormat()));
    std::unique_ptr<Bitmap> argb(decoded->Clone({0, 0, w, h}, PixelFormat32bppARGB));
    if (!copy || !argb) __builtin_trap(); // a decoded image must copy
    const uint8_t pick = size > 0 ? data[size - 1] : 0;
    const warp::Corners corners{
        {pick % 7, pick % 5}, {w - pick % 3, pick % 11}, {w + pick % 9, h - pick % 4}, {pick % 2, h}};
    std::unique_ptr<Bitmap> result(warp::WarpToNewBitmap(copy.get(), corners));
    return 0;
}
