#include "TiffEncoder.h"

#include "ParallelRows.h"
#include "QtBridge.h"
#include "RgbRows.h"
#include "RowSource.h"

#include <libdeflate.h>
#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace imaging {

namespace {

// About this many bytes of pixels go into one strip.
constexpr size_t kStripBytes = size_t(256) << 10;

// The TIFF as it is put together. libtiff seeks back to finish its header: a file that exiv2
// then adds metadata to, or whose target cannot be written at an offset, is assembled in
// memory (the compressed strips and the directory) and written out whole; otherwise the bytes
// go to the file as they come (`out`), and the header is finished in place.
struct MemoryFile {
    std::vector<uint8_t> bytes;
    size_t at = 0;
    std::string error;
    OutputFile* out = nullptr; // writing through
    size_t size = 0;           // of what went through
    StatusRecord failed;
};

tmsize_t ReadProc(thandle_t h, void* buffer, tmsize_t size) {
    auto* f = static_cast<MemoryFile*>(h);
    const size_t n = std::min(size_t(size), f->bytes.size() - std::min(f->at, f->bytes.size()));
    std::memcpy(buffer, f->bytes.data() + f->at, n);
    f->at += n;
    return tmsize_t(n);
}

tmsize_t WriteProc(thandle_t h, void* buffer, tmsize_t size) {
    auto* f = static_cast<MemoryFile*>(h);
    if (f->out) {
        const auto* data = static_cast<const uint8_t*>(buffer);
        StatusRecord s = f->out->WriteAt(f->at, data, size_t(size)); // libtiff seeks back, and beyond the end
        if (s.code != Ok) {
            if (f->failed.code == Ok) f->failed = std::move(s);
            return -1;
        }
        f->at += size_t(size);
        f->size = std::max(f->size, f->at);
        return size;
    }
    if (f->at + size_t(size) > f->bytes.size()) f->bytes.resize(f->at + size_t(size));
    std::memcpy(f->bytes.data() + f->at, buffer, size_t(size));
    f->at += size_t(size);
    return size;
}

toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(h);
    const size_t end = f->out ? f->size : f->bytes.size();
    const size_t base = whence == SEEK_CUR ? f->at : whence == SEEK_END ? end : 0;
    f->at = base + size_t(offset);
    return toff_t(f->at);
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) {
    auto* f = static_cast<MemoryFile*>(h);
    return toff_t(f->out ? f->size : f->bytes.size());
}
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* f = static_cast<MemoryFile*>(user);
    char text[256];
    std::vsnprintf(text, sizeof text, format, args);
    if (f->error.empty()) f->error = text;
    return 1; // handled: libtiff prints nothing
}

// A strip compressed as a zlib stream of its own.
struct Strip {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
};

// libdeflate's fastest level: on predicted photo rows it is both faster and smaller than
// zlib's.
constexpr int kLevel = 1;

// How the picture is cut into strips.
struct Layout {
    int32_t width, height;
    int spp;
    int32_t stripRows, strips;
};

Layout MakeLayout(int32_t width, int32_t height, bool alpha) {
    Layout l{width, height, alpha ? 4 : 3, 0, 0};
    const size_t rowBytes = size_t(width) * size_t(l.spp);
    l.stripRows = int32_t(std::clamp<size_t>(kStripBytes / rowBytes, 1, size_t(height)));
    l.strips = (height + l.stripRows - 1) / l.stripRows;
    return l;
}

// The picture's rows in memory from `firstRow` on, and how they are read.
struct HeldRows {
    const uint8_t* scan0;
    int64_t stride;
    int32_t firstRow;
    RgbRowReader read;
    const uint32_t* palette;
};

