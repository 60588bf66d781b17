#include "Orientation.h"

#include "ParallelRows.h"

#include <QTransform>

#include <algorithm>
#include <cstring>

namespace imaging {

// The orientations name where the stored rows and columns go: 6 puts row 0 on the right and
// column 0 at the top, a quarter turn clockwise; 5 and 7 are that turn with a mirror.
QImage Upright(const QImage& stored, int orientation) {
    const QTransform quarter = QTransform().rotate(90);
    switch (orientation) {
    case 2: return stored.mirrored(true, false);
    case 3: return stored.mirrored(true, true);
    case 4: return stored.mirrored(false, true);
    case 5: return stored.transformed(quarter).mirrored(true, false);
    case 6: return stored.transformed(quarter);
    case 7: return stored.transformed(quarter).mirrored(false, true);
    case 8: return stored.transformed(QTransform().rotate(270));
    default: return stored;
    }
}

namespace {

// Where upright pixel (x, y) is stored, as a row and a column: r = r0 + x * rx + y * ry,
// c = c0 + x * cx + y * cy.
struct Walk {
    int32_t r0, rx, ry, c0, cx, cy;
};

Walk WalkFor(int orientation, int32_t w, int32_t h) { // w x h: the upright size
    switch (orientation) {
    case 2: return {0, 0, 1, w - 1, -1, 0};
    case 3: return {h - 1, 0, -1, w - 1, -1, 0};
    case 4: return {h - 1, 0, -1, 0, 1, 0};
    case 5: return {0, 1, 0, 0, 0, 1};
    case 6: return {w - 1, -1, 0, 0, 0, 1};
    case 7: return {w - 1, -1, 0, h - 1, 0, -1};
    case 8: return {0, 1, 0, h - 1, 0, -1};
    default: return {0, 0, 1, 0, 1, 0};
    }
}

// Upright rows [first, last). A quarter turn reads down the stored columns; it goes in
// blocks of rows, so that for each x the stored row is read in one run while the block's
// upright rows stay in the cache.
template <int B>
void OrientRows(const uint8_t* src, int32_t srcStride, const Walk& k, int32_t w, uint8_t* dst, int32_t dstStride,
                int32_t first, int32_t last) {
    const int64_t stepX = int64_t(k.rx) * srcStride + int64_t(k.cx) * B;
    const int64_t stepY = int64_t(k.ry) * srcStride + int64_t(k.cy) * B;
    constexpr int32_t kBlock = 32;
    for (int32_t y0 = first; y0 < last; y0 += kBlock) {
        const int32_t y1 = std::min(last, y0 + kBlock);
        const uint8_t* corner = src + (int64_t(k.r0) + int64_t(y0) * k.ry) * srcStride + (int64_t(k.c0) + int64_t(y0) * k.cy) * B;
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t* p = corner + x * stepX;
            for (int32_t y = y0; y < y1; ++y, p += stepY) std::memcpy(dst + int64_t(y) * dstStride + int64_t(x) * B, p, B);
        }
    }
}

} // namespace

void OrientPixels(const uint8_t* src, int32_t srcStride, int32_t width, int32_t height, int bytesPerPixel,
                  int orientation, uint8_t* dst, int32_t dstStride) {
    const bool turned = TurnsAQuarter(orientation);
    const int32_t w = turned ? height : width, h = turned ? width : height;
    const Walk k = WalkFor(orientation, w, h);
    ParallelRows(h, [&](int32_t first, int32_t last) {
        if (bytesPerPixel == 3) OrientRows<3>(src, srcStride, k, w, dst, dstStride, first, last);
        else OrientRows<1>(src, srcStride, k, w, dst, dstStride, first, last);
    });
}

} // namespace imaging
