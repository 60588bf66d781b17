#pragma once
// Resource ids and the main window's template.

#include "framework/Dialog.h"

namespace app {

inline constexpr int IDD_VERLUME_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDC_OPEN = 1000;
inline constexpr int IDC_SAVE = 1001;
inline constexpr int IDC_HOMEPAGE = 1004;
inline constexpr int IDC_SCALE = 1005; // the view's scale, right of the buttons

// Commands of the window's keys.
inline constexpr int ID_QUIT = 32770;
inline constexpr int ID_UNDO = 32775;
inline constexpr int ID_REDO = 32776;
inline constexpr int ID_OPEN_START_FILE = 32769;
inline constexpr int ID_ZOOM_IN = 32771;
inline constexpr int ID_ZOOM_OUT = 32772;
inline constexpr int ID_ZOOM_FIT = 32773;
inline constexpr int ID_ZOOM_ACTUAL = 32774;
inline constexpr int IDC_PICVIEW = 10001;

// Template 102: 358 x 281 dialog units with the three buttons along the top and the scale
// right of them.
const framework::DialogTemplate& MainDialogTemplate();

// The maker's home page, opened by "Home Page" and on every exit.
inline constexpr const char* kHomePageUrl = "https://verlume.example.org/";

} // namespace app
