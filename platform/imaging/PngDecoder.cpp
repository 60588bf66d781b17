#include "PngDecoder.h"

#include "Orientation.h"
#include "QtBridge.h"

#include <png.h>

#include <csetjmp>
#include <string>

namespace imaging {

namespace {

struct Reader {
    QIODevice* device;
    std::string failed;
};

void ReadFromDevice(png_structp png, png_bytep data, png_size_t size) {
    auto* reader = static_cast<Reader*>(png_get_io_ptr(png));
    if (reader->device->read(reinterpret_cast<char*>(data), qint64(size)) != qint64(size))
        png_error(png, "file ends early");
}

void OnError(png_structp png, png_const_charp message) {
    auto* reader = static_cast<Reader*>(png_get_error_ptr(png));
    if (reader->failed.empty()) reader->failed = message;
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// libpng jumps back here on failure; these frames hold nothing that needs destroying.
bool ReadHeader(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_read_info(png, info);
    return true;
}

bool ReadRows(png_structp png, png_infop info, uint8_t* scan0, int32_t stride, uint32_t height) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_set_bgr(png); // the bitmap's byte order: B, G, R (, A)
    png_read_update_info(png, info);
    for (uint32_t y = 0; y < height; ++y) png_read_row(png, scan0 + int64_t(y) * stride, nullptr);
    png_read_end(png, nullptr); // what follows the pixels, as Qt's reader reads it
    return true;
}

struct ReadStruct {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~ReadStruct() { png_destroy_read_struct(&png, &info, nullptr); }
};

} // namespace

std::unique_ptr<Bitmap> DecodePng(QIODevice& device, int orientation, const DecodeLimits& limits,
                                  StatusRecord* why, bool* handled) {
    *handled = false;
    const qint64 start = device.pos();
    Reader reader{&device, {}};
    ReadStruct r;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader, OnError, OnWarning);
    if (r.png) r.info = png_create_info_struct(r.png);
    if (r.info == nullptr) {
        *handled = true;
        *why = {OutOfMemory, "cannot be opened: " + NotEnoughMemory("to decode it", 1).reason};
        return nullptr;
    }
    png_set_read_fn(r.png, &reader, ReadFromDevice);
    if (!ReadHeader(r.png, r.info)) { // Qt's reader says what is wrong with it
        device.seek(start);
        return nullptr;
    }
    const uint32_t width = png_get_image_width(r.png, r.info), height = png_get_image_height(r.png, r.info);
    const int type = png_get_color_type(r.png, r.info);
    const bool alpha = type == PNG_COLOR_TYPE_RGB_ALPHA;
    if (png_get_bit_depth(r.png, r.info) != 8 || (type != PNG_COLOR_TYPE_RGB && !alpha) ||
        png_get_interlace_type(r.png, r.info) != PNG_INTERLACE_NONE ||
        png_get_valid(r.png, r.info, PNG_INFO_tRNS) || (alpha && orientation != 1)) {
        device.seek(start);
        return nullptr;
    }
    *handled = true;
    if (width > uint32_t(kMaxImageSide) || height > uint32_t(kMaxImageSide)) {
        *why = {ValueOverflow, "is " + std::to_string(width) + " x " + std::to_string(height) +
                                   " pixels, more than this program can hold"};
        return nullptr;
    }
    const int bytes = alpha ? 4 : 3;
    const uint64_t perPixel = uint64_t(bytes) * (orientation != 1 ? 2 : 1);
    if (StatusRecord beyond = CheckStatedSize(limits, width, height, perPixel); beyond.code != Ok) {
        *why = beyond;
        return nullptr;
    }
    const bool turned = TurnsAQuarter(orientation);
    const PixelFormat format = alpha ? PixelFormat32bppARGB : PixelFormat24bppRGB;
    auto bitmap =
        std::make_unique<Bitmap>(int32_t(turned ? height : width), int32_t(turned ? width : height), format);
    std::unique_ptr<Bitmap> stored;
    if (bitmap->HasContent() && orientation != 1)
        stored = std::make_unique<Bitmap>(int32_t(width), int32_t(height), format);
    for (const Bitmap* b : {bitmap.get(), stored.get()}) {
        if (b && !b->HasContent()) {
            *why = {b->GetLastStatus(), "cannot be opened: " + b->GetLastReason()};
            return nullptr;
        }
    }
    Bitmap& target = stored ? *stored : *bitmap;
    uint8_t* const scan0 = ImageAccess::Scan0(target);
    const int32_t stride = ImageAccess::Stride(target);
    if (!ReadRows(r.png, r.info, scan0, stride, height)) {
        if (reader.failed.find("memory") != std::string::npos) // libpng's row buffers
            *why = {OutOfMemory,
                    "cannot be opened: " + NotEnoughMemory("to decode it", uint64_t(width) * 8).reason};
        else
            *why = {UnknownImageFormat, "is damaged or incomplete"};
        return nullptr;
    }
    if (stored) {
        OrientPixels(scan0, stride, int32_t(width), int32_t(height), bytes, orientation,
                     ImageAccess::Scan0(*bitmap), ImageAccess::Stride(*bitmap));
    }
    return bitmap;
}

} // namespace imaging
