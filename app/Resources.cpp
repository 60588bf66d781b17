#include "Resources.h"

namespace app {

const framework::DialogTemplate& MainDialogTemplate() {
    static const framework::DialogTemplate dialog = {
        0, 0, 358, 281,
        "Verlume - verlume.example.org",
        {
            {IDC_OPEN, "Open", 24, 18, 50, 14},
            {IDC_SAVE, "Save", 88, 18, 50, 14},
            {IDC_HOMEPAGE, "Home Page", 151, 18, 50, 14},
            {IDC_SCALE, "100 %", 215, 18, 80, 14, framework::ControlKind::Label},
        },
    };
    return dialog;
}

} // namespace app
