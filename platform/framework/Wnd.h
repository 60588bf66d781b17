#pragma once
// The window base of the framework: a thin owner of one Qt widget, and runtime classes for
// creating objects by class record.

#include "Types.h"

#include <memory>

class QWidget;

namespace framework {

class CObject;

// A class record: name, base class and a factory, for creation by class.
struct CRuntimeClass {
    const char* m_lpszClassName;
    const CRuntimeClass* m_pBaseClass;
    CObject* (*m_pfnCreateObject)();

    // A new object of the class, or null for classes that cannot be created this way.
    CObject* CreateObject() const { return m_pfnCreateObject ? m_pfnCreateObject() : nullptr; }
};

class CObject {
public:
    virtual ~CObject() = default;
    virtual const CRuntimeClass* GetRuntimeClass() const = 0;
};

// A window. The object and its widget live and die together: destroying the widget (also
// through its parent) deletes objects created by class (see PostNcDestroy), and deleting the
// object destroys its widget.
class CWnd : public CObject {
public:
    CWnd();
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    bool IsWindow() const;
    // Destroys the widget and its children now (a view created by class deletes itself).
    void DestroyWindow();
    int GetDlgCtrlID() const { return m_id; }
    // The client area, in device pixels: left and top are 0.
    CRect GetClientRect() const;
    // Requests a repaint of the whole client area. Painting is composed off-screen, so
    // whether the background is erased first never shows; the flag is kept for clarity.
    void Invalidate(bool erase = true);
    // Paints the client area now, before returning, rather than when the event loop next runs.
    void UpdateWindow();
    // Adds and removes extended styles; only WS_EX_CLIENTEDGE (a sunken frame) has an effect.
    bool ModifyStyleEx(uint32_t remove, uint32_t add, UINT flags = 0);
    uint32_t GetExStyle() const { return m_exStyle; }
    // Moves the window, in the parent's client coordinates (device pixels).
    void MoveWindow(const CRect& rect);
    CRect GetWindowRect() const; // in the parent's client coordinates

    // The window's widget and its client-area widget, for the framework and its tests.
    QWidget* GetSafeHwnd() const { return m_widget; }
    QWidget* ClientWidget() const { return m_client; }

protected:
    // Called once the widget is gone. Windows whose objects are owned by their window (views)
    // delete themselves here.
    virtual void PostNcDestroy() {}

    // For the framework's window classes: adopts a widget made for this object, whose
    // `client` widget (itself or a child) is the client area. The widget's destructor must
    // call WndAccess::WidgetDestroyed.
    void Attach(QWidget* widget, QWidget* client, int id);
    // Device pixels per logical Qt pixel of this window.
    double DevicePixelRatio() const;

private:
    friend struct WndAccess;
    void WidgetDestroyed();

    QWidget* m_widget = nullptr;
    QWidget* m_client = nullptr;
    int m_id = 0;
    uint32_t m_exStyle = 0;
    bool m_deleting = false;
};

} // namespace framework

// Runtime-class declarations for a class that can be created by class record.
#define VERLUME_DECLARE_DYNCREATE(Class)                                              \
public:                                                                               \
    static const ::framework::CRuntimeClass class##Class;                             \
    static const ::framework::CRuntimeClass* GetThisClass() { return &class##Class; } \
    static ::framework::CObject* CreateObject();                                      \
    const ::framework::CRuntimeClass* GetRuntimeClass() const override { return &class##Class; }

// `Base` has GetThisClass (CScrollView, CDialog, or a class declared as above).
#define VERLUME_IMPLEMENT_DYNCREATE(Class, Base)                                      \
    ::framework::CObject* Class::CreateObject() { return new Class; }                \
    const ::framework::CRuntimeClass Class::class##Class = {#Class, Base::GetThisClass(), &Class::CreateObject};

#define RUNTIME_CLASS(Class) (Class::GetThisClass())
