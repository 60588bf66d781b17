// Saving and opening a warped 12-megapixel photo: the program's encoders against Qt's writers
// on the same result, in one run.
//
//   build/bench/io_bench
//   build/bench/io_bench --benchmark_filter=Png
//   VERLUME_BENCH_PHOTO=photo.jpg build/bench/io_bench --benchmark_filter=Png
//
// The encode cases write to /dev/null, which the program writes in place, so they time the
// encoders alone; the *ToFile cases write into a temporary folder (VERLUME_BENCH_DIR, else the
// system's), including the program's flush to disk and rename. The counters "bytes" and, for
// the program's encoders, "of_qt" (its file size over Qt's) come from files written once
// before timing.

#include "files/ImageFiles.h"
#include "imaging/Bitmap.h"
#include "imaging/QtBridge.h"
#include "warp/WarpImageToQuad.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>

#include <benchmark/benchmark.h>

#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

namespace {

using namespace imaging;
namespace fs = std::filesystem;

constexpr int32_t kWidth = 4000, kHeight = 3000;
const warp::Corners kCorners{{200, 150}, {3800, 450}, {3700, 2850}, {100, 2700}};

// Smooth gradients under a fine texture, sensor-like noise of a few levels, a flat sky, and
// hard-edged shapes.
std::unique_ptr<Bitmap> PhotoLikeSource() {
    auto bitmap = std::make_unique<Bitmap>(kWidth, kHeight, PixelFormat24bppRGB);
    BitmapData data;
    bitmap->LockBits(nullptr, ImageLockModeWrite, PixelFormat24bppRGB, &data);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> noise(-3, 3);
    for (int32_t y = 0; y < kHeight; ++y) {
        auto* row = static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
        for (int32_t x = 0; x < kWidth; ++x) {
            double r, g, b;
            if (y < kHeight / 5) { // sky: flat, blown out
                r = 250, g = 252, b = 255;
            } else if ((x / 500 + y / 400) % 3 == 0 && x % 500 < 300) { // buildings: hard edges
                r = 90 + 40 * ((x / 500) % 3), g = 70 + 30 * ((y / 400) % 2), b = 60;
            } else { // ground: gradients under a fine texture
                const double texture = 8 * std::sin(0.31 * x + 0.17 * y) + 6 * std::cos(0.53 * y - 0.11 * x);
                r = 120 + 60 * std::sin(x * 0.0021) + 30 * std::cos(y * 0.0037) + texture;
                g = 110 + 50 * std::sin((x + y) * 0.0013) + texture;
                b = 80 + 40 * std::cos(x * 0.0009 - y * 0.0017) + 0.5 * texture;
            }
            auto channel = [&](double v) {
                return uint8_t(std::clamp(int(std::lround(v)) + (v < 250 ? noise(rng) : 0), 0, 255));
            };
            row[3 * x] = channel(b);
            row[3 * x + 1] = channel(g);
            row[3 * x + 2] = channel(r);
        }
    }
    bitmap->UnlockBits(&data);
    return bitmap;
}

// The photo-like picture, or the photo named by VERLUME_BENCH_PHOTO (a decoded JPEG, say).
Bitmap& Source() {
    static std::unique_ptr<Bitmap> source = [] {
        const char* photo = std::getenv("VERLUME_BENCH_PHOTO");
        if (!photo) return PhotoLikeSource();
        auto opened = Bitmap::FromFile(photo);
        if (!opened->HasContent()) std::fprintf(stderr, "io_bench: %s\n", opened->GetLastReason().c_str()), std::exit(1);
        return opened;
    }();
    return *source;
}

// The warp onto the benchmark corners, scaled to the source's size: transparent outside the quad.
Bitmap& Result() {
    static std::unique_ptr<Bitmap> result = [] {
        const double sx = Source().GetWidth() / double(kWidth), sy = Source().GetHeight() / double(kHeight);
        auto at = [&](Point p) { return Point{int32_t(std::lround(p.X * sx)), int32_t(std::lround(p.Y * sy))}; };
        const warp::Corners c{at(kCorners.topLeft), at(kCorners.topRight), at(kCorners.bottomRight), at(kCorners.bottomLeft)};
        return warp::WarpToNewBitmap(&Source(), c, 2);
    }();
    return *result;
}

// The folder the files go to, removed at exit.
struct Scratch {
    fs::path path;
    Scratch() {
        const char* chosen = std::getenv("VERLUME_BENCH_DIR");
        std::string pattern = ((chosen ? fs::path(chosen) : fs::temp_directory_path()) / "verlume-io-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        path = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

const fs::path& Folder() {
    static const Scratch scratch;
    return scratch.path;
}

void SaveWithProgram(Image& image, const std::string& path, const char* mime, benchmark::State& state) {
    CLSID clsid;
    files::FindEncoderByMimeType(mime, &clsid);
    if (image.Save(path, &clsid) != Ok) state.SkipWithError(image.GetLastReason().c_str());
}

// Qt's writer as the program used it before: the result wrapped without a copy, 96 dpi.
// Empty `path`: into memory.
void SaveWithQt(const char* format, int compression, const std::string& path, benchmark::State& state) {
    QImage image = AsQImage(Result());
    image.setDotsPerMeterX(3780);
    image.setDotsPerMeterY(3780);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    QFile file(QString::fromStdString(path));
    QIODevice& device = path.empty() ? static_cast<QIODevice&>(buffer) : file;
    device.open(QIODevice::WriteOnly);
    QImageWriter writer(&device, format);
    if (compression >= 0) writer.setCompression(compression);
    if (!writer.write(image)) state.SkipWithError(writer.errorString().toStdString().c_str());
}

double FileSize(const std::string& name) { return double(fs::file_size(Folder() / name)); }

// The size of Qt's file, written once.
double QtSize(const char* format, int compression, const std::string& name) {
    if (!fs::exists(Folder() / name)) {
        QImageWriter writer(QString::fromStdString((Folder() / name).string()), format);
        if (compression >= 0) writer.setCompression(compression);
        writer.write(AsQImage(Result()));
    }
    return FileSize(name);
}

void ProgramEncode(benchmark::State& state, const char* mime, const char* name, double qtBytes) {
    Bitmap& result = Result();
    const std::string file = (Folder() / name).string();
    SaveWithProgram(result, file, mime, state);
    for (auto _ : state) SaveWithProgram(result, "/dev/null", mime, state);
    state.counters["bytes"] = FileSize(name);
    if (qtBytes > 0) state.counters["of_qt"] = FileSize(name) / qtBytes;
}

void BM_PngQt(benchmark::State& state) {
    Result();
    for (auto _ : state) SaveWithQt("png", -1, "", state);
    state.counters["bytes"] = QtSize("png", -1, "qt.png");
}
void BM_PngProgram(benchmark::State& state) { ProgramEncode(state, "image/png", "program.png", QtSize("png", -1, "qt.png")); }

void BM_TiffQtUncompressed(benchmark::State& state) {
    Result();
    for (auto _ : state) SaveWithQt("tiff", 0, "", state);
    state.counters["bytes"] = QtSize("tiff", 0, "qt.tif");
}
void BM_TiffProgram(benchmark::State& state) {
    ProgramEncode(state, "image/tiff", "program.tif", QtSize("tiff", 0, "qt.tif"));
}
void BM_JpegProgram(benchmark::State& state) { ProgramEncode(state, "image/jpeg", "program.jpg", 0); }
void BM_BmpProgram(benchmark::State& state) { ProgramEncode(state, "image/bmp", "program.bmp", 0); }
void BM_GifProgram(benchmark::State& state) { ProgramEncode(state, "image/gif", "program.gif", 0); }

// The whole save as the program does it: temporary file, flush to disk, rename.
void BM_PngProgramToFile(benchmark::State& state) {
    const std::string file = (Folder() / "saved.png").string();
    for (auto _ : state) SaveWithProgram(Result(), file, "image/png", state);
}
void BM_PngQtToFile(benchmark::State& state) {
    const std::string file = (Folder() / "saved-qt.png").string();
    for (auto _ : state) SaveWithQt("png", -1, file, state);
}

// Opening: the source as a quality-92 JPEG (as cameras write them), the same tagged with a
// phone's quarter turn (EXIF orientation 6), and as the program's PNG; beside them
// libjpeg-turbo's own API reading the file and decoding it into 4-byte pixels.
void Decode(benchmark::State& state, const std::string& name) {
    for (auto _ : state) {
        std::unique_ptr<Bitmap> decoded(Bitmap::FromFile((Folder() / name).string()));
        if (!decoded->HasContent()) state.SkipWithError(decoded->GetLastReason().c_str());
    }
}
const std::string& PhotoJpeg() {
    static const std::string path = [] {
        const std::string file = (Folder() / "photo.jpg").string();
        QImageWriter writer(QString::fromStdString(file), "jpeg");
        writer.setQuality(92);
        writer.write(AsQImage(Source()));
        return file;
    }();
    return path;
}
void BM_DecodeJpeg(benchmark::State& state) {
    PhotoJpeg();
    Decode(state, "photo.jpg");
}
void BM_DecodeJpegTurned(benchmark::State& state) {
    // An APP1 segment holding EXIF with one tag, orientation 6, right after the file's SOI.
    QFile in(QString::fromStdString(PhotoJpeg()));
    in.open(QIODevice::ReadOnly);
    QByteArray bytes = in.readAll();
    static const uint8_t app1[] = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0,
                                   1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
    bytes.insert(2, reinterpret_cast<const char*>(app1), sizeof app1);
    QFile out(QString::fromStdString((Folder() / "turned.jpg").string()));
    out.open(QIODevice::WriteOnly);
    out.write(bytes);
    out.close();
    Decode(state, "turned.jpg");
}
void BM_DecodeJpegTurboBgrx(benchmark::State& state) {
    const std::string path = PhotoJpeg();
    tjhandle tj = tjInitDecompress();
    for (auto _ : state) {
        QFile file(QString::fromStdString(path));
        file.open(QIODevice::ReadOnly);
        const QByteArray jpeg = file.readAll();
        const auto* data = reinterpret_cast<const unsigned char*>(jpeg.constData());
        int w = 0, h = 0, sub = 0, space = 0;
        tjDecompressHeader3(tj, data, jpeg.size(), &w, &h, &sub, &space);
        std::unique_ptr<unsigned char[]> pixels(new unsigned char[size_t(w) * h * 4]);
        if (tjDecompress2(tj, data, jpeg.size(), pixels.get(), w, 0, h, TJPF_BGRX, 0) != 0) state.SkipWithError(tjGetErrorStr2(tj));
        benchmark::DoNotOptimize(pixels.get());
    }
    tjDestroy(tj);
}
void BM_DecodePng(benchmark::State& state) {
    SaveWithProgram(Source(), (Folder() / "photo.png").string(), "image/png", state);
    Decode(state, "photo.png");
}

BENCHMARK(BM_PngQt)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_PngProgram)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TiffQtUncompressed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TiffProgram)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegProgram)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpProgram)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifProgram)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngProgramToFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngQtToFile)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_DecodeJpegTurboBgrx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeJpegTurned)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePng)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
