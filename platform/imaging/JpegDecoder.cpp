#include "JpegDecoder.h"

#include "Orientation.h"
#include "ParallelRows.h"
#include "QtBridge.h"

#include <turbojpeg.h>

#include <string>

namespace imaging {

namespace {

struct Handle {
    tjhandle tj = tjInitDecompress();
    ~Handle() {
        if (tj) tjDestroy(tj);
    }
};

// Adobe's CMYK JPEGs hold the inks inverted: 255 is no ink. Rows of 4 bytes to B, G, R.
void CmykToBgr(const uint8_t* cmyk, int32_t cmykStride, int32_t width, int32_t height, uint8_t* bgr, int32_t stride) {
    ParallelRows(height, [&](int32_t first, int32_t last) {
        for (int32_t row = first; row < last; ++row) {
            const uint8_t* in = cmyk + int64_t(row) * cmykStride;
            uint8_t* out = bgr + int64_t(row) * stride;
            for (int32_t x = 0; x < width; ++x, in += 4, out += 3) {
                const uint32_t c = in[0], m = in[1], y = in[2], k = in[3]; // all read before any is written
                out[0] = uint8_t(k * y / 255);
                out[1] = uint8_t(k * m / 255);
                out[2] = uint8_t(k * c / 255);
            }
        }
    });
}

} // namespace

std::unique_ptr<Bitmap> DecodeJpeg(const uint8_t* data, size_t size, int orientation, const DecodeLimits& limits,
                                   StatusRecord* why, bool* headerRead) {
    *headerRead = false;
    Handle h;
    if (h.tj == nullptr) {
        *why = {OutOfMemory, "cannot be opened: " + NotEnoughMemory("to decode it", size).reason};
        return nullptr;
    }
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (size > 0xFFFFFFFFu || tjDecompressHeader3(h.tj, data, static_cast<unsigned long>(size), &width, &height,
                                                   &subsampling, &colourspace) != 0)
        return nullptr;
    *headerRead = true;
    const bool grey = colourspace == TJCS_GRAY, cmyk = colourspace == TJCS_CMYK || colourspace == TJCS_YCCK;
    const PixelFormat format = grey ? PixelFormat8bppIndexed : PixelFormat24bppRGB;
    const int bytes = grey ? 1 : 3;
    const bool turned = TurnsAQuarter(orientation);
    // The bitmap, and the buffer decoded into first when one is needed.
    const uint64_t perPixel = uint64_t(bytes) + (cmyk ? 4 : orientation != 1 ? uint64_t(bytes) : 0);
    if (width > kMaxImageSide || height > kMaxImageSide) {
        *why = {ValueOverflow, "is " + std::to_string(width) + " x " + std::to_string(height) +
                                   " pixels, more than this program can hold"};
        return nullptr;
    }
    if (StatusRecord beyond = CheckStatedSize(limits, width, height, perPixel); beyond.code != Ok) {
        *why = beyond;
        return nullptr;
    }
    auto bitmap = std::make_unique<Bitmap>(turned ? height : width, turned ? width : height, format);
    auto noRoom = [&](const Bitmap& b) {
        *why = {b.GetLastStatus(), "cannot be opened: " + b.GetLastReason()};
        return nullptr;
    };
    if (!bitmap->HasContent()) return noRoom(*bitmap);
    // Upright files and grey or colour ones decode into the bitmap itself; the others into a
    // buffer first, from which they are turned or converted.
    std::unique_ptr<Bitmap> stored;
    if (orientation != 1 || cmyk) {
        stored = std::make_unique<Bitmap>(width, height, cmyk ? PixelFormat32bppRGB : format);
        if (!stored->HasContent()) return noRoom(*stored);
    }
    Bitmap& target = stored ? *stored : *bitmap;
    const int pixelFormat = cmyk ? TJPF_CMYK : grey ? TJPF_GRAY : TJPF_BGR;
    if (tjDecompress2(h.tj, data, static_cast<unsigned long>(size), ImageAccess::Scan0(target), width,
                      ImageAccess::Stride(target), height, pixelFormat, TJFLAG_ACCURATEDCT) != 0 &&
        tjGetErrorCode(h.tj) != TJERR_WARNING) {
        // libjpeg's own working memory may run out (its message says so): not a damaged file.
        if (std::string(tjGetErrorStr2(h.tj)).find("Insufficient memory") != std::string::npos) {
            const uint64_t bytes = uint64_t(ImageAccess::Stride(target)) * uint64_t(height);
            *why = {OutOfMemory, "cannot be opened: " + NotEnoughMemory("to decode it", bytes).reason};
            return nullptr;
        }
        // What the completeness check let through and libjpeg still refuses.
        *why = {UnknownImageFormat, "is damaged or incomplete"};
        return nullptr;
    }
    if (cmyk) {
        // Into the bitmap, or in place for the turn: each row's 3-byte pixels land behind its
        // 4-byte ones still to be read.
        uint8_t* rows = ImageAccess::Scan0(*stored);
        const int32_t stride = ImageAccess::Stride(*stored);
        const bool inPlace = orientation != 1;
        CmykToBgr(rows, stride, width, height, inPlace ? rows : ImageAccess::Scan0(*bitmap),
                  inPlace ? stride : ImageAccess::Stride(*bitmap));
        if (!inPlace) stored.reset();
    }
    if (stored)
        OrientPixels(ImageAccess::Scan0(*stored), ImageAccess::Stride(*stored), width, height, bytes, orientation,
                     ImageAccess::Scan0(*bitmap), ImageAccess::Stride(*bitmap));
    return bitmap;
}

} // namespace imaging
