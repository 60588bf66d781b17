#include "VerlumeDlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace app {

namespace {

// The paths of the local files among what is dragged, as the file system takes them.
std::vector<std::string> LocalFiles(const QMimeData* data) {
    std::vector<std::string> paths;
    if (data)
        for (const QUrl& url : data->urls())
            if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    return paths;
}

// Sets the platform's standard keys of `key` on `action`, and today's keys where those lack them.
void SetKeys(QAction* action, QKeySequence::StandardKey key, std::initializer_list<const char*> also = {}) {
    QList<QKeySequence> keys = QKeySequence::keyBindings(key);
    for (const char* k : also)
        if (!keys.contains(QKeySequence(k))) keys.append(QKeySequence(k));
    action->setShortcuts(keys);
}

const char* const kKeys =
    "Open an image, then drag any of its four corner handles. Each time you let go of the "
    "mouse button the image is drawn again so that its rectangle fits the four corners. "
    "Drag a corner to the edge of the picture and the picture scrolls along.\n\n"
    "Transform > Straighten a Page: put the four corners on the corners of a page, board or "
    "facade in the photo; the result is that page upright. R shows it in place of the photo "
    "and back. Transform > Perspective places the image with a true perspective; Fit Result "
    "lets the corners go beyond the image and saves all of the result.\n\n"
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
    "L: live preview, the picture follows a dragged corner\n"
    "F: find the page in the photo, its corners as the handles, and straighten it\n"
    "Alt + F, E, V, T, H: the menus; R: the straightened page or the photo\n"
    "F1: this help; Escape: quit";

} // namespace

CVerlumeDlg::CVerlumeDlg(Desktop& desktop, QWidget* parent) : QMainWindow(parent), m_desktop(desktop) {
    setWindowIcon(Icon());
    setAcceptDrops(true);

    // Margins in device pixels from the screen's resolution, laid out in Qt's pixels.
    const double ratio = devicePixelRatioF();
    const int dpi = int(std::lround(logicalDpiY() * ratio));
    constexpr int kArea = 1000; // any size: what is left around the view is the same
    const QRect view = ViewRect(kArea, kArea, dpi);
    auto qt = [&](int devicePixels) { return int(std::lround(devicePixels / ratio)); };

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(qt(view.left()), 0, qt(kArea - 1 - view.right()), qt(kArea - 1 - view.bottom()));
    layout->setSpacing(0);
    layout->addWidget(CreateButtonBand(qt(view.top())));
    m_pView = new view::CPicView(central);
    m_pView->setObjectName("view");
    layout->addWidget(m_pView, 1);
    setCentralWidget(central);

    m_statusSize = new QLabel(this);
    m_statusPointer = new QLabel(this);
    m_statusScale = new QLabel(this);
    statusBar()->addWidget(m_statusSize);
    statusBar()->addWidget(m_statusPointer);
    statusBar()->addPermanentWidget(m_statusScale);
    CreateMenus();

    connect(m_pView, &view::CPicView::scaleChanged, this, &CVerlumeDlg::ShowScale);
    connect(m_pView, &view::CPicView::stateChanged, this, &CVerlumeDlg::UpdateTitle);
    connect(m_pView, &view::CPicView::pointerMoved, this, &CVerlumeDlg::ShowPointer);
    ShowScale();
    UpdateTitle();
    m_open->setFocus();
}

CVerlumeDlg::~CVerlumeDlg() {
    OnBnClickedHomePage(); // every exit shows the home page
    // The view goes before its source.
    delete m_pView;
    m_pImage.reset();
}

QRect CVerlumeDlg::ViewRect(int width, int height, int dpi) {
    const int top = dpi * 60 / 96;
    const int side = dpi * 7 / 96;
    return QRect(QPoint(side, top), QPoint(width - 2 * side - 1, height - side - 1));
}

QIcon CVerlumeDlg::Icon() {
    QIcon icon;
    for (const QFileInfo& file : QDir(":/icons/128").entryInfoList(QDir::Files, QDir::Name)) icon.addFile(file.filePath());
    return icon;
}

QWidget* CVerlumeDlg::CreateButtonBand(int height) {
    auto* band = new QWidget(this);
    band->setFixedHeight(height);
    auto* row = new QHBoxLayout(band);
    row->setContentsMargins(0, 0, 0, 0);
    auto button = [&](const char* name, const QString& text, void (CVerlumeDlg::*handler)()) {
        auto* b = new QPushButton(text, band);
        b->setObjectName(name);
        connect(b, &QPushButton::clicked, this, handler);
        row->addWidget(b);
        return b;
    };
    m_open = button("open", "Open", &CVerlumeDlg::OnBnClickedOpen);
    button("save", "Save", &CVerlumeDlg::OnBnClickedSave);
    button("homePage", "Home Page", &CVerlumeDlg::OnBnClickedHomePage);
    m_scale = new QLabel(band);
    m_scale->setObjectName("scale");
    m_scale->setMinimumWidth(m_scale->fontMetrics().horizontalAdvance("Fit (1600 %)") + 16);
    row->addSpacing(12);
    row->addWidget(m_scale);
    row->addStretch(1);
    return band;
}

