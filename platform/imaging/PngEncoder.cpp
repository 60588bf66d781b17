#include "PngEncoder.h"

#include "Deflate.h"
#include "ParallelRows.h"
#include "QtBridge.h"
#include "RgbRows.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
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

// How the picture is cut into bands, and how its rows are read.
struct Layout {
    int32_t width, height;
    int bpp;
    size_t rowBytes; // filtered row without its filter byte
    int32_t bandRows, bands;
    RgbRowReader read;
    const uint32_t* palette;
};

Layout MakeLayout(int32_t width, int32_t height, bool alpha, PixelFormat format, const uint32_t* palette) {
    Layout l{width, height, alpha ? 4 : 3, 0, 0, 0, RgbRowReaderFor(format, alpha), palette};
    l.rowBytes = size_t(width) * size_t(l.bpp);
    l.bandRows = int32_t(std::clamp<size_t>(kBandBytes / (l.rowBytes + 1), 1, size_t(height)));
    l.bands = (height + l.bandRows - 1) / l.bandRows;
    return l;
}

// The picture's rows in memory from `firstRow` on, and the row above them.
struct HeldRows {
    const uint8_t* scan0;
    int64_t stride;
    int32_t firstRow;
    const uint8_t* above; // row firstRow - 1, when firstRow > 0
    const uint8_t* Row(int32_t y) const { return y < firstRow ? above : scan0 + int64_t(y - firstRow) * stride; }
};

void CompressBand(const Layout& l, const HeldRows& rows, int32_t band, Piece& piece) {
    const int32_t first = band * l.bandRows, last = std::min(l.height, first + l.bandRows);
    const size_t n = l.rowBytes;
    std::unique_ptr<uint8_t[]> buffers(new (std::nothrow) uint8_t[7 * n + 1]);
    if (!buffers) return;
    uint8_t* prev = buffers.get();
    uint8_t* cur = prev + n;
    uint8_t* scratch = cur + n;
    uint8_t* line = scratch + 4 * n;
    if (first == 0) std::memset(prev, 0, n);
    else l.read(rows.Row(first - 1), l.width, l.palette, prev);

    piece.rawSize = size_t(last - first) * (n + 1);
    BandDeflater deflater(piece.rawSize);
    for (int32_t y = first; y < last; ++y) {
        l.read(rows.Row(y), l.width, l.palette, cur);
        FilterRow(cur, prev, n, l.bpp, scratch, line);
        piece.adler = adler32_z(piece.adler, line, n + 1);
        if (!deflater.Add(line, n + 1)) return;
        std::swap(prev, cur);
    }
    piece.data = deflater.Finish(band + 1 == l.bands);
}

// Compresses bands [first, last) on every core.
bool CompressBands(const Layout& l, const HeldRows& rows, int32_t first, int32_t last, std::vector<Piece>& pieces) {
    pieces.clear();
    pieces.resize(size_t(last - first));
    ParallelRows(last - first, [&](int32_t a, int32_t b) {
        for (int32_t i = a; i < b; ++i) CompressBand(l, rows, first + i, pieces[size_t(i)]);
    });
    return std::all_of(pieces.begin(), pieces.end(), [](const Piece& p) { return p.data.ok; });
}

// libpng reports failures by jumping back; the reason is kept here.
struct Header {
    std::vector<uint8_t> bytes;
    std::string failed;
};

void WriteToHeader(png_structp png, png_bytep data, png_size_t size) {
    auto* header = static_cast<Header*>(png_get_io_ptr(png));
    header->bytes.insert(header->bytes.end(), data, data + size);
}

void Flush(png_structp) {}

