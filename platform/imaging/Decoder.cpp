// Decoding image files through Qt's image readers into the layer's own formats:
// bilevel and palette images become 1bppIndexed or 8bppIndexed with their colour table,
// grey images 8bppIndexed with a grey ramp, images with an alpha channel 32bppARGB, and all
// others 24bppRGB. 16 bits per channel become 8. The EXIF orientation is applied before
// anything else sees the pixels.

#include "Bitmap.h"
#include "BmpHeader.h"
#include "DecodeLimits.h"
#include "FileChecks.h"
#include "IconColours.h"
#include "JpegDecoder.h"
#include "Orientation.h"
#include "PngDecoder.h"
#include "QtBridge.h"
#include "TgaFile.h"
#include "TiffFile.h"
#include "WidePnm.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <gif_lib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace imaging {

namespace {

std::atomic<int64_t> decodeLimit{kMaxImagePixels};
std::atomic<uint64_t> decodeMemoryLimit{0};

DecodeLimits Limits() {
    const int64_t pixels = decodeLimit;
    const uint64_t bytes = decodeMemoryLimit;
    return {pixels, bytes, pixels < kMaxImagePixels || bytes > 0};
}

// Qt refuses to allocate more than this for one decoded image; the limits are checked first
// where the file states its size, this catches formats that only tell while decoding.
int AllocationLimitMiB() {
    uint64_t bytes = uint64_t(int64_t(decodeLimit)) * 8;
    if (decodeMemoryLimit > 0) bytes = std::min<uint64_t>(bytes, decodeMemoryLimit);
    return int(std::max<uint64_t>(1, bytes >> 20));
}

// What Qt's path takes a pixel at most: Qt's image of up to 8 bytes, then the bitmap.
constexpr uint64_t kQtBytesPerPixel = 8;

struct Converted {
    PixelFormat format;
    QImage image; // in a layout identical to `format`
};

Converted ToLayerFormat(QImage image) {
    switch (image.format()) {
    case QImage::Format_Mono: return {PixelFormat1bppIndexed, image};
    case QImage::Format_MonoLSB:
        return {PixelFormat1bppIndexed, ConvertedInBands(image, QImage::Format_Mono)};
    case QImage::Format_Indexed8: return {PixelFormat8bppIndexed, image};
    case QImage::Format_Grayscale8: return {PixelFormat8bppIndexed, image};
    case QImage::Format_Grayscale16:
        return {PixelFormat8bppIndexed, ConvertedInBands(image, QImage::Format_Grayscale8)};
    default:
        if (image.hasAlphaChannel())
            return {PixelFormat32bppARGB, ConvertedInBands(image, QImage::Format_ARGB32)};
        return {PixelFormat24bppRGB, ConvertedInBands(image, QImage::Format_BGR888)};
    }
}

// `image` in 32-bit ARGB, transparent outside `keep`; null when memory ran out.
QImage ClearedOutside(QImage image, const QRect& keep) {
    image = ConvertedInBands(image, QImage::Format_ARGB32);
    if (image.isNull()) return image;
    const QRect inside = keep.intersected(image.rect());
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        if (y < inside.top() || y > inside.bottom() || inside.isEmpty()) {
            std::fill_n(row, image.width(), 0u);
            continue;
        }
        std::fill(row, row + inside.left(), 0u);
        std::fill(row + inside.right() + 1, row + image.width(), 0u);
    }
    return image;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// What giflib tells of a GIF: whether it is whole (Qt's reader shows as much of a cut-off
// file as it holds), and where its first image lies on the logical screen (Qt fills the rest
// of the screen with the background colour; GIF89a viewers show it transparent).
struct GifLayout {
    bool whole = false;
    std::optional<QRect> firstImage;
};

// Record by record, each image's rows decoded into one row's room: an image's stated size
// takes no memory (giflib's DGifSlurp allocates it, 1.5 GB for a 62-byte file).
GifLayout ReadGifLayout(const QByteArray& bytes) {
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
    if (gif == nullptr) return {};
    std::vector<GifPixelType> row;
    GifLayout layout;
    bool ok = true;
    while (ok && !layout.whole) {
        GifRecordType type;
        ok = DGifGetRecordType(gif, &type) == GIF_OK;
        if (!ok || type == TERMINATE_RECORD_TYPE) {
            layout.whole = ok;
        } else if (type == IMAGE_DESC_RECORD_TYPE) {
            ok = DGifGetImageDesc(gif) == GIF_OK && gif->Image.Width > 0 && gif->Image.Height > 0;
            if (ok && !layout.firstImage)
                layout.firstImage = QRect(gif->Image.Left, gif->Image.Top, gif->Image.Width, gif->Image.Height);
            if (ok) row.resize(size_t(gif->Image.Width));
            for (int y = 0; ok && y < gif->Image.Height; ++y) ok = DGifGetLine(gif, row.data(), gif->Image.Width) == GIF_OK;
        } else if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            ok = DGifGetExtension(gif, &code, &block) == GIF_OK;
            while (ok && block != nullptr) ok = DGifGetExtensionNext(gif, &block) == GIF_OK;
        }
    }
    DGifCloseFile(gif, &error);
    return layout;
}

