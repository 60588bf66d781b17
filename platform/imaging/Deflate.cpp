#include "Deflate.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace imaging {

namespace {

// Under Z_RLE zlib's level only sets its buffers; the fastest is as small as any.
constexpr int kLevel = 1;

} // namespace

DeflateStream::DeflateStream(size_t expectedInput, bool zlibWrapped) {
    m_ok = deflateInit2(&m_z, kLevel, Z_DEFLATED, zlibWrapped ? MAX_WBITS : -MAX_WBITS, 8, Z_RLE) == Z_OK;
    // Left uninitialised, so the pages the output never reaches are never touched.
    m_capacity = m_ok ? deflateBound(&m_z, uLong(expectedInput)) + 64 : 0;
    m_out.reset(new (std::nothrow) uint8_t[m_capacity]);
    m_ok = m_ok && m_out;
}

DeflateStream::~DeflateStream() { deflateEnd(&m_z); }

bool DeflateStream::Add(const uint8_t* data, size_t size, int flush) {
    m_z.next_in = const_cast<Bytef*>(data);
    m_z.avail_in = uInt(size);
    while (m_ok) {
        if (m_size == m_capacity) Grow();
        if (!m_ok) break;
        m_z.next_out = m_out.get() + m_size;
        m_z.avail_out = uInt(std::min<size_t>(m_capacity - m_size, UINT_MAX));
        const int r = deflate(&m_z, flush);
        m_size = size_t(m_z.next_out - m_out.get());
        if (r == Z_STREAM_END) break;
        m_ok = r == Z_OK || r == Z_BUF_ERROR;
        // Done when zlib took everything and had room left to say all it had.
        if (m_z.avail_in == 0 && m_z.avail_out > 0) break;
    }
    return m_ok;
}

Compressed DeflateStream::Take() {
    Compressed c;
    c.ok = m_ok;
    c.size = m_size;
    c.bytes = std::move(m_out);
    m_ok = false;
    return c;
}

void DeflateStream::Grow() {
    const size_t bigger = m_capacity * 2 + 4096;
    std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[bigger]);
    if (!out) {
        m_ok = false;
        return;
    }
    std::memcpy(out.get(), m_out.get(), m_size);
    m_out = std::move(out);
    m_capacity = bigger;
}

} // namespace imaging
