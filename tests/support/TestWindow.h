#pragma once
// A plain top-level window to parent views in widget tests.

#include "framework/Wnd.h"

#include <QWidget>

namespace testing_support {

class TestWindow : public framework::CWnd {
public:
    const framework::CRuntimeClass* GetRuntimeClass() const override { return nullptr; }
    TestWindow(int width, int height) {
        auto* widget = new QWidget;
        widget->resize(width, height);
        Attach(widget, widget, 0);
        widget->show();
    }
};

} // namespace testing_support
