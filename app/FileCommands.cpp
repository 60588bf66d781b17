// Open, Save and the question about unsaved edits: the main window's file commands.

#include "VerlumeDlg.h"

#include "files/ImageFiles.h"
#include "view/WaitCursor.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include <filesystem>
#include <utility>

namespace app {

namespace {

// Both file dialogs offer the same types.
const char* const kFilter = "Bitmap Files (*.bmp);;JPEG Files (*.jpg);;PNG Files (*.png);;All Files (*.*)";

// The folder a path lies in, as an absolute path; empty where there is none.
std::string FolderOf(const std::string& path) {
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    return absolute.has_parent_path() ? absolute.parent_path().string() : std::string();
}

} // namespace

std::optional<std::string> CVerlumeDlg::ChooseFile(bool open, const QString& title) {
    std::optional<std::string> path =
        m_desktop.ChooseFile(this, {open, title, kFilter, QString::fromStdString(m_strFolder)});
    if (path && path->empty()) path.reset();
    if (path) m_strFolder = FolderOf(*path); // the next file dialog starts there
    return path;
}

bool CVerlumeDlg::HasUnsavedEdits() const {
    return m_pImage && m_pView->HasResult() && m_pView->GetStateId() != m_savedState;
}

bool CVerlumeDlg::MayDiscardEdits() {
    if (!HasUnsavedEdits()) return true;
    switch (m_desktop.AskToSave(this, "Save the changes to the picture?", "If you don't save them, they are lost.")) {
    case Desktop::Answer::Save: return SaveResult();
    case Desktop::Answer::Discard: return true;
    default: return false;
    }
}

void CVerlumeDlg::OnBnClickedOpen() {
    if (!MayDiscardEdits()) return;
    if (const std::optional<std::string> path = ChooseFile(true, "Open File")) OpenFile(*path);
    // A cancelled dialog changes nothing.
}

void CVerlumeDlg::OpenFile(const std::string& path) {
    m_strPath = path;
    m_strFolder = FolderOf(path);
    imaging::StatusRecord why;
    std::unique_ptr<imaging::Bitmap> copy = files::OpenImageCopy(m_strPath, &why);
    if (copy == nullptr) {
        // The current image, result and corners stay as they were.
        m_desktop.ShowMessage(this, Desktop::Icon::Warning, "Failed to open", QString::fromStdString(why.reason));
        return;
    }
    // The view lets go of the old source in SetImage, before it is deleted at the end of this
    // scope; nothing paints in between.
    const std::unique_ptr<imaging::Bitmap> old = std::exchange(m_pImage, std::move(copy));
    m_pView->SetImage(m_pImage.get());
    m_savedState = m_pView->GetStateId();
    // The title names what is shown: a file that failed to open leaves it as it was.
    m_shownName = QFileInfo(QFile::decodeName(path.c_str())).fileName();
    ShowImageSize();
    m_statusPointer->clear();
    ShowScale(); // a new image is shown at 100 %
    UpdateTitle();
}

void CVerlumeDlg::OnBnClickedSave() { SaveResult(); }

bool CVerlumeDlg::SaveResult() {
    const std::optional<std::string> path = ChooseFile(false, "Save File");
    if (!path) return false;
    if (!m_pView->HasResult()) return false; // nothing to save yet
    imaging::SaveOptions options;
    if (std::string(files::EncoderMimeTypeForPath(*path)) == "image/jpeg") {
        if (!m_jpegQuality)
            m_jpegQuality = m_desktop.AskNumber(this, "JPEG Quality", "Quality, from 1 to 100:", options.jpegQuality, 1, 100);
        if (!m_jpegQuality) return false; // cancelled: nothing is written
        options.jpegQuality = *m_jpegQuality;
    }
    const imaging::Metadata kept = files::MetadataToKeep(m_pImage->GetMetadata(), m_stripMetadata->isChecked(), true);
    options.metadata = &kept;
    imaging::StatusRecord saved;
    {
        view::WaitCursor wait;
        // What the file dialog covered is painted again, and the cursor shown, before the
        // encode, and before the wait for a render under way.
        repaint();
        saved = files::SaveImageByName(*m_pView->GetResultImage(), *path, options);
    }
    if (saved.code != imaging::Ok) {
        m_desktop.ShowMessage(this, Desktop::Icon::Warning, "Failed to save", QString::fromStdString(saved.reason));
        return false;
    }
    m_savedState = m_pView->GetStateId();
    UpdateTitle();
    return true;
}

} // namespace app
