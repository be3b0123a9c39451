// SPDX-License-Identifier: LGPL-2.1-or-later
// Windows, pixmaps and bitmaps: one record type for every drawable. Questions about a window's
// state go to the server, since this layer has no event loop to keep client-side flags current.
#include "private.h"

#include <algorithm>

namespace {

gdkl::DrawablePrivate *root = nullptr;
// Live window records, for destroying subtrees; never destroyed, as records may outlive exit.
std::vector<gdkl::DrawablePrivate *> &windows = *new std::vector<gdkl::DrawablePrivate *>;

bool is_window (const gdkl::DrawablePrivate *d)
{
    return d->type != GDK_WINDOW_PIXMAP && d->type != GDK_WINDOW_ROOT;
}

void mark_destroyed (gdkl::DrawablePrivate *d)
{
    d->destroyed = true;
    for (gdkl::DrawablePrivate *w : windows)
        if (w->parent == d && !w->destroyed) mark_destroyed (w);
}

void free_record (gdkl::DrawablePrivate *d)
{
    if (d->type == GDK_WINDOW_PIXMAP) {
        if (gdk_display) XFreePixmap (gdk_display, d->xid);
    } else {
        if (!d->destroyed) {
            g_log (GDK_LOG_DOMAIN, G_LOG_LEVEL_WARNING,
                   "losing last reference to undestroyed window");
            if (gdk_display) XDestroyWindow (gdk_display, d->xid);
            mark_destroyed (d);
        }
        windows.erase (std::remove (windows.begin (), windows.end (), d), windows.end ());
    }
    if (d->colormap) gdk_colormap_unref (d->colormap);
    g_free (d);
}

}  // namespace

namespace gdkl {

DrawablePrivate *drawable_new (Drawable xid, GdkWindowType type, int width, int height, int depth)
{
    auto *d = g_new0 (DrawablePrivate, 1);
    d->xid = xid;
    d->type = type;
    d->width = width;
    d->height = height;
    d->depth = depth;
    d->ref_count = 1;
    return d;
}

void root_init ()
{
    root = drawable_new (gdk_root_window, GDK_WINDOW_ROOT, DisplayWidth (gdk_display, gdk_screen),
                         DisplayHeight (gdk_display, gdk_screen),
                         DefaultDepth (gdk_display, gdk_screen));
    root->visual = gdk_visual_get_system ();
}

int pixmap_format_bpp (int depth)
{
    if (depth == 1) return 1;
    int n = 0, bpp = 0;
    XPixmapFormatValues *formats = XListPixmapFormats (gdk_display, &n);
    for (int i = 0; i < n; ++i)
        if (formats[i].depth == depth) bpp = formats[i].bits_per_pixel;
    if (formats) XFree (formats);
    return bpp;
}

}  // namespace gdkl

using gdkl::DrawablePrivate;
using gdkl::priv;

extern "C" GdkWindow *gdkx_root_parent (void)
{
    GDKL_NEED_DISPLAY_VAL (nullptr);
    return &root->window;
}

extern "C" XID gdkx_drawable_xid (GdkDrawable *drawable)
{
    GDKL_RETURN_VAL_IF_FAIL (drawable != nullptr, "drawable != NULL", 0);
    return priv (drawable)->xid;
}

