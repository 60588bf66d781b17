#pragma once
// Internal: raw deflate into memory, for the PNG encoder that compresses bands of an image on
// several cores and joins them into one zlib stream.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace imaging {

// The output of one stream; `ok` is false when memory ran out or a compressor failed.
struct Compressed {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
    bool ok = false;
};

// One band's raw deflate stream, fed row by row, starting with an empty history. Filtered
// image rows suit one of two compressors: zlib's run-length matching (smooth and synthetic
// pictures) or ISA-L's hashed matching at level 2 (photos, about three times as fast). Both
// take the band's first 32 KiB; the one whose output for them is smaller takes the rest.
class BandDeflater {
public:
    // `expectedInput` sizes the output buffers; more input is still taken.
    explicit BandDeflater(size_t expectedInput);
    ~BandDeflater();
    BandDeflater(const BandDeflater&) = delete;
    BandDeflater& operator=(const BandDeflater&) = delete;

    // Compresses `size` more bytes. False once memory ran out or a compressor failed.
    bool Add(const uint8_t* data, size_t size);
    // Ends the band on a byte boundary (a sync flush), or the whole stream when `last`, and
    // gives the output; the deflater is done with.
    Compressed Finish(bool last);

private:
    struct Zlib;
    struct Isal;
    void Choose();
    void KeepSmaller(); // of both compressors, when both still run

    std::unique_ptr<Zlib> m_zlib;
    std::unique_ptr<Isal> m_isal;
    size_t m_tried = 0; // bytes both took, until one is chosen
    bool m_chosen = false;
};

} // namespace imaging
