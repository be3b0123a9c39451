// SPDX-License-Identifier: LGPL-2.1-or-later
// Rendering against a real server: thresholded masks, opaque and masked drawing, pixmap and
// mask creation. Expectations come from the live visual, so one binary serves every screen.
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

using tamba::test::LogCapture;
using tamba::test::read_pixels;
using tamba::test::rgb_pixmap;

using tamba::test::Image;

// An image of random samples; with alpha, alpha follows the pattern given per pixel.
Image random_image (int width, int height, bool alpha, unsigned seed)
{
    Image img (tamba_new (GDK_COLORSPACE_RGB, alpha, 8, width, height));
    std::mt19937 rng (seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * img->n_channels; ++x)
            img->pixels[y * img->rowstride + x] = guchar (rng ());
    return img;
}

guint32 rgb_at (const Tamba *t, int x, int y)
{
    const guchar *p = t->pixels + y * t->rowstride + x * t->n_channels;
    return guint32 (p[0]) << 16 | guint32 (p[1]) << 8 | p[2];
}

guchar alpha_at (const Tamba *t, int x, int y)
{
    return t->pixels[y * t->rowstride + x * t->n_channels + 3];
}

void set_alpha (Tamba *t, const std::vector<guchar> &alpha)
{
    for (int y = 0; y < t->height; ++y)
        for (int x = 0; x < t->width; ++x)
            t->pixels[y * t->rowstride + x * 4 + 3] = alpha[size_t (y * t->width + x)];
}

// A bitmap of the given size with every pixel set to value.
GdkBitmap *filled_bitmap (int width, int height, guint32 value)
{
    GdkBitmap *b = gdk_pixmap_new (nullptr, width, height, 1);
    tamba::test::fill_drawable (b, value);
    return b;
}

guint32 background_pixel ()
{
    return guint32 (gdk_rgb_xpixel_from_rgb (0x123456));
}

TEST (Threshold, OpaqueRunsBecomeOnesInsideTheRectangleOnly)
{
    // Rows: alternating; all opaque; opaque run at the end; transparent throughout.
    const int w = 7, h = 4;
    Image img = random_image (w, h, true, 1);
    const std::vector<guchar> alpha = {
        200, 0,   200, 0,   200, 0,   200,  //
        255, 255, 255, 255, 255, 255, 255,  //
        0,   127, 128, 0,   0,   129, 250,  //
        0,   0,   0,   0,   0,   0,   0,
    };
    set_alpha (img.get (), alpha);
    for (int threshold : {0, 1, 128, 255}) {
        GdkBitmap *bitmap = filled_bitmap (w + 4, h + 3, 1);
        LogCapture log;
        tamba_render_threshold_alpha (img.get (), bitmap, 0, 0, 2, 1, w, h, threshold);
        EXPECT_TRUE (log.messages ().empty ());
        const auto bits = read_pixels (bitmap, 0, 0, w + 4, h + 3);
        for (int y = 0; y < h + 3; ++y)
            for (int x = 0; x < w + 4; ++x) {
                const bool inside = x >= 2 && x < w + 2 && y >= 1 && y < h + 1;
                const guint32 want = inside ? alpha[size_t ((y - 1) * w + x - 2)] >= threshold : 1;
                ASSERT_EQ (bits[size_t (y * (w + 4) + x)], want)
                    << "threshold " << threshold << " at " << x << "," << y;
            }
        gdk_bitmap_unref (bitmap);
    }
}

