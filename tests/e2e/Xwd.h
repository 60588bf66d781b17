#pragma once
// Reading the X window dumps that xwd writes, for screenshots in the end-to-end test.

#include <QImage>
#include <QString>

namespace e2e {

// The picture of a 24- or 32-bit TrueColor dump, or a null image for anything else.
QImage ReadXwd(const QString& path);

} // namespace e2e