void OnError(png_structp png, png_const_charp message) {
    auto* header = static_cast<Header*>(png_get_error_ptr(png));
    if (header->failed.empty()) header->failed = std::string("PNG encoder: ") + message;
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

// The file around the pieces: the signature, header, resolution and metadata through libpng,
// then each piece as an IDAT chunk as it comes (the first after the zlib header, the last
// before the combined Adler-32), then IEND.
class Container {
public:
    Container(const Layout& l, OutputFile& out) : m_layout(l), m_out(out) {}

    StatusRecord Begin(const Metadata* metadata) {
        Header header;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &header, OnError, OnWarning);
        if (png == nullptr) return NotEnoughMemory("to encode the image", m_layout.rowBytes);
        png_infop info = png_create_info_struct(png);
        if (info == nullptr) {
            png_destroy_write_struct(&png, nullptr);
            return NotEnoughMemory("to encode the image", m_layout.rowBytes);
        }
        if (setjmp(png_jmpbuf(png)) == 0) {
            png_set_write_fn(png, &header, WriteToHeader, Flush);
            png_set_benign_errors(png, 1); // a profile libpng finds unfit for the image is left out
            png_set_IHDR(png, info, png_uint_32(m_layout.width), png_uint_32(m_layout.height), 8,
                         m_layout.bpp == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                         PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            constexpr png_uint_32 kDotsPerMeter96Dpi = 3780;
            png_set_pHYs(png, info, kDotsPerMeter96Dpi, kDotsPerMeter96Dpi, PNG_RESOLUTION_METER);
            if (metadata) WriteMetadata(png, info, *metadata);
            png_write_info(png, info);
        }
        png_destroy_write_struct(&png, &info);
        if (!header.failed.empty()) return {GenericError, header.failed};
        return m_out.Write(header.bytes.data(), header.bytes.size());
    }

    StatusRecord Add(const Piece& p) {
        const bool first = m_added == 0, last = ++m_added == m_layout.bands;
        m_adler = first ? p.adler : adler32_combine(m_adler, p.adler, z_off_t(p.rawSize));
        // A 32 KiB window, the fastest level's flags, and the header's check bits.
        const uint8_t zlibHeader[2] = {0x78, 0x01};
        const uint8_t zlibTrailer[4] = {uint8_t(m_adler >> 24), uint8_t(m_adler >> 16), uint8_t(m_adler >> 8),
                                        uint8_t(m_adler)};
        const Span parts[3] = {{zlibHeader, first ? 2u : 0u}, {p.data.bytes.get(), p.data.size},
                               {zlibTrailer, last ? 4u : 0u}};
        StatusRecord s = Chunk("IDAT", parts);
        if (s.code == Ok && last) s = Chunk("IEND", {});
        return s;
    }

private:
    struct Span {
        const uint8_t* data;
        size_t size;
    };

    StatusRecord Chunk(const char* type, std::span<const Span> parts) {
        size_t length = 0;
        for (const Span& part : parts) length += part.size;
        uint8_t start[8] = {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length)};
        std::memcpy(start + 4, type, 4);
        uLong crc = crc32_z(0, start + 4, 4);
        StatusRecord s = m_out.Write(start, sizeof start);
        for (const Span& part : parts) {
            if (part.size == 0) continue;
            crc = crc32_z(crc, part.data, part.size);
            if (s.code == Ok) s = m_out.Write(part.data, part.size);
        }
        const uint8_t end[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
        return s.code == Ok ? m_out.Write(end, sizeof end) : s;
    }

    const Layout& m_layout;
    OutputFile& m_out;
    int32_t m_added = 0;
    uLong m_adler = 1;
};

// At most about this many bytes of a banded picture's pixels are held at a time.
constexpr size_t kHeldBytes = size_t(16) << 20;

} // namespace

StatusRecord EncodePng(const Image& image, const Metadata* metadata, OutputFile& out) {
    const Layout l = MakeLayout(int32_t(image.GetWidth()), int32_t(image.GetHeight()), HasTranslucentPixel(image),
                                image.GetPixelFormat(), image.GetPalette());
    if (l.read == nullptr) return {InvalidParameter, "the image's pixel format cannot be saved"};
    // Each band needs the rows' bytes for its own input only; pieces are kept until written
    // in order.
    std::vector<Piece> pieces;
    if (!CompressBands(l, {ImageAccess::Scan0(image), ImageAccess::Stride(image), 0, nullptr}, 0, l.bands, pieces))
        return NotEnoughMemory("to encode the image", l.rowBytes * size_t(l.height));
    Container container(l, out);
    StatusRecord s = container.Begin(metadata);
    for (size_t i = 0; i < pieces.size() && s.code == Ok; ++i) s = container.Add(pieces[i]);
    return s;
}

StatusRecord EncodePng(RowSource& source, const Metadata* metadata, OutputFile& out) {
    const int32_t width = int32_t(source.Width()), height = int32_t(source.Height());
    const size_t pixelRow = size_t(width) * 4;
    const int32_t heldRows = int32_t(std::clamp<size_t>(kHeldBytes / pixelRow, 1, size_t(height)));
    // The held rows, and the row above them.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[pixelRow * size_t(heldRows + 1)]);
    if (!buffer) return NotEnoughMemory("to encode the image", pixelRow * size_t(heldRows + 1));
    uint8_t* const above = buffer.get() + pixelRow * size_t(heldRows);
    const int64_t looked = out.Seekable() ? kRowsLookedAtFirst : height;
    bool alpha = HasTranslucentPixel(source, buffer.get(), heldRows, looked);
    // Written without alpha until a band says otherwise, then again with it.
    for (bool again = true; again;) {
        again = false;
        const Layout l = MakeLayout(width, height, alpha, PixelFormat32bppARGB, nullptr);
        // Whole bands at a time, the same bands as the picture held whole.
        const int32_t bandsHeld = std::max(1, heldRows / l.bandRows);
        Container container(l, out);
        StatusRecord s = container.Begin(metadata);
        std::vector<Piece> pieces;
        for (int32_t first = 0; first < l.bands && s.code == Ok && !again; first += bandsHeld) {
            const int32_t last = std::min(l.bands, first + bandsHeld);
            const int32_t top = first * l.bandRows, rows = std::min(height, last * l.bandRows) - top;
            Bitmap band(width, rows, width * 4, PixelFormat32bppARGB, buffer.get());
            source.Render(band, uint32_t(top));
            if (!alpha && top + rows > looked && HasTranslucentPixel(band)) {
                alpha = again = true;
                s = out.Rewind();
                break;
            }
            if (!CompressBands(l, {buffer.get(), int64_t(pixelRow), top, above}, first, last, pieces))
                return NotEnoughMemory("to encode the image", l.rowBytes * size_t(l.bandRows) * size_t(bandsHeld));
            for (size_t i = 0; i < pieces.size() && s.code == Ok; ++i) s = container.Add(pieces[i]);
            std::memcpy(above, buffer.get() + pixelRow * size_t(rows - 1), pixelRow);
        }
        if (s.code != Ok || !again) return s;
    }
    return {};
}

} // namespace imaging