extern "C" GdkWindow *gdk_window_new (GdkWindow *parent, GdkWindowAttr *attr, gint mask)
{
    GDKL_NEED_DISPLAY_VAL (nullptr);
    GDKL_RETURN_VAL_IF_FAIL (attr != nullptr, "attributes != NULL", nullptr);
    GDKL_RETURN_VAL_IF_FAIL (attr->window_type != GDK_WINDOW_ROOT
                                 && attr->window_type != GDK_WINDOW_PIXMAP,
                             "window_type != GDK_WINDOW_ROOT && window_type != GDK_WINDOW_PIXMAP",
                             nullptr);
    DrawablePrivate *par = attr->window_type == GDK_WINDOW_CHILD && parent ? priv (parent) : root;
    if (par->destroyed) return nullptr;

    const int x = (mask & GDK_WA_X) ? attr->x : 0, y = (mask & GDK_WA_Y) ? attr->y : 0;
    const int w = std::max<int> (attr->width, 1), h = std::max<int> (attr->height, 1);
    GdkVisual *visual = (mask & GDK_WA_VISUAL) && attr->visual ? attr->visual
                                                               : gdk_visual_get_system ();
    DrawablePrivate *d;
    if (attr->wclass == GDK_INPUT_ONLY) {
        XSetWindowAttributes xattr{};
        const Window xid = XCreateWindow (gdk_display, par->xid, x, y, unsigned (w), unsigned (h),
                                          0, 0, InputOnly, CopyFromParent, 0, &xattr);
        d = gdkl::drawable_new (xid, attr->window_type, w, h, 0);
    } else {
        GdkColormap *cmap;
        if ((mask & GDK_WA_COLORMAP) && attr->colormap)
            cmap = gdk_colormap_ref (attr->colormap);
        else if (visual == gdk_visual_get_system ())
            cmap = gdk_colormap_ref (gdk_colormap_get_system ());
        else
            cmap = gdk_colormap_new (visual, FALSE);
        XSetWindowAttributes xattr{};
        xattr.background_pixel = BlackPixel (gdk_display, gdk_screen);
        xattr.border_pixel = BlackPixel (gdk_display, gdk_screen);
        xattr.colormap = priv (cmap)->xcmap;
        unsigned long value_mask = CWBackPixel | CWBorderPixel | CWColormap;
        if (attr->window_type == GDK_WINDOW_TEMP || (mask & GDK_WA_NOREDIR)) {
            xattr.override_redirect = True;
            value_mask |= CWOverrideRedirect;
        }
        const Window xid = XCreateWindow (gdk_display, par->xid, x, y, unsigned (w), unsigned (h),
                                          0, visual->depth, InputOutput,
                                          priv (visual)->xvisual, value_mask, &xattr);
        d = gdkl::drawable_new (xid, attr->window_type, w, h, visual->depth);
        d->visual = visual;
        d->colormap = cmap;
    }
    d->parent = par;
    if ((mask & GDK_WA_TITLE) && attr->title) XStoreName (gdk_display, d->xid, attr->title);
    windows.push_back (d);
    return &d->window;
}

extern "C" void gdk_window_show (GdkWindow *window)
{
    GDKL_NEED_DISPLAY ();
    GDKL_RETURN_IF_FAIL (window != nullptr, "window != NULL");
    DrawablePrivate *d = priv (window);
    if (!d->destroyed && is_window (d)) XMapRaised (gdk_display, d->xid);
}

extern "C" void gdk_window_hide (GdkWindow *window)
{
    GDKL_NEED_DISPLAY ();
    GDKL_RETURN_IF_FAIL (window != nullptr, "window != NULL");
    DrawablePrivate *d = priv (window);
    if (!d->destroyed && is_window (d)) XUnmapWindow (gdk_display, d->xid);
}

extern "C" void gdk_window_destroy (GdkWindow *window)
{
    GDKL_NEED_DISPLAY ();
    GDKL_RETURN_IF_FAIL (window != nullptr, "window != NULL");
    DrawablePrivate *d = priv (window);
    GDKL_RETURN_IF_FAIL (d->type != GDK_WINDOW_ROOT, "window type != GDK_WINDOW_ROOT");
    if (!d->destroyed) {
        if (d->type == GDK_WINDOW_PIXMAP)
            d->destroyed = true;  // the server pixmap goes with the last reference
        else {
            XDestroyWindow (gdk_display, d->xid);
            mark_destroyed (d);
        }
    }
    gdk_window_unref (window);
}

extern "C" GdkWindow *gdk_window_ref (GdkWindow *window)
{
    GDKL_RETURN_VAL_IF_FAIL (window != nullptr, "window != NULL", nullptr);
    ++priv (window)->ref_count;
    return window;
}

extern "C" void gdk_window_unref (GdkWindow *window)
{
    GDKL_RETURN_IF_FAIL (window != nullptr, "window != NULL");
    DrawablePrivate *d = priv (window);
    if (d->type == GDK_WINDOW_ROOT) return;  // the root record lives for the process
    if (--d->ref_count == 0) free_record (d);
}

extern "C" GdkWindowType gdk_window_get_type (GdkWindow *window)
{
    GDKL_RETURN_VAL_IF_FAIL (window != nullptr, "window != NULL", GdkWindowType (-1));
    return priv (window)->type;
}

extern "C" gboolean gdk_window_is_viewable (GdkWindow *window)
{
    GDKL_NEED_DISPLAY_VAL (FALSE);
    GDKL_RETURN_VAL_IF_FAIL (window != nullptr, "window != NULL", FALSE);
    DrawablePrivate *d = priv (window);
    if (d->type == GDK_WINDOW_ROOT) return TRUE;
    if (d->type == GDK_WINDOW_PIXMAP || d->destroyed) return FALSE;
    XWindowAttributes xattr;
    if (!XGetWindowAttributes (gdk_display, d->xid, &xattr)) return FALSE;
    return xattr.map_state == IsViewable;
}

