#include "Wnd.h"

#include <QFrame>
#include <QWidget>
#include <QWindow>

#include <cmath>

namespace framework {

CWnd::CWnd() = default;

CWnd::~CWnd() {
    m_deleting = true;
    if (m_widget) {
        QWidget* widget = m_widget;
        m_widget = m_client = nullptr;
        delete widget;
    }
}

void CWnd::Attach(QWidget* widget, QWidget* client, int id) {
    m_widget = widget;
    m_client = client;
    m_id = id;
}

void CWnd::WidgetDestroyed() {
    if (m_widget == nullptr) return; // the object is deleting its own widget
    m_widget = nullptr;
    m_client = nullptr;
    if (!m_deleting) PostNcDestroy();
}

bool CWnd::IsWindow() const { return m_widget != nullptr; }

void CWnd::DestroyWindow() {
    if (!m_widget) return;
    QWidget* widget = m_widget;
    m_widget = m_client = nullptr;
    delete widget;
    PostNcDestroy();
}

double CWnd::DevicePixelRatio() const { return m_widget ? m_widget->devicePixelRatioF() : 1.0; }

CRect CWnd::GetClientRect() const {
    if (!m_widget) return {};
    const double dpr = DevicePixelRatio();
    const QSize size = m_client->size();
    return {0, 0, int32_t(std::lround(size.width() * dpr)), int32_t(std::lround(size.height() * dpr))};
}

void CWnd::Invalidate(bool) {
    if (m_client) m_client->update();
}

void CWnd::UpdateWindow() {
    if (m_client) m_client->repaint();
}

bool CWnd::ModifyStyleEx(uint32_t remove, uint32_t add, UINT) {
    if (!m_widget) return false;
    m_exStyle = (m_exStyle & ~remove) | add;
    // A sunken edge two pixels wide, whatever the widget style.
    if (auto* frame = qobject_cast<QFrame*>(m_widget)) {
        frame->setFrameStyle((m_exStyle & WS_EX_CLIENTEDGE) ? QFrame::Panel | QFrame::Sunken : QFrame::NoFrame);
        frame->setLineWidth(2);
    }
    return true;
}

void CWnd::MoveWindow(const CRect& rect) {
    if (!m_widget) return;
    const double dpr = DevicePixelRatio();
    m_widget->setGeometry(int(std::lround(rect.left / dpr)), int(std::lround(rect.top / dpr)),
                          int(std::lround(rect.Width() / dpr)), int(std::lround(rect.Height() / dpr)));
}

CRect CWnd::GetWindowRect() const {
    if (!m_widget) return {};
    const double dpr = DevicePixelRatio();
    const QRect g = m_widget->geometry();
    return {int32_t(std::lround(g.left() * dpr)), int32_t(std::lround(g.top() * dpr)),
            int32_t(std::lround((g.left() + g.width()) * dpr)), int32_t(std::lround((g.top() + g.height()) * dpr))};
}

} // namespace framework
