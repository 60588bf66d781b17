#pragma once
// Value types of the imaging layer: points, rectangles and colours.

#include <cstdint>

namespace imaging {

// Integer point: corner and pointer positions, in pixels.
struct Point {
    int32_t X = 0;
    int32_t Y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

// Single-precision point: all warp geometry.
struct PointF {
    float X = 0.0f;
    float Y = 0.0f;
    friend bool operator==(const PointF&, const PointF&) = default;
};

struct Rect {
    int32_t X = 0;
    int32_t Y = 0;
    int32_t Width = 0;
    int32_t Height = 0;
};

struct RectF {
    float X = 0.0f;
    float Y = 0.0f;
    float Width = 0.0f;
    float Height = 0.0f;
};

// A packed colour: alpha in bits 24-31, red 16-23, green 8-15, blue 0-7.
struct Color {
    uint32_t Argb = 0xFF000000u;

    constexpr Color() = default;
    constexpr explicit Color(uint32_t argb) : Argb(argb) {}
    constexpr Color(uint8_t a, uint8_t r, uint8_t g, uint8_t b)
        : Argb(uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | b) {}

    constexpr uint8_t GetA() const { return uint8_t(Argb >> 24); }
    constexpr uint8_t GetR() const { return uint8_t(Argb >> 16); }
    constexpr uint8_t GetG() const { return uint8_t(Argb >> 8); }
    constexpr uint8_t GetB() const { return uint8_t(Argb); }
};

} // namespace imaging
