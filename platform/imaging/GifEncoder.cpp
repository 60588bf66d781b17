#include "GifEncoder.h"

#include <gif_lib.h>

#include <memory>
#include <unordered_map>

namespace imaging {

namespace {

int WriteToVector(GifFileType* gif, const GifByteType* bytes, int length) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), bytes, bytes + length);
    return length;
}

struct Palette {
    std::vector<GifColorType> colors;
    int transparentIndex = -1;
};

// Assigns every pixel a palette index: exactly when the opaque colours fit, else by giflib's
// median cut over the opaque pixels.
bool Index(const uint8_t* argb, int32_t stride, int w, int h, std::vector<GifByteType>& indices,
           Palette& palette) {
    const size_t count = size_t(w) * size_t(h);
    indices.assign(count, 0);
    bool anyTransparent = false;
    std::unordered_map<uint32_t, int> exact;
    bool fits = true;
    for (int y = 0; y < h && fits; ++y) {
        const uint8_t* row = argb + int64_t(y) * stride;
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = row + 4 * x;
            if (p[3] < 128) { anyTransparent = true; continue; }
            const uint32_t rgb = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
            if (exact.try_emplace(rgb, int(exact.size())).second && exact.size() > 256) {
                fits = false;
                break;
            }
        }
    }
    const int limit = anyTransparent ? 255 : 256;
    if (fits && int(exact.size()) <= limit) {
        palette.colors.resize(exact.size());
        for (auto [rgb, i] : exact)
            palette.colors[i] = {GifByteType(rgb >> 16), GifByteType(rgb >> 8), GifByteType(rgb)};
        if (anyTransparent) palette.transparentIndex = int(exact.size());
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = argb + int64_t(y) * stride;
            for (int x = 0; x < w; ++x) {
                const uint8_t* p = row + 4 * x;
                GifByteType& index = indices[size_t(y) * w + x];
                index = p[3] < 128 ? GifByteType(palette.transparentIndex)
                                   : GifByteType(exact[uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]]);
            }
        }
        return true;
    }

    std::vector<GifByteType> r, g, b;
    std::vector<size_t> where;
    for (auto* channel : {&r, &g, &b}) channel->reserve(count);
    where.reserve(count);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = argb + int64_t(y) * stride;
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = row + 4 * x;
            if (p[3] < 128) { anyTransparent = true; continue; }
            b.push_back(p[0]);
            g.push_back(p[1]);
            r.push_back(p[2]);
            where.push_back(size_t(y) * w + x);
        }
    }
    int size = anyTransparent ? 255 : 256;
    std::vector<GifColorType> map(256);
    std::vector<GifByteType> opaque(where.size());
    if (GifQuantizeBuffer(unsigned(where.size()), 1, &size, r.data(), g.data(), b.data(),
                          opaque.data(), map.data()) != GIF_OK)
        return false;
    palette.colors.assign(map.begin(), map.begin() + size);
    if (anyTransparent) {
        palette.transparentIndex = size;
        indices.assign(count, GifByteType(size));
    }
    for (size_t i = 0; i < where.size(); ++i) indices[where[i]] = opaque[i];
    return true;
}

} // namespace

StatusRecord EncodeGif(const Bitmap& image, std::vector<uint8_t>& out) {
    const int w = int(image.GetWidth()), h = int(image.GetHeight());
    std::unique_ptr<Bitmap> argb(image.Clone({0, 0, w, h}, PixelFormat32bppARGB));
    if (!argb) return {image.GetLastStatus(), image.GetLastReason()};
    BitmapData data;
    if (argb->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &data) != Ok)
        return {argb->GetLastStatus(), argb->GetLastReason()};
    std::vector<GifByteType> indices;
    Palette palette;
    const bool indexed = Index(static_cast<const uint8_t*>(data.Scan0), data.Stride, w, h, indices, palette);
    argb->UnlockBits(&data);
    if (!indexed) return {OutOfMemory, "the colours could not be reduced for GIF"};

    // A GIF colour map has a power-of-two size, at least 2.
    int mapSize = 2;
    while (mapSize < int(palette.colors.size()) + (palette.transparentIndex >= 0)) mapSize *= 2;
    std::vector<GifColorType> colors(size_t(mapSize), GifColorType{0, 0, 0});
    std::copy(palette.colors.begin(), palette.colors.end(), colors.begin());

    out.clear();
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteToVector, &error);
    if (!gif) return {OutOfMemory, std::string("GIF encoder: ") + GifErrorString(error)};
    ColorMapObject* map = GifMakeMapObject(mapSize, colors.data());
    EGifSetGifVersion(gif, true);
    bool ok = map && EGifPutScreenDesc(gif, w, h, 8, 0, map) == GIF_OK;
    if (ok && palette.transparentIndex >= 0) {
        GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, palette.transparentIndex};
        GifByteType extension[4];
        const size_t length = EGifGCBToExtension(&gcb, extension);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(length), extension) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < h; ++y) ok = EGifPutLine(gif, indices.data() + size_t(y) * w, w) == GIF_OK;
    if (!ok) error = gif->Error;
    if (map) GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    if (!ok) return {GenericError, std::string("GIF encoder: ") + GifErrorString(error)};
    return {};
}

} // namespace imaging
