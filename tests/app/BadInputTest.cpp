// What the program does with bad input (and a cancelled open): a clear message, nothing lost.

#include "app/ImageFiles.h"
#include "app/Resources.h"
#include "app/VerlumeApp.h"
#include "app/VerlumeDlg.h"
#include "framework/TestSeams.h"
#include "support/RecordedSeams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>
#include <filesystem>

namespace {

using namespace imaging;
using namespace testing_support;
namespace seams = framework::seams;

class BadInput : public testing::Test {
protected:
    void SetUp() override { app::theApp.m_pszAppName = "verlume"; }
    void Click(app::CVerlumeDlg& d, int id) { QTest::mouseClick(d.GetDlgItem(id)->GetSafeHwnd(), Qt::LeftButton); }
    // Runs `body` inside the dialog's loop and closes the dialog afterwards, also when an
    // assertion in the body gave up early.
    void Run(app::CVerlumeDlg& dialog, const std::function<void()>& body) {
        QTimer::singleShot(0, [&] {
            body();
            QTest::keyClick(dialog.GetSafeHwnd(), Qt::Key_Escape);
        });
        dialog.DoModal();
    }

    TempDir m_dir;
    RecordedSeams m_seams;
    std::deque<std::optional<std::string>>& m_answers = m_seams.answers;
    std::vector<seams::MessageBoxRecord>& m_messages = m_seams.messages;
};

TEST_F(BadInput, EveryBadFileShowsFailedToOpenAndKeepsTheEdits) {
    const std::vector<BadFile> bad = MakeBadInputFiles(m_dir);
    app::CVerlumeDlg dialog;
    Run(dialog, [&] {
        m_answers.push_back(m_dir.file("good.png"));
        Click(dialog, app::IDC_OPEN);
        QWidget* viewport = dialog.GetView()->ClientWidget();
        QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(31, 23));
        QTest::mouseMove(viewport, QPoint(20, 15));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(20, 15));
        Bitmap* image = dialog.GetImage();
        const auto corners = dialog.GetView()->GetCorners();
        const auto result = PixelBytes(*dialog.GetView()->GetResultImage());
        for (const BadFile& f : bad) {
            SCOPED_TRACE(f.what);
            const size_t before = m_messages.size();
            m_answers.push_back(m_dir.file(f.name));
            Click(dialog, app::IDC_OPEN);
            ASSERT_EQ(before + 1, m_messages.size());
            EXPECT_EQ("Failed to open", m_messages.back().text);
            EXPECT_EQ("verlume", m_messages.back().caption);
            EXPECT_NE(std::string::npos, m_messages.back().detail.find(f.name)) << m_messages.back().detail;
            EXPECT_EQ(image, dialog.GetImage());
            EXPECT_EQ(corners, dialog.GetView()->GetCorners());
            EXPECT_EQ(result, PixelBytes(*dialog.GetView()->GetResultImage()));
        }
        // A cancelled open changes nothing either, and says nothing.
        const size_t before = m_messages.size();
        m_answers.push_back(std::nullopt);
        Click(dialog, app::IDC_OPEN);
        EXPECT_EQ(before, m_messages.size());
        EXPECT_EQ(image, dialog.GetImage());
        EXPECT_EQ(corners, dialog.GetView()->GetCorners());
        EXPECT_EQ(result, PixelBytes(*dialog.GetView()->GetResultImage()));
    });
}

TEST_F(BadInput, FailedSavesSayWhyAndLeaveNothingBehind) {
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
    app::CVerlumeDlg dialog;
    Run(dialog, [&] {
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
