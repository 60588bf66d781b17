#include "Dialog.h"

#include "ResourceHandles.h"
#include "Seams.h"
#include "WndAccess.h"

#include <QApplication>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>

#include <cmath>
#include <map>
#include <memory>

namespace framework {

const CRuntimeClass CDialog::classCDialog = {"CDialog", nullptr, nullptr};

namespace {

class ControlWnd : public CWnd {
public:
    const CRuntimeClass* GetRuntimeClass() const override { return nullptr; }
    void Adopt(QWidget* w, int id) { Attach(w, w, id); }
};

// A Qt control that tells its window object when it goes.
template <class Widget>
class Control : public Widget {
public:
    Control(const QString& text, QWidget* parent, ControlWnd* wnd) : Widget(text, parent), m_wnd(wnd) {}
    ~Control() override { WndAccess::WidgetDestroyed(m_wnd); }

private:
    ControlWnd* m_wnd;
};

} // namespace

struct CDialog::Controls {
    std::map<int, std::unique_ptr<ControlWnd>> byId;
    std::vector<QShortcut*> accelerators; // owned by the dialog's widget
};

class DialogWidget : public QDialog {
public:
    DialogWidget(CDialog* owner, QWidget* parent) : QDialog(parent), m_owner(owner) {}
    ~DialogWidget() override { WndAccess::WidgetDestroyed(m_owner); }

    void reject() override { m_owner->OnCancel(); }

    void dragEnterEvent(QDragEnterEvent* e) override {
        if (!LocalFiles(e->mimeData()).empty()) e->acceptProposedAction();
        else e->ignore(); // the pointer shows that it cannot be dropped
    }
    void dragMoveEvent(QDragMoveEvent* e) override {
        if (!LocalFiles(e->mimeData()).empty()) e->acceptProposedAction();
        else e->ignore();
    }
    void dropEvent(QDropEvent* e) override {
        const std::vector<std::string> paths = LocalFiles(e->mimeData());
        if (paths.empty()) return e->ignore();
        e->acceptProposedAction();
        m_owner->OnDropFiles(paths);
    }

protected:
    void keyPressEvent(QKeyEvent* e) override {
        switch (e->key()) {
        case Qt::Key_Escape: m_owner->OnCancel(); return;
        case Qt::Key_F1: m_owner->OnHelp(); return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Enter presses the focused button; with none focused it is OK.
            if (auto* button = qobject_cast<QPushButton*>(focusWidget())) button->click();
            else m_owner->OnOK();
            return;
        default: QDialog::keyPressEvent(e);
        }
    }

    void resizeEvent(QResizeEvent* e) override {
        QDialog::resizeEvent(e);
        const UINT type = isMinimized() ? SIZE_MINIMIZED : isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED;
        const double ratio = devicePixelRatioF();
        m_owner->OnSize(type, int(std::lround(width() * ratio)), int(std::lround(height() * ratio)));
    }

private:
    static std::vector<std::string> LocalFiles(const QMimeData* data) {
        std::vector<std::string> paths;
        if (!data) return paths;
        for (const QUrl& url : data->urls())
            if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
        return paths;
    }

    CDialog* m_owner;
};

CDialog::CDialog(const DialogTemplate* dialogTemplate, CWnd* parent)
    : m_template(dialogTemplate), m_parent(parent), m_controls(new Controls) {}

CDialog::~CDialog() {
    // The window goes first, so that its children (views) are gone with it.
    DestroyWindow();
    delete m_controls;
}

int CDialog::DoModal() {
    if (m_template == nullptr || IsWindow()) return -1;
    QWidget* parentWidget = m_parent ? m_parent->GetSafeHwnd() : nullptr;
    auto* dialog = new DialogWidget(this, parentWidget);
    Attach(dialog, dialog, 0);
    dialog->setWindowTitle(QString::fromUtf8(m_template->caption));
    dialog->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);

