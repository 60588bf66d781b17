#include "Dialog.h"

#include "ResourceHandles.h"
#include "Seams.h"
#include "WndAccess.h"

#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>

#include <cmath>
#include <map>
#include <memory>

namespace framework {

const CRuntimeClass CDialog::classCDialog = {"CDialog", nullptr, nullptr};

namespace {

class ButtonWnd : public CWnd {
public:
    const CRuntimeClass* GetRuntimeClass() const override { return nullptr; }
    void Adopt(QWidget* w, int id) { Attach(w, w, id); }
};

class Button : public QPushButton {
public:
    Button(const QString& text, QWidget* parent, ButtonWnd* wnd) : QPushButton(text, parent), m_wnd(wnd) {}
    ~Button() override { WndAccess::WidgetDestroyed(m_wnd); }

private:
    ButtonWnd* m_wnd;
};

} // namespace

struct CDialog::Buttons {
    std::map<int, std::unique_ptr<ButtonWnd>> byId;
};

class DialogWidget : public QDialog {
public:
    DialogWidget(CDialog* owner, QWidget* parent) : QDialog(parent), m_owner(owner) {}
    ~DialogWidget() override { WndAccess::WidgetDestroyed(m_owner); }

    void reject() override { m_owner->OnCancel(); }

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
    CDialog* m_owner;
};

CDialog::CDialog(const DialogTemplate* dialogTemplate, CWnd* parent)
    : m_template(dialogTemplate), m_parent(parent), m_buttons(new Buttons) {}

CDialog::~CDialog() {
    // The window goes first, so that its children (views) are gone with it.
    DestroyWindow();
    delete m_buttons;
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
    for (const DialogControl& c : m_template->buttons) {
        auto wnd = std::make_unique<ButtonWnd>();
        auto* button = new Button(QString::fromUtf8(c.text), dialog, wnd.get());
        button->setAutoDefault(false);
        button->setGeometry(qtX(c.x), qtY(c.y), qtX(c.cx), qtY(c.cy));
        const int id = c.id;
        QObject::connect(button, &QPushButton::clicked, dialog, [this, id] { OnCommand(id); });
        wnd->Adopt(button, c.id);
        m_buttons->byId[c.id] = std::move(wnd);
        if (!first) first = button;
    }

    m_result = IDCANCEL;
    const BOOL focusFirst = OnInitDialog();
    if (focusFirst && first) first->setFocus();
    dialog->exec();
    const int result = m_result;
    delete dialog; // destroys the child windows with it
    m_buttons->byId.clear();
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
    auto it = m_buttons->byId.find(id);
    return it == m_buttons->byId.end() ? nullptr : it->second.get();
}

int CClientDC::GetDeviceCaps(int index) const {
    if (index != LOGPIXELSY) return 0;
    if (int dpi = seams::CurrentDpiForTesting()) return dpi;
    QWidget* widget = m_wnd ? m_wnd->GetSafeHwnd() : nullptr;
    if (!widget) return 96;
    return int(std::lround(widget->logicalDpiY() * widget->devicePixelRatioF()));
}

} // namespace framework
