// SPDX-License-Identifier: LGPL-2.1-or-later
// Rendering against a real server: thresholded masks, opaque and masked drawing, pixmap and
// mask creation. Expectations come from the live visual, so one binary serves every screen.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <gdk/gdk.h>
#include <tamba/tamba.h>

#include <random>
#include <string>
#include <vector>

#include "log-capture.h"
#include "pixel-reference.h"
#include "xvfb-fixture.h"

using tamba::test::Image;
using tamba::test::LogCapture;
using tamba::test::read_pixels;
using tamba::test::rgb_pixmap;
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
    if (p && depth == 1) tamba::test::fill_drawable (p, 1), ++bitmaps_dirtied;
    return p;
}

namespace {

// An image of random samples, alpha included.
Image random_image (int width, int height, bool alpha, unsigned seed)
{
    Image img (tamba_new (GDK_COLORSPACE_RGB, alpha, 8, width, height));
    std::mt19937 rng (seed);
    for (int i = 0; i < height * img->rowstride; ++i) img->pixels[i] = guchar (rng ());
    return img;
}

const guchar *at (const Tamba *t, int x, int y) { return t->pixels + y * t->rowstride + x * t->n_channels; }

guint32 background () { return guint32 (gdk_rgb_xpixel_from_rgb (0x123456)); }

// Every pixel of the rectangle drawn at (dx, dy) from (sx, sy) that passes `painted` is GdkRGB's
// undithered pixel of the source; everything else keeps the background.
template <typename Painted>
void expect_drawn (GdkPixmap *pixmap, int pw, int ph, const Tamba *img, int sx, int sy, int dx,
                   int dy, int w, int h, Painted painted)
{
    const auto px = read_pixels (pixmap, 0, 0, pw, ph);
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x) {
            guint32 want = background ();
            if (x >= dx && x < dx + w && y >= dy && y < dy + h && painted (sx + x - dx, sy + y - dy)) {
                const guchar *p = at (img, sx + x - dx, sy + y - dy);
                want = guint32 (gdk_rgb_xpixel_from_rgb (guint32 (p[0]) << 16 | p[1] << 8 | p[2]));
            }
            ASSERT_EQ (px[size_t (y * pw + x)], want) << "at " << x << "," << y;
        }
}

TEST (Threshold, OpaqueRunsBecomeOnesInsideTheRectangleOnly)
{
    const int w = 7, h = 4;
    Image img = random_image (w, h, true, 1);
    // Alternating, all opaque, values around the thresholds, transparent throughout.
    const guchar alpha[] = {200, 0,   200, 0,   200, 0,   200, 255, 255, 255, 255, 255, 255, 255,
                            0,   127, 128, 0,   1,   129, 255, 0,   0,   0,   0,   0,   0,   0};
    for (int i = 0; i < w * h; ++i) img->pixels[(i / w) * img->rowstride + (i % w) * 4 + 3] = alpha[i];
    for (int threshold : {0, 1, 128, 255}) {
        GdkBitmap *bitmap = gdk_pixmap_new (nullptr, w + 4, h + 3, 1);
        LogCapture log;
        tamba_render_threshold_alpha (img.get (), bitmap, 0, 0, 2, 1, w, h, threshold);
        EXPECT_TRUE (log.messages ().empty ());
        const auto bits = read_pixels (bitmap, 0, 0, w + 4, h + 3);
        for (int y = 0; y < h + 3; ++y)
            for (int x = 0; x < w + 4; ++x) {
                const bool inside = x >= 2 && x < w + 2 && y >= 1 && y < h + 1;
                const guint32 want = inside ? alpha[(y - 1) * w + x - 2] >= threshold : 1;
                ASSERT_EQ (bits[size_t (y * (w + 4) + x)], want) << threshold << " at " << x << "," << y;
            }
        gdk_bitmap_unref (bitmap);
    }
    // Without alpha the rectangle is all ones below 255 and all zeros at 255.
    Image rgb = random_image (5, 3, false, 2);
    for (auto [threshold, want] : {std::pair{254, 1u}, {255, 0u}}) {
        GdkBitmap *bitmap = gdk_pixmap_new (nullptr, 5, 3, 1);
        tamba::test::fill_drawable (bitmap, 1 - want);
        tamba_render_threshold_alpha (rgb.get (), bitmap, 1, 1, 0, 0, 4, 2, threshold);
        const auto bits = read_pixels (bitmap, 0, 0, 5, 3);
        for (int i = 0; i < 15; ++i) EXPECT_EQ (bits[size_t (i)], i % 5 < 4 && i < 10 ? want : 1 - want);
        gdk_bitmap_unref (bitmap);
    }
}

