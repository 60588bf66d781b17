#pragma once
// Images held in memory: their pixels in one of the formats of PixelFormat.h, a palette for
// the indexed formats, and direct access to the pixels through locking.
//
// An image whose creation failed has no content: width and height read 0, and every operation
// on it fails with a status and changes nothing. Each object remembers its last failure.

#include "Metadata.h"
#include "PixelFormat.h"
#include "Status.h"
#include "Types.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace imaging {

struct CLSID;
struct SaveOptions;

// Largest image the layer creates or decodes, in pixels, and the longest side. An image that
// needs more is refused with ValueOverflow before any memory is taken for it.
inline constexpr int64_t kMaxImagePixels = int64_t(1) << 28;
inline constexpr int32_t kMaxImageSide = 65535;

// Ok for a size a bitmap may have; otherwise ValueOverflow, "a bitmap of W x H pixels is beyond
// the size limit" (sides of at least 1 assumed).
StatusRecord CheckBitmapSize(int64_t width, int64_t height);

// Lowers the largest image FromFile and FromMemory decode, in pixels (at most kMaxImagePixels;
// 0 restores it), and the memory one decode may take, in bytes (0: no limit of its own), for
// the whole process: for services that cap what a file may cost, and for harnesses that must
// explore rather than allocate. A file whose stated size needs more is refused with
// ValueOverflow, naming the limit, before memory is taken for it.
void SetDecodeLimit(int64_t pixels);
void SetDecodeMemoryLimit(uint64_t bytes);

enum ImageLockMode : unsigned {
    ImageLockModeRead = 1,
    ImageLockModeWrite = 2,
};

// A locked area. Row y of the area starts at Scan0 + y * Stride (Stride may be negative);
// pixel x of a row starts at byte x * bits / 8 of it.
struct BitmapData {
    uint32_t Width = 0;
    uint32_t Height = 0;
    int32_t Stride = 0;
    imaging::PixelFormat PixelFormat = PixelFormatUndefined;
    void* Scan0 = nullptr;
};

// How many images exist right now: for checking that none outlives its owner.
int64_t LiveImageCount();

class Image {
public:
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    virtual ~Image();

    // Size in pixels; 0 x 0 for an image without content.
    uint32_t GetWidth() const { return m_width; }
    uint32_t GetHeight() const { return m_height; }
    // PixelFormatUndefined for an image without content.
    PixelFormat GetPixelFormat() const { return m_format; }
    bool HasContent() const { return m_scan0 != nullptr; }

    // The palette of an indexed image: PaletteSizeOf(format) entries of packed ARGB; the
    // entries a decoded file did not define are opaque black. Null for other formats.
    const uint32_t* GetPalette() const;
    // Replaces the first `count` palette entries. InvalidParameter for non-indexed images or a
    // count beyond the palette.
    Status SetPalette(const uint32_t* argb, int count);

    // Encodes the image to `path` (bytes as the file system takes them) with the encoder whose
    // class id is given (see Encoders.h), with that encoder's defaults. The file is written
    // beside the target and renamed over it only when complete, so a failure leaves any
    // existing file untouched; a target that exists but is not a regular file (a device, a
    // FIFO) is written in place. JPEG and BMP hold no alpha: pixels that are not opaque are
    // composited onto white there.
    Status Save(const std::string& path, const CLSID* encoder);
    Status Save(const std::string& path, const CLSID* encoder, const SaveOptions& options);

    // What the file this image was decoded from says besides its pixels; empty for an image
    // made in memory.
    const Metadata& GetMetadata() const { return m_metadata; }

    // The last failure of any operation on this object (Ok if none) and why, in a sentence.
    Status GetLastStatus() const { return m_lastStatus.code; }
    const std::string& GetLastReason() const { return m_lastStatus.reason; }

protected:
    Image();
    Status Fail(Status code, std::string reason) const;
    Status FailNoContent() const;

    // Pixel memory: owned unless the caller supplied it.
    struct FreeDeleter { void operator()(uint8_t* p) const; };
    std::unique_ptr<uint8_t, FreeDeleter> m_owned;
    uint8_t* m_scan0 = nullptr;
    int32_t m_stride = 0;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    PixelFormat m_format = PixelFormatUndefined;
    std::array<uint32_t, 256> m_palette{};
    Metadata m_metadata;
    mutable StatusRecord m_lastStatus;

    friend class Graphics;
    friend class Bitmap;
    friend struct ImageAccess;
};

class Bitmap : public Image {
public:
    // A bitmap of the given size and format with all pixel bytes 0. Rows are stored top-down
    // with a stride rounded up to whole 32-bit words. Fails (no content) for a size of 0 or
    // less, a format not in kAllPixelFormats, a size beyond the limits, or lack of memory.
    // Indexed bitmaps start with a black-and-white (1 bit) or grey-ramp palette.
    Bitmap(int32_t width, int32_t height, PixelFormat format);

    // A bitmap over memory the caller owns and keeps alive for the bitmap's lifetime. Row y
    // starts at scan0 + y * stride; the stride may be negative (bottom-up rows).
    Bitmap(int32_t width, int32_t height, int32_t stride, PixelFormat format, uint8_t* scan0);

    // Decodes an image file. Never returns null; when decoding fails the bitmap has no
    // content and GetLastStatus / GetLastReason say why (FileNotFound, AccessDenied,
    // UnknownImageFormat, ValueOverflow for an image beyond the limits, ...).
    static std::unique_ptr<Bitmap> FromFile(const std::string& path);
    // The same for an image file's bytes in memory, which need not outlive the call.
    static std::unique_ptr<Bitmap> FromMemory(const uint8_t* data, size_t size);

    // A new bitmap holding the area `rect` of this one in `format`, or null on failure (this
    // object's last status says why). Converting to the bitmap's own format copies the bytes
    // and the palette exactly; conversion to 32bppARGB is exact for 24- and 32-bit sources and
    // yields every other format's true colour and alpha.
    std::unique_ptr<Bitmap> Clone(const Rect& rect, PixelFormat format) const;

    // Gives direct access to the pixels of `rect` (the whole bitmap when null). In the
    // bitmap's own format the buffer is the bitmap's memory; in PixelFormat32bppARGB it is a
    // converted copy, and UnlockBits of a write lock converts the written bytes back (not
    // supported for indexed bitmaps). One lock at a time; other formats give NotImplemented.
    Status LockBits(const Rect* rect, unsigned flags, PixelFormat format, BitmapData* data);
    Status UnlockBits(BitmapData* data);

    ~Bitmap() override;

private:
    struct Lock;
    std::unique_ptr<Lock> m_lock;
};

} // namespace imaging
