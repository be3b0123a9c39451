#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
"""Writes the sample images in data/samples/, byte for byte the same on every run.

Every picture is computed here from a fixed-seed generator; the encoders are written out with
the standard library (zlib for PNG), except the JPEG, whose pixels are computed here and
encoded by libjpeg-turbo's cjpeg (Debian package libjpeg-turbo-progs).

    python3 scripts/make-samples.py             rewrite data/samples/
    python3 scripts/make-samples.py --out DIR   write them into DIR instead
    python3 scripts/make-samples.py --check     exit 1 when data/samples/ differs from the recipe
"""
import argparse
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
SAMPLES = os.path.join(ROOT, "data", "samples")
JPEG_QUALITY = 85


class XorShift:
    """xorshift32: the same stream on every Python version and machine."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF or 1

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x

    def noise(self, count, amplitude):
        """count integers spread evenly over -amplitude..amplitude."""
        span = 2 * amplitude + 1
        return [self.next() % span - amplitude for _ in range(count)]


def clamp(v):
    return 0 if v < 0 else 255 if v > 255 else int(v)


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def smoothstep(e0, e1, x):
    t = min(1.0, max(0.0, (x - e0) / (e1 - e0)))
    return t * t * (3 - 2 * t)


# --- pictures: each returns (width, height, channels, bytearray of packed rows) ---------------


def photo_pixels(w=1600, h=1200):
    """A landscape at dusk: sky gradient, a glowing sun, two ranges of hills, a shore, a lake
    with fine ripples and a fence of thin posts, with grain everywhere, so that the scaling
    filters give visibly different results."""
    rng = XorShift(0x5EED0001)
    grain = rng.noise(w * 2 + 7, 5)
    horizon = int(h * 0.62)
    sun_x, sun_y, sun_r = w * 0.68, h * 0.40, h * 0.07
    far = [horizon - 150 - 60 * math.sin(x / 97.0) - 35 * math.sin(x / 31.0 + 1.3)
           - 12 * math.sin(x / 9.0) for x in range(w)]
    near = [horizon - 40 - 70 * math.sin(x / 211.0 + 0.7) - 18 * math.sin(x / 43.0)
            for x in range(w)]
    shore = [horizon + 25 + 20 * math.sin(x / 150.0) for x in range(w)]
    top, low = (18, 32, 88), (250, 150, 90)
    out = bytearray(w * h * 3)
    i = 0
    for y in range(h):
        sky = mix(top, low, smoothstep(0, horizon, y) ** 1.4)
        off = (y * 7919) % (w + 7)
        for x in range(w):
            n = grain[off + x]
            if y < far[x]:
                d = math.hypot(x - sun_x, y - sun_y)
                glow = 1.0 - smoothstep(sun_r - 2, sun_r + 1.5, d)
                halo = 0.45 * math.exp(-((d - sun_r) / (sun_r * 1.8)) ** 2) if d > sun_r else 0
                c = mix(sky, (255, 240, 190), min(1.0, glow + halo))
                n //= 3
            elif y < near[x]:
                t = (y - far[x]) / max(1.0, horizon - far[x])
                c = mix((120, 96, 130), (70, 80, 120), min(1.0, t))
            elif y < horizon:
                t = (y - near[x]) / 120.0
                stripe = 14 if (x + y // 3) % 6 < 2 else 0
                c = mix((60, 110, 50), (30, 70, 35), min(1.0, t))
                c = (c[0] + stripe, c[1] + stripe, c[2])
            elif y < shore[x]:
                c = (196, 170, 120)
            elif y > h * 0.8:
                # Ground in front: earth with a fence of thin posts and two wires.
                t = (y - horizon) / (h - horizon)
                c = mix((110, 90, 50), (70, 50, 30), t)
                post = x % 53 < 3 and y > h * 0.82
                wire = abs(y - h * 0.86) < 1.5 or abs(y - h * 0.91) < 1.5
                if post or wire:
                    c = (40, 28, 20)
                n *= 2
            else:
                # The lake mirrors the sky, broken by ripples.
                ry = 2 * horizon - y
                ripple = 0.5 + 0.5 * math.sin(y * y / 90.0 + x / 23.0)
                refl = mix(top, low, smoothstep(0, horizon, ry) ** 1.4)
                c = mix(refl, (40, 60, 110), 0.35 + 0.25 * ripple)
            out[i] = clamp(c[0] + n)
            out[i + 1] = clamp(c[1] + n)
            out[i + 2] = clamp(c[2] + n)
            i += 3
    return w, h, 3, out


def badge_pixels(w=256, h=256):
    """A round badge with an anti-aliased rim, a ring-shaped hole and a soft shadow."""
    out = bytearray(w * h * 4)
    cx, cy, r = w / 2 - 8, h / 2 - 8, w * 0.38
    i = 0
    for y in range(h):
        for x in range(w):
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
            disc = 1.0 - smoothstep(r - 1.5, r + 1.5, d)
            hole = smoothstep(r * 0.30 - 1.5, r * 0.30 + 1.5, d)
            a = disc * (0.35 + 0.65 * hole)
            sd = math.hypot(x + 0.5 - cx - 12, y + 0.5 - cy - 12)
            shadow = 0.55 * (1.0 - smoothstep(r - 10, r + 14, sd))
            t = (x + y) / (w + h)
            c = mix((250, 200, 40), (200, 40, 120), t)
            if r * 0.62 < d < r * 0.70:
                c = (255, 255, 255)
            # Badge over its shadow (black), both over nothing.
            alpha = a + shadow * (1 - a)
            col = [v * a / alpha if alpha > 0 else 0 for v in c]
            out[i:i + 4] = bytes((clamp(round(col[0])), clamp(round(col[1])),
                                  clamp(round(col[2])), clamp(round(alpha * 255))))
            i += 4
    return w, h, 4, out


def wheel_pixels(w=160, h=120):
    """A hue wheel fading to grey at its centre, on a dark ground."""
    out = bytearray(w * h * 3)
    i = 0
    for y in range(h):
        for x in range(w):
            dx, dy = x - w / 2 + 0.5, y - h / 2 + 0.5
            d = math.hypot(dx, dy) / (h * 0.46)
            if d > 1:
                c = (24, 24, 28)
            else:
                hue = (math.atan2(dy, dx) / (2 * math.pi)) % 1.0
                rgb = [max(0.0, min(1.0, abs((hue * 6 + k) % 6 - 3) - 1)) for k in (0, 4, 2)]
                c = [128 + (v * 255 - 128) * d for v in rgb]
            out[i:i + 3] = bytes(clamp(round(v)) for v in c)
            i += 3
    return w, h, 3, out


def bars_pixels(w=250, h=160):
    """Colour bars over a grey ramp: an odd width so that rows need padding in a BMP."""
    bars = [(235, 235, 235), (235, 235, 16), (16, 235, 235), (16, 235, 16),
            (235, 16, 235), (235, 16, 16), (16, 16, 235)]
    out = bytearray(w * h * 3)
    i = 0
    for y in range(h):
        for x in range(w):
            if y < h * 2 // 3:
                c = bars[x * len(bars) // w]
            else:
                v = x * 255 // (w - 1)
                c = (v, v, v)
            out[i:i + 3] = bytes(c)
            i += 3
    return w, h, 3, out


def tiles_pixels(w=200, h=150):
    """Flat tiles with long runs (for PackBits) and a noisy stripe (for its literal runs)."""
    rng = XorShift(0x5EED0002)
    palette = [(200, 60, 50), (230, 200, 80), (60, 120, 200), (240, 240, 230)]
    out = bytearray(w * h * 3)
    i = 0
    for y in range(h):
        for x in range(w):
            if 60 <= y < 80:
                v = rng.next() & 0xFF
                c = (v, 255 - v, 128)
            else:
                c = palette[(x // 25 + y // 25) % 4]
            out[i:i + 3] = bytes(c)
            i += 3
    return w, h, 3, out


# --- encoders ---------------------------------------------------------------------------------


def png_bytes(w, h, channels, pixels):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    colour_type = {3: 2, 4: 6}[channels]
    stride = w * channels
    raw = bytearray()
    for y in range(h):
        raw.append(0)
        raw += pixels[y * stride:(y + 1) * stride]
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, colour_type, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def ppm_bytes(w, h, channels, pixels, comment=None):
    head = b"P6\n" + (b"# " + comment.encode() + b"\n" if comment else b"")
    return head + b"%d %d\n255\n" % (w, h) + bytes(pixels)


def bmp_bytes(w, h, channels, pixels):
    """24 bits per pixel, bottom-up, rows padded to four bytes."""
    stride = (w * 3 + 3) & ~3
    body = bytearray()
    for y in range(h - 1, -1, -1):
        row = pixels[y * w * 3:(y + 1) * w * 3]
        for x in range(w):
            body += bytes((row[3 * x + 2], row[3 * x + 1], row[3 * x]))
        body += b"\0" * (stride - w * 3)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(body), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    return header + info + bytes(body)


def packbits(row):
    out = bytearray()
    i, n = 0, len(row)
    while i < n:
        run = 1
        while i + run < n and run < 128 and row[i + run] == row[i]:
            run += 1
        if run >= 3:
            out += bytes((257 - run, row[i]))
            i += run
            continue
        start = i
        while i < n and i - start < 128:
            if i + 2 < n and row[i] == row[i + 1] == row[i + 2]:
                break
            i += 1
        out.append(i - start - 1)
        out += row[start:i]
    return bytes(out)


def tiff_bytes(w, h, channels, pixels, rows_per_strip=16):
    """Little-endian RGB, PackBits compression, one strip per rows_per_strip rows."""
    strips = []
    for top in range(0, h, rows_per_strip):
        data = bytearray()
        for y in range(top, min(h, top + rows_per_strip)):
            data += packbits(pixels[y * w * 3:(y + 1) * w * 3])
        strips.append(bytes(data))
    count = len(strips)
    n_tags = 12
    ifd_at = 8
    extra_at = ifd_at + 2 + 12 * n_tags + 4
    bits_at = extra_at
    res_at = bits_at + 6
    offsets_at = res_at + 16
    counts_at = offsets_at + 4 * count
    data_at = counts_at + 4 * count
    offsets, pos = [], data_at
    for s in strips:
        offsets.append(pos)
        pos += len(s)
    SHORT, LONG, RATIONAL = 3, 4, 5
    # A single strip's offset and byte count fit in their entries, so they stand there.
    tags = [(256, LONG, 1, w), (257, LONG, 1, h), (258, SHORT, 3, bits_at),
            (259, SHORT, 1, 32773), (262, SHORT, 1, 2),
            (273, LONG, count, offsets_at if count > 1 else offsets[0]),
            (277, SHORT, 1, 3), (278, LONG, 1, rows_per_strip),
            (279, LONG, count, counts_at if count > 1 else len(strips[0])),
            (282, RATIONAL, 1, res_at), (283, RATIONAL, 1, res_at + 8), (296, SHORT, 1, 2)]
    assert len(tags) == n_tags
    out = bytearray(b"II*\0" + struct.pack("<I", ifd_at) + struct.pack("<H", n_tags))
    for tag, kind, n, value in tags:
        if kind == SHORT and n == 1:
            out += struct.pack("<HHIHH", tag, kind, n, value, 0)
        else:
            out += struct.pack("<HHII", tag, kind, n, value)
    out += struct.pack("<I", 0)
    out += struct.pack("<HHH", 8, 8, 8) + struct.pack("<IIII", 72, 1, 72, 1)
    out += struct.pack("<%dI" % count, *offsets)
    out += struct.pack("<%dI" % count, *(len(s) for s in strips))
    assert len(out) == data_at
    for s in strips:
        out += s
    return bytes(out)


def lzw_encode(indices, min_size):
    """GIF's variable-width LZW: codes packed least significant bit first, a clear code first
    and whenever the table is about to fill."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    out = bytearray()
    acc = nbits = 0

    def emit(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    width, next_code, table = min_size + 1, end + 1, {}
    emit(clear, width)
    prefix = indices[0]
    for c in indices[1:]:
        key = (prefix, c)
        if key in table:
            prefix = table[key]
            continue
        emit(prefix, width)
        table[key] = next_code
        next_code += 1
        if next_code > (1 << width) and width < 12:
            width += 1
        if next_code >= 4095:
            emit(clear, width)
            width, next_code, table = min_size + 1, end + 1, {}
        prefix = c
    emit(prefix, width)
    emit(end, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def gif_bytes(screen_w, screen_h, palette, frames, background=0):
    """GIF89a with a global palette, looping forever. frames: dicts with x, y, w, h, indices,
    delay (hundredths), disposal (1 retain, 2 restore to background, 3 restore to previous)
    and transparent (an index or None)."""
    bits = max(1, (len(palette) - 1).bit_length())
    table = bytearray()
    for c in palette + [(0, 0, 0)] * ((1 << bits) - len(palette)):
        table += bytes(c)
    out = bytearray(b"GIF89a" + struct.pack("<HHBBB", screen_w, screen_h,
                                             0x80 | 0x70 | (bits - 1), background, 0))
    out += table
    out += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"
    min_size = max(2, bits)
    for f in frames:
        flags = (f["disposal"] << 2) | (1 if f["transparent"] is not None else 0)
        out += struct.pack("<BBBBHBB", 0x21, 0xF9, 4, flags, f["delay"],
                           f["transparent"] or 0, 0)
        out += struct.pack("<BHHHHB", 0x2C, f["x"], f["y"], f["w"], f["h"], 0)
        data = lzw_encode(f["indices"], min_size)
        out.append(min_size)
        for k in range(0, len(data), 255):
            block = data[k:k + 255]
            out.append(len(block))
            out += block
        out.append(0)
    out += b"\x3b"
    return bytes(out)


def bounce_gif():
    """A ball crossing a striped ground. The first frame paints the scene and stays
    (retain); the ball frames undo themselves (restore to previous); a white box shows once
    and is then cleared to the transparent background, leaving a hole (restore to
    background); the last frame leaves a dark ball in place (retain)."""
    palette = [(0, 0, 0), (250, 250, 240), (40, 90, 200), (90, 170, 230), (60, 140, 60),
               (230, 60, 40), (255, 200, 60), (30, 30, 40)]
    W, H = 120, 80
    scene = [0] * (W * H)
    for y in range(H):
        for x in range(W):
            if y < 56:
                scene[y * W + x] = 3 if (y // 8) % 2 else 2
            else:
                scene[y * W + x] = 4
    # Corners of the scene stay transparent so the checkerboard shows through.
    for y in range(6):
        for x in range(6 - y):
            for cx, cy in ((x, y), (W - 1 - x, y), (x, H - 1 - y), (W - 1 - x, H - 1 - y)):
                scene[cy * W + cx] = 0

    def ball(size, colour):
        r = size / 2
        return [colour if math.hypot(x + 0.5 - r, y + 0.5 - r) <= r - 0.5 else 0
                for y in range(size) for x in range(size)]

    def frame(x, y, w, h, indices, delay, disposal, transparent=0):
        return dict(x=x, y=y, w=w, h=h, indices=indices, delay=delay, disposal=disposal,
                    transparent=transparent)

    frames = [frame(0, 0, W, H, scene, 40, 1)]
    for k, (x, y) in enumerate(((8, 40), (30, 22), (52, 12), (74, 22))):
        frames.append(frame(x, y, 20, 20, ball(20, 5 if k % 2 else 6), 15, 3))
    flash = [7 if x in (0, 19) or y in (0, 11) else 1 for y in range(12) for x in range(20)]
    frames.append(frame(50, 56, 20, 12, flash, 25, 2))
    frames.append(frame(96, 40, 16, 16, ball(16, 7), 60, 1))
    return gif_bytes(W, H, palette, frames, background=0)


def icon_xpm():
    """A 32 x 32 flower, transparent around it; one colour given by its X11 name."""
    size = 32
    colours = [(" ", "None"), (".", "#206020"), ("o", "gold"), ("+", "#E04080"),
               ("@", "#FFFFFF"), ("#", "#402010")]
    rows = []
    for y in range(size):
        row = ""
        for x in range(size):
            dx, dy = x - 15.5, y - 12.5
            d = math.hypot(dx, dy)
            a = math.atan2(dy, dx)
            petal = d < 9 + 3 * math.cos(5 * a)
            if d < 3.2:
                ch = "o" if d < 2.2 else "#"
            elif petal:
                ch = "@" if d < 5 else "+"
            elif 14 <= x <= 16 and y > 20:
                ch = "."
            elif y > 23 and abs(x - 15.5 - (y - 23) * 1.2) < 1.5 and x > 16:
                ch = "."
            else:
                ch = " "
            row += ch
        rows.append(row)
    lines = ["/* XPM */", "static char *icon_xpm[] = {", "/* columns rows colours chars */",
             '"%d %d %d 1",' % (size, size, len(colours))]
    lines += ['"%s c %s",' % (k, v) for k, v in colours]
    lines += ["/* pixels */"]
    lines += ['"%s"%s' % (r, "," if i < size - 1 else "") for i, r in enumerate(rows)]
    lines += ["};"]
    return ("\n".join(lines) + "\n").encode()


def pattern_xbm():
    """A 64 x 48 X11 bitmap: a ring and diagonal hatching (rows of 8 bytes, LSB leftmost)."""
    w, h = 64, 48
    data = []
    for y in range(h):
        for bx in range(w // 8):
            byte = 0
            for bit in range(8):
                x = bx * 8 + bit
                d = math.hypot(x - 31.5, y - 23.5)
                if 16 < d < 21 or (d >= 21 and (x + y) % 8 == 0):
                    byte |= 1 << bit
            data.append(byte)
    lines = ["#define pattern_width %d" % w, "#define pattern_height %d" % h,
             "static unsigned char pattern_bits[] = {"]
    for k in range(0, len(data), 12):
        chunk = ", ".join("0x%02x" % b for b in data[k:k + 12])
        lines.append("   " + chunk + ("," if k + 12 < len(data) else " };"))
    return ("\n".join(lines) + "\n").encode()


def ico_bytes():
    """Two entries, 16 x 16 and 32 x 32, 32-bit BGRA with AND masks: a blue disc with soft
    edges (the loader picks the larger)."""
    def entry(size):
        body = bytearray()
        mask = bytearray()
        mask_stride = ((size + 31) // 32) * 4
        for y in range(size - 1, -1, -1):
            bits = bytearray(mask_stride)
            for x in range(size):
                d = math.hypot(x + 0.5 - size / 2, y + 0.5 - size / 2)
                a = 1.0 - smoothstep(size * 0.42 - 1, size * 0.42 + 1, d)
                inner = d < size * 0.18
                b, g, r = (255, 255, 255) if inner else (200, 120, 30)
                body += bytes((b, g, r, clamp(round(a * 255))))
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        info = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0,
                           len(body) + len(mask), 0, 0, 0, 0)
        return info + bytes(body) + bytes(mask)

    entries = [entry(16), entry(32)]
    out = bytearray(struct.pack("<HHH", 0, 1, len(entries)))
    offset = 6 + 16 * len(entries)
    for size, data in zip((16, 32), entries):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in entries:
        out += data
    return bytes(out)


def ras_bytes(w, h, palette, indices):
    """8 bits per pixel with an RGB colour map (up to 256 entries), byte-encoded
    (run-length) type; rows are padded to 16 bits."""
    stride = (w + 1) & ~1
    raw = bytearray()
    for y in range(h):
        raw += bytes(indices[y * w:(y + 1) * w])
        raw += b"\0" * (stride - w)
    enc = bytearray()
    i = 0
    while i < len(raw):
        run = 1
        while i + run < len(raw) and run < 256 and raw[i + run] == raw[i]:
            run += 1
        if run >= 3:
            enc += bytes((0x80, run - 1, raw[i]))
        else:
            run = 1
            enc += b"\x80\x00" if raw[i] == 0x80 else bytes((raw[i],))
        i += run
    cmap = bytes(c[0] for c in palette) + bytes(c[1] for c in palette) + bytes(c[2] for c in palette)
    header = struct.pack(">8I", 0x59A66A95, w, h, 8, len(enc), 2, 1, len(cmap))
    return header + cmap + bytes(enc)


def stripes_ras(w=161, h=100):
    """Diagonal bands of a 16-colour map, crossed by thin lines; an odd width so that rows
    carry a pad byte."""
    palette = [(int(255 * k / 15), int(80 + 10 * k), int(255 - 255 * k / 15)) for k in range(16)]
    indices = [(x // 20 + (y // 25) * 3) % 16 if (x + y) % 37 else 15
               for y in range(h) for x in range(w)]
    return ras_bytes(w, h, palette, indices)


def jpeg_bytes(w, h, channels, pixels):
    cjpeg = shutil.which("cjpeg")
    if not cjpeg:
        sys.exit("make-samples: cjpeg not found (apt-get install libjpeg-turbo-progs)")
    return subprocess.run([cjpeg, "-quality", str(JPEG_QUALITY), "-optimize"],
                          input=ppm_bytes(w, h, channels, pixels), stdout=subprocess.PIPE,
                          check=True).stdout


SAMPLES_MADE = {
    "photo.jpg": lambda: jpeg_bytes(*photo_pixels()),
    "badge.png": lambda: png_bytes(*badge_pixels()),
    "bounce.gif": bounce_gif,
    "flower.xpm": icon_xpm,
    "bars.bmp": lambda: bmp_bytes(*bars_pixels()),
    "tiles.tiff": lambda: tiff_bytes(*tiles_pixels()),
    "wheel.ppm": lambda: ppm_bytes(*wheel_pixels(), comment="hue wheel"),
    "pattern.xbm": pattern_xbm,
    "disc.ico": ico_bytes,
    "stripes.ras": stripes_ras,
}


def write_all(folder):
    os.makedirs(folder, exist_ok=True)
    for name, make in SAMPLES_MADE.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(make())


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default=SAMPLES, help="folder to write (default data/samples)")
    ap.add_argument("--check", action="store_true",
                    help="compare data/samples/ with a fresh run instead of writing")
    args = ap.parse_args()
    if not args.check:
        write_all(args.out)
        return 0
    with tempfile.TemporaryDirectory() as tmp:
        write_all(tmp)
        stale = []
        for name in SAMPLES_MADE:
            try:
                with open(os.path.join(SAMPLES, name), "rb") as f:
                    kept = f.read()
            except OSError:
                kept = None
            with open(os.path.join(tmp, name), "rb") as f:
                if f.read() != kept:
                    stale.append(name)
        for name in stale:
            print("make-samples: data/samples/%s differs from the recipe" % name, file=sys.stderr)
        return 1 if stale else 0


if __name__ == "__main__":
    sys.exit(main())
