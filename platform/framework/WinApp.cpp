#include "WinApp.h"

#include "ResourceHandles.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>

#include <algorithm>
#include <map>
#include <memory>

namespace framework {

struct CWinApp::Resources {
    std::map<int, std::unique_ptr<IconResource>> icons;
};

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp(const char* appName) : m_resources(new Resources) {
    if (appName) m_pszAppName = appName;
    g_app = this;
}

CWinApp::~CWinApp() {
    delete m_resources;
    if (g_app == this) g_app = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }

bool CWinApp::ProcessCommandLine(const std::vector<std::string>&, int&) { return true; }
BOOL CWinApp::InitInstance() { return TRUE; }
int CWinApp::ExitInstance() { return 0; }
void CWinApp::OnHelp() {}

HICON CWinApp::LoadIcon(int id) {
    auto& slot = m_resources->icons[id];
    if (!slot) {
        // Resources live under :/icons/<id>/ as PNG images of each size and an SVG.
        QIcon icon;
        const QDir folder(QString(":/icons/%1").arg(id));
        for (const QFileInfo& file : folder.entryInfoList(QDir::Files, QDir::Name))
            icon.addFile(file.filePath());
        if (icon.isNull()) return nullptr;
        slot = std::make_unique<IconResource>(IconResource{icon});
    }
    return slot.get();
}

int AfxWinMain(CWinApp& application, int argc, char** argv) {
    int early = 0;
    if (!application.ProcessCommandLine(std::vector<std::string>(argv + std::min(argc, 1), argv + argc), early))
        return early;
    QApplication qapp(argc, argv);
    CWinApp* app = &application;
    if (app->m_pszAppName.empty())
        app->m_pszAppName = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString();
    QApplication::setApplicationName(QString::fromStdString(app->m_pszAppName));
    int code = 0;
    if (app->InitInstance()) code = QApplication::exec();
    const int exitCode = app->ExitInstance();
    // Release the icons while Qt is still there.
    app->m_resources->icons.clear();
    return code != 0 ? code : exitCode;
}

} // namespace framework
