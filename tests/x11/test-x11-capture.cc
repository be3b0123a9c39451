// SPDX-License-Identifier: LGPL-2.1-or-later
// Capture from windows and pixmaps of a real server, at whatever depth and class the fixture's
// screen has. Expected colours come from the visual and colormap, not from the library.
#include <gtest/gtest.h>

#include <gdk/gdk.h>
#include <tamba/tamba.h>

#include <random>
#include <string>
#include <vector>

#include "log-capture.h"
#include "pixel-reference.h"
#include "xvfb-fixture.h"

namespace {

using tamba::test::colour_of_pixel;
using tamba::test::Image;
using tamba::test::LogCapture;
using tamba::test::Rgb;
using Strings = std::vector<std::string>;

Rgb rgb_at (const Tamba *t, int x, int y)
{
    const guchar *p = t->pixels + y * t->rowstride + x * t->n_channels;
    return {p[0], p[1], p[2]};
}

// A shown window of GdkRGB's visual; Xvfb has no window manager, so it stays where it is put.
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

// Random pixel values (any the depth allows) put into a pixmap, and a bitmap, read back.
TEST (Capture, PixmapsOfAnyPixelValueIntoANewImage)
{
    GdkVisual *visual = gdk_visual_get_system ();
    GdkColormap *cmap = gdk_colormap_get_system ();
    for (int depth : {visual->depth, 1})
        for (int w : {1, 7, 64}) {
            GdkPixmap *pixmap = gdk_pixmap_new (nullptr, w + 3, 5, depth);
            GdkImage *image = gdk_image_get (pixmap, 0, 0, w + 3, 5);
            std::mt19937 rng (static_cast<unsigned> (w));
            const guint32 mask = depth >= 32 ? 0xffffffffu : (1u << depth) - 1;
            for (int i = 0; i < (w + 3) * 5; ++i) gdk_image_put_pixel (image, i % (w + 3), i / (w + 3), guint32 (rng ()) & mask);
            GdkGC *gc = gdk_gc_new (pixmap);
            gdk_draw_image (pixmap, gc, image, 0, 0, 0, 0, w + 3, 5);
            gdk_gc_unref (gc);
            Image img (tamba_get_from_drawable (nullptr, pixmap, cmap, 3, 1, 0, 0, w, 4));
            ASSERT_NE (img, nullptr);
            EXPECT_EQ (std::vector<int> ({img->width, img->height, int (img->has_alpha)}),
                       std::vector<int> ({w, 4, 0}));
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ (rgb_at (img.get (), x, y), colour_of_pixel (gdk_image_get_pixel (image, x + 3, y + 1), visual, cmap))
                        << "depth " << depth << " at " << x << "," << y;
            gdk_image_destroy (image);
            gdk_pixmap_unref (pixmap);
        }
}

TEST (Capture, WindowIntoADestinationWithAlpha)
{
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
        ASSERT_EQ (tamba_get_from_drawable (dest.get (), win, cmap, 2, 1, 1, 2, w, h), dest.get ());
        for (int y = 0; y < dest->height; ++y)
            for (int x = 0; x < dest->width; ++x) {
                const guchar *p = dest->pixels + y * dest->rowstride + x * 4;
                if (x < 1 || x > w || y < 2 || y >= h + 2) {
                    ASSERT_EQ (p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24, 0x5a5a5a5a);
                    continue;
                }
                const Rgb s = rgb_at (src.get (), x - 1, y - 2);
                const guint32 drawn = guint32 (gdk_rgb_xpixel_from_rgb (guint32 (s.r) << 16 | s.g << 8 | s.b));
                ASSERT_EQ (rgb_at (dest.get (), x, y), colour_of_pixel (drawn, gdk_rgb_get_visual (), gdk_window_get_colormap (win)));
                ASSERT_EQ (p[3], 255);
            }
    }
    gdk_window_destroy (win);
}

TEST (Capture, RefusalsInOrderLeaveTheDestinationAlone)
{
    const int sw = gdk_screen_width (), sh = gdk_screen_height ();
    struct Window {
        int wx, wy, sx, sy, w, h;
        const char *message;
    };
    const Window windows[] = {
        {sw - 40, 10, 30, 0, 60, 5, "screen_srcx + width <= screen_width"},
        {-10, 10, 5, 0, 20, 5, "screen_srcx >= 0 && screen_srcy >= 0"},
        {10, sh - 20, 0, 10, 20, 30, "screen_srcy + height <= screen_height"},
    };
    for (const Window &c : windows) {
        GdkWindow *win = shown_window (c.wx, c.wy, 100, 50);
        LogCapture log;
        EXPECT_EQ (tamba_get_from_drawable (nullptr, win, nullptr, c.sx, c.sy, 0, 0, c.w, c.h), nullptr);
        EXPECT_EQ (log.criticals (), Strings{c.message});
        gdk_window_destroy (win);
    }
    GdkWindow *parent = shown_window (5, 5, 50, 50);
    GdkWindow *child = shown_window (1, 1, 10, 10, parent);
    gdk_window_hide (parent);
    {
        LogCapture log;
        EXPECT_EQ (tamba_get_from_drawable (nullptr, child, nullptr, 0, 0, 0, 0, 2, 2), nullptr);
        EXPECT_EQ (log.criticals (), Strings{"gdk_window_is_viewable (src)"});
    }
    gdk_window_destroy (parent);
    gdk_window_unref (child);  // destroyed with its parent; the record goes with this reference

    GdkPixmap *pixmap = tamba::test::rgb_pixmap (8, 8, 0);
    GdkColormap *cmap = gdk_rgb_get_cmap ();
    Image dest (tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, 4, 4));
    std::fill (dest->pixels, dest->pixels + dest->rowstride * 4, guchar (7));
    struct Case {
        bool with_dest, with_cmap;
        int sx, sy, dx, dy, w, h;
        const char *message;
    };
    const Case cases[] = {
        {false, false, 0, 0, 0, 0, 2, 2, "cmap != NULL"},
        {false, true, 0, 0, 1, 0, 2, 2, "dest_x == 0 && dest_y == 0"},
        {false, true, 0, 0, 0, 0, 0, 2, "width > 0 && height > 0"},
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
        EXPECT_EQ (log.criticals (), Strings{c.message});
    }
    for (int i = 0; i < dest->rowstride * 4; ++i) ASSERT_EQ (dest->pixels[i], 7);
    gdk_pixmap_unref (pixmap);
}

}  // namespace
