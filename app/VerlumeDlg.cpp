#include "VerlumeDlg.h"

#include "Resources.h"
#include "files/ImageFiles.h"
#include "framework/FileDialog.h"
#include "framework/Messages.h"
#include "framework/ScrollView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <utility>

namespace app {

using namespace framework;

namespace {

// Both file dialogs offer the same types.
constexpr char kFilter[] =
    "Bitmap Files (*.bmp)\0*.bmp\0"
    "JPEG Files (*.jpg)\0*.jpg\0"
    "PNG Files (*.png)\0*.png\0"
    "All Files (*.*)\0*.*\0";

// A file dialog with the program's filter and a title, starting in `folder` (empty: where
// the desktop starts it).
std::string ChooseFile(bool open, const char* title, const std::string& folder) {
    CFileDialog dialog(open, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
    dialog.m_ofn.lpstrFilter = kFilter;
    dialog.m_ofn.nFilterLength = sizeof(kFilter);
    dialog.m_ofn.lpstrTitle = title;
    if (!folder.empty()) dialog.m_ofn.lpstrInitialDir = folder.c_str();
    return dialog.DoModal() == IDOK ? dialog.GetPathName() : std::string();
}

// The folder a path lies in, as an absolute path; empty where there is none.
std::string FolderOf(const std::string& path) {
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    return absolute.has_parent_path() ? absolute.parent_path().string() : std::string();
}

} // namespace

CVerlumeDlg::CVerlumeDlg(CWnd* parent)
    : CDialog(&MainDialogTemplate(), parent),
      m_hIcon(AfxGetApp() ? AfxGetApp()->LoadIcon(IDR_MAINFRAME) : nullptr),
      m_pView(nullptr) {}

CVerlumeDlg::~CVerlumeDlg() {
    OpenHomePage();
    // The window and with it the view must be gone before the view's source.
    DestroyWindow();
    m_pImage.reset();
}

CRect CVerlumeDlg::ViewRect(int width, int height, int dpi) {
    const int top = dpi * 60 / 96;
    const int side = dpi * 7 / 96;
    return {side, top, width - 2 * side, height - side};
}

BOOL CVerlumeDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, ICON_BIG);
    SetIcon(m_hIcon, ICON_SMALL);
    ShowWindow(SW_MAXIMIZE);

    const CRect client = GetClientRect();
    CClientDC dc(this);
    m_nDpi = dc.GetDeviceCaps(LOGPIXELSY);

    m_pView = static_cast<view::CPicView*>(RUNTIME_CLASS(view::CPicView)->CreateObject());
    m_pView->Create(this, ViewRect(client.Width(), client.Height(), m_nDpi), IDC_PICVIEW);
    m_pView->ModifyStyleEx(0, WS_EX_CLIENTEDGE, 0);
    m_pView->OnInitialUpdate();
    m_pView->SetScaleListener([this] { ShowScale(); });
    SetAccelerators({
        {FCONTROL, 'O', IDC_OPEN},
        {FCONTROL, 'S', IDC_SAVE},
        {FCONTROL, 'Q', ID_QUIT},
        {FCONTROL, 'Z', ID_UNDO},
        {FCONTROL | FSHIFT, 'Z', ID_REDO},
        {FCONTROL, 'Y', ID_REDO},
        {FCONTROL, '+', ID_ZOOM_IN},
        {FCONTROL | FSHIFT, '+', ID_ZOOM_IN},
        {FCONTROL, '=', ID_ZOOM_IN},
        {FCONTROL, '-', ID_ZOOM_OUT},
        {FCONTROL, '0', ID_ZOOM_FIT},
        {FCONTROL, '1', ID_ZOOM_ACTUAL},
    });
    ShowScale();
    DragAcceptFiles(true);
    if (!m_strStartFile.empty()) PostCommand(ID_OPEN_START_FILE);
    return TRUE;
}

void CVerlumeDlg::OnCommand(int id) {
    switch (id) {
    case IDC_OPEN: OnBnClickedOpen(); break;
    case IDC_SAVE: OnBnClickedSave(); break;
    case IDC_HOMEPAGE: OnBnClickedHomePage(); break;
    case ID_QUIT: OnCancel(); break; // as the close box
    case ID_UNDO: m_pView->Undo(); break;
    case ID_REDO: m_pView->Redo(); break;
    case ID_OPEN_START_FILE: OpenFile(m_strStartFile); break;
    case ID_ZOOM_IN: m_pView->ZoomIn(); break;
    case ID_ZOOM_OUT: m_pView->ZoomOut(); break;
    case ID_ZOOM_FIT: m_pView->ZoomToFit(); break;
    case ID_ZOOM_ACTUAL: m_pView->ZoomToActualSize(); break;
    default: CDialog::OnCommand(id);
    }
}

