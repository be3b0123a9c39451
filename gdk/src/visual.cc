// SPDX-License-Identifier: LGPL-2.1-or-later
// Visual records, built once from the default screen's visuals and kept for the process.
#include "private.h"

namespace {

// Never destroyed: the records live as long as the process, and stay reachable from here.
std::vector<GdkVisual *> &visuals = *new std::vector<GdkVisual *>;
GdkVisual *system_visual = nullptr;

GdkVisualType type_of_class (int c_class)
{
    switch (c_class) {
    case StaticGray: return GDK_VISUAL_STATIC_GRAY;
    case GrayScale: return GDK_VISUAL_GRAYSCALE;
    case StaticColor: return GDK_VISUAL_STATIC_COLOR;
    case PseudoColor: return GDK_VISUAL_PSEUDO_COLOR;
    case TrueColor: return GDK_VISUAL_TRUE_COLOR;
    default: return GDK_VISUAL_DIRECT_COLOR;
    }
}

}  // namespace

namespace gdkl {

void decompose_mask (guint32 mask, gint *shift, gint *prec)
{
    int s = 0, p = 0;
    if (mask) {
        while (!(mask & 1u)) { mask >>= 1; ++s; }
        while (mask & 1u) { mask >>= 1; ++p; }
    }
    *shift = s;
    *prec = p;
}

void visuals_init ()
{
    XVisualInfo tmpl{};
    tmpl.screen = gdk_screen;
    int n = 0;
    XVisualInfo *infos = XGetVisualInfo (gdk_display, VisualScreenMask, &tmpl, &n);
    Visual *default_xvisual = DefaultVisual (gdk_display, gdk_screen);
    for (int i = 0; i < n; ++i) {
        const XVisualInfo &info = infos[i];
        auto *p = g_new0 (VisualPrivate, 1);
        GdkVisual &v = p->visual;
        v.type = type_of_class (info.c_class);
        v.depth = info.depth;
        v.byte_order = ImageByteOrder (gdk_display) == MSBFirst ? GDK_MSB_FIRST : GDK_LSB_FIRST;
        v.colormap_size = info.colormap_size;
        v.bits_per_rgb = info.bits_per_rgb;
        // Masks only mean something for the decomposed classes.
        if (v.type == GDK_VISUAL_TRUE_COLOR || v.type == GDK_VISUAL_DIRECT_COLOR) {
            v.red_mask = guint32 (info.red_mask);
            v.green_mask = guint32 (info.green_mask);
            v.blue_mask = guint32 (info.blue_mask);
            decompose_mask (v.red_mask, &v.red_shift, &v.red_prec);
            decompose_mask (v.green_mask, &v.green_shift, &v.green_prec);
            decompose_mask (v.blue_mask, &v.blue_shift, &v.blue_prec);
        }
        p->xvisual = info.visual;
        p->xvisualid = info.visualid;
        visuals.push_back (&p->visual);
        if (info.visual == default_xvisual) system_visual = &p->visual;
    }
    if (infos) XFree (infos);
}

const std::vector<GdkVisual *> &all_visuals ()
{
    return visuals;
}

GdkVisual *visual_from_xvisual (Visual *xvisual)
{
    for (GdkVisual *v : visuals)
        if (priv (v)->xvisual == xvisual) return v;
    return xvisual ? gdkx_visual_get (XVisualIDFromVisual (xvisual)) : nullptr;
}

}  // namespace gdkl

using gdkl::priv;

extern "C" GdkVisual *gdk_visual_get_system (void)
{
    GDKL_NEED_DISPLAY_VAL (nullptr);
    return system_visual;
}

extern "C" GdkVisual *gdkx_visual_get (VisualID id)
{
    GDKL_NEED_DISPLAY_VAL (nullptr);
    for (GdkVisual *v : visuals)
        if (priv (v)->xvisualid == id) return v;
    return nullptr;
}

extern "C" Visual *gdkx_visual_xvisual (GdkVisual *visual)
{
    GDKL_RETURN_VAL_IF_FAIL (visual != nullptr, "visual != NULL", nullptr);
    return priv (visual)->xvisual;
}
