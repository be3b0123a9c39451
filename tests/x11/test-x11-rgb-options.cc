// SPDX-License-Identifier: LGPL-2.1-or-later
// GdkRGB started with a colormap of its own and writing its images most significant byte first,
// which Xlib converts for this server: the server must end up with the same undithered pixels as
// the defaults give, and pictures still come back as the colours drawn.
#include <gtest/gtest.h>

#include <gdk/gdk.h>
#include <gdk/gdklayer.h>

#include "pixel-reference.h"
#include "xvfb-fixture.h"

namespace {

using namespace tamba::test;

// Before the fixture opens the display, so GdkRGB starts with them.
const bool options = [] {
    gdkl_rgb_set_image_byte_order (GDK_MSB_FIRST);
    gdk_rgb_set_install (TRUE);
    return true;
}();

TEST (RgbOptions, OwnColormapMsbFirstImagesAndAFaithfulRoundTrip)
{
    GdkColormap *cmap = gdk_rgb_get_cmap ();
    ASSERT_NE (cmap, nullptr);
    GdkVisual *v = gdk_rgb_get_visual ();
    if (v->type != GDK_VISUAL_STATIC_GRAY) {
        EXPECT_NE (cmap, gdk_colormap_get_system ());
    }
    const int w = 11, h = 5;
    Image img = random_image (w, h, false, 1);
    const PixmapRef p = rgb_pixmap (w, h, 0);
    render (img.get (), p.get (), 0, 0, 0, 0, w, h);
    const auto got = read_pixels (p.get (), 0, 0, w, h);
    Image back (tamba_get_from_drawable (nullptr, p.get (), cmap, 0, 0, 0, 0, w, h));
    ASSERT_NE (back, nullptr);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const guint32 pixel = rgb_pixel (at (img.get (), x, y));
            ASSERT_EQ (got[size_t (y * w + x)], pixel) << x << "," << y;
            const guchar *b = at (back.get (), x, y);
            EXPECT_EQ ((Rgb{b[0], b[1], b[2]}), colour_of_pixel (pixel, v, cmap)) << x << "," << y;
        }
}

}  // namespace
