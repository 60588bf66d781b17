#include "BmpEncoder.h"

#include "OverWhite.h"
#include "ParallelRows.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace imaging {

namespace {

constexpr size_t kHeldBytes = size_t(16) << 20;

void Put16(uint8_t* at, uint32_t v) {
    at[0] = uint8_t(v);
    at[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* at, uint32_t v) {
    Put16(at, v);
    Put16(at + 2, v >> 16);
}

} // namespace

StatusRecord EncodeBmp(RowSource& source, OutputFile& out) {
    const int32_t width = int32_t(source.Width()), height = int32_t(source.Height());
    const size_t pixelRow = size_t(width) * 4, fileRow = (size_t(width) * 24 + 31) / 32 * 4;
    const int32_t heldRows = int32_t(std::clamp<size_t>(kHeldBytes / pixelRow, 1, size_t(height)));
    std::unique_ptr<uint8_t[]> pixels(new (std::nothrow) uint8_t[pixelRow * size_t(heldRows)]);
    std::unique_ptr<uint8_t[]> rows(new (std::nothrow) uint8_t[fileRow * size_t(heldRows)]);
    if (!pixels || !rows)
        return NotEnoughMemory("to encode the image", (pixelRow + fileRow) * size_t(heldRows));

    // The file header and BITMAPINFOHEADER; the sizes wrap at 4 GiB, as Qt writes them.
    constexpr uint32_t kHeaders = 14 + 40, kDotsPerMeter96Dpi = 3780;
    const uint32_t imageBytes = uint32_t(fileRow * size_t(height));
    uint8_t header[kHeaders] = {'B', 'M'};
    Put32(header + 2, kHeaders + imageBytes);
    Put32(header + 10, kHeaders);
    Put32(header + 14, 40);
    Put32(header + 18, uint32_t(width));
    Put32(header + 22, uint32_t(height));
    Put16(header + 26, 1);  // planes
    Put16(header + 28, 24); // bits per pixel; no compression
    Put32(header + 34, imageBytes);
    Put32(header + 38, kDotsPerMeter96Dpi);
    Put32(header + 42, kDotsPerMeter96Dpi);
    StatusRecord s = out.Write(header, sizeof header);

    // Bands from the bottom up, each written bottom row first.
    for (int32_t bottom = height; bottom > 0 && s.code == Ok; bottom -= heldRows) {
        const int32_t top = std::max(0, bottom - heldRows), count = bottom - top;
        Bitmap band(width, count, int32_t(pixelRow), PixelFormat32bppARGB, pixels.get());
        source.Render(band, uint32_t(top));
        ParallelRows(count, [&](int32_t first, int32_t last) {
            for (int32_t y = first; y < last; ++y) {
                const uint8_t* in = pixels.get() + pixelRow * size_t(y);
                uint8_t* row = rows.get() + fileRow * size_t(count - 1 - y);
                for (int32_t x = 0; x < width; ++x) {
                    uint32_t p;
                    std::memcpy(&p, in + 4 * size_t(x), 4);
                    p = OverWhite(p);
                    row[3 * x] = uint8_t(p);
                    row[3 * x + 1] = uint8_t(p >> 8);
                    row[3 * x + 2] = uint8_t(p >> 16);
                }
                std::memset(row + 3 * size_t(width), 0, fileRow - 3 * size_t(width));
            }
        });
        s = out.Write(rows.get(), fileRow * size_t(count));
    }
    return s;
}

} // namespace imaging