TEST (Threshold, WithoutAlphaTheRectangleIsOneBelow255AndZeroAt255)
{
    Image img = random_image (5, 3, false, 2);
    for (auto [threshold, want] : {std::pair{0, 1u}, {254, 1u}, {255, 0u}}) {
        GdkBitmap *bitmap = filled_bitmap (5, 3, 1 - want);
        tamba_render_threshold_alpha (img.get (), bitmap, 1, 1, 0, 0, 4, 2, threshold);
        const auto bits = read_pixels (bitmap, 0, 0, 5, 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ (bits[size_t (y * 5 + x)], x < 4 && y < 2 ? want : 1 - want);
        gdk_bitmap_unref (bitmap);
    }
}

TEST (Threshold, RefusedArgumentsLeaveTheBitmapAlone)
{
    Image rgba = random_image (4, 4, true, 3);
    GdkBitmap *bitmap = filled_bitmap (4, 4, 1);
    struct Case {
        int sx, sy, w, h, threshold;
        const char *message;
    };
    const Case cases[] = {
        {0, 0, -1, 2, 0, "width >= 0 && height >= 0"},
        {1, 0, 4, 2, 0, "src_x >= 0 && src_x + width <= tamba->width"},
        {-1, 0, 1, 1, 0, "src_x >= 0 && src_x + width <= tamba->width"},
        {0, 3, 1, 2, 0, "src_y >= 0 && src_y + height <= tamba->height"},
        {0, 0, 2, 2, 256, "alpha_threshold >= 0 && alpha_threshold <= 255"},
        {0, 0, 0, 0, -1, "alpha_threshold >= 0 && alpha_threshold <= 255"},  // before the size
    };
    for (const Case &c : cases) {
        LogCapture log;
        tamba_render_threshold_alpha (rgba.get (), bitmap, c.sx, c.sy, 0, 0, c.w, c.h, c.threshold);
        EXPECT_EQ (log.criticals (), std::vector<std::string>{c.message});
    }
    {
        LogCapture log;
        tamba_render_threshold_alpha (nullptr, bitmap, 0, 0, 0, 0, 1, 1, 0);
        tamba_render_threshold_alpha (rgba.get (), nullptr, 0, 0, 0, 0, 1, 1, 0);
        EXPECT_EQ (log.criticals (), (std::vector<std::string>{"tamba != NULL", "bitmap != NULL"}));
    }
    for (guint32 bit : read_pixels (bitmap, 0, 0, 4, 4)) EXPECT_EQ (bit, 1u);
    gdk_bitmap_unref (bitmap);
}

// Every pixel of the rectangle drawn at (dx, dy) is GdkRGB's undithered pixel of the source, and
// everything else keeps the background.
void expect_drawn (GdkPixmap *pixmap, int pw, int ph, const Tamba *img, int sx, int sy, int dx,
                   int dy, int w, int h, const std::vector<bool> *painted = nullptr)
{
    const auto px = read_pixels (pixmap, 0, 0, pw, ph);
    const bool depth24 = gdk_rgb_get_visual ()->depth == 24
                         && gdk_rgb_get_visual ()->type == GDK_VISUAL_TRUE_COLOR
                         && gdk_rgb_get_visual ()->red_mask == 0xff0000;
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x) {
            const bool inside = x >= dx && x < dx + w && y >= dy && y < dy + h;
            const bool paint = inside && (!painted || (*painted)[size_t ((y - dy) * w + x - dx)]);
            guint32 want = background_pixel ();
            if (paint) {
                const guint32 rgb = rgb_at (img, sx + x - dx, sy + y - dy);
                want = guint32 (gdk_rgb_xpixel_from_rgb (rgb));
                if (depth24) {
                    ASSERT_EQ (want, rgb);  // exact at depth 24
                }
            }
            ASSERT_EQ (px[size_t (y * pw + x)], want) << "at " << x << "," << y;
        }
}

TEST (RenderToDrawable, SubRectanglesAreDrawnExactlyWithoutDither)
{
    for (bool alpha : {false, true})
        for (int w : {1, 2, 3, 5, 17}) {
            Image img = random_image (w + 3, 6, alpha, unsigned (w));
            GdkPixmap *pixmap = rgb_pixmap (w + 6, 9, background_pixel ());
            GdkGC *gc = gdk_gc_new (pixmap);
            LogCapture log;
            tamba_render_to_drawable (img.get (), pixmap, gc, 2, 1, 3, 2, w, 4, GDK_RGB_DITHER_NONE,
                                      0, 0);
            EXPECT_TRUE (log.messages ().empty ());
            // Alpha is ignored here: every pixel is painted, alpha 0 included.
            expect_drawn (pixmap, w + 6, 9, img.get (), 2, 1, 3, 2, w, 4);
            gdk_gc_unref (gc);
            gdk_pixmap_unref (pixmap);
        }
}

