#pragma once
// Injection points for tests: what a file dialog answers, what a message box shows, which web
// address is opened, and the screen resolution. By default each is the real thing; tests set
// them and reset them with an empty function (or 0).

#include <functional>
#include <optional>
#include <string>

namespace framework::seams {

struct FileDialogRequest {
    bool open;          // open or save dialog
    std::string title;
    std::string filter; // in Qt's form: "Text (*.a);;Other (*.b)"
    bool confirmOverwrite;
    std::string folder; // where the dialog starts; empty for the default
};
// Returns the chosen path, or nothing for a cancelled dialog.
using FileDialogAnswer = std::function<std::optional<std::string>(const FileDialogRequest&)>;
void SetFileDialogAnswer(FileDialogAnswer answer);

struct MessageBoxRecord {
    std::string caption;
    std::string text;
    std::string detail;
};
// Receives every message box instead of showing it; returns the button pressed.
using MessageBoxRecorder = std::function<int(const MessageBoxRecord&)>;
void SetMessageBoxRecorder(MessageBoxRecorder recorder);

using UrlOpener = std::function<void(const std::string& url)>;
void SetUrlOpener(UrlOpener opener);

// The logical resolution CClientDC reports (0: the screen's own).
void SetDpiForTesting(int dpi);

} // namespace framework::seams
