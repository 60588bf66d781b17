#pragma once
// The desktop's file dialog for choosing a file to open or a name to save under.

#include "Types.h"
#include "Wnd.h"

#include <string>

namespace framework {

inline constexpr uint32_t OFN_OVERWRITEPROMPT = 0x00000002;
inline constexpr uint32_t OFN_HIDEREADONLY = 0x00000004;

// The fields of the dialog's description that callers set directly.
struct OPENFILENAME {
    // Pairs of display text and pattern, each followed by a NUL, the whole by a second NUL:
    // "PNG Files (*.png)\0*.png\0All Files (*.*)\0*.*\0\0". Patterns are separated by ';'.
    const char* lpstrFilter = nullptr;
    size_t nFilterLength = 0; // bytes of lpstrFilter including the NULs; 0: up to "\0\0"
    const char* lpstrTitle = nullptr;
    const char* lpstrInitialDir = nullptr; // the folder the dialog starts in; null: the default
    uint32_t Flags = 0;
};

class CFileDialog {
public:
    // No default extension is ever added and no name is proposed; the filter and the title
    // are set in m_ofn. The dialog's owner is the application's main window.
    CFileDialog(bool openFileDialog, uint32_t flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);

    // Shows the dialog; IDOK when the user chose a file, IDCANCEL otherwise. With
    // OFN_OVERWRITEPROMPT the save dialog asks before an existing file is chosen.
    int DoModal();
    // The full path chosen, exactly as the file system takes it; empty before DoModal.
    std::string GetPathName() const { return m_path; }

    OPENFILENAME m_ofn;

    // The filter in Qt's form, converted once from the NUL-separated one.
    static std::string ConvertFilter(const char* filter, size_t length);

private:
    bool m_open;
    std::string m_path;
};

} // namespace framework
