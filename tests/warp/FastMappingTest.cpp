// The vector mapping and the threads against the scalar rules, bit for bit.

#include "oracle/ReferenceWarp.h"
#include "support/TestSupport.h"
#include "warp/InterpolatedRows.h"
#include "warp/MapRow.h"
#include "warp/MapRowScalar.h"
#include "warp/SimdSupport.h"
#include "warp/WarpImageToQuad.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

namespace {

using namespace imaging;
using namespace testing_support;
using namespace warp;


// Values whose arc tangent or tangent lies so close to a single-precision rounding boundary
// that the approximation cannot decide; found by bench/slope_exhaustive.
TEST(SlopesOfTangents, ValuesNearARoundingBoundaryTakeTheStandardFunctions) {
    const uint32_t nearBoundary[] = {
#include "NearBoundaryTangents.inc"
    };
    std::vector<float> t;
    for (uint32_t b : nearBoundary) t.push_back(std::bit_cast<float>(b));
    while (t.size() % 8) t.push_back(t.back()); // whole vectors: no scalar tail
    std::vector<float> fast(t.size());
    std::vector<uint8_t> redone(t.size());
    SlopesOfTangents(t.data(), fast.data(), int(t.size()), redone.data());
    for (size_t i = 0; i < t.size(); ++i) {
        EXPECT_EQ(Bits(SlopeOfTangent(t[i])), Bits(fast[i])) << std::hexfloat << t[i];
        if (UsableSimd() != SimdLevel::Scalar) {
            EXPECT_TRUE(redone[i]) << std::hexfloat << t[i];
        }
    }
    // The same slopes when nobody asks which were redone.
    std::vector<float> unmarked(t.size());
    EXPECT_EQ(int(t.size()), SlopesOfTangents(t.data(), unmarked.data(), int(t.size()))); // all of them redone
    for (size_t i = 0; i < t.size(); ++i) EXPECT_EQ(Bits(fast[i]), Bits(unmarked[i])) << std::hexfloat << t[i];
    // Ordinary values are not redone.
    std::vector<float> plain = {0.1f, 0.25f, 3.0f, -7.5f};
    SlopesOfTangents(plain.data(), fast.data(), 4, redone.data());
    if (UsableSimd() != SimdLevel::Scalar) {
        for (int i = 0; i < 4; ++i) EXPECT_FALSE(redone[i]) << plain[i];
    }
}

// The run (x0 + i, y), i < count, vector against scalar: by default 207 pixels, eight-lane
// vectors, then one of four lanes and three pixels alone. With culling a pixel may lack its
// indices, or have only the side of one, only where one of them lies outside the source;
// returns how many were left out.
int ExpectSameRun(const QuadMapping& m, int32_t y, int32_t x0, int32_t count = 207, ColumnMemo* memo = nullptr,
                  Cull cull = Cull::None) {
    constexpr int kMost = 512;
    EXPECT_LE(count, kMost);
    int32_t iu[2][kMost], iv[2][kMost];
    double fx[2][kMost], fy[2][kMost];
    MapRun(m, y, x0, count, {iu[0], iv[0], fx[0], fy[0]}, memo, cull);
    MapRunScalar(m, y, x0, count, {iu[1], iv[1], fx[1], fy[1]});
    int culled = 0;
    for (int i = 0; i < count; ++i) {
        // A pixel whose row or column lies outside the source may lack either index.
        const bool unseen = iu[1][i] < 0 || iu[1][i] >= m.width || iv[1][i] < 0 || iv[1][i] >= m.height;
        // [0] from MapRun, [1] from the scalar rules.
        auto same = [&](const int32_t(&index)[2][kMost], const double(&fraction)[2][kMost], int32_t size) {
            // Left out, or only the side the index lies beyond given.
            const int32_t got = index[0][i], exact = index[1][i];
            const bool side = (got == kBeforeSource && exact < 0) || (got == kBeyondSource && exact >= size);
            if (cull == Cull::Unseen && unseen && (got == kUnmapped || side) &&
                Bits(fraction[0][i]) == Bits(0.0)) {
                ++culled;
                return;
            }
            EXPECT_EQ(index[1][i], index[0][i]) << x0 + i << "," << y;
            EXPECT_EQ(Bits(fraction[1][i]), Bits(fraction[0][i])) << x0 + i << "," << y;
        };
        same(iu, fx, int32_t(m.width));
        same(iv, fy, int32_t(m.height));
        if (::testing::Test::HasFailure()) return culled;
    }
    return culled;
}

TEST(MapRun, VectorAndScalarAgreeBitForBit) {
    std::mt19937 rng(23);
    std::vector<Quad> quads = {
        {{10, 5}, {190, 15}, {5, 90}, {185, 95}},
        {{0, 0}, {180, 10}, {0, 100}, {200, 100}},
        {{0, 0}, {200, 0}, {0, 100}, {200, 100}},
        {{200, 0}, {0, 0}, {200, 100}, {0, 100}},
        {{50, 50}, {50, 50}, {50, 50}, {50, 50}},
        {{INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MIN}, {INT32_MIN, INT32_MAX}, {INT32_MAX, INT32_MAX}},
        {{200, 150}, {3800, 450}, {100, 2700}, {3700, 2850}},
        {{20, 0}, {80, 0}, {0, 100}, {100, 100}}, // column vanishing point at x = 50: pixels straight below it
        // Convex, yet pixels well beyond its top and bottom edge lines (rows 13 to 25 at x = 248,
        // rows 115 to 124 at x = 312) have their rows inside the source...
        {{438, 326}, {463, 365}, {26, -107}, {419, 384}},
        // ... and pixels well beyond this one's left edge line (x below 33 from row 0 on) their
        // columns.
        {{472, -80}, {206, -119}, {354, 455}, {153, 2}},
    };
    std::uniform_int_distribution<int> c(-300, 500);
    for (int i = 0; i < 60; ++i) quads.push_back({{c(rng), c(rng)}, {c(rng), c(rng)}, {c(rng), c(rng)}, {c(rng), c(rng)}});
    int culled = 0;
    for (const Quad& q : quads) {
        const QuadMapping m = MakeQuadMapping(q.Outline(), 200, 100);
        for (int y = 0; y < 120; y += 7) {
            ExpectSameRun(m, y, 0);
            for (int32_t x0 : {0, 150}) culled += ExpectSameRun(m, y, x0, 207, nullptr, Cull::Unseen);
            ASSERT_FALSE(HasFailure()) << "row " << y;
        }
    }
    // Pixels above, below and beside the convex quads: one of their indices is left out.
    if (UsableSimd() != SimdLevel::Scalar) {
        EXPECT_GT(culled, 1000);
    }
}

// Crossings kept from row to row (column lines of one slope) or from vector to vector (flat
// row lines of one slope) must give what each pixel's own mapping gives: on every row of quads
// whose column lines are vertical, slanted and parallel (the intercept moves every row), or
// far out (it moves every few rows), whose top edge lies on the top row (no row vanishing
// point), also where a corner lies on a row, for runs the column memo does not cover, and
// with rows below the quad culled.
TEST(MapRun, KeptCrossingsGiveTheSameBits) {
    struct Case {
        Quad quad;
        bool rowVanish, colVanish;
    };
    const Case cases[] = {
        {{{200, 150}, {3800, 450}, {200, 2700}, {3800, 2850}}, true, false},
        {{{0, 0}, {300, 0}, {0, 200}, {300, 200}}, false, false},
        {{{40, 10}, {290, 30}, {140, 190}, {390, 210}}, false, false}, // a parallelogram, columns of slope 1.8
        {{{-100000, 5}, {2000000, 25}, {-100000, 900}, {2000000, 1000}}, true, false},
        {{{50, 0}, {250, 0}, {0, 200}, {300, 200}}, false, true},
        // Crossed: top and bottom both traversed right to left, of the slope tan(single(pi)),
        // so the row lines' intercepts move a little along each row.
        {{{300, 0}, {0, 0}, {0, 200}, {300, 200}}, false, true},
    };
    constexpr int32_t kColumns = 300, kCount = 296; // whole vectors of eight, then a tail
    for (const Case& c : cases) {
        const QuadMapping m = MakeQuadMapping(c.quad.Outline(), 400, 300);
        ASSERT_EQ(c.rowVanish, m.useRowVanish);
        ASSERT_EQ(c.colVanish, m.useColVanish);
        ColumnMemo memo(0, kColumns);
        for (int32_t y = 0; y < 300; ++y) {
            ExpectSameRun(m, y, 0, kCount, &memo, y % 2 ? Cull::Unseen : Cull::None);
            ExpectSameRun(m, y, 8, 200, &memo);
            ExpectSameRun(m, y, 4, 200, &memo); // not a multiple of 8 from the memo's start
        }
    }
}

// Beyond 2^24 not every column is a single: the pixel's position rounds, as in the scalar rules.
TEST(MapRun, VectorAndScalarAgreeWhereColumnsRound) {
    const QuadMapping m =
        MakeQuadMapping({{0, 0}, {1 << 25, 1000}, {1 << 25, 4000}, {0, 3000}}, 1u << 25, 4000);
    for (int32_t x0 : {(1 << 24) - 101, (1 << 24) - 3, (1 << 24) + 1, (1 << 25) - 203})
        for (int y : {7, 1999, 3998}) ExpectSameRun(m, y, x0);
}

// What the preview's rows between exact rows take from them, vector against scalar: columns
// inside, outside and on the source's edges, straight and bent between the rows.
TEST(PrepareColumns, VectorAndScalarAgreeBitForBit) {
    if (UsableSimd() == SimdLevel::Scalar) GTEST_SKIP() << "no AVX2 here";
    constexpr int32_t kColumns = 203, kWidth = 50, kHeight = 40;
    std::mt19937 rng(17);
    std::uniform_int_distribution<int32_t> index(-3, 52);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    std::vector<int32_t> iu[3], iv[3];
    std::vector<double> fx[3], fy[3];
    for (int32_t c = 0; c < kColumns; ++c) {
        // Groups on one line through the three rows but for group 1, whose middle row is bent
        // off it in a column in seven, and groups 3 and 5, anywhere. In group 4 a column beyond
        // the source, far from the next, which is bent: what the latter covers is its own.
        const int32_t group = c / kInterpolationGroup;
        const bool straight = group != 3 && group != 5;
        const double u = fraction(rng), v = c % 5 == 0 ? 0.0 : fraction(rng);
        for (int r = 0; r < 3; ++r) {
            const bool bent = ((group == 1 && c % 7 == 1) || c == 130) && r == 1;
            iu[r].push_back(c == 129 ? -3 : straight ? c / 8 + r : index(rng));
            iv[r].push_back(straight ? 10 + 4 * r + bent : index(rng));
            fx[r].push_back(straight ? u : fraction(rng));
            fy[r].push_back(straight ? v : fraction(rng));
        }
    }
    const ExactRow above{iu[0].data(), iv[0].data(), fx[0].data(), fy[0].data()},
        middle{iu[1].data(), iv[1].data(), fx[1].data(), fy[1].data()},
        below{iu[2].data(), iv[2].data(), fx[2].data(), fy[2].data()};
    struct Out {
        std::vector<double> u = std::vector<double>(kColumns), v = u, du = u, dv = u;
        std::vector<int32_t> seen = std::vector<int32_t>(kColumns);
        std::vector<uint8_t> mixed = std::vector<uint8_t>(kColumns / kInterpolationGroup + 1);
        PreparedColumns Columns() {
            return {u.data(), v.data(), du.data(), dv.data(), seen.data(), mixed.data()};
        }
    } scalar, vector;
    for (int32_t c = 0; c < kColumns; ++c)
        PrepareColumn(above, middle, below, c, kWidth, kHeight, 8, scalar.Columns());
    for (int32_t c = 0; c < 4; ++c)
        PrepareColumn(above, middle, below, c, kWidth, kHeight, 8, vector.Columns());
    PrepareColumnsAvx2(above, middle, below, 4, kColumns & ~3, kWidth, kHeight, vector.Columns());
    for (int32_t c = kColumns & ~3; c < kColumns; ++c)
        PrepareColumn(above, middle, below, c, kWidth, kHeight, 8, vector.Columns());
    for (int32_t c = 0; c < kColumns; ++c) {
        EXPECT_EQ(Bits(scalar.u[c]), Bits(vector.u[c])) << c;
        EXPECT_EQ(Bits(scalar.v[c]), Bits(vector.v[c])) << c;
        EXPECT_EQ(Bits(scalar.du[c]), Bits(vector.du[c])) << c;
        EXPECT_EQ(Bits(scalar.dv[c]), Bits(vector.dv[c])) << c;
        EXPECT_EQ(scalar.seen[c], vector.seen[c]) << c;
    }
    EXPECT_EQ((std::vector<uint8_t>{0, 1, 0, 1, 1, 1, 0}), scalar.mixed);
    EXPECT_EQ(scalar.mixed, vector.mixed);
}

} // namespace
