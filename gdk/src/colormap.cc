// SPDX-License-Identifier: LGPL-2.1-or-later
// Colormap records. Palette colormaps keep a copy of their cells, re-read from the server each
// time one is handed out, so a capture always sees the current cell contents.
#include "private.h"

#include <algorithm>
#include <map>

namespace {

// Wrapped X colormaps, kept for the process (the table is never destroyed, so they stay reachable).
std::map<Colormap, GdkColormap *> &known_colormaps = *new std::map<Colormap, GdkColormap *>;
GdkColormap *system_colormap = nullptr;

constexpr int kMinPaletteEntries = 256;

}  // namespace

namespace gdkl {

GdkColormap *colormap_wrap (Colormap xcmap, GdkVisual *visual, bool is_default, bool owned)
{
    auto *p = g_new0 (ColormapPrivate, 1);
    p->colormap.size = visual->colormap_size;
    if (visual->type != GDK_VISUAL_TRUE_COLOR) {
        // At least 256 entries, so palette paths indexing with any byte stay inside.
        const int n = std::max (visual->colormap_size, kMinPaletteEntries);
        p->colormap.colors = g_new0 (GdkColor, n);
    }
    p->xcmap = xcmap;
    p->visual = visual;
    p->ref_count = 1;
    p->is_default = is_default;
    p->owned = owned;
    colormap_refresh (&p->colormap);
    return &p->colormap;
}

void colormap_refresh (GdkColormap *cmap)
{
    ColormapPrivate *p = priv (cmap);
    const GdkVisual *v = p->visual;
    if (!cmap->colors || cmap->size <= 0 || !gdk_display) return;
    const int n = cmap->size;
    std::vector<XColor> cells (n);
    if (v->type == GDK_VISUAL_DIRECT_COLOR) {
        // Entry i holds red cell i, green cell i and blue cell i; a channel ends at 2^prec - 1.
        const guint32 rmax = (1u << v->red_prec) - 1, gmax = (1u << v->green_prec) - 1,
                      bmax = (1u << v->blue_prec) - 1;
        for (int i = 0; i < n; ++i) {
            const guint32 k = guint32 (i);
            cells[i].pixel = (std::min (k, rmax) << v->red_shift)
                             | (std::min (k, gmax) << v->green_shift)
                             | (std::min (k, bmax) << v->blue_shift);
        }
        XQueryColors (gdk_display, p->xcmap, cells.data (), n);
        for (int i = 0; i < n; ++i) {
            const guint32 k = guint32 (i);
            GdkColor &c = cmap->colors[i];
            c.pixel = guint32 (cells[i].pixel);
            c.red = k <= rmax ? cells[i].red : 0;
            c.green = k <= gmax ? cells[i].green : 0;
            c.blue = k <= bmax ? cells[i].blue : 0;
        }
        return;
    }
    for (int i = 0; i < n; ++i) cells[i].pixel = gulong (i);
    XQueryColors (gdk_display, p->xcmap, cells.data (), n);
    for (int i = 0; i < n; ++i)
        cmap->colors[i] = GdkColor{guint32 (i), cells[i].red, cells[i].green, cells[i].blue};
}

}  // namespace gdkl

using gdkl::priv;

extern "C" GdkColormap *gdk_colormap_get_system (void)
{
    GDKL_NEED_DISPLAY_VAL (nullptr);
    if (!system_colormap) {
        system_colormap = gdkl::colormap_wrap (DefaultColormap (gdk_display, gdk_screen),
                                               gdk_visual_get_system (), true, false);
        known_colormaps[priv (system_colormap)->xcmap] = system_colormap;
    } else {
        gdkl::colormap_refresh (system_colormap);
    }
    return system_colormap;
}

extern "C" GdkColormap *gdk_colormap_new (GdkVisual *visual, gboolean private_cmap)
{
    GDKL_NEED_DISPLAY_VAL (nullptr);
    GDKL_RETURN_VAL_IF_FAIL (visual != nullptr, "visual != NULL", nullptr);
    const bool direct = visual->type == GDK_VISUAL_DIRECT_COLOR;
    // TrueColor and the static classes have no writable cells to allocate.
    const bool writable = visual->type == GDK_VISUAL_GRAYSCALE
                          || visual->type == GDK_VISUAL_PSEUDO_COLOR || direct;
    const int alloc = writable && (private_cmap || direct) ? AllocAll : AllocNone;
    const Colormap xcmap = XCreateColormap (gdk_display, gdk_root_window,
                                            priv (visual)->xvisual, alloc);
    if (direct) {
        // Linear ramps, so that pixel fields mean what a TrueColor visual would make of them.
        const int n = visual->colormap_size;
        std::vector<XColor> cells (n);
        auto ramp = [] (int k, int prec) -> unsigned short {
            const int top = (1 << prec) - 1;
            return (unsigned short) (top > 0 ? std::min (k, top) * 65535 / top : 0);
        };
        for (int k = 0; k < n; ++k) {
            XColor &c = cells[k];
            c.pixel = (gulong (std::min (k, (1 << visual->red_prec) - 1)) << visual->red_shift)
                      | (gulong (std::min (k, (1 << visual->green_prec) - 1)) << visual->green_shift)
                      | (gulong (std::min (k, (1 << visual->blue_prec) - 1)) << visual->blue_shift);
            c.red = ramp (k, visual->red_prec);
            c.green = ramp (k, visual->green_prec);
            c.blue = ramp (k, visual->blue_prec);
            c.flags = DoRed | DoGreen | DoBlue;
        }
        XStoreColors (gdk_display, xcmap, cells.data (), n);
    }
    return gdkl::colormap_wrap (xcmap, visual, false, true);
}

extern "C" GdkColormap *gdk_colormap_ref (GdkColormap *cmap)
{
    GDKL_RETURN_VAL_IF_FAIL (cmap != nullptr, "cmap != NULL", nullptr);
    ++priv (cmap)->ref_count;
    return cmap;
}

extern "C" void gdk_colormap_unref (GdkColormap *cmap)
{
    GDKL_RETURN_IF_FAIL (cmap != nullptr, "cmap != NULL");
    gdkl::ColormapPrivate *p = priv (cmap);
    // The system colormap and colormaps met through gdkx_colormap_get live for the process.
    if (--p->ref_count > 0 || p->is_default || !p->owned) {
        if (p->ref_count < 1) p->ref_count = 1;
        return;
    }
    if (gdk_display) XFreeColormap (gdk_display, p->xcmap);
    g_free (cmap->colors);
    g_free (p);
}

extern "C" GdkVisual *gdk_colormap_get_visual (GdkColormap *colormap)
{
    GDKL_RETURN_VAL_IF_FAIL (colormap != nullptr, "colormap != NULL", nullptr);
    return priv (colormap)->visual;
}

extern "C" GdkColormap *gdkx_colormap_get (Colormap xcmap)
{
    GDKL_NEED_DISPLAY_VAL (nullptr);
    if (xcmap == DefaultColormap (gdk_display, gdk_screen)) return gdk_colormap_get_system ();
    auto it = known_colormaps.find (xcmap);
    if (it != known_colormaps.end ()) {
        gdkl::colormap_refresh (it->second);
        return it->second;
    }
    // X cannot tell a colormap's visual from the colormap alone, so a colormap this layer has
    // not met has no record.
    return nullptr;
}

extern "C" Colormap gdkx_colormap_xcolormap (GdkColormap *colormap)
{
    GDKL_RETURN_VAL_IF_FAIL (colormap != nullptr, "colormap != NULL", 0);
    return priv (colormap)->xcmap;
}
