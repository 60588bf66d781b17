// The main window and its file commands, bad input included, offscreen, with the file dialog, message boxes and
// the URL handler answered through the framework's test seams.

#include "files/ImageFiles.h"
#include "app/Resources.h"
#include "app/VerlumeApp.h"
#include "app/VerlumeDlg.h"
#include "framework/Messages.h"
#include "framework/TestSeams.h"
#include "support/RecordedSeams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImageReader>
#include <QMimeData>
#include <QUrl>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>

namespace {

using namespace imaging;
using namespace testing_support;
using app::CVerlumeDlg;
namespace seams = framework::seams;

class DialogTest : public testing::Test {
protected:
    void SetUp() override { app::theApp.m_pszAppName = "verlume"; }

    // Runs a dialog modally; `body` runs inside its loop, then the dialog is closed with Escape
    // (a body that leaves unsaved edits answers the question that asks about them).
    int RunDialog(CVerlumeDlg& dialog, std::function<void(CVerlumeDlg&)> body) {
        QTimer::singleShot(0, [&] {
            body(dialog);
            if (dialog.IsWindow() && dialog.GetSafeHwnd()->isVisible()) {
                QTest::keyClick(dialog.GetSafeHwnd(), Qt::Key_Escape);
                if (dialog.IsWindow() && dialog.GetSafeHwnd()->isVisible()) {
                    ADD_FAILURE() << "Escape did not close the window";
                    dialog.EndDialog(framework::IDCANCEL);
                }
            }
        });
        return dialog.DoModal();
    }
    void Click(CVerlumeDlg& dialog, int id) {
        QTest::mouseClick(dialog.GetDlgItem(id)->GetSafeHwnd(), Qt::LeftButton);
    }
    // Makes the window the active one, as the user's is (keys reach it), and opens `path`.
    void ActivateAndOpen(CVerlumeDlg& dialog, const std::string& path) {
        dialog.GetSafeHwnd()->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.GetSafeHwnd()));
        Answer(path);
        Click(dialog, app::IDC_OPEN);
    }
    // Answers the next file dialog with `path` (nothing: cancel).
    void Answer(std::optional<std::string> path) { m_seams.answers.push_back(std::move(path)); }

    std::string WriteRandomPng(const std::string& name, int w, int h) {
        std::mt19937 rng(w + h);
        auto image = RandomBitmap(PixelFormat24bppRGB, w, h, rng);
        const std::string path = m_dir.file(name);
        files::SaveImageByName(*image, path);
        return path;
    }

    TempDir m_dir;
    RecordedSeams m_seams;
    std::deque<std::optional<std::string>>& m_answers = m_seams.answers;
    std::vector<seams::FileDialogRequest>& m_requests = m_seams.requests;
    std::vector<seams::MessageBoxRecord>& m_messages = m_seams.messages;
    std::vector<std::string>& m_urls = m_seams.urls;
};

