// The production warp against the plain implementation of the rules, byte for byte.

#include "oracle/ReferenceWarp.h"
#include "support/TestSupport.h"
#include "warp/WarpImageToQuad.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using namespace imaging;
using namespace testing_support;

void ExpectSameAsOracle(Bitmap& source, const Quad& q, int n, uint8_t fill = 0) {
    const int32_t w = int32_t(source.GetWidth()), h = int32_t(source.GetHeight());
    Bitmap expected(w, h, PixelFormat32bppARGB), actual(w, h, PixelFormat32bppARGB);
    FillBytes(expected, fill);
    FillBytes(actual, fill);
    oracle::ReferenceWarpImageToQuad(&source, &expected, q.tl, q.tr, q.bl, q.br, n);
    warp::WarpImageToQuad(&source, &actual, q.tl, q.tr, q.bl, q.br, n);
    const auto e = PixelBytes(expected), a = PixelBytes(actual);
    ASSERT_EQ(e.size(), a.size());
    for (size_t i = 0; i < e.size(); ++i)
        ASSERT_EQ(e[i], a[i]) << "pixel (" << (i / 4) % w << ", " << (i / 4) / w << ") byte " << i % 4
                              << " of a " << w << " x " << h << " source, corners (" << q.tl.X << ","
                              << q.tl.Y << ") (" << q.tr.X << "," << q.tr.Y << ") (" << q.bl.X << ","
                              << q.bl.Y << ") (" << q.br.X << "," << q.br.Y << "), n " << n;
}

// Quads of every awkward kind for a w x h source.
std::vector<Quad> AwkwardQuads(int32_t w, int32_t h) {
    const int32_t lo = INT32_MIN, hi = INT32_MAX;
    return {
        {{0, 0}, {w, 0}, {0, h}, {w, h}},                  // identity: parallel edges
        {{w / 10, h / 20}, {w - 3, h / 7}, {1, h - 2}, {w - w / 8, h}}, // a general quad
        {{5, 3}, {w - 5, 3}, {5, h - 2}, {w - 5, h - 2}},  // vertical and horizontal edges
        {{w, 0}, {0, 0}, {w, h}, {0, h}},                  // mirrored: reversed edges
        {{0, h}, {w, h}, {0, 0}, {w, 0}},                  // upside down
        {{-w, -h}, {2 * w, -h / 2}, {-w / 2, 2 * h}, {3 * w, 3 * h}}, // corners far outside
        {{w / 2, h / 2}, {w / 2, h / 2}, {w / 2, h / 2}, {w / 2, h / 2}}, // all coincident
        {{3, 3}, {3, 3}, {3, h - 1}, {w - 1, h - 1}},      // two coincident corners
        {{2, 2}, {w - 1, h - 1}, {w - 1, h - 1}, {2, 2}},  // collapsed onto a diagonal
        {{w, h}, {0, h / 2}, {w / 2, 0}, {1, 1}},          // self-intersecting, bow-tie
        {{0, 0}, {w / 2, 0}, {0, h / 2}, {w / 3, h / 4}},  // a small quad near the origin
        {{-5, 2}, {w + 4, -3}, {-2, h + 6}, {w + 1, h + 2}}, // slightly beyond the image
        // corners at the 32-bit limits
        {{lo, lo}, {hi, lo}, {lo, hi}, {hi, hi}},
        {{0, 0}, {hi, 0}, {0, hi}, {hi, hi}},
        {{lo, 0}, {20, lo}, {3, hi}, {hi, 16}},
        {{hi, hi}, {hi, hi}, {hi, hi}, {hi, hi}},
        {{lo, lo}, {lo, lo}, {lo, lo}, {lo, lo}},
        {{1, 1}, {w - 1, 1}, {1, h - 1}, {hi - 1, h - 1}},
    };
}

TEST(WarpOracle, AwkwardQuadsInEveryFormat) {
    std::mt19937 rng(2024);
    for (PixelFormat format : kAllPixelFormats) {
        SCOPED_TRACE(testing::Message() << "format " << std::hex << format);
        auto source = RandomBitmap(format, 61, 43, rng);
        for (const Quad& q : AwkwardQuads(61, 43))
            for (int n : {2, 1}) ExpectSameAsOracle(*source, q, n);
    }
}

TEST(WarpOracle, RandomImagesAndQuads) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> size(1, 260);
    std::uniform_int_distribution<int> formatPick(0, int(std::size(kAllPixelFormats)) - 1);
    std::uniform_int_distribution<int> nPick(-1, 3);
    int64_t pixels = 0;
    for (int round = 0; pixels < 10'000'000; ++round) {
        const int32_t w = size(rng), h = size(rng);
        // Mostly the popular formats, now and then any other.
        const PixelFormat format = round % 3 == 0 ? kAllPixelFormats[formatPick(rng)]
                                   : round % 3 == 1 ? PixelFormat24bppRGB : PixelFormat32bppARGB;
        auto source = RandomBitmap(format, w, h, rng);
        std::uniform_int_distribution<int> cx(-w / 2, w + w / 2), cy(-h / 2, h + h / 2);
        Quad q{{cx(rng), cy(rng)}, {cx(rng), cy(rng)}, {cx(rng), cy(rng)}, {cx(rng), cy(rng)}};
        // Now and then snap edges straight, the cases with special slopes.
        if (round % 5 == 1) {
            q.bl.X = q.tl.X;
            q.br.X = q.tr.X;
        }
        if (round % 5 == 2) {
            q.tr.Y = q.tl.Y;
            q.br.Y = q.bl.Y;
        }
        if (round % 7 == 3) q.br = q.bl;
        ExpectSameAsOracle(*source, q, nPick(rng), uint8_t(round));
        if (testing::Test::HasFatalFailure()) return;
        pixels += int64_t(w) * h;
    }
}

} // namespace
