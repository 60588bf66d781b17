// A band's deflate stream: it inflates to its input, bands join into one stream, and the
// compressor chosen from the band's first bytes is the one that suits the band.

#include "imaging/Deflate.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace {

using imaging::BandDeflater;
using imaging::Compressed;
using testing_support::Inflated;
using Bytes = std::vector<uint8_t>;

// Fed as the PNG encoder feeds it, a row at a time.
Compressed Deflate(const Bytes& in, bool last) {
    BandDeflater deflater(in.size());
    for (size_t at = 0; at < in.size(); at += 1201)
        EXPECT_TRUE(deflater.Add(in.data() + at, std::min<size_t>(1201, in.size() - at)));
    return deflater.Finish(last);
}

// What each compressor makes of the whole input on its own.
size_t ZlibRleSize(const Bytes& in) {
    z_stream z{};
    deflateInit2(&z, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_RLE);
    Bytes out(deflateBound(&z, uLong(in.size())));
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    deflateEnd(&z);
    return z.total_out;
}

size_t IsalSize(const Bytes& in) {
    Bytes level(ISAL_DEF_LVL2_LARGE), out(in.size() * 2 + 1024);
    isal_zstream s;
    isal_deflate_init(&s);
    s.level = 2;
    s.level_buf = level.data();
    s.level_buf_size = uint32_t(level.size());
    s.next_in = const_cast<uint8_t*>(in.data());
    s.avail_in = uint32_t(in.size());
    s.next_out = out.data();
    s.avail_out = uint32_t(out.size());
    s.end_of_stream = 1;
    isal_deflate(&s);
    return s.total_out;
}

TEST(BandDeflater, InflatesToItsInputAndChoosesTheSmaller) {
    std::mt19937 rng(17);
    Bytes texture(300000), runs(300000), noise(200000), tiny(100), empty;
    for (size_t i = 0; i < texture.size(); ++i) texture[i] = uint8_t(i % 97 + (rng() & 3)); // ISA-L's kind
    for (size_t i = 0; i < runs.size();) { // zlib's run-length kind
        const uint8_t value = uint8_t(rng());
        for (size_t n = 1 + rng() % 40; n > 0 && i < runs.size(); --n) runs[i++] = value;
    }
    for (uint8_t& b : noise) b = uint8_t(rng()); // stored, by either
    for (uint8_t& b : tiny) b = uint8_t(rng() % 3);
    const struct { const char* name; const Bytes& in; } cases[] = {
        {"texture", texture}, {"runs", runs}, {"noise", noise}, {"tiny", tiny}, {"empty", empty}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Compressed whole = Deflate(c.in, true);
        ASSERT_TRUE(whole.ok);
        const Bytes stream(whole.bytes.get(), whole.bytes.get() + whole.size);
        EXPECT_EQ(c.in, Inflated(stream, c.in.size(), false));
        // Within half a per cent of the better compressor (the trial flush costs a few bytes).
        EXPECT_LE(double(whole.size), 1.005 * double(std::min(ZlibRleSize(c.in), IsalSize(c.in))) + 16);
        // A band that is not the last ends on a byte boundary: the next band's data follows it.
        const Compressed first = Deflate(c.in, false), second = Deflate(tiny, true);
        ASSERT_TRUE(first.ok && second.ok);
        Bytes joined(first.bytes.get(), first.bytes.get() + first.size);
        joined.insert(joined.end(), second.bytes.get(), second.bytes.get() + second.size);
        Bytes both = c.in;
        both.insert(both.end(), tiny.begin(), tiny.end());
        EXPECT_EQ(both, Inflated(joined, both.size(), false));
    }
    // Each kind went to its compressor: the other one alone is far larger.
    EXPECT_LT(double(Deflate(texture, true).size), 0.8 * double(ZlibRleSize(texture)));
    EXPECT_LT(double(Deflate(runs, true).size), 0.8 * double(IsalSize(runs)));
}

} // namespace
