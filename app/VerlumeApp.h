#pragma once
// The application: starts the imaging layer, runs the main window as the program's whole life,
// and shuts the imaging layer down last, after every image is gone.

#include <QApplication>

#include <string>

namespace app {

class CVerlumeApp : public QApplication {
public:
    CVerlumeApp(int& argc, char** argv);
    ~CVerlumeApp() override;

    // Shows the main window maximised, opens `startFile` (if not empty) once it shows, as
    // Open would, and runs the event loop until the window is closed. Returns the exit status.
    int Run(const std::string& startFile);
};

} // namespace app
