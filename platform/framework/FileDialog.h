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
    uint32_t Flags = 0;
};

class CFileDialog {
public:
    // `defaultExtension` and `fileName` must be null (no default extension is ever added, no
    // name is proposed); `parent` null means the application's main window.
    CFileDialog(bool openFileDialog, const char* defaultExtension = nullptr, const char* fileName = nullptr,
                uint32_t flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char* filter = nullptr,
                CWnd* parent = nullptr, uint32_t structSize = 0, bool vistaStyle = true);

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
    CWnd* m_parent;
    std::string m_path;
};

} // namespace framework
