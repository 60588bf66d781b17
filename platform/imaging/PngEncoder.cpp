#include "PngEncoder.h"

#include "Deflate.h"
#include "ParallelRows.h"
#include "QtBridge.h"
#include "RgbRows.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace imaging {

namespace {

// About this many filtered bytes go into one band. Each band starts with an empty history,
// which costs a little size; smaller bands share the work more evenly.
constexpr size_t kBandBytes = size_t(1) << 20;

enum Filter : uint8_t { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };

// libpng's choice: the filter whose output, read as signed bytes, has the least sum of
// magnitudes. Each filter is one loop over the row that the compiler vectorises.
inline uint32_t Magnitude(uint8_t v) { return v < 128 ? v : 256u - v; }

uint32_t SumOf(const uint8_t* bytes, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += Magnitude(bytes[i]);
    return sum;
}

// Paeth's predictor written with selects only.
inline uint8_t PaethPredictor(int16_t a, int16_t b, int16_t c) {
    const int16_t p = int16_t(b - c), q = int16_t(a - c);
    const int16_t pa = int16_t(p < 0 ? -p : p), pb = int16_t(q < 0 ? -q : q);
    const int16_t r = int16_t(p + q), pc = int16_t(r < 0 ? -r : r);
    const int16_t bc = pb <= pc ? b : c;
    return uint8_t(pa <= pb && pa <= pc ? a : bc);
}

// Filters one row `cur` (above it `prev`, zeros for the first row) into out[0] = filter type,
// out[1..n] = filtered bytes. `scratch` holds 4 * n bytes.
void FilterRow(const uint8_t* __restrict cur, const uint8_t* __restrict prev, size_t n, int bpp,
               uint8_t* __restrict scratch, uint8_t* __restrict out) {
    uint8_t* __restrict sub = scratch;
    uint8_t* __restrict up = scratch + n;
    uint8_t* __restrict avg = scratch + 2 * n;
    uint8_t* __restrict paeth = scratch + 3 * n;
    const size_t b = size_t(bpp);
    for (size_t i = 0; i < b; ++i) {
        sub[i] = cur[i];
        avg[i] = uint8_t(cur[i] - (prev[i] >> 1));
        paeth[i] = uint8_t(cur[i] - prev[i]);
    }
    for (size_t i = 0; i < n; ++i) up[i] = uint8_t(cur[i] - prev[i]);
    for (size_t i = b; i < n; ++i) sub[i] = uint8_t(cur[i] - cur[i - b]);
    for (size_t i = b; i < n; ++i) avg[i] = uint8_t(cur[i] - ((cur[i - b] + prev[i]) >> 1));
    for (size_t i = b; i < n; ++i) paeth[i] = uint8_t(cur[i] - PaethPredictor(cur[i - b], prev[i], prev[i - b]));
    const uint8_t* candidates[5] = {cur, sub, up, avg, paeth};
    int best = 0;
    uint32_t bestSum = SumOf(cur, n);
    for (int f = Sub; f <= Paeth; ++f) {
        const uint32_t sum = SumOf(candidates[f], n);
        if (sum < bestSum) best = f, bestSum = sum;
    }
    out[0] = uint8_t(best);
    std::memcpy(out + 1, candidates[best], n);
}

// One band's share of the zlib stream: raw deflate data ending on a byte boundary (or the
// stream's end, for the last band), and the Adler-32 of its uncompressed bytes.
struct Piece {
    Compressed data;
    uLong adler = 1;
    size_t rawSize = 0;
};

struct Layout {
    const uint8_t* scan0;
    int32_t stride;
    int32_t width, height;
    int bpp;
    size_t rowBytes; // filtered row without its filter byte
    int32_t bandRows;
    RgbRowReader read;
    const uint32_t* palette;
};

void CompressBand(const Layout& l, int32_t band, int32_t bands, Piece& piece) {
    const int32_t first = band * l.bandRows, last = std::min(l.height, first + l.bandRows);
    const size_t n = l.rowBytes;
    std::unique_ptr<uint8_t[]> buffers(new (std::nothrow) uint8_t[7 * n + 1]);
    if (!buffers) return;
    uint8_t* prev = buffers.get();
    uint8_t* cur = prev + n;
    uint8_t* scratch = cur + n;
    uint8_t* line = scratch + 4 * n;
    if (first == 0) std::memset(prev, 0, n);
    else l.read(l.scan0 + int64_t(first - 1) * l.stride, l.width, l.palette, prev);

    piece.rawSize = size_t(last - first) * (n + 1);
    DeflateStream deflater(piece.rawSize, false);
    for (int32_t y = first; y < last; ++y) {
        l.read(l.scan0 + int64_t(y) * l.stride, l.width, l.palette, cur);
        FilterRow(cur, prev, n, l.bpp, scratch, line);
        piece.adler = adler32_z(piece.adler, line, n + 1);
        const int flush = y + 1 < last ? Z_NO_FLUSH : band + 1 < bands ? Z_SYNC_FLUSH : Z_FINISH;
        if (!deflater.Add(line, n + 1, flush)) break;
        std::swap(prev, cur);
    }
    piece.data = deflater.Take();
}

// libpng reports write failures by jumping back; the reason is kept here.
struct Sink {
    OutputFile* file;
    StatusRecord failed;
};

void WriteToSink(png_structp png, png_bytep data, png_size_t size) {
    auto* sink = static_cast<Sink*>(png_get_io_ptr(png));
    if (StatusRecord s = sink->file->Write(data, size); s.code != Ok) {
        sink->failed = std::move(s);
        png_error(png, "write failed");
    }
}

void Flush(png_structp) {}

void OnError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<Sink*>(png_get_error_ptr(png));
    if (sink->failed.code == Ok) sink->failed = {GenericError, std::string("PNG encoder: ") + message};
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// The profile, EXIF and XMP go before the image data, where readers look for them.
void WriteMetadata(png_structp png, png_infop info, const Metadata& m) {
    if (!m.icc.empty())
        png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, m.icc.data(), png_uint_32(m.icc.size()));
    if (!m.exif.empty()) png_set_eXIf_1(png, info, png_uint_32(m.exif.size()), const_cast<png_bytep>(m.exif.data()));
    if (!m.xmp.empty()) {
        png_text xmp{};
        xmp.compression = PNG_ITXT_COMPRESSION_NONE;
        xmp.key = const_cast<png_charp>("XML:com.adobe.xmp");
        xmp.text = const_cast<png_charp>(m.xmp.c_str());
        xmp.itxt_length = m.xmp.size();
        xmp.lang = const_cast<png_charp>("");
        xmp.lang_key = const_cast<png_charp>("");
        png_set_text(png, info, &xmp, 1);
    }
}