TEST_F(DialogTest, ViewRectangleFollowsTheResolution) {
    const struct { int dpi; framework::CRect rect; } cases[] = {
        {96, {7, 60, 1586, 1093}},
        {120, {8, 75, 1584, 1092}},
        {144, {10, 90, 1580, 1090}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.rect, CVerlumeDlg::ViewRect(1600, 1100, c.dpi)) << c.dpi;

    for (int dpi : {96, 120}) {
        seams::SetDpiForTesting(dpi);
        CVerlumeDlg dialog;
        RunDialog(dialog, [&](CVerlumeDlg& d) {
            const framework::CRect client = d.GetClientRect();
            EXPECT_EQ(CVerlumeDlg::ViewRect(client.Width(), client.Height(), dpi), d.GetView()->GetWindowRect()) << dpi;
            EXPECT_EQ(app::IDC_PICVIEW, d.GetView()->GetDlgCtrlID());
            EXPECT_TRUE(d.GetView()->GetExStyle() & framework::WS_EX_CLIENTEDGE);
            EXPECT_EQ((framework::CSize{500, 500}), d.GetView()->GetTotalSize());
            // The view follows the client area when the window changes size.
            d.GetSafeHwnd()->showNormal();
            d.GetSafeHwnd()->resize(640, 480);
            QApplication::processEvents();
            const framework::CRect resized = d.GetClientRect();
            EXPECT_EQ(CVerlumeDlg::ViewRect(resized.Width(), resized.Height(), dpi), d.GetView()->GetWindowRect());
        });
    }
}

TEST_F(DialogTest, OpenShowsACopyAndFileDialogsAreSetUp) {
    const std::string path = WriteRandomPng("photo.png", 120, 90);
    CVerlumeDlg dialog;
    RunDialog(dialog, [&](CVerlumeDlg& d) {
        Answer(path);
        Click(d, app::IDC_OPEN);
        ASSERT_NE(nullptr, d.GetImage());
        EXPECT_EQ(path, d.GetPath());
        EXPECT_EQ(d.GetImage()->GetWidth(), d.GetView()->GetResultImage()->GetWidth());
        std::unique_ptr<Bitmap> decoded(Bitmap::FromFile(path));
        EXPECT_EQ(PixelBytes(*decoded), PixelBytes(*d.GetImage()));
    });
    ASSERT_EQ(1u, m_requests.size());
    EXPECT_TRUE(m_requests[0].open);
    EXPECT_EQ("Open File", m_requests[0].title);
    EXPECT_EQ("Bitmap Files (*.bmp);;JPEG Files (*.jpg);;PNG Files (*.png);;All Files (*.*)", m_requests[0].filter);
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(DialogTest, SaveBeforeOpenAndOverTheOpenFile) {
    const std::string path = WriteRandomPng("photo.png", 40, 30);
    std::vector<uint8_t> shown;
    CVerlumeDlg dialog;
    RunDialog(dialog, [&](CVerlumeDlg& d) {
        Answer(m_dir.file("early.png")); // nothing to save yet: no file, no message
        Click(d, app::IDC_SAVE);
        EXPECT_FALSE(std::filesystem::exists(m_dir.file("early.png")));
        EXPECT_TRUE(m_messages.empty());

        Answer(path);
        Click(d, app::IDC_OPEN);
        // Saving over the open file replaces it with the result.
        shown = PixelBytes(*d.GetView()->GetResultImage());
        Answer(path);
        Click(d, app::IDC_SAVE);
    });
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ("Save File", m_requests.back().title);
    EXPECT_FALSE(m_requests.back().open);
    EXPECT_TRUE(m_requests.back().confirmOverwrite);
    std::unique_ptr<Bitmap> saved(Bitmap::FromFile(path));
    ASSERT_TRUE(saved->HasContent());
    std::unique_ptr<Bitmap> savedArgb(saved->Clone({0, 0, 40, 30}, PixelFormat32bppARGB));
    EXPECT_EQ(shown, PixelBytes(*savedArgb));
}

TEST_F(DialogTest, EscapeEnterAndTheCloseBoxEndTheDialog) {
    const std::function<void(QWidget*)> closers[] = {
        [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); },
        [](QWidget* w) { w->close(); },
        [](QWidget* w) {
            if (QWidget* focused = w->focusWidget()) focused->clearFocus(); // no button focused: Enter is OK
            QTest::keyClick(w, Qt::Key_Return);
        },
    };
    const int expected[] = {framework::IDCANCEL, framework::IDCANCEL, framework::IDOK};
    for (int i = 0; i < 3; ++i) {
        CVerlumeDlg dialog;
        QTimer::singleShot(0, [&] { closers[i](dialog.GetSafeHwnd()); });
        EXPECT_EQ(expected[i], dialog.DoModal()) << i;
        EXPECT_FALSE(dialog.IsWindow());
    }
    // Enter on a focused button presses it.
    CVerlumeDlg dialog;
    RunDialog(dialog, [&](CVerlumeDlg& d) {
        QWidget* button = d.GetDlgItem(app::IDC_HOMEPAGE)->GetSafeHwnd();
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Return);
        EXPECT_TRUE(d.IsWindow());
    });
    EXPECT_EQ(1u + 3u, m_urls.size()); // the click, and each dialog's end
}

