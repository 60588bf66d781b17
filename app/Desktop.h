#pragma once
// What the program asks of the desktop and of the person at it: a file to open or a name to
// save under, a message, the question about unsaved edits, a line of text or a number, and a
// web address to show. The program uses QtDesktop; tests put a Desktop of their own in its
// place.

#include <QString>

#include <optional>
#include <string>

class QWidget;

namespace app {

class Desktop {
public:
    virtual ~Desktop() = default;

    struct FileRequest {
        bool open;      // an open dialog, or a save dialog (which asks before a file is replaced)
        QString title;
        QString filter; // "PNG Files (*.png);;All Files (*.*)"
        QString folder; // where the dialog starts; empty: where the desktop starts it
    };
    // The chosen path, as the file system takes it (no extension added); nothing when
    // cancelled.
    virtual std::optional<std::string> ChooseFile(QWidget* owner, const FileRequest& request) = 0;

    enum class Icon { Information, Warning };
    // A message box captioned with the program's name, `detail` (if any) in smaller print.
    virtual void ShowMessage(QWidget* owner, Icon icon, const QString& text, const QString& detail) = 0;

    enum class Answer { Save, Discard, Cancel };
    // Asks whether to save the changes before they are lost; Escape and the close box cancel.
    virtual Answer AskToSave(QWidget* owner, const QString& text, const QString& detail) = 0;

    // A line of text, starting as `current`; nothing when cancelled.
    virtual std::optional<QString> AskText(QWidget* owner, const QString& title, const QString& label,
                                           const QString& current) = 0;

    // A whole number from `min` to `max`, starting as `current` (Enter takes it); nothing when
    // cancelled.
    virtual std::optional<int> AskNumber(QWidget* owner, const QString& title, const QString& label, int current,
                                         int min, int max) = 0;

    // Hands `url` to the desktop's URL handler; the outcome is not reported.
    virtual void OpenUrl(const QString& url) = 0;
};

} // namespace app
