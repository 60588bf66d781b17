#pragma once
// Internal: what one decode may take, and the check of a file's stated size against it.

#include "Status.h"

#include <cstdint>
#include <string>

namespace imaging {

// The width and height a file's header states, in pixels.
struct StatedSize {
    int64_t width, height;
};

struct DecodeLimits {
    int64_t pixels;  // at most kMaxImagePixels
    uint64_t bytes;  // the memory the decode may take; 0 for no limit of its own
    bool callerSet;  // lowered by the caller: the messages name the limit
};

// Ok, or ValueOverflow with the reason (following the file's name) when a picture of `w` x `h`
// is beyond the pixel limit, or when decoding it takes `bytesPerPixel` bytes a pixel beyond
// the memory limit.
inline StatusRecord CheckStatedSize(const DecodeLimits& limits, int64_t w, int64_t h, uint64_t bytesPerPixel) {
    const std::string size = std::to_string(w) + " x " + std::to_string(h) + " pixels";
    if (w * h > limits.pixels)
        return {ValueOverflow, "is " + size + ", more than " +
                                   (limits.callerSet ? "the limit of " + std::to_string(limits.pixels) + " pixels"
                                                     : std::string("this program can hold"))};
    const uint64_t bytes = uint64_t(w) * uint64_t(h) * bytesPerPixel;
    if (limits.bytes > 0 && bytes > limits.bytes)
        return {ValueOverflow, "is " + size + ": opening it takes " + std::to_string((bytes + (1u << 20) - 1) >> 20) +
                                   " MB, more than the limit of " + std::to_string(limits.bytes >> 20) + " MB"};
    return {};
}

} // namespace imaging
