// SPDX-License-Identifier: LGPL-2.1-or-later
// Capture's conversion routines and generic path on wrapped images of every layout, including
// MSB-first and packed 24-bit pixels that no local server produces; and a failed open, after
// which calls that need the server refuse with a message instead of crashing.
#include <gtest/gtest.h>

#include <gdk/gdk.h>
#include <gdk/gdklayer.h>
#include <gdk/gdkx.h>

#include <random>
#include <string>
#include <vector>

#include "log-capture.h"
#include "pixel-reference.h"
#include "tamba-drawable.h"

namespace {

using tamba::detail::convert_index;
using tamba::detail::convert_with_visual;
using tamba::test::LogCapture;
using Strings = std::vector<std::string>;

struct Layout {
    const char *name;
    GdkVisualType type;
    int depth, bpp;
    guint32 masks[3];
    int lsb_index;  // convert_map index without alpha, LSB first; -1 for the generic path
};

const Layout kLayouts[] = {
    {"rgb1", GDK_VISUAL_PSEUDO_COLOR, 1, 1, {0, 0, 0}, 0},
    {"rgb8", GDK_VISUAL_PSEUDO_COLOR, 8, 8, {0, 0, 0}, 4},
    {"rgb8_depth4", GDK_VISUAL_STATIC_COLOR, 4, 8, {0, 0, 0}, 4},
    {"grey8", GDK_VISUAL_STATIC_GRAY, 8, 8, {0, 0, 0}, 4},
    {"rgb555", GDK_VISUAL_TRUE_COLOR, 15, 16, {0x7c00, 0x03e0, 0x001f}, 8},
    {"rgb565", GDK_VISUAL_TRUE_COLOR, 16, 16, {0xf800, 0x07e0, 0x001f}, 12},
    {"rgb888", GDK_VISUAL_TRUE_COLOR, 24, 32, {0xff0000, 0x00ff00, 0x0000ff}, 16},
    {"rgb888_depth32", GDK_VISUAL_TRUE_COLOR, 32, 32, {0xff0000, 0x00ff00, 0x0000ff}, 16},
    {"packed24", GDK_VISUAL_TRUE_COLOR, 24, 24, {0xff0000, 0x00ff00, 0x0000ff}, -1},
    {"bgr888", GDK_VISUAL_TRUE_COLOR, 24, 32, {0x0000ff, 0x00ff00, 0xff0000}, -1},
    {"rgb332_red_low", GDK_VISUAL_TRUE_COLOR, 8, 8, {0x07, 0x38, 0xc0}, -1},
    {"rgb101010", GDK_VISUAL_TRUE_COLOR, 30, 32, {0x3ff00000, 0x000ffc00, 0x000003ff}, -1},
    {"top_bits_10", GDK_VISUAL_TRUE_COLOR, 32, 32, {0xffc00000, 0x003ff000, 0x00000fff}, -1},
    {"no_red", GDK_VISUAL_TRUE_COLOR, 16, 16, {0, 0x07e0, 0x001f}, -1},
    {"direct888", GDK_VISUAL_DIRECT_COLOR, 24, 32, {0xff0000, 0x00ff00, 0x0000ff}, -1},
    {"direct565", GDK_VISUAL_DIRECT_COLOR, 16, 16, {0xf800, 0x07e0, 0x001f}, -1},
    {"grey12_in_16", GDK_VISUAL_GRAYSCALE, 12, 16, {0, 0, 0}, -1},
};

GdkVisual make_visual (const Layout &l)
{
    GdkVisual v{};
    v.type = l.type;
    v.depth = l.depth;
    v.colormap_size = l.type >= GDK_VISUAL_TRUE_COLOR ? 1 << std::min (l.depth / 3 + 1, 10) : 1 << std::min (l.depth, 12);
    int *shift[3] = {&v.red_shift, &v.green_shift, &v.blue_shift}, *prec[3] = {&v.red_prec, &v.green_prec, &v.blue_prec};
    v.red_mask = l.masks[0];
    v.green_mask = l.masks[1];
    v.blue_mask = l.masks[2];
    for (int c = 0; c < 3; ++c) {
        guint32 m = l.masks[c];
        for (; m && !(m & 1); m >>= 1) ++*shift[c];
        for (; m & 1; m >>= 1) ++*prec[c];
    }
    return v;
}

// A colormap of exactly size entries (no spare ones), with distinct colours whose low and high
// bytes differ, so reading the wrong byte or past the end shows.
struct Colormap {
    std::vector<GdkColor> colors;
    GdkColormap cmap{};
    explicit Colormap (int size)
    {
        for (int i = 0; i < size; ++i)
            colors.push_back (GdkColor{guint32 (i), guint16 (0x1100 + i * 7), guint16 (0x2200 + i * 13), guint16 (0x3300 + i * 29)});
        cmap.size = size;
        cmap.colors = colors.data ();
    }
};

void store (guchar *row, int x, guint32 v, int bpp, bool msb)
{
    if (bpp == 1) {
        if (v & 1) row[x / 8] |= guchar (0x80 >> (x % 8));  // most significant bit first, always
        return;
    }
    for (int i = 0; i < bpp / 8; ++i) row[x * bpp / 8 + i] = guchar (v >> (8 * (msb ? bpp / 8 - 1 - i : i)));
}

class CaptureConversion : public ::testing::TestWithParam<std::tuple<Layout, GdkByteOrder, bool>> {};

TEST_P (CaptureConversion, EveryPixelMeansWhatItsLayoutSays)
{
    const auto &[l, order, alpha] = GetParam ();
    const bool msb = order == GDK_MSB_FIRST;
    GdkVisual visual = make_visual (l);
    // Palette colormaps a few entries short of the depth's range (except 1-bit), so that some
    // values lie beyond them; 4096 entries for 12 bits. One variant has an empty colormap, which
    // must give black rather than a read.
    const int palette_size = l.depth == 1 ? 2 : l.depth == 4 && alpha ? 0 : (1 << std::min (l.depth, 12)) - 3;
    Colormap cm (l.type >= GDK_VISUAL_TRUE_COLOR ? 256 : palette_size);
    std::mt19937 rng (unsigned (l.depth * 31 + l.bpp));
    const guint32 value_mask = l.depth >= 32 ? 0xffffffffu : (1u << l.depth) - 1;
    LogCapture log ("Gdk");
    guchar short_row[4];  // rows longer than bpl are refused
    EXPECT_EQ (gdkl_image_wrap (&visual, order, l.depth, l.bpp, 64, 1, 4, short_row), nullptr);
    EXPECT_EQ (log.criticals (), Strings{"bpl holds a row"});
    for (int width : {1, 2, 3, 8, 13}) {
        const int height = 3, bpl = (width * l.bpp + 7) / 8 + 3;
        std::vector<guchar> mem (size_t (bpl * height), 0);
        std::vector<guint32> values;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                guint32 v = guint32 (rng ());
                if (l.bpp < 32) v &= (1u << l.bpp) - 1;  // bits above the depth too, where there are any
                values.push_back (v);
                store (mem.data () + y * bpl, x, v, l.bpp, msb);
            }
        GdkImage *image = gdkl_image_wrap (&visual, order, l.depth, l.bpp, width, height, bpl, mem.data ());
        ASSERT_NE (image, nullptr);
        EXPECT_EQ (convert_index (image, &visual, alpha), l.lsb_index < 0 ? -1 : l.lsb_index + (alpha ? 2 : 0) + msb);

        const int channels = alpha ? 4 : 3, rowstride = (width + 2) * channels;
        std::vector<guchar> out (size_t (rowstride * (height + 1)), 0x5a);
        convert_with_visual (image, out.data () + rowstride + channels, rowstride, alpha, &cm.cmap, &visual);
        for (int y = 0; y <= height; ++y)
            for (int x = 0; x < width + 2; ++x) {
                const guchar *o = out.data () + y * rowstride + x * channels;
                std::vector<guchar> want (size_t (channels), 0x5a);  // outside stays untouched
                if (y >= 1 && x >= 1 && x <= width) {
                    guint32 v = values[size_t ((y - 1) * width + x - 1)];
                    // Palette bytes keep the depth's bits; other layouts keep what the masks select.
                    if (l.type < GDK_VISUAL_TRUE_COLOR) v &= value_mask;
                    const auto c = tamba::test::colour_of_pixel (v, &visual, &cm.cmap);
                    want = {c[0], c[1], c[2], 255};
                    want.resize (size_t (channels));
                }
                ASSERT_EQ (std::vector<guchar> (o, o + channels), want) << l.name << " w" << width << " at " << x - 1 << "," << y - 1;
            }
        gdk_image_destroy (image);
    }
}

