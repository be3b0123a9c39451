/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* GdkRGB: drawing packed 8-bit RGB samples in any visual's pixel format, with dithering. */
#ifndef GDK_GDKRGB_H
#define GDK_GDKRGB_H

#include <gdk/gdktypes.h>

G_BEGIN_DECLS

typedef enum {
  GDK_RGB_DITHER_NONE = 0,
  GDK_RGB_DITHER_NORMAL = 1,
  GDK_RGB_DITHER_MAX = 2
} GdkRgbDither;

/* Chooses the visual and colormap; every GdkRGB call does this on first use. */
void gdk_rgb_init (void);
/* The visual GdkRGB renders for, and its colormap (refreshed from the server). */
GdkVisual *gdk_rgb_get_visual (void);
GdkColormap *gdk_rgb_get_cmap (void);
/* The undithered pixel value of 0xRRGGBB. */
gulong gdk_rgb_xpixel_from_rgb (guint32 rgb);
/* TRUE when GDK_RGB_DITHER_MAX dithers the chosen format. */
gboolean gdk_rgb_ditherable (void);
/* Effective only before initialisation: always use a new colormap; the smallest colour cube. */
void gdk_rgb_set_install (gboolean install);
void gdk_rgb_set_min_colors (gint min_colors);

/* Draws width x height pixels of rgb_buf (rows rowstride bytes apart) at (x, y) through gc. */
void gdk_draw_rgb_image (GdkDrawable *drawable, GdkGC *gc, gint x, gint y, gint width,
                         gint height, GdkRgbDither dith, guchar *rgb_buf, gint rowstride);
/* The same with the dither pattern shifted by (xdith, ydith) from the drawable's origin. */
void gdk_draw_rgb_image_dithalign (GdkDrawable *drawable, GdkGC *gc, gint x, gint y,
                                   gint width, gint height, GdkRgbDither dith, guchar *rgb_buf,
                                   gint rowstride, gint xdith, gint ydith);

G_END_DECLS

#endif /* GDK_GDKRGB_H */