TEST_F(DialogTest, F1ShowsHowToUseTheProgram) {
    CVerlumeDlg dialog;
    RunDialog(dialog, [&](CVerlumeDlg& d) { QTest::keyClick(d.GetSafeHwnd(), Qt::Key_F1); });
    ASSERT_EQ(1u, m_messages.size());
    for (const char* told : {"corner", "Ctrl + O", "Ctrl + S", "Ctrl + Q", "Ctrl + wheel", "Ctrl + plus", "Ctrl + minus", "Ctrl + 0", "Ctrl + 1",
                             "Shift + wheel", "Middle button", "Escape"})
        EXPECT_NE(std::string::npos, m_messages[0].text.find(told)) << told;
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
        bool goesOn;
        int code;
        std::string file, printed;
    } cases[] = {
        {{}, true, 0, "", ""},
        {{"photo.png"}, true, 0, "photo.png", ""},
        {{"a.png", "b.png"}, true, 0, "a.png", ""}, // only the first is read
        {{"--", "-x.png"}, true, 0, "-x.png", ""},
        {{"--help"}, false, 0, "", "usage: verlume [FILE]"},
        {{"--version"}, false, 0, "", "verlume 0.1.0"},
        {{"--frobnicate", "photo.png"}, false, 2, "", "unknown option --frobnicate"},
        {{"-5"}, false, 2, "", "unknown option -5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? std::string("no arguments") : c.args[0]);
        int code = -1;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.goesOn, app::theApp.ProcessCommandLine(c.args, code));
        const std::string out = testing::internal::GetCapturedStdout(), err = testing::internal::GetCapturedStderr();
        if (!c.goesOn) {
            EXPECT_EQ(c.code, code);
        }
        EXPECT_EQ(c.file, app::theApp.GetStartFile());
        EXPECT_NE(std::string::npos, (c.code == 2 ? err : out).find(c.printed));
        if (c.code == 2) {
            EXPECT_NE(std::string::npos, err.find("usage: verlume [FILE]"));
        }
    }
    int ignored = 0;
    app::theApp.ProcessCommandLine({}, ignored);
    // The program itself answers --help before it needs a display.
    FILE* help = popen(("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + std::string(VERLUME_EXE) + " --help").c_str(), "r");
    ASSERT_NE(nullptr, help);
    char line[256] = {};
    ASSERT_NE(nullptr, std::fgets(line, sizeof line, help));
    EXPECT_STREQ("usage: verlume [FILE]\n", line);
    while (std::fgets(line, sizeof line, help)) {}
    EXPECT_EQ(0, pclose(help));
}

// Each file dialog starts where the last one's choice lay (the first where the desktop starts
// it); a file given at start counts as opened. Nothing is kept between runs.
TEST_F(DialogTest, FileDialogsStartInTheFolderLastUsed) {
    namespace fs = std::filesystem;
    for (const char* sub : {"a", "b", "c"}) fs::create_directories(m_dir.file(sub));
    const std::string photo = m_dir.file("a/photo.png"), other = m_dir.file("c/other.png");
    fs::rename(WriteRandomPng("p.png", 30, 20), photo);
    fs::rename(WriteRandomPng("o.png", 30, 20), other);
    {
        CVerlumeDlg dialog;
        RunDialog(dialog, [&](CVerlumeDlg& d) {
            Answer(std::nullopt); // a cancelled Open uses no folder
            Click(d, app::IDC_OPEN);
            Answer(photo);
            Click(d, app::IDC_OPEN);
            Answer(m_dir.file("b/out.png"));
            Click(d, app::IDC_SAVE);
            Answer(std::nullopt);
            Click(d, app::IDC_OPEN);
        });
    }
    ASSERT_EQ(4u, m_requests.size());
    EXPECT_EQ("", m_requests[0].folder);
    EXPECT_EQ("", m_requests[1].folder);
    EXPECT_EQ(m_dir.file("a"), m_requests[2].folder);
    EXPECT_EQ(m_dir.file("b"), m_requests[3].folder);
    m_requests.clear();
    {
        CVerlumeDlg dialog;
        dialog.SetStartFile(other);
        RunDialog(dialog, [&](CVerlumeDlg& d) {
            // The start file opens once the window is up, as Open would, without a dialog.
            for (int i = 0; i < 20 && d.GetPath().empty(); ++i) QTest::qWait(10);
            ASSERT_NE(nullptr, d.GetImage());
            EXPECT_EQ(30u, d.GetView()->GetResultImage()->GetWidth());
            EXPECT_TRUE(m_requests.empty());
            Answer(std::nullopt);
            Click(d, app::IDC_SAVE);
        });
    }
    ASSERT_EQ(1u, m_requests.size());
    EXPECT_EQ(m_dir.file("c"), m_requests[0].folder); // not b: a new run
}

// Drags corner 2 of the open image (at least 40 x 30) inwards: an unsaved edit.
void DragACorner(CVerlumeDlg& d) {
    const Bitmap* image = d.GetImage();
    const QPoint from(int(image->GetWidth()) - 2, int(image->GetHeight()) - 2), to = from - QPoint(10, 8);
    QWidget* viewport = d.GetView()->ClientWidget();
    QTest::mousePress(viewport, Qt::LeftButton, {}, from);
    QTest::mouseMove(viewport, to);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
}

// Every way of closing asks when there are unsaved edits, and each answer does what it says.
TEST_F(DialogTest, ClosingWithUnsavedEditsAsks) {
    const std::string photo = WriteRandomPng("photo.png", 60, 40);
    const struct {
        const char* how;
        std::function<void(CVerlumeDlg&)> close;
    } ways[] = {
        {"Escape", [](CVerlumeDlg& d) { QTest::keyClick(d.GetSafeHwnd(), Qt::Key_Escape); }},
        {"Enter", [](CVerlumeDlg& d) {
             d.GetSafeHwnd()->setFocus(); // no button has the focus
             QTest::keyClick(d.GetSafeHwnd(), Qt::Key_Return);
         }},
        {"the close box", [](CVerlumeDlg& d) { d.GetSafeHwnd()->close(); }},
        {"Ctrl + Q", [](CVerlumeDlg& d) { QTest::keyClick(d.GetSafeHwnd(), Qt::Key_Q, Qt::ControlModifier); }},
    };
    const struct {
        const char* answer;
        bool edit;
        int button;
        std::optional<std::string> saveAs;
        bool closes, saved;
    } answers[] = {
        {"no edits: no question", false, -1, std::nullopt, true, false},
        {"cancel", true, framework::IDCANCEL, std::nullopt, false, false},
        {"discard", true, framework::IDNO, std::nullopt, true, false},
        {"save", true, framework::IDYES, "saved.png", true, true},
        {"save, but the save dialog cancelled", true, framework::IDYES, std::nullopt, false, false},
    };
    for (const auto& way : ways)
        for (const auto& a : answers) {
            SCOPED_TRACE(testing::Message() << way.how << ", " << a.answer);
            m_messages.clear();
            m_requests.clear();
            std::filesystem::remove(m_dir.file("saved.png"));
            bool closed = false;
            size_t urls = 0;
            CVerlumeDlg dialog;
            RunDialog(dialog, [&](CVerlumeDlg& d) {
                ActivateAndOpen(d, photo);
                if (a.edit) DragACorner(d);
                if (a.button != -1) m_seams.buttons.push_back(a.button);
                if (a.button == framework::IDYES) Answer(a.saveAs ? std::optional(m_dir.file(*a.saveAs)) : std::nullopt);
                urls = m_urls.size();
                way.close(d);
                closed = !d.GetSafeHwnd()->isVisible();
                if (!closed) m_seams.buttons.push_back(framework::IDNO); // then Escape discards
            });
            EXPECT_EQ(a.closes, closed);
            EXPECT_EQ(urls, m_urls.size()); // a cancelled close is no exit: no home page yet
            const bool asked = !m_messages.empty() && m_messages[0].text == "Save the changes to the picture?";
            EXPECT_EQ(a.edit, asked);
            EXPECT_EQ(a.saved, std::filesystem::exists(m_dir.file("saved.png")));
        }
}

// Open, a drop and undo and redo keys with unsaved edits; a saved result asks nothing.
TEST_F(DialogTest, OpenDropAndUndoWithUnsavedEdits) {
    const std::string photo = WriteRandomPng("photo.png", 60, 40), other = WriteRandomPng("other.png", 50, 45);
    CVerlumeDlg dialog;
    RunDialog(dialog, [&](CVerlumeDlg& d) {
        ActivateAndOpen(d, photo);
        DragACorner(d);
        EXPECT_TRUE(d.HasUnsavedEdits());
        // Undo back to the opened picture: nothing unsaved; redo: the edit again.
        QTest::keyClick(d.GetSafeHwnd(), Qt::Key_Z, Qt::ControlModifier);
        EXPECT_FALSE(d.HasUnsavedEdits());
        QTest::keyClick(d.GetSafeHwnd(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_TRUE(d.HasUnsavedEdits());
        QTest::keyClick(d.GetSafeHwnd(), Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(d.GetSafeHwnd(), Qt::Key_Y, Qt::ControlModifier);
        EXPECT_TRUE(d.HasUnsavedEdits());
        // Open (Ctrl + O, with the focus on a button) asks first; cancel keeps everything,
        // without a file dialog.
        m_requests.clear();
        m_seams.buttons.push_back(framework::IDCANCEL);
        QWidget* button = d.GetDlgItem(app::IDC_HOMEPAGE)->GetSafeHwnd();
        button->setFocus();
        QTest::keyClick(button, Qt::Key_O, Qt::ControlModifier);
        EXPECT_TRUE(m_requests.empty());
        EXPECT_EQ(60u, d.GetImage()->GetWidth());
        // Dropping several files: asks, then opens the first.
        auto drop = [&](const QList<QUrl>& urls) {
            QMimeData data;
            data.setUrls(urls);
            const QPoint at(100, 100);
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(d.GetSafeHwnd(), &enter);
            if (!enter.isAccepted()) return false;
            QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(d.GetSafeHwnd(), &dropped);
            return true;
        };
        const size_t asked = m_messages.size();
        m_seams.buttons.push_back(framework::IDNO);
        EXPECT_TRUE(drop({QUrl::fromLocalFile(QString::fromStdString(other)), QUrl::fromLocalFile(QString::fromStdString(photo))}));
        EXPECT_EQ(asked + 1, m_messages.size());
        EXPECT_EQ(other, d.GetPath());
        EXPECT_FALSE(d.HasUnsavedEdits());
        // What is not a local file is refused while dragged over the window.
        EXPECT_FALSE(drop({QUrl("https://example.org/photo.png")}));
        EXPECT_EQ(other, d.GetPath());
        // A saved result asks nothing when the window closes.
        DragACorner(d);
        Answer(m_dir.file("done.png"));
        QTest::keyClick(button, Qt::Key_S, Qt::ControlModifier);
        EXPECT_TRUE(std::filesystem::exists(m_dir.file("done.png")));
        EXPECT_FALSE(d.HasUnsavedEdits());
        const size_t before = m_messages.size();
        QTest::keyClick(d.GetSafeHwnd(), Qt::Key_Escape);
        EXPECT_EQ(before, m_messages.size());
    });
}

// The zoom keys work wherever the focus is, and the scale shows right of the buttons.
TEST_F(DialogTest, ZoomKeysAndTheScaleShown) {
    const std::string path = WriteRandomPng("photo.png", 1200, 800);
    CVerlumeDlg dialog;
    RunDialog(dialog, [&](CVerlumeDlg& d) {
        auto shown = [&] { return d.GetDlgItem(app::IDC_SCALE)->GetSafeHwnd()->property("text").toString().toStdString(); };
        EXPECT_EQ("100 %", shown());
        Answer(path);
        Click(d, app::IDC_OPEN);
        view::CPicView* view = d.GetView();
        // Keys reach the window that has the keyboard, as the user's would.
        d.GetSafeHwnd()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(d.GetSafeHwnd()));
        QWidget* focus = d.GetDlgItem(app::IDC_SAVE)->GetSafeHwnd();
        focus->setFocus();
        const struct { Qt::Key key; Qt::KeyboardModifiers modifiers; double scale; const char* text; } keys[] = {
            {Qt::Key_Plus, Qt::ControlModifier, 1.5, "150 %"},
            {Qt::Key_Equal, Qt::ControlModifier, 2.0, "200 %"},
            {Qt::Key_Minus, Qt::ControlModifier, 1.5, "150 %"},
            {Qt::Key_1, Qt::ControlModifier, 1.0, "100 %"},
            {Qt::Key_Minus, Qt::ControlModifier, 2.0 / 3, "66.7 %"},
            {Qt::Key_Minus, Qt::ControlModifier, 0.5, "50 %"},
        };
        for (const auto& k : keys) {
            QTest::keyClick(focus, k.key, k.modifiers);
            EXPECT_EQ(k.scale, view->GetScale()) << k.text;
            EXPECT_EQ(k.text, shown());
        }
        QTest::keyClick(view->GetSafeHwnd(), Qt::Key_0, Qt::ControlModifier);
        EXPECT_TRUE(view->IsFit());
        const framework::CSize full = view->GetFullClientSize();
        const double fit = std::min(full.cx / 1200.0, full.cy / 800.0);
        EXPECT_DOUBLE_EQ(fit, view->GetScale());
        EXPECT_EQ("Fit (" + std::to_string(int(std::lround(fit * 100))) + " %)", shown());
        // Open shows the next image at 100 % again.
        Answer(path);
        Click(d, app::IDC_OPEN);
        EXPECT_EQ(1.0, view->GetScale());
        EXPECT_EQ("100 %", shown());
    });
}

TEST_F(DialogTest, InitInstanceRunsTheWindowAndReleasesEveryImage) {
    const std::string path = WriteRandomPng("photo.png", 50, 40);
    const int64_t before = LiveImageCount();
    QTimer::singleShot(0, [&] {
        auto* dialog = dynamic_cast<CVerlumeDlg*>(app::theApp.m_pMainWnd);
        ASSERT_NE(nullptr, dialog);
        Answer(path);
        Click(*dialog, app::IDC_OPEN);
        EXPECT_EQ(before + 3, LiveImageCount()); // the copy, the result, the back buffer
        QTest::keyClick(dialog->GetSafeHwnd(), Qt::Key_Escape);
    });
    EXPECT_EQ(framework::FALSE, app::theApp.InitInstance());
    EXPECT_EQ(nullptr, app::theApp.m_pMainWnd);
    EXPECT_EQ(before, LiveImageCount());
    EXPECT_EQ(1u, m_urls.size());
}

// Bad input (and a cancelled open): a clear message, nothing lost.
TEST_F(DialogTest, EveryBadFileShowsFailedToOpenAndKeepsTheEdits) {
    const std::vector<BadFile> bad = MakeBadInputFiles(m_dir);
    CVerlumeDlg dialog;
    RunDialog(dialog, [&](CVerlumeDlg&) {
        m_answers.push_back(m_dir.file("good.png"));
        Click(dialog, app::IDC_OPEN);
        QWidget* viewport = dialog.GetView()->ClientWidget();
        QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(31, 23));
        QTest::mouseMove(viewport, QPoint(20, 15));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(20, 15));
        Bitmap* image = dialog.GetImage();
        const auto corners = dialog.GetView()->GetCorners();
        const auto result = PixelBytes(*dialog.GetView()->GetResultImage());
        // Each Open first asks about the unsaved edit: discard it.
        for (const BadFile& f : bad) {
            SCOPED_TRACE(f.what);
            const size_t before = m_messages.size();
            m_seams.buttons.push_back(framework::IDNO);
            m_answers.push_back(m_dir.file(f.name));
            Click(dialog, app::IDC_OPEN);
            ASSERT_EQ(before + 2, m_messages.size());
            EXPECT_EQ("Failed to open", m_messages.back().text);
            EXPECT_EQ("verlume", m_messages.back().caption);
            EXPECT_NE(std::string::npos, m_messages.back().detail.find(f.name)) << m_messages.back().detail;
            EXPECT_EQ(image, dialog.GetImage());
            EXPECT_EQ(corners, dialog.GetView()->GetCorners());
            EXPECT_EQ(result, PixelBytes(*dialog.GetView()->GetResultImage()));
        }
        // A cancelled open changes nothing either, and says nothing after the question.
        const size_t before = m_messages.size();
        m_seams.buttons.push_back(framework::IDNO);
        m_answers.push_back(std::nullopt);
        Click(dialog, app::IDC_OPEN);
        EXPECT_EQ(before + 1, m_messages.size());
        EXPECT_EQ(image, dialog.GetImage());
        EXPECT_EQ(corners, dialog.GetView()->GetCorners());
        EXPECT_EQ(result, PixelBytes(*dialog.GetView()->GetResultImage()));
        m_seams.buttons.push_back(framework::IDNO); // closing: discard
    });
}

TEST_F(DialogTest, FailedSavesSayWhyAndLeaveNothingBehind) {
    MakeBadInputFiles(m_dir);
    const std::string keep = m_dir.file("keep.png");
    WriteFile(keep, std::string("an older file"));
    std::filesystem::create_directory(m_dir.file("out"));
    struct Row {
        std::string path, what;
    };
    const Row rows[] = {
        {m_dir.file("no/such/folder/a.png"), "a missing folder"},
        {"/dev/full", "a full device"},
        {m_dir.file("folder.png"), "a folder as the file name"},
        {m_dir.file("keep.png/inside.png"), "a file as the folder"},
    };
    CVerlumeDlg dialog;
    RunDialog(dialog, [&](CVerlumeDlg&) {
        m_answers.push_back(m_dir.file("good.png"));
        Click(dialog, app::IDC_OPEN);
        for (const Row& r : rows) {
            SCOPED_TRACE(r.what);
            const size_t before = m_messages.size();
            m_answers.push_back(r.path);
            Click(dialog, app::IDC_SAVE);
            ASSERT_EQ(before + 1, m_messages.size());
            EXPECT_EQ("Failed to save", m_messages.back().text);
            EXPECT_FALSE(m_messages.back().detail.empty());
            EXPECT_FALSE(m_seams.busyCursorAtMessage.back()); // the wait is over when it is reported
            EXPECT_EQ(nullptr, QGuiApplication::overrideCursor());
            if (r.path == "/dev/full") {
                EXPECT_NE(std::string::npos, m_messages.back().detail.find("No space left")) << m_messages.back().detail;
            }
        }
    });
    EXPECT_EQ("an older file", [&] { auto b = ReadFile(keep); return std::string(b.begin(), b.end()); }());
    // Nothing half-written anywhere in the folder.
    for (const auto& e : std::filesystem::recursive_directory_iterator(m_dir.path()))
        EXPECT_EQ(std::string::npos, e.path().filename().string().find(".part")) << e.path();
}

} // namespace
