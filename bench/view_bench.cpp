// The picture view on a large photo: one repaint while a corner is dragged at several scales
// (with and without Live preview),
// SetImage, opening a phone photo until it shows, a release, a zoom step, and the reduced
// copies a result is drawn from below 100 %.
// Runs on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise.
//
//   build/bench/view_bench

#include "imaging/ReducedCopies.h"
#include "view/PicView.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>

#include <unistd.h>

namespace {

using namespace imaging;

constexpr int32_t kWidth = 6000, kHeight = 4000;

class BenchWindow : public QWidget {
public:
    BenchWindow() {
        resize(1700, 1100);
        show();
    }
};

Bitmap& Photo() {
    static std::unique_ptr<Bitmap> photo = [] {
        auto bitmap = std::make_unique<Bitmap>(kWidth, kHeight, PixelFormat24bppRGB);
        BitmapData data;
        bitmap->LockBits(nullptr, ImageLockModeWrite, PixelFormat24bppRGB, &data);
        for (int32_t y = 0; y < kHeight; ++y) {
            auto* row = static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
            for (int32_t x = 0; x < kWidth; ++x) {
                row[3 * x] = uint8_t(x);
                row[3 * x + 1] = uint8_t(y);
                row[3 * x + 2] = uint8_t(x ^ y);
            }
        }
        bitmap->UnlockBits(&data);
        return bitmap;
    }();
    return *photo;
}

// A 1600 x 1000 view of `image` in `window`, which owns it.
view::CPicView* NewView(BenchWindow& window, Bitmap& image) {
    auto* view = new view::CPicView(&window);
    view->setGeometry(0, 0, 1604, 1004); // a 1600 x 1000 client area inside the edge
    view->show();
    view->SetImage(&image);
    return view;
}

struct Scene {
    BenchWindow window;
    view::CPicView* view = new view::CPicView(&window);
    Scene() {
        view->setGeometry(0, 0, 1604, 1004); // a 1600 x 1000 client area inside the edge
        view->show();
        view->SetImage(&Photo());
        QApplication::processEvents();
        // Scrolled to the middle, the top-right corner dragged into the visible area.
        view->ScrollToPosition({(kWidth - 1600) / 2, (kHeight - 1000) / 2});
        view->ScrollToPosition({kWidth - 1000, 0});
        Send(QEvent::MouseButtonPress, QPoint(1000, 0), Qt::LeftButton);
        view->ScrollToPosition({(kWidth - 1600) / 2, (kHeight - 1000) / 2});
    }
    void Send(QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent e(type, at, view->viewport()->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &e);
    }
};

void BM_RepaintDuringDrag(benchmark::State& state) {
    Scene scene;
    int step = 0;
    for (auto _ : state) {
        scene.Send(QEvent::MouseMove, QPoint(400 + step % 200, 300 + step % 150), Qt::LeftButton);
        ++step;
        scene.view->viewport()->repaint(); // paints now, into the window's backing store
    }
}

// The same at a scale: arg the percentage (0 for fit), the view scrolled to the middle; with
// the second arg 1, Live preview on: each repaint renders the picture on the moved corners.
// The third: 0 drags the corner about the middle of the view (the quad turns concave), 1 near
// its own place at the top right, as most drags do (the quad stays convex). The fourth: 1 for
// the perspective mapping instead of the described one.
void BM_RepaintDuringDragAtScale(benchmark::State& state) {
    BenchWindow window;
    view::CPicView* view = NewView(window, Photo());
    view->SetLivePreview(state.range(1) == 1);
    if (state.range(3) == 1) view->SetTransform({.mapping = warp::Mapping::Perspective});
    if (state.range(0) == 0) view->ZoomToFit();
    while (view->GetScale() * 100 < double(state.range(0)) - 0.01) view->ZoomIn();
    while (state.range(0) != 0 && view->GetScale() * 100 > double(state.range(0)) + 0.01) view->ZoomOut();
    QApplication::processEvents();
    const double s = view->GetScale();
    auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent e(type, at, view->viewport()->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &e);
    };
    // Corner 1 (the top right) pressed where it shows, then dragged about the middle.
    view->ScrollToPosition({int32_t(kWidth * s) - 1000, 0});
    const QPoint scroll = view->GetScrollPosition();
    send(QEvent::MouseButtonPress, QPoint(int(kWidth * s) - scroll.x() - 1, 0), Qt::LeftButton);
    if (view->GetSelectedCorner() != 1) state.SkipWithError("corner 1 was not picked");
    const bool nearItsPlace = state.range(2) == 1;
    if (!nearItsPlace) view->ScrollToPosition({int32_t((kWidth * s - 1600) / 2), int32_t((kHeight * s - 1000) / 2)});
    view->viewport()->repaint(); // reduced copies, where needed, are made on the first paint
    const QPoint from = nearItsPlace ? QPoint(int(kWidth * s) - view->GetScrollPosition().x() - 300, 40) : QPoint(400, 300);
    int step = 0;
    for (auto _ : state) {
        send(QEvent::MouseMove, from + QPoint(step % 200, step % 150), Qt::LeftButton);
        ++step;
        view->viewport()->repaint();
    }
    state.counters["scale_percent"] = s * 100;
}

