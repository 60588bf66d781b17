// Decoding image files through Qt's image readers into the layer's own formats:
// bilevel and palette images become 1bppIndexed or 8bppIndexed with their colour table,
// grey images 8bppIndexed with a grey ramp, images with an alpha channel 32bppARGB, and all
// others 24bppRGB. 16 bits per channel become 8.

#include "Bitmap.h"
#include "QtBridge.h"

#include <QFile>
#include <QImageReader>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace imaging {

namespace {

// Qt refuses to allocate more than this for one decoded image; the pixel limit is checked
// first where the file states its size, this catches formats that only tell while decoding.
constexpr int kAllocationLimitMiB = int(kMaxImagePixels * 8 / (1024 * 1024));

struct Converted {
    PixelFormat format;
    QImage image; // in a layout identical to `format`
};

Converted ToLayerFormat(QImage image) {
    switch (image.format()) {
    case QImage::Format_Mono: return {PixelFormat1bppIndexed, image};
    case QImage::Format_MonoLSB:
        return {PixelFormat1bppIndexed, image.convertToFormat(QImage::Format_Mono)};
    case QImage::Format_Indexed8: return {PixelFormat8bppIndexed, image};
    case QImage::Format_Grayscale8: return {PixelFormat8bppIndexed, image};
    case QImage::Format_Grayscale16:
        return {PixelFormat8bppIndexed, image.convertToFormat(QImage::Format_Grayscale8)};
    default:
        if (image.hasAlphaChannel())
            return {PixelFormat32bppARGB, image.convertToFormat(QImage::Format_ARGB32)};
        return {PixelFormat24bppRGB, image.convertToFormat(QImage::Format_BGR888)};
    }
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

} // namespace

Bitmap* Bitmap::FromFile(const std::string& path) {
    auto* result = new Bitmap(0, 0, PixelFormatUndefined);
    auto fail = [&](Status code, const std::string& why) {
        result->Fail(code, Quoted(path) + " " + why);
        return result;
    };

    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) return fail(FileNotFound, "does not exist");
        if (err == EACCES || err == EPERM) return fail(AccessDenied, "may not be read");
        return fail(GenericError, std::string("cannot be opened: ") + std::strerror(err));
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(GenericError, "cannot be opened");
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        if (S_ISDIR(st.st_mode)) return fail(InvalidParameter, "is a folder, not an image file");
        if (S_ISREG(st.st_mode) && st.st_size == 0) return fail(UnknownImageFormat, "is empty");
    }

    QImageReader reader(&file);
    reader.setAllocationLimit(kAllocationLimitMiB);
    const QSize stated = reader.size();
    if (stated.isValid() &&
        (stated.width() > kMaxImageSide || stated.height() > kMaxImageSide ||
         int64_t(stated.width()) * stated.height() > kMaxImagePixels))
        return fail(ValueOverflow, "is " + std::to_string(stated.width()) + " x " +
                                       std::to_string(stated.height()) +
                                       " pixels, more than this program can hold");

    QImage decoded;
    if (!reader.read(&decoded)) {
        switch (reader.error()) {
        case QImageReader::UnsupportedFormatError:
            return fail(UnknownImageFormat, "is not an image file of a known format");
        case QImageReader::InvalidDataError:
            return fail(UnknownImageFormat, "is damaged or incomplete");
        default:
            return fail(GenericError, "cannot be read: " + reader.errorString().toStdString());
        }
    }
    if (decoded.width() > kMaxImageSide || decoded.height() > kMaxImageSide ||
        int64_t(decoded.width()) * decoded.height() > kMaxImagePixels)
        return fail(ValueOverflow, "holds an image larger than this program can hold");

    Converted c = ToLayerFormat(std::move(decoded));
    decoded = QImage();
    if (c.image.isNull()) return fail(OutOfMemory, "is too large to convert in memory");

    std::unique_ptr<Bitmap> bitmap(new Bitmap(c.image.width(), c.image.height(), c.format));
    if (!bitmap->HasContent()) {
        result->m_lastStatus = bitmap->m_lastStatus;
        return result;
    }
    const size_t rowBytes = size_t((int64_t(c.image.width()) * GetPixelFormatSize(c.format) + 7) / 8);
    for (int y = 0; y < c.image.height(); ++y)
        std::memcpy(bitmap->m_scan0 + int64_t(y) * bitmap->m_stride, c.image.constScanLine(y), rowBytes);
    if (c.image.format() == QImage::Format_Grayscale8) {
        for (int i = 0; i < 256; ++i)
            bitmap->m_palette[i] = 0xFF000000u | uint32_t(i) * 0x010101u;
    } else if (IsIndexedPixelFormat(c.format)) {
        const QList<QRgb> table = c.image.colorTable();
        const int n = std::min<int>(int(table.size()), PaletteSizeOf(c.format));
        bitmap->m_palette.fill(0xFF000000u);
        for (int i = 0; i < n; ++i) bitmap->m_palette[i] = table[i];
    }
    delete result;
    return bitmap.release();
}

} // namespace imaging
