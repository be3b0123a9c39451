// SPDX-License-Identifier: LGPL-2.1-or-later
// GdkRGB told to use a colormap of its own: pictures still come back as the colours drawn.
#include <gtest/gtest.h>

#include <gdk/gdk.h>
#include <tamba/tamba.h>

#include <vector>

#include "pixel-reference.h"
#include "xvfb-fixture.h"

namespace {

// Before the fixture opens the display, so GdkRGB starts with it.
const bool own_colormap = [] {
    gdk_rgb_set_install (TRUE);
    return true;
}();

TEST (RgbInstall, OwnColormapAndFaithfulRoundTrip)
{
    GdkColormap *cmap = gdk_rgb_get_cmap ();
    ASSERT_NE (cmap, nullptr);
    GdkVisual *v = gdk_rgb_get_visual ();
    if (v->type != GDK_VISUAL_STATIC_GRAY) {
        EXPECT_NE (cmap, gdk_colormap_get_system ());
    }
    const int w = 9, h = 4;
    tamba::test::Image img (tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x) img->pixels[y * img->rowstride + x] = guchar (x * 29 + y * 71);
    GdkPixmap *p = tamba::test::rgb_pixmap (w, h, 0);
    GdkGC *gc = gdk_gc_new (p);
    tamba_render_to_drawable (img.get (), p, gc, 0, 0, 0, 0, w, h, GDK_RGB_DITHER_NONE, 0, 0);
    tamba::test::Image back (tamba_get_from_drawable (nullptr, p, cmap, 0, 0, 0, 0, w, h));
    ASSERT_NE (back, nullptr);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const guchar *s = img->pixels + y * img->rowstride + x * 3;
            const guint32 pixel = guint32 (gdk_rgb_xpixel_from_rgb (guint32 (s[0]) << 16 | s[1] << 8 | s[2]));
            const guchar *b = back->pixels + y * back->rowstride + x * 3;
            EXPECT_EQ ((tamba::test::Rgb{b[0], b[1], b[2]}), tamba::test::colour_of_pixel (pixel, v, cmap))
                << x << "," << y;
        }
    gdk_gc_unref (gc);
    gdk_pixmap_unref (p);
}

}  // namespace
