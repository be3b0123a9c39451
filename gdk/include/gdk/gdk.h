/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* A small GDK 1.2 drawing layer over Xlib: the calls libtamba's rendering and capture use, plus
 * what a program needs to open the display and make windows and pixmaps. One display per
 * process. Critical messages use the log domain "Gdk". */
#ifndef GDK_GDK_H
#define GDK_GDK_H

#include <gdk/gdktypes.h>
#include <gdk/gdkrgb.h>

G_BEGIN_DECLS

/* Opens the display ($DISPLAY or --display NAME); FALSE without a message when it cannot.
 * Removes --display, --sync and --no-xshm from argv when given. */
gboolean gdk_init_check (gint *argc, gchar ***argv);
/* gdk_init_check, exiting with a message when there is no display. */
void gdk_init (gint *argc, gchar ***argv);
/* The name of the display that is or would be used (owned by Xlib). */
gchar *gdk_get_display (void);
/* Sends every request and waits until the server has processed them. */
void gdk_flush (void);
gint gdk_screen_width (void);
gint gdk_screen_height (void);
/* X errors between push and pop are recorded instead of ending the process; pop returns the
 * last error code seen (0 if none). Pop does not synchronise: call gdk_flush first. */
void gdk_error_trap_push (void);
gint gdk_error_trap_pop (void);
/* Allows or forbids MIT-SHM for GdkRGB's drawing (default TRUE; --no-xshm clears it). The layer
 * clears it itself when the server has no usable MIT-SHM. */
void gdk_set_use_xshm (gboolean use_xshm);
gboolean gdk_get_use_xshm (void);

/* Visuals and colormaps. */
GdkVisual *gdk_visual_get_system (void);
GdkColormap *gdk_colormap_get_system (void);
/* A new colormap for visual (private cells when private_cmap); the caller owns it. */
GdkColormap *gdk_colormap_new (GdkVisual *visual, gboolean private_cmap);
GdkColormap *gdk_colormap_ref (GdkColormap *cmap);
void gdk_colormap_unref (GdkColormap *cmap);
GdkVisual *gdk_colormap_get_visual (GdkColormap *colormap);

/* Windows, and queries common to every drawable. */
GdkWindow *gdk_window_new (GdkWindow *parent, GdkWindowAttr *attributes, gint attributes_mask);
void gdk_window_show (GdkWindow *window);
void gdk_window_hide (GdkWindow *window);
void gdk_window_destroy (GdkWindow *window);
GdkWindow *gdk_window_ref (GdkWindow *window);
void gdk_window_unref (GdkWindow *window);
GdkWindowType gdk_window_get_type (GdkWindow *window);
gboolean gdk_window_is_viewable (GdkWindow *window);
void gdk_window_get_size (GdkWindow *window, gint *width, gint *height);
gint gdk_window_get_origin (GdkWindow *window, gint *x, gint *y);
GdkVisual *gdk_window_get_visual (GdkWindow *window);
/* The window's colormap, no reference added; NULL for pixmaps. */
GdkColormap *gdk_window_get_colormap (GdkWindow *window);

/* Pixmaps (contents undefined until drawn) and bitmaps (depth 1). */
GdkPixmap *gdk_pixmap_new (GdkWindow *window, gint width, gint height, gint depth);
GdkPixmap *gdk_pixmap_ref (GdkPixmap *pixmap);
void gdk_pixmap_unref (GdkPixmap *pixmap);
GdkBitmap *gdk_bitmap_ref (GdkBitmap *bitmap);
void gdk_bitmap_unref (GdkBitmap *bitmap);

/* Graphics contexts. */
GdkGC *gdk_gc_new (GdkWindow *window);
GdkGC *gdk_gc_ref (GdkGC *gc);
void gdk_gc_unref (GdkGC *gc);
void gdk_gc_set_foreground (GdkGC *gc, GdkColor *color);
void gdk_gc_set_clip_mask (GdkGC *gc, GdkBitmap *mask);
void gdk_gc_set_clip_origin (GdkGC *gc, gint x, gint y);

/* Drawing; the GC's depth must match the drawable's. */
void gdk_draw_point (GdkDrawable *drawable, GdkGC *gc, gint x, gint y);
void gdk_draw_line (GdkDrawable *drawable, GdkGC *gc, gint x1, gint y1, gint x2, gint y2);
void gdk_draw_rectangle (GdkDrawable *drawable, GdkGC *gc, gint filled, gint x, gint y,
                         gint width, gint height);
void gdk_draw_image (GdkDrawable *drawable, GdkGC *gc, GdkImage *image, gint xsrc, gint ysrc,
                     gint xdest, gint ydest, gint width, gint height);

/* Client-side images. gdk_image_get returns the server's pixel format, except that 1-bit images
 * always come most significant bit first; NULL when the rectangle cannot be read. */
GdkImage *gdk_image_new (GdkImageType type, GdkVisual *visual, gint width, gint height);
GdkImage *gdk_image_get (GdkWindow *window, gint x, gint y, gint width, gint height);
guint32 gdk_image_get_pixel (GdkImage *image, gint x, gint y);
void gdk_image_put_pixel (GdkImage *image, gint x, gint y, guint32 pixel);
void gdk_image_destroy (GdkImage *image);

G_END_DECLS

#endif /* GDK_GDK_H */
