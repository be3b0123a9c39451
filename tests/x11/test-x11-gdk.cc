// SPDX-License-Identifier: LGPL-2.1-or-later
// The X layer itself on a real server: visual choice, drawables, drawing, images, error traps.
#include <gtest/gtest.h>

#include <gdk/gdk.h>
#include <gdk/gdkx.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <string>
#include <vector>

#include "log-capture.h"
#include "xvfb-fixture.h"

namespace {

using tamba::test::LogCapture;
using tamba::test::read_pixels;
using tamba::test::xvfb_config;

GdkWindow *toplevel (int x, int y, int w, int h)
{
    GdkWindowAttr attr{};
    attr.x = gint16 (x);
    attr.y = gint16 (y);
    attr.width = gint16 (w);
    attr.height = gint16 (h);
    attr.window_type = GDK_WINDOW_TOPLEVEL;
    return gdk_window_new (nullptr, &attr, GDK_WA_X | GDK_WA_Y);
}

TEST (Layer, GdkRgbTakesTheDefaultVisualNeverAnArgbOne)
{
    GdkVisual *v = gdk_rgb_get_visual ();
    ASSERT_NE (v, nullptr);
    EXPECT_EQ (v, gdk_visual_get_system ());
    EXPECT_NE (v->depth, 32);
    EXPECT_EQ (v->depth, DefaultDepth (gdk_display, gdk_screen));
    const std::string &cfg = xvfb_config ();
    GdkVisualType want = GDK_VISUAL_TRUE_COLOR;
    if (cfg == "8") want = GDK_VISUAL_PSEUDO_COLOR;
    if (cfg.find ("-cc ") != std::string::npos) want = GdkVisualType (cfg.back () - '0');
    EXPECT_EQ (v->type, want);
    const bool dithers = v->type < GDK_VISUAL_TRUE_COLOR ? v->type > GDK_VISUAL_GRAYSCALE
                                                         : v->red_prec < 8 || v->blue_prec < 8;
    EXPECT_EQ (bool (gdk_rgb_ditherable ()), dithers || (v->type == GDK_VISUAL_GRAYSCALE && v->depth < 8));
}

TEST (Layer, UnditheredTrueColourPixelsTruncateEachSample)
{
    GdkVisual *v = gdk_rgb_get_visual ();
    if (v->type != GDK_VISUAL_TRUE_COLOR && v->type != GDK_VISUAL_DIRECT_COLOR) GTEST_SKIP ();
    auto field = [] (guint32 s, int prec) {
        return prec <= 8 ? s >> (8 - prec) : (s << (prec - 8)) | (s >> (16 - prec));
    };
    for (guint32 rgb : {0x000000u, 0xffffffu, 0x123456u, 0x80ff01u, 0xfe7f3cu}) {
        const guint32 want = field (rgb >> 16, v->red_prec) << v->red_shift
                             | field ((rgb >> 8) & 0xff, v->green_prec) << v->green_shift
                             | field (rgb & 0xff, v->blue_prec) << v->blue_shift;
        EXPECT_EQ (guint32 (gdk_rgb_xpixel_from_rgb (rgb)), want) << std::hex << rgb;
    }
}

TEST (Layer, VisualMasksAreDecomposed)
{
    int n = 0;
    XVisualInfo tmpl{};
    tmpl.screen = gdk_screen;
    XVisualInfo *infos = XGetVisualInfo (gdk_display, VisualScreenMask, &tmpl, &n);
    ASSERT_GT (n, 0);
    for (int i = 0; i < n; ++i) {
        GdkVisual *v = gdkx_visual_get (infos[i].visualid);
        ASSERT_NE (v, nullptr);
        EXPECT_EQ (v->depth, infos[i].depth);
        if (v->type == GDK_VISUAL_TRUE_COLOR || v->type == GDK_VISUAL_DIRECT_COLOR) {
            EXPECT_EQ (v->red_mask, ((1u << v->red_prec) - 1) << v->red_shift);
            EXPECT_EQ (v->green_mask, ((1u << v->green_prec) - 1) << v->green_shift);
            EXPECT_EQ (v->blue_mask, ((1u << v->blue_prec) - 1) << v->blue_shift);
            EXPECT_EQ (guint32 (infos[i].red_mask), v->red_mask);
        } else {
            EXPECT_EQ (v->red_mask | v->green_mask | v->blue_mask, 0u);
            EXPECT_EQ (v->red_prec, 0);
        }
    }
    XFree (infos);
}

TEST (Layer, PaletteColormapsMirrorTheServerCells)
{
    GdkColormap *cmap = gdk_rgb_get_cmap ();
    GdkVisual *v = gdk_colormap_get_visual (cmap);
    if (v->type == GDK_VISUAL_TRUE_COLOR) {
        EXPECT_EQ (cmap->colors, nullptr);
        return;
    }
    ASSERT_NE (cmap->colors, nullptr);
    EXPECT_EQ (cmap->size, v->colormap_size);
    std::vector<XColor> cells (size_t (cmap->size));
    for (int i = 0; i < cmap->size; ++i)
        cells[size_t (i)].pixel = v->type == GDK_VISUAL_DIRECT_COLOR
                                      ? (gulong (i) << v->red_shift | gulong (i) << v->green_shift | gulong (i) << v->blue_shift)
                                      : gulong (i);
    const int n = v->type == GDK_VISUAL_DIRECT_COLOR ? 1 << std::min ({v->red_prec, v->green_prec, v->blue_prec}) : cmap->size;
    XQueryColors (gdk_display, GDK_COLORMAP_XCOLORMAP (cmap), cells.data (), n);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ (cmap->colors[i].red, cells[size_t (i)].red) << i;
        EXPECT_EQ (cmap->colors[i].blue, cells[size_t (i)].blue) << i;
    }
    // Undithered pixels of GdkRGB stand for the colour they were chosen for, within a cube step.
    const guint32 p = guint32 (gdk_rgb_xpixel_from_rgb (0xff8000));
    const auto c = tamba::test::colour_of_pixel (p, v, cmap);
    const bool grey = v->type <= GDK_VISUAL_GRAYSCALE;
    EXPECT_NEAR (c.r, grey ? 128 : 0xff, 64);  // grey: the luminance (r + 2g + b + 2) / 4
    EXPECT_NEAR (c.b, grey ? 128 : 0x00, 64);
}