void CVerlumeDlg::CreateMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    SetKeys(file->addAction("&Open...", this, &CVerlumeDlg::OnBnClickedOpen), QKeySequence::Open);
    SetKeys(file->addAction("&Save...", this, &CVerlumeDlg::OnBnClickedSave), QKeySequence::Save);
    m_stripMetadata = file->addAction("Save &Without Metadata");
    m_stripMetadata->setCheckable(true);
    m_stripMetadata->setToolTip("Leaves out the camera, the date, the place and the rest; keeps the colour profile");
    file->addSeparator();
    SetKeys(file->addAction("&Quit", this, &QWidget::close), QKeySequence::Quit, {"Ctrl+Q"});

    QMenu* edit = menuBar()->addMenu("&Edit");
    m_undo = edit->addAction("&Undo", m_pView, &view::CPicView::Undo);
    SetKeys(m_undo, QKeySequence::Undo);
    m_redo = edit->addAction("&Redo", m_pView, &view::CPicView::Redo);
    SetKeys(m_redo, QKeySequence::Redo, {"Ctrl+Shift+Z", "Ctrl+Y"});

    QMenu* zoom = menuBar()->addMenu("&View");
    SetKeys(zoom->addAction("Zoom &In", m_pView, &view::CPicView::ZoomIn), QKeySequence::ZoomIn,
            {"Ctrl++", "Ctrl+Shift++", "Ctrl+="});
    SetKeys(zoom->addAction("Zoom &Out", m_pView, &view::CPicView::ZoomOut), QKeySequence::ZoomOut, {"Ctrl+-"});
    zoom->addAction("&Fit in Window", m_pView, &view::CPicView::ZoomToFit)->setShortcut(QKeySequence("Ctrl+0"));
    zoom->addAction("&Actual Size (100 %)", m_pView, &view::CPicView::ZoomToActualSize)->setShortcut(QKeySequence("Ctrl+1"));
    zoom->addSeparator();
    QAction* preview = zoom->addAction("&Live Preview", m_pView, &view::CPicView::SetLivePreview);
    preview->setCheckable(true);
    preview->setShortcut(QKeySequence("L"));

    CreateTransformMenu();

    QMenu* help = menuBar()->addMenu("&Help");
    SetKeys(help->addAction("&Keys", this, &CVerlumeDlg::ShowKeys), QKeySequence::HelpContents, {"F1"});
    help->addAction("&Home Page", this, &CVerlumeDlg::OnBnClickedHomePage);
}

void CVerlumeDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape: close(); return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter presses the focused button; with none focused it closes the window.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) button->click();
        else close();
        return;
    default: QMainWindow::keyPressEvent(event);
    }
}

void CVerlumeDlg::closeEvent(QCloseEvent* event) {
    if (MayDiscardEdits()) event->accept();
    else event->ignore();
}

void CVerlumeDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFiles(event->mimeData()).empty()) event->acceptProposedAction();
    else event->ignore(); // the pointer shows that it cannot be dropped
}

void CVerlumeDlg::dragMoveEvent(QDragMoveEvent* event) {
    if (!LocalFiles(event->mimeData()).empty()) event->acceptProposedAction();
    else event->ignore();
}

void CVerlumeDlg::dropEvent(QDropEvent* event) {
    const std::vector<std::string> paths = LocalFiles(event->mimeData());
    if (paths.empty()) return event->ignore();
    event->acceptProposedAction();
    if (MayDiscardEdits()) OpenFile(paths.front());
}

void CVerlumeDlg::OnBnClickedHomePage() { m_desktop.OpenUrl(kHomePageUrl); }

void CVerlumeDlg::ShowKeys() { m_desktop.ShowMessage(this, Desktop::Icon::Information, kKeys, {}); }

void CVerlumeDlg::ShowScale() {
    const double percent = m_pView->GetScale() * 100;
    // Fit in whole percent; the steps with three digits (6.25 %, 33.3 %, 1600 %).
    QString text;
    if (m_pView->IsFit()) text = QString("Fit (%1 %)").arg(std::max(1.0, std::round(percent)), 0, 'f', 0);
    else if (percent >= 100) text = QString("%1 %").arg(percent, 0, 'f', 0);
    else text = QString("%1 %").arg(percent, 0, 'g', 3);
    m_scale->setText(text);
    m_statusScale->setText(text);
}

void CVerlumeDlg::ShowImageSize() {
    QString text;
    if (m_pImage) text = QString("%1 x %2 pixels").arg(m_pImage->GetWidth()).arg(m_pImage->GetHeight());
    // While straightening, the page's size too.
    const QSize page = m_pView->GetResultSize(); // its render may still be under way
    if (m_pImage && m_pView->GetTransform().direction == warp::Direction::Straighten && !page.isEmpty())
        text += QString(", page %1 x %2").arg(page.width()).arg(page.height());
    m_statusSize->setText(text);
}

void CVerlumeDlg::ShowPointer(imaging::Point canvas) {
    if (m_pImage) m_statusPointer->setText(QString("%1, %2").arg(canvas.X).arg(canvas.Y));
}

void CVerlumeDlg::UpdateTitle() {
    setWindowTitle(m_shownName.isEmpty() ? QString("Verlume") : m_shownName + "[*] - Verlume");
    setWindowModified(HasUnsavedEdits());
    m_undo->setEnabled(m_pView->CanUndo());
    m_redo->setEnabled(m_pView->CanRedo());
    UpdateTransformMenu(); // undo and redo take the transform back too
    ShowImageSize();
}

} // namespace app
