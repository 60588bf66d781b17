#pragma once
// Helpers shared by the tests: temporary folders, random bitmaps, pixel comparisons.

#include "imaging/Bitmap.h"
#include "imaging/Encoders.h"
#include "warp/Corners.h"

#include <array>
#include <bit>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

std::vector<uint8_t> ReadFile(const std::string& path);

// The class id of the installed encoder for `mime`; a test failure when there is none.
const imaging::CLSID& EncoderFor(const std::string& mime);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteFile(const std::string& path, const std::string& text);

// A bitmap of the given format whose pixel bytes (and palette, for indexed formats) are
// random; for 32bppARGB half the pixels are opaque, a quarter transparent.
std::unique_ptr<imaging::Bitmap> RandomBitmap(imaging::PixelFormat format, int32_t width,
                                              int32_t height, std::mt19937& rng);

// A copy of the whole of `bitmap` in 32bppARGB.
std::unique_ptr<imaging::Bitmap> ArgbCopy(imaging::Bitmap& bitmap);

// Every pixel row's bytes, top to bottom, tightly packed: what a comparison looks at.
std::vector<uint8_t> PixelBytes(imaging::Bitmap& bitmap);

// How many 4-byte pixels of two byte strings differ by more than `tolerance` in some byte (all
// of them when the lengths differ).
int PixelsApart(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int tolerance);

// Fills every byte of a 32bppARGB bitmap with `value`, so that untouched pixels can be told.
void FillBytes(imaging::Bitmap& bitmap, uint8_t value);

// A 32bppARGB bitmap whose pixel (x, y) is bgra(x, y), bytes B, G, R, A.
std::unique_ptr<imaging::Bitmap> PaintedArgb(int32_t width, int32_t height,
                                             const std::function<std::array<uint8_t, 4>(int32_t x, int32_t y)>& bgra);

// The BGRA bytes of pixel (x, y) of a 32bppARGB bitmap.
std::array<uint8_t, 4> PixelAt(imaging::Bitmap& bitmap, int32_t x, int32_t y);

// The stored layout of `upright` (any format; the copy is 32bppARGB) that EXIF `orientation`
// (1 to 8) turns back into it, by the definition of where row 0 and column 0 are seen.
std::unique_ptr<imaging::Bitmap> StoredAs(imaging::Bitmap& upright, int orientation);
// Sets the EXIF orientation of the image file at `path` (JPEG, PNG, TIFF) with exiv2.
void TagOrientation(const std::string& path, int orientation);

// Four warp corners in the warp's argument order.
struct Quad {
    imaging::Point tl, tr, bl, br;
    warp::Corners Outline() const { return {tl, tr, br, bl}; }
};

// The bits of a floating-point value, for comparisons that tell 0 from -0 and NaNs apart.
inline uint32_t Bits(float f) { return std::bit_cast<uint32_t>(f); }
inline uint64_t Bits(double d) { return std::bit_cast<uint64_t>(d); }

// A deflate stream inflated (zlib-wrapped, its Adler-32 checked, or raw): empty unless it
// ends the stream, is all used and holds exactly `expected` bytes.
std::vector<uint8_t> Inflated(const std::vector<uint8_t>& stream, size_t expected, bool zlibWrapped);

// A file under tests/data.
std::string DataFile(const std::string& name);

// Files that must not open, copied into `dir` from tests/data/bad (a FIFO, a folder and a
// missing name made there), each with its file name and what is wrong with it. Also
// "good.png" (32 x 24) and the other whole files the truncated ones were cut from.
struct BadFile {
    std::string name;
    std::string what;
};
std::vector<BadFile> BadInputFiles(const TempDir& dir);

} // namespace testing_support
