// SPDX-License-Identifier: LGPL-2.1-or-later
// The X layer, drawing and capture against a real server: visuals, pixmaps, shared memory, error
// traps, masks, opaque and masked drawing, capture. Expectations come from the live visual.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <gdk/gdk.h>
#include <gdk/gdkx.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "log-capture.h"
#include "pixel-reference.h"
#include "xvfb-fixture.h"
#include "xvfb-server.h"

using namespace tamba::test;
using Strings = std::vector<std::string>;

// X leaves a new pixmap's contents undefined and Xvfb happens to zero them, so this binary
// interposes the layer's gdk_pixmap_new (libtamba's calls find the executable's symbol first)
// and hands out every new bitmap with all bits set: a mask left uncleared shows.
static int bitmaps_dirtied = 0;
extern "C" __attribute__ ((visibility ("default"))) GdkPixmap *
gdk_pixmap_new (GdkWindow *window, gint width, gint height, gint depth)
{
    using New = GdkPixmap *(*) (GdkWindow *, gint, gint, gint);
    static const New real = reinterpret_cast<New> (dlsym (RTLD_NEXT, "gdk_pixmap_new"));
    GdkPixmap *p = real (window, width, height, depth);
    if (p && depth == 1) fill_drawable (p, 1), ++bitmaps_dirtied;
    return p;
}

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

guint32 background () { return guint32 (gdk_rgb_xpixel_from_rgb (0x123456)); }

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

TEST (Layer, VisualsComeFromTheServer)
{
    GdkVisual *v = gdk_rgb_get_visual ();
    ASSERT_NE (v, nullptr);
    EXPECT_EQ (v, gdk_visual_get_system ());  // the default visual, never an ARGB one
    EXPECT_EQ (v->depth, DefaultDepth (gdk_display, gdk_screen));
    const std::string cfg = xvfb_config_from_env ();
    GdkVisualType want = cfg == "8" ? GDK_VISUAL_PSEUDO_COLOR : GDK_VISUAL_TRUE_COLOR;
    if (cfg.find ("-cc ") != std::string::npos) want = GdkVisualType (cfg.back () - '0');
    EXPECT_EQ (v->type, want);
    const bool masks = v->type == GDK_VISUAL_TRUE_COLOR || v->type == GDK_VISUAL_DIRECT_COLOR;
    EXPECT_EQ (v->red_mask, masks ? ((1u << v->red_prec) - 1) << v->red_shift : 0u);
    EXPECT_EQ (v->blue_mask, masks ? guint32 (GDK_VISUAL_XVISUAL (v)->blue_mask) : 0u);
    // Undithered true-colour pixels truncate each sample (widening past 8 bits).
    if (v->type != GDK_VISUAL_TRUE_COLOR && v->type != GDK_VISUAL_DIRECT_COLOR) return;
    const auto field = [] (guint32 s, int prec) { return prec <= 8 ? s >> (8 - prec) : s << (prec - 8) | s >> (16 - prec); };
    for (guint32 rgb : {0xffffffu, 0x123456u, 0x80ff01u, 0xfe7f3cu})
        EXPECT_EQ (guint32 (gdk_rgb_xpixel_from_rgb (rgb)),
                   field (rgb >> 16, v->red_prec) << v->red_shift | field ((rgb >> 8) & 0xff, v->green_prec) << v->green_shift
                       | field (rgb & 0xff, v->blue_prec) << v->blue_shift) << std::hex << rgb;
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
    for (int i = 0; i < n; ++i)
        EXPECT_EQ (std::pair (cmap->colors[i].red, cmap->colors[i].blue), std::pair (cells[size_t (i)].red, cells[size_t (i)].blue)) << i;
}

