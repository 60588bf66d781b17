#pragma once
// Window geometry in device pixels: points, sizes and rectangles (right and bottom exclusive).

#include <cstdint>

namespace framework {

struct CPoint {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const CPoint&, const CPoint&) = default;
};

struct CSize {
    int32_t cx = 0;
    int32_t cy = 0;
    friend bool operator==(const CSize&, const CSize&) = default;
};

struct CRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    friend bool operator==(const CRect&, const CRect&) = default;
};

using UINT = uint32_t;

// Key-state flags of mouse messages.
inline constexpr UINT MK_LBUTTON = 0x0001;
inline constexpr UINT MK_RBUTTON = 0x0002;
inline constexpr UINT MK_SHIFT = 0x0004;
inline constexpr UINT MK_CONTROL = 0x0008;
inline constexpr UINT MK_MBUTTON = 0x0010;

// Extended window styles.
inline constexpr uint32_t WS_EX_CLIENTEDGE = 0x00000200;

// Results of OnMouseActivate.
inline constexpr int MA_ACTIVATE = 1;

} // namespace framework
