#include "Bitmap.h"

#include "PixelCodec.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace imaging {

namespace {

void DefaultPalette(PixelFormat format, std::array<uint32_t, 256>& palette) {
    palette.fill(0xFF000000u);
    const int n = PaletteSizeOf(format);
    for (int i = 0; i < n; ++i) {
        uint32_t v = uint32_t(i * 255 / (n - 1));
        palette[i] = 0xFF000000u | v << 16 | v << 8 | v;
    }
}

int64_t RowBytes(PixelFormat format, int64_t width) {
    return (width * GetPixelFormatSize(format) + 7) / 8;
}

// Zeroed memory for the pixels, or null. Large bitmaps ask for huge pages: the warp reads its
// source along lines that may cross many rows, and with 4 KB pages nearly every row it
// touches costs a TLB miss (a 4000 x 3000 warp: about 10% faster). The advice only covers the
// whole 2 MB pages inside the block and may be ignored; nothing depends on it.
uint8_t* AllocatePixels(size_t bytes) {
    auto* memory = static_cast<uint8_t*>(std::calloc(bytes, 1));
    constexpr uintptr_t kHugePage = uintptr_t(2) << 20;
    if (memory != nullptr && bytes >= 4 * kHugePage) {
        const uintptr_t start = (reinterpret_cast<uintptr_t>(memory) + kHugePage - 1) & ~(kHugePage - 1);
        const uintptr_t end = (reinterpret_cast<uintptr_t>(memory) + bytes) & ~(kHugePage - 1);
        if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    }
    return memory;
}

std::atomic<int64_t> g_liveImages{0};

} // namespace

// ---------------------------------------------------------------------------------- Image

int64_t LiveImageCount() { return g_liveImages.load(); }

void Image::FreeDeleter::operator()(uint8_t* p) const { std::free(p); }

Image::Image() { ++g_liveImages; }
Image::~Image() { --g_liveImages; }

Status Image::Fail(Status code, std::string reason) const {
    m_lastStatus = {code, std::move(reason)};
    return code;
}

Status Image::FailNoContent() const { return Fail(WrongState, "the image has no content"); }

const uint32_t* Image::GetPalette() const {
    return HasContent() && IsIndexedPixelFormat(m_format) ? m_palette.data() : nullptr;
}

Status Image::SetPalette(const uint32_t* argb, int count) {
    if (!HasContent()) return FailNoContent();
    if (!IsIndexedPixelFormat(m_format) || argb == nullptr || count < 0 ||
        count > PaletteSizeOf(m_format))
        return Fail(InvalidParameter, "the palette does not fit the image's format");
    std::copy(argb, argb + count, m_palette.begin());
    return Ok;
}

// --------------------------------------------------------------------------------- Bitmap

struct Bitmap::Lock {
    Rect rect;
    unsigned flags = 0;
    PixelFormat format = PixelFormatUndefined;
    std::vector<uint8_t> converted; // empty for a lock in the bitmap's own format
};

Bitmap::~Bitmap() = default;

StatusRecord CheckBitmapSize(int64_t width, int64_t height) {
    if (width <= kMaxImageSide && height <= kMaxImageSide && width * height <= kMaxImagePixels) return {};
    return {ValueOverflow,
            "a bitmap of " + std::to_string(width) + " x " + std::to_string(height) + " pixels is beyond the size limit"};
}

Bitmap::Bitmap(int32_t width, int32_t height, PixelFormat format) {
    if (width <= 0 || height <= 0 || !IsKnownPixelFormat(format)) {
        Fail(InvalidParameter, "a bitmap needs a positive size and a known pixel format");
        return;
    }
    if (const StatusRecord fits = CheckBitmapSize(width, height); fits.code != Ok) {
        Fail(fits.code, fits.reason);
        return;
    }
    const int64_t stride = StrideFor(format, width);
    uint8_t* memory = AllocatePixels(size_t(stride) * size_t(height));
    if (memory == nullptr) {
        const StatusRecord s = NotEnoughMemory("for a bitmap of " + std::to_string(width) + " x " +
                                                   std::to_string(height) + " pixels",
                                               uint64_t(stride) * uint64_t(height));
        Fail(s.code, s.reason);
        return;
    }
    m_owned.reset(memory);
    m_scan0 = memory;
    m_stride = int32_t(stride);
    m_width = uint32_t(width);
    m_height = uint32_t(height);
    m_format = format;
    DefaultPalette(format, m_palette);
}

Bitmap::Bitmap(int32_t width, int32_t height, int32_t stride, PixelFormat format,
               uint8_t* scan0) {
    if (width <= 0 || height <= 0 || !IsKnownPixelFormat(format) || scan0 == nullptr ||
        (stride < 0 ? -int64_t(stride) : int64_t(stride)) < RowBytes(format, width)) {
        Fail(InvalidParameter, "the memory does not describe a bitmap of that size and format");
        return;
    }
    m_scan0 = scan0;
    m_stride = stride;
    m_width = uint32_t(width);
    m_height = uint32_t(height);
    m_format = format;
    DefaultPalette(format, m_palette);
}