TEST (Layer, PixmapsDrawingAndTheirRefusals)
{
    const PixmapRef b (gdk_pixmap_new (nullptr, 9, 2, 1)), p = rgb_pixmap (5, 4, 0);
    GdkGC *gc = gdk_gc_new (b.get ());
    fill_drawable (b.get (), 0);
    GdkColor one{1, 0, 0, 0};
    gdk_gc_set_foreground (gc, &one);
    gdk_draw_point (b.get (), gc, 8, 1);
    gdk_draw_rectangle (b.get (), gc, TRUE, 0, 1, 0, 1);  // width 0 draws nothing
    EXPECT_EQ (read_pixels (b.get (), 0, 1, 9, 1), (std::vector<guint32>{0, 0, 0, 0, 0, 0, 0, 0, 1}));
    LogCapture log ("Gdk");
    gdk_draw_point (p.get (), gc, 0, 0);  // a GC of depth 1 refuses instead of dying on BadMatch
    gdk_gc_unref (gc);
    EXPECT_EQ (gdk_window_get_colormap (p.get ()), nullptr);
    EXPECT_EQ (gdk_pixmap_new (nullptr, 0, 4, 1), nullptr);
    EXPECT_EQ (gdk_pixmap_new (nullptr, 4, 4, 7), nullptr);
    EXPECT_EQ (gdk_pixmap_new (nullptr, 4, 4, -1), nullptr);
    EXPECT_EQ (log.criticals (),
               (Strings{"drawable depth == gc depth", "window type != GDK_WINDOW_PIXMAP", "width > 0 && height > 0",
                        "depth is supported", "(window != NULL) || (depth != -1)"}));
    GdkImage *image = gdk_image_get (p.get (), 0, 0, 5, 4);
    ASSERT_NE (image, nullptr);
    log.clear ();
    gdk_image_put_pixel (image, 4, 3, 5);
    EXPECT_EQ (gdk_image_get_pixel (image, 4, 3), 5u);
    EXPECT_EQ (gdk_image_get_pixel (image, 5, 0), 0u);
    gdk_image_put_pixel (image, 0, -1, 1);
    EXPECT_EQ (log.criticals (), (Strings{"x >= 0 && x < image->width", "y >= 0 && y < image->height"}));
    gdk_image_destroy (image);
}

// GdkRGB sends pictures through shared memory when it can and plainly otherwise; both give the
// same pixels, and the puts show which path was taken.
TEST (Layer, SharedMemoryAndPlainDrawingAgree)
{
    const int w = 37, h = 70;  // more rows than one plain band
    const Image img = random_image (w, h, false, 9);
    std::vector<std::vector<guint32>> results;
    for (gboolean xshm : {gboolean (TRUE), gboolean (FALSE)}) {
        gdk_set_use_xshm (xshm);
        const PixmapRef p = rgb_pixmap (w + 2, h, 0);
        GdkGC *gc = gdk_gc_new (p.get ());
        const int before = shm_puts;
        gdk_draw_rgb_image_dithalign (p.get (), gc, 1, 0, w, h, GDK_RGB_DITHER_MAX, img->pixels, img->rowstride, 3, 5);
        // A second picture reuses the segment only after the server has read the first.
        gdk_draw_rgb_image (p.get (), gc, 0, 0, 1, 1, GDK_RGB_DITHER_NONE, img->pixels, 3);
        // Without the extension the layer turns XShm off on first use; a machine refusing shared
        // memory may turn it off too.
        const bool shm = xshm && gdk_get_use_xshm ();
        EXPECT_FALSE (shm && xvfb_config_from_env ().find ("MIT-SHM") != std::string::npos);
        EXPECT_EQ (shm_puts > before, shm) << "XShm " << xshm;
        results.push_back (read_pixels (p.get (), 0, 0, w + 2, h));
        gdk_gc_unref (gc);
    }
    EXPECT_EQ (results[0], results[1]);
    gdk_set_use_xshm (TRUE);
}

