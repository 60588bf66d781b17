// How close the smooth warp comes to the picture an ideal filter would give, against the
// plain warp and ImageMagick's perspective distort (its default filter, transparent outside
// the image) on the same corners. The ideal: 16 x 16 samples per destination pixel of the
// source read bilinearly, averaged. Two 1024 x 768 sources, a zone plate and a brick wall
// (drawn here, with grain), each placed on a tilted quad 1/4, 1/8 and 1/16 of its width.
// Prints the root mean square error over the premultiplied channels of the whole canvas.
//
//   build/bench/smooth_quality [CONVERT]      CONVERT: ImageMagick's convert, found on PATH

#include "files/ImageFiles.h"
#include "warp/Transform.h"

#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace imaging;

constexpr int32_t kWidth = 1024, kHeight = 768;

struct Rgb {
    double b, g, r;
};

template <class Colour>
std::unique_ptr<Bitmap> Draw(Colour colour) {
    auto bitmap = std::make_unique<Bitmap>(kWidth, kHeight, PixelFormat24bppRGB);
    BitmapData data;
    bitmap->LockBits(nullptr, ImageLockModeWrite, PixelFormat24bppRGB, &data);
    for (int32_t y = 0; y < kHeight; ++y) {
        uint8_t* row = static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
        for (int32_t x = 0; x < kWidth; ++x) {
            const Rgb c = colour(x, y);
            row[3 * x] = uint8_t(std::clamp(c.b, 0.0, 255.0));
            row[3 * x + 1] = uint8_t(std::clamp(c.g, 0.0, 255.0));
            row[3 * x + 2] = uint8_t(std::clamp(c.r, 0.0, 255.0));
        }
    }
    bitmap->UnlockBits(&data);
    return bitmap;
}

// Rings whose frequency grows with the distance from the centre, up to the pixel rate at the
// corners.
std::unique_ptr<Bitmap> ZonePlate() {
    const double k = std::numbers::pi / (std::hypot(kWidth / 2.0, kHeight / 2.0) * 2);
    return Draw([k](int32_t x, int32_t y) {
        const double dx = x + 0.5 - kWidth / 2.0, dy = y + 0.5 - kHeight / 2.0;
        const double v = 127.5 + 127.5 * std::cos(k * (dx * dx + dy * dy));
        return Rgb{v, v, v};
    });
}

// Bricks of 48 x 16 pixels in courses offset by half a brick, 2-pixel mortar, each brick its
// own shade, with grain.
std::unique_ptr<Bitmap> Bricks() {
    std::mt19937 rng(7);
    std::vector<double> shade(4096);
    for (double& s : shade) s = std::uniform_real_distribution<double>(-30, 30)(rng);
    return Draw([&](int32_t x, int32_t y) {
        const int32_t course = y / 16, offset = course % 2 ? 24 : 0;
        const int32_t brick = (x + offset) / 48;
        const bool mortar = y % 16 < 2 || (x + offset) % 48 < 2;
        const double grain = std::uniform_real_distribution<double>(-18, 18)(rng);
        if (mortar) return Rgb{170 + grain, 175 + grain, 180 + grain};
        const double s = shade[size_t(course * 64 + brick) % shade.size()];
        return Rgb{50 + s + grain, 70 + s + grain, 150 + s + grain};
    });
}

// The quad for a picture 1/shrink of the source's width, tilted, near the canvas's top left.
warp::Corners Tilted(int shrink) {
    const int32_t w = kWidth / shrink, h = kHeight / shrink, x = 100, y = 80;
    return {{x, y + h / 6}, {x + w, y}, {x + w - w / 8, y + h}, {x + w / 10, y + h - h / 8}};
}

// Premultiplied B, G, R, A of every pixel, in bytes' units.
using Picture = std::vector<double>;

Picture Channels(Bitmap& bitmap) {
    const std::unique_ptr<Bitmap> argb =
        bitmap.Clone({0, 0, int32_t(bitmap.GetWidth()), int32_t(bitmap.GetHeight())}, PixelFormat32bppARGB);
    BitmapData data;
    argb->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &data);
    Picture picture;
    for (int32_t y = 0; y < int32_t(argb->GetHeight()); ++y) {
        const uint8_t* row = static_cast<const uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
        for (int32_t x = 0; x < int32_t(argb->GetWidth()); ++x) {
            const double a = row[4 * x + 3] / 255.0;
            for (int c = 0; c < 3; ++c) picture.push_back(row[4 * x + c] * a);
            picture.push_back(row[4 * x + 3]);
        }
    }
    argb->UnlockBits(&data);
    return picture;
}