const uint8_t* Bytes(const QByteArray& a) { return reinterpret_cast<const uint8_t*>(a.constData()); }

// The first and last 4 KiB of a random-access device (the whole of it, for a buffer), read
// without moving it.
struct DeviceEnds {
    QByteArray head, tail;
    qint64 size;
    operator FileBytes() const {
        return {Bytes(head), size_t(head.size()), Bytes(tail), size_t(tail.size()), uint64_t(std::max<qint64>(size, 0))};
    }
};
DeviceEnds EndsOf(QIODevice& device) {
    constexpr qint64 kEnd = 4096;
    DeviceEnds ends{{}, {}, device.size()};
    if (auto* buffer = qobject_cast<QBuffer*>(&device)) {
        ends.head = ends.tail = buffer->data();
        return ends;
    }
    ends.head = device.peek(kEnd);
    const qint64 at = device.pos();
    if (device.seek(std::max<qint64>(0, ends.size - kEnd))) ends.tail = device.read(kEnd);
    device.seek(at);
    return ends;
}

// Reads 8 bytes at an offset of a random-access device, leaving it where it was.
std::function<bool(uint64_t, uint8_t*)> ChunkReader(QIODevice& device) {
    return [&device](uint64_t offset, uint8_t* out) {
        const qint64 at = device.pos();
        const bool read = device.seek(qint64(offset)) && device.read(reinterpret_cast<char*>(out), 8) == 8;
        device.seek(at);
        return read;
    };
}

