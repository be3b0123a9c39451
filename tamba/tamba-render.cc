// SPDX-License-Identifier: LGPL-2.1-or-later
// Rendering: alpha thresholded into a bitmap, opaque and masked drawing, pixmap-and-mask.
#include <cstdint>

#include <gdk/gdk.h>

#include "tamba-private.h"

namespace {

// The checks shared by the threshold and the drawing calls, in their documented order, reported
// under the calling function's name. The target is the bitmap or drawable (named by
// target_text); gc is checked only when check_gc.
bool render_args_ok (const char *func, const Tamba *tamba, const void *target,
                     const char *target_text, bool check_gc, const GdkGC *gc, int src_x,
                     int src_y, int width, int height)
{
#define CHECK(expr, text)                                                                        \
    do {                                                                                         \
        if (G_LIKELY (expr)) break;                                                              \
        g_log (NULL, G_LOG_LEVEL_CRITICAL, "file %s: line %d (%s): assertion `%s' failed.",      \
               __FILE__, __LINE__, func, text);                                                  \
        return false;                                                                            \
    } while (0)
    CHECK (tamba != nullptr, "tamba != NULL");
    CHECK (tamba->colorspace == GDK_COLORSPACE_RGB, "tamba->colorspace == GDK_COLORSPACE_RGB");
    CHECK (tamba->n_channels == 3 || tamba->n_channels == 4,
           "tamba->n_channels == 3 || tamba->n_channels == 4");
    CHECK (tamba->bits_per_sample == 8, "tamba->bits_per_sample == 8");
    CHECK (target != nullptr, target_text);
    if (check_gc) CHECK (gc != nullptr, "gc != NULL");
    CHECK (width >= 0 && height >= 0, "width >= 0 && height >= 0");
    CHECK (src_x >= 0 && std::int64_t (src_x) + width <= tamba->width,
           "src_x >= 0 && src_x + width <= tamba->width");
    CHECK (src_y >= 0 && std::int64_t (src_y) + height <= tamba->height,
           "src_y >= 0 && src_y + height <= tamba->height");
#undef CHECK
    return true;
}

// Copies the RGB samples of an RGBA rectangle into a new buffer with rows padded to 4 bytes.
guchar *remove_alpha (const Tamba *tamba, int x, int y, int width, int height, int *rowstride)
{
    TAMBA_ASSERT (tamba->n_channels == 4, "tamba->n_channels == 4");
    TAMBA_ASSERT (tamba->has_alpha, "tamba->has_alpha");
    TAMBA_ASSERT (width > 0 && height > 0, "width > 0 && height > 0");
    TAMBA_ASSERT (x >= 0 && x + width <= tamba->width, "x >= 0 && x + width <= tamba->width");
    TAMBA_ASSERT (y >= 0 && y + height <= tamba->height, "y >= 0 && y + height <= tamba->height");

    *rowstride = (width * 3 + 3) / 4 * 4;
    auto *buf = static_cast<guchar *> (g_malloc (size_t (*rowstride) * size_t (height)));
    for (int row = 0; row < height; ++row) {
        const guchar *src = tamba->pixels + std::ptrdiff_t (y + row) * tamba->rowstride
                            + std::ptrdiff_t (x) * tamba->n_channels;
        guchar *dst = buf + std::ptrdiff_t (row) * *rowstride;
        for (int i = 0; i < width; ++i, src += 4, dst += 3) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
    }
    return buf;
}

void fill_bitmap (GdkBitmap *bitmap, GdkGC *gc, guint32 pixel, int x, int y, int width,
                  int height)
{
    GdkColor color{};
    color.pixel = pixel;
    gdk_gc_set_foreground (gc, &color);
    gdk_draw_rectangle (bitmap, gc, TRUE, x, y, width, height);
}

// A new bitmap whose every pixel is 0. A new pixmap's contents are undefined, and a threshold
// that is refused must leave an empty mask rather than whatever the server had there.
GdkBitmap *new_clear_bitmap (int width, int height)
{
    GdkBitmap *bitmap = gdk_pixmap_new (nullptr, width, height, 1);
    if (!bitmap) return nullptr;
    if (GdkGC *gc = gdk_gc_new (bitmap)) {
        fill_bitmap (bitmap, gc, 0, 0, 0, width, height);
        gdk_gc_unref (gc);
    }
    return bitmap;
}

}  // namespace

