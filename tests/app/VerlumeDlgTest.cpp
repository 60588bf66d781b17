// The main window, its menus, keys and file commands, bad input included, offscreen, with the
// file dialogs, message boxes and the URL handler answered by a recorded desktop.

#include "RecordedDesktop.h"
#include "app/CommandLine.h"
#include "app/VerlumeDlg.h"
#include "files/ImageFiles.h"
#include "pagefind/PageSet.h"
#include "support/TestSupport.h"
#include "warp/WarpImageToQuad.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImageReader>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QUrl>

#include <filesystem>
#include <fstream>
#include <functional>

namespace {

using namespace imaging;
using namespace testing_support;
using app::CVerlumeDlg;
using Answer = app::Desktop::Answer;

class DialogTest : public testing::Test {
protected:
    // A shown main window, active as the user's is (keys reach it).
    std::unique_ptr<CVerlumeDlg> Window() {
        auto window = std::make_unique<CVerlumeDlg>(m_desktop);
        window->resize(900, 700);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        return window;
    }
    QPushButton* Button(CVerlumeDlg& w, const char* name) { return w.findChild<QPushButton*>(name); }
    void Open(CVerlumeDlg& w, const std::string& path) {
        m_desktop.files.push_back(path);
        Button(w, "open")->click();
    }
    void Key(CVerlumeDlg& w, int key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w, Qt::Key(key), modifiers);
    }
    std::string WriteRandomPng(const std::string& name, int w, int h) {
        std::mt19937 rng(w + h);
        auto image = RandomBitmap(PixelFormat24bppRGB, w, h, rng);
        const std::string path = m_dir.file(name);
        files::SaveImageByName(*image, path);
        return path;
    }
    static std::string Text(QLabel* label) { return label->text().toStdString(); }
    // The menu command of that text.
    static QAction* Action(CVerlumeDlg& w, const char* text) {
        for (QAction* menu : w.menuBar()->actions())
            for (QAction* a : menu->menu()->actions())
                if (a->text() == text) return a;
        ADD_FAILURE() << "no " << text;
        return new QAction(&w);
    }

    TempDir m_dir;
    RecordedDesktop m_desktop;
};

// A left-button drag in the view, client points.
void Drag(CVerlumeDlg& w, QPoint from, QPoint to) {
    QWidget* viewport = w.GetView()->viewport();
    QTest::mousePress(viewport, Qt::LeftButton, {}, from);
    QTest::mouseMove(viewport, to);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
}

// Drags corner 2 of the open image (at least 40 x 30) inwards: an unsaved edit.
void DragACorner(CVerlumeDlg& w) {
    const QPoint from(int(w.GetImage()->GetWidth()) - 2, int(w.GetImage()->GetHeight()) - 2);
    Drag(w, from, from - QPoint(10, 8));
}

// What verlume-warp writes with these arguments (OUTPUT left out) is the file `saved`.
void ExpectTheToolWrites(const std::string& saved, const std::string& options, const std::string& input,
                         const std::string& corners) {
    const std::string tool = saved + ".tool.png";
    ASSERT_EQ(0, std::system((std::string(VERLUME_WARP_EXE) + " " + options + " " + input + " " + tool + " " +
                              corners)
                                 .c_str()));
    EXPECT_EQ(PixelBytes(*Bitmap::FromFile(tool)), PixelBytes(*Bitmap::FromFile(saved)));
}

TEST_F(DialogTest, ViewRectangleFollowsTheResolutionAndTheWindow) {
    const struct { int dpi; QRect rect; } cases[] = {
        {96, QRect(QPoint(7, 60), QPoint(1585, 1092))},  // right 1586, bottom 1093, exclusive
        {120, QRect(QPoint(8, 75), QPoint(1583, 1091))},
        {144, QRect(QPoint(10, 90), QPoint(1579, 1089))},
    };
    for (const auto& c : cases) EXPECT_EQ(c.rect, CVerlumeDlg::ViewRect(1600, 1100, c.dpi)) << c.dpi;

    auto w = Window();
    view::CPicView* view = w->GetView();
    EXPECT_EQ(QFrame::Panel | QFrame::Sunken, view->frameStyle());
    for (QSize size : {QSize(900, 700), QSize(640, 480)}) {
        w->resize(size);
        QApplication::processEvents();
        const QWidget* central = w->centralWidget();
        EXPECT_EQ(CVerlumeDlg::ViewRect(central->width(), central->height(), 96), view->geometry()) << size.width();
    }
}

