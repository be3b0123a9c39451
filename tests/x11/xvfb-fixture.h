// SPDX-License-Identifier: LGPL-2.1-or-later
// Each X test process opens the layer on its own Xvfb (xvfb-server.h) of the screen TAMBA_XVFB
// gives; these are the helpers its tests draw and read with.
#ifndef TAMBA_TESTS_XVFB_FIXTURE_H
#define TAMBA_TESTS_XVFB_FIXTURE_H

#include <gtest/gtest.h>

#include <gdk/gdk.h>
#include <tamba/tamba.h>

#include <memory>
#include <string>
#include <vector>

namespace tamba::test {

// The pixel values of a rectangle of a drawable, read back through the X layer.
std::vector<guint32> read_pixels (GdkDrawable *drawable, int x, int y, int width, int height);

// Fills a whole drawable with one pixel value.
void fill_drawable (GdkDrawable *drawable, guint32 pixel);

struct PixmapUnref {
    void operator() (GdkPixmap *p) const { gdk_pixmap_unref (p); }
};
// A pixmap (or bitmap) reference that is dropped at the end of its scope.
using PixmapRef = std::unique_ptr<GdkPixmap, PixmapUnref>;

// A new pixmap of GdkRGB's depth, filled with pixel.
PixmapRef rgb_pixmap (int width, int height, guint32 pixel);

// tamba_render_to_drawable through a GC of its own.
void render (Tamba *image, GdkDrawable *drawable, int src_x, int src_y, int dest_x, int dest_y,
             int width, int height, GdkRgbDither dither = GDK_RGB_DITHER_NONE, int x_dither = 0,
             int y_dither = 0);

// GdkRGB's pixel value for an 8-bit RGB sample.
inline guint32 rgb_pixel (const guchar *rgb)
{
    return guint32 (gdk_rgb_xpixel_from_rgb (guint32 (rgb[0]) << 16 | rgb[1] << 8 | rgb[2]));
}

}  // namespace tamba::test

#endif