extern "C" void gdk_window_get_size (GdkWindow *window, gint *width, gint *height)
{
    GDKL_NEED_DISPLAY ();
    GDKL_RETURN_IF_FAIL (window != nullptr, "window != NULL");
    DrawablePrivate *d = priv (window);
    if (d->type != GDK_WINDOW_PIXMAP && d->type != GDK_WINDOW_ROOT && !d->destroyed) {
        Window r;
        int x, y;
        unsigned w, h, border, depth;
        if (XGetGeometry (gdk_display, d->xid, &r, &x, &y, &w, &h, &border, &depth)) {
            d->width = int (w);
            d->height = int (h);
        }
    }
    if (width) *width = d->width;
    if (height) *height = d->height;
}

extern "C" gint gdk_window_get_origin (GdkWindow *window, gint *x, gint *y)
{
    GDKL_NEED_DISPLAY_VAL (0);
    GDKL_RETURN_VAL_IF_FAIL (window != nullptr, "window != NULL", 0);
    DrawablePrivate *d = priv (window);
    int tx = 0, ty = 0, ok = 0;
    if (d->type != GDK_WINDOW_PIXMAP && !d->destroyed) {
        Window child;
        ok = XTranslateCoordinates (gdk_display, d->xid, gdk_root_window, 0, 0, &tx, &ty, &child);
        if (!ok) tx = ty = 0;
    }
    if (x) *x = tx;
    if (y) *y = ty;
    return ok;
}

extern "C" GdkVisual *gdk_window_get_visual (GdkWindow *window)
{
    GDKL_NEED_DISPLAY_VAL (nullptr);
    GDKL_RETURN_VAL_IF_FAIL (window != nullptr, "window != NULL", nullptr);
    DrawablePrivate *d = priv (window);
    if (d->type == GDK_WINDOW_PIXMAP || d->destroyed) return nullptr;
    return d->visual;
}

extern "C" GdkColormap *gdk_window_get_colormap (GdkWindow *window)
{
    GDKL_NEED_DISPLAY_VAL (nullptr);
    GDKL_RETURN_VAL_IF_FAIL (window != nullptr, "window != NULL", nullptr);
    DrawablePrivate *d = priv (window);
    GDKL_RETURN_VAL_IF_FAIL (d->type != GDK_WINDOW_PIXMAP, "window type != GDK_WINDOW_PIXMAP",
                             nullptr);
    if (d->destroyed) return nullptr;
    if (d->type == GDK_WINDOW_ROOT) return gdk_colormap_get_system ();
    if (d->colormap) gdkl::colormap_refresh (d->colormap);
    return d->colormap;
}

extern "C" GdkPixmap *gdk_pixmap_new (GdkWindow *window, gint width, gint height, gint depth)
{
    GDKL_NEED_DISPLAY_VAL (nullptr);
    GDKL_RETURN_VAL_IF_FAIL (window != nullptr || depth != -1, "(window != NULL) || (depth != -1)",
                             nullptr);
    GDKL_RETURN_VAL_IF_FAIL (width > 0 && height > 0, "width > 0 && height > 0", nullptr);
    DrawablePrivate *parent = window ? priv (window) : root;
    if (parent->destroyed) return nullptr;
    if (depth == -1) depth = parent->depth;
    GDKL_RETURN_VAL_IF_FAIL (gdkl::pixmap_format_bpp (depth) > 0, "depth is supported", nullptr);
    const Pixmap xid = XCreatePixmap (gdk_display, parent->xid, unsigned (width),
                                      unsigned (height), unsigned (depth));
    return &gdkl::drawable_new (xid, GDK_WINDOW_PIXMAP, width, height, depth)->window;
}

extern "C" GdkPixmap *gdk_pixmap_ref (GdkPixmap *pixmap)
{
    return gdk_window_ref (pixmap);
}

extern "C" void gdk_pixmap_unref (GdkPixmap *pixmap)
{
    gdk_window_unref (pixmap);
}

extern "C" GdkBitmap *gdk_bitmap_ref (GdkBitmap *bitmap)
{
    return gdk_window_ref (bitmap);
}

extern "C" void gdk_bitmap_unref (GdkBitmap *bitmap)
{
    gdk_window_unref (bitmap);
}