TEST (Layer, WindowStateComesFromTheServer)
{
    GdkWindow *w = toplevel (33, 44, 20, 10);
    EXPECT_EQ (gdk_window_get_type (w), GDK_WINDOW_TOPLEVEL);
    EXPECT_FALSE (gdk_window_is_viewable (w));
    gdk_window_show (w);
    EXPECT_TRUE (gdk_window_is_viewable (w));
    gint x = 0, y = 0, width = 0, height = 0;
    EXPECT_TRUE (gdk_window_get_origin (w, &x, &y));
    EXPECT_EQ (x, 33);
    EXPECT_EQ (y, 44);
    gdk_window_get_size (w, &width, &height);
    EXPECT_EQ (width, 20);
    EXPECT_EQ (height, 10);
    EXPECT_EQ (gdk_window_get_visual (w), gdk_visual_get_system ());
    EXPECT_EQ (gdk_window_get_colormap (w), gdk_colormap_get_system ());
    gdk_window_hide (w);
    EXPECT_FALSE (gdk_window_is_viewable (w));
    gdk_window_destroy (w);
    EXPECT_TRUE (gdk_window_is_viewable (GDK_ROOT_PARENT ()));
}

TEST (Layer, PixmapsAndTheirRefusals)
{
    GdkPixmap *p = gdk_pixmap_new (nullptr, 5, 4, gdk_visual_get_system ()->depth);
    ASSERT_NE (p, nullptr);
    EXPECT_EQ (gdk_window_get_type (p), GDK_WINDOW_PIXMAP);
    EXPECT_FALSE (gdk_window_is_viewable (p));
    gint x = 9, y = 9;
    EXPECT_FALSE (gdk_window_get_origin (p, &x, &y));
    EXPECT_EQ (x + y, 0);
    LogCapture log ("Gdk");
    EXPECT_EQ (gdk_window_get_colormap (p), nullptr);
    EXPECT_EQ (gdk_pixmap_new (nullptr, 0, 4, 1), nullptr);
    EXPECT_EQ (gdk_pixmap_new (nullptr, 4, 4, 7), nullptr);
    EXPECT_EQ (gdk_pixmap_new (nullptr, 4, 4, -1), nullptr);
    EXPECT_EQ (log.criticals (),
               (std::vector<std::string>{"window type != GDK_WINDOW_PIXMAP", "width > 0 && height > 0",
                                         "depth is supported", "(window != NULL) || (depth != -1)"}));
    // Pixel images of the pixmap come in bits per pixel, as the server's format says.
    GdkImage *image = gdk_image_get (p, 0, 0, 5, 4);
    ASSERT_NE (image, nullptr);
    int n = 0, bpp = 0;
    XPixmapFormatValues *formats = XListPixmapFormats (gdk_display, &n);
    for (int i = 0; i < n; ++i)
        if (formats[i].depth == gdk_visual_get_system ()->depth) bpp = formats[i].bits_per_pixel;
    XFree (formats);
    EXPECT_EQ (image->bpp, bpp);
    EXPECT_EQ (image->visual, nullptr);
    EXPECT_EQ (image->width, 5);
    EXPECT_GE (image->bpl, 5 * bpp / 8);
    gdk_image_destroy (image);
    gdk_pixmap_unref (p);
}

