// SPDX-License-Identifier: LGPL-2.1-or-later
#include "xvfb-fixture.h"

#include <gdk/gdkx.h>

#include <memory>

#include "pixel-reference.h"
#include "xvfb-server.h"

namespace tamba::test {

namespace {

class XvfbEnvironment : public ::testing::Environment {
public:
    void SetUp () override
    {
        server_ = std::make_unique<XvfbServer> (xvfb_config ());
        ASSERT_FALSE (server_->display ().empty ())
            << "Xvfb (" << xvfb_config () << ") did not start; is the xvfb package installed?";
        ASSERT_TRUE (open_layer_on (server_->display ()))
            << "no X display at " << server_->display ();
    }

    void TearDown () override { server_.reset (); }

private:
    std::unique_ptr<XvfbServer> server_;
};

const bool registered = [] {
    ::testing::AddGlobalTestEnvironment (new XvfbEnvironment);
    return true;
}();

}  // namespace

const std::string &xvfb_config ()
{
    static const std::string config = xvfb_config_from_env ();
    return config;
}

std::vector<guint32> read_pixels (GdkDrawable *drawable, int x, int y, int width, int height)
{
    std::vector<guint32> out;
    GdkImage *image = gdk_image_get (drawable, x, y, width, height);
    EXPECT_NE (image, nullptr);
    if (!image) return out;
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i) out.push_back (gdk_image_get_pixel (image, i, j));
    gdk_image_destroy (image);
    return out;
}

Rgb colour_of_pixel (guint32 pixel, const GdkVisual *v, const GdkColormap *cmap)
{
    const guint32 masks[3] = {v->red_mask, v->green_mask, v->blue_mask};
    const int shifts[3] = {v->red_shift, v->green_shift, v->blue_shift};
    const int precs[3] = {v->red_prec, v->green_prec, v->blue_prec};
    guchar out[3];
    for (int c = 0; c < 3; ++c) {
        const guint32 field = precs[c] ? (pixel & masks[c]) >> shifts[c] : 0;
        if (v->type == GDK_VISUAL_TRUE_COLOR) {
            out[c] = widen (field, precs[c]);
        } else if (v->type == GDK_VISUAL_DIRECT_COLOR) {
            const GdkColor &cell = cmap->colors[field];
            out[c] = guchar ((c == 0 ? cell.red : c == 1 ? cell.green : cell.blue) & 0xff);
        } else {
            const GdkColor &cell = cmap->colors[pixel];
            out[c] = guchar ((c == 0 ? cell.red : c == 1 ? cell.green : cell.blue) & 0xff);
        }
    }
    return {out[0], out[1], out[2]};
}

void fill_drawable (GdkDrawable *drawable, guint32 pixel)
{
    GdkGC *gc = gdk_gc_new (drawable);
    GdkColor colour{};
    colour.pixel = pixel;
    gdk_gc_set_foreground (gc, &colour);
    gdk_draw_rectangle (drawable, gc, TRUE, 0, 0, -1, -1);
    gdk_gc_unref (gc);
}

GdkPixmap *rgb_pixmap (int width, int height, guint32 pixel)
{
    GdkPixmap *pixmap = gdk_pixmap_new (nullptr, width, height, gdk_rgb_get_visual ()->depth);
    fill_drawable (pixmap, pixel);
    return pixmap;
}

}  // namespace tamba::test
