// SPDX-License-Identifier: LGPL-2.1-or-later
// GdkRGB: chooses a visual and colormap once, then draws RGB rectangles in its pixel format.
#include "private.h"
#include "rgb_convert.h"

#include <algorithm>
#include <memory>

namespace {

struct RgbState {
    bool initialised = false;
    GdkVisual *visual = nullptr;  // NULL when no visual is supported
    GdkColormap *cmap = nullptr;
    std::unique_ptr<gdkl::RgbConverter> converter;
    std::vector<guchar> scratch;  // band memory, reused across calls
};

RgbState state;
bool install_cmap = false;
int min_colors = 125;
bool force_byte_order = false;
GdkByteOrder forced_byte_order = GDK_LSB_FIRST;

constexpr int kBandRows = 64;

int quality (const GdkVisual *v)
{
    switch (v->type) {
    case GDK_VISUAL_TRUE_COLOR:
    case GDK_VISUAL_DIRECT_COLOR:
        // Depth-32 visuals are ARGB ones that default-depth windows cannot take.
        switch (v->depth) {
        case 24: case 30: return 9;
        case 16: return 8;
        case 15: return 7;
        case 12: return 6;
        case 8: return 4;
        default: return 0;
        }
    case GDK_VISUAL_PSEUDO_COLOR:
    case GDK_VISUAL_STATIC_COLOR:
        return v->depth == 8 ? 4 : (v->depth >= 4 && v->depth < 8 ? 2 : 0);
    case GDK_VISUAL_STATIC_GRAY:
    case GDK_VISUAL_GRAYSCALE:
        return v->depth == 8 ? 4 : (v->depth >= 2 && v->depth < 8 ? 2 : (v->depth == 1 ? 1 : 0));
    }
    return 0;
}

int score (GdkVisual *v)
{
    const int q = quality (v);
    if (q == 0) return 0;
    const bool preferred_class = v->type == GDK_VISUAL_TRUE_COLOR
                                 || v->type == GDK_VISUAL_PSEUDO_COLOR
                                 || v->type == GDK_VISUAL_STATIC_GRAY;
    return q * 4 + (v == gdk_visual_get_system () ? 2 : 0) + (preferred_class ? 1 : 0);
}

GdkVisual *choose_visual ()
{
    GdkVisual *best = nullptr;
    int best_score = 0;
    for (GdkVisual *v : gdkl::all_visuals ()) {
        const int s = score (v);
        if (s > best_score) {
            best = v;
            best_score = s;
        }
    }
    return best;
}

int channel_level (int k, int n)
{
    return (k * 255 + (n - 1) / 2) / (n - 1);
}

// Allocates an r x g x b cube in cmap; the pixels in cube order, or empty when a colour failed.
std::vector<guint32> alloc_cube (GdkColormap *cmap, int nr, int ng, int nb)
{
    std::vector<guint32> pixels;
    const Colormap xcmap = gdkl::priv (cmap)->xcmap;
    for (int r = 0; r < nr; ++r)
        for (int g = 0; g < ng; ++g)
            for (int b = 0; b < nb; ++b) {
                XColor c{};
                c.red = (unsigned short) (channel_level (r, nr) * 257);
                c.green = (unsigned short) (channel_level (g, ng) * 257);
                c.blue = (unsigned short) (channel_level (b, nb) * 257);
                if (!XAllocColor (gdk_display, xcmap, &c)) {
                    std::vector<unsigned long> px (pixels.begin (), pixels.end ());
                    if (!px.empty ())
                        XFreeColors (gdk_display, xcmap, px.data (), int (px.size ()), 0);
                    return {};
                }
                pixels.push_back (guint32 (c.pixel));
            }
    return pixels;
}

void setup_cube (gdkl::PixelFormat &fmt)
{
    static const int kSizes[][3] = {{6, 6, 6}, {6, 6, 5}, {6, 6, 4}, {5, 5, 5}, {5, 5, 4},
                                    {4, 4, 4}, {4, 4, 3}, {3, 3, 3}, {2, 2, 2}};
    GdkVisual *v = state.visual;
    const bool small = v->depth < 8;
    if (!install_cmap && v == gdk_visual_get_system ()) {
        GdkColormap *sys = gdk_colormap_get_system ();
        for (const auto &s : kSizes) {
            if (small && s[0] != 2) continue;
            if (s[0] * s[1] * s[2] < min_colors && !small) continue;
            std::vector<guint32> px = alloc_cube (sys, s[0], s[1], s[2]);
            if (px.empty ()) continue;
            state.cmap = gdk_colormap_ref (sys);
            fmt.cube_shades = {s[0], s[1], s[2]};
            fmt.cube_pixels = std::move (px);
            return;
        }
    }
    // A colormap of our own always holds the cube.
    state.cmap = gdk_colormap_new (v, FALSE);
    const int n = small ? 2 : 6;
    fmt.cube_shades = {n, n, n};
    fmt.cube_pixels = alloc_cube (state.cmap, n, n, n);
    if (fmt.cube_pixels.empty ()) fmt.cube_pixels.assign (size_t (n * n * n), 0);
}

void setup_grey (gdkl::PixelFormat &fmt)
{
    GdkVisual *v = state.visual;
    const int levels = std::min (256, 1 << std::min (v->depth, 8));
    fmt.grey_levels = levels;
    if (v->type == GDK_VISUAL_STATIC_GRAY) {
        // A linear map with black at 0: the pixel is the level.
        state.cmap = gdk_colormap_ref (gdk_colormap_get_system ());
        return;
    }
    state.cmap = gdk_colormap_new (v, FALSE);
    const Colormap xcmap = gdkl::priv (state.cmap)->xcmap;
    for (int k = 0; k < levels; ++k) {
        XColor c{};
        c.red = c.green = c.blue = (unsigned short) (channel_level (k, levels) * 257);
        fmt.grey_pixels.push_back (XAllocColor (gdk_display, xcmap, &c) ? guint32 (c.pixel) : 0);
    }
}

void rgb_init ()
{
    if (state.initialised || !gdk_display) return;
    state.initialised = true;
    state.visual = choose_visual ();
    if (!state.visual) {
        g_log (GDK_LOG_DOMAIN, G_LOG_LEVEL_WARNING, "GdkRGB: visual not supported");
        return;
    }
    GdkVisual *v = state.visual;
    gdkl::PixelFormat fmt;
    fmt.depth = v->depth;
    fmt.bpp = gdkl::pixmap_format_bpp (v->depth);
    fmt.byte_order = force_byte_order ? forced_byte_order
                     : ImageByteOrder (gdk_display) == MSBFirst ? GDK_MSB_FIRST : GDK_LSB_FIRST;
    fmt.bit_order = BitmapBitOrder (gdk_display) == MSBFirst ? GDK_MSB_FIRST : GDK_LSB_FIRST;
    switch (v->type) {
    case GDK_VISUAL_TRUE_COLOR:
    case GDK_VISUAL_DIRECT_COLOR:
        fmt.kind = gdkl::PixelKind::kTrue;
        fmt.shift = {v->red_shift, v->green_shift, v->blue_shift};
        fmt.prec = {v->red_prec, v->green_prec, v->blue_prec};
        if (v->type == GDK_VISUAL_DIRECT_COLOR || install_cmap || v != gdk_visual_get_system ())
            state.cmap = gdk_colormap_new (v, FALSE);  // DirectColor gets linear ramps
        else
            state.cmap = gdk_colormap_ref (gdk_colormap_get_system ());
        break;
    case GDK_VISUAL_PSEUDO_COLOR:
    case GDK_VISUAL_STATIC_COLOR:
        fmt.kind = gdkl::PixelKind::kCube;
        setup_cube (fmt);
        break;
    default:
        fmt.kind = gdkl::PixelKind::kGrey;
        setup_grey (fmt);
        break;
    }
    gdkl::colormap_refresh (state.cmap);
    state.converter = std::make_unique<gdkl::RgbConverter> (std::move (fmt));
}

}  // namespace

