#include "QtDesktop.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

namespace app {

std::optional<std::string> QtDesktop::ChooseFile(QWidget* owner, const FileRequest& request) {
    const QString path = request.open
        ? QFileDialog::getOpenFileName(owner, request.title, request.folder, request.filter)
        : QFileDialog::getSaveFileName(owner, request.title, request.folder, request.filter);
    if (path.isEmpty()) return std::nullopt;
    return QFile::encodeName(path).toStdString();
}

void QtDesktop::ShowMessage(QWidget* owner, Icon icon, const QString& text, const QString& detail) {
    QMessageBox box(icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::Information,
                    QCoreApplication::applicationName(), text, QMessageBox::Ok, owner);
    box.setInformativeText(detail);
    box.exec();
}

Desktop::Answer QtDesktop::AskToSave(QWidget* owner, const QString& text, const QString& detail) {
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(), text,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, owner);
    box.setInformativeText(detail);
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Save: return Answer::Save;
    case QMessageBox::Discard: return Answer::Discard;
    default: return Answer::Cancel;
    }
}

std::optional<QString> QtDesktop::AskText(QWidget* owner, const QString& title, const QString& label,
                                          const QString& current) {
    bool ok = false;
    const QString text = QInputDialog::getText(owner, title, label, QLineEdit::Normal, current, &ok);
    if (!ok) return std::nullopt;
    return text;
}

std::optional<int> QtDesktop::AskNumber(QWidget* owner, const QString& title, const QString& label, int current,
                                        int min, int max) {
    bool ok = false;
    const int value = QInputDialog::getInt(owner, title, label, current, min, max, 1, &ok);
    if (!ok) return std::nullopt;
    return value;
}

void QtDesktop::OpenUrl(const QString& url) { QDesktopServices::openUrl(QUrl(url)); }

} // namespace app
