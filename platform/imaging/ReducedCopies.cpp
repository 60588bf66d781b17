#include "ReducedCopies.h"

#include "PixelCodec.h"
#include "QtBridge.h"

#include <algorithm>
#include <thread>

namespace imaging {

namespace {

struct Level {
    uint8_t* scan0;
    int64_t stride;
    int32_t width, height;
};

// The copies for the original's rows [first, first + 2^levels), from their exact sums: each
// level's sums are the 2 x 2 sums of the level before, so no rounding builds up from level to
// level. Sums of up to 256 bytes fit 32 bits with room to spare.
class Band {
public:
    Band(int32_t width, int levels) : m_levels(levels) {
        for (int k = 1; k <= levels; ++k) {
            const int32_t w = (width + (1 << k) - 1) >> k;
            m_sums[k].assign(size_t(w) * 4 * size_t(1 << (levels - k)), 0);
        }
    }

    void Run(const uint8_t* scan0, int64_t stride, int32_t width, int32_t height, int32_t first,
             const std::vector<Level>& out) {
        const int32_t rows = std::min(1 << m_levels, height - first);
        // Level 1 from the original, premultiplied.
        const int32_t w1 = out[0].width;
        std::fill(m_sums[1].begin(), m_sums[1].end(), 0);
        for (int32_t r = 0; r < rows; ++r) {
            const uint8_t* src = scan0 + int64_t(first + r) * stride;
            uint32_t* sum = m_sums[1].data() + size_t(r >> 1) * w1 * 4;
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t* p = src + 4 * x;
                uint32_t* s = sum + (x >> 1) * 4;
                const unsigned a = p[3];
                s[0] += pixel::Premultiply8(p[0], a);
                s[1] += pixel::Premultiply8(p[1], a);
                s[2] += pixel::Premultiply8(p[2], a);
                s[3] += a;
            }
        }
        for (int k = 2; k <= m_levels; ++k) {
            const int32_t w = out[k - 1].width, below = out[k - 2].width;
            const int32_t lowerRows = (rows + (1 << (k - 1)) - 1) >> (k - 1);
            std::fill(m_sums[k].begin(), m_sums[k].end(), 0);
            for (int32_t r = 0; r < lowerRows; ++r) {
                const uint32_t* lower = m_sums[k - 1].data() + size_t(r) * below * 4;
                uint32_t* sum = m_sums[k].data() + size_t(r >> 1) * w * 4;
                for (int32_t x = 0; x < below; ++x)
                    for (int c = 0; c < 4; ++c) sum[(x >> 1) * 4 + c] += lower[x * 4 + c];
            }
        }
        // Each level's bytes: its sums over the number of original pixels in the block.
        for (int k = 1; k <= m_levels; ++k) {
            const Level& level = out[k - 1];
            const int32_t side = 1 << k, y0 = first >> k;
            const int32_t levelRows = (rows + side - 1) >> k;
            for (int32_t r = 0; r < levelRows; ++r) {
                const uint32_t blockRows = uint32_t(std::min(side, height - (y0 + r) * side));
                const uint32_t* sum = m_sums[k].data() + size_t(r) * level.width * 4;
                uint8_t* dst = level.scan0 + (y0 + r) * level.stride;
                for (int32_t x = 0; x < level.width; ++x) {
                    const uint32_t count = uint32_t(std::min(side, width - x * side)) * blockRows;
                    for (int c = 0; c < 4; ++c) dst[4 * x + c] = uint8_t((sum[4 * x + c] + count / 2) / count);
                }
            }
        }
    }

private:
    int m_levels;
    std::vector<uint32_t> m_sums[5];
};

} // namespace

std::vector<std::unique_ptr<Bitmap>> MakeReducedCopies(const Bitmap& image, int levels) {
    std::vector<std::unique_ptr<Bitmap>> copies;
    if (!image.HasContent() || image.GetPixelFormat() != PixelFormat32bppARGB) return copies;
    const int32_t width = int32_t(image.GetWidth()), height = int32_t(image.GetHeight());
    levels = std::clamp(levels, 0, 4);
    while (levels > 0 && ((width - 1) >> (levels - 1)) == 0 && ((height - 1) >> (levels - 1)) == 0) --levels;
    std::vector<Level> out;
    for (int k = 1; k <= levels; ++k) {
        auto copy = std::make_unique<Bitmap>((width + (1 << k) - 1) >> k, (height + (1 << k) - 1) >> k,
                                             PixelFormat32bppPARGB);
        if (!copy->HasContent()) return {};
        out.push_back({ImageAccess::Scan0(*copy), ImageAccess::Stride(*copy), int32_t(copy->GetWidth()),
                       int32_t(copy->GetHeight())});
        copies.push_back(std::move(copy));
    }
    if (levels == 0) return copies;

    // Bands of 2^levels rows, in two halves on two threads where there are two cores.
    const uint8_t* scan0 = ImageAccess::Scan0(image);
    const int64_t stride = ImageAccess::Stride(image);
    const int32_t bandRows = 1 << levels, bands = (height + bandRows - 1) / bandRows;
    auto work = [&](int32_t firstBand, int32_t lastBand) {
        Band band(width, levels);
        for (int32_t b = firstBand; b < lastBand; ++b) band.Run(scan0, stride, width, height, b * bandRows, out);
    };
    if (bands >= 8 && std::thread::hardware_concurrency() > 1) {
        std::thread other(work, bands / 2, bands);
        work(0, bands / 2);
        other.join();
    } else {
        work(0, bands);
    }
    return copies;
}

} // namespace imaging
