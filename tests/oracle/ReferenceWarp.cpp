#include "ReferenceWarp.h"

#include "warp/Geometry.h"
#include "warp/WarpImageToQuad.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace oracle {

using namespace imaging;
using warp::EdgePoint;
using warp::LineIntersection;
using warp::LineSlope;
using warp::PointDistance;

namespace {

int32_t ToInt32(double value) {
    if (!std::isfinite(value)) return INT32_MIN;
    const double t = std::trunc(value);
    if (t < -2147483648.0 || t > 2147483647.0) return INT32_MIN;
    return int32_t(t);
}

uint8_t TruncToByte(double value) {
    if (std::isnan(value)) return 0;
    const double t = std::trunc(value);
    if (t <= 0.0) return 0;
    if (t >= 255.0) return 255;
    return uint8_t(t);
}

struct Yielded {
    double c[4] = {0, 0, 0, 0}; // B, G, R, A
};

} // namespace

void ReferenceWarpImageToQuad(Bitmap* source, Bitmap* destination, Point TL, Point TR,
                              Point BL, Point BR, int n) {
    const PixelFormat format = source->GetPixelFormat();
    const int bpp = warp::BytesPerPixel(format);
    const double W = double(source->GetWidth());
    const double H = double(source->GetHeight());

    int32_t maxX = TL.X;
    if (TR.X > maxX) maxX = TR.X;
    if (BL.X > maxX) maxX = BL.X;
    if (BR.X > maxX) maxX = BR.X;
    int32_t maxY = TL.Y;
    if (TR.Y > maxY) maxY = TR.Y;
    if (BL.Y > maxY) maxY = BL.Y;
    if (BR.Y > maxY) maxY = BR.Y;

    const Rect all{0, 0, int32_t(source->GetWidth()), int32_t(source->GetHeight())};
    BitmapData in, out;
    if (source->LockBits(&all, ImageLockModeRead, format, &in) != Ok) return;
    if (destination->LockBits(&all, ImageLockModeWrite, PixelFormat32bppARGB, &out) != Ok) {
        source->UnlockBits(&in);
        return;
    }
    // Formats other than 24 and 32 bits are read for their true colour, through a converted
    // copy read with four bytes per pixel.
    const bool asStored = bpp == 3 || bpp == 4;
    std::unique_ptr<Bitmap> trueColor;
    BitmapData converted;
    if (!asStored) {
        trueColor = source->Clone(all, PixelFormat32bppARGB);
        trueColor->LockBits(&all, ImageLockModeRead, PixelFormat32bppARGB, &converted);
    }
    const uint8_t* srcScan0 = asStored ? static_cast<uint8_t*>(in.Scan0) : static_cast<uint8_t*>(converted.Scan0);
    const int32_t srcStride = asStored ? in.Stride : converted.Stride;
    const int srcBpp = asStored ? bpp : 4;

    const PointF tl{float(TL.X), float(TL.Y)}, tr{float(TR.X), float(TR.Y)};
    const PointF bl{float(BL.X), float(BL.Y)}, br{float(BR.X), float(BR.Y)};
    const float kTop = LineSlope(tl, tr);
    const float kBottom = LineSlope(br, bl);
    const float kLeft = LineSlope(tl, bl);
    const float kRight = LineSlope(tr, br);
    const PointF Vr = LineIntersection(tr, kTop, br, kBottom);
    const PointF Vc = LineIntersection(tl, kLeft, tr, kRight);
    if (n <= 0) n = 1;

    std::vector<Yielded> hood(size_t(n) * size_t(n));
    for (int32_t y = 0; y < maxY && y < int32_t(H); ++y) {
        for (int32_t x = 0; x < maxX && x < int32_t(W); ++x) {
            const PointF P{float(x), float(y)};
            float kRow = kTop, kCol = kRight;
            if (Vr.X != 0 && Vr.Y != 0) kRow = LineSlope(Vr, P);
            if (Vc.X != 0 && Vc.Y != 0) kCol = LineSlope(Vc, P);

            const PointF IL = EdgePoint(P, kRow, tl, kLeft);
            const PointF IR = EdgePoint(P, kRow, br, kRight);
            const PointF IT = EdgePoint(P, kCol, tr, kTop);
            const PointF IB = EdgePoint(P, kCol, bl, kBottom);

            float dL = PointDistance(IL, P);
            float dLR = PointDistance(IL, IR);
            float dT = PointDistance(IT, P);
            float dTB = PointDistance(IT, IB);
            if (PointDistance(IR, P) > dLR) dL = -dL;
            if (PointDistance(IB, P) > dTB) dT = -dT;

            double u = (W * dL) / dLR;
            double v = (H * dT) / dTB;
            if (u < 0) u = u - 1;
            if (v < 0) v = v - 1;
            const int32_t iu = ToInt32(u), iv = ToInt32(v);
            if ((iu < -1 || iu > W) && (iv < -1 || iv > H)) continue;
            const double fx = u - iu, fy = v - iv;

            for (int i = 0; i < n; ++i) {
                for (int j = 0; j < n; ++j) {
                    Yielded& yv = hood[size_t(i) * n + j];
                    const int64_t sx = int64_t(iu) + i, sy = int64_t(iv) + j;
                    if (sx >= 1 && sy >= 1 && sx < W && sy < H) {
                        const uint8_t* p = srcScan0 + sy * srcStride + sx * srcBpp;
                        yv.c[0] = p[0];
                        yv.c[1] = p[1];
                        yv.c[2] = p[2];
                        yv.c[3] = srcBpp == 4 ? p[3] : 255;
                    } else {
                        yv = Yielded{};
                    }
                }
            }
            uint8_t pixel[4];
            for (int c = 0; c < 4; ++c) {
                if (n == 1) {
                    pixel[c] = uint8_t(hood[0].c[c]);
                    continue;
                }
                // Rows of the neighbourhood first (j = 0 and 1), then down the column.
                const double h0 = TruncToByte((1 - fx) * hood[0 * n + 0].c[c] + fx * hood[1 * n + 0].c[c]);
                const double h1 = TruncToByte((1 - fx) * hood[0 * n + 1].c[c] + fx * hood[1 * n + 1].c[c]);
                pixel[c] = TruncToByte((1 - fy) * h0 + fy * h1);
            }
            if (pixel[3] != 0) {
                uint8_t* d = static_cast<uint8_t*>(out.Scan0) + int64_t(y) * out.Stride + 4 * int64_t(x);
                for (int k = 0; k < 4; ++k) d[k] = pixel[k];
            }
        }
    }
    if (trueColor) trueColor->UnlockBits(&converted);
    source->UnlockBits(&in);
    destination->UnlockBits(&out);
}

} // namespace oracle
