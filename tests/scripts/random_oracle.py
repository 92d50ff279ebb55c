#!/usr/bin/env python3
"""Independent model of the library's 32-bit linear congruential generator.

Usage: random_oracle.py STEPS SEED BOUND [SEED BOUND ...]
For each (seed, bound) prints: seed bound final_state sum_of_values digest first_values...
where the values are NextInt(bound) = trunc(state / 2^32 * bound) after each step
and digest folds them as d = (d * 1000003 + (v mod 2^64)) mod 2^64.
"""
import sys


def main():
    steps = int(sys.argv[1])
    args = sys.argv[2:]
    for k in range(0, len(args), 2):
        seed, bound = int(args[k]), int(args[k + 1])
        state = seed
        total = 0
        digest = 0
        first = []
        for i in range(steps):
            state = (state * 134775813 + 1) & 0xFFFFFFFF
            v = int(state / 4294967296.0 * bound)  # int() truncates toward zero
            total += v
            digest = (digest * 1000003 + (v & 0xFFFFFFFFFFFFFFFF)) & 0xFFFFFFFFFFFFFFFF
            if i < 8:
                first.append(v)
        print(seed, bound, state, total, digest, *first)


if __name__ == "__main__":
    main()
