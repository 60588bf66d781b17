// Decoding image files through Qt's image readers into the layer's own formats:
// bilevel and palette images become 1bppIndexed or 8bppIndexed with their colour table,
// grey images 8bppIndexed with a grey ramp, images with an alpha channel 32bppARGB, and all
// others 24bppRGB. 16 bits per channel become 8.

#include "Bitmap.h"
#include "QtBridge.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <gif_lib.h>

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

// A BMP states its own length; Qt's reader fills what a shorter file lacks with black.
bool IsShortBmp(QIODevice& device) {
    const QByteArray head = device.peek(6);
    if (head.size() < 6 || head[0] != 'B' || head[1] != 'M') return false;
    const auto* b = reinterpret_cast<const uint8_t*>(head.constData());
    const uint32_t stated = uint32_t(b[2]) | uint32_t(b[3]) << 8 | uint32_t(b[4]) << 16 | uint32_t(b[5]) << 24;
    return !device.isSequential() && device.size() < qint64(stated);
}

// Qt's GIF reader shows as much of a cut-off file as it holds; giflib tells whether the file
// is whole. Reads the device and puts it back at the start.
bool IsIncompleteGif(QIODevice& device) {
    if (!device.peek(4).startsWith("GIF8") || device.isSequential()) return false;
    const QByteArray bytes = device.readAll();
    device.seek(0);
    struct Source {
        const QByteArray* bytes;
        qsizetype at;
    } source{&bytes, 0};
    auto read = [](GifFileType* gif, GifByteType* out, int length) -> int {
        auto* s = static_cast<Source*>(gif->UserData);
        const int n = int(std::min<qsizetype>(length, s->bytes->size() - s->at));
        std::memcpy(out, s->bytes->constData() + s->at, size_t(n));
        s->at += n;
        return n;
    };
    int error = 0;
    GifFileType* gif = DGifOpen(&source, read, &error);
    if (gif == nullptr) return true;
    const bool whole = DGifSlurp(gif) == GIF_OK;
    DGifCloseFile(gif, &error);
    return !whole;
}

// Decodes what `device` holds; null with the reason in *why on failure. `name` starts the
// reason ("\"photo.png\" is damaged or incomplete").
Bitmap* Decode(QIODevice& device, const std::string& name, StatusRecord* why) {
    auto fail = [&](Status code, const std::string& reason) -> Bitmap* {
        *why = {code, name + " " + reason};
        return nullptr;
    };
    if (IsShortBmp(device) || IsIncompleteGif(device)) return fail(UnknownImageFormat, "is damaged or incomplete");
    QImageReader reader(&device);
    reader.setAllocationLimit(kAllocationLimitMiB);
    const QSize stated = reader.size();
    if (stated.isValid() &&
        (stated.width() > kMaxImageSide || stated.height() > kMaxImageSide ||
         int64_t(stated.width()) * stated.height() > kMaxImagePixels))
        return fail(ValueOverflow, "is " + std::to_string(stated.width()) + " x " + std::to_string(stated.height()) +
                                       " pixels, more than this program can hold");

    QImage decoded;
    if (!reader.read(&decoded)) {
        switch (reader.error()) {
        case QImageReader::UnsupportedFormatError: return fail(UnknownImageFormat, "is not an image file of a known format");
        case QImageReader::InvalidDataError: return fail(UnknownImageFormat, "is damaged or incomplete");
        default: return fail(GenericError, "cannot be read: " + reader.errorString().toStdString());
        }
    }
    if (decoded.width() > kMaxImageSide || decoded.height() > kMaxImageSide ||
        int64_t(decoded.width()) * decoded.height() > kMaxImagePixels)
        return fail(ValueOverflow, "holds an image larger than this program can hold");

    // The common 32-bit results go straight into the bitmap, row by row, so that opening holds
    // one decoded image besides the bitmap, not two.
    const QImage::Format qtFormat = decoded.format();
    if (qtFormat == QImage::Format_RGB32 || qtFormat == QImage::Format_ARGB32) {
        const bool alpha = qtFormat == QImage::Format_ARGB32;
        std::unique_ptr<Bitmap> bitmap(new Bitmap(decoded.width(), decoded.height(),
                                                  alpha ? PixelFormat32bppARGB : PixelFormat24bppRGB));
        if (!bitmap->HasContent()) {
            *why = {bitmap->GetLastStatus(), bitmap->GetLastReason()};
            return nullptr;
        }
        uint8_t* scan0 = ImageAccess::Scan0(*bitmap);
        const int32_t stride = ImageAccess::Stride(*bitmap);
        const int width = decoded.width(), height = decoded.height();
        for (int y = 0; y < height; ++y) {
            const uchar* in = decoded.constScanLine(y); // B, G, R, A in memory
            uint8_t* out = scan0 + int64_t(y) * stride;
            if (alpha) {
                std::memcpy(out, in, size_t(width) * 4);
            } else {
                for (int x = 0; x < width; ++x) {
                    out[3 * x] = in[4 * x];
                    out[3 * x + 1] = in[4 * x + 1];
                    out[3 * x + 2] = in[4 * x + 2];
                }
            }
        }
        return bitmap.release();
    }

    Converted c = ToLayerFormat(std::move(decoded));
    decoded = QImage();
    if (c.image.isNull()) return fail(OutOfMemory, "is too large to convert in memory");

    std::unique_ptr<Bitmap> bitmap(new Bitmap(c.image.width(), c.image.height(), c.format));
    if (!bitmap->HasContent()) {
        *why = {bitmap->GetLastStatus(), bitmap->GetLastReason()};
        return nullptr;
    }
    uint8_t* scan0 = ImageAccess::Scan0(*bitmap);
    const int32_t stride = ImageAccess::Stride(*bitmap);
    const size_t rowBytes = size_t((int64_t(c.image.width()) * GetPixelFormatSize(c.format) + 7) / 8);
    for (int y = 0; y < c.image.height(); ++y)
        std::memcpy(scan0 + int64_t(y) * stride, c.image.constScanLine(y), rowBytes);
    std::array<uint32_t, 256>& palette = ImageAccess::Palette(*bitmap);
    if (c.image.format() == QImage::Format_Grayscale8) {
        for (int i = 0; i < 256; ++i) palette[i] = 0xFF000000u | uint32_t(i) * 0x010101u;
    } else if (IsIndexedPixelFormat(c.format)) {
        const QList<QRgb> table = c.image.colorTable();
        const int n = std::min<int>(int(table.size()), PaletteSizeOf(c.format));
        palette.fill(0xFF000000u);
        for (int i = 0; i < n; ++i) palette[i] = table[i];
    }
    return bitmap.release();
}

// A bitmap without content that says why.
Bitmap* Failed(StatusRecord why) {
    auto* failed = new Bitmap(0, 0, PixelFormatUndefined);
    ImageAccess::SetStatus(*failed, std::move(why));
    return failed;
}

} // namespace

Bitmap* Bitmap::FromFile(const std::string& path) {
    auto fail = [&](Status code, const std::string& why) { return Failed({code, Quoted(path) + " " + why}); };
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
    StatusRecord why;
    Bitmap* bitmap = Decode(file, Quoted(path), &why);
    return bitmap ? bitmap : Failed(std::move(why));
}

Bitmap* Bitmap::FromMemory(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0) return Failed({UnknownImageFormat, "the image data is empty"});
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    StatusRecord why;
    Bitmap* bitmap = Decode(buffer, "the image data", &why);
    return bitmap ? bitmap : Failed(std::move(why));
}

} // namespace imaging
