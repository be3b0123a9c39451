// SPDX-License-Identifier: LGPL-2.1-or-later
// RGB -> pixel conversion of the X layer, for formats Xvfb cannot offer as well as those it can.
// GoogleTest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <random>
#include <string>
#include <vector>

#include "rgb_convert.h"

namespace {

using gdkl::PixelFormat;
using gdkl::PixelKind;
using gdkl::RgbConverter;
using Bytes = std::vector<guchar>;

PixelFormat true_format (int depth, int bpp, std::array<int, 3> shift, std::array<int, 3> prec)
{
    PixelFormat f;
    f.depth = depth, f.bpp = bpp, f.shift = shift, f.prec = prec;
    return f;
}

// A palette format: a cube of n shades whose pixels are numbered from 7, or levels of grey.
PixelFormat palette (PixelKind kind, int n, int bpp = 8)
{
    PixelFormat f;
    f.kind = kind;
    f.depth = f.bpp = bpp;
    if (kind == PixelKind::kGrey) f.grey_levels = n;
    if (kind == PixelKind::kCube) f.cube_shades = {n, n, n};
    for (int i = 0; kind == PixelKind::kCube && i < n * n * n; ++i) f.cube_pixels.push_back (guint32 (i) + 7);
    return f;
}

PixelFormat in_order (PixelFormat f, GdkByteOrder order)
{
    f.byte_order = f.bit_order = order;
    return f;
}

// Every layout the conversion has to place, including ones no local server has: true colour,
// and 1 and 4 bits per pixel (whose bit and nibble order follow the byte order here).
const std::pair<const char *, PixelFormat> kLayouts[] = {
    {"888_32", true_format (24, 32, {16, 8, 0}, {8, 8, 8})},     {"bgr888_32", true_format (24, 32, {0, 8, 16}, {8, 8, 8})},
    {"888_packed24", true_format (24, 24, {16, 8, 0}, {8, 8, 8})}, {"565", true_format (16, 16, {11, 5, 0}, {5, 6, 5})},
    {"555", true_format (15, 16, {10, 5, 0}, {5, 5, 5})},         {"444_in_16", true_format (12, 16, {8, 4, 0}, {4, 4, 4})},
    {"332_red_low", true_format (8, 8, {0, 3, 6}, {3, 3, 2})},    {"101010_32", true_format (30, 32, {20, 10, 0}, {10, 10, 10})},
    {"grey_1bpp", palette (PixelKind::kGrey, 2, 1)},              {"grey_4bpp", palette (PixelKind::kGrey, 16, 4)},
};

// Xlib's image code (no display needed) writes the expected pixels in the same layout.
Bytes xlib_reference (const PixelFormat &f, int width, int height, int bpl, const std::vector<guint32> &pixels)
{
    Bytes mem (size_t (bpl) * size_t (height), 0);
    XImage x{};
    x.width = width;
    x.height = height;
    x.format = f.depth == 1 ? XYBitmap : ZPixmap;
    x.data = reinterpret_cast<char *> (mem.data ());
    x.byte_order = f.byte_order == GDK_MSB_FIRST ? MSBFirst : LSBFirst;
    x.bitmap_unit = x.bitmap_pad = 8;
    x.bitmap_bit_order = f.bit_order == GDK_MSB_FIRST ? MSBFirst : LSBFirst;
    x.depth = f.depth;
    x.bytes_per_line = bpl;
    x.bits_per_pixel = f.bpp;
    EXPECT_TRUE (XInitImage (&x));
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width; ++i) XPutPixel (&x, i, y, pixels[size_t (y * width + i)]);
    return mem;
}

Bytes random_rgb (int width, int height, unsigned seed)
{
    std::mt19937 rng (seed);
    Bytes rgb (size_t (width) * size_t (height) * 3);
    for (auto &b : rgb) b = guchar (rng ());
    return rgb;
}

Bytes convert (const RgbConverter &conv, const Bytes &rgb, int width, int height, int bpl,
               GdkRgbDither dither, int dx = 0, int dy = 0)
{
    Bytes out (size_t (bpl) * size_t (height), 0);
    conv.convert (rgb.data (), width * 3, width, height, out.data (), bpl, dither, dx, dy);
    return out;
}

class Layout : public ::testing::TestWithParam<std::tuple<std::pair<const char *, PixelFormat>, GdkByteOrder>> {};

