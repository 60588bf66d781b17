#include "Encoders.h"

#include "Bitmap.h"
#include "FileWrite.h"
#include "GifEncoder.h"
#include "PngEncoder.h"
#include "QtBridge.h"
#include "TiffEncoder.h"

#include <QBuffer>
#include <QImageWriter>

namespace imaging {

namespace {

StatusRecord EncodeGifFile(const Image& image, OutputFile& file) {
    std::vector<uint8_t> bytes;
    StatusRecord s = EncodeGif(static_cast<const Bitmap&>(image), bytes);
    return s.code == Ok ? file.Write(bytes.data(), bytes.size()) : s;
}

struct EncoderEntry {
    ImageCodecInfo info;
    const char* qtFormat;                               // Qt's writer, or
    StatusRecord (*encode)(const Image&, OutputFile&); // our own
};

// Fixed class ids, one per encoder.
const std::vector<EncoderEntry>& AllEncoders() {
    static const std::vector<EncoderEntry> all = {
        {{{0x8f0c5e2a, 0x41d6, 0x4b77, {0x9a, 0x1e, 0x60, 0x2d, 0x17, 0xc3, 0x01, 0x01}},
          "image/bmp", "BMP", "*.BMP;*.DIB;*.RLE"}, "bmp", nullptr},
        {{{0x8f0c5e2a, 0x41d6, 0x4b77, {0x9a, 0x1e, 0x60, 0x2d, 0x17, 0xc3, 0x01, 0x02}},
          "image/jpeg", "JPEG", "*.JPG;*.JPEG;*.JPE;*.JFIF"}, "jpeg", nullptr},
        {{{0x8f0c5e2a, 0x41d6, 0x4b77, {0x9a, 0x1e, 0x60, 0x2d, 0x17, 0xc3, 0x01, 0x03}},
          "image/gif", "GIF", "*.GIF"}, nullptr, EncodeGifFile},
        {{{0x8f0c5e2a, 0x41d6, 0x4b77, {0x9a, 0x1e, 0x60, 0x2d, 0x17, 0xc3, 0x01, 0x04}},
          "image/tiff", "TIFF", "*.TIF;*.TIFF"}, nullptr, EncodeTiff},
        {{{0x8f0c5e2a, 0x41d6, 0x4b77, {0x9a, 0x1e, 0x60, 0x2d, 0x17, 0xc3, 0x01, 0x05}},
          "image/png", "PNG", "*.PNG"}, nullptr, EncodePng},
    };
    return all;
}

bool Available(const EncoderEntry& e) {
    return e.qtFormat == nullptr || QImageWriter::supportedImageFormats().contains(e.qtFormat);
}

StatusRecord EncodeWithQt(const Image& source, const char* format, OutputFile& file) {
    QImage image = AsQImage(source);
    if (image.isNull()) return {OutOfMemory, "not enough memory to encode the image"};
    // Qt's default resolution follows the screen when there is one; files must not.
    constexpr int kDotsPerMeter96Dpi = 3780;
    image.setDotsPerMeterX(kDotsPerMeter96Dpi);
    image.setDotsPerMeterY(kDotsPerMeter96Dpi);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image))
        return {GenericError, std::string(format) + " encoder: " + writer.errorString().toStdString()};
    return file.Write(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
}

} // namespace

const std::vector<ImageCodecInfo>& GetImageEncoders() {
    static const std::vector<ImageCodecInfo> installed = [] {
        std::vector<ImageCodecInfo> list;
        for (const EncoderEntry& e : AllEncoders())
            if (Available(e)) list.push_back(e.info);
        return list;
    }();
    return installed;
}

Status Image::Save(const std::string& path, const CLSID* encoder) {
    if (!HasContent()) return FailNoContent();
    const EncoderEntry* entry = nullptr;
    for (const EncoderEntry& e : AllEncoders())
        if (encoder && e.info.Clsid == *encoder && Available(e)) entry = &e;
    if (entry == nullptr) return Fail(InvalidParameter, "no encoder for that file type is installed");

    // The file comes first: a folder that cannot be written is reported before the encode.
    OutputFile file;
    if (StatusRecord opened = file.Open(path); opened.code != Ok) return Fail(opened.code, opened.reason);
    const StatusRecord encoded =
        entry->encode ? entry->encode(*this, file) : EncodeWithQt(*this, entry->qtFormat, file);
    if (encoded.code != Ok) return Fail(encoded.code, encoded.reason);
    if (StatusRecord committed = file.Commit(); committed.code != Ok) return Fail(committed.code, committed.reason);
    return Ok;
}

} // namespace imaging