// Decodes what `device` holds, upright as `metadata` says, and keeps the metadata with it;
// null with the reason in *why on failure. `name` starts the reason ("\"photo.png\" is
// damaged or incomplete").
// `needed` follows what the decode is known to need, for the message when memory runs out.
std::unique_ptr<Bitmap> Decode(QIODevice& device, const std::string& name, Metadata metadata, StatusRecord* why,
                               uint64_t& needed) {
    needed = uint64_t(std::max<qint64>(device.size(), 0));
    auto fail = [&](Status code, const std::string& reason) -> std::unique_ptr<Bitmap> {
        *why = {code, name + " " + reason};
        return nullptr;
    };
    auto outOfMemory = [&](const std::string& what, uint64_t bytes) {
        return fail(OutOfMemory, "cannot be opened: " + NotEnoughMemory(what, bytes).reason);
    };
    const DecodeLimits limits = Limits();
    auto tooLarge = [&](int64_t w, int64_t h) {
        return fail(ValueOverflow, "is " + std::to_string(w) + " x " + std::to_string(h) +
                                       " pixels, more than this program can hold");
    };
    // True, with the reason in *why, for a stated size beyond the limits.
    auto beyondLimits = [&](int64_t w, int64_t h, uint64_t bytesPerPixel) {
        const StatusRecord s = CheckStatedSize(limits, w, h, bytesPerPixel);
        if (s.code != Ok) *why = {s.code, name + " " + s.reason};
        return s.code != Ok;
    };
    const QByteArray head = device.peek(34);
    const auto* b = Bytes(head);
    const bool gif = head.size() >= 10 && head.startsWith("GIF8"), jpeg = head.startsWith("\xFF\xD8\xFF");
    // Qt's GIF reader takes a logical screen of that many pixels for damage; it is a size.
    if (gif) {
        const int64_t w = b[6] | b[7] << 8, h = b[8] | b[9] << 8;
        if (w * h >= kMaxImagePixels) return tooLarge(w, h);
        if (beyondLimits(w, h, kQtBytesPerPixel)) return nullptr;
    }
    // Decoders fill in what a cut file lacks and allocate what a header claims; these formats'
    // own bytes tell first. A BMP by its header; a JPEG or GIF by its whole content, which the
    // decoder then reads instead of the file a second time.
    if (head.startsWith("BM") && !BmpIsWhole(b, size_t(head.size()), uint64_t(device.size())))
        return fail(UnknownImageFormat, "is damaged or incomplete");
    QIODevice* input = &device;
    QBuffer whole;
    GifLayout gifLayout;
    // A BMP whose info header Qt does not know is read widened.
    if (BmpHeaderUnknownToQt(b, size_t(head.size()))) {
        const QByteArray widened = BmpWithKnownHeader(device.readAll());
        if (widened.isEmpty()) return fail(UnknownImageFormat, "is damaged or incomplete");
        whole.setData(widened);
        whole.open(QIODevice::ReadOnly);
        input = &whole;
    }
    if (gif || jpeg) {
        auto* buffer = qobject_cast<QBuffer*>(&device);
        if (buffer == nullptr) {
            whole.setData(device.readAll());
            // Read short only when memory for the bytes ran out: not a damaged file.
            if (device.size() > 0 && whole.data().size() < device.size())
                return outOfMemory("to read it", needed);
            whole.open(QIODevice::ReadOnly);
            buffer = &whole;
            input = &whole;
        }
        const QByteArray& bytes = buffer->data();
        if (gif) gifLayout = ReadGifLayout(bytes);
        if (!(jpeg ? JpegIsWhole(Bytes(bytes), size_t(bytes.size())) : gifLayout.whole))
            return fail(UnknownImageFormat, "is damaged or incomplete");
        if (gif && !gifLayout.firstImage) return fail(UnknownImageFormat, "holds no image");
        // libjpeg-turbo writes straight into the bitmap; what it cannot read at all goes to Qt.
        bool headerRead = false;
        if (jpeg) {
            StatusRecord failed;
            std::unique_ptr<Bitmap> bitmap =
                DecodeJpeg(Bytes(bytes), size_t(bytes.size()), metadata.orientation, limits, &failed, &headerRead);
            if (bitmap) {
                ImageAccess::SetMetadata(*bitmap, std::move(metadata));
                return bitmap;
            }
            if (headerRead) return fail(failed.code, failed.reason);
        }
    }
    // The other formats by what their own bytes say: the text ones read whole first.
    const QByteArray format = QImageReader::imageFormat(input);
    // A TGA has no signature: Qt takes one of true colour for an icon and knows no other by
    // its bytes. A file is read as one where its header is a TGA's and it is no whole icon.
    std::optional<TgaHeader> tga;
    const bool icon = format == "ico" || format == "cur";
    if (format.isEmpty() || icon || format == "tga") tga = ReadTgaHeader(b, size_t(head.size()));
    if (tga && icon && FormatIsWhole(format.constData(), EndsOf(*input))) tga.reset();
    if (!format.isEmpty() && !tga) {
        if (CheckNeedsWholeFile(format.constData()) && input == &device && !qobject_cast<QBuffer*>(&device)) {
            whole.setData(device.readAll());
            whole.open(QIODevice::ReadOnly);
            input = &whole;
        }
        if (!FormatIsWhole(format.constData(), EndsOf(*input)))
            return fail(UnknownImageFormat, "is damaged or incomplete");
        if (format == "png") {
            // libpng allocates what a chunk claims before it reads the chunk.
            if (!PngChunksFit(uint64_t(std::max<qint64>(input->size(), 0)), ChunkReader(*input)))
                return fail(UnknownImageFormat, "is damaged or incomplete");
            // The common PNGs go straight into the bitmap; the others to Qt.
            StatusRecord failed;
            bool handled = false;
            std::unique_ptr<Bitmap> bitmap = DecodePng(*input, metadata.orientation, limits, &failed, &handled);
            if (bitmap) {
                ImageAccess::SetMetadata(*bitmap, std::move(metadata));
                return bitmap;
            }
            if (handled) return fail(failed.code, failed.reason);
        }
    }
    QImage decoded;
    const QByteArray pnmHead = format == "pgm" || format == "ppm" ? input->peek(1024) : QByteArray();
    const std::optional<StatedSize> wide = WidePnmSize(Bytes(pnmHead), size_t(pnmHead.size()));
    if (tga || format == "tiff" || wide) {
        // Our own readers, on the whole file: stb_image's RGBA for TGA, which Qt does not know;
        // libtiff, which reads by offsets; PGM and PPM of more than 8 bits a sample, whose
        // low byte Qt's reader drops.
        const QByteArray bytes = input->readAll();
        const std::optional<StatedSize> stated = tga    ? StatedSize{tga->width, tga->height}
                                                 : wide ? wide
                                                        : ReadTiffSize(Bytes(bytes), size_t(bytes.size()));
        if (!stated) return fail(UnknownImageFormat, "is damaged or incomplete");
        needed = uint64_t(stated->width) * uint64_t(stated->height) * 4;
        if (stated->width > kMaxImageSide || stated->height > kMaxImageSide) return tooLarge(stated->width, stated->height);
        // The decoder's picture, then the bitmap.
        if (beyondLimits(stated->width, stated->height, 2 * 4)) return nullptr;
        if (tga && !TgaIsWhole(*tga, Bytes(bytes), size_t(bytes.size())))
            return fail(UnknownImageFormat, "is damaged or incomplete");
        bool noMemory = false;
        decoded = tga    ? DecodeTga(*tga, Bytes(bytes), size_t(bytes.size()), &noMemory)
                  : wide ? DecodeWidePnm(Bytes(bytes), size_t(bytes.size()), &noMemory)
                         : DecodeTiff(Bytes(bytes), size_t(bytes.size()), &noMemory);
        if (noMemory) return outOfMemory("to decode it", needed);
        if (decoded.isNull()) return fail(UnknownImageFormat, "is damaged or incomplete");
    } else {
        const QByteArray bmpHead = head.startsWith("BM") ? input->peek(70) : QByteArray();
        QImageReader reader(input);
        reader.setAllocationLimit(AllocationLimitMiB());
        const QSize stated = reader.size();
        if (stated.isValid()) needed = uint64_t(stated.width()) * uint64_t(stated.height()) * kQtBytesPerPixel;
        if (stated.isValid()) {
            if (stated.width() > kMaxImageSide || stated.height() > kMaxImageSide) return tooLarge(stated.width(), stated.height());
            if (beyondLimits(stated.width(), stated.height(), kQtBytesPerPixel)) return nullptr;
        }

        if (!reader.read(&decoded)) {
            // Qt's readers report an image they could not allocate as invalid data: whether the
            // memory for it is there tells the two apart.
            if (stated.isValid()) {
                const uint64_t bytes = uint64_t(stated.width()) * uint64_t(stated.height()) * kQtBytesPerPixel;
                if (void* room = std::malloc(bytes)) std::free(room);
                else return outOfMemory("to decode it", bytes);
            }
            switch (reader.error()) {
            case QImageReader::UnsupportedFormatError: return fail(UnknownImageFormat, "is not an image file of a known format");
            case QImageReader::InvalidDataError: return fail(UnknownImageFormat, "is damaged or incomplete");
            default: return fail(GenericError, "cannot be read: " + reader.errorString().toStdString());
            }
        }
        WidenNarrowBmpChannels(Bytes(bmpHead), size_t(bmpHead.size()), decoded);
        // An icon holds one picture at several sizes and depths: the largest is shown, of those
        // the deepest, as viewers do. One that cannot be read makes the file damaged.
        if (format == "ico" || format == "cur" || format == "icns") {
            for (int i = 1; i < reader.imageCount(); ++i) {
                QImage other;
                if (!reader.jumpToImage(i) || !reader.read(&other)) return fail(UnknownImageFormat, "is damaged or incomplete");
                const int64_t area = int64_t(other.width()) * other.height(), shown = int64_t(decoded.width()) * decoded.height();
                if (area > shown || (area == shown && other.depth() > decoded.depth())) decoded = std::move(other);
            }
            // Only a picture with alpha has stored colours to take back.
            if (decoded.hasAlphaChannel() && input->seek(0)) {
                const QByteArray bytes = input->readAll();
                RestoreIconColours(Bytes(bytes), size_t(bytes.size()), decoded);
            }
        }
    }
    if (decoded.width() > kMaxImageSide || decoded.height() > kMaxImageSide ||
        int64_t(decoded.width()) * decoded.height() > decodeLimit)
        return fail(ValueOverflow, "holds an image larger than this program can hold");
    if (gifLayout.firstImage && !gifLayout.firstImage->contains(decoded.rect())) {
        const uint64_t bytes = uint64_t(decoded.width()) * uint64_t(decoded.height()) * 4;
        decoded = ClearedOutside(std::move(decoded), *gifLayout.firstImage);
        if (decoded.isNull()) return outOfMemory("to decode it", bytes);
    }
    if (metadata.orientation != 1) {
        const uint64_t bytes = uint64_t(decoded.sizeInBytes());
        decoded = Upright(decoded, metadata.orientation);
        if (decoded.isNull()) return outOfMemory("to turn it upright", bytes);
    }

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
        ImageAccess::SetMetadata(*bitmap, std::move(metadata));
        return bitmap;
    }

    const uint64_t convertedBytes = uint64_t(decoded.width()) * uint64_t(decoded.height()) * 4;
    Converted c = ToLayerFormat(std::move(decoded));
    decoded = QImage();
    if (c.image.isNull()) return outOfMemory("to convert it", convertedBytes);

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
    ImageAccess::SetMetadata(*bitmap, std::move(metadata));
    return bitmap;
}