// Opaque runs of the rectangle become ones, the rest of it zeros, and nothing outside changes;
// without alpha the rectangle is all ones below 255 and all zeros at 255.
TEST (Render, ThresholdSetsOpaqueRunsInsideTheRectangleOnly)
{
    const int w = 7, h = 4;
    Image img = random_image (w, h, true, 1), rgb = random_image (w + 1, h + 1, false, 2);
    // Alternating, all opaque, values around the thresholds, transparent throughout.
    const guchar alpha[] = {200, 0,   200, 0,   200, 0,   200, 255, 255, 255, 255, 255, 255, 255,
                            0,   127, 128, 0,   1,   129, 255, 0,   0,   0,   0,   0,   0,   0};
    for (int i = 0; i < w * h; ++i) img->pixels[(i / w) * img->rowstride + (i % w) * 4 + 3] = alpha[i];
    for (Tamba *t : {img.get (), rgb.get ()})
        for (int threshold : {0, 1, 128, 254, 255}) {
            const PixmapRef bitmap (gdk_pixmap_new (nullptr, w + 4, h + 3, 1));
            const guint32 outside = t->has_alpha || threshold == 255;  // so that any write shows
            fill_drawable (bitmap.get (), outside);
            LogCapture log;
            tamba_render_threshold_alpha (t, bitmap.get (), t->width - w, t->height - h, 2, 1, w, h, threshold);
            EXPECT_TRUE (log.messages ().empty ());
            const auto bits = read_pixels (bitmap.get (), 0, 0, w + 4, h + 3);
            for (int y = 0; y < h + 3; ++y)
                for (int x = 0; x < w + 4; ++x) {
                    const bool inside = x >= 2 && x < w + 2 && y >= 1 && y < h + 1;
                    const guint32 want = !inside ? outside : t->has_alpha ? alpha[(y - 1) * w + x - 2] >= threshold : threshold < 255;
                    ASSERT_EQ (bits[size_t (y * (w + 4) + x)], want) << threshold << " at " << x << "," << y;
                }
        }
}

// Plain drawing paints the whole rectangle, alpha ignored; both alpha modes paint exactly the
// pixels at or above the threshold through a mask cut from the same place (a new mask that were
// not cleared first would show). Each painted pixel is GdkRGB's undithered pixel of the source.
TEST (Render, DrawingPaintsExactlyTheSelectedPixels)
{
    const int h = 5;
    for (bool alpha : {false, true})
        for (int w : {1, 6, 17})
            for (int mode : {-1, int (TAMBA_ALPHA_BILEVEL), int (TAMBA_ALPHA_FULL)}) {
                Image img = random_image (w + 2, h + 1, alpha, unsigned (w));
                const PixmapRef pixmap = rgb_pixmap (w + 5, h + 4, background ());
                const int dirtied = bitmaps_dirtied;
                if (mode < 0)
                    render (img.get (), pixmap.get (), 2, 1, 4, 3, w, h);
                else
                    tamba_render_to_drawable_alpha (img.get (), pixmap.get (), 2, 1, 4, 3, w, h, TambaAlphaMode (mode),
                                                    128, GDK_RGB_DITHER_NONE, 0, 0);
                EXPECT_EQ (bitmaps_dirtied - dirtied, alpha && mode >= 0 ? 1 : 0);  // the interposition works
                const auto px = read_pixels (pixmap.get (), 0, 0, w + 5, h + 4);
                for (int y = 0; y < h + 4; ++y)
                    for (int x = 0; x < w + 5; ++x) {
                        const bool inside = x >= 4 && x < 4 + w && y >= 3 && y < 3 + h;
                        const guchar *p = inside ? at (img.get (), x - 2, y - 2) : nullptr;
                        const bool painted = inside && (!alpha || mode < 0 || p[3] >= 128);
                        ASSERT_EQ (px[size_t (y * (w + 5) + x)], painted ? rgb_pixel (p) : background ())
                            << w << " " << mode << " at " << x << "," << y;
                    }
            }
}

TEST (Render, DitherOffsetsAnchorThePatternToTheDrawable)
{
    // A picture moved by (a, b) keeps its pattern when the offsets move by (-a, -b).
    Image img = random_image (16, 12, false, 14);
    const PixmapRef at_origin = rgb_pixmap (16, 12, 0), moved = rgb_pixmap (21, 15, 0);
    render (img.get (), at_origin.get (), 0, 0, 0, 0, 16, 12, GDK_RGB_DITHER_MAX);
    render (img.get (), moved.get (), 0, 0, 5, 3, 16, 12, GDK_RGB_DITHER_MAX, -5, -3);
    EXPECT_EQ (read_pixels (at_origin.get (), 0, 0, 16, 12), read_pixels (moved.get (), 5, 3, 16, 12));
    if (gdk_rgb_ditherable ()) {
        render (img.get (), moved.get (), 0, 0, 5, 3, 16, 12, GDK_RGB_DITHER_MAX);
        EXPECT_NE (read_pixels (at_origin.get (), 0, 0, 16, 12), read_pixels (moved.get (), 5, 3, 16, 12));
    }
}

