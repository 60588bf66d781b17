#pragma once
// The main window: a menu bar, "Open", "Save" and "Home Page" with the view's scale right of
// them, the picture view filling the rest with margins that follow the screen's resolution,
// and a status bar (image size, pointer position, scale). The title names the open file and
// marks unsaved edits.
//
// Keys: at start "Open" has the focus; Tab moves through the three buttons, Space or Enter
// presses the focused one; Escape, the close box, Ctrl + Q and Enter with no button focused
// close the window, asking first about unsaved edits.
//
// The window's member functions are in three files: VerlumeDlg.cpp (the window, its menus and
// keys), FileCommands.cpp (Open, Save and the question about unsaved edits) and
// TransformMenu.cpp (the Transform menu).

#include "Desktop.h"
#include "imaging/Bitmap.h"
#include "view/PicView.h"

#include <QIcon>
#include <QMainWindow>
#include <QRect>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QPushButton;

namespace app {

// The maker's home page, opened by "Home Page" and on every exit.
inline constexpr const char* kHomePageUrl = "https://verlume.example.org/";

class CVerlumeDlg : public QMainWindow {
    Q_OBJECT

public:
    // `desktop` answers file dialogs and message boxes; it must outlive the window.
    explicit CVerlumeDlg(Desktop& desktop, QWidget* parent = nullptr);
    // Opens the home page, then deletes the image copy after the view that shows it.
    ~CVerlumeDlg() override;

    // The view's rectangle in the central area for an area of width x height device pixels
    // at `dpi`: left = side, top = top margin, and the view ends before width - 2 x side and
    // height - side (QRect's right() and bottom() are one less), with top margin =
    // dpi * 60 / 96 and side = dpi * 7 / 96, truncated.
    static QRect ViewRect(int width, int height, int dpi);
    // The program's icon: 16, 32 and 48 pixels and a scalable one.
    static QIcon Icon();

    view::CPicView* GetView() const { return m_pView; }
    // The copy of the opened image that the view shows (null before the first Open).
    imaging::Bitmap* GetImage() const { return m_pImage.get(); }
    const std::string& GetPath() const { return m_strPath; }
    // Whether the result shows something other than what was last opened or saved.
    bool HasUnsavedEdits() const;

    // Open's work once a path is chosen: the file replaces the image, or a message says why
    // not and everything stays as it was.
    void OpenFile(const std::string& path);

    void OnBnClickedOpen();
    void OnBnClickedSave();
    void OnBnClickedHomePage();

protected:
    // The close box, Escape, Ctrl + Q and Enter with no button focused: asks about unsaved
    // edits first; a cancel keeps the window.
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // One local file dropped anywhere on the window opens as Open would; of several, the
    // first. Anything else is refused while dragged over the window.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateMenus();
    // Transform: Place or Straighten, Perspective, Clip to Image or Fit Result, the page's
    // size, and the straightened page shown in place of the photo (R).
    void CreateTransformMenu();
    // Asks the view for `transform`; where the corners cannot take it, the status bar says why.
    void ApplyTransform(const warp::Transform& transform);
    void AskPageSize();
    // The menu's checks and what is enabled, from the view's transform.
    void UpdateTransformMenu();
    // Transform > Find Page: the handles on the page the photo shows, straightening it.
    void FindPage();
    void ShowRefusal(const QString& why);
    QWidget* CreateButtonBand(int height);
    // File dialogs with the program's filter, starting in the folder last used.
    std::optional<std::string> ChooseFile(bool open, const QString& title);
    // Save; true when the file was written.
    bool SaveResult();
    // True when there are no unsaved edits, or the user saved them or chose to discard them.
    bool MayDiscardEdits();
    void ShowKeys();
    // The scale right of the buttons and in the status bar: "100 %", or "Fit (27 %)".
    void ShowScale();
    // "720 x 477 pixels", and while straightening ", page 623 x 467".
    void ShowImageSize();
    void ShowPointer(imaging::Point canvas);
    // After each change of what the view shows: "photo.jpg[*] - Verlume", with the marker
    // shown while there are unsaved edits, and Undo and Redo enabled where there is a step.
    void UpdateTitle();

    Desktop& m_desktop;
    std::string m_strPath;
    QString m_shownName;       // the file name of the image shown; empty before any
    std::string m_strFolder;   // where the last file dialog's choice lay; empty before any
    uint64_t m_savedState = 0; // the view's state when last opened or saved
    std::unique_ptr<imaging::Bitmap> m_pImage; // the view's source
    view::CPicView* m_pView;   // a child of the window
    QPushButton* m_open;
    QAction* m_undo;
    QAction* m_redo;
    QAction* m_place;
    QAction* m_straighten;
    QAction* m_perspective;
    QAction* m_smooth;
    QAction* m_clip;
    QAction* m_fit;
    QAction* m_findPage;
    QAction* m_pageSize;
    QAction* m_showPage;
    QAction* m_stripMetadata;      // File > Save Without Metadata
    std::optional<int> m_jpegQuality; // asked at the first JPEG save of the run
    QLabel* m_scale;
    QLabel* m_statusSize;
    QLabel* m_statusPointer;
    QLabel* m_statusScale;
};

} // namespace app
