// Verlume's entry point: the arguments first (no display needed), then the application.

#include "CommandLine.h"
#include "VerlumeApp.h"

int main(int argc, char** argv) {
    const app::CommandLine line = app::ParseCommandLine({argv + (argc > 0), argv + argc});
    if (line.exitCode) return *line.exitCode;
    app::CVerlumeApp verlume(argc, argv);
    return verlume.Run(line.startFile);
}
