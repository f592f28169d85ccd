#!/usr/bin/env python3
"""Compares veldar with Python's decimal module on seeded random cases, in
three groups:
  division  division and rounding: every operation and rounding mode, every
            sign, exact and inexact results and ties, at lengths from 1 to
            past the multiplication and division thresholds;
  roots     square roots, powers and the fixed-point remainder, every mode,
            exact squares among them, lengths 2 to a few hundred and some
            long ones;
  doubles   doubles and floats of every magnitude assigned (their shortest
            text) and assigned with rounding.
Usage: check.py <cases program> <group>. Exit status 0 when every result
agrees; a failure prints the case."""

import decimal
import math
import os
import random
import struct
import sys
from decimal import Decimal

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import compare  # noqa: E402  (tests/python/compare.py, the driver)

MODES = {"down": decimal.ROUND_DOWN, "up": decimal.ROUND_UP, "ceiling": decimal.ROUND_CEILING,
         "floor": decimal.ROUND_FLOOR, "halfup": decimal.ROUND_HALF_UP, "halfdown": decimal.ROUND_HALF_DOWN,
         "halfeven": decimal.ROUND_HALF_EVEN}
CONTEXT = decimal.Context(prec=decimal.MAX_PREC, Emax=decimal.MAX_EMAX, Emin=decimal.MIN_EMIN)


def rounded(numerator, denominator, mode):
    """numerator / denominator rounded to an integer by `mode`, with decimal's
    own rounding: the quotient is cut far below the units and, when that was
    inexact, a last digit 1 keeps it strictly between the cut and the next
    value. None for "exact" when digits would be dropped."""
    decimal.setcontext(decimal.Context(prec=len(str(abs(numerator))) + len(str(abs(denominator))) + 5,
                                       rounding=decimal.ROUND_DOWN, Emax=decimal.MAX_EMAX, Emin=decimal.MIN_EMIN))
    decimal.getcontext().clear_flags()
    quotient = Decimal(numerator) / Decimal(denominator)
    inexact = decimal.getcontext().flags[decimal.Inexact]
    decimal.setcontext(CONTEXT)
    if inexact:
        sticky = quotient.as_tuple()
        quotient = Decimal((sticky.sign, sticky.digits + (1,), sticky.exponent - 1))
    if mode == "exact":
        return None if inexact or quotient != quotient.to_integral_value() else int(quotient)
    return int(quotient.quantize(Decimal(1), rounding=MODES[mode]))


def fixed_text(negative, magnitude, half):
    integer, fraction = divmod(magnitude, 10 ** half)
    fraction_text = str(fraction).rjust(half, "0").rstrip("0") if half else ""
    return ("-" if negative else "") + str(integer) + "." + (fraction_text or "0")


def scaled(text, half):
    return int(Decimal(text).scaleb(half))


def expected(op, mode, length, a, b):
    half = length // 2
    if op in ("int/", "int%"):
        x, y = int(a), int(b)
        if y == 0:
            return "error Division by zero!"
        if op == "int%":
            r = abs(x) % abs(y)
            return ("-" if x < 0 and r else "") + str(r)
        q = rounded(x, y, mode)
        if q is None:
            return "error Rounding necessary!"
        return str(q)
    if op == "intsqrt":
        x = int(a)
        return "error Square root of a negative number!" if x < 0 else str(math.isqrt(x))
    if op == "intpow":
        x, n = int(a), int(b)
        return ("-" if x < 0 and n % 2 else "") + str(pow(abs(x), n, 10 ** length))
    if op in ("double", "float", "assigndouble"):
        return expected_binary(op, mode, length, a)
    x = scaled(a, half)
    if op == "assign":
        k = rounded(int(Decimal(a).scaleb(half + 60)), 10 ** 60, mode)  # the text has at most 60 fraction digits
        if k is None:
            return "error Rounding necessary!"
        if abs(k) >= 10 ** length:
            return "error Input int bigger than size!"
        return fixed_text(k < 0, abs(k), half)
    if op == "round":
        places = half - int(b)
        k = rounded(x, 10 ** places, mode)
        if k is None:
            return "error Rounding necessary!"
        magnitude = abs(k) * 10 ** places % 10 ** length
        return fixed_text(k < 0 and magnitude != 0, magnitude, half)
    if op == "fixsqrt":
        return expected_square_root(mode, length, a)
    if op == "fixpow":
        return expected_power(mode, length, a, int(b))
    y = scaled(b, half)
    if op == "fix%":
        if y == 0:
            return "error Division by zero!"
        decimal.setcontext(CONTEXT)
        rest = Decimal(a) % Decimal(b)  # the sign of the dividend, as C's fmod
        k = scaled(str(rest), half)
        return fixed_text(k < 0, abs(k), half)
    # The sign flags: text's minus on a number that is not zero.
    negative = (a.startswith("-") and x != 0) != (b.startswith("-") and y != 0)
    if op == "fix/":
        if y == 0:
            return "error Division by zero!"
        k = rounded(abs(x) * 10 ** half, abs(y), mode if not negative else flip(mode))
    else:
        k = rounded(abs(x) * abs(y), 10 ** half, mode if not negative else flip(mode))
    if k is None:
        return "error Rounding necessary!"
    return fixed_text(negative, k % 10 ** length, half)