// The signature, header and resolution through libpng, then the pieces as IDAT chunks around
// the zlib header and the combined Adler-32.
StatusRecord WriteContainer(const Layout& l, const std::vector<Piece>& pieces, const Metadata* metadata, OutputFile& out) {
    Sink sink{&out, {}};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, OnError, OnWarning);
    if (png == nullptr) return NotEnoughMemory("to encode the image", l.rowBytes * size_t(l.height));
    png_infop info = png_create_info_struct(png);
    uLong adler = pieces[0].adler;
    for (size_t i = 1; i < pieces.size(); ++i) adler = adler32_combine(adler, pieces[i].adler, z_off_t(pieces[i].rawSize));
    // A 32 KiB window, the fastest level's flags, and the header's check bits.
    const uint8_t zlibHeader[2] = {0x78, 0x01};
    const uint8_t zlibTrailer[4] = {uint8_t(adler >> 24), uint8_t(adler >> 16), uint8_t(adler >> 8), uint8_t(adler)};
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_set_write_fn(png, &sink, WriteToSink, Flush);
        png_set_benign_errors(png, 1); // a profile libpng finds unfit for the image is left out
        png_set_IHDR(png, info, png_uint_32(l.width), png_uint_32(l.height), 8,
                     l.bpp == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        constexpr png_uint_32 kDotsPerMeter96Dpi = 3780;
        png_set_pHYs(png, info, kDotsPerMeter96Dpi, kDotsPerMeter96Dpi, PNG_RESOLUTION_METER);
        if (metadata) WriteMetadata(png, info, *metadata);
        png_write_info(png, info);
        static const png_byte kIdat[5] = "IDAT";
        for (size_t i = 0; i < pieces.size(); ++i) {
            const bool first = i == 0, last = i + 1 == pieces.size();
            png_write_chunk_start(png, kIdat, png_uint_32(pieces[i].data.size + (first ? 2 : 0) + (last ? 4 : 0)));
            if (first) png_write_chunk_data(png, zlibHeader, 2);
            png_write_chunk_data(png, pieces[i].data.bytes.get(), pieces[i].data.size);
            if (last) png_write_chunk_data(png, zlibTrailer, 4);
            png_write_chunk_end(png);
        }
        static const png_byte kIend[5] = "IEND";
        png_write_chunk(png, kIend, nullptr, 0);
    } else if (sink.failed.code == Ok) {
        sink.failed = NotEnoughMemory("to encode the image", l.rowBytes * size_t(l.height));
    }
    png_destroy_write_struct(&png, &info);
    return sink.failed;
}

} // namespace

StatusRecord EncodePng(const Image& image, const Metadata* metadata, OutputFile& out) {
    const bool alpha = HasTranslucentPixel(image);
    Layout l{ImageAccess::Scan0(image), ImageAccess::Stride(image), int32_t(image.GetWidth()),
             int32_t(image.GetHeight()), alpha ? 4 : 3, 0, 0,
             RgbRowReaderFor(image.GetPixelFormat(), alpha), image.GetPalette()};
    if (l.read == nullptr) return {InvalidParameter, "the image's pixel format cannot be saved"};
    l.rowBytes = size_t(l.width) * size_t(l.bpp);
    l.bandRows = int32_t(std::clamp<size_t>(kBandBytes / (l.rowBytes + 1), 1, size_t(l.height)));
    const int32_t bands = (l.height + l.bandRows - 1) / l.bandRows;
    // Each band needs the rows' bytes for its own input only; pieces are kept until written
    // in order.
    std::vector<Piece> pieces(static_cast<size_t>(bands));
    ParallelRows(bands, [&](int32_t first, int32_t last) {
        for (int32_t b = first; b < last; ++b) CompressBand(l, b, bands, pieces[size_t(b)]);
    });
    for (const Piece& p : pieces)
        if (!p.data.ok) return NotEnoughMemory("to encode the image", l.rowBytes * size_t(l.height));
    return WriteContainer(l, pieces, metadata, out);
}

} // namespace imaging