// Open, Save, the status bar, and where the file dialogs start. (The title: the end-to-end test.)
TEST_F(DialogTest, OpenAndSave) {
    namespace fs = std::filesystem;
    for (const char* sub : {"a", "b"}) fs::create_directories(m_dir.file(sub));
    const std::string path = m_dir.file("a/photo.png");
    fs::rename(WriteRandomPng("p.png", 120, 90), path);
    auto w = Window();
    m_desktop.files.push_back(m_dir.file("early.png")); // nothing to save yet: no file, no message
    Button(*w, "save")->click();
    EXPECT_FALSE(fs::exists(m_dir.file("early.png")));
    m_desktop.files.push_back(std::nullopt); // a cancelled Open changes nothing
    Button(*w, "open")->click();
    EXPECT_EQ(nullptr, w->GetImage());

    Open(*w, path);
    ASSERT_NE(nullptr, w->GetImage());
    EXPECT_EQ(path, w->GetPath());
    EXPECT_EQ(PixelBytes(*Bitmap::FromFile(path)), PixelBytes(*w->GetImage()));
    const QList<QLabel*> status = w->statusBar()->findChildren<QLabel*>();
    auto shows = [&](const std::string& text) {
        return std::any_of(status.begin(), status.end(), [&](QLabel* l) { return Text(l) == text; });
    };
    EXPECT_TRUE(shows("120 x 90 pixels"));
    EXPECT_TRUE(shows("100 %"));
    QTest::mouseMove(w->GetView()->viewport(), QPoint(31, 17));
    EXPECT_TRUE(shows("31, 17"));
    DragACorner(*w);
    EXPECT_TRUE(w->isWindowModified());

    // Saved elsewhere while the release's render is under way: the exact result, and the
    // marker goes; saved over the open file: the file is the result.
    EXPECT_TRUE(w->GetView()->IsRendering());
    m_desktop.files.push_back(m_dir.file("b/out.png"));
    Button(*w, "save")->click();
    EXPECT_FALSE(w->isWindowModified());
    auto exact = warp::WarpToNewBitmap(w->GetImage(), warp::Corners::FromOutline(w->GetView()->GetCorners().data()));
    EXPECT_EQ(PixelBytes(*exact), PixelBytes(*Bitmap::FromFile(m_dir.file("b/out.png"))));
    const std::vector<uint8_t> shown = PixelBytes(*w->GetView()->GetResultImage());
    m_desktop.files.push_back(path);
    Button(*w, "save")->click();
    EXPECT_EQ(shown, PixelBytes(*ArgbCopy(*Bitmap::FromFile(path))));
    EXPECT_TRUE(m_desktop.messages.empty());

    ASSERT_EQ(5u, m_desktop.requests.size());
    const auto& first = m_desktop.requests[0];
    EXPECT_FALSE(first.open);
    EXPECT_EQ("Save File", first.title.toStdString());
    EXPECT_EQ("Bitmap Files (*.bmp);;JPEG Files (*.jpg);;PNG Files (*.png);;All Files (*.*)", first.filter.toStdString());
    EXPECT_TRUE(m_desktop.requests[2].open);
    EXPECT_EQ("Open File", m_desktop.requests[2].title.toStdString());
    // Each dialog starts where the last one's choice lay, the first where the desktop starts it.
    EXPECT_EQ("", first.folder.toStdString());
    EXPECT_EQ(m_dir.path().string(), m_desktop.requests[1].folder.toStdString());
    EXPECT_EQ(m_dir.file("a"), m_desktop.requests[3].folder.toStdString());
    EXPECT_EQ(m_dir.file("b"), m_desktop.requests[4].folder.toStdString());
}