// Decode, with memory that runs out anywhere in it (Qt's and the libraries' containers throw)
// reported as such.
std::unique_ptr<Bitmap> DecodeOrSayWhy(QIODevice& device, const std::string& name, Metadata metadata, StatusRecord* why) {
    uint64_t needed = 0;
    try {
        return Decode(device, name, std::move(metadata), why, needed);
    } catch (const std::bad_alloc&) {
        *why = {OutOfMemory, name + " cannot be opened: " + NotEnoughMemory("to decode it", needed).reason};
        return nullptr;
    }
}

// How long a pipe may stay silent: before its first byte (a FIFO that nobody writes to never
// ends), and between later ones.
constexpr int kFirstByteWaitMs = 1500;
constexpr int kSilenceLimitMs = 30000;
// The most a pipe may deliver: more than any image this program holds takes in a file.
constexpr qsizetype kMaxStreamBytes = qsizetype(1) << 31;

// Reads a pipe or FIFO (opened non-blocking) to its end. The reasons follow the file's name.
StatusRecord ReadStream(int fd, QByteArray& bytes) {
    std::vector<char> chunk(size_t(1) << 16);
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, bytes.isEmpty() ? kFirstByteWaitMs : kSilenceLimitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
            if (bytes.isEmpty()) return {UnknownImageFormat, "is empty: nothing was written to it"};
            return {UnknownImageFormat, "is damaged or incomplete: its writer stopped"};
        }
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return {GenericError, std::string("cannot be read: ") + std::strerror(errno)};
        }
        if (bytes.size() + n > kMaxStreamBytes) return {ValueOverflow, "delivers more than this program can hold"};
        bytes.append(chunk.data(), n);
    }
    if (bytes.isEmpty()) return {UnknownImageFormat, "is empty"};
    return {};
}