TEST (Render, PixmapHoldsTheImageAndMaskItsThresholdedAlpha)
{
    const int w = 9, h = 7;
    Image img = random_image (w, h, true, 15);
    GdkPixmap *pixmap = nullptr, *mask = nullptr;
    tamba_render_pixmap_and_mask (img.get (), &pixmap, &mask, 100);
    const PixmapRef own_pixmap (pixmap), own_mask (mask), reference = rgb_pixmap (w, h, 0);
    ASSERT_TRUE (pixmap && mask);
    // The pixmap is the image drawn with normal dithering from the origin.
    render (img.get (), reference.get (), 0, 0, 0, 0, w, h, GDK_RGB_DITHER_NORMAL);
    EXPECT_EQ (read_pixels (pixmap, 0, 0, w, h), read_pixels (reference.get (), 0, 0, w, h));
    const auto bits = read_pixels (mask, 0, 0, w, h);
    for (int i = 0; i < w * h; ++i) EXPECT_EQ (bits[size_t (i)], at (img.get (), i % w, i / w)[3] >= 100 ? 1u : 0u);
    // No alpha, no mask.
    Image opaque = random_image (3, 3, false, 16);
    tamba_render_pixmap_and_mask (opaque.get (), nullptr, &mask, 0);
    EXPECT_EQ (mask, nullptr);
}

TEST (Capture, WindowIntoADestinationWithAlpha)
{
    const int w = 13, h = 6;
    GdkWindow *win = shown_window (20, 30, w + 4, h + 2);
    Image src = random_image (w, h, false, 7);
    render (src.get (), win, 0, 0, 2, 1, w, h);
    Image dest (tamba_new (GDK_COLORSPACE_RGB, TRUE, 8, w + 3, h + 2));
    std::fill (dest->pixels, dest->pixels + dest->rowstride * dest->height, guchar (0x5a));
    // For a window the cmap argument is ignored: any colormap, or none, gives the same.
    for (GdkColormap *cmap : {static_cast<GdkColormap *> (nullptr), gdk_colormap_get_system ()}) {
        ASSERT_EQ (tamba_get_from_drawable (dest.get (), win, cmap, 2, 1, 1, 2, w, h), dest.get ());
        for (int y = 0; y < dest->height; ++y)
            for (int x = 0; x < dest->width; ++x) {
                std::vector<guchar> want (4, 0x5a);  // nothing outside the rectangle is written
                if (x >= 1 && x <= w && y >= 2 && y < h + 2) {
                    const guint32 drawn = rgb_pixel (at (src.get (), x - 1, y - 2));
                    const Rgb c = colour_of_pixel (drawn, gdk_rgb_get_visual (), gdk_window_get_colormap (win));
                    want = {c[0], c[1], c[2], 255};
                }
                ASSERT_EQ (std::vector<guchar> (at (dest.get (), x, y), at (dest.get (), x, y) + 4), want) << x << "," << y;
            }
    }
    gdk_window_destroy (win);
}

// Windows reaching off the screen, or not viewable, cannot be captured.
TEST (Capture, UnreadableWindowsAreRefused)
{
    const int sw = gdk_screen_width (), sh = gdk_screen_height ();
    LogCapture log;
    // (window x, y; source x, y, width, height) past the right, the left and the bottom edge
    for (const auto &[wx, wy, sx, sy, w, h] : {std::array{sw - 40, 10, 30, 0, 60, 5}, {-10, 10, 5, 0, 20, 5}, {10, sh - 20, 0, 10, 20, 30}}) {
        GdkWindow *win = shown_window (wx, wy, 100, 50);
        EXPECT_EQ (tamba_get_from_drawable (nullptr, win, nullptr, sx, sy, 0, 0, w, h), nullptr);
        gdk_window_destroy (win);
    }
    GdkWindow *parent = shown_window (5, 5, 50, 50), *child = shown_window (1, 1, 10, 10, parent);
    gdk_window_hide (parent);
    EXPECT_EQ (tamba_get_from_drawable (nullptr, child, nullptr, 0, 0, 0, 0, 2, 2), nullptr);
    gdk_window_destroy (parent);
    gdk_window_unref (child);  // destroyed with its parent; the record goes with this reference
    EXPECT_EQ (log.criticals (), (Strings{"screen_srcx + width <= screen_width", "screen_srcx >= 0 && screen_srcy >= 0",
                                          "screen_srcy + height <= screen_height", "gdk_window_is_viewable (src)"}));
}