TEST (RenderToDrawable, RefusalsAndEmptyRectanglesDrawNothing)
{
    Image img = random_image (4, 4, true, 9);
    GdkPixmap *pixmap = rgb_pixmap (4, 4, background_pixel ());
    GdkGC *gc = gdk_gc_new (pixmap);
    LogCapture log;
    tamba_render_to_drawable (nullptr, pixmap, gc, 0, 0, 0, 0, 1, 1, GDK_RGB_DITHER_NONE, 0, 0);
    tamba_render_to_drawable (img.get (), nullptr, gc, 0, 0, 0, 0, 1, 1, GDK_RGB_DITHER_NONE, 0, 0);
    tamba_render_to_drawable (img.get (), pixmap, nullptr, 0, 0, 0, 0, 1, 1, GDK_RGB_DITHER_NONE, 0, 0);
    tamba_render_to_drawable (img.get (), pixmap, gc, 0, 0, 0, 0, -1, 1, GDK_RGB_DITHER_NONE, 0, 0);
    tamba_render_to_drawable (img.get (), pixmap, gc, 2, 0, 0, 0, 3, 1, GDK_RGB_DITHER_NONE, 0, 0);
    tamba_render_to_drawable (img.get (), pixmap, gc, 0, 4, 0, 0, 1, 1, GDK_RGB_DITHER_NONE, 0, 0);
    tamba_render_to_drawable_alpha (img.get (), pixmap, 0, 0, 0, 0, 1, 5, TAMBA_ALPHA_BILEVEL, 0,
                                    GDK_RGB_DITHER_NONE, 0, 0);
    tamba_render_to_drawable (img.get (), pixmap, gc, 0, 0, 0, 0, 0, 4, GDK_RGB_DITHER_NONE, 0, 0);
    tamba_render_to_drawable_alpha (img.get (), pixmap, 0, 0, 0, 0, 4, 0, TAMBA_ALPHA_BILEVEL, 999,
                                    GDK_RGB_DITHER_NONE, 0, 0);
    ASSERT_FALSE (log.messages ().empty ());
    EXPECT_NE (log.messages ()[0].text.find ("(tamba_render_to_drawable)"), std::string::npos);
    EXPECT_EQ (log.criticals (),
               (std::vector<std::string>{"tamba != NULL", "drawable != NULL", "gc != NULL",
                                         "width >= 0 && height >= 0",
                                         "src_x >= 0 && src_x + width <= tamba->width",
                                         "src_y >= 0 && src_y + height <= tamba->height",
                                         "src_y >= 0 && src_y + height <= tamba->height"}));
    for (guint32 p : read_pixels (pixmap, 0, 0, 4, 4)) EXPECT_EQ (p, background_pixel ());
    gdk_gc_unref (gc);
    gdk_pixmap_unref (pixmap);
}

TEST (RenderToDrawableAlpha, PaintsOnlyPixelsAtOrAboveTheThresholdInBothModes)
{
    const int w = 6, h = 5;
    Image img = random_image (w + 2, h + 1, true, 11);
    GdkPixmap *first = nullptr;
    for (TambaAlphaMode mode : {TAMBA_ALPHA_BILEVEL, TAMBA_ALPHA_FULL}) {
        GdkPixmap *pixmap = rgb_pixmap (w + 5, h + 4, background_pixel ());
        LogCapture log;
        // A sub-rectangle: the mask is cut from the same place and aligned by the clip origin.
        tamba_render_to_drawable_alpha (img.get (), pixmap, 2, 1, 4, 3, w, h, mode, 128,
                                        GDK_RGB_DITHER_NONE, 0, 0);
        EXPECT_TRUE (log.messages ().empty ());
        std::vector<bool> painted;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) painted.push_back (alpha_at (img.get (), 2 + x, 1 + y) >= 128);
        expect_drawn (pixmap, w + 5, h + 4, img.get (), 2, 1, 4, 3, w, h, &painted);
        if (!first)
            first = pixmap;
        else {
            EXPECT_EQ (read_pixels (pixmap, 0, 0, w + 5, h + 4), read_pixels (first, 0, 0, w + 5, h + 4));
            gdk_pixmap_unref (pixmap);
        }
    }
    gdk_pixmap_unref (first);
}

// X leaves a new pixmap's contents undefined (Xvfb happens to zero them), so the mask made for
// the call must be cleared before a threshold that may be refused.
TEST (RenderToDrawableAlpha, ARefusedThresholdPaintsNothing)
{
    Image img = random_image (6, 6, true, 12);
    for (int threshold : {-1, 256}) {
        GdkPixmap *pixmap = rgb_pixmap (6, 6, background_pixel ());
        LogCapture log;
        tamba_render_to_drawable_alpha (img.get (), pixmap, 0, 0, 0, 0, 6, 6, TAMBA_ALPHA_FULL,
                                        threshold, GDK_RGB_DITHER_NONE, 0, 0);
        EXPECT_EQ (log.criticals (),
                   std::vector<std::string>{"alpha_threshold >= 0 && alpha_threshold <= 255"});
        for (guint32 p : read_pixels (pixmap, 0, 0, 6, 6)) ASSERT_EQ (p, background_pixel ());
        gdk_pixmap_unref (pixmap);
    }
}

