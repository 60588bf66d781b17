#pragma once
// Modal dialogs made from a template table: a caption, a size in dialog units and push
// buttons. Dialog units follow the dialog font: x * average character width / 4 and
// y * character height / 8, in device pixels.

#include "WinApp.h"
#include "Wnd.h"

#include <string>
#include <vector>

namespace framework {

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Show commands.
inline constexpr int SW_MAXIMIZE = 3;

// Size types of OnSize.
inline constexpr UINT SIZE_RESTORED = 0;
inline constexpr UINT SIZE_MINIMIZED = 1;
inline constexpr UINT SIZE_MAXIMIZED = 2;

// Icon sizes of SetIcon.
inline constexpr bool ICON_BIG = true;
inline constexpr bool ICON_SMALL = false;

inline constexpr int LOGPIXELSY = 90;

enum class ControlKind { Button, Label };

struct DialogControl {
    int id;
    const char* text;
    int x, y, cx, cy; // dialog units
    ControlKind kind = ControlKind::Button; // a push button, or static text (no tab stop)
};

struct DialogTemplate {
    int x, y, cx, cy; // dialog units
    const char* caption;
    std::vector<DialogControl> controls; // buttons in tab order, and labels
};

// Modifiers of an accelerator.
inline constexpr unsigned FSHIFT = 0x04;
inline constexpr unsigned FCONTROL = 0x08;

// A key that sends a command to the window wherever its keyboard focus is: `key` is a digit,
// a capital letter, '+', '-' or '=' (as the key is labelled, not the character it types).
struct Accelerator {
    unsigned modifiers;
    int key;
    int command;
};

class CDialog : public CWnd {
public:
    static const CRuntimeClass classCDialog;
    static const CRuntimeClass* GetThisClass() { return &classCDialog; }
    const CRuntimeClass* GetRuntimeClass() const override { return &classCDialog; }

    CDialog(const DialogTemplate* dialogTemplate, CWnd* parent = nullptr);
    ~CDialog() override;

    // Creates the window, calls OnInitDialog before showing it and runs it until EndDialog;
    // returns the code given to EndDialog, or -1 when there is no template.
    int DoModal();
    void EndDialog(int result);

    // Called once before the dialog is shown. Returning TRUE gives the focus to the first
    // button.
    virtual BOOL OnInitDialog();
    // A button was clicked. The default ends the dialog for IDOK and IDCANCEL.
    virtual void OnCommand(int id);
    // Enter with no button focused, and Escape or the close box.
    virtual void OnOK();
    virtual void OnCancel();
    // The client area was resized (device pixels).
    virtual void OnSize(UINT type, int cx, int cy);
    // F1.
    virtual void OnHelp();
    // Files dropped on the window (local paths, as the file system takes them), once
    // DragAcceptFiles is on. Anything else is refused while dragged over the window.
    virtual void OnDropFiles(const std::vector<std::string>& paths);
    void DragAcceptFiles(bool accept);

    // SW_MAXIMIZE fills the screen's available area (also without a window manager).
    void ShowWindow(int command);
    void SetIcon(HICON icon, bool big);
    // The control of the template with this id, or null.
    CWnd* GetDlgItem(int id) const;
    // The text of a control of the template.
    void SetDlgItemText(int id, const std::string& text);
    // Calls OnCommand(id) once the events waiting now have been handled (for instance after
    // the window has been shown).
    void PostCommand(int id);
    // Replaces the window's accelerators; their commands arrive at OnCommand. Call once the
    // window exists (from OnInitDialog on).
    void SetAccelerators(const std::vector<Accelerator>& accelerators);

private:
    friend class DialogWidget;
    struct Controls;
    const DialogTemplate* m_template;
    CWnd* m_parent;
    Controls* m_controls = nullptr;
    int m_result = IDCANCEL;
};

// A device context on a window's client area, for what GetDeviceCaps tells.
class CClientDC {
public:
    explicit CClientDC(CWnd* wnd) : m_wnd(wnd) {}
    // LOGPIXELSY: device pixels per logical inch of the window's screen (96 unless the
    // desktop scales, or SetDpiForTesting says otherwise); 0 for other indices.
    int GetDeviceCaps(int index) const;

private:
    CWnd* m_wnd;
};

} // namespace framework
