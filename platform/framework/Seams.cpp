#include "Seams.h"

namespace framework::seams {

namespace {
FileDialogAnswer g_fileDialog;
MessageBoxRecorder g_messageBox;
UrlOpener g_urlOpener;
int g_dpi = 0;
} // namespace

void SetFileDialogAnswer(FileDialogAnswer answer) { g_fileDialog = std::move(answer); }
void SetMessageBoxRecorder(MessageBoxRecorder recorder) { g_messageBox = std::move(recorder); }
void SetUrlOpener(UrlOpener opener) { g_urlOpener = std::move(opener); }
void SetDpiForTesting(int dpi) { g_dpi = dpi; }

const FileDialogAnswer& CurrentFileDialogAnswer() { return g_fileDialog; }
const MessageBoxRecorder& CurrentMessageBoxRecorder() { return g_messageBox; }
const UrlOpener& CurrentUrlOpener() { return g_urlOpener; }
int CurrentDpiForTesting() { return g_dpi; }

} // namespace framework::seams