// The menus, in order; F1 lists the keys (each key's effect: the tests of what it does).
TEST_F(DialogTest, MenusAndHelp) {
    auto w = Window();
    QStringList menus;
    for (QAction* menu : w->menuBar()->actions()) menus << menu->text();
    EXPECT_EQ((QStringList{"&File", "&Edit", "&View", "&Transform", "&Help"}), menus);
    // L turns Live preview on and off.
    EXPECT_FALSE(w->GetView()->IsLivePreview());
    Key(*w, Qt::Key_L);
    EXPECT_TRUE(w->GetView()->IsLivePreview());
    EXPECT_TRUE(Action(*w, "&Live Preview")->isChecked());
    // F1 lists the keys.
    Key(*w, Qt::Key_F1);
    ASSERT_EQ(1u, m_desktop.messages.size());
    for (const char* told : {"corner", "Ctrl + O", "Ctrl + S", "Ctrl + Q", "Ctrl + wheel", "Ctrl + plus",
                             "Ctrl + minus", "Ctrl + 0", "Ctrl + 1", "Shift + wheel", "Middle button",
                             "Escape", "Alt + F", "Straighten", "R:", "L:", "F:"})
        EXPECT_NE(std::string::npos, m_desktop.messages[0].text.find(told)) << told;
}

// Tab moves through the three buttons, Space and Enter press the focused one; every way of
// closing asks when there are unsaved edits, each answer does what it says, and only a real
// exit shows the home page.
TEST_F(DialogTest, KeysAndClosing) {
    {
        auto w = Window();
        std::vector<std::string> order;
        for (int i = 0; i < 4; ++i) {
            order.push_back(QApplication::focusWidget()->objectName().toStdString());
            Key(*w, Qt::Key_Tab);
        }
        EXPECT_EQ((std::vector<std::string>{"open", "save", "homePage", "open"}), order);
        Button(*w, "homePage")->setFocus();
        Key(*w, Qt::Key_Return);
        Key(*w, Qt::Key_Space);
        EXPECT_EQ(2u, m_desktop.urls.size());
        EXPECT_TRUE(w->isVisible());
    }
    EXPECT_EQ(3u, m_desktop.urls.size()); // and once at the end

    const std::string photo = WriteRandomPng("photo.png", 60, 40);
    const struct {
        const char* how;
        std::function<void(CVerlumeDlg&)> close;
    } ways[] = {
        {"Escape", [&](CVerlumeDlg& w) { Key(w, Qt::Key_Escape); }},
        {"Enter", [](CVerlumeDlg& w) {
             QApplication::focusWidget()->clearFocus(); // no button has the focus
             QTest::keyClick(&w, Qt::Key_Return);
         }},
        {"the close box", [](CVerlumeDlg& w) { w.close(); }},
        {"Ctrl + Q", [&](CVerlumeDlg& w) { Key(w, Qt::Key_Q, Qt::ControlModifier); }},
    };
    const struct {
        const char* answer;
        bool edit;
        std::optional<Answer> answer_;
        std::optional<std::string> saveAs;
        bool closes, saved;
    } answers[] = {
        {"no edits: no question", false, std::nullopt, std::nullopt, true, false},
        {"cancel", true, Answer::Cancel, std::nullopt, false, false},
        {"discard", true, Answer::Discard, std::nullopt, true, false},
        {"save", true, Answer::Save, "saved.png", true, true},
        {"save, but the save dialog cancelled", true, Answer::Save, std::nullopt, false, false},
    };
    for (const auto& way : ways)
        for (const auto& a : answers) {
            SCOPED_TRACE(testing::Message() << way.how << ", " << a.answer);
            m_desktop.questions = 0;
            std::filesystem::remove(m_dir.file("saved.png"));
            auto w = Window();
            Open(*w, photo);
            if (a.edit) DragACorner(*w);
            if (a.answer_) m_desktop.answers.push_back(*a.answer_);
            if (a.answer_ == Answer::Save) m_desktop.files.push_back(a.saveAs ? std::optional(m_dir.file(*a.saveAs)) : std::nullopt);
            const size_t urls = m_desktop.urls.size();
            way.close(*w);
            EXPECT_EQ(a.closes, !w->isVisible());
            EXPECT_EQ(a.edit ? 1 : 0, m_desktop.questions);
            EXPECT_EQ(a.saved, std::filesystem::exists(m_dir.file("saved.png")));
            w.reset();
            EXPECT_EQ(urls + 1, m_desktop.urls.size());
        }
}

