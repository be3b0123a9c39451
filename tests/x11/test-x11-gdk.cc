// SPDX-License-Identifier: LGPL-2.1-or-later
// The X layer itself on a real server: visual choice, pixmaps, drawing, shared memory, images,
// error traps.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <gdk/gdk.h>
#include <gdk/gdkx.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <algorithm>
#include <string>
#include <vector>

#include "log-capture.h"
#include "xvfb-fixture.h"

using tamba::test::LogCapture;
using tamba::test::read_pixels;
using tamba::test::xvfb_config;
using Strings = std::vector<std::string>;

// Counts the layer's shared-memory puts: the executable's symbol comes before libXext's.
static int shm_puts = 0;
extern "C" __attribute__ ((visibility ("default"))) Bool
XShmPutImage (Display *d, Drawable w, GC gc, XImage *image, int sx, int sy, int dx, int dy,
              unsigned int width, unsigned int height, Bool send_event)
{
    using Put = Bool (*) (Display *, Drawable, GC, XImage *, int, int, int, int, unsigned, unsigned, Bool);
    static const Put real = reinterpret_cast<Put> (dlsym (RTLD_NEXT, "XShmPutImage"));
    ++shm_puts;
    return real (d, w, gc, image, sx, sy, dx, dy, width, height, send_event);
}

namespace {

TEST (Layer, VisualsComeFromTheServer)
{
    GdkVisual *v = gdk_rgb_get_visual ();
    ASSERT_NE (v, nullptr);
    EXPECT_EQ (v, gdk_visual_get_system ());  // the default visual, never an ARGB one
    EXPECT_EQ (v->depth, DefaultDepth (gdk_display, gdk_screen));
    const std::string &cfg = xvfb_config ();
    GdkVisualType want = cfg == "8" ? GDK_VISUAL_PSEUDO_COLOR : GDK_VISUAL_TRUE_COLOR;
    if (cfg.find ("-cc ") != std::string::npos) want = GdkVisualType (cfg.back () - '0');
    EXPECT_EQ (v->type, want);
    int n = 0;
    XVisualInfo tmpl{};
    tmpl.screen = gdk_screen;
    XVisualInfo *infos = XGetVisualInfo (gdk_display, VisualScreenMask, &tmpl, &n);
    for (int i = 0; i < n; ++i) {
        GdkVisual *o = gdkx_visual_get (infos[i].visualid);
        ASSERT_NE (o, nullptr);
        EXPECT_EQ (o->depth, infos[i].depth);
        const bool masks = o->type == GDK_VISUAL_TRUE_COLOR || o->type == GDK_VISUAL_DIRECT_COLOR;
        EXPECT_EQ (o->red_mask, masks ? ((1u << o->red_prec) - 1) << o->red_shift : 0u);
        EXPECT_EQ (o->blue_mask, masks ? guint32 (infos[i].blue_mask) : 0u);
    }
    XFree (infos);
}

TEST (Layer, UnditheredTrueColourPixelsTruncateEachSample)
{
    GdkVisual *v = gdk_rgb_get_visual ();
    if (v->type != GDK_VISUAL_TRUE_COLOR && v->type != GDK_VISUAL_DIRECT_COLOR) GTEST_SKIP ();
    auto field = [] (guint32 s, int prec) {
        return prec <= 8 ? s >> (8 - prec) : (s << (prec - 8)) | (s >> (16 - prec));
    };
    for (guint32 rgb : {0xffffffu, 0x123456u, 0x80ff01u, 0xfe7f3cu}) {
        const guint32 want = field (rgb >> 16, v->red_prec) << v->red_shift
                             | field ((rgb >> 8) & 0xff, v->green_prec) << v->green_shift
                             | field (rgb & 0xff, v->blue_prec) << v->blue_shift;
        EXPECT_EQ (guint32 (gdk_rgb_xpixel_from_rgb (rgb)), want) << std::hex << rgb;
    }
}

TEST (Layer, PaletteColormapsMirrorTheServerCells)
{
    GdkColormap *cmap = gdk_rgb_get_cmap ();
    GdkVisual *v = gdk_colormap_get_visual (cmap);
    if (v->type == GDK_VISUAL_TRUE_COLOR) GTEST_SKIP ();
    ASSERT_EQ (cmap->size, v->colormap_size);
    const bool direct = v->type == GDK_VISUAL_DIRECT_COLOR;
    const int n = direct ? 1 << std::min ({v->red_prec, v->green_prec, v->blue_prec}) : cmap->size;
    std::vector<XColor> cells (static_cast<size_t> (n));
    for (int i = 0; i < n; ++i)
        cells[size_t (i)].pixel = direct ? gulong (i) << v->red_shift | gulong (i) << v->green_shift | gulong (i) << v->blue_shift
                                         : gulong (i);
    XQueryColors (gdk_display, GDK_COLORMAP_XCOLORMAP (cmap), cells.data (), n);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ (cmap->colors[i].red, cells[size_t (i)].red) << i;
        EXPECT_EQ (cmap->colors[i].blue, cells[size_t (i)].blue) << i;
    }
}

