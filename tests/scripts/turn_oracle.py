#!/usr/bin/env python3
"""Independent reader of a binary turn file.

Usage: turn_oracle.py FILE
Each record is a little-endian float32 value, an int32 count n and n int32
link ids; no header. Prints one line per record: the value as repr() of the
float, then n, then the ids. Exits 1 on a record that is cut short.
"""
import struct
import sys


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    pos = 0
    while pos < len(data):
        if len(data) - pos < 8:
            print("cut")
            return 1
        value, n = struct.unpack_from("<fi", data, pos)
        pos += 8
        if n < 0 or len(data) - pos < 4 * n:
            print("cut")
            return 1
        ids = struct.unpack_from("<%di" % n, data, pos)
        pos += 4 * n
        print(" ".join([repr(value), str(n)] + [str(i) for i in ids]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
