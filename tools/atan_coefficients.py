#!/usr/bin/env python3
"""Coefficients of the vector arc tangent in warp/MapRowAvx2.cpp.

atan(r) = r * Q(r^2) for 0 <= r <= 1, with Q(s) = atan(sqrt(s)) / sqrt(s). Q is fitted by a
Chebyshev polynomial on [0, 1], its coefficients rounded to double. The script prints them,
lowest degree first, together with the largest relative error of the rounded polynomial
against Q on a dense grid and the sum of the coefficients' magnitudes, which bounds the
rounding error of its evaluation (see the comment on kAtanBound).

Needs mpmath (Debian: python3-mpmath). Run: tools/atan_coefficients.py [COUNT]
"""
import sys

import mpmath as mp

mp.mp.dps = 50


def q(s):
    if s == 0:
        return mp.mpf(1)
    r = mp.sqrt(s)
    return mp.atan(r) / r


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 18
    poly = mp.chebyfit(q, [0, 1], count)
    rounded = [mp.mpf(float(c)) for c in poly]
    worst = max(abs(mp.polyval(rounded, s) / q(s) - 1) for s in mp.linspace(0, 1, 20001))
    for c in reversed(rounded):
        print(f"    {float(c).hex()},")
    print(f"// largest relative error {mp.nstr(worst, 4)} (2^{float(mp.log(worst, 2)):.2f})")
    print(f"// sum of magnitudes {mp.nstr(sum(abs(c) for c in rounded), 6)}")


if __name__ == "__main__":
    main()