// Refused arguments log their messages in order and draw, mask or capture nothing; a refused
// threshold still hands out a mask, an empty one.
TEST (Refusals, ChangeNothing)
{
    Image img = random_image (4, 4, true, 3), dest (tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, 4, 4));
    std::fill (dest->pixels, dest->pixels + dest->rowstride * 4, guchar (7));
    GdkBitmap *bitmap = gdk_pixmap_new (nullptr, 4, 4, 1), *mask = nullptr;
    const PixmapRef own_bitmap (bitmap), own_pixmap = rgb_pixmap (4, 4, background ());
    GdkPixmap *pixmap = own_pixmap.get ();
    GdkGC *gc = gdk_gc_new (pixmap);
    GdkColormap *cmap = gdk_rgb_get_cmap ();
    Tamba *t = img.get (), *d = dest.get ();
    const GdkRgbDither none = GDK_RGB_DITHER_NONE;
    LogCapture log;
    tamba_render_threshold_alpha (t, bitmap, 1, 0, 0, 0, 4, 2, 0);
    tamba_render_threshold_alpha (t, bitmap, 0, 0, 0, 0, 0, 0, -1);  // before the size
    tamba_render_to_drawable (t, pixmap, gc, 0, 0, 0, 0, -1, 1, none, 0, 0);
    tamba_render_to_drawable (t, pixmap, gc, 0, 4, 0, 0, 1, 1, none, 0, 0);
    tamba_render_to_drawable (t, pixmap, gc, 0, 0, 0, 0, 0, 4, none, 0, 0);
    tamba_render_to_drawable_alpha (t, pixmap, 0, 0, 0, 0, 4, 0, TAMBA_ALPHA_BILEVEL, 999, none, 0, 0);
    tamba_render_to_drawable_alpha (t, pixmap, 0, 0, 0, 0, 4, 4, TAMBA_ALPHA_FULL, 256, none, 0, 0);
    tamba_render_pixmap_and_mask (t, nullptr, &mask, 300);
    EXPECT_NE (log.messages ().at (0).text.find ("(tamba_render_threshold_alpha)"), std::string::npos);
    const auto capture = [&] (Tamba *into, GdkColormap *with, int sx, int sy, int dx, int dy, int w) {
        EXPECT_EQ (tamba_get_from_drawable (into, pixmap, with, sx, sy, dx, dy, w, 2), nullptr);
    };
    capture (nullptr, nullptr, 0, 0, 0, 0, 2);
    capture (nullptr, cmap, 0, 0, 1, 0, 2);
    capture (nullptr, cmap, 0, 0, 0, 0, 0);
    capture (d, cmap, -1, 0, 0, 0, 2);
    capture (d, cmap, 0, 3, 0, 0, 2);
    capture (d, cmap, 0, 0, 0, -1, 2);
    capture (d, cmap, 0, 0, 3, 0, 2);
    capture (d, cmap, 0, 0, 0, 3, 2);
    const std::string threshold = "alpha_threshold >= 0 && alpha_threshold <= 255";
    EXPECT_EQ (log.criticals (),
               (Strings{"src_x >= 0 && src_x + width <= tamba->width", threshold, "width >= 0 && height >= 0",
                        "src_y >= 0 && src_y + height <= tamba->height", threshold, threshold,
                        "cmap != NULL", "dest_x == 0 && dest_y == 0", "width > 0 && height > 0", "src_x >= 0 && src_y >= 0",
                        "src_x + width <= src_width && src_y + height <= src_height", "dest_x >= 0 && dest_y >= 0",
                        "dest_x + width <= dest->width", "dest_y + height <= dest->height"}));
    for (guint32 bit : read_pixels (bitmap, 0, 0, 4, 4)) EXPECT_EQ (bit, 1u);
    for (guint32 p : read_pixels (pixmap, 0, 0, 4, 4)) EXPECT_EQ (p, background ());
    for (int i = 0; i < dest->rowstride * 4; ++i) ASSERT_EQ (dest->pixels[i], 7);
    ASSERT_NE (mask, nullptr);
    for (guint32 bit : read_pixels (mask, 0, 0, 4, 4)) ASSERT_EQ (bit, 0u);
    gdk_bitmap_unref (mask);
    gdk_gc_unref (gc);
}

}  // namespace
