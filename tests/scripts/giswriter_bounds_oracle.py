#!/usr/bin/env python3
"""Checks bound texts written over the 16-character placeholders of the GML and
GPX headers: each line holds a double in C hex-float form and its text; the
text must be exactly 16 characters and read back within 1e-8 relative."""
import sys

bad = 0
with open(sys.argv[1]) as f:
    for line in f:
        hexv, text = line.rstrip("\n").split(" ")
        value = float.fromhex(hexv)
        ok = len(text) == 16
        try:
            back = float(text)
        except ValueError:
            ok = False
            back = float("nan")
        if ok and value != 0:
            ok = abs(back - value) <= 1e-8 * abs(value)
        elif ok:
            ok = back == 0
        if not ok:
            bad += 1
            if bad <= 10:
                print(f"bad bound text {text!r} for {value!r}", file=sys.stderr)
sys.exit(1 if bad else 0)
