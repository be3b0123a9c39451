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

struct TrueCase {
    const char *name;
    int depth, bpp;
    int shift[3], prec[3];
};

// Every true-colour layout the conversion has to place, including ones no local server has.
const TrueCase kTrueCases[] = {
    {"888_32", 24, 32, {16, 8, 0}, {8, 8, 8}},
    {"bgr888_32", 24, 32, {0, 8, 16}, {8, 8, 8}},
    {"888_packed24", 24, 24, {16, 8, 0}, {8, 8, 8}},
    {"565", 16, 16, {11, 5, 0}, {5, 6, 5}},
    {"555", 15, 16, {10, 5, 0}, {5, 5, 5}},
    {"444_in_16", 12, 16, {8, 4, 0}, {4, 4, 4}},
    {"332_red_low", 8, 8, {0, 3, 6}, {3, 3, 2}},
    {"101010_32", 30, 32, {20, 10, 0}, {10, 10, 10}},
};

guint32 expected_field (int v, int prec)
{
    if (prec <= 8) return guint32 (v) >> (8 - prec);
    return guint32 (v) << (prec - 8) | guint32 (v) >> (16 - prec);  // bits repeated downward
}

PixelFormat true_format (const TrueCase &c, GdkByteOrder order)
{
    PixelFormat f;
    f.kind = PixelKind::kTrue;
    f.depth = c.depth;
    f.bpp = c.bpp;
    f.byte_order = order;
    f.bit_order = order;
    f.shift = {c.shift[0], c.shift[1], c.shift[2]};
    f.prec = {c.prec[0], c.prec[1], c.prec[2]};
    return f;
}

// Xlib's image code (no display needed) writes the expected pixels in the same layout.
std::vector<guchar> xlib_reference (const PixelFormat &f, int width, int height, int bpl,
                                    const std::vector<guint32> &pixels)
{
    std::vector<guchar> mem (size_t (bpl) * size_t (height), 0);
    XImage x{};
    x.width = width;
    x.height = height;
    x.format = f.depth == 1 ? XYBitmap : ZPixmap;
    x.data = reinterpret_cast<char *> (mem.data ());
    x.byte_order = f.byte_order == GDK_MSB_FIRST ? MSBFirst : LSBFirst;
    x.bitmap_unit = 8;
    x.bitmap_bit_order = f.bit_order == GDK_MSB_FIRST ? MSBFirst : LSBFirst;
    x.bitmap_pad = 8;
    x.depth = f.depth;
    x.bytes_per_line = bpl;
    x.bits_per_pixel = f.bpp;
    EXPECT_TRUE (XInitImage (&x));
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width; ++i) XPutPixel (&x, i, y, pixels[size_t (y * width + i)]);
    return mem;
}

std::vector<guchar> random_rgb (int width, int height, unsigned seed)
{
    std::mt19937 rng (seed);
    std::vector<guchar> rgb (size_t (width) * size_t (height) * 3);
    for (auto &b : rgb) b = guchar (rng ());
    return rgb;
}

std::vector<guchar> convert (const RgbConverter &conv, const std::vector<guchar> &rgb, int width,
                             int height, int bpl, GdkRgbDither dither, int dx = 0, int dy = 0)
{
    std::vector<guchar> out (size_t (bpl) * size_t (height), 0);
    conv.convert (rgb.data (), width * 3, width, height, out.data (), bpl, dither, dx, dy);
    return out;
}

class TrueColourLayout : public ::testing::TestWithParam<std::tuple<TrueCase, GdkByteOrder>> {};

