#include "ReferenceSmooth.h"

#include "imaging/PixelCodec.h"
#include "warp/QuadMapping.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>

namespace oracle {

using namespace imaging;

namespace {

// The source in true colour, and its reduced copies' texels worked out on demand.
class Levels {
public:
    explicit Levels(Bitmap* source) {
        W = int32_t(source->GetWidth());
        H = int32_t(source->GetHeight());
        const Rect all{0, 0, W, H};
        m_argb = source->Clone(all, PixelFormat32bppARGB);
        m_argb->LockBits(&all, ImageLockModeRead, PixelFormat32bppARGB, &m_data);
        // Copies are made while the smaller side keeps more than one pixel, four at most.
        while (top < 4 && (((W - 1) >> top) > 0 || ((H - 1) >> top) > 0)) ++top;
    }
    ~Levels() { m_argb->UnlockBits(&m_data); }

    int32_t Width(int k) const { return (W + (1 << k) - 1) >> k; }
    int32_t Height(int k) const { return (H + (1 << k) - 1) >> k; }

    // Premultiplied B, G, R and alpha of texel (x, y) of level k, all scaled by 255.
    void Texel(int k, int32_t x, int32_t y, uint32_t t[4]) const {
        if (k == 0) {
            const Bgra c = Pixel(x, y);
            t[0] = c.B * uint32_t(c.A);
            t[1] = c.G * uint32_t(c.A);
            t[2] = c.R * uint32_t(c.A);
            t[3] = c.A * 255u;
            return;
        }
        uint32_t sum[4] = {0, 0, 0, 0}, count = 0;
        for (int32_t j = y << k; j < ((y + 1) << k) && j < H; ++j)
            for (int32_t i = x << k; i < ((x + 1) << k) && i < W; ++i) {
                const Bgra c = Pixel(i, j);
                sum[0] += pixel::Premultiply8(c.B, c.A);
                sum[1] += pixel::Premultiply8(c.G, c.A);
                sum[2] += pixel::Premultiply8(c.R, c.A);
                sum[3] += c.A;
                ++count;
            }
        for (int c = 0; c < 4; ++c) t[c] = (sum[c] + count / 2) / count * 255u;
    }

    int32_t W = 0, H = 0;
    int top = 0; // the highest copy

private:
    Bgra Pixel(int32_t x, int32_t y) const {
        const uint8_t* p = static_cast<const uint8_t*>(m_data.Scan0) + int64_t(y) * m_data.Stride + 4 * x;
        return {p[0], p[1], p[2], p[3]};
    }

