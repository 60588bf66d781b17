#include "Metadata.h"

// exiv2 0.27 hands images out as std::auto_ptr.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>

#include <algorithm>
#include <iterator>
#include <mutex>

namespace imaging {

namespace {

void SetUpOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::XmpParser::initialize();
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    });
}

Metadata FromImage(Exiv2::Image& image) {
    image.readMetadata();
    Metadata m;
    if (image.iccProfileDefined()) {
        const Exiv2::DataBuf* icc = image.iccProfile();
        m.icc.assign(icc->pData_, icc->pData_ + icc->size_);
    }
    Exiv2::ExifData& exif = image.exifData();
    if (!exif.empty()) {
        const auto o = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (o != exif.end() && o->count() > 0) {
            const long value = o->toLong();
            if (value >= 1 && value <= 8) m.orientation = int(value);
        }
        Exiv2::Blob blob;
        const Exiv2::ByteOrder order = image.byteOrder() == Exiv2::invalidByteOrder ? Exiv2::littleEndian : image.byteOrder();
        Exiv2::ExifParser::encode(blob, order, exif);
        m.exif.assign(blob.begin(), blob.end());
    }
    m.xmp = image.xmpPacket();
    return m;
}

template <class Open> Metadata Read(Open open) {
    SetUpOnce();
    try {
        auto image = open();
        if (image.get() == nullptr) return {};
        switch (image->imageType()) {
        case Exiv2::ImageType::jpeg:
        case Exiv2::ImageType::png:
        case Exiv2::ImageType::tiff:
        case Exiv2::ImageType::webp: return FromImage(*image);
        default: return {};
        }
    } catch (...) {
        return {}; // exiv2 throws for what it cannot parse; the picture opens without it
    }
}

// Tags of the first IFD that describe a file's own layout rather than the photo; carried
// into another file they would point into nothing.
bool IsLayoutTag(uint16_t tag) {
    static const uint16_t layout[] = {
        0x0100, 0x0101, 0x0102, 0x0103, 0x0106, 0x010A, 0x0111, 0x0115, 0x0116, 0x0117, 0x011C, 0x013D,
        0x0140, 0x0142, 0x0143, 0x0144, 0x0145, 0x014A, 0x0152, 0x0153, 0x015B, 0x0201, 0x0202, 0x02BC, 0x8773,
    };
    return std::find(std::begin(layout), std::end(layout), tag) != std::end(layout);
}

std::vector<uint8_t> ExifForOutput(const std::vector<uint8_t>& exif, uint32_t width, uint32_t height) {
    if (exif.empty()) return {};
    try {
        Exiv2::ExifData data;
        const Exiv2::ByteOrder order = Exiv2::ExifParser::decode(data, exif.data(), uint32_t(exif.size()));
        Exiv2::ExifThumb(data).erase();
        for (auto it = data.begin(); it != data.end();)
            it = it->groupName() == "Image" && IsLayoutTag(it->tag()) ? data.erase(it) : std::next(it);
        data["Exif.Image.Orientation"] = uint16_t(1);
        data["Exif.Photo.PixelXDimension"] = uint32_t(width);
        data["Exif.Photo.PixelYDimension"] = uint32_t(height);
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, order == Exiv2::invalidByteOrder ? Exiv2::littleEndian : order, data);
        return {blob.begin(), blob.end()};
    } catch (...) {
        return {};
    }
}

std::string XmpForOutput(const std::string& xmp, uint32_t width, uint32_t height) {
    if (xmp.empty()) return {};
    try {
        Exiv2::XmpData data;
        if (Exiv2::XmpParser::decode(data, xmp) != 0) return {};
        auto setIfPresent = [&](const char* key, uint32_t value) {
            if (data.findKey(Exiv2::XmpKey(key)) != data.end()) data[key] = std::to_string(value);
        };
        setIfPresent("Xmp.tiff.Orientation", 1);
        setIfPresent("Xmp.tiff.ImageWidth", width);
        setIfPresent("Xmp.tiff.ImageLength", height);
        setIfPresent("Xmp.exif.PixelXDimension", width);
        setIfPresent("Xmp.exif.PixelYDimension", height);
        std::string packet;
        if (Exiv2::XmpParser::encode(packet, data, Exiv2::XmpParser::useCompactFormat) != 0) return {};
        return packet;
    } catch (...) {
        return {};
    }
}

} // namespace

Metadata ReadMetadata(const uint8_t* file, size_t size) {
    return Read([&] { return Exiv2::ImageFactory::open(file, long(size)); });
}

Metadata ReadMetadata(const std::string& path) {
    return Read([&] { return Exiv2::ImageFactory::open(path, false); });
}

Metadata MetadataForOutput(const Metadata& m, uint32_t width, uint32_t height) {
    SetUpOnce();
    Metadata out;
    out.icc = m.icc;
    out.exif = ExifForOutput(m.exif, width, height);
    out.xmp = XmpForOutput(m.xmp, width, height);
    return out;
}

bool EmbedMetadata(std::vector<uint8_t>& bytes, const Metadata& metadata, std::string* why) {
    SetUpOnce();
    try {
        auto image = Exiv2::ImageFactory::open(bytes.data(), long(bytes.size()));
        image->readMetadata();
        if (!metadata.exif.empty()) {
            Exiv2::ExifData exif;
            Exiv2::ExifParser::decode(exif, metadata.exif.data(), uint32_t(metadata.exif.size()));
            // A TIFF's own layout tags stay the encoder's.
            for (const Exiv2::Exifdatum& d : image->exifData())
                if (d.groupName() == "Image" && IsLayoutTag(d.tag())) exif.add(d);
            image->setExifData(exif);
        }
        if (!metadata.xmp.empty()) {
            image->setXmpPacket(metadata.xmp);
            image->writeXmpFromPacket(true);
        }
        if (!metadata.icc.empty()) {
            Exiv2::DataBuf icc(metadata.icc.data(), long(metadata.icc.size()));
            image->setIccProfile(icc, false);
        }
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        io.seek(0, Exiv2::BasicIo::beg);
        const Exiv2::DataBuf written = io.read(long(io.size()));
        bytes.assign(written.pData_, written.pData_ + written.size_);
        return true;
    } catch (const std::exception& e) {
        if (why) *why = std::string("cannot write the metadata: ") + e.what();
        return false;
    }
}

} // namespace imaging

#pragma GCC diagnostic pop
