#!/usr/bin/env python3
"""Coefficients of the vector arc tangent in warp/MapRowVector.inc (kAtanQ).

ArcTangent reduces x = |t| to r with |r| <= tan(pi/8): r = x below tan(pi/8), (x - 1) / (x + 1)
up to tan(3 pi/8), -1 / x beyond, and adds 0, pi/4 or pi/2. Then atan(r) = r * Q(r^2) with
Q(s) = atan(sqrt(s)) / sqrt(s), fitted by a Chebyshev polynomial on [0, tan(pi/8)^2] (widened
a little, for reductions that land just past the boundary), its coefficients rounded to double.

The script prints them, lowest degree first, with the largest relative error of the rounded
polynomial against Q on a dense grid, and a bound on the rounding error of Estrin's scheme as
AtanPolynomial evaluates it: sum over the terms of |a_i| s^i times the roundings on the term's
way to the result (its multiply-adds and those of the power of s it is multiplied by), in units
of 2^-53, at the largest s, over Q there (the bound grows with s, Q falls).

Needs mpmath (Debian: python3-mpmath). Run: tools/atan_coefficients.py
"""
import mpmath as mp

mp.mp.dps = 50
COUNT = 10


def q(s):
    if s == 0:
        return mp.mpf(1)
    r = mp.sqrt(s)
    return mp.atan(r) / r


# Roundings per term in AtanPolynomial's tree (10 terms, lowest first): terms 0-7 pass four
# multiply-adds (pair, quad, low, final) and are multiplied by s^2 or s^4 as bits 1 and 2 of
# their index say, which carry 1 and 3 roundings; terms 8 and 9 pass two multiply-adds and s^8,
# with 7.
def roundings(i):
    if i >= 8:
        return 2 + 7
    return 4 + (1 if i & 2 else 0) + (3 if i & 4 else 0)


def main():
    top = (mp.sqrt(2) - 1) ** 2 * (1 + mp.mpf(2) ** -20)
    poly = mp.chebyfit(q, [0, top], COUNT)
    rounded = [mp.mpf(float(c)) for c in poly]
    worst = max(abs(mp.polyval(rounded, s) / q(s) - 1) for s in mp.linspace(0, top, 20001))
    for c in reversed(rounded):
        print(f"    {float(c).hex()},")
    print(f"// largest relative error {mp.nstr(worst, 4)} (2^{float(mp.log(worst, 2)):.2f})")
    units = sum(roundings(i) * abs(c) * top**i for i, c in enumerate(reversed(rounded)))
    print(f"// evaluation: at most {mp.nstr(units / q(top), 4)} x 2^-53 relative, "
          f"{mp.nstr(units / q(top) * mp.mpf(2) ** -53, 4)}")


if __name__ == "__main__":
    main()
