// The Transform menu: what the corners do to the image.

#include "VerlumeDlg.h"

#include "pagefind/FindPage.h"
#include "view/WaitCursor.h"

#include <QActionGroup>
#include <QMenuBar>
#include <QRegularExpression>
#include <QStatusBar>

namespace app {

void CVerlumeDlg::CreateTransformMenu() {
    QMenu* menu = menuBar()->addMenu("&Transform");
    // A command that changes one thing of the view's transform.
    auto changing = [this](auto edit) {
        return [this, edit](bool on) {
            warp::Transform t = m_pView->GetTransform();
            edit(t, on);
            ApplyTransform(t);
        };
    };
    // Checkable commands of which one is checked.
    auto oneOf = [this](std::initializer_list<QAction*> actions) {
        auto* group = new QActionGroup(this);
        for (QAction* a : actions) {
            a->setCheckable(true);
            group->addAction(a);
        }
    };
    m_place = menu->addAction("&Place on the Corners");
    m_straighten = menu->addAction("&Straighten a Page");
    oneOf({m_place, m_straighten});
    connect(m_place, &QAction::triggered, this, changing([](warp::Transform& t, bool) { t.direction = warp::Direction::Place; }));
    connect(m_straighten, &QAction::triggered, this,
            changing([](warp::Transform& t, bool) { t.direction = warp::Direction::Straighten; }));
    menu->addSeparator();
    m_perspective = menu->addAction("P&erspective");
    m_perspective->setCheckable(true);
    connect(m_perspective, &QAction::triggered, this, changing([](warp::Transform& t, bool on) {
                t.mapping = on ? warp::Mapping::Perspective : warp::Mapping::Quad;
            }));
    m_smooth = menu->addAction("S&mooth");
    m_smooth->setCheckable(true);
    connect(m_smooth, &QAction::triggered, this, changing([](warp::Transform& t, bool on) { t.smooth = on; }));
    m_clip = menu->addAction("&Clip to Image");
    m_fit = menu->addAction("&Fit Result");
    oneOf({m_clip, m_fit});
    connect(m_clip, &QAction::triggered, this,
            changing([](warp::Transform& t, bool) { t.canvas = warp::CanvasChoice::ClipToImage; }));
    connect(m_fit, &QAction::triggered, this, changing([](warp::Transform& t, bool) { t.canvas = warp::CanvasChoice::FitResult; }));
    menu->addSeparator();
    m_findPage = menu->addAction("F&ind Page", this, &CVerlumeDlg::FindPage);
    m_findPage->setShortcut(QKeySequence("F"));
    m_pageSize = menu->addAction("Page Si&ze...", this, &CVerlumeDlg::AskPageSize);
    menu->addSeparator();
    m_showPage = menu->addAction("Show the Straightened Page");
    m_showPage->setCheckable(true);
    m_showPage->setShortcut(QKeySequence("R"));
    connect(m_showPage, &QAction::triggered, this, [this](bool on) { m_pView->ShowStraightened(on); });
    connect(m_pView, &view::CPicView::renderRefused, this, &CVerlumeDlg::ShowRefusal);
    UpdateTransformMenu();
}

void CVerlumeDlg::ApplyTransform(const warp::Transform& transform) {
    const std::string why = m_pView->SetTransform(transform);
    if (!why.empty()) ShowRefusal(QString::fromStdString(why));
    UpdateTransformMenu();
}

void CVerlumeDlg::FindPage() {
    imaging::Bitmap* photo = GetImage();
    if (!photo || m_pView->IsDragging()) return;
    std::optional<warp::Corners> page;
    {
        view::WaitCursor wait;
        page = pagefind::FindPage(*photo);
    }
    if (!page) {
        statusBar()->showMessage("No page found", 8000);
        return;
    }
    const std::string why = m_pView->StraightenOn(*page);
    if (!why.empty()) ShowRefusal(QString::fromStdString(why));
    UpdateTransformMenu();
}

void CVerlumeDlg::AskPageSize() {
    warp::Transform t = m_pView->GetTransform();
    const QString current = t.pageSize ? QString("%1 x %2").arg(t.pageSize->width).arg(t.pageSize->height) : QString();
    const std::optional<QString> text =
        m_desktop.AskText(this, "Page Size", "Width x height in pixels (empty: the page's own proportions):", current);
    if (!text) return;
    if (text->trimmed().isEmpty()) {
        t.pageSize.reset();
    } else {
        static const QRegularExpression size("^\\s*(\\d{1,9})\\s*[xX]\\s*(\\d{1,9})\\s*$");
        const QRegularExpressionMatch m = size.match(*text);
        if (!m.hasMatch() || m.captured(1).toLongLong() < 1 || m.captured(2).toLongLong() < 1) {
            m_desktop.ShowMessage(this, Desktop::Icon::Warning, "Not a page size",
                                  "Give the width and height in whole pixels, for example 2100 x 2970.");
            return;
        }
        t.pageSize = warp::PageSize{m.captured(1).toLongLong(), m.captured(2).toLongLong()};
    }
    ApplyTransform(t);
}

void CVerlumeDlg::UpdateTransformMenu() {
    const warp::Transform& t = m_pView->GetTransform();
    const bool straighten = t.direction == warp::Direction::Straighten;
    m_place->setChecked(!straighten);
    m_straighten->setChecked(straighten);
    m_perspective->setChecked(straighten || t.mapping == warp::Mapping::Perspective);
    m_perspective->setEnabled(!straighten); // a page is always straightened in perspective
    m_smooth->setChecked(t.smooth);
    m_clip->setChecked(t.canvas == warp::CanvasChoice::ClipToImage);
    m_fit->setChecked(t.canvas == warp::CanvasChoice::FitResult);
    m_clip->setEnabled(!straighten);
    m_fit->setEnabled(!straighten);
    m_pageSize->setEnabled(straighten);
    m_showPage->setEnabled(straighten);
    m_showPage->setChecked(m_pView->IsShowingStraightened());
}

void CVerlumeDlg::ShowRefusal(const QString& why) {
    QString sentence = why;
    if (!sentence.isEmpty()) sentence[0] = sentence[0].toUpper();
    statusBar()->showMessage(sentence + ".", 8000);
}

} // namespace app
