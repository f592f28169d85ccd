#!/usr/bin/env python3
"""Compares veldar's division and rounding with Python's decimal module on
seeded random cases: every operation and rounding mode, every sign, exact and
inexact results and ties, at lengths from 1 to past the multiplication and
division thresholds. Usage: check.py <cases program>. Exit status 0 when every
result agrees; a failure prints the case."""

import decimal
import random
import subprocess
import sys
from decimal import Decimal

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
    y = scaled(b, half)
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


def cases(rng):
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


def main():
    if hasattr(sys, "set_int_max_str_digits"):
        sys.set_int_max_str_digits(0)  # numbers of 60,000 digits
    decimal.setcontext(CONTEXT)
    rng = random.Random(20261208)
    all_cases = list(cases(rng))
    lines = "".join(" ".join(str(part) for part in case) + "\n" for case in all_cases)
    output = subprocess.run([sys.argv[1]], input=lines, capture_output=True, text=True, check=True).stdout.splitlines()
    failures = 0
    for case, got in zip(all_cases, output):
        want = expected(*case)
        if got != want:
            failures += 1
            if failures <= 10:
                shown = [part if len(str(part)) < 200 else str(part)[:200] + "..." for part in case]
                print(f"case {shown}: veldar {got[:200]!r}, decimal {want[:200]!r}")
    if len(output) != len(all_cases):
        print(f"{len(all_cases)} cases, {len(output)} results")
        failures += 1
    print(f"{len(all_cases)} cases, {failures} disagree")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