std::unique_ptr<Bitmap> Bitmap::Clone(const Rect& rect, PixelFormat format) const {
    if (!HasContent()) {
        FailNoContent();
        return nullptr;
    }
    if (rect.X < 0 || rect.Y < 0 || rect.Width <= 0 || rect.Height <= 0 ||
        int64_t(rect.X) + rect.Width > m_width || int64_t(rect.Y) + rect.Height > m_height) {
        Fail(InvalidParameter, "the area to copy lies outside the image");
        return nullptr;
    }
    if (format != m_format && format != PixelFormat32bppARGB) {
        Fail(NotImplemented, "copies convert only to 32-bit ARGB");
        return nullptr;
    }
    auto copy = std::make_unique<Bitmap>(rect.Width, rect.Height, format);
    if (!copy->HasContent()) {
        m_lastStatus = copy->m_lastStatus;
        return nullptr;
    }
    const int bits = GetPixelFormatSize(m_format);
    if (format == m_format && (int64_t(rect.X) * bits) % 8 == 0) {
        const size_t rowBytes = size_t(RowBytes(format, rect.Width));
        for (int32_t y = 0; y < rect.Height; ++y)
            std::memcpy(copy->m_scan0 + int64_t(y) * copy->m_stride,
                        m_scan0 + int64_t(rect.Y + y) * m_stride + int64_t(rect.X) * bits / 8,
                        rowBytes);
        copy->m_palette = m_palette;
        return copy;
    }
    if (format == m_format) { // a sub-byte area that does not start on a byte: move indices
        copy->m_palette = m_palette;
        for (int32_t y = 0; y < rect.Height; ++y) {
            const uint8_t* src = m_scan0 + int64_t(rect.Y + y) * m_stride;
            uint8_t* dst = copy->m_scan0 + int64_t(y) * copy->m_stride;
            for (int32_t x = 0; x < rect.Width; ++x) {
                unsigned index = pixel::IndexAt(m_format, src, rect.X + x);
                if (bits == 1) dst[x >> 3] |= uint8_t(index << (7 - (x & 7)));
                else dst[x >> 1] |= uint8_t((x & 1) ? index : index << 4);
            }
        }
        return copy;
    }
    DispatchPixelFormat(m_format, [&]<PixelFormat F>() {
        for (int32_t y = 0; y < rect.Height; ++y) {
            const uint8_t* src = m_scan0 + int64_t(rect.Y + y) * m_stride;
            uint8_t* dst = copy->m_scan0 + int64_t(y) * copy->m_stride;
            for (int32_t x = 0; x < rect.Width; ++x) {
                Bgra c = ReadTrueColor<F>(src, rect.X + x, m_palette.data());
                dst[4 * x] = c.B;
                dst[4 * x + 1] = c.G;
                dst[4 * x + 2] = c.R;
                dst[4 * x + 3] = c.A;
            }
        }
    });
    return copy;
}

Status Bitmap::LockBits(const Rect* rect, unsigned flags, PixelFormat format,
                        BitmapData* data) {
    if (!HasContent()) return FailNoContent();
    if (data == nullptr || (flags & (ImageLockModeRead | ImageLockModeWrite)) == 0)
        return Fail(InvalidParameter, "a lock needs a record and a read or write mode");
    if (m_lock) return Fail(WrongState, "the bitmap is already locked");
    const Rect r = rect ? *rect : Rect{0, 0, int32_t(m_width), int32_t(m_height)};
    if (r.X < 0 || r.Y < 0 || r.Width <= 0 || r.Height <= 0 ||
        int64_t(r.X) + r.Width > m_width || int64_t(r.Y) + r.Height > m_height)
        return Fail(InvalidParameter, "the area to lock lies outside the image");

    auto lock = std::make_unique<Lock>();
    lock->rect = r;
    lock->flags = flags;
    lock->format = format;
    const int bits = GetPixelFormatSize(m_format);
    if (format == m_format) {
        if ((int64_t(r.X) * bits) % 8 != 0)
            return Fail(InvalidParameter, "the locked area must start on a whole byte");
        data->Stride = m_stride;
        data->Scan0 = m_scan0 + int64_t(r.Y) * m_stride + int64_t(r.X) * bits / 8;
    } else if (format == PixelFormat32bppARGB) {
        if ((flags & ImageLockModeWrite) && IsIndexedPixelFormat(m_format))
            return Fail(NotImplemented, "converted pixels cannot be written into an indexed bitmap");
        std::unique_ptr<Bitmap> copy = Clone(r, PixelFormat32bppARGB);
        if (!copy) return m_lastStatus.code;
        const size_t bytes = size_t(copy->m_stride) * copy->m_height;
        try {
            lock->converted.assign(copy->m_scan0, copy->m_scan0 + bytes);
        } catch (const std::bad_alloc&) {
            const StatusRecord s = NotEnoughMemory("to lock the bitmap", bytes);
            return Fail(s.code, s.reason);
        }
        data->Stride = copy->m_stride;
        data->Scan0 = lock->converted.data();
    } else {
        return Fail(NotImplemented, "pixels can be locked only in the bitmap's own format or in 32-bit ARGB");
    }
    data->Width = uint32_t(r.Width);
    data->Height = uint32_t(r.Height);
    data->PixelFormat = format;
    m_lock = std::move(lock);
    return Ok;
}

Status Bitmap::UnlockBits(BitmapData* data) {
    if (!HasContent()) return FailNoContent();
    if (!m_lock || data == nullptr) return Fail(WrongState, "the bitmap is not locked");
    const Lock& lock = *m_lock;
    if (!lock.converted.empty() && (lock.flags & ImageLockModeWrite)) {
        const int32_t stride = lock.rect.Width * 4;
        for (int32_t y = 0; y < lock.rect.Height; ++y) {
            const uint8_t* src = lock.converted.data() + int64_t(y) * stride;
            uint8_t* dst = m_scan0 + int64_t(lock.rect.Y + y) * m_stride;
            for (int32_t x = 0; x < lock.rect.Width; ++x)
                WriteTrueColor(m_format, dst, lock.rect.X + x,
                               {src[4 * x], src[4 * x + 1], src[4 * x + 2], src[4 * x + 3]});
        }
    }
    m_lock.reset();
    *data = BitmapData{};
    return Ok;
}

} // namespace imaging
