#include "TiffFile.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace imaging {

namespace {

struct Reader {
    const uint8_t* bytes;
    size_t size, at = 0;
    bool failed = false; // libtiff reported an error
};

tmsize_t ReadProc(thandle_t h, void* buffer, tmsize_t n) {
    auto* r = static_cast<Reader*>(h);
    const size_t count = std::min(size_t(n), r->size - std::min(r->at, r->size));
    std::memcpy(buffer, r->bytes + std::min(r->at, r->size), count);
    r->at += count;
    return tmsize_t(count);
}
tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }
toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
    auto* r = static_cast<Reader*>(h);
    const size_t base = whence == SEEK_CUR ? r->at : whence == SEEK_END ? r->size : 0;
    r->at = base + size_t(offset);
    return toff_t(r->at);
}
int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) { return toff_t(static_cast<Reader*>(h)->size); }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}
int OnError(TIFF*, void* user, const char*, const char*, va_list) {
    static_cast<Reader*>(user)->failed = true;
    return 1; // handled: libtiff prints nothing
}
int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// libtiff over the bytes, its messages kept from the terminal; closed with the handle.
struct Tiff {
    explicit Tiff(Reader& r) {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, &r);
        TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, &r);
        tif = TIFFClientOpenExt("image", "rm", &r, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                                MapProc, UnmapProc, options);
        TIFFOpenOptionsFree(options);
    }
    ~Tiff() {
        if (tif) TIFFClose(tif);
    }
    TIFF* tif;
};

// The directory's own bytes: byte order and sizes as the header gives them.
struct Layout {
    bool big, bigTiff;
    uint64_t Read(const uint8_t* p, int n) const {
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v |= uint64_t(p[big ? i : n - 1 - i]) << (8 * (n - 1 - i));
        return v;
    }
};

// Bytes per value of each field type; 0 for types libtiff does not know, which it skips.
int TypeSize(uint64_t type) {
    switch (type) {
    case 1:
    case 2:
    case 6:
    case 7: return 1;
    case 3:
    case 8: return 2;
    case 4:
    case 9:
    case 11:
    case 13: return 4;
    case 5:
    case 10:
    case 12:
    case 16:
    case 17:
    case 18: return 8;
    default: return 0;
    }
}

// Whether the first directory and every value it stores outside itself lie within the file.
bool DirectoryIsWhole(const uint8_t* b, size_t size) {
    if (size < 8) return false;
    Layout l{b[0] == 'M', false};
    if (!((b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M'))) return false;
    const uint64_t version = l.Read(b + 2, 2);
    l.bigTiff = version == 43;
    if (version != 42 && !l.bigTiff) return false;
    if (l.bigTiff && size < 16) return false;
    const int countBytes = l.bigTiff ? 8 : 2, entryBytes = l.bigTiff ? 20 : 12,
              inlineBytes = l.bigTiff ? 8 : 4;
    const uint64_t at = l.bigTiff ? l.Read(b + 8, 8) : l.Read(b + 4, 4);
    if (at > size || size - at < uint64_t(countBytes)) return false;
    const uint64_t entries = l.Read(b + at, countBytes);
    const uint64_t end =
        at + countBytes + entries * uint64_t(entryBytes) + inlineBytes; // the next directory's offset
    if (entries > size || end > size) return false;
    for (uint64_t i = 0; i < entries; ++i) {
        const uint8_t* e = b + at + countBytes + i * entryBytes;
        const uint64_t count = l.Read(e + 4, l.bigTiff ? 8 : 4);
        const int typeSize = TypeSize(l.Read(e + 2, 2));
        if (typeSize == 0 || count <= uint64_t(inlineBytes / typeSize)) continue;
        const uint64_t offset = l.Read(e + 4 + (l.bigTiff ? 8 : 4), inlineBytes);
        if (count > size / uint64_t(typeSize) || offset > size || size - offset < count * uint64_t(typeSize))
            return false;
    }
    const uint64_t next = l.Read(b + end - inlineBytes, inlineBytes);
    return next < size;
}

// 16-bit grey strips read row by row into `image`, each value rounded to 8 bits.
QImage Grey16(TIFF* tif, QImage image, uint16_t photometric) {
    std::vector<uint16_t> row(size_t(TIFFScanlineSize64(tif) / 2 + 1));
    for (int y = 0; y < image.height(); ++y) {
        if (TIFFReadScanline(tif, row.data(), uint32_t(y)) != 1) return {};
        auto* out = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            uint32_t v = (uint32_t(row[size_t(x)]) * 255 + 32767) / 65535;
            if (photometric == PHOTOMETRIC_MINISWHITE) v = 255 - v;
            out[x] = 0xFF000000u | v * 0x010101u;
        }
    }
    return image;
}

// A colour map of 16-bit entries rounded to 8 bits in place: libtiff keeps the high byte,
// which of c * 257 is c.
void RoundColourMap(TIFF* tif, uint16_t bits) {
    uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b)) return;
    const size_t n = size_t(1) << bits;
    std::vector<uint16_t> map[3];
    const uint16_t* in[3] = {r, g, b};
    for (int c = 0; c < 3; ++c)
        for (size_t i = 0; i < n; ++i)
            map[c].push_back(uint16_t((uint32_t(in[c][i]) * 255 + 32767) / 65535 * 257));
    TIFFSetField(tif, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
}

} // namespace

