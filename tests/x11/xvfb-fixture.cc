// SPDX-License-Identifier: LGPL-2.1-or-later
#include "xvfb-fixture.h"

#include <memory>

#include "xvfb-server.h"

namespace tamba::test {

namespace {

class XvfbEnvironment : public ::testing::Environment {
public:
    void SetUp () override
    {
        server_ = std::make_unique<XvfbServer> (xvfb_config_from_env ());
        ASSERT_FALSE (server_->display ().empty ())
            << "Xvfb (" << xvfb_config_from_env () << ") did not start; is the xvfb package installed?";
        ASSERT_TRUE (open_layer_on (server_->display ()))
            << "no X display at " << server_->display ();
    }

    void TearDown () override { server_.reset (); }

private:
    std::unique_ptr<XvfbServer> server_;
};

::testing::Environment *const environment = ::testing::AddGlobalTestEnvironment (new XvfbEnvironment);

}  // namespace

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

void fill_drawable (GdkDrawable *drawable, guint32 pixel)
{
    GdkGC *gc = gdk_gc_new (drawable);
    GdkColor colour{pixel, 0, 0, 0};
    gdk_gc_set_foreground (gc, &colour);
    gdk_draw_rectangle (drawable, gc, TRUE, 0, 0, -1, -1);
    gdk_gc_unref (gc);
}

PixmapRef rgb_pixmap (int width, int height, guint32 pixel)
{
    PixmapRef pixmap (gdk_pixmap_new (nullptr, width, height, gdk_rgb_get_visual ()->depth));
    fill_drawable (pixmap.get (), pixel);
    return pixmap;
}

void render (Tamba *image, GdkDrawable *drawable, int src_x, int src_y, int dest_x, int dest_y,
             int width, int height, GdkRgbDither dither, int x_dither, int y_dither)
{
    GdkGC *gc = gdk_gc_new (drawable);
    tamba_render_to_drawable (image, drawable, gc, src_x, src_y, dest_x, dest_y, width, height,
                              dither, x_dither, y_dither);
    gdk_gc_unref (gc);
}

}  // namespace tamba::test