// A zoom step with Ctrl + wheel about the pointer, painted (arg: the scale it steps from and
// back to, in percent).
void BM_ZoomStep(benchmark::State& state) {
    BenchWindow window;
    view::CPicView* view = NewView(window, Photo());
    while (view->GetScale() * 100 > double(state.range(0)) + 0.01) view->ZoomOut();
    QApplication::processEvents();
    view->viewport()->repaint();
    const QPoint at(700, 450);
    int step = 0;
    for (auto _ : state) {
        QWheelEvent e(at, view->viewport()->mapToGlobal(at), {}, {0, step++ % 2 ? -120 : 120}, Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &e);
        view->viewport()->repaint();
    }
}

// The reduced copies of a 4000 x 3000 result, made once per new result drawn below 100 %.
void BM_ReducedCopies(benchmark::State& state) {
    Bitmap result(4000, 3000, PixelFormat32bppARGB);
    BitmapData data;
    result.LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &data);
    for (int32_t y = 0; y < 3000; ++y) {
        auto* row = static_cast<uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
        for (int32_t x = 0; x < 4000; ++x) {
            row[4 * x] = uint8_t(x);
            row[4 * x + 1] = uint8_t(y);
            row[4 * x + 2] = uint8_t(x ^ y);
            row[4 * x + 3] = uint8_t(x + y < 1000 ? 0 : 255);
        }
    }
    result.UnlockBits(&data);
    for (auto _ : state) benchmark::DoNotOptimize(imaging::MakeReducedCopies(result, 4));
}

// A release after dragging a corner of the 24-megapixel photo, and a repaint. Arg 0: with 1,
// until the view has painted the new picture at its scale (the exact render goes on behind
// it); with 0, until the exact result is rendered and painted. Arg 1: the scale in percent,
// 0 for fit.
void BM_ReleaseToRepaint(benchmark::State& state) {
    BenchWindow window;
    view::CPicView* view = NewView(window, Photo());
    const int percent = int(state.range(1));
    if (percent == 0) view->ZoomToFit();
    while (percent > 0 && view->GetScale() * 100 < percent) view->ZoomIn();
    view->ScrollToPosition({0, 0});
    QApplication::processEvents();
    auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent e(type, at, view->viewport()->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &e);
    };
    // Corner 0 goes back and forth between two places; each release renders the whole image.
    const QPoint places[2] = {QPoint(100, 80), QPoint(140, 110)};
    QPoint corner(0, 0);
    int step = 0;
    for (auto _ : state) {
        const QPoint target = places[step++ % 2];
        send(QEvent::MouseButtonPress, corner, Qt::LeftButton); // cancels a render still under way
        send(QEvent::MouseMove, target, Qt::LeftButton);
        corner = target;
        const auto start = std::chrono::steady_clock::now();
        send(QEvent::MouseButtonRelease, target, Qt::NoButton);
        if (state.range(0) == 0) view->FinishRender();
        view->viewport()->repaint();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    view->FinishRender();
    if (view->GetCorners()[0].X != int32_t(std::lround(corner.x() / view->GetScale())))
        state.SkipWithError("the drag did not move corner 0");
}