TEST (Render, RefusedArgumentsDrawNothing)
{
    Image img = random_image (4, 4, true, 3);
    GdkBitmap *bitmap = gdk_pixmap_new (nullptr, 4, 4, 1);
    GdkPixmap *pixmap = rgb_pixmap (4, 4, background ());
    GdkGC *gc = gdk_gc_new (pixmap);
    const GdkRgbDither none = GDK_RGB_DITHER_NONE;
    LogCapture log;
    tamba_render_threshold_alpha (img.get (), bitmap, 1, 0, 0, 0, 4, 2, 0);
    tamba_render_threshold_alpha (img.get (), bitmap, 0, 0, 0, 0, 0, 0, -1);  // before the size
    tamba_render_threshold_alpha (img.get (), nullptr, 0, 0, 0, 0, 1, 1, 0);
    tamba_render_to_drawable (nullptr, pixmap, gc, 0, 0, 0, 0, 1, 1, none, 0, 0);
    tamba_render_to_drawable (img.get (), pixmap, nullptr, 0, 0, 0, 0, 1, 1, none, 0, 0);
    tamba_render_to_drawable (img.get (), pixmap, gc, 0, 0, 0, 0, -1, 1, none, 0, 0);
    tamba_render_to_drawable (img.get (), pixmap, gc, 0, 4, 0, 0, 1, 1, none, 0, 0);
    tamba_render_to_drawable_alpha (img.get (), nullptr, 0, 0, 0, 0, 1, 1, TAMBA_ALPHA_BILEVEL, 0, none, 0, 0);
    tamba_render_to_drawable (img.get (), pixmap, gc, 0, 0, 0, 0, 0, 4, none, 0, 0);
    tamba_render_to_drawable_alpha (img.get (), pixmap, 0, 0, 0, 0, 4, 0, TAMBA_ALPHA_BILEVEL, 999, none, 0, 0);
    EXPECT_NE (log.messages ().at (0).text.find ("(tamba_render_threshold_alpha)"), std::string::npos);
    EXPECT_EQ (log.criticals (),
               (Strings{"src_x >= 0 && src_x + width <= tamba->width",
                        "alpha_threshold >= 0 && alpha_threshold <= 255", "bitmap != NULL",
                        "tamba != NULL", "gc != NULL", "width >= 0 && height >= 0",
                        "src_y >= 0 && src_y + height <= tamba->height", "drawable != NULL"}));
    for (guint32 bit : read_pixels (bitmap, 0, 0, 4, 4)) EXPECT_EQ (bit, 1u);
    for (guint32 p : read_pixels (pixmap, 0, 0, 4, 4)) EXPECT_EQ (p, background ());
    gdk_gc_unref (gc);
    gdk_pixmap_unref (pixmap);
    gdk_bitmap_unref (bitmap);
}

TEST (Render, SubRectanglesAreDrawnExactlyWithoutDither)
{
    for (bool alpha : {false, true})
        for (int w : {1, 3, 17}) {
            Image img = random_image (w + 3, 6, alpha, unsigned (w));
            GdkPixmap *pixmap = rgb_pixmap (w + 6, 9, background ());
            GdkGC *gc = gdk_gc_new (pixmap);
            tamba_render_to_drawable (img.get (), pixmap, gc, 2, 1, 3, 2, w, 4, GDK_RGB_DITHER_NONE, 0, 0);
            // Alpha is ignored here: every pixel is painted, alpha 0 included.
            expect_drawn (pixmap, w + 6, 9, img.get (), 2, 1, 3, 2, w, 4, [] (int, int) { return true; });
            gdk_gc_unref (gc);
            gdk_pixmap_unref (pixmap);
        }
}

// Both alpha modes paint exactly the pixels at or above the threshold through a mask cut from
// the same place; without alpha the whole rectangle. A refused threshold leaves the mask clear.
TEST (Render, MaskedDrawingPaintsPixelsAtOrAboveTheThreshold)
{
    const int w = 6, h = 5;
    for (bool alpha : {true, false})
        for (TambaAlphaMode mode : {TAMBA_ALPHA_BILEVEL, TAMBA_ALPHA_FULL}) {
            Image img = random_image (w + 2, h + 1, alpha, 11);
            GdkPixmap *pixmap = rgb_pixmap (w + 5, h + 4, background ());
            const int dirtied = bitmaps_dirtied;
            tamba_render_to_drawable_alpha (img.get (), pixmap, 2, 1, 4, 3, w, h, mode, 128,
                                            GDK_RGB_DITHER_NONE, 0, 0);
            EXPECT_EQ (bitmaps_dirtied - dirtied, alpha ? 1 : 0);  // the interposition works
            expect_drawn (pixmap, w + 5, h + 4, img.get (), 2, 1, 4, 3, w, h, [&] (int x, int y) {
                return !alpha || at (img.get (), x, y)[3] >= 128;
            });
            gdk_pixmap_unref (pixmap);
        }
    Image img = random_image (6, 6, true, 12);
    GdkPixmap *pixmap = rgb_pixmap (6, 6, background ());
    LogCapture log;
    tamba_render_to_drawable_alpha (img.get (), pixmap, 0, 0, 0, 0, 6, 6, TAMBA_ALPHA_FULL, 256,
                                    GDK_RGB_DITHER_NONE, 0, 0);
    EXPECT_EQ (log.criticals (), Strings{"alpha_threshold >= 0 && alpha_threshold <= 255"});
    for (guint32 p : read_pixels (pixmap, 0, 0, 6, 6)) ASSERT_EQ (p, background ());
    gdk_pixmap_unref (pixmap);
}

