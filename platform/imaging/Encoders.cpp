#include "Encoders.h"

#include "Bitmap.h"
#include "BmpEncoder.h"
#include "FileWrite.h"
#include "GifEncoder.h"
#include "OverWhite.h"
#include "ParallelRows.h"
#include "PngEncoder.h"
#include "QtBridge.h"
#include "RgbRows.h"
#include "RowSource.h"
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
using EncodeBands = StatusRecord (*)(RowSource&, const Metadata*, OutputFile&);

StatusRecord EncodeBmpFile(RowSource& source, const Metadata*, OutputFile& file) { return EncodeBmp(source, file); }
StatusRecord EncodePngFile(RowSource& source, const Metadata* metadata, OutputFile& file) {
    return EncodePng(source, metadata, file);
}
// Without metadata only (BandsWithout), into a regular file; otherwise the picture whole.
StatusRecord EncodeTiffFile(RowSource& source, const Metadata* metadata, OutputFile& file) {
    if (!metadata && file.Seekable()) return EncodeTiff(source, file);
    Bitmap whole(int32_t(source.Width()), int32_t(source.Height()), PixelFormat32bppARGB);
    if (!whole.HasContent()) return {whole.GetLastStatus(), whole.GetLastReason()};
    source.Render(whole, 0);
    return EncodeTiff(whole, metadata, file);
}

struct EncoderEntry {
    ImageCodecInfo info;
    const char* qtFormat; // Qt's writer, or
    Encode encode;        // our own
    EncodeBands bands;    // the same bytes from a picture given band by band, where there is one
    bool bandsWithoutMetadataOnly = false;
};

// Fixed class ids, one per encoder.
const std::vector<EncoderEntry>& AllEncoders() {
    static const std::vector<EncoderEntry> all = {
        {{{0x8f0c5e2a, 0x41d6, 0x4b77, {0x9a, 0x1e, 0x60, 0x2d, 0x17, 0xc3, 0x01, 0x01}},
          "image/bmp", "BMP", "*.BMP;*.DIB;*.RLE"}, "bmp", nullptr, EncodeBmpFile},
        {{{0x8f0c5e2a, 0x41d6, 0x4b77, {0x9a, 0x1e, 0x60, 0x2d, 0x17, 0xc3, 0x01, 0x02}},
          "image/jpeg", "JPEG", "*.JPG;*.JPEG;*.JPE;*.JFIF"}, "jpeg", nullptr, nullptr},
        {{{0x8f0c5e2a, 0x41d6, 0x4b77, {0x9a, 0x1e, 0x60, 0x2d, 0x17, 0xc3, 0x01, 0x03}},
          "image/gif", "GIF", "*.GIF"}, nullptr, EncodeGifFile, nullptr},
        {{{0x8f0c5e2a, 0x41d6, 0x4b77, {0x9a, 0x1e, 0x60, 0x2d, 0x17, 0xc3, 0x01, 0x04}},
          "image/tiff", "TIFF", "*.TIF;*.TIFF"}, nullptr, EncodeTiff, EncodeTiffFile, true},
        {{{0x8f0c5e2a, 0x41d6, 0x4b77, {0x9a, 0x1e, 0x60, 0x2d, 0x17, 0xc3, 0x01, 0x05}},
          "image/png", "PNG", "*.PNG"}, nullptr, EncodePng, EncodePngFile},
    };
    return all;
}

bool Available(const EncoderEntry& e) {
    return e.qtFormat == nullptr || QImageWriter::supportedImageFormats().contains(e.qtFormat);
}

// The image over white, in bands of rows on every core.
QImage ImageOverWhite(const QImage& image) {
    const QImage argb = ConvertedInBands(image, QImage::Format_ARGB32); // shares the pixels when it is already
    QImage out(argb.size(), QImage::Format_RGB32);
    if (argb.isNull() || out.isNull()) return {};
    const int width = argb.width();
    ParallelRows(argb.height(), [&](int32_t first, int32_t last) {
        for (int32_t y = first; y < last; ++y) {
            const QRgb* in = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
            QRgb* row = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < width; ++x) row[x] = imaging::OverWhite(in[x]);
        }
    });
    return out;
}

StatusRecord EncodeWithQt(const Image& source, const char* format, const SaveOptions& options,
                          const Metadata* metadata, OutputFile& file) {
    QImage image = HasTranslucentPixel(source) ? ImageOverWhite(AsQImage(source)) : AsQImage(source);
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

const EncoderEntry* FindEntry(const CLSID* encoder) {
    for (const EncoderEntry& e : AllEncoders())
        if (encoder && e.info.Clsid == *encoder && Available(e)) return &e;
    return nullptr;
}

// Opens the file, prepares the metadata for a picture of `width` x `height`, encodes with
// encode(metadata, file) and puts the file in place.
template <class EncodeInto>
StatusRecord SaveWith(const EncoderEntry& entry, const std::string& path, uint32_t width, uint32_t height,
                      const SaveOptions& options, EncodeInto encode) {
    // The file comes first: a folder that cannot be written is reported before the encode.
    OutputFile file;
    if (StatusRecord opened = file.Open(path); opened.code != Ok) return opened;
    // GIF and BMP hold none: nothing is prepared for them.
    const bool holdsMetadata = entry.info.MimeType != "image/gif" && entry.info.MimeType != "image/bmp";
    Metadata prepared;
    if (options.metadata && holdsMetadata) prepared = MetadataForOutput(*options.metadata, width, height);
    const Metadata* metadata = prepared.icc.empty() && !prepared.HasExifOrXmp() ? nullptr : &prepared;
    StatusRecord encoded;
    try {
        encoded = encode(metadata, file);
    } catch (const std::bad_alloc&) { // Qt's and the libraries' containers
        encoded = NotEnoughMemory("to encode the image", uint64_t(width) * height * 4);
    }
    if (encoded.code != Ok) return encoded;
    return file.Commit();
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
    const EncoderEntry* entry = FindEntry(encoder);
    if (entry == nullptr) return Fail(InvalidParameter, "no encoder for that file type is installed");
    const StatusRecord saved = SaveWith(*entry, path, m_width, m_height, options, [&](const Metadata* m, OutputFile& f) {
        return entry->encode ? entry->encode(*this, m, f) : EncodeWithQt(*this, entry->qtFormat, options, m, f);
    });
    return saved.code == Ok ? Ok : Fail(saved.code, saved.reason);
}

bool EncodesInBands(const CLSID& encoder, const SaveOptions& options) {
    const EncoderEntry* entry = FindEntry(&encoder);
    const bool metadata = options.metadata && (!options.metadata->icc.empty() || options.metadata->HasExifOrXmp());
    return entry && entry->bands && !(metadata && entry->bandsWithoutMetadataOnly);
}

StatusRecord SaveBands(RowSource& source, const std::string& path, const CLSID* encoder, const SaveOptions& options) {
    const EncoderEntry* entry = FindEntry(encoder);
    if (entry == nullptr) return {InvalidParameter, "no encoder for that file type is installed"};
    if (!entry->bands) return {NotImplemented, entry->info.FormatDescription + " is not written in bands"};
    const uint32_t width = source.Width(), height = source.Height();
    if (StatusRecord fits = CheckBitmapSize(int64_t(width), int64_t(height)); fits.code != Ok) return fits;
    return SaveWith(*entry, path, width, height, options,
                    [&](const Metadata* m, OutputFile& f) { return entry->bands(source, m, f); });
}

} // namespace imaging
