#!/usr/bin/python3
# SPDX-License-Identifier: LGPL-2.1-or-later
"""Pillow's box reduction as a peer of the engine's reductions.

Usage: bench-pillow.py MODE WIDTH HEIGHT FACTOR

Reduces a noise image of MODE ("RGB" or "RGBA") and the given size by FACTOR with
Image.reduce, the fastest box reducer Pillow has, and prints the median rate of
the timed runs in destination megapixels per second of CPU time. bench-engine
runs it in the same run as the other peers.
"""
import os
import sys
import time

from PIL import Image

RUNS = 9


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__.strip())
    mode, width, height, factor = sys.argv[1], *map(int, sys.argv[2:])
    image = Image.frombytes(mode, (width, height), os.urandom(width * height * len(mode)))
    image.reduce(factor)  # untimed: first-use costs
    times = []
    for _ in range(RUNS):
        start = time.process_time()
        result = image.reduce(factor)
        times.append(time.process_time() - start)
    times.sort()
    print(f"{result.width * result.height / times[RUNS // 2] / 1e6:.3f}")


if __name__ == "__main__":
    main()
