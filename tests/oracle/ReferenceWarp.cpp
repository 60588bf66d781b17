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

// The source as the warp reads it, locked for the whole render.
class PlainSource {
public:
    explicit PlainSource(Bitmap* source) : m_source(source) {
        const PixelFormat format = source->GetPixelFormat();
        const int bpp = warp::BytesPerPixel(format);
        W = double(source->GetWidth());
        H = double(source->GetHeight());
        const Rect all{0, 0, int32_t(source->GetWidth()), int32_t(source->GetHeight())};
        m_locked = source->LockBits(&all, ImageLockModeRead, format, &m_in) == Ok;
        if (!m_locked) return;
        // Formats other than 24 and 32 bits are read for their true colour, through a
        // converted copy read with four bytes per pixel.
        const bool asStored = bpp == 3 || bpp == 4;
        if (!asStored) {
            m_trueColor = source->Clone(all, PixelFormat32bppARGB);
            m_trueColor->LockBits(&all, ImageLockModeRead, PixelFormat32bppARGB, &m_converted);
        }
        m_scan0 = static_cast<uint8_t*>(asStored ? m_in.Scan0 : m_converted.Scan0);
        m_stride = asStored ? m_in.Stride : m_converted.Stride;
        m_bpp = asStored ? bpp : 4;
    }
    ~PlainSource() {
        if (!m_locked) return;
        if (m_trueColor) m_trueColor->UnlockBits(&m_converted);
        m_source->UnlockBits(&m_in);
    }
    bool Locked() const { return m_locked; }

    // Samples around source position (u, v), already moved one down where negative, and
    // writes the pixel to d unless it is passed over or its alpha is 0.
    void SampleInto(uint8_t* d, double u, double v, int n) {
        const int32_t iu = ToInt32(u), iv = ToInt32(v);
        if ((iu < -1 || iu > W) && (iv < -1 || iv > H)) return;
        const double fx = u - iu, fy = v - iv;
        hood.resize(size_t(n) * size_t(n));
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                Yielded& yv = hood[size_t(i) * n + j];
                const int64_t sx = int64_t(iu) + i, sy = int64_t(iv) + j;
                if (sx >= 1 && sy >= 1 && sx < W && sy < H) {
                    const uint8_t* p = m_scan0 + sy * m_stride + sx * m_bpp;
                    yv.c[0] = p[0];
                    yv.c[1] = p[1];
                    yv.c[2] = p[2];
                    yv.c[3] = m_bpp == 4 ? p[3] : 255;
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
        if (pixel[3] != 0)
            for (int k = 0; k < 4; ++k) d[k] = pixel[k];
    }

    double W = 0, H = 0;

private:
    Bitmap* m_source;
    bool m_locked = false;
    BitmapData m_in{}, m_converted{};
    std::unique_ptr<Bitmap> m_trueColor;
    const uint8_t* m_scan0 = nullptr;
    int32_t m_stride = 0;
    int m_bpp = 0;
    std::vector<Yielded> hood;
};

} // namespace

void ReferenceWarpImageToQuad(Bitmap* source, Bitmap* destination, Point TL, Point TR,
                              Point BL, Point BR, int n, bool destinationSize) {
    PlainSource plain(source);
    const double W = plain.W, H = plain.H;

    int32_t maxX = TL.X;
    if (TR.X > maxX) maxX = TR.X;
    if (BL.X > maxX) maxX = BL.X;
    if (BR.X > maxX) maxX = BR.X;
    int32_t maxY = TL.Y;
    if (TR.Y > maxY) maxY = TR.Y;
    if (BL.Y > maxY) maxY = BL.Y;
    if (BR.Y > maxY) maxY = BR.Y;

    if (!plain.Locked()) return;
    const Rect all = destinationSize ? Rect{0, 0, int32_t(destination->GetWidth()), int32_t(destination->GetHeight())}
                                     : Rect{0, 0, int32_t(W), int32_t(H)};
    BitmapData out;
    if (destination->LockBits(&all, ImageLockModeWrite, PixelFormat32bppARGB, &out) != Ok) return;

    const PointF tl{float(TL.X), float(TL.Y)}, tr{float(TR.X), float(TR.Y)};
    const PointF bl{float(BL.X), float(BL.Y)}, br{float(BR.X), float(BR.Y)};
    const float kTop = LineSlope(tl, tr);
    const float kBottom = LineSlope(br, bl);
    const float kLeft = LineSlope(tl, bl);
    const float kRight = LineSlope(tr, br);
    const PointF Vr = LineIntersection(tr, kTop, br, kBottom);
    const PointF Vc = LineIntersection(tl, kLeft, tr, kRight);
    if (n <= 0) n = 1;

    for (int32_t y = 0; y < maxY && y < all.Height; ++y) {
        for (int32_t x = 0; x < maxX && x < all.Width; ++x) {
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
            plain.SampleInto(static_cast<uint8_t*>(out.Scan0) + int64_t(y) * out.Stride + 4 * int64_t(x), u, v, n);
        }
    }
    destination->UnlockBits(&out);
}

} // namespace oracle

namespace oracle {

void ReferenceWarpPerspective(Bitmap* source, Bitmap* destination, const warp::Homography& toSource, int n) {
    PlainSource plain(source);
    if (!plain.Locked()) return;
    const Rect all{0, 0, int32_t(destination->GetWidth()), int32_t(destination->GetHeight())};
    BitmapData out;
    if (destination->LockBits(&all, ImageLockModeWrite, PixelFormat32bppARGB, &out) != Ok) return;
    if (n <= 0) n = 1;
    const double* m = toSource.m;
    for (int32_t y = 0; y < all.Height; ++y) {
        for (int32_t x = 0; x < all.Width; ++x) {
            const double w = m[6] * x + (m[7] * y + m[8]);
            double u = (m[0] * x + (m[1] * y + m[2])) / w;
            double v = (m[3] * x + (m[4] * y + m[5])) / w;
            if (u < 0) u = u - 1;
            if (v < 0) v = v - 1;
            plain.SampleInto(static_cast<uint8_t*>(out.Scan0) + int64_t(y) * out.Stride + 4 * int64_t(x), u, v, n > 2 ? 2 : n);
        }
    }
    destination->UnlockBits(&out);
}

} // namespace oracle