    // Dialog units from the dialog font, in device pixels.
    const double ratio = dialog->devicePixelRatioF();
    const QFontMetrics metrics(dialog->font());
    const double charWidth =
        std::floor((metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") * ratio / 26 + 1) / 2);
    const double charHeight = std::round(metrics.height() * ratio);
    auto qtX = [&](int x) { return int(std::lround(std::floor(x * charWidth / 4) / ratio)); };
    auto qtY = [&](int y) { return int(std::lround(std::floor(y * charHeight / 8) / ratio)); };
    dialog->resize(qtX(m_template->cx), qtY(m_template->cy));

    QPushButton* first = nullptr;
    for (const DialogControl& c : m_template->controls) {
        auto wnd = std::make_unique<ControlWnd>();
        QWidget* widget;
        if (c.kind == ControlKind::Label) {
            auto* label = new Control<QLabel>(QString::fromUtf8(c.text), dialog, wnd.get());
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            widget = label;
        } else {
            auto* button = new Control<QPushButton>(QString::fromUtf8(c.text), dialog, wnd.get());
            button->setAutoDefault(false);
            const int id = c.id;
            QObject::connect(button, &QPushButton::clicked, dialog, [this, id] { OnCommand(id); });
            if (!first) first = button;
            widget = button;
        }
        widget->setGeometry(qtX(c.x), qtY(c.y), qtX(c.cx), qtY(c.cy));
        wnd->Adopt(widget, c.id);
        m_controls->byId[c.id] = std::move(wnd);
    }

    m_result = IDCANCEL;
    const BOOL focusFirst = OnInitDialog();
    if (focusFirst && first) first->setFocus();
    dialog->exec();
    const int result = m_result;
    delete dialog; // destroys the child windows and the accelerators with it
    m_controls->byId.clear();
    m_controls->accelerators.clear();
    return result;
}

void CDialog::EndDialog(int result) {
    m_result = result;
    if (auto* dialog = static_cast<QDialog*>(GetSafeHwnd())) dialog->done(result);
}

BOOL CDialog::OnInitDialog() { return TRUE; }

void CDialog::OnCommand(int id) {
    if (id == IDOK) OnOK();
    if (id == IDCANCEL) OnCancel();
}

void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }
void CDialog::OnSize(UINT, int, int) {}

void CDialog::OnDropFiles(const std::vector<std::string>&) {}

void CDialog::DragAcceptFiles(bool accept) {
    if (QWidget* dialog = GetSafeHwnd()) dialog->setAcceptDrops(accept);
}

void CDialog::OnHelp() {
    if (CWinApp* app = AfxGetApp()) app->OnHelp();
}

void CDialog::ShowWindow(int command) {
    QWidget* widget = GetSafeHwnd();
    if (!widget || command != SW_MAXIMIZE) return;
    // Also without a window manager, which would otherwise leave the size alone.
    if (QScreen* screen = widget->screen()) widget->setGeometry(screen->availableGeometry());
    widget->setWindowState((widget->windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
}

void CDialog::SetIcon(HICON icon, bool) {
    // One icon set serves both sizes; the window manager picks the image.
    if (GetSafeHwnd() && icon) GetSafeHwnd()->setWindowIcon(icon->icon);
}

CWnd* CDialog::GetDlgItem(int id) const {
    auto it = m_controls->byId.find(id);
    return it == m_controls->byId.end() ? nullptr : it->second.get();
}

void CDialog::SetDlgItemText(int id, const std::string& text) {
    CWnd* control = GetDlgItem(id);
    QWidget* widget = control ? control->GetSafeHwnd() : nullptr;
    if (auto* label = qobject_cast<QLabel*>(widget)) label->setText(QString::fromStdString(text));
    else if (auto* button = qobject_cast<QPushButton*>(widget)) button->setText(QString::fromStdString(text));
}

void CDialog::PostCommand(int id) {
    if (QWidget* dialog = GetSafeHwnd()) QMetaObject::invokeMethod(dialog, [this, id] { OnCommand(id); }, Qt::QueuedConnection);
}

void CDialog::SetAccelerators(const std::vector<Accelerator>& accelerators) {
    QWidget* dialog = GetSafeHwnd();
    if (!dialog) return;
    for (QShortcut* shortcut : m_controls->accelerators) delete shortcut;
    m_controls->accelerators.clear();
    for (const Accelerator& a : accelerators) {
        int combination = a.key;
        if (a.modifiers & FCONTROL) combination |= Qt::ControlModifier;
        if (a.modifiers & FSHIFT) combination |= Qt::ShiftModifier;
        auto* shortcut = new QShortcut(QKeySequence(combination), dialog);
        shortcut->setContext(Qt::WindowShortcut);
        const int command = a.command;
        QObject::connect(shortcut, &QShortcut::activated, dialog, [this, command] { OnCommand(command); });
        m_controls->accelerators.push_back(shortcut);
    }
}

int CClientDC::GetDeviceCaps(int index) const {
    if (index != LOGPIXELSY) return 0;
    if (int dpi = seams::CurrentDpiForTesting()) return dpi;
    QWidget* widget = m_wnd ? m_wnd->GetSafeHwnd() : nullptr;
    if (!widget) return 96;
    return int(std::lround(widget->logicalDpiY() * widget->devicePixelRatioF()));
}

} // namespace framework