// True-colour pixels are worked out here from the fields; those of palettes are the converter's
// own, so that only their packing is compared.
TEST_P (Layout, UnditheredPixelsMatchXlibInBothByteOrdersAndOddWidths)
{
    const auto &[layout, order] = GetParam ();
    const PixelFormat &f = layout.second;
    const RgbConverter conv (in_order (f, order));
    for (int width : {1, 2, 3, 5, 8, 13}) {
        const int height = 3, bpl = (width * f.bpp + 7) / 8 + 1;  // a pad byte that must stay untouched
        const auto rgb = random_rgb (width, height, unsigned (width));
        std::vector<guint32> expected;
        for (size_t i = 0; i < rgb.size (); i += 3) {
            expected.push_back (conv.pixel (rgb[i], rgb[i + 1], rgb[i + 2]));
            if (f.kind != PixelKind::kTrue) continue;
            guint32 fields = 0;
            for (size_t ch = 0; ch < 3; ++ch) {
                const int v = rgb[i + ch], prec = f.prec[ch];  // bits repeated downward past 8
                fields |= guint32 (prec <= 8 ? v >> (8 - prec) : v << (prec - 8) | v >> (16 - prec)) << f.shift[ch];
            }
            EXPECT_EQ (expected.back (), fields);
        }
        for (GdkRgbDither d : {GDK_RGB_DITHER_NONE, GDK_RGB_DITHER_NORMAL}) {
            if (conv.dithers (d)) continue;
            EXPECT_EQ (convert (conv, rgb, width, height, bpl, d), xlib_reference (conv.format (), width, height, bpl, expected))
                << layout.first << " width " << width << " dither " << d;
        }
    }
}

INSTANTIATE_TEST_SUITE_P (Layouts, Layout,
                          ::testing::Combine (::testing::ValuesIn (kLayouts), ::testing::Values (GDK_LSB_FIRST, GDK_MSB_FIRST)),
                          [] (const auto &info) {
                              return std::string (std::get<0> (info.param).first)
                                     + (std::get<1> (info.param) == GDK_MSB_FIRST ? "_msb" : "_lsb");
                          });

// Which formats dither in each mode; flat colours a format represents exactly stay flat when
// dithered (cube shades are multiples of 51; black and white are exact in any true-colour layout).
TEST (RgbConvert, DitherModesByFormatAndFlatColours)
{
    struct Row {
        PixelFormat format;
        bool normal, max;
        std::vector<std::array<guchar, 3>> flat;
    };
    const Row rows[] = {
        {kLayouts[0].second, false, false, {}},
        {kLayouts[7].second, false, false, {}},
        {kLayouts[3].second, false, true, {{0, 0, 0}, {255, 255, 255}, {255, 0, 255}}},
        {in_order (kLayouts[4].second, GDK_MSB_FIRST), false, true, {}},
        {kLayouts[6].second, false, true, {}},
        {palette (PixelKind::kCube, 6), true, true, {{51, 102, 204}, {0, 255, 153}}},
        {palette (PixelKind::kGrey, 256), false, false, {}},
        {palette (PixelKind::kGrey, 16), true, true, {}},
    };
    const int w = 16, h = 9;
    for (const Row &r : rows) {
        const RgbConverter conv (r.format);
        EXPECT_EQ (std::vector<bool> ({conv.dithers (GDK_RGB_DITHER_NONE), conv.dithers (GDK_RGB_DITHER_NORMAL),
                                       conv.dithers (GDK_RGB_DITHER_MAX)}),
                   std::vector<bool> ({false, r.normal, r.max})) << &r - rows;
        for (const auto &c : r.flat) {
            Bytes rgb;
            for (int i = 0; i < w * h; ++i) rgb.insert (rgb.end (), c.begin (), c.end ());
            const int bpl = w * r.format.bpp / 8;
            EXPECT_EQ (convert (conv, rgb, w, h, bpl, GDK_RGB_DITHER_MAX, 3, -5), convert (conv, rgb, w, h, bpl, GDK_RGB_DITHER_NONE));
        }
    }
}

TEST (RgbConvert, CubeAndGreyPickTheNearestLevel)
{
    const RgbConverter cube (palette (PixelKind::kCube, 6));
    // Shade k = (v * 5 + 127) / 255; pixel = table[(r * 6 + g) * 6 + b].
    EXPECT_EQ (std::vector<guint32> ({cube.pixel (0, 0, 0), cube.pixel (255, 255, 255), cube.pixel (255, 0, 0),
                                      cube.pixel (25, 26, 77)}),
               std::vector<guint32> ({7, 7 + 215, 7 + 180, 7 + (0 * 6 + 1) * 6 + 2}));
    EXPECT_EQ (RgbConverter (palette (PixelKind::kGrey, 256)).pixel (10, 20, 30), guint32 ((10 + 40 + 30 + 2) / 4));
    PixelFormat g = palette (PixelKind::kGrey, 4);
    g.grey_pixels = {40, 41, 42, 43};
    const RgbConverter ramp (g);
    EXPECT_EQ (ramp.pixel (255, 255, 255), 43u);
    EXPECT_EQ (ramp.pixel (90, 90, 90), 41u);  // (90 * 3 + 127) / 255 = 1
}

}  // namespace
