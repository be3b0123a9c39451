#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
"""Seeds the fuzzers' working corpora (build-fuzz/corpus/<target>) with the conformance corpus
and the sample images, for a campaign: `python3 scripts/seed-fuzz-corpus.py [CORPUS_DIR]`, then
`sh scripts/fuzz.sh 600`. Module targets get the files of their format, the loader and at-size
targets every file, xpm-data the strings of every XPM file; each input ends in its target's
option bytes (fuzz/README.md). Files over 64 KiB are left out, as fuzz.sh runs with that
-max_len. The targets of synthetic inputs (engine, parse-color, save) keep their seeds only."""
import csv
import hashlib
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
MAX_LEN = 65536
# Piece sizes 13, 1, 64 and 7 for the progressive targets; a 48x40 box, ratio kept, for at-size.
PIECES = bytes([0x0C, 0x00, 0x80, 0x06])
BOX = bytes([47, 39, 1])
# Sample suffixes that are not their format's name.
FORMAT_OF_SUFFIX = {".jpg": "jpeg", ".tiff": "tiff", ".ppm": "pnm", ".pgm": "pnm", ".pbm": "pnm"}


def images(corpus):
    with open(corpus / "index.tsv", newline="") as f:
        for row in csv.DictReader(f, delimiter="\t"):
            yield row["format"], corpus / row["path"]
    for path in sorted((ROOT / "data" / "samples").iterdir()):
        if path.suffix != ".md":
            yield FORMAT_OF_SUFFIX.get(path.suffix, path.suffix[1:]), path


def put(target, data):
    if len(data) > MAX_LEN:
        return
    folder = ROOT / "build-fuzz" / "corpus" / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / hashlib.sha1(data).hexdigest()).write_bytes(data)


def main():
    corpus = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "tests" / "data" / "corpus"
    for fmt, path in images(corpus):
        data = path.read_bytes()
        put("module-" + fmt, data + PIECES)
        put("loader", data + PIECES)
        put("at-size", data + BOX)
        if fmt == "xpm":
            strings = re.findall(rb'"((?:[^"\\\n]|\\.)*)"', data)
            put("xpm-data", b"\n".join(strings))


main()
