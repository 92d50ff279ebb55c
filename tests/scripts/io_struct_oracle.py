#!/usr/bin/env python3
"""Independent reader of a little-endian value file.

Usage: io_struct_oracle.py FILE FORMAT
FORMAT is a struct format without byte-order prefix ('BHhIiqfd' letters); the
file must hold exactly those values. Prints one line per value: integers in
decimal, floats as repr() followed by the hex of their raw bytes (so NaN
payloads and the sign of zero are visible).
"""
import struct
import sys


def main():
    path, fmt = sys.argv[1], sys.argv[2]
    with open(path, "rb") as f:
        data = f.read()
    layout = "<" + fmt
    if struct.calcsize(layout) != len(data):
        print("size mismatch: file %d, format %d" % (len(data), struct.calcsize(layout)))
        return 1
    offset = 0
    for code in fmt:
        width = struct.calcsize("<" + code)
        raw = data[offset:offset + width]
        (value,) = struct.unpack("<" + code, raw)
        if code in "fd":
            print("%r %s" % (value, raw.hex()))
        else:
            print(value)
        offset += width
    return 0


if __name__ == "__main__":
    sys.exit(main())
