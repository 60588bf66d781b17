#include "PixelCodec.h"

namespace imaging {

void WriteTrueColor(PixelFormat format, uint8_t* row, int32_t x, Bgra c) {
    using namespace pixel;
    auto wide = [](uint8_t v) { return uint16_t(v * 257u); };
    switch (format) {
    case PixelFormat16bppGrayScale:
        Store16(row + 2 * x, wide(uint8_t((c.R * 299u + c.G * 587u + c.B * 114u + 500u) / 1000u)));
        break;
    case PixelFormat16bppRGB555:
    case PixelFormat16bppARGB1555: {
        const unsigned a = format == PixelFormat16bppARGB1555 && c.A >= 128 ? 0x8000u : 0u;
        Store16(row + 2 * x, uint16_t(a | (c.R >> 3) << 10 | (c.G >> 3) << 5 | c.B >> 3));
        break;
    }
    case PixelFormat16bppRGB565:
        Store16(row + 2 * x, uint16_t((c.R >> 3) << 11 | (c.G >> 2) << 5 | c.B >> 3));
        break;
    case PixelFormat24bppRGB:
        row[3 * x] = c.B;
        row[3 * x + 1] = c.G;
        row[3 * x + 2] = c.R;
        break;
    case PixelFormat32bppRGB:
        row[4 * x] = c.B;
        row[4 * x + 1] = c.G;
        row[4 * x + 2] = c.R;
        row[4 * x + 3] = 255;
        break;
    case PixelFormat32bppARGB:
        row[4 * x] = c.B;
        row[4 * x + 1] = c.G;
        row[4 * x + 2] = c.R;
        row[4 * x + 3] = c.A;
        break;
    case PixelFormat32bppPARGB:
        row[4 * x] = Premultiply8(c.B, c.A);
        row[4 * x + 1] = Premultiply8(c.G, c.A);
        row[4 * x + 2] = Premultiply8(c.R, c.A);
        row[4 * x + 3] = c.A;
        break;
    case PixelFormat48bppRGB:
        Store16(row + 6 * x, wide(c.B));
        Store16(row + 6 * x + 2, wide(c.G));
        Store16(row + 6 * x + 4, wide(c.R));
        break;
    case PixelFormat64bppARGB:
        Store16(row + 8 * x, wide(c.B));
        Store16(row + 8 * x + 2, wide(c.G));
        Store16(row + 8 * x + 4, wide(c.R));
        Store16(row + 8 * x + 6, wide(c.A));
        break;
    case PixelFormat64bppPARGB:
        Store16(row + 8 * x, wide(Premultiply8(c.B, c.A)));
        Store16(row + 8 * x + 2, wide(Premultiply8(c.G, c.A)));
        Store16(row + 8 * x + 4, wide(Premultiply8(c.R, c.A)));
        Store16(row + 8 * x + 6, wide(c.A));
        break;
    default: break; // indexed formats are written by index, never by colour
    }
}

} // namespace imaging