// Compresses strips [first, last) into strips[s - first]: rows read as RGB(A), differenced
// from the pixel to their left (the horizontal predictor). False when memory ran out.
bool CompressStrips(const Layout& l, const HeldRows& rows, int32_t first, int32_t last, Strip* strips) {
    const size_t n = size_t(l.width) * size_t(l.spp);
    const size_t rawBytes = n * size_t(l.stripRows);
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(kLevel), libdeflate_free_compressor);
    std::unique_ptr<uint8_t[]> raw(new (std::nothrow) uint8_t[rawBytes + n]);
    if (!compressor || !raw) return false;
    uint8_t* rgb = raw.get() + rawBytes;
    for (int32_t s = first; s < last; ++s) {
        const int32_t top = s * l.stripRows, bottom = std::min(l.height, top + l.stripRows);
        uint8_t* out = raw.get();
        for (int32_t y = top; y < bottom; ++y, out += n) {
            rows.read(rows.scan0 + int64_t(y - rows.firstRow) * rows.stride, l.width, rows.palette, rgb);
            for (int i = 0; i < l.spp; ++i) out[i] = rgb[i];
            for (size_t i = size_t(l.spp); i < n; ++i) out[i] = uint8_t(rgb[i] - rgb[i - l.spp]);
        }
        const size_t size = size_t(out - raw.get());
        const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), size);
        Strip& strip = strips[s - first];
        strip.bytes.reset(new (std::nothrow) uint8_t[bound]);
        if (!strip.bytes) return false;
        strip.size = libdeflate_zlib_compress(compressor.get(), raw.get(), size, strip.bytes.get(), bound);
        if (strip.size == 0) return false;
    }
    return true;
}

// Strips [first, last) compressed on every core into `strips`.
bool CompressOnEveryCore(const Layout& l, const HeldRows& rows, int32_t first, int32_t last, std::vector<Strip>& strips) {
    strips.clear();
    strips.resize(size_t(last - first));
    std::atomic<bool> ok{true};
    ParallelRows(last - first, [&](int32_t a, int32_t b) {
        if (!CompressStrips(l, rows, first + a, first + b, strips.data() + a)) ok = false;
    });
    return ok;
}