// The ideal: 16 x 16 samples a pixel through the homography, the source read bilinearly
// between pixel centres, clamped at its border, transparent outside it.
Picture Ideal(Bitmap& source, const warp::Homography& toSource) {
    const Picture s = Channels(source);
    auto at = [&](int32_t x, int32_t y, int c) {
        x = std::clamp(x, 0, kWidth - 1);
        y = std::clamp(y, 0, kHeight - 1);
        return s[(size_t(y) * kWidth + size_t(x)) * 4 + size_t(c)];
    };
    Picture ideal(size_t(kWidth) * kHeight * 4, 0.0);
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = 0; x < kWidth; ++x) {
            double sum[4] = {0, 0, 0, 0};
            for (int j = 0; j < 16; ++j)
                for (int i = 0; i < 16; ++i) {
                    const warp::Homography::Mapped p = toSource.Map(x + (i + 0.5) / 16, y + (j + 0.5) / 16);
                    if (!(p.x >= 0 && p.x < kWidth && p.y >= 0 && p.y < kHeight)) continue;
                    const double u = p.x - 0.5, v = p.y - 0.5, fu = std::floor(u), fv = std::floor(v);
                    const double wu = u - fu, wv = v - fv;
                    const int32_t iu = int32_t(fu), iv = int32_t(fv);
                    for (int c = 0; c < 4; ++c)
                        sum[c] += (1 - wv) * ((1 - wu) * at(iu, iv, c) + wu * at(iu + 1, iv, c)) +
                                  wv * ((1 - wu) * at(iu, iv + 1, c) + wu * at(iu + 1, iv + 1, c));
                }
            for (int c = 0; c < 4; ++c)
                ideal[(size_t(y) * kWidth + size_t(x)) * 4 + size_t(c)] = sum[c] / 256;
        }
    return ideal;
}

double RootMeanSquare(const Picture& a, const Picture& b) {
    if (a.size() != b.size()) return NAN;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
    return std::sqrt(sum / double(a.size()));
}

std::unique_ptr<Bitmap> Render(Bitmap& source, const warp::Corners& corners, bool smooth) {
    return warp::RenderTransform(
        &source,
        warp::PlanTransform({.mapping = warp::Mapping::Perspective, .smooth = smooth}, corners, kWidth,
                            kHeight),
        2);
}

// ImageMagick's result, or null when it cannot be run.
std::unique_ptr<Bitmap> Distort(const std::string& convert, const std::string& folder, Bitmap& source,
                                const warp::Corners& c) {
    const std::string in = folder + "/in.png", out = folder + "/out.png";
    if (files::SaveImageByName(source, in).code != Ok) return nullptr;
    char points[256];
    std::snprintf(points, sizeof points, "0,0 %d,%d %d,0 %d,%d %d,%d %d,%d 0,%d %d,%d", c.topLeft.X,
                  c.topLeft.Y, kWidth, c.topRight.X, c.topRight.Y, kWidth, kHeight, c.bottomRight.X,
                  c.bottomRight.Y, kHeight, c.bottomLeft.X, c.bottomLeft.Y);
    const std::string command =
        "'" + convert + "' '" + in +
        "' -alpha set -virtual-pixel transparent -mattecolor none -distort Perspective '" + points +
        "' -depth 8 'PNG32:" + out + "'";
    if (std::system(command.c_str()) != 0) return nullptr;
    std::unique_ptr<Bitmap> result = Bitmap::FromFile(out);
    return result->HasContent() ? std::move(result) : nullptr;
}

} // namespace

int main(int argc, char** argv) {
    const std::string convert = argc > 1 ? argv[1] : "convert";
    QTemporaryDir folder;
    std::printf("| source | width | plain | smooth | ImageMagick |\n|---|---|---|---|---|\n");
    const struct {
        const char* name;
        std::unique_ptr<Bitmap> bitmap;
    } sources[] = {{"zone plate", ZonePlate()}, {"bricks", Bricks()}};
    for (const auto& [name, source] : sources)
        for (int shrink : {4, 8, 16}) {
            const warp::Corners corners = Tilted(shrink);
            const warp::TransformPlan plan =
                warp::PlanTransform({.mapping = warp::Mapping::Perspective}, corners, kWidth, kHeight);
            const Picture ideal = Ideal(*source, *plan.toSource);
            const double plain = RootMeanSquare(ideal, Channels(*Render(*source, corners, false)));
            const double smooth = RootMeanSquare(ideal, Channels(*Render(*source, corners, true)));
            const std::unique_ptr<Bitmap> magick =
                Distort(convert, folder.path().toStdString(), *source, corners);
            const double theirs = magick ? RootMeanSquare(ideal, Channels(*magick)) : NAN;
            std::printf("| %s | 1/%d | %.2f | %.2f | %.2f |\n", name, shrink, plain, smooth, theirs);
        }
    return 0;
}