TEST (Render, DitherOffsetsAnchorThePatternToTheDrawable)
{
    // A picture moved by (a, b) keeps its pattern when the offsets move by (-a, -b).
    Image img = random_image (16, 12, false, 14);
    GdkPixmap *at_origin = rgb_pixmap (16, 12, 0), *moved = rgb_pixmap (21, 15, 0);
    GdkGC *gc = gdk_gc_new (at_origin);
    tamba_render_to_drawable (img.get (), at_origin, gc, 0, 0, 0, 0, 16, 12, GDK_RGB_DITHER_MAX, 0, 0);
    tamba_render_to_drawable (img.get (), moved, gc, 0, 0, 5, 3, 16, 12, GDK_RGB_DITHER_MAX, -5, -3);
    EXPECT_EQ (read_pixels (at_origin, 0, 0, 16, 12), read_pixels (moved, 5, 3, 16, 12));
    if (gdk_rgb_ditherable ()) {
        tamba_render_to_drawable (img.get (), moved, gc, 0, 0, 5, 3, 16, 12, GDK_RGB_DITHER_MAX, 0, 0);
        EXPECT_NE (read_pixels (at_origin, 0, 0, 16, 12), read_pixels (moved, 5, 3, 16, 12));
    }
    gdk_gc_unref (gc);
    gdk_pixmap_unref (at_origin);
    gdk_pixmap_unref (moved);
}

TEST (PixmapAndMask, PixmapHoldsTheImageAndMaskItsThresholdedAlpha)
{
    const int w = 9, h = 7;
    Image img = random_image (w, h, true, 15);
    GdkPixmap *pixmap = nullptr;
    GdkBitmap *mask = nullptr;
    tamba_render_pixmap_and_mask (img.get (), &pixmap, &mask, 100);
    ASSERT_NE (pixmap, nullptr);
    ASSERT_NE (mask, nullptr);
    // The pixmap is the image drawn with normal dithering from the origin.
    GdkPixmap *reference = rgb_pixmap (w, h, 0);
    GdkGC *gc = gdk_gc_new (reference);
    tamba_render_to_drawable (img.get (), reference, gc, 0, 0, 0, 0, w, h, GDK_RGB_DITHER_NORMAL, 0, 0);
    EXPECT_EQ (read_pixels (pixmap, 0, 0, w, h), read_pixels (reference, 0, 0, w, h));
    const auto bits = read_pixels (mask, 0, 0, w, h);
    for (int i = 0; i < w * h; ++i) EXPECT_EQ (bits[size_t (i)], at (img.get (), i % w, i / w)[3] >= 100 ? 1u : 0u);
    gdk_gc_unref (gc);
    gdk_pixmap_unref (reference);
    gdk_pixmap_unref (pixmap);
    gdk_bitmap_unref (mask);

    // No alpha, no mask; a refused threshold gives an empty mask.
    Image opaque = random_image (3, 3, false, 16);
    mask = reinterpret_cast<GdkBitmap *> (&opaque);  // must be overwritten
    tamba_render_pixmap_and_mask (opaque.get (), nullptr, &mask, 0);
    EXPECT_EQ (mask, nullptr);
    LogCapture log;
    tamba_render_pixmap_and_mask (img.get (), nullptr, &mask, 300);
    tamba_render_pixmap_and_mask (nullptr, &pixmap, &mask, 0);
    EXPECT_EQ (log.criticals (), (Strings{"alpha_threshold >= 0 && alpha_threshold <= 255", "tamba != NULL"}));
    ASSERT_NE (mask, nullptr);
    for (guint32 bit : read_pixels (mask, 0, 0, w, h)) ASSERT_EQ (bit, 0u);
    gdk_bitmap_unref (mask);
}

}  // namespace