def sticky_rounded(value, places, mode, inexact):
    """The Decimal `value`, an approximation far finer than 10^-places of a
    number that is exact when not `inexact`, rounded to `places` fraction
    digits by `mode`; an inexact value is cut and given a last digit 1, so
    that it lies strictly between the cut and the next value, as the true
    number does. None for "exact" when the number has more digits."""
    decimal.setcontext(CONTEXT)
    if inexact:
        cut = value.quantize(Decimal(10) ** -(places + 8), rounding=decimal.ROUND_DOWN)
        value = cut + Decimal(10) ** -(places + 9)
    if mode == "exact":
        if inexact or value != value.quantize(Decimal(10) ** -places):
            return None
        mode = "down"
    return value.quantize(Decimal(10) ** -places, rounding=MODES[mode])


def expected_square_root(mode, length, a):
    half = length // 2
    x = Decimal(a)
    if x < 0:
        return "error Square root of a negative number!"
    digits = len(str(scaled(a, half))) + half + 20
    decimal.setcontext(decimal.Context(prec=digits, Emax=decimal.MAX_EMAX, Emin=decimal.MIN_EMIN))
    decimal.getcontext().clear_flags()
    root = x.sqrt()
    inexact = decimal.getcontext().flags[decimal.Inexact]
    rounded_root = sticky_rounded(root, half, mode, inexact)
    if rounded_root is None:
        return "error Rounding necessary!"
    return fixed_text(False, scaled(str(rounded_root), half) % 10 ** length, half)


def expected_power(mode, length, a, n):
    half = length // 2
    x = scaled(a, half)
    negative = x < 0 and n % 2 == 1
    if n == 0:
        return fixed_text(False, 10 ** half % 10 ** length if length else 0, half)
    if n > 10000:  # an integer to a huge power: its low digits, moved up by `half`
        integer, fraction = divmod(abs(x), 10 ** half)
        assert fraction == 0
        return fixed_text(negative, pow(integer, n, 10 ** half) * 10 ** half, half)
    # x^n = x_scaled^n / 10^(half n), kept with `half` fraction digits.
    k = rounded(abs(x) ** n, 10 ** (half * (n - 1)), mode if not negative else flip(mode))
    if k is None:
        return "error Rounding necessary!"
    return fixed_text(negative, k % 10 ** length, half)


def shortest_float_text(bits):
    """The shortest decimal text that reads back as the float of `bits`,
    found by trying 1 to 9 significant digits."""
    value = struct.unpack("<f", struct.pack("<I", bits))[0]
    for digits in range(1, 10):
        text = f"{value:.{digits - 1}e}"
        if struct.unpack("<f", struct.pack("<f", float(text)))[0] == value:
            return text
    raise AssertionError(value)