INSTANTIATE_TEST_SUITE_P (
    Layouts, CaptureConversion,
    ::testing::Combine (::testing::ValuesIn (kLayouts), ::testing::Values (GDK_LSB_FIRST, GDK_MSB_FIRST), ::testing::Values (false, true)),
    [] (const auto &info) {
        return std::string (std::get<0> (info.param).name) + (std::get<1> (info.param) == GDK_MSB_FIRST ? "_msb" : "_lsb")
               + (std::get<2> (info.param) ? "_alpha" : "");
    });

TEST (NoDisplay, OpeningFailsQuietlyAndCallsThatNeedTheServerRefuse)
{
    std::string prog = "t", opt = "--display=:4095", keep = "--other";
    char *argv[] = {prog.data (), opt.data (), keep.data (), nullptr};
    int argc = 3;
    char **argvp = argv;
    LogCapture log ("Gdk");
    EXPECT_FALSE (gdk_init_check (&argc, &argvp));
    EXPECT_EQ (argc, 2);  // the option is taken
    EXPECT_STREQ (argv[1], "--other");
    EXPECT_STREQ (gdk_get_display (), ":4095");
    EXPECT_EQ (gdk_display, nullptr);
    EXPECT_TRUE (log.messages ().empty ());
    EXPECT_EQ (gdk_screen_width (), 0);
    EXPECT_EQ (gdk_pixmap_new (nullptr, 4, 4, 1), nullptr);
    EXPECT_EQ (gdk_rgb_get_visual (), nullptr);
    gdk_flush ();
    EXPECT_EQ (log.criticals (), Strings (4, "gdk_display != NULL"));
}

}  // namespace