TEST (Layer, BitmapDrawingLinesPointsAndRectangles)
{
    GdkBitmap *b = gdk_pixmap_new (nullptr, 9, 3, 1);
    GdkGC *gc = gdk_gc_new (b);
    GdkColor c{0, 0, 0, 0};
    gdk_gc_set_foreground (gc, &c);
    gdk_draw_rectangle (b, gc, TRUE, 0, 0, -1, -1);
    c.pixel = 1;
    gdk_gc_set_foreground (gc, &c);
    gdk_draw_line (b, gc, 2, 0, 5, 0);  // both end points
    gdk_draw_line (b, gc, 7, 1, 7, 1);  // a zero-length line sets its pixel
    gdk_draw_rectangle (b, gc, TRUE, 0, 2, 0, 1);  // width 0 draws nothing
    gdk_draw_point (b, gc, 8, 2);
    const std::vector<guint32> want = {0, 0, 1, 1, 1, 1, 0, 0, 0,  //
                                       0, 0, 0, 0, 0, 0, 0, 1, 0,  //
                                       0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ (read_pixels (b, 0, 0, 9, 3), want);
    // A GC of depth 1 refuses a drawable of another depth instead of dying on BadMatch.
    GdkPixmap *p = gdk_pixmap_new (nullptr, 2, 2, gdk_visual_get_system ()->depth);
    LogCapture log ("Gdk");
    gdk_draw_point (p, gc, 0, 0);
    EXPECT_EQ (log.criticals (), std::vector<std::string>{"drawable depth == gc depth"});
    gdk_pixmap_unref (p);
    gdk_gc_unref (gc);
    gdk_bitmap_unref (b);
}

TEST (Layer, ClipMaskAndOriginLimitImagePuts)
{
    GdkBitmap *mask = gdk_pixmap_new (nullptr, 8, 1, 1);
    GdkGC *mgc = gdk_gc_new (mask);
    GdkColor c{0, 0, 0, 0};
    gdk_gc_set_foreground (mgc, &c);
    gdk_draw_rectangle (mask, mgc, TRUE, 0, 0, -1, -1);
    c.pixel = 1;
    gdk_gc_set_foreground (mgc, &c);
    gdk_draw_line (mask, mgc, 2, 0, 4, 0);
    GdkPixmap *p = tamba::test::rgb_pixmap (8, 1, 0);
    GdkGC *gc = gdk_gc_new (p);
    gdk_gc_set_clip_mask (gc, mask);
    gdk_gc_set_clip_origin (gc, 1, 0);
    guchar white[8 * 3];
    std::fill (white, white + sizeof white, guchar (255));
    gdk_draw_rgb_image (p, gc, 0, 0, 8, 1, GDK_RGB_DITHER_NONE, white, 24);
    const guint32 w = guint32 (gdk_rgb_xpixel_from_rgb (0xffffff)), k = guint32 (gdk_rgb_xpixel_from_rgb (0));
    EXPECT_EQ (read_pixels (p, 0, 0, 8, 1), (std::vector<guint32>{k, k, k, w, w, w, k, k}));
    gdk_gc_unref (gc);
    gdk_gc_unref (mgc);
    gdk_bitmap_unref (mask);
    gdk_pixmap_unref (p);
}

TEST (Layer, SharedMemoryAndPlainDrawingAgree)
{
    const int w = 37, h = 70;  // more rows than one plain band
    std::vector<guchar> rgb (w * h * 3);
    for (size_t i = 0; i < rgb.size (); ++i) rgb[i] = guchar (i * 7 + i / 3);
    std::vector<std::vector<guint32>> results;
    for (gboolean xshm : {gboolean (TRUE), gboolean (FALSE)}) {
        gdk_set_use_xshm (xshm);
        GdkPixmap *p = tamba::test::rgb_pixmap (w + 2, h, 0);
        GdkGC *gc = gdk_gc_new (p);
        gdk_draw_rgb_image_dithalign (p, gc, 1, 0, w, h, GDK_RGB_DITHER_MAX, rgb.data (), w * 3, 3, 5);
        // A second picture reuses the segment only after the server has read the first.
        gdk_draw_rgb_image (p, gc, 0, 0, 1, 1, GDK_RGB_DITHER_NONE, rgb.data (), 3);
        results.push_back (read_pixels (p, 0, 0, w + 2, h));
        gdk_gc_unref (gc);
        gdk_pixmap_unref (p);
    }
    EXPECT_EQ (results[0], results[1]);
    gdk_set_use_xshm (TRUE);
    // Without the extension the layer turns XShm off on first use and draws the plain way. (With
    // it, a machine that refuses shared memory may turn it off too, so that is not asserted.)
    const bool no_shm = xvfb_config ().find ("MIT-SHM") != std::string::npos;
    GdkPixmap *p = tamba::test::rgb_pixmap (2, 2, 0);
    GdkGC *gc = gdk_gc_new (p);
    gdk_draw_rgb_image (p, gc, 0, 0, 1, 1, GDK_RGB_DITHER_NONE, rgb.data (), 3);
    if (no_shm) {
        EXPECT_FALSE (gdk_get_use_xshm ());
    }
    gdk_gc_unref (gc);
    gdk_pixmap_unref (p);
}

TEST (Layer, ErrorsAreTrappedWhereAFetchMayFail)
{
    // Part of this window lies off the screen, so reading it fails; the layer returns NULL.
    GdkWindow *w = toplevel (gdk_screen_width () - 40, 10, 100, 20);
    gdk_window_show (w);
    EXPECT_EQ (gdk_image_get (w, 30, 0, 60, 5), nullptr);
    GdkImage *ok = gdk_image_get (w, 0, 0, 40, 5);
    EXPECT_NE (ok, nullptr);
    if (ok) gdk_image_destroy (ok);
    EXPECT_EQ (gdk_image_get (w, 0, 0, 0, 5), nullptr);
    gdk_window_destroy (w);

    gdk_error_trap_push ();
    XFreePixmap (gdk_display, 0x7fffff0);  // no such pixmap
    gdk_flush ();
    EXPECT_EQ (gdk_error_trap_pop (), BadPixmap);
    gdk_error_trap_push ();
    gdk_flush ();
    EXPECT_EQ (gdk_error_trap_pop (), 0);
}

TEST (Layer, ImagePixelsAreCheckedAgainstTheImage)
{
    GdkImage *image = gdk_image_new (GDK_IMAGE_NORMAL, gdk_visual_get_system (), 3, 2);
    ASSERT_NE (image, nullptr);
    gdk_image_put_pixel (image, 2, 1, 5);
    EXPECT_EQ (gdk_image_get_pixel (image, 2, 1), 5u);
    LogCapture log ("Gdk");
    EXPECT_EQ (gdk_image_get_pixel (image, 3, 0), 0u);
    gdk_image_put_pixel (image, 0, -1, 1);
    EXPECT_EQ (log.criticals (),
               (std::vector<std::string>{"x >= 0 && x < image->width", "y >= 0 && y < image->height"}));
    gdk_image_destroy (image);
}

}  // namespace