TEST_P (TrueColourLayout, UnditheredPixelsMatchXlibInBothByteOrdersAndOddWidths)
{
    const auto &[c, order] = GetParam ();
    const RgbConverter conv (true_format (c, order));
    for (int width : {1, 2, 3, 5, 8, 13}) {
        const int height = 3;
        const int bpl = (width * c.bpp + 7) / 8 + 1;  // a pad byte that must stay untouched
        const auto rgb = random_rgb (width, height, unsigned (width));
        std::vector<guint32> expected;
        for (size_t i = 0; i < rgb.size (); i += 3) {
            guint32 p = 0;
            for (int ch = 0; ch < 3; ++ch) p |= expected_field (rgb[i + size_t (ch)], c.prec[ch]) << c.shift[ch];
            expected.push_back (p);
            EXPECT_EQ (conv.pixel (rgb[i], rgb[i + 1], rgb[i + 2]), p);
        }
        for (GdkRgbDither d : {GDK_RGB_DITHER_NONE, GDK_RGB_DITHER_NORMAL})
            EXPECT_EQ (convert (conv, rgb, width, height, bpl, d),
                       xlib_reference (conv.format (), width, height, bpl, expected))
                << c.name << " width " << width << " dither " << d;
    }
}

INSTANTIATE_TEST_SUITE_P (
    Layouts, TrueColourLayout,
    ::testing::Combine (::testing::ValuesIn (kTrueCases),
                        ::testing::Values (GDK_LSB_FIRST, GDK_MSB_FIRST)),
    [] (const auto &info) {
        return std::string (std::get<0> (info.param).name)
               + (std::get<1> (info.param) == GDK_MSB_FIRST ? "_msb" : "_lsb");
    });

TEST (RgbConvert, DitherModesByFormat)
{
    struct Row {
        const char *name;
        PixelFormat format;
        bool normal, max;
    };
    PixelFormat cube;
    cube.kind = PixelKind::kCube;
    cube.depth = cube.bpp = 8;
    cube.cube_shades = {6, 6, 6};
    cube.cube_pixels.resize (216);
    PixelFormat grey8 = cube, grey4 = cube;
    grey8.kind = grey4.kind = PixelKind::kGrey;
    grey8.grey_levels = 256;
    grey4.grey_levels = 16;
    const Row rows[] = {
        {"888", true_format (kTrueCases[0], GDK_LSB_FIRST), false, false},
        {"101010", true_format (kTrueCases[7], GDK_LSB_FIRST), false, false},
        {"565", true_format (kTrueCases[3], GDK_LSB_FIRST), false, true},
        {"555 msb", true_format (kTrueCases[4], GDK_MSB_FIRST), false, true},
        {"332", true_format (kTrueCases[6], GDK_LSB_FIRST), false, true},
        {"cube", cube, true, true},
        {"grey 256", grey8, false, false},
        {"grey 16", grey4, true, true},
    };
    for (const Row &r : rows) {
        const RgbConverter conv (r.format);
        EXPECT_FALSE (conv.dithers (GDK_RGB_DITHER_NONE)) << r.name;
        EXPECT_EQ (conv.dithers (GDK_RGB_DITHER_NORMAL), r.normal) << r.name;
        EXPECT_EQ (conv.dithers (GDK_RGB_DITHER_MAX), r.max) << r.name;
    }
}

PixelFormat numbered_cube (int n)
{
    PixelFormat f;
    f.kind = PixelKind::kCube;
    f.depth = f.bpp = 8;
    f.cube_shades = {n, n, n};
    for (int i = 0; i < n * n * n; ++i) f.cube_pixels.push_back (guint32 (i) + 7);
    return f;
}

TEST (RgbConvert, CubeAndGreyPickTheNearestLevel)
{
    const RgbConverter cube (numbered_cube (6));
    // Shade k = (v * 5 + 127) / 255; pixel = table[(r * 6 + g) * 6 + b].
    EXPECT_EQ (cube.pixel (0, 0, 0), 7u);
    EXPECT_EQ (cube.pixel (255, 255, 255), 7u + 215);
    EXPECT_EQ (cube.pixel (255, 0, 0), 7u + 180);
    EXPECT_EQ (cube.pixel (25, 26, 77), 7u + (0 * 6 + 1) * 6 + 2);

    PixelFormat g;
    g.kind = PixelKind::kGrey;
    g.depth = g.bpp = 8;
    g.grey_levels = 256;
    const RgbConverter grey (g);
    EXPECT_EQ (grey.pixel (10, 20, 30), guint32 ((10 + 40 + 30 + 2) / 4));
    g.grey_levels = 4;
    g.grey_pixels = {40, 41, 42, 43};
    const RgbConverter ramp (g);
    EXPECT_EQ (ramp.pixel (255, 255, 255), 43u);
    EXPECT_EQ (ramp.pixel (90, 90, 90), 41u);  // (90 * 3 + 127) / 255 = 1
}

