#pragma once
// Internal to the framework: what icon and cursor handles stand for.

#include "WinApp.h"

#include <QCursor>
#include <QIcon>

namespace framework {

struct IconResource {
    QIcon icon;
};
struct CursorResource {
    QCursor cursor;
};

} // namespace framework
