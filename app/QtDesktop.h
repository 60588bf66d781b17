#pragma once
// The desktop through Qt: its file dialogs and message boxes, and xdg-open for web addresses.

#include "Desktop.h"

namespace app {

class QtDesktop : public Desktop {
public:
    std::optional<std::string> ChooseFile(QWidget* owner, const FileRequest& request) override;
    void ShowMessage(QWidget* owner, Icon icon, const QString& text, const QString& detail) override;
    Answer AskToSave(QWidget* owner, const QString& text, const QString& detail) override;
    std::optional<QString> AskText(QWidget* owner, const QString& title, const QString& label,
                                   const QString& current) override;
    std::optional<int> AskNumber(QWidget* owner, const QString& title, const QString& label, int current, int min,
                                 int max) override;
    void OpenUrl(const QString& url) override;
};

} // namespace app
