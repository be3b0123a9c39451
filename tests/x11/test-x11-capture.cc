// SPDX-License-Identifier: LGPL-2.1-or-later
// Capture from windows and pixmaps of a real server, at whatever depth and class the fixture's
// screen has. Expected colours come from the visual and colormap, not from the library.
#include <gtest/gtest.h>

#include <gdk/gdk.h>
#include <gdk/gdkx.h>
#include <tamba/tamba.h>

#include <random>
#include <string>
#include <vector>

#include "log-capture.h"
#include "pixel-reference.h"
#include "xvfb-fixture.h"

namespace {

using tamba::test::colour_of_pixel;
using tamba::test::LogCapture;
using tamba::test::read_pixels;
using tamba::test::Rgb;

using tamba::test::Image;

Rgb pixel_rgb (const Tamba *t, int x, int y)
{
    const guchar *p = t->pixels + y * t->rowstride + x * t->n_channels;
    return {p[0], p[1], p[2]};
}

// A shown window of GdkRGB's visual at (x, y); Xvfb has no window manager, so it stays there.
GdkWindow *shown_window (int x, int y, int width, int height, GdkWindow *parent = nullptr)
{
    GdkWindowAttr attr{};
    attr.x = gint16 (x);
    attr.y = gint16 (y);
    attr.width = gint16 (width);
    attr.height = gint16 (height);
    attr.wclass = GDK_INPUT_OUTPUT;
    attr.visual = gdk_rgb_get_visual ();
    attr.colormap = gdk_rgb_get_cmap ();
    attr.window_type = parent ? GDK_WINDOW_CHILD : GDK_WINDOW_TOPLEVEL;
    GdkWindow *w = gdk_window_new (parent, &attr, GDK_WA_X | GDK_WA_Y | GDK_WA_VISUAL | GDK_WA_COLORMAP);
    gdk_window_show (w);
    gdk_flush ();
    return w;
}

// Puts random pixel values (any the depth allows) into a drawable; returns them row by row.
std::vector<guint32> put_random_pixels (GdkDrawable *d, GdkVisual *visual, int width, int height,
                                        unsigned seed)
{
    GdkImage *image = gdk_image_new (GDK_IMAGE_NORMAL, visual, width, height);
    std::mt19937 rng (seed);
    const guint32 mask = visual->depth >= 32 ? 0xffffffffu : (1u << visual->depth) - 1;
    std::vector<guint32> values;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const guint32 v = guint32 (rng ()) & mask;
            values.push_back (v);
            gdk_image_put_pixel (image, x, y, v);
        }
    GdkGC *gc = gdk_gc_new (d);
    gdk_draw_image (d, gc, image, 0, 0, 0, 0, width, height);
    gdk_gc_unref (gc);
    gdk_image_destroy (image);
    return values;
}

TEST (Capture, PixmapOfEveryPixelValueIntoANewImage)
{
    GdkVisual *visual = gdk_visual_get_system ();
    GdkColormap *cmap = gdk_colormap_get_system ();
    for (int w : {1, 2, 7, 64}) {
        GdkPixmap *pixmap = gdk_pixmap_new (nullptr, w + 3, 5, visual->depth);
        const auto values = put_random_pixels (pixmap, visual, w + 3, 5, unsigned (w));
        Image img (tamba_get_from_drawable (nullptr, pixmap, cmap, 3, 1, 0, 0, w, 4));
        ASSERT_NE (img, nullptr);
        EXPECT_EQ (img->width, w);
        EXPECT_EQ (img->height, 4);
        EXPECT_FALSE (img->has_alpha);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ (pixel_rgb (img.get (), x, y),
                           colour_of_pixel (values[size_t ((y + 1) * (w + 3) + x + 3)], visual, cmap))
                    << "at " << x << "," << y;
        gdk_pixmap_unref (pixmap);
    }
}

