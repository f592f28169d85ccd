"""The driver both comparisons against Python share (decimal/check.py and
roots/check.py): it runs a cases program of the library on seeded cases and
compares each line the program prints with what Python computes."""

import subprocess
import sys


def allow_long_integers():
    """Lets int() and str() take numbers of any number of digits, which
    Python bounds by default from 3.11 on."""
    if hasattr(sys, "set_int_max_str_digits"):
        sys.set_int_max_str_digits(0)


def run(program, cases, check, reference):
    """Writes `cases` to the input of `program`, one line each, its parts
    apart by spaces, and judges the line printed for each with
    check(case, got) -> (agrees, wanted). Prints the first ten cases that
    disagree, naming Python's side `reference`, then the counts. Returns the
    exit status: 0 when there is a result for every case and every result
    agrees."""
    lines = "".join(" ".join(str(part) for part in case) + "\n" for case in cases)
    output = subprocess.run([program], input=lines, capture_output=True, text=True, check=True).stdout.splitlines()
    failures = 0
    for case, got in zip(cases, output):
        agrees, want = check(case, got)
        if not agrees:
            failures += 1
            if failures <= 10:
                shown = [part if len(str(part)) < 200 else str(part)[:200] + "..." for part in case]
                print(f"case {shown}: veldar {got[:200]!r}, {reference} {want[:200]!r}")
    if len(output) != len(cases):
        print(f"{len(cases)} cases, {len(output)} results")
        failures += 1
    print(f"{len(cases)} cases, {failures} disagree")
    return 1 if failures else 0
