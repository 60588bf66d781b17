#pragma once
// The application object: one per program, created before main and run by AfxWinMain.

#include "Types.h"
#include "Wnd.h"

#include <string>
#include <vector>

namespace framework {

using BOOL = int;
inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

// An icon or cursor the application loaded; owned by the application object.
struct IconResource;
using HICON = const IconResource*;

class CWinApp {
public:
    // `appName` null: the executable's base name, once AfxWinMain knows it.
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Sees the arguments after the program's name before any window exists (also without a
    // display); returning false ends the program at once with `exitCode`.
    virtual bool ProcessCommandLine(const std::vector<std::string>& args, int& exitCode);
    // Runs the program; returning FALSE ends it without entering a message loop.
    virtual BOOL InitInstance();
    virtual int ExitInstance();
    // The help command (F1 in the main window).
    virtual void OnHelp();

    // The icon whose images the program ships as resource `id` (16, 32 and 48 pixels and a
    // scalable one); null when there is none. Valid while the application object exists.
    HICON LoadIcon(int id);
    // Names where settings would be kept; nothing is stored.
    void SetRegistryKey(const char* key) { m_strRegistryKey = key ? key : ""; }

    std::string m_pszAppName;
    std::string m_strRegistryKey;
    // The main window: the default owner of file dialogs and message boxes.
    CWnd* m_pMainWnd = nullptr;

private:
    friend int AfxWinMain(CWinApp& app, int argc, char** argv);
    struct Resources;
    Resources* m_resources;
};

// The application object, or null before it is constructed.
CWinApp* AfxGetApp();

// The program's entry: makes the application's Qt instance, takes the application name from
// the executable's base name when none was given, runs the application object's InitInstance
// and ExitInstance, and returns the exit code.
int AfxWinMain(CWinApp& app, int argc, char** argv);

} // namespace framework
