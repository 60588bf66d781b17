#include "VerlumeApp.h"

#include "VerlumeDlg.h"
#include "framework/Messages.h"
#include "imaging/Startup.h"

#include <cstdio>

namespace app {

CVerlumeApp theApp;
uintptr_t g_imagingToken = 0;

CVerlumeApp::CVerlumeApp() : CWinApp(nullptr) {}

CVerlumeApp::~CVerlumeApp() { imaging::ImagingShutdown(g_imagingToken); }

namespace {

constexpr const char* kUsage = "usage: verlume [FILE]\n";
constexpr const char* kHelp =
    "\n"
    "Opens FILE, if given, as Open does. Drag the image's corners; each release draws it\n"
    "again onto them. F1 in the window lists the keys.\n"
    "\n"
    "  --help      prints this text\n"
    "  --version   prints the version\n";

} // namespace

bool CVerlumeApp::ProcessCommandLine(const std::vector<std::string>& args, int& exitCode) {
    m_strStartFile.clear();
    bool options = true;
    for (const std::string& arg : args) {
        if (options && arg == "--") {
            options = false;
            continue;
        }
        if (options && (arg == "--help" || arg == "-h")) {
            std::printf("%s%s", kUsage, kHelp);
            exitCode = 0;
            return false;
        }
        if (options && arg == "--version") {
            std::printf("verlume %s\n", VERLUME_VERSION);
            exitCode = 0;
            return false;
        }
        if (options && arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "verlume: unknown option %s\n%s", arg.c_str(), kUsage);
            exitCode = 2;
            return false;
        }
        if (m_strStartFile.empty()) m_strStartFile = arg;
    }
    return true;
}

framework::BOOL CVerlumeApp::InitInstance() {
    CWinApp::InitInstance();
    imaging::ImagingStartup(&g_imagingToken);
    SetRegistryKey("Local AppWizard-Generated Applications");

    CVerlumeDlg dialog;
    dialog.SetStartFile(m_strStartFile);
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    return framework::FALSE;
}

void CVerlumeApp::OnHelp() {
    framework::AfxMessageBox(
        "Open an image, then drag any of its four corner handles. Each time you let go of the "
        "mouse button the image is drawn again so that its rectangle fits the four corners. "
        "Drag a corner to the edge of the picture and the picture scrolls along.\n\n"
        "Save writes the result in the format the file name ends with: .jpg, .gif, .tif, .bmp, "
        "or PNG for any other name.\n\n"
        "Ctrl + O: open; Ctrl + S: save; Ctrl + Q: quit\n"
        "Ctrl + Z: undo a corner move; Ctrl + Shift + Z or Ctrl + Y: redo it\n"
        "Drop an image file on the window to open it\n"
        "Ctrl + wheel: zoom in or out about the pointer\n"
        "Ctrl + plus, Ctrl + minus: zoom in or out\n"
        "Ctrl + 0: fit the whole picture in the window\n"
        "Ctrl + 1: one image pixel per screen pixel (100 %)\n"
        "Wheel: scroll up and down; Shift + wheel: scroll sideways\n"
        "Middle button: drag the picture\n"
        "F1: this help; Escape: quit",
        framework::MB_OK | framework::MB_ICONINFORMATION);
}

} // namespace app
