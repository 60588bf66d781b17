#!/usr/bin/env python3
"""Coefficients of the vector arc tangent in warp/MapRowAvx2.cpp.

atan(r) = r * Q(r^2) for 0 <= r <= 1, with Q(s) = atan(sqrt(s)) / sqrt(s). Q is fitted by a
Chebyshev polynomial on [0, 1], its coefficients rounded to double. The script prints them,
lowest degree first, together with the largest relative error of the rounded polynomial
against Q on a dense grid, and a bound on the rounding error of Estrin's scheme as
ArcTangent evaluates it: sum over the terms of |a_i| times the roundings on the term's way
to the result (its multiply-adds and those of the power of s it is multiplied by), in units
of 2^-53, over the smallest Q (pi/4).

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
    # Roundings per term in AtanPolynomial's tree (18 terms, lowest first): terms 0-15 pass
    # five multiply-adds (pair, quad, half, low, final) and are multiplied by s^2, s^4 or s^8
    # as bits 1, 2 and 3 of their index say, which carry 1, 3 and 7 roundings; terms 16 and
    # 17 pass two multiply-adds and s^16, with 15.
    def roundings(i):
        if i >= 16:
            return 2 + 15
        return 5 + (1 if i & 2 else 0) + (3 if i & 4 else 0) + (7 if i & 8 else 0)

    if count == 18:
        units = sum(roundings(i) * abs(c) for i, c in enumerate(reversed(rounded)))
        print(f"// evaluation: at most {mp.nstr(units, 4)} x 2^-53 absolute, "
              f"{mp.nstr(units / (mp.pi / 4) * mp.mpf(2) ** -53, 4)} relative")


if __name__ == "__main__":
    main()
