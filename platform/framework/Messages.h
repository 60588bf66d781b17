#pragma once
// Message boxes and the desktop's handler for web addresses.

#include <string>

namespace framework {

inline constexpr unsigned MB_OK = 0x0;
// The question about unsaved changes, in the desktop's standard form: Save (IDYES), Discard
// (IDNO) and Cancel (IDCANCEL, also for Escape or the close box).
inline constexpr unsigned MB_YESNOCANCEL = 0x3;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr unsigned MB_ICONWARNING = 0x30;

// Shows `text` in a message box captioned with the application name, owned by the main
// window, with `detail` (if any) in smaller print below. Returns the button pressed (IDOK, or
// for MB_YESNOCANCEL one of IDYES, IDNO and IDCANCEL).
int AfxMessageBox(const std::string& text, unsigned type = MB_OK, const std::string& detail = {});

// Hands `url` to the desktop's URL handler (xdg-open); the outcome is not reported.
void OpenUrl(const std::string& url);

} // namespace framework
