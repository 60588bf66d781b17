#include "Messages.h"

#include "Dialog.h"
#include "Seams.h"
#include "WinApp.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace framework {

int AfxMessageBox(const std::string& text, unsigned type, const std::string& detail) {
    CWinApp* app = AfxGetApp();
    const std::string caption = app ? app->m_pszAppName : std::string();
    if (const auto& recorder = seams::CurrentMessageBoxRecorder()) return recorder({caption, text, detail});
    QWidget* owner = app && app->m_pMainWnd ? app->m_pMainWnd->GetSafeHwnd() : nullptr;
    QMessageBox box(owner);
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    if (!detail.empty()) box.setInformativeText(QString::fromStdString(detail));
    box.setIcon((type & MB_ICONWARNING) == MB_ICONWARNING     ? QMessageBox::Warning
                 : (type & MB_ICONQUESTION) == MB_ICONQUESTION ? QMessageBox::Question
                 : (type & MB_ICONINFORMATION)                 ? QMessageBox::Information
                                                               : QMessageBox::NoIcon);
    if ((type & 0xF) == MB_YESNOCANCEL) {
        box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Save);
        box.setEscapeButton(QMessageBox::Cancel);
        switch (box.exec()) {
        case QMessageBox::Save: return IDYES;
        case QMessageBox::Discard: return IDNO;
        default: return IDCANCEL;
        }
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

void OpenUrl(const std::string& url) {
    if (const auto& opener = seams::CurrentUrlOpener()) return opener(url);
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

} // namespace framework
