#include "Deflate.h"

#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace imaging {

namespace {

// Under Z_RLE zlib's level only sets its buffers; the fastest is as small as any.
constexpr int kZlibLevel = 1;
constexpr int kIsalLevel = 2;
constexpr uint32_t kIsalBuffer = ISAL_DEF_LVL2_LARGE;
// How much of a band both compressors take before one is chosen.
constexpr size_t kTrialBytes = size_t(32) << 10;

// ISA-L's vector code returns with the upper halves of the vector registers in use. Until
// they are cleared, the SSE code that follows (zlib's, the row filters) took 1.7 times as
// long on the AMD EPYC measured; clearing them is one instruction where they exist.
void ClearUpperVectorHalves() {
#if defined(__x86_64__)
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx) asm volatile("vzeroupper");
#endif
}

// An output buffer that grows as a stream needs it. Left uninitialised, so the pages the
// output never reaches are never touched.
struct Output {
    std::unique_ptr<uint8_t[]> bytes;
    size_t capacity = 0, size = 0;

    bool Reserve(size_t wanted) {
        bytes.reset(new (std::nothrow) uint8_t[wanted]);
        capacity = bytes ? wanted : 0;
        return bool(bytes);
    }
    bool Grow() {
        const size_t bigger = capacity * 2 + 4096;
        std::unique_ptr<uint8_t[]> more(new (std::nothrow) uint8_t[bigger]);
        if (!more) return false;
        std::memcpy(more.get(), bytes.get(), size);
        bytes = std::move(more);
        capacity = bigger;
        return true;
    }
    // Room for at most `limit` bytes at the end.
    uint32_t Room(uint32_t limit) const { return uint32_t(std::min<size_t>(capacity - size, limit)); }
    Compressed Take() { return {std::move(bytes), size, true}; }
};

} // namespace

struct BandDeflater::Zlib {
    z_stream z{};
    Output out;
    bool ok = false;

    explicit Zlib(size_t expected) {
        ok = deflateInit2(&z, kZlibLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_RLE) == Z_OK;
        ok = ok && out.Reserve(deflateBound(&z, uLong(expected)) + 64);
    }
    ~Zlib() { deflateEnd(&z); }
    bool Add(const uint8_t* data, size_t size, int flush) {
        z.next_in = const_cast<Bytef*>(data);
        z.avail_in = uInt(size);
        while (ok) {
            if (out.size == out.capacity && !out.Grow()) return ok = false;
            z.next_out = out.bytes.get() + out.size;
            z.avail_out = out.Room(UINT_MAX);
            const int r = deflate(&z, flush);
            out.size = size_t(z.next_out - out.bytes.get());
            if (r == Z_STREAM_END) break;
            ok = r == Z_OK || r == Z_BUF_ERROR;
            // Done when zlib took everything and had room left to say all it had.
            if (z.avail_in == 0 && z.avail_out > 0) break;
        }
        return ok;
    }
};

struct BandDeflater::Isal {
    isal_zstream s{};
    std::unique_ptr<uint8_t[]> levelBuffer{new (std::nothrow) uint8_t[kIsalBuffer]};
    Output out;
    bool ok = false;

    explicit Isal(size_t expected) {
        isal_deflate_init(&s);
        s.level = kIsalLevel;
        s.level_buf = levelBuffer.get();
        s.level_buf_size = kIsalBuffer;
        // Stored blocks bound the output: 5 bytes for each 64 KiB at most.
        ok = levelBuffer && out.Reserve(expected + expected / 64 + 1024);
    }
    // `flush`: NO_FLUSH or SYNC_FLUSH; `end` ends the stream with the final block.
    bool Add(const uint8_t* data, size_t size, int flush, bool end) {
        s.next_in = const_cast<uint8_t*>(data);
        s.avail_in = uint32_t(size);
        s.flush = flush;
        s.end_of_stream = end;
        while (ok) {
            if (out.size == out.capacity && !out.Grow()) return ok = false;
            s.next_out = out.bytes.get() + out.size;
            s.avail_out = out.Room(UINT32_MAX);
            ok = isal_deflate(&s) == COMP_OK;
            ClearUpperVectorHalves();
            out.size = size_t(s.next_out - out.bytes.get());
            // Done when it took everything and, when flushing, had room left for all it had.
            const bool flushed = end ? s.internal_state.state == ZSTATE_END : flush == NO_FLUSH || s.avail_out > 0;
            if (s.avail_in == 0 && flushed) break;
        }
        return ok;
    }
};

// Where memory runs out, without the compressor it would have held.
BandDeflater::BandDeflater(size_t expectedInput)
    : m_zlib(new (std::nothrow) Zlib(expectedInput)), m_isal(new (std::nothrow) Isal(expectedInput)) {
    if (m_zlib && !m_zlib->ok) m_zlib.reset();
    if (m_isal && !m_isal->ok) m_isal.reset();
}

BandDeflater::~BandDeflater() = default;

bool BandDeflater::Add(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX / 2) { // more than a band ever holds
        m_zlib.reset();
        m_isal.reset();
        return false;
    }
    if (m_zlib && !m_zlib->Add(data, size, Z_NO_FLUSH)) m_zlib.reset();
    if (m_isal && !m_isal->Add(data, size, NO_FLUSH, false)) m_isal.reset();
    if (!m_chosen && (m_tried += size) >= kTrialBytes) Choose();
    return m_zlib || m_isal;
}

// Both say all they have for the trial, on a byte boundary, so that their sizes compare.
void BandDeflater::Choose() {
    m_chosen = true;
    if (m_zlib && !m_zlib->Add(nullptr, 0, Z_SYNC_FLUSH)) m_zlib.reset();
    if (m_isal && !m_isal->Add(nullptr, 0, SYNC_FLUSH, false)) m_isal.reset();
    KeepSmaller();
}

void BandDeflater::KeepSmaller() {
    if (!m_zlib || !m_isal) return;
    if (m_isal->out.size < m_zlib->out.size) m_zlib.reset();
    else m_isal.reset();
}

Compressed BandDeflater::Finish(bool last) {
    if (m_zlib && !m_zlib->Add(nullptr, 0, last ? Z_FINISH : Z_SYNC_FLUSH)) m_zlib.reset();
    if (m_isal && !m_isal->Add(nullptr, 0, last ? NO_FLUSH : SYNC_FLUSH, last)) m_isal.reset();
    KeepSmaller(); // a band shorter than the trial
    Compressed c = m_zlib ? m_zlib->out.Take() : m_isal ? m_isal->out.Take() : Compressed{};
    m_zlib.reset();
    m_isal.reset();
    return c;
}

} // namespace imaging
