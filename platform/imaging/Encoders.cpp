#include "Encoders.h"

#include "Bitmap.h"
#include "FileWrite.h"
#include "GifEncoder.h"
#include "QtBridge.h"

#include <QBuffer>
#include <QImageWriter>

namespace imaging {

namespace {

struct EncoderEntry {
    ImageCodecInfo info;
    const char* qtFormat; // null: our own encoder
};

// Fixed class ids, one per encoder.
const std::vector<EncoderEntry>& AllEncoders() {
    static const std::vector<EncoderEntry> all = {
        {{{0x8f0c5e2a, 0x41d6, 0x4b77, {0x9a, 0x1e, 0x60, 0x2d, 0x17, 0xc3, 0x01, 0x01}},
          "image/bmp", "BMP", "*.BMP;*.DIB;*.RLE"}, "bmp"},
        {{{0x8f0c5e2a, 0x41d6, 0x4b77, {0x9a, 0x1e, 0x60, 0x2d, 0x17, 0xc3, 0x01, 0x02}},
          "image/jpeg", "JPEG", "*.JPG;*.JPEG;*.JPE;*.JFIF"}, "jpeg"},
        {{{0x8f0c5e2a, 0x41d6, 0x4b77, {0x9a, 0x1e, 0x60, 0x2d, 0x17, 0xc3, 0x01, 0x03}},
          "image/gif", "GIF", "*.GIF"}, nullptr},
        {{{0x8f0c5e2a, 0x41d6, 0x4b77, {0x9a, 0x1e, 0x60, 0x2d, 0x17, 0xc3, 0x01, 0x04}},
          "image/tiff", "TIFF", "*.TIF;*.TIFF"}, "tiff"},
        {{{0x8f0c5e2a, 0x41d6, 0x4b77, {0x9a, 0x1e, 0x60, 0x2d, 0x17, 0xc3, 0x01, 0x05}},
          "image/png", "PNG", "*.PNG"}, "png"},
    };
    return all;
}

bool Available(const EncoderEntry& e) {
    return e.qtFormat == nullptr || QImageWriter::supportedImageFormats().contains(e.qtFormat);
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

Status Image::Save(const std::string& path, const CLSID* encoder,
                   const EncoderParameters* parameters) {
    if (!HasContent()) return FailNoContent();
    if (parameters != nullptr) return Fail(NotImplemented, "encoder parameters are not supported");
    const EncoderEntry* entry = nullptr;
    for (const EncoderEntry& e : AllEncoders())
        if (encoder && e.info.Clsid == *encoder && Available(e)) entry = &e;
    if (entry == nullptr) return Fail(InvalidParameter, "no encoder for that file type is installed");

    std::vector<uint8_t> gifBytes;
    QByteArray qtBytes;
    if (entry->qtFormat == nullptr) {
        StatusRecord s = EncodeGif(static_cast<const Bitmap&>(*this), gifBytes);
        if (s.code != Ok) return Fail(s.code, s.reason);
    } else {
        QImage image = AsQImage(*this);
        if (image.isNull()) return Fail(OutOfMemory, "not enough memory to encode the image");
        // Qt's default resolution follows the screen when there is one; files must not.
        constexpr int kDotsPerMeter96Dpi = 3780;
        image.setDotsPerMeterX(kDotsPerMeter96Dpi);
        image.setDotsPerMeterY(kDotsPerMeter96Dpi);
        QBuffer buffer(&qtBytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, entry->qtFormat);
        if (!writer.write(image))
            return Fail(GenericError, entry->info.FormatDescription + " encoder: " +
                                          writer.errorString().toStdString());
    }
    const StatusRecord written =
        entry->qtFormat ? WriteFileReplacing(path, reinterpret_cast<const uint8_t*>(qtBytes.constData()),
                                             size_t(qtBytes.size()))
                        : WriteFileReplacing(path, gifBytes.data(), gifBytes.size());
    if (written.code != Ok) return Fail(written.code, written.reason);
    return Ok;
}

} // namespace imaging