def expected_binary(op, mode, length, a):
    half = length // 2
    if op == "float":
        text = shortest_float_text(struct.unpack("<I", struct.pack("<f", float.fromhex(a)))[0])
    else:
        text = repr(float.fromhex(a))  # the shortest text that reads back as the double
    decimal.setcontext(CONTEXT)
    value = Decimal(text)
    if op != "assigndouble":
        integer_digits = len(str(int(abs(value)))) if int(abs(value)) else 0
        fraction_digits = max(0, -value.normalize().as_tuple().exponent)
        if integer_digits > half:
            return "error Input int bigger than size!"
        if fraction_digits > half:
            return "error Fraction of float too big to fit in fixedfloat!"
        k = scaled(text, half)
        return fixed_text(k < 0, abs(k), half)
    k = sticky_rounded(value, half, mode, False)
    if k is None:
        return "error Rounding necessary!"
    if abs(k) >= 10 ** half:
        return "error Input int bigger than size!"
    k = scaled(str(k), half)
    return fixed_text(k < 0, abs(k), half)


def flip(mode):
    """The mode that rounds a magnitude as `mode` rounds the negative number."""
    return {"ceiling": "floor", "floor": "ceiling"}.get(mode, mode)


def number(rng, digits, half=None, negative=None):
    """Random digits, in one of a few shapes, as fixedint or fixed-point text."""
    shape = rng.randrange(4)
    if digits == 0:
        text = "0"
    elif shape == 0:
        text = "9" * digits
    elif shape == 1:
        text = str(10 ** rng.randrange(digits))
    else:
        text = str(rng.randrange(10 ** digits))
    sign = "-" if (rng.randrange(2) if negative is None else negative) else ""
    if half is None:
        return sign + text
    text = text.rjust(half + 1, "0")
    return sign + text[:-half or None] + ("." + text[-half:] if half else "")


def division_cases(rng):
    lengths = [1, 2, 3, 4, 8, 9, 10, 18, 19, 20, 36, 38, 100, 576, 1000, 2000, 2016, 2100, 3200, 4000]
    for length in lengths:
        for _ in range(40 if length <= 100 else 6):
            mode = rng.choice(list(MODES) + ["exact"])
            # fixedint: dividends of any size up to the length, divisors often shorter.
            a = number(rng, rng.randrange(length + 1))
            b = number(rng, rng.randrange(1, length + 1)) if rng.randrange(8) else "0"
            if rng.randrange(4) == 0 and b.lstrip("-") != "0":  # an exact quotient, or a tie
                q = rng.randrange(10 ** max(1, length - len(b.lstrip("-"))))
                extra = abs(int(b)) // 2 if rng.randrange(2) else 0
                if q * abs(int(b)) + extra < 10 ** length:
                    a = ("-" if rng.randrange(2) else "") + str(q * abs(int(b)) + extra)
            yield ("int/", mode, length, a, b)
            yield ("int%", "-", length, a, b)
        if length % 2:
            continue
        half = length // 2
        for _ in range(40 if length <= 100 else 6):
            mode = rng.choice(list(MODES) + ["exact"])
            a = number(rng, rng.randrange(length + 1), half)
            b = number(rng, rng.randrange(length + 1), half)
            yield ("fix/", mode, length, a, b)
            yield ("fix*", mode, length, a, b)
            yield ("round", mode, length, a, str(rng.randrange(half + 1)))
            more = number(rng, rng.randrange(length + 30), rng.randrange(half + 30))
            yield ("assign", mode, length, more, "-")
    # Past the division's recursive threshold (3,200 limbs): 60,000 by 30,000 digits.
    rng2 = random.Random(7)
    for mode in ("halfeven", "down"):
        a = str(rng2.randrange(10 ** 59999, 10 ** 60000))
        b = str(rng2.randrange(10 ** 29999, 10 ** 30000))
        yield ("int/", mode, 60000, a, b)
        yield ("int%", "-", 60000, a, b)


