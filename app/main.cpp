// Verlume's entry point: the arguments first (no display needed), then the application.

#include "CommandLine.h"
#include "VerlumeApp.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const app::CommandLine line = app::ParseCommandLine({argv + (argc > 0), argv + argc});
    if (line.exitCode) return *line.exitCode;
    // Qt aborts the program when it finds no display to connect to.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        std::fputs("verlume: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are unset)\n", stderr);
        return 1;
    }
    app::CVerlumeApp verlume(argc, argv);
    return verlume.Run(line.startFile);
}
