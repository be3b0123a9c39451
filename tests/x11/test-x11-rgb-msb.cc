// SPDX-License-Identifier: LGPL-2.1-or-later
// GdkRGB writing its images most significant byte first, which Xlib converts for this server:
// the server must end up with the same pixels as the native order gives.
#include <gtest/gtest.h>

#include <gdk/gdk.h>
#include <gdk/gdklayer.h>

#include <random>
#include <vector>

#include "xvfb-fixture.h"

namespace {

// Before the fixture opens the display, so GdkRGB starts in this order.
const bool msb_images = [] {
    gdkl_rgb_set_image_byte_order (GDK_MSB_FIRST);
    return true;
}();

TEST (RgbMsbFirst, ServerGetsTheUnditheredPixels)
{
    const int w = 11, h = 5;
    std::vector<guchar> rgb (w * h * 3);
    std::mt19937 rng (3);
    for (auto &b : rgb) b = guchar (rng ());
    GdkPixmap *p = tamba::test::rgb_pixmap (w, h, 0);
    GdkGC *gc = gdk_gc_new (p);
    gdk_draw_rgb_image (p, gc, 0, 0, w, h, GDK_RGB_DITHER_NONE, rgb.data (), w * 3);
    const auto got = tamba::test::read_pixels (p, 0, 0, w, h);
    for (int i = 0; i < w * h; ++i) {
        const guint32 c = guint32 (rgb[i * 3]) << 16 | rgb[i * 3 + 1] << 8 | rgb[i * 3 + 2];
        ASSERT_EQ (got[size_t (i)], guint32 (gdk_rgb_xpixel_from_rgb (c))) << i;
    }
    gdk_gc_unref (gc);
    gdk_pixmap_unref (p);
}

}  // namespace