// A bitmap without content that says why.
std::unique_ptr<Bitmap> Failed(StatusRecord why) {
    auto failed = std::make_unique<Bitmap>(0, 0, PixelFormatUndefined);
    ImageAccess::SetStatus(*failed, std::move(why));
    return failed;
}

} // namespace

void SetDecodeLimit(int64_t pixels) {
    decodeLimit = pixels <= 0 ? kMaxImagePixels : std::min(pixels, kMaxImagePixels);
}

void SetDecodeMemoryLimit(uint64_t bytes) { decodeMemoryLimit = bytes; }

std::unique_ptr<Bitmap> Bitmap::FromFile(const std::string& path) {
    auto fail = [&](Status code, const std::string& why) { return Failed({code, Quoted(path) + " " + why}); };
    // Without O_NONBLOCK, opening a FIFO that nobody writes to would wait for a writer forever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) return fail(FileNotFound, "does not exist");
        if (err == EACCES || err == EPERM) return fail(AccessDenied, "may not be read");
        return fail(GenericError, std::string("cannot be opened: ") + std::strerror(err));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
        ::close(fd);
        if (S_ISDIR(st.st_mode)) return fail(InvalidParameter, "is a folder, not an image file");
        return fail(InvalidParameter, "is not a regular file");
    }
    StatusRecord why;
    if (!S_ISREG(st.st_mode)) {
        // A pipe is read whole first, so that what arrived can be checked like a file.
        QByteArray bytes;
        const StatusRecord read = ReadStream(fd, bytes);
        ::close(fd);
        if (read.code != Ok) return fail(read.code, read.reason);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        std::unique_ptr<Bitmap> bitmap = DecodeOrSayWhy(buffer, Quoted(path), ReadMetadata(Bytes(bytes), size_t(bytes.size())), &why);
        return bitmap ? std::move(bitmap) : Failed(std::move(why));
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (st.st_size == 0) {
        ::close(fd);
        return fail(UnknownImageFormat, "is empty");
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(GenericError, "cannot be opened");
    }
    std::unique_ptr<Bitmap> bitmap = DecodeOrSayWhy(file, Quoted(path), ReadMetadata(path), &why);
    return bitmap ? std::move(bitmap) : Failed(std::move(why));
}

std::unique_ptr<Bitmap> Bitmap::FromMemory(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0) return Failed({UnknownImageFormat, "the image data is empty"});
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    StatusRecord why;
    std::unique_ptr<Bitmap> bitmap = DecodeOrSayWhy(buffer, "the image data", ReadMetadata(data, size), &why);
    return bitmap ? std::move(bitmap) : Failed(std::move(why));
}

} // namespace imaging
