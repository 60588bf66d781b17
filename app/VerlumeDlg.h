#pragma once
// The main window: "Open", "Save" and "Home Page" above the picture view, which fills the rest
// of the window with margins that follow the screen's resolution.

#include "framework/Dialog.h"
#include "imaging/Bitmap.h"
#include "view/PicView.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace app {

class CVerlumeDlg : public framework::CDialog {
public:
    explicit CVerlumeDlg(framework::CWnd* parent = nullptr);
    // Opens the home page, then deletes the image copy (the view is gone by then).
    ~CVerlumeDlg() override;

    // The view's rectangle in the client area for a client of width x height at `dpi`:
    // left = side, top = top margin, right = width - 2 x side, bottom = height - side, with
    // top margin = dpi * 60 / 96 and side = dpi * 7 / 96 (truncated).
    static framework::CRect ViewRect(int width, int height, int dpi);

    // For tests: the view (null before OnInitDialog) and the image copy it shows.
    view::CPicView* GetView() const { return m_pView; }
    imaging::Bitmap* GetImage() const { return m_pImage.get(); }
    const std::string& GetPath() const { return m_strPath; }

    // A file to open once the window shows, as Open would (the program's argument).
    void SetStartFile(std::string path) { m_strStartFile = std::move(path); }

    // Button commands.
    void OnBnClickedOpen();
    void OnBnClickedSave();
    void OnBnClickedHomePage();

    // Whether the result shows something other than what was last opened or saved.
    bool HasUnsavedEdits() const;

protected:
    framework::BOOL OnInitDialog() override;
    // Escape, the close box, Ctrl + Q and Enter with no button focused close the window; with
    // unsaved edits only after asking (save, discard or cancel).
    void OnOK() override;
    void OnCancel() override;
    // One local file dropped anywhere on the window opens as Open would; of several, the first.
    void OnDropFiles(const std::vector<std::string>& paths) override;
    void OnCommand(int id) override;
    void OnSize(framework::UINT type, int cx, int cy) override;

private:
    void OpenHomePage();
    // Open's work once a path is chosen.
    void OpenFile(const std::string& path);
    // Save; true when the file was written.
    bool SaveResult();
    // True when there are no unsaved edits, or the user saved them or chose to discard them.
    bool MayDiscardEdits();
    // Shows the view's scale right of the buttons: "100 %", or "Fit (27 %)".
    void ShowScale();

    framework::HICON m_hIcon;
    std::string m_strPath;
    std::string m_strStartFile;
    std::string m_strFolder; // where the last file dialog's choice lay; empty before any
    uint64_t m_savedState = 0; // the view's state when last opened or saved
    std::unique_ptr<imaging::Bitmap> m_pImage; // the view's source
    view::CPicView* m_pView;   // owned by its window
    int m_nDpi = 96;           // of the screen when the window was laid out
};

} // namespace app
