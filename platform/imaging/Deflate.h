#pragma once
// Internal: zlib compression into memory, for the encoders that compress pieces of an image
// on several cores.

#include <cstddef>
#include <cstdint>
#include <memory>

#include <zlib.h>

namespace imaging {

// The output of one stream; `ok` is false when memory ran out or zlib failed.
struct Compressed {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
    bool ok = false;
};

// One deflate stream with run-length matching (distance 1), which on filtered or predicted
// image rows comes within a few per cent of zlib's default level at a fraction of its time.
// `zlibWrapped` adds zlib's header and Adler-32; without it the stream is raw deflate.
class DeflateStream {
public:
    // `expectedInput` sizes the output buffer; more input is still taken.
    DeflateStream(size_t expectedInput, bool zlibWrapped);
    ~DeflateStream();
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    // Compresses `size` bytes with zlib's `flush` mode (Z_NO_FLUSH, Z_SYNC_FLUSH: end on a byte
    // boundary and go on, Z_FINISH). False once memory ran out or zlib failed.
    bool Add(const uint8_t* data, size_t size, int flush);
    // The output so far; the stream is done with.
    Compressed Take();

private:
    void Grow();

    z_stream m_z{};
    bool m_ok = false;
    std::unique_ptr<uint8_t[]> m_out;
    size_t m_capacity = 0, m_size = 0;
};

} // namespace imaging