// libtiff writing into `file`: the header and tags, then strips as they come, then the
// directory.
class Writer {
public:
    Writer(const Layout& l, MemoryFile& file) : m_file(file) {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, &file);
        TIFFOpenOptionsSetWarningHandlerExtR(
            options, [](TIFF*, void*, const char*, const char*, va_list) { return 1; }, nullptr);
        m_tiff = TIFFClientOpenExt("image", "w", &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
                                   UnmapProc, options);
        TIFFOpenOptionsFree(options);
        if (m_tiff == nullptr) return;
        TIFFSetField(m_tiff, TIFFTAG_IMAGEWIDTH, uint32_t(l.width));
        TIFFSetField(m_tiff, TIFFTAG_IMAGELENGTH, uint32_t(l.height));
        TIFFSetField(m_tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(m_tiff, TIFFTAG_SAMPLESPERPIXEL, l.spp);
        TIFFSetField(m_tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(m_tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(m_tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(m_tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        TIFFSetField(m_tiff, TIFFTAG_ROWSPERSTRIP, uint32_t(l.stripRows));
        TIFFSetField(m_tiff, TIFFTAG_XRESOLUTION, 96.0);
        TIFFSetField(m_tiff, TIFFTAG_YRESOLUTION, 96.0);
        TIFFSetField(m_tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        if (l.spp == 4) {
            const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
            TIFFSetField(m_tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
    }
    ~Writer() {
        if (m_tiff) TIFFClose(m_tiff);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Writes strip number `index` and lets its bytes go.
    bool Add(int32_t index, Strip& strip) {
        m_ok = m_ok && m_tiff && TIFFWriteRawStrip(m_tiff, uint32_t(index), strip.bytes.get(), tmsize_t(strip.size)) >= 0;
        strip.bytes.reset();
        return m_ok;
    }

    // The directory, and the header finished; the reason on failure.
    StatusRecord Finish() {
        if (m_tiff == nullptr && m_ok) return {OutOfMemory, "TIFF encoder: " + m_file.error}; // could not start
        m_ok = m_ok && m_tiff && TIFFWriteDirectory(m_tiff) == 1;
        if (m_tiff) TIFFClose(m_tiff);
        m_tiff = nullptr;
        if (m_file.failed.code != Ok) return m_file.failed;
        if (!m_ok) return {GenericError, "TIFF encoder: " + (m_file.error.empty() ? "cannot write" : m_file.error)};
        return {};
    }

private:
    MemoryFile& m_file;
    TIFF* m_tiff = nullptr;
    bool m_ok = true;
};

// At most about this many bytes of a banded picture's pixels are held at a time.
constexpr size_t kHeldBytes = size_t(16) << 20;

} // namespace

StatusRecord EncodeTiff(const Image& image, const Metadata* metadata, OutputFile& out) {
    const Layout l = MakeLayout(int32_t(image.GetWidth()), int32_t(image.GetHeight()), HasTranslucentPixel(image));
    const RgbRowReader read = RgbRowReaderFor(image.GetPixelFormat(), l.spp == 4);
    if (read == nullptr) return {InvalidParameter, "the image's pixel format cannot be saved"};
    const size_t rawBytes = size_t(l.width) * size_t(l.spp) * size_t(l.height);
    std::vector<Strip> compressed;
    if (!CompressOnEveryCore(l, {ImageAccess::Scan0(image), ImageAccess::Stride(image), 0, read, image.GetPalette()}, 0,
                             l.strips, compressed))
        return NotEnoughMemory("to encode the image", rawBytes);

    MemoryFile file;
    if (!metadata && out.Seekable()) {
        file.out = &out;
    } else {
        size_t total = 0;
        for (const Strip& c : compressed) total += c.size;
        file.bytes.reserve(total + 4096);
    }
    Writer writer(l, file);
    for (int32_t s = 0; s < l.strips; ++s)
        if (!writer.Add(s, compressed[size_t(s)])) break;
    if (StatusRecord s = writer.Finish(); s.code != Ok) return s;
    if (file.out) return {};
    if (std::string why; metadata && !EmbedMetadata(file.bytes, *metadata, &why)) return {GenericError, "TIFF encoder: " + why};
    return out.Write(file.bytes.data(), file.bytes.size());
}

StatusRecord EncodeTiff(RowSource& source, OutputFile& out) {
    const int32_t width = int32_t(source.Width()), height = int32_t(source.Height());
    const size_t pixelRow = size_t(width) * 4;
    const int32_t heldRows = int32_t(std::clamp<size_t>(kHeldBytes / pixelRow, 1, size_t(height)));
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[pixelRow * size_t(heldRows)]);
    if (!buffer) return NotEnoughMemory("to encode the image", pixelRow * size_t(heldRows));
    bool alpha = HasTranslucentPixel(source, buffer.get(), heldRows, kRowsLookedAtFirst);
    // Written without alpha until a band says otherwise, then again with it.
    for (bool again = true; again;) {
        again = false;
        const Layout l = MakeLayout(width, height, alpha);
        HeldRows held{buffer.get(), int64_t(pixelRow), 0, RgbRowReaderFor(PixelFormat32bppARGB, alpha), nullptr};
        // Whole strips at a time, the same strips as the picture held whole.
        const int32_t stripsHeld = std::max(1, heldRows / l.stripRows);
        StatusRecord s;
        {
            MemoryFile file;
            file.out = &out;
            Writer writer(l, file);
            std::vector<Strip> compressed;
            bool written = true;
            for (int32_t first = 0; first < l.strips && written && !again; first += stripsHeld) {
                const int32_t last = std::min(l.strips, first + stripsHeld);
                const int32_t top = first * l.stripRows, count = std::min(height, last * l.stripRows) - top;
                Bitmap band(width, count, int32_t(pixelRow), PixelFormat32bppARGB, buffer.get());
                source.Render(band, uint32_t(top));
                if (!alpha && top + count > kRowsLookedAtFirst && HasTranslucentPixel(band)) {
                    alpha = again = true;
                    break;
                }
                held.firstRow = top;
                if (!CompressOnEveryCore(l, held, first, last, compressed))
                    return NotEnoughMemory("to encode the image", pixelRow * size_t(heldRows));
                for (int32_t s = first; s < last && written; ++s) written = writer.Add(s, compressed[size_t(s - first)]);
            }
            if (!again) return writer.Finish();
        } // libtiff lets go of the file before it is written again
        if (s = out.Rewind(); s.code != Ok) return s;
    }
    return {};
}

} // namespace imaging