extern "C" void gdk_rgb_init (void)
{
    GDKL_NEED_DISPLAY ();
    rgb_init ();
}

extern "C" GdkVisual *gdk_rgb_get_visual (void)
{
    GDKL_NEED_DISPLAY_VAL (nullptr);
    rgb_init ();
    return state.visual;
}

extern "C" GdkColormap *gdk_rgb_get_cmap (void)
{
    GDKL_NEED_DISPLAY_VAL (nullptr);
    rgb_init ();
    if (state.cmap) gdkl::colormap_refresh (state.cmap);
    return state.cmap;
}

extern "C" gulong gdk_rgb_xpixel_from_rgb (guint32 rgb)
{
    GDKL_NEED_DISPLAY_VAL (0);
    rgb_init ();
    if (!state.converter) return 0;
    return state.converter->pixel (int ((rgb >> 16) & 0xff), int ((rgb >> 8) & 0xff),
                                   int (rgb & 0xff));
}

extern "C" gboolean gdk_rgb_ditherable (void)
{
    GDKL_NEED_DISPLAY_VAL (FALSE);
    rgb_init ();
    return state.converter && state.converter->dithers (GDK_RGB_DITHER_MAX);
}

extern "C" void gdk_rgb_set_install (gboolean install)
{
    install_cmap = install;
}

