#!/usr/bin/env python3
"""Compares veldar's square root and power kernels with Python's math.isqrt
and pow on seeded random cases at lengths from 1 to a few thousand digits
(and one square root of 40,000): random digits, all nines, powers of ten,
exact squares and their neighbours, leading zeros; the root rounded by every
mode; powers of bases with trailing zeros, n from 0 to 2^64 - 1, kept from 0
digits to past the exact power, and the bound on the power's digits. Usage:
check.py <cases program>. Exit status 0 when every result agrees; a failure
prints the case."""

import math
import os
import random
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import compare  # noqa: E402  (tests/python/compare.py, the driver)

MODES = ("down", "up", "ceiling", "floor", "halfup", "halfdown", "halfeven", "exact")


def number(rng, digits):
    """Text of `digits` digits in one of a few shapes, now and then with
    leading zeros."""
    shape = rng.randrange(6)
    if digits == 0:
        value = 0
    elif shape == 0:
        value = 10 ** digits - 1
    elif shape == 1:
        value = 10 ** rng.randrange(digits)
    elif shape == 2:  # an exact square or a neighbour of one
        root = rng.randrange(10 ** ((digits + 1) // 2))
        value = max(0, root * root + rng.choice((-1, 0, 0, 1, root, root + 1, 2 * root)))
    else:
        value = rng.randrange(10 ** (digits - 1), 10 ** digits)
    text = str(value)
    if rng.randrange(4) == 0:
        text = "0" * rng.randrange(1, 12) + text
    return text


def expected_root(n_text):
    """The root's every digit, then the exact and above-half flags."""
    n = int(n_text)
    root = math.isqrt(n)
    rest = n - root * root
    return str(root).rjust((len(n_text) + 1) // 2, "0") + f" {int(rest == 0)} {int(rest > root)}"


def expected_round(n_text, mode):
    """The root rounded by `mode`: no ties, so every nearest mode is the
    nearest integer, floor((isqrt(4n) + 1) / 2)."""
    n = int(n_text)
    root = math.isqrt(n)
    exact = root * root == n
    if mode == "exact" and not exact:
        return "error Rounding necessary!"
    if mode in ("down", "floor", "exact"):
        value = root
    elif mode in ("up", "ceiling"):
        value = root if exact else root + 1
    else:
        value = (math.isqrt(4 * n) + 1) // 2
    # Every digit of the root, one more where a root of all nines rounds up.
    return str(value).rjust((len(n_text) + 1) // 2, "0")


def expected_power(a_text, n, kept):
    if kept == 0:
        return "-"
    return str(pow(int(a_text), n, 10 ** kept)).rjust(kept, "0")


def cases(rng):
    lengths = [1, 2, 3, 9, 17, 18, 19, 20, 36, 37, 38, 39, 40, 45, 46, 72, 100, 301, 1000, 2500, 4000]
    for length in lengths:
        for _ in range(12 if length <= 100 else 5):
            yield ("sqrt", number(rng, length))
        for _ in range(4):
            yield ("round", number(rng, length), rng.choice(MODES))
    yield ("sqrt", number(rng, 40000))
    yield ("round", "99", "halfeven")
    yield ("round", "9999", "up")
    yield ("round", "0", "exact")
    for _ in range(160):
        a = str(rng.randrange(10 ** rng.choice((1, 2, 9, 19, 20, 50, 300, 3000))))
        if rng.randrange(4) == 0:
            a += "0" * rng.randrange(1, 20)
        if rng.randrange(5) == 0:
            a = "0" * rng.randrange(1, 5) + a
        n = rng.choice((0, 1, 2, 3, rng.randrange(4, 200), rng.randrange(2 ** 64), 2 ** 64 - 1))
        kept = rng.choice((0, 1, 18, 19, 20, 21, 100, 500, 1000, 3000))
        if n > 200 and kept > 1000:
            kept = 1000
        yield ("pow", a, n, kept)
    for _ in range(40):
        a = str(rng.randrange(1, 10 ** rng.choice((1, 5, 15, 16, 40)))) + "0" * rng.randrange(3)
        n = rng.randrange(300)
        yield ("bound", a, n)
        yield ("pow", a, n, len(str(int(a) ** n)) + rng.randrange(3))


def check(case, got):
    """Whether `got` is right for `case`, and what was wanted; a bound on
    the digits of a power may exceed them by up to two."""
    if case[0] == "sqrt":
        want = expected_root(case[1])
    elif case[0] == "round":
        want = expected_round(case[1], case[2])
    elif case[0] == "pow":
        want = expected_power(*case[1:])
    else:
        digits = len(str(int(case[1]) ** case[2]))
        return digits <= int(got) <= digits + 2, f"between {digits} and {digits + 2}"
    return got == want, want


def main():
    compare.allow_long_integers()  # numbers of 40,000 digits
    rng = random.Random(20250611)
    return compare.run(sys.argv[1], list(cases(rng)), check, "Python")


if __name__ == "__main__":
    sys.exit(main())
