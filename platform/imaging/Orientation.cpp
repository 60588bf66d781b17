#include "Orientation.h"

#include <QTransform>

namespace imaging {

// The orientations name where the stored rows and columns go: 6 puts row 0 on the right and
// column 0 at the top, a quarter turn clockwise; 5 and 7 are that turn with a mirror.
QImage Upright(const QImage& stored, int orientation) {
    const QTransform quarter = QTransform().rotate(90);
    switch (orientation) {
    case 2: return stored.mirrored(true, false);
    case 3: return stored.mirrored(true, true);
    case 4: return stored.mirrored(false, true);
    case 5: return stored.transformed(quarter).mirrored(true, false);
    case 6: return stored.transformed(quarter);
    case 7: return stored.transformed(quarter).mirrored(false, true);
    case 8: return stored.transformed(QTransform().rotate(270));
    default: return stored;
    }
}

} // namespace imaging
