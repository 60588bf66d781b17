# Writes the files ImageMagick does not write: 32-bit BMPs with the 52- and 56-byte info
# headers (the colour masks, alpha in the 56-byte one), bottom-up and top-down, and a TGA of
# every kind the format allows, 7 x 5, each beside the pixels it was made from (NAME.rgba as
# make-files writes them): ImageMagick 6 reads a bottom-up TGA upside down.  python3 make-by-hand.py
import struct

w, h = 35, 21
for info in (52, 56):
    for rows, order in ((h, "bottom-up"), (-h, "top-down")):
        offset = 14 + info
        bmp = b"BM" + struct.pack("<IIi", offset + w * h * 4, 0, offset)
        bmp += struct.pack("<IiiHHIIiiII", info, w, rows, 1, 32, 3, w * h * 4, 2835, 2835, 0, 0)
        bmp += struct.pack("<III", 0x000000FF, 0x0000FF00, 0x00FF0000)  # red, green, blue
        if info == 56:
            bmp += struct.pack("<I", 0xFF000000)  # alpha
        for i in range(w * h):
            bmp += struct.pack("<I", (i * 7 & 255) << 24 | (i % 251) << 16 | (i % 13) << 8 | i % 256)
        open("bmp-32-masks%d-%s.bmp" % (info, order), "wb").write(bmp)

W, H = 7, 5


def five_bits(x, y):  # blue, green, red of a 16-bit pixel
    return (3 * y + x // 3, 5 + x // 3, 20 - y)


# Pixel (x, y) as B, G, R, A: opaque colours, with alpha at 32 bits; grey for grey images,
# few colours for colour-mapped ones, runs of equal pixels for run-length data. A 5-bit
# channel v reads as v * 255 / 31, as decoders scale it.
def truth(kind, bits, x, y):
    base, run = kind & 7, x // 3
    if base == 2 and bits == 16:
        return tuple(c * 255 // 31 for c in five_bits(x, y)) + (255,)
    if base == 3:
        return (40 * y + 30 * run,) * 3 + (255,)
    if base == 1:
        return (60 * y, 100 * run, 200, 255)
    return (50 * y + run, 90 * run, 7 * x, 60 * y + 5 if bits == 32 else 255)


def stored(kind, bits, x, y):
    c = truth(kind, bits, x, y)
    if kind & 7 == 1:
        return bytes([c[0] // 60 * 3 + c[1] // 100])  # the index into the map below
    if kind & 7 == 3:
        return bytes([c[0]])
    if bits == 16:
        b, g, r = five_bits(x, y)
        return struct.pack("<H", r << 10 | g << 5 | b | 0x8000)
    return bytes(c[:3] if bits == 24 else c)


# kind: 1 colour-mapped, 2 true colour, 3 grey, +8 run-length; descriptor: alpha bits,
# right to left (0x10), top-down (0x20).
def tga(kind, bits, descriptor):
    mapped = kind & 7 == 1
    out = bytes([3, mapped, kind, 0, 0, 15 if mapped else 0, 0, 24 if mapped else 0, 0, 0, 0, 0, W, 0, H, 0, bits,
                 descriptor]) + b"ID!"
    if mapped:  # entry 3 y + run: blue 60 y, green 100 run, red 200
        out += b"".join(bytes([60 * (i // 3), 100 * (i % 3), 200]) for i in range(15))
    pixels = [stored(kind, bits, W - 1 - col if descriptor & 0x10 else col, row if descriptor & 0x20 else H - 1 - row)
              for row in range(H) for col in range(W)]
    i = 0
    while i < len(pixels):
        if kind < 8:
            out += pixels[i]
            i += 1
            continue
        # A run packet where the next pixels repeat, else a raw one of one pixel; packets
        # cross row ends, as the format allows.
        n = 1
        while i + n < len(pixels) and n < 128 and pixels[i + n] == pixels[i]:
            n += 1
        out += bytes([0x80 | (n - 1) if n > 1 else 0]) + pixels[i]
        i += n
    return out


for name, kind, bits, descriptor in [
        ("24", 2, 24, 0), ("24-top-down", 2, 24, 0x20), ("24-right-to-left", 2, 24, 0x10),
        ("24-top-down-right-to-left", 2, 24, 0x30), ("32-alpha", 2, 32, 0x08), ("32-alpha-top-down", 2, 32, 0x28),
        ("16", 2, 16, 0x01), ("mapped", 1, 8, 0), ("grey", 3, 8, 0), ("rle-24", 10, 24, 0),
        ("rle-32-top-down", 10, 32, 0x28), ("rle-16", 10, 16, 0x01), ("rle-mapped-top-down", 9, 8, 0x20),
        ("rle-grey", 11, 8, 0)]:
    open("tga-%s.tga" % name, "wb").write(tga(kind, bits, descriptor))
    with open("tga-%s.tga.rgba" % name, "wb") as rgba:
        for y in range(H):
            for x in range(W):
                b, g, r, a = truth(kind, bits, x, y)
                rgba.write(struct.pack("<4H", 257 * r, 257 * g, 257 * b, 257 * a))