TEST (Capture, WindowRoundTripIntoADestinationWithAlpha)
{
    GdkVisual *visual = gdk_rgb_get_visual ();
    const int w = 13, h = 6;
    GdkWindow *win = shown_window (20, 30, w + 4, h + 2);
    Image src (tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, w, h));
    std::mt19937 rng (7);
    for (int i = 0; i < h * src->rowstride; ++i) src->pixels[i] = guchar (rng ());
    GdkGC *gc = gdk_gc_new (win);
    tamba_render_to_drawable (src.get (), win, gc, 0, 0, 2, 1, w, h, GDK_RGB_DITHER_NONE, 0, 0);
    gdk_gc_unref (gc);

    Image dest (tamba_new (GDK_COLORSPACE_RGB, TRUE, 8, w + 3, h + 2));
    std::fill (dest->pixels, dest->pixels + dest->rowstride * dest->height, guchar (0x5a));
    // For a window the cmap argument is ignored: any colormap, or none, gives the same.
    for (GdkColormap *cmap : {static_cast<GdkColormap *> (nullptr), gdk_colormap_get_system ()}) {
        Tamba *r = tamba_get_from_drawable (dest.get (), win, cmap, 2, 1, 1, 2, w, h);
        ASSERT_EQ (r, dest.get ());
        GdkColormap *wcmap = gdk_window_get_colormap (win);
        for (int y = 0; y < dest->height; ++y)
            for (int x = 0; x < dest->width; ++x) {
                const guchar *p = dest->pixels + y * dest->rowstride + x * 4;
                if (x < 1 || x > w || y < 2 || y >= h + 2) {
                    ASSERT_EQ (p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24, 0x5a5a5a5a);
                    continue;
                }
                const guchar *s = src->pixels + (y - 2) * src->rowstride + (x - 1) * 3;
                const guint32 drawn = guint32 (gdk_rgb_xpixel_from_rgb (guint32 (s[0]) << 16 | s[1] << 8 | s[2]));
                ASSERT_EQ (pixel_rgb (dest.get (), x, y), colour_of_pixel (drawn, visual, wcmap));
                ASSERT_EQ (p[3], 255);
            }
    }
    gdk_window_destroy (win);
}

TEST (Capture, ABitmapIsReadWithoutMirroring)
{
    const int w = 13, h = 2;
    GdkBitmap *bitmap = gdk_pixmap_new (nullptr, w, h, 1);
    tamba::test::fill_drawable (bitmap, 0);
    GdkGC *gc = gdk_gc_new (bitmap);
    GdkColor one{1, 0, 0, 0};
    gdk_gc_set_foreground (gc, &one);
    for (int x : {0, 3, 9, 12}) gdk_draw_point (bitmap, gc, x, 1);
    gdk_gc_unref (gc);
    // The layer hands out bitmaps most significant bit first.
    GdkImage *image = gdk_image_get (bitmap, 0, 0, w, h);
    ASSERT_NE (image, nullptr);
    EXPECT_EQ (image->bpp, 1);
    const guchar *row1 = static_cast<guchar *> (image->mem) + image->bpl;
    EXPECT_EQ (row1[0], 0x80 | 0x10);
    EXPECT_EQ (row1[1], 0x40 | 0x08);
    gdk_image_destroy (image);

    GdkColormap *cmap = gdk_colormap_get_system ();
    Image img (tamba_get_from_drawable (nullptr, bitmap, cmap, 0, 0, 0, 0, w, h));
    ASSERT_NE (img, nullptr);
    for (int x = 0; x < w; ++x) {
        const guint32 bit = x == 0 || x == 3 || x == 9 || x == 12;
        EXPECT_EQ (pixel_rgb (img.get (), x, 1), colour_of_pixel (bit, gdk_visual_get_system (), cmap)) << x;
        EXPECT_EQ (pixel_rgb (img.get (), x, 0), colour_of_pixel (0, gdk_visual_get_system (), cmap)) << x;
    }
    gdk_bitmap_unref (bitmap);
}

