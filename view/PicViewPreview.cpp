// Live preview: while a corner is dragged, the source placed on the corners at the view's
// scale, for the client area only, from the reduced copy of the source nearest that scale.

#include "PicView.h"

#include "Zoom.h"
#include "imaging/ReducedCopies.h"
#include "warp/Transform.h"
#include "warp/WarpImageToQuad.h"
#include "warp/WarpPerspective.h"

#include <algorithm>
#include <cmath>

namespace view {

using namespace imaging;

namespace {
constexpr int kPreviewCopies = 4;
} // namespace

void CPicView::SetLivePreview(bool on) {
    m_bLivePreview = on;
    if (on && m_sourceReduced.empty()) MakePreviewSources();
}

void CPicView::MakePreviewSources() {
    m_sourceReduced.clear();
    if (!m_pSource || !m_pSource->HasContent()) return;
    const Rect all{0, 0, int32_t(m_pSource->GetWidth()), int32_t(m_pSource->GetHeight())};
    // The opened copy is the source in 32bppARGB; otherwise one is made for the while.
    if (m_bResultIsPhoto && m_pResult) {
        m_sourceReduced = MakeReducedCopies(*m_pResult, kPreviewCopies);
    } else if (std::unique_ptr<Bitmap> argb = m_pSource->Clone(all, PixelFormat32bppARGB)) {
        m_sourceReduced = MakeReducedCopies(*argb, kPreviewCopies);
    }
}

void CPicView::DrawPreview(Graphics* screen) {
    const QSize client = GetClientSize();
    if (client.isEmpty()) return;
    const QPoint scroll = GetScrollPosition();
    const double s = GetScale();
    // The source's copy nearest the scale (the source itself from 100 % on), and the corners
    // where they show in the client area, in that copy's terms.
    const int k = std::min(ReducedCopyFor(s, kPreviewCopies), int(m_sourceReduced.size()));
    Bitmap* source = k > 0 ? m_sourceReduced[k - 1].get() : m_pSource;
    // Where the corners shrink the picture further, the smaller copies.
    std::vector<Bitmap*> coarser;
    for (size_t i = size_t(k); i < m_sourceReduced.size(); ++i) coarser.push_back(m_sourceReduced[i].get());
    auto onClient = [&](Point p) {
        return Point{int32_t(std::lround((p.X - m_origin.x()) * s - scroll.x())),
                     int32_t(std::lround((p.Y - m_origin.y()) * s - scroll.y()))};
    };
    const warp::Corners corners{onClient(m_corners[0]), onClient(m_corners[1]), onClient(m_corners[2]),
                                onClient(m_corners[3])};
    // The part of the client area the canvas covers: the image's size, or the fitting canvas.
    const Rect shown{0, 0, std::clamp(int32_t(std::ceil(m_total.width() * s - 1e-6)) - scroll.x(), 0, client.width()),
                     std::clamp(int32_t(std::ceil(m_total.height() * s - 1e-6)) - scroll.y(), 0, client.height())};
    if (shown.Width == 0 || shown.Height == 0) return;

    if (!m_pPreview || int(m_pPreview->GetWidth()) != client.width() || int(m_pPreview->GetHeight()) != client.height())
        m_pPreview = std::make_unique<Bitmap>(client.width(), client.height(), PixelFormat32bppARGB);
    if (!m_pPreview->HasContent()) return;
    // Rendered over the fill, opaque: shown as it is, with the handles over it.
    const Color fill = m_backgroundBrush.GetColor();
    bool rendered = false;
    if (m_transform.mapping == warp::Mapping::Perspective) {
        if (const auto map = warp::RectToQuad(source->GetWidth(), source->GetHeight(), corners)) {
            warp::WarpPerspectivePreview(source, m_pPreview.get(), map->Inverted(), 2, {&shown, 1}, coarser,
                                         fill);
            rendered = true;
        }
    } else {
        // The quad mapping scans from the origin of its destination: corners in the client.
        warp::WarpImageToQuadPreview(source, m_pPreview.get(), corners, 2, {&shown, 1}, coarser, fill);
        rendered = true;
    }
    BitmapData data;
    m_pPreview->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &data);
    {
        // Opaque pixels, the same premultiplied or not.
        Bitmap composed(client.width(), client.height(), data.Stride, PixelFormat32bppPARGB,
                        static_cast<uint8_t*>(data.Scan0));
        const RectF part{0, 0, float(shown.Width), float(shown.Height)};
        {
            Graphics buffer(&composed);
            // Corners the projective map cannot take: the fill alone.
            if (!rendered) buffer.FillRectangle(&m_backgroundBrush, part);
            buffer.SetSmoothingMode(SmoothingModeAntiAlias);
            const RectF area{0, 0, float(client.width()), float(client.height())};
            DrawHandles(&buffer, s,
                        {-float(scroll.x() + m_origin.x() * s), -float(scroll.y() + m_origin.y() * s)}, area);
        }
        // Beyond the canvas the window's background shows, as without the preview.
        screen->DrawImage(&composed, RectF{float(scroll.x()), float(scroll.y()), part.Width, part.Height},
                          part);
    }
    m_pPreview->UnlockBits(&data);
    m_bCanvasDrawn = true;
}

} // namespace view
