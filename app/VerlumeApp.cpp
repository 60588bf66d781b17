#include "VerlumeApp.h"

#include "QtDesktop.h"
#include "VerlumeDlg.h"
#include "imaging/Startup.h"

#include <QScreen>
#include <QTimer>

namespace app {

// The application's name, which captions the message boxes, is the executable's: "verlume".
CVerlumeApp::CVerlumeApp(int& argc, char** argv) : QApplication(argc, argv) { imaging::ImagingStartup(); }

CVerlumeApp::~CVerlumeApp() { imaging::ImagingShutdown(); }

int CVerlumeApp::Run(const std::string& startFile) {
    QtDesktop desktop;
    int status;
    {
        // Gone before the imaging layer: the window opens the home page and releases the image.
        CVerlumeDlg window(desktop);
        // The available area also without a window manager, which would otherwise leave the
        // size alone.
        if (QScreen* screen = window.screen()) window.setGeometry(screen->availableGeometry());
        window.showMaximized();
        if (!startFile.empty()) QTimer::singleShot(0, &window, [&] { window.OpenFile(startFile); });
        status = exec();
    }
    return status;
}

} // namespace app
