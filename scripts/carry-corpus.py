#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
"""Copies the image corpus the conformance tests read into tests/data/corpus/.

    scripts/carry-corpus.py [FULL_CORPUS] [DEST]

FULL_CORPUS is the complete corpus with its reference decodes (default ../shared/corpora);
DEST defaults to tests/data/corpus. The script copies every file index.tsv lists and the
index itself, and turns the reference decodes (PAM files, made by netpbm, Pillow and libtiff
as the corpus manifest records) into:

- reference-hashes.tsv: one line per reference: its path, width, height, depth (3 RGB, 4 RGBA)
  and the SHA-256 of "W H D\\n" followed by the packed samples, with the colour samples of
  pixels whose alpha is 0 set to 0 (the tests do not compare colour there);
- <file>.ref.png beside the input, a lossless copy of the reference, only where a test compares
  within a tolerance or adjusts the reference before comparing (see needs_pixels).

The hashes are computed from the reference decodes only, never from this library's output.
MANIFEST.md (provenance and licences, written by hand) and .gitattributes in DEST are left alone.
"""
import hashlib
import os
import re
import shutil
import struct
import sys
import zlib

# Within a tolerance: JPEG (another IDCT may differ by a level), 16-bit TIFF whose reference
# keeps the high byte, and BMP bit fields of other than 8 bits. Adjusted before comparing: RGB
# PngSuite files whose reference ignores tRNS, and a 16-bit grey tiled TIFF whose reference
# has skewed clipped tiles.
PIXELS_FOR = {
    "bmp/bmpsuite/q/rgb16-231.bmp", "bmp/bmpsuite/q/rgb16-3103.bmp",
    "bmp/bmpsuite/q/rgb32-111110.bmp", "bmp/bmpsuite/q/rgb32-7187.bmp",
    "bmp/bmpsuite/q/rgba16-1924.bmp", "bmp/bmpsuite/q/rgba32-1010102.bmp",
    "bmp/bmpsuite/q/rgba32-61754.bmp", "bmp/bmpsuite/q/rgba32-81284.bmp",
    "png/pngsuite/tbrn2c08.png", "png/pngsuite/tbbn2c16.png", "png/pngsuite/tbgn2c16.png",
    "tiff/generated/gray16-tile64-deflate.tif",
}


def needs_pixels(path, fmt, expect, notes):
    if expect != "ok" and path not in PIXELS_FOR:
        return False
    if fmt == "jpeg" or path in PIXELS_FOR:
        return True
    return (fmt == "tiff" and "bits=16" in notes
            and ("ref: Pillow" in notes or "photometric=min-is-" in notes))


def read_pam(path):
    data = open(path, "rb").read()
    end = data.index(b"ENDHDR\n")
    fields = dict(line.split(None, 1) for line in data[3:end].decode().splitlines() if line)
    w, h, d = int(fields["WIDTH"]), int(fields["HEIGHT"]), int(fields["DEPTH"])
    if fields["MAXVAL"] != "255" or d not in (3, 4):
        raise ValueError(f"{path}: not 8-bit RGB or RGBA")
    samples = data[end + 7:end + 7 + w * h * d]
    if len(samples) != w * h * d:
        raise ValueError(f"{path}: truncated")
    return w, h, d, samples


def pixel_hash(w, h, d, samples):
    if d == 4:
        px = bytearray(samples)
        for i in range(0, len(px), 4):
            if px[i + 3] == 0:
                px[i:i + 3] = b"\0\0\0"
        samples = bytes(px)
    return hashlib.sha256(f"{w} {h} {d}\n".encode() + samples).hexdigest()


def filter_row(kind, cur, prev, d):
    out = bytearray(len(cur))
    for i, x in enumerate(cur):
        a = cur[i - d] if i >= d else 0
        b = prev[i]
        c = prev[i - d] if i >= d else 0
        if kind == 0:
            p = 0
        elif kind == 1:
            p = a
        elif kind == 2:
            p = b
        elif kind == 3:
            p = (a + b) // 2
        else:
            pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
            p = a if pa <= pb and pa <= pc else b if pb <= pc else c
        out[i] = (x - p) & 255
    return bytes(out)


def write_png(path, w, h, d, samples):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xffffffff))
    # Each row takes the filter with the smallest sum of magnitudes, as most encoders choose.
    row, raw, prev = w * d, bytearray(), bytes(w * d)
    for y in range(h):
        cur = samples[y * row:(y + 1) * row]
        candidates = [(kind, filter_row(kind, cur, prev, d)) for kind in range(5)]
        kind, out = min(candidates, key=lambda c: sum(b if b < 128 else 256 - b for b in c[1]))
        raw += bytes([kind]) + out
        prev = cur
    ihdr = struct.pack(">IIBBBBB", w, h, 8, 6 if d == 4 else 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
                + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "..", "shared", "corpora")
    dest = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "tests", "data", "corpus")
    lines = open(os.path.join(src, "index.tsv"), encoding="utf-8").read().splitlines()
    # Start from an empty copy, so a file the full corpus dropped does not linger.
    for name in os.listdir(dest) if os.path.isdir(dest) else []:
        if os.path.isdir(os.path.join(dest, name)):
            shutil.rmtree(os.path.join(dest, name))
    index, hashes, pngs = [lines[0]], [], 0
    for line in lines[1:]:
        cols = line.split("\t")
        path, fmt, expect, ref = cols[:4]
        notes = cols[4] if len(cols) > 4 else ""
        # The notes cite section numbers of a document that does not travel with the files.
        cols[4:] = [re.sub(r"\b[A-Z][a-z]+ \d+\.\d+ ", "", notes)] if len(cols) > 4 else []
        index.append("\t".join(cols))
        os.makedirs(os.path.dirname(os.path.join(dest, path)), exist_ok=True)
        shutil.copyfile(os.path.join(src, path), os.path.join(dest, path))
        refs = [] if ref == "-" else [ref]
        if os.path.exists(os.path.join(src, path + ".ref-rgbaimage.pam")):
            refs.append(path + ".ref-rgbaimage.pam")
        for r in refs:
            w, h, d, samples = read_pam(os.path.join(src, r))
            hashes.append(f"{r}\t{w}\t{h}\t{d}\t{pixel_hash(w, h, d, samples)}")
            if r == ref and needs_pixels(path, fmt, expect, notes):
                write_png(os.path.join(dest, r[:-len(".pam")] + ".png"), w, h, d, samples)
                pngs += 1
    with open(os.path.join(dest, "index.tsv"), "w", encoding="utf-8") as f:
        f.write("\n".join(index) + "\n")
    with open(os.path.join(dest, "reference-hashes.tsv"), "w", encoding="utf-8") as f:
        f.write("ref\twidth\theight\tdepth\tsha256\n" + "\n".join(hashes) + "\n")
    print(f"{len(index) - 1} files, {len(hashes)} reference hashes, {pngs} PNG references")


if __name__ == "__main__":
    main()
