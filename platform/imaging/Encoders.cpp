#include "Encoders.h"

#include "Bitmap.h"
#include "FileWrite.h"
#include "GifEncoder.h"
#include "ParallelRows.h"
#include "PngEncoder.h"
#include "QtBridge.h"
#include "RgbRows.h"
#include "TiffEncoder.h"

#include <QBuffer>
#include <QImageWriter>

#include <algorithm>

namespace imaging {

namespace {

StatusRecord EncodeGifFile(const Image& image, const Metadata*, OutputFile& file) {
    std::vector<uint8_t> bytes;
    StatusRecord s = EncodeGif(static_cast<const Bitmap&>(image), bytes);
    return s.code == Ok ? file.Write(bytes.data(), bytes.size()) : s;
}

// Our encoders take the metadata prepared for output, or null.
using Encode = StatusRecord (*)(const Image&, const Metadata*, OutputFile&);

struct EncoderEntry {
    ImageCodecInfo info;
    const char* qtFormat; // Qt's writer, or
    Encode encode;        // our own
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

// The image over white, for formats without alpha: each channel c * a + 255 * (1 - a), rounded.
// Bands of rows on every core.
QImage OverWhite(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32); // shares the pixels when it is already
    QImage out(argb.size(), QImage::Format_RGB32);
    if (argb.isNull() || out.isNull()) return {};
    const int width = argb.width();
    ParallelRows(argb.height(), [&](int32_t first, int32_t last) {
        for (int32_t y = first; y < last; ++y) {
            const QRgb* in = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
            QRgb* row = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const uint32_t p = in[x], a = p >> 24;
                if (a == 255 || a == 0) { // most pixels: the picture, or nothing
                    row[x] = a ? p : 0xFFFFFFFFu;
                    continue;
                }
                const uint32_t white = 255 * (255 - a) + 127;
                auto over = [&](int shift) { return ((p >> shift & 0xFF) * a + white) / 255 << shift; };
                row[x] = 0xFF000000u | over(16) | over(8) | over(0);
            }
        }
    });
    return out;
}

StatusRecord EncodeWithQt(const Image& source, const char* format, const SaveOptions& options,
                          const Metadata* metadata, OutputFile& file) {
    QImage image = HasTranslucentPixel(source) ? OverWhite(AsQImage(source)) : AsQImage(source);
    if (image.isNull()) return NotEnoughMemory("to encode the image", uint64_t(source.GetWidth()) * source.GetHeight() * 4);
    // Qt's default resolution follows the screen when there is one; files must not.
    constexpr int kDotsPerMeter96Dpi = 3780;
    image.setDotsPerMeterX(kDotsPerMeter96Dpi);
    image.setDotsPerMeterY(kDotsPerMeter96Dpi);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    const bool jpeg = std::string(format) == "jpeg";
    if (jpeg) writer.setQuality(std::clamp(options.jpegQuality, 1, 100));
    if (!writer.write(image))
        return {GenericError, std::string(format) + " encoder: " + writer.errorString().toStdString()};
    std::vector<uint8_t> encoded(bytes.begin(), bytes.end());
    bytes.clear();
    std::string why;
    if (jpeg && metadata && !EmbedMetadata(encoded, *metadata, &why)) return {GenericError, "JPEG encoder: " + why};
    return file.Write(encoded.data(), encoded.size());
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

Status Image::Save(const std::string& path, const CLSID* encoder) { return Save(path, encoder, SaveOptions{}); }

Status Image::Save(const std::string& path, const CLSID* encoder, const SaveOptions& options) {
    if (!HasContent()) return FailNoContent();
    const EncoderEntry* entry = nullptr;
    for (const EncoderEntry& e : AllEncoders())
        if (encoder && e.info.Clsid == *encoder && Available(e)) entry = &e;
    if (entry == nullptr) return Fail(InvalidParameter, "no encoder for that file type is installed");

    // The file comes first: a folder that cannot be written is reported before the encode.
    OutputFile file;
    if (StatusRecord opened = file.Open(path); opened.code != Ok) return Fail(opened.code, opened.reason);
    // GIF and BMP hold none: nothing is prepared for them.
    const bool holdsMetadata = entry->info.MimeType != "image/gif" && entry->info.MimeType != "image/bmp";
    Metadata prepared;
    if (options.metadata && holdsMetadata) prepared = MetadataForOutput(*options.metadata, m_width, m_height);
    const Metadata* metadata = prepared.icc.empty() && !prepared.HasExifOrXmp() ? nullptr : &prepared;
    StatusRecord encoded;
    try {
        encoded = entry->encode ? entry->encode(*this, metadata, file)
                                : EncodeWithQt(*this, entry->qtFormat, options, metadata, file);
    } catch (const std::bad_alloc&) { // Qt's and the libraries' containers
        encoded = NotEnoughMemory("to encode the image", uint64_t(m_width) * m_height * 4);
    }
    if (encoded.code != Ok) return Fail(encoded.code, encoded.reason);
    if (StatusRecord committed = file.Commit(); committed.code != Ok) return Fail(committed.code, committed.reason);
    return Ok;
}

} // namespace imaging
