// The render on a thread of its own: the oracle's bytes band by band, and a cancel that leaves
// the destination alone.

#include "oracle/ReferenceWarp.h"
#include "support/TestSupport.h"
#include "warp/BackgroundRender.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace imaging;
using namespace testing_support;

TEST(BackgroundRender, GivesTheOraclesBytesForEitherMapping) {
    std::mt19937 rng(29);
    const Quad quad{{4, 30}, {85, 2}, {-6, 690}, {92, 640}};
    for (PixelFormat format : {PixelFormat8bppIndexed, PixelFormat32bppARGB}) // through the palette, and alpha
        for (warp::Mapping mapping : {warp::Mapping::Quad, warp::Mapping::Perspective}) {
            SCOPED_TRACE(testing::Message() << std::hex << format << (mapping == warp::Mapping::Quad ? " quad" : " perspective"));
            auto source = RandomBitmap(format, 90, 700, rng); // 32 bands of 22 rows
            const warp::TransformPlan plan = warp::PlanTransform({.mapping = mapping}, quad.Outline(), 90, 700);
            ASSERT_TRUE(plan.problem.empty()) << plan.problem;
            Bitmap result(90, 700, PixelFormat32bppARGB), expected(90, 700, PixelFormat32bppARGB);
            std::atomic<int> finished{0};
            std::thread::id where;
            {
                warp::BackgroundRender render(*source, result, plan, [&] {
                    where = std::this_thread::get_id();
                    ++finished;
                });
                render.Wait();
                EXPECT_TRUE(render.IsDone());
            }
            EXPECT_EQ(1, finished.load());
            EXPECT_NE(std::this_thread::get_id(), where);
            if (mapping == warp::Mapping::Quad)
                oracle::ReferenceWarpImageToQuad(source.get(), &expected, quad.tl, quad.tr, quad.bl, quad.br, 2);
            else
                oracle::ReferenceWarpPerspective(source.get(), &expected, *plan.toSource, 2);
            EXPECT_EQ(PixelBytes(expected), PixelBytes(result));
        }
}

// Cancelled before it started, it never starts: no pixel written, no word of it finishing.
TEST(BackgroundRender, CancelledBeforeItsStartWritesNothing) {
    std::mt19937 rng(31);
    auto source = RandomBitmap(PixelFormat24bppRGB, 64, 48, rng);
    const warp::TransformPlan plan = warp::PlanTransform({}, Quad{{0, 0}, {64, 0}, {0, 48}, {64, 48}}.Outline(), 64, 48);
    Bitmap result(64, 48, PixelFormat32bppARGB);
    FillBytes(result, 0x55);
    bool finished = false;
    warp::BackgroundRender render(*source, result, plan, [&] { finished = true; });
    render.Cancel();
    render.Start();
    render.Wait();
    EXPECT_FALSE(render.IsDone());
    EXPECT_FALSE(finished);
    for (uint8_t b : PixelBytes(result)) ASSERT_EQ(0x55, b);
}

} // namespace
