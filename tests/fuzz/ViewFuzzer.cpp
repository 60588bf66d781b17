// Bytes as a user at the picture view, offscreen: presses, moves, releases and double clicks
// anywhere (far outside the view too), new images of any kind (none, without content, 1 x 1,
// odd sizes), resizes, zoom steps, fit, undo and redo, every transform (Place or Straighten,
// either mapping, either canvas, page sizes), the straightened page shown and Live preview on
// and off; the view is painted after every event. After every event the outline closes on
// corner 0 and, placing on the image's size, the result is absent or the source's size; after
// every release that ends a drag the result is the render of the corners through the
// transform, or the corners went back where the transform cannot take them.
//
// Layout: 4 bytes per event, an operation and its arguments.

#include "FuzzImage.h"
#include "view/PicView.h"
#include "warp/Transform.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

using namespace imaging;
using view::CPicView;

constexpr int kViewWidth = 160, kViewHeight = 120;

// Stops the run, naming the broken promise.
#define CHECK(condition)                                                   \
    do {                                                                   \
        if (!(condition)) {                                                \
            std::fprintf(stderr, "fuzz_view: not true: %s\n", #condition); \
            __builtin_trap();                                              \
        }                                                                  \
    } while (false)

std::unique_ptr<Bitmap> MakeImage(uint8_t kind, uint8_t a, uint8_t b) {
    std::mt19937 rng(a * 256u + b);
    uint8_t bytes[4096];
    for (uint8_t& byte : bytes) byte = uint8_t(rng());
    switch (kind % 4) {
    case 0: return std::make_unique<Bitmap>(0, 0, PixelFormatUndefined); // no content
    case 1: return fuzzing::ImageFromBytes(PixelFormat32bppARGB, 1, 1, bytes, sizeof bytes);
    default:
        return fuzzing::ImageFromBytes(kAllPixelFormats[a % std::size(kAllPixelFormats)], 1 + a % 61, 1 + b % 47,
                                       bytes, sizeof bytes);
    }
}

// Whether two 32bppARGB bitmaps of one size hold the same pixels.
bool SamePixels(Bitmap& x, Bitmap& y) {
    BitmapData a, b;
    x.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &a);
    y.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &b);
    bool same = a.Width == b.Width && a.Height == b.Height;
    for (uint32_t row = 0; same && row < a.Height; ++row)
        same = std::memcmp(static_cast<uint8_t*>(a.Scan0) + int64_t(row) * a.Stride,
                           static_cast<uint8_t*>(b.Scan0) + int64_t(row) * b.Stride, size_t(a.Width) * 4) == 0;
    x.UnlockBits(&a);
    y.UnlockBits(&b);
    return same;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: at exit Qt's own statics go first, and a QApplication after them crashes.
    new QApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Every source the view was given stays alive until the view is gone.
    std::vector<std::unique_ptr<Bitmap>> images;
    QWidget window;
    window.resize(kViewWidth + 40, kViewHeight + 40);
    auto* view = new CPicView(&window);
    view->setGeometry(0, 0, kViewWidth, kViewHeight);
    window.show();
    Bitmap* source = nullptr;
    QWidget* viewport = view->viewport();
    for (size_t i = 0; i + 4 <= size && i < 4 * 64; i += 4) {
        const uint8_t op = data[i], a = data[i + 1], b = data[i + 2], c = data[i + 3];
        // Mostly inside the view, now and then far outside it, or on a corner where it shows
        // (so that drags, and the preview while dragging, come often).
        const int scale = (c & 1) ? 8 : 1;
        QPoint at(int(int8_t(a)) * scale + kViewWidth / 2, int(int8_t(b)) * scale + kViewHeight / 2);
        if ((c & 6) == 6) {
            const Point corner = view->GetCorners()[a % 4], origin = view->GetCanvasOrigin();
            const double s = view->GetScale();
            at = QPoint(int(std::lround((corner.X - origin.X) * s)),
                        int(std::lround((corner.Y - origin.Y) * s))) -
                 view->GetScrollPosition();
        }
        // A release that ends a corner's drag renders the result from the corners.
        auto release = [&] {
            const bool draggingCorner = view->IsDragging() && view->GetSelectedCorner() != -1;
            const auto d = view->GetCorners();
            QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
            CHECK(!view->IsDragging());
            if (!draggingCorner || source == nullptr || !source->HasContent()) return;
            const warp::TransformPlan plan = warp::PlanTransform(view->GetTransform(), warp::Corners{d[0], d[1], d[2], d[3]},
                                                                 source->GetWidth(), source->GetHeight());
            std::unique_ptr<Bitmap> expected = warp::RenderTransform(source, plan, 2);
            if (!expected) return; // refused: the corners went back
            Bitmap* result = view->GetResultImage();
            CHECK(result && SamePixels(*expected, *result));
        };
        switch (op % 14) {
        case 0: QTest::mousePress(viewport, Qt::LeftButton, {}, at); break;
        case 1: QTest::mouseMove(viewport, at); break;
        case 2: release(); break;
        case 3: { // press, release, and the second press as the double click it is
            QTest::mousePress(viewport, Qt::LeftButton, {}, at);
            release();
            QMouseEvent second(QEvent::MouseButtonDblClick, at, viewport->mapToGlobal(at), Qt::LeftButton,
                               Qt::LeftButton, {});
            QApplication::sendEvent(viewport, &second);
            release();
            break;
        }
        case 4:
            if (c % 5 == 0) {
                view->SetImage(nullptr); // ignored
            } else {
                images.push_back(MakeImage(c, a, b));
                source = images.back().get();
                view->SetImage(source);
            }
            break;
        case 5: view->resize(1 + a % 300, 1 + b % 200); break;
        case 6: view->ZoomIn(); break;
        case 7: view->ZoomOut(); break;
        case 8: (c & 1) ? view->ZoomToFit() : view->ZoomToActualSize(); break;
        case 9: view->Undo(); break;
        case 10: view->Redo(); break;
        case 11: {
            warp::Transform t;
            t.direction = a & 1 ? warp::Direction::Straighten : warp::Direction::Place;
            t.mapping = a & 2 ? warp::Mapping::Perspective : warp::Mapping::Quad;
            t.canvas = a & 4 ? warp::CanvasChoice::FitResult : warp::CanvasChoice::ClipToImage;
            if (a & 8) t.pageSize = warp::PageSize{1 + b % 90, 1 + c % 70};
            view->SetTransform(t);
            break;
        }
        case 12: view->ShowStraightened(c & 1); break;
        default: view->SetLivePreview(c & 1); break;
        }
        viewport->repaint();
        const auto& corners = view->GetCorners();
        CHECK(corners[4] == corners[0]);
        Bitmap* result = view->GetResultImage();
        const warp::Transform& t = view->GetTransform();
        const bool imageSized = t.direction == warp::Direction::Place && t.canvas == warp::CanvasChoice::ClipToImage;
        CHECK(result == nullptr || !imageSized ||
              (source && result->GetWidth() == source->GetWidth() && result->GetHeight() == source->GetHeight()));
    }
    return 0;
}
