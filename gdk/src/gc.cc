// SPDX-License-Identifier: LGPL-2.1-or-later
// Graphics contexts and the drawing calls made through them. Drawing checks depths before
// sending, so a mismatch is a critical message instead of a fatal BadMatch.
#include "private.h"

using gdkl::DrawablePrivate;
using gdkl::GCPrivate;
using gdkl::priv;

namespace {

// Whether a drawing request may go out: a live drawable of the GC's depth.
bool can_draw (DrawablePrivate *d, GCPrivate *g, const char *func)
{
    if (d->destroyed) return false;
    if (d->depth != g->depth) {
        gdkl::precondition_failed (__FILE__, __LINE__, func, "drawable depth == gc depth");
        return false;
    }
    return true;
}

}  // namespace

extern "C" GdkGC *gdk_gc_new (GdkWindow *window)
{
    GDKL_NEED_DISPLAY_VAL (nullptr);
    GDKL_RETURN_VAL_IF_FAIL (window != nullptr, "window != NULL", nullptr);
    DrawablePrivate *d = priv (window);
    if (d->destroyed) return nullptr;
    XGCValues values{};
    values.function = GXcopy;
    values.fill_style = FillSolid;
    values.arc_mode = ArcPieSlice;
    values.subwindow_mode = ClipByChildren;
    values.graphics_exposures = True;
    auto *g = g_new0 (GCPrivate, 1);
    g->xgc = XCreateGC (gdk_display, d->xid,
                        GCFunction | GCFillStyle | GCArcMode | GCSubwindowMode
                            | GCGraphicsExposures,
                        &values);
    g->depth = d->depth;
    g->ref_count = 1;
    return &g->gc;
}

extern "C" GdkGC *gdk_gc_ref (GdkGC *gc)
{
    GDKL_RETURN_VAL_IF_FAIL (gc != nullptr, "gc != NULL", nullptr);
    ++priv (gc)->ref_count;
    return gc;
}

extern "C" void gdk_gc_unref (GdkGC *gc)
{
    GDKL_RETURN_IF_FAIL (gc != nullptr, "gc != NULL");
    GCPrivate *g = priv (gc);
    if (--g->ref_count > 0) return;
    if (gdk_display) XFreeGC (gdk_display, g->xgc);
    g_free (g);
}

extern "C" GC gdkx_gc_xgc (GdkGC *gc)
{
    GDKL_RETURN_VAL_IF_FAIL (gc != nullptr, "gc != NULL", nullptr);
    return priv (gc)->xgc;
}

extern "C" void gdk_gc_set_foreground (GdkGC *gc, GdkColor *color)
{
    GDKL_NEED_DISPLAY ();
    GDKL_RETURN_IF_FAIL (gc != nullptr, "gc != NULL");
    GDKL_RETURN_IF_FAIL (color != nullptr, "color != NULL");
    XSetForeground (gdk_display, priv (gc)->xgc, color->pixel);
}

extern "C" void gdk_gc_set_clip_mask (GdkGC *gc, GdkBitmap *mask)
{
    GDKL_NEED_DISPLAY ();
    GDKL_RETURN_IF_FAIL (gc != nullptr, "gc != NULL");
    if (mask) {
        DrawablePrivate *m = priv (mask);
        GDKL_RETURN_IF_FAIL (m->depth == 1, "mask depth == 1");
        if (m->destroyed) return;
        XSetClipMask (gdk_display, priv (gc)->xgc, m->xid);
    } else {
        XSetClipMask (gdk_display, priv (gc)->xgc, None);
    }
}

extern "C" void gdk_gc_set_clip_origin (GdkGC *gc, gint x, gint y)
{
    GDKL_NEED_DISPLAY ();
    GDKL_RETURN_IF_FAIL (gc != nullptr, "gc != NULL");
    XSetClipOrigin (gdk_display, priv (gc)->xgc, x, y);
}

extern "C" void gdk_draw_point (GdkDrawable *drawable, GdkGC *gc, gint x, gint y)
{
    GDKL_NEED_DISPLAY ();
    GDKL_RETURN_IF_FAIL (drawable != nullptr, "drawable != NULL");
    GDKL_RETURN_IF_FAIL (gc != nullptr, "gc != NULL");
    if (!can_draw (priv (drawable), priv (gc), __func__)) return;
    XDrawPoint (gdk_display, priv (drawable)->xid, priv (gc)->xgc, x, y);
}

extern "C" void gdk_draw_line (GdkDrawable *drawable, GdkGC *gc, gint x1, gint y1, gint x2,
                               gint y2)
{
    GDKL_NEED_DISPLAY ();
    GDKL_RETURN_IF_FAIL (drawable != nullptr, "drawable != NULL");
    GDKL_RETURN_IF_FAIL (gc != nullptr, "gc != NULL");
    if (!can_draw (priv (drawable), priv (gc), __func__)) return;
    XDrawLine (gdk_display, priv (drawable)->xid, priv (gc)->xgc, x1, y1, x2, y2);
}

extern "C" void gdk_draw_rectangle (GdkDrawable *drawable, GdkGC *gc, gint filled, gint x, gint y,
                                    gint width, gint height)
{
    GDKL_NEED_DISPLAY ();
    GDKL_RETURN_IF_FAIL (drawable != nullptr, "drawable != NULL");
    GDKL_RETURN_IF_FAIL (gc != nullptr, "gc != NULL");
    DrawablePrivate *d = priv (drawable);
    if (!can_draw (d, priv (gc), __func__)) return;
    if (width == -1 || height == -1) {
        gint w, h;
        gdk_window_get_size (drawable, &w, &h);
        if (width == -1) width = w;
        if (height == -1) height = h;
    }
    if (width < 1 || height < 1) return;
    if (filled)
        XFillRectangle (gdk_display, d->xid, priv (gc)->xgc, x, y, unsigned (width),
                        unsigned (height));
    else
        XDrawRectangle (gdk_display, d->xid, priv (gc)->xgc, x, y, unsigned (width),
                        unsigned (height));
}

extern "C" void gdk_draw_image (GdkDrawable *drawable, GdkGC *gc, GdkImage *image, gint xsrc,
                                gint ysrc, gint xdest, gint ydest, gint width, gint height)
{
    GDKL_NEED_DISPLAY ();
    GDKL_RETURN_IF_FAIL (drawable != nullptr, "drawable != NULL");
    GDKL_RETURN_IF_FAIL (gc != nullptr, "gc != NULL");
    GDKL_RETURN_IF_FAIL (image != nullptr, "image != NULL");
    DrawablePrivate *d = priv (drawable);
    if (!can_draw (d, priv (gc), __func__)) return;
    GDKL_RETURN_IF_FAIL (image->depth == d->depth, "image depth == drawable depth");
    if (width < 1 || height < 1) return;
    XPutImage (gdk_display, d->xid, priv (gc)->xgc, priv (image)->ximage, xsrc, ysrc, xdest,
               ydest, unsigned (width), unsigned (height));
}
