#pragma once
// Internal to the framework: what its widget classes tell their window objects.

#include "Wnd.h"

namespace framework {

struct WndAccess {
    // Called from the destructor of a widget attached to `wnd`.
    static void WidgetDestroyed(CWnd* wnd) {
        if (wnd) wnd->WidgetDestroyed();
    }
};

} // namespace framework