// The first release after opening the photo, at fit, until it is painted; and the press before
// it, which makes the reduced copies of the source that the release's picture comes from.
void BM_FirstReleaseAtFit(benchmark::State& state) {
    for (auto _ : state) {
        BenchWindow window;
        view::CPicView* view = NewView(window, Photo());
        view->ZoomToFit();
        QApplication::processEvents();
        auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
            QMouseEvent e(type, at, view->viewport()->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(view->viewport(), &e);
        };
        auto start = std::chrono::steady_clock::now();
        send(QEvent::MouseButtonPress, QPoint(0, 0), Qt::LeftButton);
        const double press = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        send(QEvent::MouseMove, QPoint(100, 80), Qt::LeftButton);
        start = std::chrono::steady_clock::now();
        send(QEvent::MouseButtonRelease, QPoint(100, 80), Qt::NoButton);
        view->viewport()->repaint();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        state.counters["press_ms"] = press * 1000;
        view->FinishRender();
    }
}

// `verlume FILE` with a 12-megapixel phone photo (JPEG, EXIF orientation 6): from the start of
// the decode until the window has painted it.
void BM_OpenPhotoToFirstPaint(benchmark::State& state) {
    char folder[] = "/tmp/verlume-view-bench-XXXXXX";
    if (!mkdtemp(folder)) return state.SkipWithError("no temporary folder");
    const QString path = QString(folder) + "/phone.jpg";
    {
        QImage picture(4000, 3000, QImage::Format_RGB32);
        for (int y = 0; y < 3000; ++y)
            for (int x = 0; x < 4000; ++x) picture.setPixel(x, y, qRgb(x * 255 / 4000, y * 255 / 3000, (x ^ y) & 255));
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setQuality(92);
        writer.write(picture);
        static const uint8_t app1[] = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0,
                                       1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
        jpeg.insert(2, reinterpret_cast<const char*>(app1), sizeof app1);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(jpeg);
    }
    BenchWindow window;
    auto* view = new view::CPicView(&window);
    view->setGeometry(0, 0, 1604, 1004);
    view->show();
    QApplication::processEvents();
    std::unique_ptr<Bitmap> shown;
    for (auto _ : state) {
        std::unique_ptr<Bitmap> opened = Bitmap::FromFile(path.toStdString());
        view->SetImage(opened.get());
        view->viewport()->repaint();
        shown = std::move(opened); // the last one goes after the view let go of it
        if (shown->GetWidth() != 3000) state.SkipWithError("the photo did not open upright");
    }
    view->SetImage(nullptr);
    QFile::remove(path);
    rmdir(folder);
}

void BM_SetImage(benchmark::State& state) {
    Scene scene;
    for (auto _ : state) {
        scene.view->SetImage(&Photo());
        benchmark::DoNotOptimize(scene.view->GetResultImage());
    }
}

BENCHMARK(BM_RepaintDuringDrag)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RepaintDuringDragAtScale)->Unit(benchmark::kMillisecond)->UseRealTime()->ArgsProduct({{0, 25, 100, 400}, {0, 1}, {0, 1}, {0}})
    ->ArgsProduct({{0, 100}, {1}, {1}, {1}});
BENCHMARK(BM_ZoomStep)->Unit(benchmark::kMillisecond)->UseRealTime()->Arg(100)->Arg(25);
BENCHMARK(BM_SetImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenPhotoToFirstPaint)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReleaseToRepaint)->Unit(benchmark::kMillisecond)->UseManualTime()->ArgsProduct({{0, 1}, {0, 100, 400}});
BENCHMARK(BM_FirstReleaseAtFit)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_ReducedCopies)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
