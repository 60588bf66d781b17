#pragma once
// The application object: starts the imaging layer, runs the main window as the program's
// whole life, and shuts the imaging layer down when the object itself goes, after every
// image is gone.

#include "framework/WinApp.h"

#include <cstdint>
#include <string>
#include <vector>

namespace app {

class CVerlumeApp : public framework::CWinApp {
public:
    CVerlumeApp();
    ~CVerlumeApp() override;

    // `verlume [FILE]`: FILE is opened at start as Open would; --help and --version print and
    // end the program (0), an unknown option prints the usage on standard error (2). Other
    // arguments are not read.
    bool ProcessCommandLine(const std::vector<std::string>& args, int& exitCode) override;
    // Runs the main window modally; always FALSE, so the program ends with it.
    framework::BOOL InitInstance() override;
    const std::string& GetStartFile() const { return m_strStartFile; }
    // F1: how to use the program.
    void OnHelp() override;

private:
    std::string m_strStartFile;
};

extern CVerlumeApp theApp;
// The imaging layer's start-up token, 0 until InitInstance.
extern uintptr_t g_imagingToken;

} // namespace app
