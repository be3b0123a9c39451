#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
"""The sample recipe's own encoders on inputs the committed samples never reach (GIF code
tables that fill up and restart, PackBits and Sun raster runs at their length limits, the
escape byte as data, a single TIFF strip) and on noise, so that every pixel counts, each
decoded by the library's modules and compared pixel for pixel.

    test-encoders.py LIBTAMBA RECIPE    (the modules found on LD_LIBRARY_PATH)
"""
import ctypes
import importlib.util
import os
import sys
import tempfile

lib = ctypes.CDLL(sys.argv[1])
for name in ("tamba_get_width", "tamba_get_height", "tamba_get_rowstride",
             "tamba_get_n_channels"):
    getattr(lib, name).argtypes = [ctypes.c_void_p]
lib.tamba_new_from_file.restype = ctypes.c_void_p
lib.tamba_new_from_file.argtypes = [ctypes.c_char_p]
lib.tamba_get_pixels.restype = ctypes.POINTER(ctypes.c_ubyte)
lib.tamba_get_pixels.argtypes = [ctypes.c_void_p]
lib.tamba_unref.argtypes = [ctypes.c_void_p]

spec = importlib.util.spec_from_file_location("recipe", sys.argv[2])
recipe = importlib.util.module_from_spec(spec)
spec.loader.exec_module(recipe)


def decoded_rgb(path):
    """(width, height, packed RGB bytes) as the library loads the file, or None."""
    image = lib.tamba_new_from_file(path.encode())
    if not image:
        return None
    w, h = lib.tamba_get_width(image), lib.tamba_get_height(image)
    stride, n = lib.tamba_get_rowstride(image), lib.tamba_get_n_channels(image)
    data = ctypes.string_at(lib.tamba_get_pixels(image), stride * (h - 1) + w * n)
    lib.tamba_unref(image)
    rgb = bytearray()
    for y in range(h):
        row = data[y * stride:y * stride + w * n]
        for x in range(w):
            rgb += row[x * n:x * n + 3]
    return w, h, bytes(rgb)


def palette_of(count):
    return [((k * 37) & 255, (k * 91 + 17) & 255, (255 - k * 53) & 255) for k in range(count)]


def noise_indices(seed, count, colours):
    rng = recipe.XorShift(seed)
    return [rng.next() % colours for _ in range(count)]


def gif_case(w, h, colours, indices):
    palette = palette_of(colours)
    frame = dict(x=0, y=0, w=w, h=h, indices=indices, delay=10, disposal=1, transparent=None)
    expect = b"".join(bytes(palette[i]) for i in indices)
    return ".gif", recipe.gif_bytes(w, h, palette, [frame]), (w, h, expect)


def ras_case(w, h, indices):
    palette = palette_of(256)
    expect = b"".join(bytes(palette[i]) for i in indices)
    return ".ras", recipe.ras_bytes(w, h, palette, indices), (w, h, expect)


def tiff_case(w, h, rgb):
    return ".tiff", recipe.tiff_bytes(w, h, 3, bytearray(rgb)), (w, h, bytes(rgb))


def rgb_case(suffix, encode, w, h, seed):
    rgb = bytes(noise_indices(seed, w * h * 3, 256))
    return suffix, encode(w, h, 3, bytearray(rgb)), (w, h, rgb)


def runs(*pieces):
    """Concatenated (value, length) runs."""
    return [v for v, n in pieces for _ in range(n)]


CASES = {
    # 256 colours of noise: the code table fills and restarts many times at 12-bit codes.
    "gif 256 colours of noise": gif_case(300, 200, 256, noise_indices(1, 60000, 256)),
    # Two colours: the smallest code size, with strings growing long.
    "gif 2 colours of noise": gif_case(97, 61, 2, noise_indices(2, 97 * 61, 2)),
    "gif one colour": gif_case(400, 300, 4, [3] * 120000),
    "ras runs past 256 and the escape byte": ras_case(
        301, 7, runs((5, 700), (0x80, 1), (7, 1), (0x80, 2), (9, 2), (0x80, 300), (1, 1101))),
    "ras noise, odd width": ras_case(33, 9, noise_indices(3, 33 * 9, 256)),
    "tiff runs at and past 128, literals past 128": tiff_case(
        150, 4, bytes(runs((1, 128 * 3), (2, 129 * 3), (3, 3)) + noise_indices(4, 1026, 256))),
    # Rows in file order, channel order and row padding.
    "bmp noise, bottom-up, padded rows": rgb_case(".bmp", recipe.bmp_bytes, 37, 11, 6),
    "png noise": rgb_case(".png", recipe.png_bytes, 37, 11, 7),
    "ppm noise": rgb_case(".ppm", recipe.ppm_bytes, 37, 11, 8),
}


def main():
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        for name, (suffix, data, expect) in CASES.items():
            path = os.path.join(tmp, "case" + suffix)
            with open(path, "wb") as f:
                f.write(data)
            got = decoded_rgb(path)
            if got is None:
                problem = "the library does not load it"
            elif got[:2] != expect[:2]:
                problem = "size %dx%d, expected %dx%d" % (got[0], got[1], expect[0], expect[1])
            elif got[2] != expect[2]:
                first = next(i for i, (a, b) in enumerate(zip(got[2], expect[2])) if a != b)
                problem = "pixels differ from pixel %d on" % (first // 3)
            else:
                problem = None
            print("%s: %s" % ("ok" if problem is None else "FAIL", name)
                  + ("" if problem is None else ": " + problem))
            failed += problem is not None
    print("%d passed, %d failed" % (len(CASES) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