TEST (RgbConvert, FlatRepresentableColoursStayFlatWhenDithered)
{
    const RgbConverter cube (numbered_cube (6));
    const RgbConverter t565 (true_format (kTrueCases[3], GDK_LSB_FIRST));
    const int w = 16, h = 9;
    struct Case {
        const RgbConverter *conv;
        guchar r, g, b;
    };
    // Cube shades are multiples of 51; black and white are exact in any true-colour layout.
    const Case cases[] = {{&cube, 51, 102, 204}, {&cube, 0, 255, 153}, {&t565, 0, 0, 0},
                          {&t565, 255, 255, 255}, {&t565, 255, 0, 255}};
    for (const Case &c : cases) {
        std::vector<guchar> rgb;
        for (int i = 0; i < w * h; ++i) rgb.insert (rgb.end (), {c.r, c.g, c.b});
        const int bpl = w * c.conv->format ().bpp / 8;
        const auto plain = convert (*c.conv, rgb, w, h, bpl, GDK_RGB_DITHER_NONE);
        EXPECT_EQ (convert (*c.conv, rgb, w, h, bpl, GDK_RGB_DITHER_MAX, 3, -5), plain);
    }
}

TEST (RgbConvert, DitherOffsetsContinueThePatternAcrossPieces)
{
    const RgbConverter cube (numbered_cube (4));
    const int w = 16, h = 10;
    const auto rgb = random_rgb (w, h, 99);
    const auto whole = convert (cube, rgb, w, h, w, GDK_RGB_DITHER_NORMAL, 2, 3);
    // The right half drawn on its own at column 9 continues the same pattern.
    std::vector<guchar> right_rgb;
    for (int y = 0; y < h; ++y)
        right_rgb.insert (right_rgb.end (), rgb.begin () + (y * w + 9) * 3, rgb.begin () + (y * w + w) * 3);
    const auto right = convert (cube, right_rgb, w - 9, h, w - 9, GDK_RGB_DITHER_NORMAL, 2 + 9, 3);
    for (int y = 0; y < h; ++y)
        for (int x = 9; x < w; ++x)
            ASSERT_EQ (whole[size_t (y * w + x)], right[size_t (y * (w - 9) + x - 9)]) << x << "," << y;
    // A different offset gives a different picture for a non-flat colour.
    EXPECT_NE (convert (cube, rgb, w, h, w, GDK_RGB_DITHER_NORMAL, 0, 0), whole);
}

TEST (RgbConvert, OneAndFourBitsPerPixelFollowBitAndNibbleOrder)
{
    for (GdkByteOrder order : {GDK_LSB_FIRST, GDK_MSB_FIRST}) {
        PixelFormat g;
        g.kind = PixelKind::kGrey;
        g.grey_levels = 2;
        g.depth = g.bpp = 1;
        g.byte_order = g.bit_order = order;
        PixelFormat g4 = g;
        g4.grey_levels = 16;
        g4.depth = g4.bpp = 4;
        for (const PixelFormat &f : {g, g4}) {
            const RgbConverter conv (f);
            const int w = 13, h = 2, bpl = (w * f.bpp + 7) / 8;
            const auto rgb = random_rgb (w, h, 5);
            std::vector<guint32> expected;
            for (size_t i = 0; i < rgb.size (); i += 3) expected.push_back (conv.pixel (rgb[i], rgb[i + 1], rgb[i + 2]));
            EXPECT_EQ (convert (conv, rgb, w, h, bpl, GDK_RGB_DITHER_NONE),
                       xlib_reference (f, w, h, bpl, expected))
                << "bpp " << f.bpp << " order " << order;
        }
    }
}

}  // namespace