    std::unique_ptr<Bitmap> m_argb;
    BitmapData m_data{};
};

struct Position {
    double u, v;
    bool mapped;
};

Position Corner(const warp::TransformPlan& plan, const warp::QuadMapping& quad, int32_t x, int32_t y) {
    if (plan.toSource) {
        const warp::Homography::Mapped p = plan.toSource->Map(x, y);
        return {p.x, p.y, true};
    }
    warp::SourcePosition p = warp::MapToSource(quad, x, y);
    const bool mapped = warp::TruncateToIndex(p.u) != INT32_MIN && warp::TruncateToIndex(p.v) != INT32_MIN;
    if (p.u < 0) p.u += 1;
    if (p.v < 0) p.v += 1;
    return {p.u, p.v, mapped};
}

} // namespace

void ReferenceSmooth(Bitmap* source, Bitmap* destination, const warp::TransformPlan& plan) {
    if (!plan.problem.empty()) return;
    Levels levels(source);
    const double W = levels.W, H = levels.H;
    const warp::QuadMapping quad = warp::MakeQuadMapping(plan.corners, levels.W, levels.H);
    const Rect all{0, 0, int32_t(destination->GetWidth()), int32_t(destination->GetHeight())};
    BitmapData out;
    if (destination->LockBits(&all, ImageLockModeWrite, PixelFormat32bppARGB, &out) != Ok) return;
    // Placed on the corners, only pixels left of and above their largest X and Y; by the
    // projective map also none left of or above their least.
    int32_t left = 0, top = 0, right = all.Width, bottom = all.Height;
    if (plan.transform.direction == warp::Direction::Place) {
        const warp::Corners& c = plan.corners;
        right = std::clamp(std::max({c.topLeft.X, c.topRight.X, c.bottomRight.X, c.bottomLeft.X}), 0, right);
        bottom =
            std::clamp(std::max({c.topLeft.Y, c.topRight.Y, c.bottomRight.Y, c.bottomLeft.Y}), 0, bottom);
        if (plan.toSource) {
            left = std::clamp(std::min({c.topLeft.X, c.topRight.X, c.bottomRight.X, c.bottomLeft.X}), 0, right);
            top = std::clamp(std::min({c.topLeft.Y, c.topRight.Y, c.bottomRight.Y, c.bottomLeft.Y}), 0, bottom);
        }
    }
    for (int32_t y = top; y < bottom; ++y) {
        for (int32_t x = left; x < right; ++x) {
            const Position p00 = Corner(plan, quad, x, y), p10 = Corner(plan, quad, x + 1, y);
            const Position p01 = Corner(plan, quad, x, y + 1), p11 = Corner(plan, quad, x + 1, y + 1);
            const Position p[4] = {p00, p10, p01, p11};
            bool skip = false, inside = true;
            int left = 0, rightOf = 0, above = 0, below = 0;
            for (const Position& q : p) {
                if (!q.mapped || !std::isfinite(q.u) || !std::isfinite(q.v)) skip = true;
                if (q.u < 0) ++left;
                if (q.u > W) ++rightOf;
                if (q.v < 0) ++above;
                if (q.v > H) ++below;
                if (q.u < 0 || q.u > W || q.v < 0 || q.v > H) inside = false;
            }
            if (skip || left == 4 || rightOf == 4 || above == 4 || below == 4) continue;

            // The footprint's mean sides, squared, and the copy the shorter one picks: the
            // last whose pixels' side is at most 4/7 of it.
            const double acrossU = ((p10.u - p00.u) + (p11.u - p01.u)) * 0.5;
            const double acrossV = ((p10.v - p00.v) + (p11.v - p01.v)) * 0.5;
            const double downU = ((p01.u - p00.u) + (p11.u - p10.u)) * 0.5;
            const double downV = ((p01.v - p00.v) + (p11.v - p10.v)) * 0.5;
            const double across = acrossU * acrossU + acrossV * acrossV;
            const double down = downU * downU + downV * downV;
            int k = 0;
            while (k < levels.top && std::min(across, down) >= 12.25 * std::pow(4.0, k)) ++k;
            const double size = std::pow(2.0, k);
            // Samples: one for up to one and a half copy pixels, one more for each pixel more.
            int nx = 1, ny = 1;
            while (nx < 16 && (nx + 0.5) * (nx + 0.5) * size * size < across) ++nx;
            while (ny < 16 && (ny + 0.5) * (ny + 0.5) * size * size < down) ++ny;
            if (!inside) {
                nx = std::max(nx, 8);
                ny = std::max(ny, 8);
            }

            uint64_t sum[4] = {0, 0, 0, 0};
            for (int j = 0; j < ny; ++j) {
                for (int i = 0; i < nx; ++i) {
                    const double tx = double(2 * i + 1) / double(2 * nx),
                                 ty = double(2 * j + 1) / double(2 * ny);
                    const double topU = p00.u + (p10.u - p00.u) * tx, bottomU = p01.u + (p11.u - p01.u) * tx;
                    const double topV = p00.v + (p10.v - p00.v) * tx, bottomV = p01.v + (p11.v - p01.v) * tx;
                    const double u = topU + (bottomU - topU) * ty, v = topV + (bottomV - topV) * ty;
                    if (u < 0 || u >= W || v < 0 || v >= H) continue;
                    // Bilinear between texel centres of copy k, clamped at its border.
                    const double lu = u / size - 0.5, lv = v / size - 0.5;
                    const int32_t iu = int32_t(std::floor(lu)), iv = int32_t(std::floor(lv));
                    const uint32_t wx = uint32_t((lu - std::floor(lu)) * 256),
                                   wy = uint32_t((lv - std::floor(lv)) * 256);
                    const int32_t x0 = std::max(iu, 0), x1 = std::min(iu + 1, levels.Width(k) - 1);
                    const int32_t y0 = std::max(iv, 0), y1 = std::min(iv + 1, levels.Height(k) - 1);
                    uint32_t t00[4], t10[4], t01[4], t11[4];
                    levels.Texel(k, x0, y0, t00);
                    levels.Texel(k, x1, y0, t10);
                    levels.Texel(k, x0, y1, t01);
                    levels.Texel(k, x1, y1, t11);
                    for (int c = 0; c < 4; ++c) {
                        const uint64_t top = uint64_t(t00[c]) * (256 - wx) + uint64_t(t10[c]) * wx;
                        const uint64_t bottomRow = uint64_t(t01[c]) * (256 - wx) + uint64_t(t11[c]) * wx;
                        sum[c] += (top * (256 - wy) + bottomRow * wy + 32768) >> 16;
                    }
                }
            }
            // Alpha: the average over every sample; colour: unpremultiplied, rounded.
            const uint64_t all255 = uint64_t(nx) * uint64_t(ny) * 255;
            const uint64_t alpha = (sum[3] + all255 / 2) / all255;
            if (alpha == 0) continue;
            uint8_t* d = static_cast<uint8_t*>(out.Scan0) + int64_t(y) * out.Stride + 4 * int64_t(x);
            for (int c = 0; c < 3; ++c)
                d[c] = uint8_t(std::min<uint64_t>(255, (sum[c] * 255 + sum[3] / 2) / sum[3]));
            d[3] = uint8_t(alpha);
        }
    }
    destination->UnlockBits(&out);
}

} // namespace oracle