TEST (Layer, PixmapsDrawingAndTheirRefusals)
{
    GdkBitmap *b = gdk_pixmap_new (nullptr, 9, 2, 1);
    GdkGC *gc = gdk_gc_new (b);
    tamba::test::fill_drawable (b, 0);
    GdkColor one{1, 0, 0, 0};
    gdk_gc_set_foreground (gc, &one);
    gdk_draw_point (b, gc, 8, 1);
    gdk_draw_rectangle (b, gc, TRUE, 0, 1, 0, 1);  // width 0 draws nothing
    EXPECT_EQ (read_pixels (b, 0, 1, 9, 1), (std::vector<guint32>{0, 0, 0, 0, 0, 0, 0, 0, 1}));
    GdkPixmap *p = gdk_pixmap_new (nullptr, 5, 4, gdk_visual_get_system ()->depth);
    LogCapture log ("Gdk");
    gdk_draw_point (p, gc, 0, 0);  // a GC of depth 1 refuses instead of dying on BadMatch
    EXPECT_EQ (gdk_window_get_colormap (p), nullptr);
    EXPECT_EQ (gdk_pixmap_new (nullptr, 0, 4, 1), nullptr);
    EXPECT_EQ (gdk_pixmap_new (nullptr, 4, 4, 7), nullptr);
    EXPECT_EQ (gdk_pixmap_new (nullptr, 4, 4, -1), nullptr);
    EXPECT_EQ (log.criticals (),
               (Strings{"drawable depth == gc depth", "window type != GDK_WINDOW_PIXMAP", "width > 0 && height > 0",
                        "depth is supported", "(window != NULL) || (depth != -1)"}));
    // Images of the pixmap come in the bits per pixel the server's format says.
    GdkImage *image = gdk_image_get (p, 0, 0, 5, 4);
    ASSERT_NE (image, nullptr);
    int n = 0, bpp = 0;
    XPixmapFormatValues *formats = XListPixmapFormats (gdk_display, &n);
    for (int i = 0; i < n; ++i)
        if (formats[i].depth == gdk_visual_get_system ()->depth) bpp = formats[i].bits_per_pixel;
    XFree (formats);
    EXPECT_EQ (image->bpp, bpp);
    log.clear ();
    gdk_image_put_pixel (image, 4, 3, 5);
    EXPECT_EQ (gdk_image_get_pixel (image, 4, 3), 5u);
    EXPECT_EQ (gdk_image_get_pixel (image, 5, 0), 0u);
    gdk_image_put_pixel (image, 0, -1, 1);
    EXPECT_EQ (log.criticals (), (Strings{"x >= 0 && x < image->width", "y >= 0 && y < image->height"}));
    gdk_image_destroy (image);
    gdk_pixmap_unref (p);
    gdk_gc_unref (gc);
    gdk_bitmap_unref (b);
}

// GdkRGB sends pictures through shared memory when it can and plainly otherwise; both give the
// same pixels, and the puts show which path was taken.
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
        const int before = shm_puts;
        gdk_draw_rgb_image_dithalign (p, gc, 1, 0, w, h, GDK_RGB_DITHER_MAX, rgb.data (), w * 3, 3, 5);
        // A second picture reuses the segment only after the server has read the first.
        gdk_draw_rgb_image (p, gc, 0, 0, 1, 1, GDK_RGB_DITHER_NONE, rgb.data (), 3);
        // Without the extension the layer turns XShm off on first use; a machine refusing shared
        // memory may turn it off too.
        const bool shm = xshm && gdk_get_use_xshm ();
        if (xvfb_config ().find ("MIT-SHM") != std::string::npos) {
            EXPECT_FALSE (shm);
        }
        EXPECT_EQ (shm_puts > before, shm) << "XShm " << xshm;
        results.push_back (read_pixels (p, 0, 0, w + 2, h));
        gdk_gc_unref (gc);
        gdk_pixmap_unref (p);
    }
    EXPECT_EQ (results[0], results[1]);
    gdk_set_use_xshm (TRUE);
}

TEST (Layer, ErrorsAreTrappedWhereAFetchMayFail)
{
    // Part of this window lies off the screen, so reading it fails; the layer returns NULL.
    GdkWindowAttr attr{};
    attr.x = gint16 (gdk_screen_width () - 40);
    attr.width = 100;
    attr.height = 20;
    attr.window_type = GDK_WINDOW_TOPLEVEL;
    GdkWindow *w = gdk_window_new (nullptr, &attr, GDK_WA_X | GDK_WA_Y);
    gdk_window_show (w);
    EXPECT_EQ (gdk_image_get (w, 30, 0, 60, 5), nullptr);
    GdkImage *ok = gdk_image_get (w, 0, 0, 40, 5);
    EXPECT_NE (ok, nullptr);
    if (ok) gdk_image_destroy (ok);
    gdk_window_destroy (w);
    gdk_error_trap_push ();
    XFreePixmap (gdk_display, 0x7fffff0);  // no such pixmap
    gdk_flush ();
    EXPECT_EQ (gdk_error_trap_pop (), BadPixmap);
    gdk_error_trap_push ();
    gdk_flush ();
    EXPECT_EQ (gdk_error_trap_pop (), 0);
}

}  // namespace