std::optional<StatedSize> ReadTiffSize(const uint8_t* bytes, size_t size) {
    if (!DirectoryIsWhole(bytes, size)) return std::nullopt;
    Reader r{bytes, size};
    Tiff t(r);
    uint32_t w = 0, h = 0;
    if (!t.tif || r.failed || !TIFFGetField(t.tif, TIFFTAG_IMAGEWIDTH, &w) ||
        !TIFFGetField(t.tif, TIFFTAG_IMAGELENGTH, &h) || w == 0 || h == 0)
        return std::nullopt;
    // The strips or tiles (libtiff keeps both in the same fields).
    const bool tiled = TIFFIsTiled(t.tif);
    // libtiff decodes a strip or tile whole, into room for all of it: one far larger than the
    // picture (a tile's size is not bound to the image's) is no picture's.
    const uint64_t piece = tiled ? TIFFTileSize64(t.tif) : TIFFStripSize64(t.tif);
    if (piece == 0 || piece > std::max<uint64_t>(uint64_t(w) * h * 8, uint64_t(64) << 20)) return std::nullopt;
    const uint32_t pieces = tiled ? TIFFNumberOfTiles(t.tif) : TIFFNumberOfStrips(t.tif);
    for (uint32_t i = 0; i < pieces; ++i) {
        int error = 0;
        const uint64_t offset = TIFFGetStrileOffsetWithErr(t.tif, i, &error);
        const uint64_t count = TIFFGetStrileByteCountWithErr(t.tif, i, &error);
        if (error || offset > size || size - offset < count) return std::nullopt;
    }
    return StatedSize{w, h};
}

QImage DecodeTiff(const uint8_t* bytes, size_t size, bool* noMemory) {
    *noMemory = false;
    Reader r{bytes, size};
    Tiff t(r);
    if (!t.tif || r.failed) return {};
    uint32_t w = 0, h = 0;
    TIFFGetField(t.tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t.tif, TIFFTAG_IMAGELENGTH, &h);
    uint16_t extras = 0, *kinds = nullptr, orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(t.tif, TIFFTAG_EXTRASAMPLES, &extras, &kinds);
    TIFFGetFieldDefaulted(t.tif, TIFFTAG_ORIENTATION, &orientation);
    const bool alpha =
        extras > 0 && kinds && (kinds[0] == EXTRASAMPLE_ASSOCALPHA || kinds[0] == EXTRASAMPLE_UNASSALPHA);
    // libtiff's RGBA reading premultiplies unassociated alpha; told that it is associated, it
    // passes the stored values through.
    if (alpha && kinds[0] == EXTRASAMPLE_UNASSALPHA) {
        std::vector<uint16_t> associated(kinds, kinds + extras);
        associated[0] = EXTRASAMPLE_ASSOCALPHA;
        TIFFSetField(t.tif, TIFFTAG_EXTRASAMPLES, extras, associated.data());
    }
    QImage image(int(w), int(h), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) {
        *noMemory = true;
        return {};
    }
    uint16_t photometric = 0, bits = 0, samples = 0;
    TIFFGetFieldDefaulted(t.tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(t.tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t.tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    // libtiff takes the high byte of 16-bit grey and of 16-bit colour map entries; these are
    // rounded to the nearest 8-bit value instead, as 16-bit colour is.
    if (grey && bits == 16 && samples == 1 && !TIFFIsTiled(t.tif)) {
        image = Grey16(t.tif, std::move(image), photometric);
    } else {
        if (photometric == PHOTOMETRIC_PALETTE && bits <= 8) RoundColourMap(t.tif, bits);
        auto* raster = reinterpret_cast<uint32_t*>(image.bits());
        // Rows as stored: asked for the file's own orientation, libtiff flips nothing.
        if (image.bytesPerLine() != qsizetype(w) * 4 ||
            !TIFFReadRGBAImageOriented(t.tif, w, h, raster, orientation, 1) || r.failed)
            return {};
        // libtiff's pixels hold R in the low byte; Qt's hold B there.
        for (size_t i = 0, n = size_t(w) * h; i < n; ++i) {
            const uint32_t p = raster[i];
            raster[i] = (p & 0xFF00FF00u) | (p & 0xFFu) << 16 | (p >> 16 & 0xFFu);
        }
    }
    if (image.isNull() || alpha) return image;
    // Grey, bilevel and colour-mapped pictures in the formats Qt's reader gives them, which
    // open as indexed bitmaps; their colours are exactly those of the picture.
    if (grey && samples == 1 && bits == 1)
        return image.convertToFormat(QImage::Format_Mono, {0xFF000000u, 0xFFFFFFFFu}, Qt::ThresholdDither);
    if (grey && samples == 1) return image.convertToFormat(QImage::Format_Grayscale8);
    if (photometric == PHOTOMETRIC_PALETTE && bits <= 8) {
        uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(t.tif, TIFFTAG_COLORMAP, &red, &green, &blue)) return image;
        QList<QRgb> table;
        for (size_t i = 0; i < size_t(1) << bits; ++i)
            table.push_back(qRgb(red[i] >> 8, green[i] >> 8, blue[i] >> 8));
        return image.convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither);
    }
    return image;
}

} // namespace imaging
