/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Extensions of this layer that GDK 1.2 did not have, mainly for tests. */
#ifndef GDK_GDKLAYER_H
#define GDK_GDKLAYER_H

#include <gdk/gdk.h>

G_BEGIN_DECLS

/* Wraps caller memory (kept by the caller) as an image of any pixel format; needs no display.
 * 1-bit images use byte_order as their bit order too. NULL when the description is invalid. */
GdkImage *gdkl_image_wrap (GdkVisual *visual, GdkByteOrder byte_order, gint depth,
                           gint bits_per_pixel, gint width, gint height, gint bpl, gpointer mem);
/* Makes GdkRGB build its images in this byte order (Xlib converts them); before init only. */
void gdkl_rgb_set_image_byte_order (GdkByteOrder order);

G_END_DECLS

#endif /* GDK_GDKLAYER_H */