// Undo and redo keys, Open (Ctrl + O) and a drop with unsaved edits. (That a saved result asks
// nothing on the way out: the end-to-end test.)
TEST_F(DialogTest, OpenDropAndUndoWithUnsavedEdits) {
    const std::string photo = WriteRandomPng("photo.png", 60, 40), other = WriteRandomPng("other.png", 50, 45);
    auto w = Window();
    Open(*w, photo);
    DragACorner(*w);
    EXPECT_TRUE(w->HasUnsavedEdits());
    // Undo back to the opened picture: nothing unsaved; redo: the edit again.
    QMenu* edit = w->menuBar()->actions()[1]->menu();
    auto enabled = [&] { return std::pair(edit->actions()[0]->isEnabled(), edit->actions()[1]->isEnabled()); };
    EXPECT_EQ(std::pair(true, false), enabled());
    Key(*w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(w->HasUnsavedEdits());
    EXPECT_EQ(std::pair(false, true), enabled());
    Key(*w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(w->HasUnsavedEdits());
    Key(*w, Qt::Key_Z, Qt::ControlModifier);
    Key(*w, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_TRUE(w->HasUnsavedEdits());
    // Open asks first; cancel keeps everything, without a file dialog.
    m_desktop.requests.clear();
    m_desktop.answers.push_back(Answer::Cancel);
    Key(*w, Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(m_desktop.requests.empty());
    EXPECT_EQ(60u, w->GetImage()->GetWidth());
    // Dropping several files: asks, then opens the first.
    auto drop = [&](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at(100, 100);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &dropped);
        return true;
    };
    m_desktop.answers.push_back(Answer::Discard);
    EXPECT_TRUE(drop({QUrl::fromLocalFile(QString::fromStdString(other)), QUrl::fromLocalFile(QString::fromStdString(photo))}));
    EXPECT_EQ(2, m_desktop.questions);
    EXPECT_EQ(other, w->GetPath());
    EXPECT_FALSE(w->HasUnsavedEdits());
    // What is not a local file is refused while dragged over the window.
    EXPECT_FALSE(drop({QUrl("https://example.org/photo.png")}));
}

// The zoom keys work wherever the focus is, and the scale shows right of the buttons.
TEST_F(DialogTest, ZoomKeysAndTheScaleShown) {
    const std::string path = WriteRandomPng("photo.png", 1200, 800);
    auto w = Window();
    QLabel* scale = w->findChild<QLabel*>("scale");
    EXPECT_EQ("100 %", Text(scale));
    Open(*w, path);
    view::CPicView* view = w->GetView();
    Button(*w, "save")->setFocus();
    const struct { Qt::Key key; double scale; const char* text; } keys[] = {
        {Qt::Key_Plus, 1.5, "150 %"}, {Qt::Key_Equal, 2.0, "200 %"}, {Qt::Key_Minus, 1.5, "150 %"},
        {Qt::Key_1, 1.0, "100 %"},    {Qt::Key_Minus, 2.0 / 3, "66.7 %"}, {Qt::Key_Minus, 0.5, "50 %"},
    };
    for (const auto& k : keys) {
        Key(*w, k.key, Qt::ControlModifier);
        EXPECT_EQ(k.scale, view->GetScale()) << k.text;
        EXPECT_EQ(k.text, Text(scale));
    }
    Key(*w, Qt::Key_0, Qt::ControlModifier);
    EXPECT_TRUE(view->IsFit());
    const QSize full = view->GetFullClientSize();
    const double fit = std::min(full.width() / 1200.0, full.height() / 800.0);
    EXPECT_DOUBLE_EQ(fit, view->GetScale());
    EXPECT_EQ("Fit (" + std::to_string(int(std::lround(fit * 100))) + " %)", Text(scale));
    // Open shows the next image at 100 % again.
    Open(*w, path);
    EXPECT_EQ(1.0, view->GetScale());
    EXPECT_EQ("100 %", Text(scale));
}

// Straighten from the menu: the handles on the photo, 10 % in from the view's edges; a drag
// renders the page, R shows it in place of the photo, Save writes what verlume-warp
// --straighten writes for the same corners; undo goes back through the corners and to Place.
TEST_F(DialogTest, StraightenAPage) {
    const std::string photo = WriteRandomPng("photo.png", 300, 200);
    auto w = Window();
    Open(*w, photo);
    view::CPicView* view = w->GetView();
    const std::vector<uint8_t> photoPixels = PixelBytes(*view->GetResultImage());
    auto action = [&](const char* text) { return Action(*w, text); };
    action("&Straighten a Page")->trigger();
    EXPECT_EQ(warp::Direction::Straighten, view->GetTransform().direction);
    EXPECT_TRUE(action("P&erspective")->isChecked());
    EXPECT_FALSE(action("P&erspective")->isEnabled());
    EXPECT_EQ((Point{30, 20}), view->GetCorners()[0]); // the whole photo shows: 10 % of 300 x 200
    EXPECT_EQ((Point{270, 180}), view->GetCorners()[2]);
    EXPECT_TRUE(w->isWindowModified());
    EXPECT_TRUE(view->IsRendering()); // the page, behind the photo; its size is told already
    const Bitmap* page = view->GetResultImage();
    EXPECT_EQ(QString("300 x 200 pixels, page %1 x %2").arg(page->GetWidth()).arg(page->GetHeight()).toStdString(),
              Text(w->statusBar()->findChildren<QLabel*>().front()));

    Drag(*w, {270, 180}, {250, 170});
    ASSERT_EQ((Point{250, 170}), view->GetCorners()[2]);
    // A corner that would cross the page's sides goes back, and the status bar says why.
    Drag(*w, {30, 180}, {280, 10});
    EXPECT_EQ((Point{30, 180}), view->GetCorners()[3]);
    EXPECT_EQ("The quadrilateral is not convex.", w->statusBar()->currentMessage().toStdString());

    Key(*w, Qt::Key_R);
    EXPECT_TRUE(view->IsShowingStraightened());
    EXPECT_EQ(view->GetResultImage()->GetWidth(), uint32_t(view->GetTotalSize().width()));
    m_desktop.files.push_back(m_dir.file("page.png"));
    Key(*w, Qt::Key_S, Qt::ControlModifier);
    EXPECT_FALSE(w->isWindowModified());
    ExpectTheToolWrites(m_dir.file("page.png"), "--straighten", photo, "30,20 270,20 250,170 30,180");

    // A page size given in pixels; then undo takes it back, then the drag, then Straighten.
    m_desktop.texts.push_back("120 x 80");
    action("Page Si&ze...")->trigger();
    EXPECT_EQ(120u, view->GetResultImage()->GetWidth());
    // A page too large to hold is refused and the page stays.
    m_desktop.texts.push_back("70000 x 10");
    action("Page Si&ze...")->trigger();
    EXPECT_EQ("A bitmap of 70000 x 10 pixels is beyond the size limit.", w->statusBar()->currentMessage().toStdString());
    EXPECT_EQ(120u, view->GetResultImage()->GetWidth());
    Key(*w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_NE(120u, view->GetResultImage()->GetWidth());
    Key(*w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ((Point{270, 180}), view->GetCorners()[2]);
    Key(*w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(warp::Direction::Place, view->GetTransform().direction);
    EXPECT_TRUE(action("&Place on the Corners")->isChecked());
    EXPECT_EQ(photoPixels, PixelBytes(*view->GetResultImage()));
}

// F puts the handles on the page a photo shows and straightens it, one undoable step; where
// there is no page, the status bar says so and nothing moves.
TEST_F(DialogTest, FindPage) {
    const pagefind_testing::PagePhoto made = pagefind_testing::MakePagePhoto("plain table", 0, 800, 600);
    auto photo = pagefind_testing::ToBitmap(made);
    ASSERT_EQ(Ok, files::SaveImageByName(*photo, m_dir.file("page.png")).code);
    auto w = Window();
    Open(*w, m_dir.file("page.png"));
    view::CPicView* view = w->GetView();
    const auto opened = view->GetCorners();
    Key(*w, Qt::Key_F);
    EXPECT_EQ(warp::Direction::Straighten, view->GetTransform().direction);
    for (int i = 0; i < 4; ++i) // within 1 % of the diagonal
        EXPECT_LE(std::hypot(view->GetCorners()[size_t(i)].X - made.corners[size_t(i)].x,
                             view->GetCorners()[size_t(i)].Y - made.corners[size_t(i)].y),
                  10.0)
            << i;
    EXPECT_TRUE(w->isWindowModified());
    Key(*w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(warp::Direction::Place, view->GetTransform().direction);
    EXPECT_EQ(opened, view->GetCorners());

    Open(*w, WriteRandomPng("noise.png", 300, 200));
    Key(*w, Qt::Key_F);
    EXPECT_EQ("No page found", w->statusBar()->currentMessage().toStdString());
    EXPECT_EQ(warp::Direction::Place, view->GetTransform().direction);
}

// Perspective from the menu renders the corners there are through the projective map, as one
// undoable step (Smooth over it another); corners it cannot take keep the described mapping,
// and the status bar says why.
TEST_F(DialogTest, PerspectiveFromTheMenu) {
    const std::string photo = WriteRandomPng("photo.png", 120, 90);
    auto w = Window();
    Open(*w, photo);
    DragACorner(*w);
    view::CPicView* view = w->GetView();
    QAction* perspective = Action(*w, "P&erspective");
    const std::vector<uint8_t> quad = PixelBytes(*view->GetResultImage());
    perspective->trigger();
    EXPECT_TRUE(perspective->isChecked());
    const warp::Transform t{.mapping = warp::Mapping::Perspective};
    auto expected = warp::RenderTransform(
        w->GetImage(), warp::PlanTransform(t, warp::Corners::FromOutline(view->GetCorners().data()), 120, 90), 2);
    EXPECT_EQ(PixelBytes(*expected), PixelBytes(*view->GetResultImage()));
    // Smooth on top of it: the smooth render's bytes, and one more undoable step.
    QAction* smooth = Action(*w, "S&mooth");
    smooth->trigger();
    const warp::Transform smoothly{.mapping = warp::Mapping::Perspective, .smooth = true};
    expected = warp::RenderTransform(
        w->GetImage(), warp::PlanTransform(smoothly, warp::Corners::FromOutline(view->GetCorners().data()), 120, 90), 2);
    EXPECT_EQ(PixelBytes(*expected), PixelBytes(*view->GetResultImage()));
    Key(*w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(smooth->isChecked());
    Key(*w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(perspective->isChecked());
    EXPECT_EQ(quad, PixelBytes(*view->GetResultImage()));
    // A corner dragged across the quad: the described mapping takes it, the perspective one not.
    Drag(*w, {1, 1}, {100, 70});
    perspective->trigger();
    EXPECT_FALSE(perspective->isChecked());
    EXPECT_EQ(warp::Mapping::Quad, view->GetTransform().mapping);
    EXPECT_FALSE(w->statusBar()->currentMessage().isEmpty());
}

// Fit Result: the canvas reaches beyond the image, a corner goes to a negative position, the
// view shows the grown result where it lies and Save writes it whole, as verlume-warp
// --canvas fit does.
TEST_F(DialogTest, FitResultCanvas) {
    const std::string photo = WriteRandomPng("photo.png", 120, 90);
    auto w = Window();
    Open(*w, photo);
    view::CPicView* view = w->GetView();
    Action(*w, "&Fit Result")->trigger();
    EXPECT_EQ((Point{-60, -60}), view->GetCanvasOrigin()); // half the longer side around the image
    EXPECT_EQ(QSize(240, 210), view->GetTotalSize());
    ASSERT_EQ(QPoint(0, 0), view->GetScrollPosition());
    Drag(*w, {60, 60}, {30, 40}); // corner 0, at (0, 0)
    ASSERT_EQ((Point{-30, -20}), view->GetCorners()[0]);
    Bitmap* result = view->GetResultImage();
    ASSERT_EQ(150u, result->GetWidth());
    ASSERT_EQ(110u, result->GetHeight());
    // The result's pixel (70, 60) is image point (40, 40): on screen where that point lies.
    const QImage screen = view->viewport()->grab().toImage();
    const QPoint at = QPoint(40, 40) - QPoint(view->GetCanvasOrigin().X, view->GetCanvasOrigin().Y) - view->GetScrollPosition();
    const auto p = PixelAt(*result, 70, 60);
    EXPECT_EQ(qRgb(p[2], p[1], p[0]), screen.pixel(at) | 0xFF000000u);

    m_desktop.files.push_back(m_dir.file("fit.png"));
    Key(*w, Qt::Key_S, Qt::ControlModifier);
    ExpectTheToolWrites(m_dir.file("fit.png"), "--canvas fit", photo, "-30,-20 120,0 120,90 0,90");
}

// The desktop entry passes a file, lists only types the program reads (the usual ones among
// them), and desktop-file-validate accepts it.
TEST_F(DialogTest, DesktopEntry) {
    std::ifstream file(VERLUME_DESKTOP_ENTRY);
    ASSERT_TRUE(file) << VERLUME_DESKTOP_ENTRY;
    std::string line, exec, types;
    while (std::getline(file, line)) {
        if (line.rfind("Exec=", 0) == 0) exec = line.substr(5);
        if (line.rfind("MimeType=", 0) == 0) types = line.substr(9);
    }
    EXPECT_EQ("verlume %f", exec);
    std::vector<std::string> listed;
    for (size_t at = 0, end; (end = types.find(';', at)) != std::string::npos; at = end + 1) listed.push_back(types.substr(at, end - at));
    const QList<QByteArray> readable = QImageReader::supportedMimeTypes();
    for (const std::string& type : listed) EXPECT_TRUE(readable.contains(QByteArray(type.c_str()))) << type;
    for (const char* usual : {"image/png", "image/jpeg", "image/bmp", "image/gif", "image/tiff", "image/webp"})
        EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), usual)) << usual;
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0) GTEST_SKIP() << "desktop-file-validate is not installed";
    EXPECT_EQ(0, std::system(("desktop-file-validate " + std::string(VERLUME_DESKTOP_ENTRY)).c_str()));
}

// verlume FILE opens FILE as Open would; --help and --version print; unknown options fail.
TEST_F(DialogTest, CommandLine) {
    const struct {
        std::vector<std::string> args;
        std::optional<int> code;
        std::string file, printed;
    } cases[] = {
        {{}, std::nullopt, "", ""},
        {{"a.png", "b.png"}, std::nullopt, "a.png", ""}, // only the first is read
        {{"--", "-x.png"}, std::nullopt, "-x.png", ""},
        {{"--help"}, 0, "", "usage: verlume [FILE]"},
        {{"--version"}, 0, "", "verlume " VERLUME_VERSION "\n"},
        {{"--frobnicate", "photo.png"}, 2, "", "unknown option --frobnicate\nusage: verlume [FILE]"},
        {{"-5"}, 2, "", "unknown option -5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? std::string("no arguments") : c.args[0]);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const app::CommandLine line = app::ParseCommandLine(c.args);
        const std::string out = testing::internal::GetCapturedStdout(), err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(c.code, line.exitCode);
        EXPECT_EQ(c.file, line.startFile);
        EXPECT_NE(std::string::npos, (c.code == 2 ? err : out).find(c.printed));
    }
    // The program itself answers --help before it needs a display, and without one says so.
    auto withoutDisplay = [](const char* args) {
        FILE* run = popen(("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + std::string(VERLUME_EXE) + args +
                           " 2>&1").c_str(), "r");
        std::string text;
        char part[256];
        while (run && std::fgets(part, sizeof part, run)) text += part;
        return std::pair(run ? WEXITSTATUS(pclose(run)) : -1, text);
    };
    const auto [helped, help] = withoutDisplay(" --help");
    EXPECT_EQ(0, helped);
    EXPECT_EQ(0u, help.find("usage: verlume [FILE]\n"));
    const auto [started, told] = withoutDisplay(" photo.png");
    EXPECT_EQ(1, started);
    EXPECT_EQ("verlume: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are unset)\n", told);
}

// Bad input: a clear message, nothing lost; the window releases every image it made when it
// goes. (Every kind of bad file gets its reason where files are decoded.)
TEST_F(DialogTest, BadFilesShowFailedToOpenAndKeepTheEdits) {
    BadInputFiles(m_dir);
    const int64_t before = LiveImageCount();
    auto w = Window();
    Open(*w, m_dir.file("good.png"));
    EXPECT_EQ(before + 3, LiveImageCount()); // the copy, the result, the back buffer
    DragACorner(*w);
    Bitmap* image = w->GetImage();
    const auto corners = w->GetView()->GetCorners();
    const auto result = PixelBytes(*w->GetView()->GetResultImage());
    // Each Open first asks about the unsaved edit: discard it.
    for (const std::string name : {"truncated.jpg", "huge.png", "folder.png", "missing.png"}) {
        SCOPED_TRACE(name);
        const size_t messages = m_desktop.messages.size();
        m_desktop.answers.push_back(Answer::Discard);
        Open(*w, m_dir.file(name));
        ASSERT_EQ(messages + 2, m_desktop.messages.size());
        EXPECT_EQ("Failed to open", m_desktop.messages.back().text);
        EXPECT_NE(std::string::npos, m_desktop.messages.back().detail.find(name)) << m_desktop.messages.back().detail;
        EXPECT_EQ(image, w->GetImage());
        EXPECT_EQ(corners, w->GetView()->GetCorners());
        EXPECT_EQ(result, PixelBytes(*w->GetView()->GetResultImage()));
    }
    // The title still names the file shown, also once it is written again.
    w->GetView()->Undo();
    EXPECT_EQ("good.png[*] - Verlume", w->windowTitle().toStdString());
    w.reset();
    EXPECT_EQ(before, LiveImageCount());
}

// Saving a JPEG asks the quality once a run, 90 offered; a cancelled question writes nothing.
// What the opened file carried goes into the saved one unless Save Without Metadata is on.
TEST_F(DialogTest, JpegQualityAndMetadataOnSave) {
    std::mt19937 rng(4);
    auto pixels = RandomBitmap(PixelFormat24bppRGB, 60, 40, rng);
    Metadata carried;
    carried.xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
                  "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:creator><rdf:Seq>"
                  "<rdf:li>A. Photographer</rdf:li></rdf:Seq></dc:creator></rdf:Description></rdf:RDF></x:xmpmeta>";
    SaveOptions tagged;
    tagged.metadata = &carried;
    ASSERT_EQ(Ok, files::SaveImageByName(*pixels, m_dir.file("photo.png"), tagged).code);
    auto w = Window();
    Open(*w, m_dir.file("photo.png"));
    DragACorner(*w);
    auto holds = [&](const char* name, const std::string& text) {
        const std::vector<uint8_t> bytes = ReadFile(m_dir.file(name));
        return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
    };
    m_desktop.files.push_back(m_dir.file("a.jpg"));
    m_desktop.files.push_back(m_dir.file("b.jpg"));
    Button(*w, "save")->click();
    Button(*w, "save")->click();
    EXPECT_EQ(1, m_desktop.numbersAsked);
    const std::vector<uint8_t> jpeg = ReadFile(m_dir.file("b.jpg"));
    const uint8_t dqt[] = {0xFF, 0xDB};
    const auto table = std::search(jpeg.begin(), jpeg.end(), std::begin(dqt), std::end(dqt));
    ASSERT_LT(table + 5, jpeg.end());
    EXPECT_EQ(3, table[5]); // the luminance table of quality 90
    EXPECT_TRUE(holds("a.jpg", "A. Photographer"));
    Action(*w, "Save &Without Metadata")->trigger();
    m_desktop.files.push_back(m_dir.file("c.png"));
    Button(*w, "save")->click();
    ASSERT_TRUE(std::filesystem::exists(m_dir.file("c.png")));
    EXPECT_FALSE(holds("c.png", "A. Photographer"));
}

// A failed save says why, after the wait (each way of failing: the file-writing tests), and
// the edit stays unsaved.
TEST_F(DialogTest, FailedSaveSaysWhy) {
    auto w = Window();
    Open(*w, WriteRandomPng("good.png", 60, 40));
    DragACorner(*w);
    m_desktop.files.push_back("/dev/full");
    Button(*w, "save")->click();
    ASSERT_EQ(1u, m_desktop.messages.size());
    const RecordedDesktop::Message& m = m_desktop.messages.back();
    EXPECT_EQ("Failed to save", m.text);
    EXPECT_NE(std::string::npos, m.detail.find("No space left")) << m.detail;
    EXPECT_FALSE(m.busyCursor);
    EXPECT_EQ(nullptr, QGuiApplication::overrideCursor());
    EXPECT_TRUE(w->isWindowModified());
}

} // namespace
