#include "FileDialog.h"

#include "Dialog.h"
#include "Seams.h"
#include "WinApp.h"

#include <QFile>
#include <QFileDialog>
#include <QStringList>

#include <cstring>

namespace framework {

CFileDialog::CFileDialog(bool openFileDialog, uint32_t flags) : m_open(openFileDialog) {
    m_ofn.Flags = flags;
}

std::string CFileDialog::ConvertFilter(const char* filter, size_t length) {
    if (filter == nullptr) return {};
    std::vector<std::string> parts;
    size_t i = 0;
    while ((length == 0 || i < length) && filter[i] != '\0') {
        const size_t n = std::strlen(filter + i);
        parts.emplace_back(filter + i, n);
        i += n + 1;
    }
    std::string out;
    for (size_t k = 0; k + 1 < parts.size(); k += 2) {
        std::string patterns = parts[k + 1];
        for (char& c : patterns)
            if (c == ';') c = ' ';
        std::string entry = parts[k];
        // Qt reads the patterns from the last parentheses of the text; add them where the
        // text does not already end with exactly these.
        if (entry.size() < patterns.size() + 2 || entry.compare(entry.size() - patterns.size() - 2,
                                                                std::string::npos, "(" + patterns + ")") != 0)
            entry += " (" + patterns + ")";
        if (!out.empty()) out += ";;";
        out += entry;
    }
    return out;
}

int CFileDialog::DoModal() {
    seams::FileDialogRequest request{m_open, m_ofn.lpstrTitle ? m_ofn.lpstrTitle : "",
                                     ConvertFilter(m_ofn.lpstrFilter, m_ofn.nFilterLength),
                                     (m_ofn.Flags & OFN_OVERWRITEPROMPT) != 0,
                                     m_ofn.lpstrInitialDir ? m_ofn.lpstrInitialDir : ""};
    std::optional<std::string> chosen;
    if (const auto& answer = seams::CurrentFileDialogAnswer()) {
        chosen = answer(request);
    } else {
        CWnd* owner = AfxGetApp() ? AfxGetApp()->m_pMainWnd : nullptr;
        QWidget* parent = owner ? owner->GetSafeHwnd() : nullptr;
        const QString title = QString::fromStdString(request.title);
        const QString filter = QString::fromStdString(request.filter);
        QFileDialog::Options options;
        if (!request.confirmOverwrite) options |= QFileDialog::DontConfirmOverwrite;
        const QString folder = QFile::decodeName(request.folder.c_str());
        const QString path = m_open ? QFileDialog::getOpenFileName(parent, title, folder, filter, nullptr, options)
                                    : QFileDialog::getSaveFileName(parent, title, folder, filter, nullptr, options);
        if (!path.isEmpty()) chosen = QFile::encodeName(path).toStdString();
    }
    if (!chosen || chosen->empty()) return IDCANCEL;
    m_path = *chosen;
    return IDOK;
}

} // namespace framework
