#pragma once
// The application object: starts the imaging layer, runs the main window as the program's
// whole life, and shuts the imaging layer down when the object itself goes, after every
// image is gone.

#include "framework/WinApp.h"

#include <cstdint>

namespace app {

class CVerlumeApp : public framework::CWinApp {
public:
    CVerlumeApp();
    ~CVerlumeApp() override;

    // Runs the main window modally; always FALSE, so the program ends with it.
    framework::BOOL InitInstance() override;
    // F1: how to use the program.
    void OnHelp() override;
};

extern CVerlumeApp theApp;
// The imaging layer's start-up token, 0 until InitInstance.
extern uintptr_t g_imagingToken;

} // namespace app
