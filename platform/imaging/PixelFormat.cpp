#include "PixelFormat.h"

namespace imaging {

bool IsKnownPixelFormat(PixelFormat format) {
    for (PixelFormat f : kAllPixelFormats)
        if (f == format) return true;
    return false;
}

int64_t StrideFor(PixelFormat format, int64_t width) {
    int64_t stride = (width * GetPixelFormatSize(format) + 31) / 32 * 4;
    return stride > INT32_MAX ? -1 : stride;
}

} // namespace imaging