def root_cases(rng):
    lengths = [2, 4, 6, 8, 10, 18, 20, 36, 38, 40, 76, 78, 100, 150, 200, 300, 400]
    for length in lengths + [1, 3, 19, 37, 39]:
        for _ in range(30):
            a = number(rng, rng.randrange(length + 1))
            if rng.randrange(3) == 0:  # an exact square
                a = str(rng.randrange(10 ** ((length + 1) // 2)) ** 2)
                a = a if len(a) <= length else "0"
            yield ("intsqrt", "-", length, a, "-")
            yield ("intpow", "-", length, a, str(rng.choice([0, 1, 2, 3, 7, 10, 64, 1001, 2 ** 64 - 1])))
    for length in lengths:
        half = length // 2
        for _ in range(30 if length <= 100 else 8):
            mode = rng.choice(list(MODES) + ["exact"])
            a = number(rng, rng.randrange(length + 1), half, negative=rng.randrange(8) == 0)
            if rng.randrange(3) == 0:  # an exact square of `half` digits or fewer, or a tie after rounding
                root = rng.randrange(10 ** max(1, half))
                places = rng.randrange(half + 1) // 2
                square = Decimal(root * root).scaleb(-2 * places)
                if len(str(int(square))) <= half:
                    a = f"{square:f}"
            yield ("fixsqrt", mode, length, a, "-")
            n = rng.choice([0, 1, 2, 3, 5, 8]) if length <= 100 else rng.choice([2, 3])
            b = number(rng, rng.randrange(min(length, 8) + 1), half)
            yield ("fixpow", mode, length, b, str(n))
            yield ("fixpow", mode, length, a, str(rng.choice([0, 1, 2])))
            yield ("fix%", "-", length, a, number(rng, rng.randrange(length + 1), half))
    # Integers to a huge power keep only the integer part's low digits.
    for text in ("3.0", "-7.0", "10.0", "0.0", "1.0", "-1.0"):
        yield ("fixpow", "halfeven", 8, text, str(2 ** 64 - 1))
    # Long roots, past the one-word and schoolbook sizes.
    rng2 = random.Random(11)
    for length in (2000, 20000):
        yield ("intsqrt", "-", length, str(rng2.randrange(10 ** (length - 1), 10 ** length)), "-")
        yield ("fixsqrt", "halfeven", length, "2", "-")
        yield ("fixsqrt", "up", length, str(rng2.randrange(10 ** (length // 2 - 1))), "-")


def binary_cases(rng):
    for exponent in range(-330, 308):
        for _ in range(3):
            x = rng.uniform(1, 10) * 10.0 ** exponent if exponent > -308 else rng.uniform(0, 1) * 1e-307
            x = min(x, 1.7976931348623157e308)
            x = -x if rng.randrange(2) else x
            length = rng.choice([2, 8, 20, 48, 64, 400, 660])
            yield ("double", "-", length, x.hex(), "-")
            yield ("assigndouble", rng.choice(list(MODES) + ["exact"]), length, x.hex(), "-")
    for exponent in range(-45, 39):
        for _ in range(4):
            f = struct.unpack("<f", struct.pack("<f", min(rng.uniform(1, 10) * 10.0 ** exponent, 3.4e38)))[0]
            if math.isfinite(f):
                yield ("float", "-", rng.choice([8, 20, 48, 64, 100]), f.hex(), "-")
    # The ones that read as whole numbers of few digits but are no such
    # binary values, and the halfway assignment.
    for x in (1e23, 2.166406243897131e16, 2 ** 53 + 2.0, 9007199254740993.0, 5e-324, 0.1 + 0.2, 1e22):
        yield ("double", "-", 48, x.hex(), "-")
        yield ("double", "-", 660, x.hex(), "-")
        yield ("assigndouble", "halfeven", 8, x.hex(), "-")
    yield ("float", "-", 48, struct.unpack("<f", struct.pack("<f", 3e10))[0].hex(), "-")


GROUPS = {"division": division_cases, "roots": root_cases, "doubles": binary_cases}


def check(case, got):
    want = expected(*case)
    return got == want, want


def main():
    compare.allow_long_integers()  # numbers of 60,000 digits
    decimal.setcontext(CONTEXT)
    rng = random.Random(20261208)
    all_cases = list(GROUPS[sys.argv[2] if len(sys.argv) > 2 else "division"](rng))
    return compare.run(sys.argv[1], all_cases, check, "decimal")


if __name__ == "__main__":
    sys.exit(main())