TEST (RenderToDrawableAlpha, WithoutAlphaTheWholeRectangleIsDrawn)
{
    Image img = random_image (5, 4, false, 13);
    GdkPixmap *pixmap = rgb_pixmap (7, 6, background_pixel ());
    tamba_render_to_drawable_alpha (img.get (), pixmap, 1, 0, 2, 1, 4, 4, TAMBA_ALPHA_BILEVEL, 255,
                                    GDK_RGB_DITHER_NONE, 0, 0);
    expect_drawn (pixmap, 7, 6, img.get (), 1, 0, 2, 1, 4, 4);
    gdk_pixmap_unref (pixmap);
}

TEST (RenderToDrawable, DitherOffsetsAnchorThePatternToTheDrawable)
{
    // A picture moved by (a, b) keeps its pattern when the offsets move by (-a, -b).
    Image img = random_image (16, 12, false, 14);
    GdkPixmap *at_origin = rgb_pixmap (16, 12, 0);
    GdkPixmap *moved = rgb_pixmap (21, 15, 0);
    GdkGC *gc = gdk_gc_new (at_origin);
    tamba_render_to_drawable (img.get (), at_origin, gc, 0, 0, 0, 0, 16, 12, GDK_RGB_DITHER_MAX, 0, 0);
    tamba_render_to_drawable (img.get (), moved, gc, 0, 0, 5, 3, 16, 12, GDK_RGB_DITHER_MAX, -5, -3);
    EXPECT_EQ (read_pixels (at_origin, 0, 0, 16, 12), read_pixels (moved, 5, 3, 16, 12));
    if (gdk_rgb_ditherable ()) {
        // Without the compensating offsets the same picture comes out differently.
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
    gint pw, ph;
    gdk_window_get_size (pixmap, &pw, &ph);
    EXPECT_EQ (pw, w);
    EXPECT_EQ (ph, h);
    // The pixmap is the image drawn with normal dithering from the origin.
    GdkPixmap *reference = rgb_pixmap (w, h, 0);
    GdkGC *gc = gdk_gc_new (reference);
    Image rgb (tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                rgb->pixels[y * rgb->rowstride + x * 3 + c] = img->pixels[y * img->rowstride + x * 4 + c];
    gdk_draw_rgb_image (reference, gc, 0, 0, w, h, GDK_RGB_DITHER_NORMAL, rgb->pixels, rgb->rowstride);
    EXPECT_EQ (read_pixels (pixmap, 0, 0, w, h), read_pixels (reference, 0, 0, w, h));
    const auto bits = read_pixels (mask, 0, 0, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            EXPECT_EQ (bits[size_t (y * w + x)], alpha_at (img.get (), x, y) >= 100 ? 1u : 0u);
    gdk_gc_unref (gc);
    gdk_pixmap_unref (reference);
    gdk_pixmap_unref (pixmap);
    gdk_bitmap_unref (mask);
}

TEST (PixmapAndMask, NoAlphaNoMaskAndARefusedThresholdGivesAnEmptyMask)
{
    Image opaque = random_image (3, 3, false, 16);
    GdkPixmap *pixmap = nullptr;
    GdkBitmap *mask = reinterpret_cast<GdkBitmap *> (&opaque);  // must be overwritten
    tamba_render_pixmap_and_mask (opaque.get (), &pixmap, &mask, 0);
    EXPECT_EQ (mask, nullptr);
    ASSERT_NE (pixmap, nullptr);
    gdk_pixmap_unref (pixmap);
    tamba_render_pixmap_and_mask (opaque.get (), nullptr, nullptr, 0);  // does nothing

    Image rgba = random_image (40, 20, true, 17);
    for (int threshold : {-5, 300}) {
        LogCapture log;
        tamba_render_pixmap_and_mask (rgba.get (), nullptr, &mask, threshold);
        EXPECT_EQ (log.criticals (),
                   std::vector<std::string>{"alpha_threshold >= 0 && alpha_threshold <= 255"});
        ASSERT_NE (mask, nullptr);
        for (guint32 bit : read_pixels (mask, 0, 0, 40, 20)) ASSERT_EQ (bit, 0u);
        gdk_bitmap_unref (mask);
    }
    LogCapture log;
    tamba_render_pixmap_and_mask (nullptr, &pixmap, &mask, 0);
    EXPECT_EQ (log.criticals (), std::vector<std::string>{"tamba != NULL"});
}

}  // namespace
