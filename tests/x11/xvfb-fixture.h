// SPDX-License-Identifier: LGPL-2.1-or-later
// Each X test process runs against its own Xvfb, started here with -displayfd (the server picks
// a free display) and stopped by its process id. The screen comes from TAMBA_XVFB, e.g. "16" or
// "8 -cc 4" (depth, then extra Xvfb options); without it, depth 24.
#ifndef TAMBA_TESTS_XVFB_FIXTURE_H
#define TAMBA_TESTS_XVFB_FIXTURE_H

#include <gtest/gtest.h>

#include <gdk/gdk.h>

#include <string>
#include <vector>

namespace tamba::test {

// The configuration this process was started for, as given in TAMBA_XVFB.
const std::string &xvfb_config ();

// The pixel values of a rectangle of a drawable, read back through the X layer.
std::vector<guint32> read_pixels (GdkDrawable *drawable, int x, int y, int width, int height);

// The 8-bit colour a pixel value stands for in a visual and colormap, computed independently of
// the library: true-colour fields widened by repeating their bits, DirectColor and palette
// visuals through the colormap's cells.
struct Rgb {
    guchar r, g, b;
    bool operator== (const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};
Rgb colour_of_pixel (guint32 pixel, const GdkVisual *visual, const GdkColormap *cmap);

// Fills a whole drawable with one pixel value.
void fill_drawable (GdkDrawable *drawable, guint32 pixel);

// A new pixmap of GdkRGB's depth, filled with pixel.
GdkPixmap *rgb_pixmap (int width, int height, guint32 pixel);

}  // namespace tamba::test

#endif
