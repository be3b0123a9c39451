// SPDX-License-Identifier: LGPL-2.1-or-later
// tamba_render_to_drawable and tamba_get_from_drawable on a 1920x1080 pixmap, each beside the
// bare Xlib call that bounds it (XPutImage of a ready image, XGetImage alone). Every iteration
// waits for the server (XSync), so the server's work is counted.
#include <benchmark/benchmark.h>

#include <gdk/gdk.h>
#include <gdk/gdkx.h>
#include <tamba/tamba.h>

#include <X11/Xutil.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "xvfb-server.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

struct Setup {
    std::unique_ptr<tamba::test::XvfbServer> server;
    Tamba *image = nullptr;
    GdkPixmap *pixmap = nullptr;
    GdkGC *gc = nullptr;
    bool ok = false;
};

Setup &setup ()
{
    static Setup s = [] {
        Setup s;
        s.server = std::make_unique<tamba::test::XvfbServer> (tamba::test::xvfb_config_from_env ());
        if (!tamba::test::open_layer_on (s.server->display ())) return s;
        s.image = tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, kWidth, kHeight);
        std::mt19937 rng (1);
        for (int i = 0; i < kHeight * s.image->rowstride; ++i) s.image->pixels[i] = guchar (rng ());
        s.pixmap = gdk_pixmap_new (nullptr, kWidth, kHeight, gdk_rgb_get_visual ()->depth);
        s.gc = gdk_gc_new (s.pixmap);
        s.ok = true;
        return s;
    }();
    return s;
}

void count (benchmark::State &state)
{
    state.counters["Mpix/s"] = benchmark::Counter (double (kWidth) * kHeight * double (state.iterations ()) / 1e6,
                                                   benchmark::Counter::kIsRate);
    state.SetLabel ("depth " + std::to_string (gdk_rgb_get_visual ()->depth));
}

void BM_RenderToDrawable (benchmark::State &state)
{
    Setup &s = setup ();
    if (!s.ok) return state.SkipWithError ("no X server");
    for (auto _ : state) {
        tamba_render_to_drawable (s.image, s.pixmap, s.gc, 0, 0, 0, 0, kWidth, kHeight,
                                  GDK_RGB_DITHER_NORMAL, 0, 0);
        gdk_flush ();
    }
    count (state);
}

// The same without MIT-SHM: the picture goes through the socket in 64-row bands.
void BM_RenderToDrawablePlain (benchmark::State &state)
{
    Setup &s = setup ();
    if (!s.ok) return state.SkipWithError ("no X server");
    const gboolean had_xshm = gdk_get_use_xshm ();
    gdk_set_use_xshm (FALSE);
    for (auto _ : state) {
        tamba_render_to_drawable (s.image, s.pixmap, s.gc, 0, 0, 0, 0, kWidth, kHeight,
                                  GDK_RGB_DITHER_NORMAL, 0, 0);
        gdk_flush ();
    }
    gdk_set_use_xshm (had_xshm);
    count (state);
}

void BM_XPutImageLimit (benchmark::State &state)
{
    Setup &s = setup ();
    if (!s.ok) return state.SkipWithError ("no X server");
    GdkImage *ready = gdk_image_new (GDK_IMAGE_NORMAL, gdk_rgb_get_visual (), kWidth, kHeight);
    // Pixels as GdkRGB would make them from the image, so the server gets the same data.
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const guchar *p = s.image->pixels + y * s.image->rowstride + x * 3;
            gdk_image_put_pixel (ready, x, y,
                                 guint32 (gdk_rgb_xpixel_from_rgb (guint32 (p[0]) << 16 | p[1] << 8 | p[2])));
        }
    for (auto _ : state) {
        XPutImage (gdk_display, GDK_PIXMAP_XID (s.pixmap), GDK_GC_XGC (s.gc), GDK_IMAGE_XIMAGE (ready), 0, 0,
                   0, 0, kWidth, kHeight);
        gdk_flush ();
    }
    gdk_image_destroy (ready);
    count (state);
}

void BM_GetFromDrawable (benchmark::State &state)
{
    Setup &s = setup ();
    if (!s.ok) return state.SkipWithError ("no X server");
    Tamba *dest = tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, kWidth, kHeight);
    for (auto _ : state)
        benchmark::DoNotOptimize (tamba_get_from_drawable (dest, s.pixmap, gdk_rgb_get_cmap (), 0, 0, 0, 0,
                                                           kWidth, kHeight));
    tamba_unref (dest);
    count (state);
}

void BM_XGetImageLimit (benchmark::State &state)
{
    Setup &s = setup ();
    if (!s.ok) return state.SkipWithError ("no X server");
    for (auto _ : state) {
        XImage *x = XGetImage (gdk_display, GDK_PIXMAP_XID (s.pixmap), 0, 0, kWidth, kHeight, AllPlanes, ZPixmap);
        benchmark::DoNotOptimize (x);
        XDestroyImage (x);
    }
    count (state);
}

BENCHMARK (BM_RenderToDrawable)->Unit (benchmark::kMillisecond)->UseRealTime ();
BENCHMARK (BM_RenderToDrawablePlain)->Unit (benchmark::kMillisecond)->UseRealTime ();
BENCHMARK (BM_XPutImageLimit)->Unit (benchmark::kMillisecond)->UseRealTime ();
BENCHMARK (BM_GetFromDrawable)->Unit (benchmark::kMillisecond)->UseRealTime ();
BENCHMARK (BM_XGetImageLimit)->Unit (benchmark::kMillisecond)->UseRealTime ();

}  // namespace
