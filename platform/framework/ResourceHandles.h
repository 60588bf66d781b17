#pragma once
// Internal to the framework: what icon handles stand for.

#include "WinApp.h"

#include <QIcon>

namespace framework {

struct IconResource {
    QIcon icon;
};

} // namespace framework
