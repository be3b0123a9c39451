/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Xlib access to the layer's objects. */
#ifndef GDK_GDKX_H
#define GDK_GDKX_H

#include <X11/Xlib.h>
#include <gdk/gdk.h>

G_BEGIN_DECLS

extern Display *gdk_display; /* NULL before gdk_init_check succeeds */
extern gint gdk_screen;
extern Window gdk_root_window;

GdkWindow *gdkx_root_parent (void);
XID gdkx_drawable_xid (GdkDrawable *drawable);
GC gdkx_gc_xgc (GdkGC *gc);
XImage *gdkx_image_ximage (GdkImage *image);
Visual *gdkx_visual_xvisual (GdkVisual *visual);
Colormap gdkx_colormap_xcolormap (GdkColormap *colormap);

#define GDK_DISPLAY() gdk_display
#define GDK_ROOT_WINDOW() gdk_root_window
#define GDK_ROOT_PARENT() gdkx_root_parent ()
#define GDK_WINDOW_XWINDOW(win) gdkx_drawable_xid (win)
#define GDK_PIXMAP_XID(pix) GDK_WINDOW_XWINDOW (pix)
#define GDK_GC_XGC(gc) gdkx_gc_xgc (gc)
#define GDK_IMAGE_XIMAGE(img) gdkx_image_ximage (img)
#define GDK_VISUAL_XVISUAL(vis) gdkx_visual_xvisual (vis)
#define GDK_COLORMAP_XCOLORMAP(cm) gdkx_colormap_xcolormap (cm)

/* The record of a visual of the default screen, or NULL. */
GdkVisual *gdkx_visual_get (VisualID xvisualid);
/* The record of an X colormap, made on first sight and kept for the process. */
GdkColormap *gdkx_colormap_get (Colormap xcolormap);

G_END_DECLS

#endif /* GDK_GDKX_H */