extern "C" void tamba_render_threshold_alpha (Tamba *tamba, GdkBitmap *bitmap, int src_x,
                                              int src_y, int dest_x, int dest_y, int width,
                                              int height, int alpha_threshold)
{
    if (!render_args_ok (__func__, tamba, bitmap, "bitmap != NULL", false, nullptr, src_x, src_y,
                         width, height))
        return;
    TAMBA_RETURN_IF_FAIL (alpha_threshold >= 0 && alpha_threshold <= 255,
                          "alpha_threshold >= 0 && alpha_threshold <= 255");

    if (width == 0 || height == 0) return;
    GdkGC *gc = gdk_gc_new (bitmap);
    if (!gc) return;

    if (!tamba->has_alpha) {
        fill_bitmap (bitmap, gc, alpha_threshold == 255 ? 0 : 1, dest_x, dest_y, width, height);
        gdk_gc_unref (gc);
        return;
    }

    fill_bitmap (bitmap, gc, 0, dest_x, dest_y, width, height);
    GdkColor one{};
    one.pixel = 1;
    gdk_gc_set_foreground (gc, &one);

    const int n = tamba->n_channels;
    for (int y = 0; y < height; ++y) {
        const guchar *a = tamba->pixels + std::ptrdiff_t (y + src_y) * tamba->rowstride
                          + std::ptrdiff_t (src_x) * n + n - 1;
        // Each maximal run of opaque pixels becomes one line.
        int start = 0;
        bool opaque = *a >= alpha_threshold;
        for (int x = 0; x < width; ++x, a += n) {
            const bool here = *a >= alpha_threshold;
            if (here == opaque) continue;
            if (opaque)
                gdk_draw_line (bitmap, gc, dest_x + start, dest_y + y, dest_x + x - 1,
                               dest_y + y);
            start = x;
            opaque = here;
        }
        if (opaque)
            gdk_draw_line (bitmap, gc, dest_x + start, dest_y + y, dest_x + width - 1,
                           dest_y + y);
    }
    gdk_gc_unref (gc);
}

extern "C" void tamba_render_to_drawable (Tamba *tamba, GdkDrawable *drawable, GdkGC *gc,
                                          int src_x, int src_y, int dest_x, int dest_y,
                                          int width, int height, GdkRgbDither dither,
                                          int x_dither, int y_dither)
{
    if (!render_args_ok (__func__, tamba, drawable, "drawable != NULL", true, gc, src_x, src_y,
                         width, height))
        return;
    if (width == 0 || height == 0) return;

    guchar *buf;
    int rowstride;
    if (tamba->has_alpha) {
        buf = remove_alpha (tamba, src_x, src_y, width, height, &rowstride);
    } else {
        // Drawn straight from the image's memory, no copy.
        buf = tamba->pixels + std::ptrdiff_t (src_y) * tamba->rowstride + std::ptrdiff_t (src_x) * 3;
        rowstride = tamba->rowstride;
    }
    gdk_draw_rgb_image_dithalign (drawable, gc, dest_x, dest_y, width, height, dither, buf,
                                  rowstride, x_dither, y_dither);
    if (tamba->has_alpha) g_free (buf);
}

extern "C" void tamba_render_to_drawable_alpha (Tamba *tamba, GdkDrawable *drawable, int src_x,
                                                int src_y, int dest_x, int dest_y, int width,
                                                int height, TambaAlphaMode,
                                                int alpha_threshold, GdkRgbDither dither,
                                                int x_dither, int y_dither)
{
    if (!render_args_ok (__func__, tamba, drawable, "drawable != NULL", false, nullptr, src_x,
                         src_y, width, height))
        return;
    if (width == 0 || height == 0) return;

    GdkGC *gc = gdk_gc_new (drawable);
    if (!gc) return;
    GdkBitmap *bitmap = nullptr;
    if (tamba->has_alpha) {
        // Both alpha modes draw through the same bi-level mask.
        bitmap = new_clear_bitmap (width, height);
        if (!bitmap) {
            gdk_gc_unref (gc);
            return;
        }
        tamba_render_threshold_alpha (tamba, bitmap, src_x, src_y, 0, 0, width, height,
                                      alpha_threshold);
        gdk_gc_set_clip_mask (gc, bitmap);
        gdk_gc_set_clip_origin (gc, dest_x, dest_y);
    }
    tamba_render_to_drawable (tamba, drawable, gc, src_x, src_y, dest_x, dest_y, width, height,
                              dither, x_dither, y_dither);
    if (bitmap) gdk_bitmap_unref (bitmap);
    gdk_gc_unref (gc);
}

extern "C" void tamba_render_pixmap_and_mask (Tamba *tamba, GdkPixmap **pixmap_return,
                                              GdkBitmap **mask_return, int alpha_threshold)
{
    TAMBA_RETURN_IF_FAIL (tamba != nullptr, "tamba != NULL");

    if (pixmap_return) {
        GdkVisual *visual = gdk_rgb_get_visual ();
        GdkPixmap *pixmap = visual ? gdk_pixmap_new (nullptr, tamba->width, tamba->height,
                                                     visual->depth)
                                   : nullptr;
        *pixmap_return = pixmap;
        if (pixmap) {
            if (GdkGC *gc = gdk_gc_new (pixmap)) {
                tamba_render_to_drawable (tamba, pixmap, gc, 0, 0, 0, 0, tamba->width,
                                          tamba->height, GDK_RGB_DITHER_NORMAL, 0, 0);
                gdk_gc_unref (gc);
            }
        }
    }
    if (mask_return) {
        GdkBitmap *mask = nullptr;
        if (tamba->has_alpha) {
            mask = new_clear_bitmap (tamba->width, tamba->height);
            if (mask)
                tamba_render_threshold_alpha (tamba, mask, 0, 0, 0, 0, tamba->width,
                                              tamba->height, alpha_threshold);
        }
        *mask_return = mask;
    }
}