extern "C" void gdk_rgb_set_min_colors (gint n)
{
    min_colors = n;
}

extern "C" void gdkl_rgb_set_image_byte_order (GdkByteOrder order)
{
    force_byte_order = true;
    forced_byte_order = order;
}

extern "C" void gdk_draw_rgb_image (GdkDrawable *drawable, GdkGC *gc, gint x, gint y, gint width,
                                    gint height, GdkRgbDither dith, guchar *rgb_buf,
                                    gint rowstride)
{
    gdk_draw_rgb_image_dithalign (drawable, gc, x, y, width, height, dith, rgb_buf, rowstride, 0,
                                  0);
}

extern "C" void gdk_draw_rgb_image_dithalign (GdkDrawable *drawable, GdkGC *gc, gint x, gint y,
                                              gint width, gint height, GdkRgbDither dith,
                                              guchar *rgb_buf, gint rowstride, gint xdith,
                                              gint ydith)
{
    GDKL_NEED_DISPLAY ();
    GDKL_RETURN_IF_FAIL (drawable != nullptr, "drawable != NULL");
    GDKL_RETURN_IF_FAIL (gc != nullptr, "gc != NULL");
    GDKL_RETURN_IF_FAIL (rgb_buf != nullptr, "rgb_buf != NULL");
    rgb_init ();
    if (!state.converter) return;
    gdkl::DrawablePrivate *d = gdkl::priv (drawable);
    GDKL_RETURN_IF_FAIL (d->depth == state.visual->depth, "drawable depth == rgb visual depth");
    GDKL_RETURN_IF_FAIL (gdkl::priv (gc)->depth == d->depth, "drawable depth == gc depth");
    if (width < 1 || height < 1 || d->destroyed) return;

    const gdkl::PixelFormat &fmt = state.converter->format ();
    const gint64 bpl64 = ((gint64 (width) * fmt.bpp + 31) / 32) * 4;
    if (bpl64 > G_MAXINT / kBandRows) return;
    const int bpl = int (bpl64);

    XImage img{};
    img.width = width;
    img.format = ZPixmap;
    img.byte_order = fmt.byte_order == GDK_MSB_FIRST ? MSBFirst : LSBFirst;
    img.bitmap_unit = 32;
    img.bitmap_bit_order = fmt.bit_order == GDK_MSB_FIRST ? MSBFirst : LSBFirst;
    img.bitmap_pad = 32;
    img.depth = fmt.depth;
    img.bytes_per_line = bpl;
    img.bits_per_pixel = fmt.bpp;

    // The whole picture through shared memory when the server can read it as it is (shared
    // images are not converted to the server's byte order).
    const bool server_order = img.byte_order == ImageByteOrder (gdk_display);
    if (guchar *shm = server_order ? gdkl::shm_buffer (size_t (bpl) * size_t (height)) : nullptr) {
        img.height = height;
        img.data = reinterpret_cast<char *> (shm);
        if (!XInitImage (&img)) return;
        state.converter->convert (rgb_buf, rowstride, width, height, shm, bpl, dith, x + xdith,
                                  y + ydith);
        gdkl::shm_put (d->xid, gdkl::priv (gc)->xgc, &img, x, y, unsigned (width),
                       unsigned (height));
        return;
    }

    // Otherwise in bands, so the server copies one while the next is converted.
    const int band = std::min (height, kBandRows);
    if (state.scratch.size () < size_t (bpl) * size_t (band))
        state.scratch.resize (size_t (bpl) * size_t (band));
    img.height = band;
    img.data = reinterpret_cast<char *> (state.scratch.data ());
    if (!XInitImage (&img)) return;
    for (int top = 0; top < height; top += band) {
        const int rows = std::min (band, height - top);
        state.converter->convert (rgb_buf + std::ptrdiff_t (top) * rowstride, rowstride, width,
                                  rows, state.scratch.data (), bpl, dith, x + xdith,
                                  y + top + ydith);
        XPutImage (gdk_display, d->xid, gdkl::priv (gc)->xgc, &img, 0, 0, x, y + top,
                   unsigned (width), unsigned (rows));
    }
}
