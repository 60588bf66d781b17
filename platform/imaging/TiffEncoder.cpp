#include "TiffEncoder.h"

#include "ParallelRows.h"
#include "QtBridge.h"
#include "RgbRows.h"

#include <libdeflate.h>
#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace imaging {

namespace {

// About this many bytes of pixels go into one strip.
constexpr size_t kStripBytes = size_t(256) << 10;

// The TIFF as it is put together: libtiff seeks back to finish its header, so it is assembled
// in memory (the compressed strips and the directory) and written out whole.
struct MemoryFile {
    std::vector<uint8_t> bytes;
    size_t at = 0;
    std::string error;
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
    if (f->at + size_t(size) > f->bytes.size()) f->bytes.resize(f->at + size_t(size));
    std::memcpy(f->bytes.data() + f->at, buffer, size_t(size));
    f->at += size_t(size);
    return size;
}

toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(h);
    const size_t base = whence == SEEK_CUR ? f->at : whence == SEEK_END ? f->bytes.size() : 0;
    f->at = base + size_t(offset);
    return toff_t(f->at);
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) { return toff_t(static_cast<MemoryFile*>(h)->bytes.size()); }
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

// Compresses strips [first, last): rows read as RGB(A), differenced from the pixel to their
// left (the horizontal predictor). False when memory ran out.
bool CompressStrips(const Image& image, int32_t stripRows, int spp, RgbRowReader read, int32_t first,
                    int32_t last, std::vector<Strip>& strips) {
    const int32_t width = int32_t(image.GetWidth()), height = int32_t(image.GetHeight());
    const size_t n = size_t(width) * size_t(spp);
    const size_t rawBytes = n * size_t(stripRows);
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(kLevel), libdeflate_free_compressor);
    std::unique_ptr<uint8_t[]> raw(new (std::nothrow) uint8_t[rawBytes + n]);
    if (!compressor || !raw) return false;
    uint8_t* rgb = raw.get() + rawBytes;
    const uint8_t* scan0 = ImageAccess::Scan0(image);
    const int32_t stride = ImageAccess::Stride(image);
    for (int32_t s = first; s < last; ++s) {
        const int32_t top = s * stripRows, bottom = std::min(height, top + stripRows);
        uint8_t* out = raw.get();
        for (int32_t y = top; y < bottom; ++y, out += n) {
            read(scan0 + int64_t(y) * stride, width, image.GetPalette(), rgb);
            for (int i = 0; i < spp; ++i) out[i] = rgb[i];
            for (size_t i = size_t(spp); i < n; ++i) out[i] = uint8_t(rgb[i] - rgb[i - spp]);
        }
        const size_t size = size_t(out - raw.get());
        const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), size);
        Strip& strip = strips[size_t(s)];
        strip.bytes.reset(new (std::nothrow) uint8_t[bound]);
        if (!strip.bytes) return false;
        strip.size = libdeflate_zlib_compress(compressor.get(), raw.get(), size, strip.bytes.get(), bound);
        if (strip.size == 0) return false;
    }
    return true;
}

} // namespace

StatusRecord EncodeTiff(const Image& image, const Metadata* metadata, OutputFile& out) {
    const bool alpha = HasTranslucentPixel(image);
    const int spp = alpha ? 4 : 3;
    const RgbRowReader read = RgbRowReaderFor(image.GetPixelFormat(), alpha);
    if (read == nullptr) return {InvalidParameter, "the image's pixel format cannot be saved"};
    const int32_t width = int32_t(image.GetWidth()), height = int32_t(image.GetHeight());
    const size_t rowBytes = size_t(width) * size_t(spp);
    const int32_t stripRows = int32_t(std::clamp<size_t>(kStripBytes / rowBytes, 1, size_t(height)));
    const int32_t strips = (height + stripRows - 1) / stripRows;

    std::vector<Strip> compressed(static_cast<size_t>(strips));
    std::atomic<bool> ok{true};
    ParallelRows(strips, [&](int32_t first, int32_t last) {
        if (!CompressStrips(image, stripRows, spp, read, first, last, compressed)) ok = false;
    });
    if (!ok) return NotEnoughMemory("to encode the image", rowBytes * size_t(height));

    MemoryFile file;
    size_t total = 0;
    for (const Strip& c : compressed) total += c.size;
    file.bytes.reserve(total + 4096);
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options, [](TIFF*, void*, const char*, const char*, va_list) { return 1; },
                                         nullptr);
    TIFF* tiff = TIFFClientOpenExt("image", "w", &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
                                   UnmapProc, options);
    TIFFOpenOptionsFree(options);
    if (tiff == nullptr) return {OutOfMemory, "TIFF encoder: " + file.error};
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, uint32_t(stripRows));
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 96.0);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 96.0);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (alpha) {
        const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    bool written = true;
    for (int32_t s = 0; s < strips && written; ++s) {
        Strip& strip = compressed[size_t(s)];
        written = TIFFWriteRawStrip(tiff, uint32_t(s), strip.bytes.get(), tmsize_t(strip.size)) >= 0;
        strip.bytes.reset();
    }
    written = written && TIFFWriteDirectory(tiff) == 1;
    TIFFClose(tiff);
    if (!written) return {GenericError, "TIFF encoder: " + (file.error.empty() ? "cannot write" : file.error)};
    if (std::string why; metadata && !EmbedMetadata(file.bytes, *metadata, &why)) return {GenericError, "TIFF encoder: " + why};
    return out.Write(file.bytes.data(), file.bytes.size());
}

} // namespace imaging