void CVerlumeDlg::OnSize(UINT type, int cx, int cy) {
    CDialog::OnSize(type, cx, cy);
    // The view follows the client area with the margins it was laid out with.
    if (m_pView && m_pView->IsWindow() && type != SIZE_MINIMIZED) m_pView->MoveWindow(ViewRect(cx, cy, m_nDpi));
}

void CVerlumeDlg::OnOK() {
    if (MayDiscardEdits()) CDialog::OnOK();
}

void CVerlumeDlg::OnCancel() {
    if (MayDiscardEdits()) CDialog::OnCancel();
}

void CVerlumeDlg::OnDropFiles(const std::vector<std::string>& paths) {
    if (!paths.empty() && MayDiscardEdits()) OpenFile(paths.front());
}

bool CVerlumeDlg::HasUnsavedEdits() const {
    return m_pImage && m_pView && m_pView->GetResultImage() && m_pView->GetStateId() != m_savedState;
}

bool CVerlumeDlg::MayDiscardEdits() {
    if (!HasUnsavedEdits()) return true;
    switch (AfxMessageBox("Save the changes to the picture?", MB_YESNOCANCEL | MB_ICONQUESTION,
                          "If you don't save them, they are lost.")) {
    case IDYES: return SaveResult();
    case IDNO: return true;
    default: return false;
    }
}

void CVerlumeDlg::OnBnClickedOpen() {
    if (!MayDiscardEdits()) return;
    const std::string path = ChooseFile(true, "Open File", m_strFolder);
    if (path.empty()) return; // cancelled: nothing changes
    OpenFile(path);
}

void CVerlumeDlg::OpenFile(const std::string& path) {
    m_strPath = path;
    m_strFolder = FolderOf(path); // the next file dialog starts there
    imaging::StatusRecord why;
    std::unique_ptr<imaging::Bitmap> copy(files::OpenImageCopy(m_strPath, &why));
    if (copy == nullptr) {
        // The current image, result and corners stay as they were.
        AfxMessageBox("Failed to open", MB_OK | MB_ICONWARNING, why.reason);
        return;
    }
    // The view lets go of the old source in SetImage, before it is deleted at the end of this
    // scope; nothing paints in between.
    const std::unique_ptr<imaging::Bitmap> old = std::exchange(m_pImage, std::move(copy));
    m_pView->SetImage(m_pImage.get());
    m_savedState = m_pView->GetStateId();
    ShowScale(); // a new image is shown at 100 %
}

void CVerlumeDlg::OnBnClickedSave() { SaveResult(); }

bool CVerlumeDlg::SaveResult() {
    const std::string path = ChooseFile(false, "Save File", m_strFolder);
    if (path.empty()) return false;
    m_strFolder = FolderOf(path);
    imaging::Bitmap* result = m_pView->GetResultImage();
    if (result == nullptr) return false; // nothing to save yet
    imaging::StatusRecord saved;
    {
        CWaitCursor wait;
        // What the file dialog covered is painted again, and the cursor shown, before the encode.
        UpdateWindow();
        saved = files::SaveImageByName(*result, path);
    }
    if (saved.code != imaging::Ok) {
        AfxMessageBox("Failed to save", MB_OK | MB_ICONWARNING, saved.reason);
        return false;
    }
    m_savedState = m_pView->GetStateId();
    return true;
}

void CVerlumeDlg::OnBnClickedHomePage() { OpenHomePage(); }

void CVerlumeDlg::ShowScale() {
    const double percent = m_pView->GetScale() * 100;
    char text[32];
    // Fit in whole percent; the steps with three digits (6.25 %, 33.3 %, 1600 %).
    if (m_pView->IsFit()) std::snprintf(text, sizeof text, "Fit (%.0f %%)", std::max(1.0, std::round(percent)));
    else if (percent >= 100) std::snprintf(text, sizeof text, "%.0f %%", percent);
    else std::snprintf(text, sizeof text, "%.3g %%", percent);
    SetDlgItemText(IDC_SCALE, text);
}

void CVerlumeDlg::OpenHomePage() { OpenUrl(kHomePageUrl); }

} // namespace app