TEST (Capture, WindowsMustBeViewableAndWhollyOnScreen)
{
    const int sw = gdk_screen_width (), sh = gdk_screen_height ();
    struct Case {
        int wx, wy, sx, sy, w, h;
        const char *message;
    };
    const Case cases[] = {
        {sw - 40, 10, 30, 0, 60, 5, "screen_srcx + width <= screen_width"},
        {-10, 10, 5, 0, 20, 5, "screen_srcx >= 0 && screen_srcy >= 0"},
        {10, sh - 20, 0, 10, 20, 30, "screen_srcy + height <= screen_height"},
    };
    for (const Case &c : cases) {
        GdkWindow *win = shown_window (c.wx, c.wy, 100, 50);
        LogCapture log;
        EXPECT_EQ (tamba_get_from_drawable (nullptr, win, nullptr, c.sx, c.sy, 0, 0, c.w, c.h), nullptr);
        EXPECT_EQ (log.criticals (), std::vector<std::string>{c.message});
        gdk_window_destroy (win);
    }
    // The same rectangle of a pixmap is captured.
    GdkPixmap *pixmap = tamba::test::rgb_pixmap (100, 50, 0);
    Image img (tamba_get_from_drawable (nullptr, pixmap, gdk_rgb_get_cmap (), 30, 0, 0, 0, 60, 5));
    EXPECT_NE (img, nullptr);
    gdk_pixmap_unref (pixmap);

    GdkWindow *parent = shown_window (5, 5, 50, 50);
    GdkWindow *child = shown_window (1, 1, 10, 10, parent);
    gdk_window_hide (parent);
    LogCapture log;
    EXPECT_EQ (tamba_get_from_drawable (nullptr, child, nullptr, 0, 0, 0, 0, 2, 2), nullptr);
    EXPECT_EQ (log.criticals (), std::vector<std::string>{"gdk_window_is_viewable (src)"});
    gdk_window_destroy (parent);
    // Destroying the parent destroyed the child too; its record goes with its last reference.
    EXPECT_FALSE (gdk_window_is_viewable (child));
    gdk_window_unref (child);
}

TEST (Capture, PreconditionsInOrderLeaveTheDestinationAlone)
{
    GdkPixmap *pixmap = tamba::test::rgb_pixmap (8, 8, 0);
    GdkColormap *cmap = gdk_rgb_get_cmap ();
    Image dest (tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, 4, 4));
    std::fill (dest->pixels, dest->pixels + dest->rowstride * 4, guchar (7));
    struct Case {
        bool with_dest;
        bool with_cmap;
        int sx, sy, dx, dy, w, h;
        const char *message;
    };
    const Case cases[] = {
        {false, false, 0, 0, 0, 0, 2, 2, "cmap != NULL"},
        {false, true, 0, 0, 1, 0, 2, 2, "dest_x == 0 && dest_y == 0"},
        {false, true, 0, 0, 0, 0, 0, 2, "width > 0 && height > 0"},
        {true, true, 0, 0, 0, 0, 2, -1, "width > 0 && height > 0"},
        {true, true, -1, 0, 0, 0, 2, 2, "src_x >= 0 && src_y >= 0"},
        {true, true, 0, 7, 0, 0, 2, 2, "src_x + width <= src_width && src_y + height <= src_height"},
        {true, true, 0, 0, 0, -1, 2, 2, "dest_x >= 0 && dest_y >= 0"},
        {true, true, 0, 0, 3, 0, 2, 2, "dest_x + width <= dest->width"},
        {true, true, 0, 0, 0, 3, 2, 2, "dest_y + height <= dest->height"},
    };
    for (const Case &c : cases) {
        LogCapture log;
        EXPECT_EQ (tamba_get_from_drawable (c.with_dest ? dest.get () : nullptr, pixmap,
                                            c.with_cmap ? cmap : nullptr, c.sx, c.sy, c.dx, c.dy, c.w, c.h),
                   nullptr);
        EXPECT_EQ (log.criticals (), std::vector<std::string>{c.message});
    }
    LogCapture log;
    EXPECT_EQ (tamba_get_from_drawable (dest.get (), nullptr, cmap, 0, 0, 0, 0, 1, 1), nullptr);
    EXPECT_EQ (log.criticals (), std::vector<std::string>{"src != NULL"});
    for (int i = 0; i < dest->rowstride * 4; ++i) ASSERT_EQ (dest->pixels[i], 7);
    gdk_pixmap_unref (pixmap);
}

}  // namespace
