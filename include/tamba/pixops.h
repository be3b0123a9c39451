/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* tamba: the pixel-operations engine's entry points, for resampling raw pixel buffers.
 *
 * The three functions know nothing of the image record; the caller passes pointers, sizes,
 * strides and channel layouts. Accepted layouts: 3 channels without alpha, 4 with alpha, and
 * 4 without alpha (a fourth byte that is not alpha). Invalid arguments (other channel counts,
 * an unknown interp_type, scale factors that are not positive and finite, a check_size of 0)
 * are refused with a logged precondition and nothing is written; a zero factor writes nothing.
 */
#ifndef TAMBA_PIXOPS_H
#define TAMBA_PIXOPS_H

#include <tamba/tamba.h>

G_BEGIN_DECLS

typedef enum {
  PIXOPS_INTERP_NEAREST = 0,
  PIXOPS_INTERP_TILES = 1,
  PIXOPS_INTERP_BILINEAR = 2,
  PIXOPS_INTERP_HYPER = 3
} PixopsInterpType;

/* Resamples the source into the render rectangle [render_x0, render_x1) x [render_y0, render_y1)
 * of the source scaled by (scale_x, scale_y), replacing the destination pixels; dest_buf is the
 * pixel receiving (render_x0, render_y0). A source with alpha needs a destination with alpha. */
TAMBA_API void pixops_scale (guchar *dest_buf, int render_x0, int render_y0, int render_x1,
                             int render_y1, int dest_rowstride, int dest_channels,
                             gboolean dest_has_alpha, const guchar *src_buf, int src_width,
                             int src_height, int src_rowstride, int src_channels,
                             gboolean src_has_alpha, double scale_x, double scale_y,
                             PixopsInterpType interp_type);

/* As pixops_scale, but blends the resampled source, at opacity overall_alpha (0..255), over the
 * destination's pixels. */
TAMBA_API void pixops_composite (guchar *dest_buf, int render_x0, int render_y0, int render_x1,
                                 int render_y1, int dest_rowstride, int dest_channels,
                                 gboolean dest_has_alpha, const guchar *src_buf, int src_width,
                                 int src_height, int src_rowstride, int src_channels,
                                 gboolean src_has_alpha, double scale_x, double scale_y,
                                 PixopsInterpType interp_type, int overall_alpha);

/* As pixops_composite, but over a checkerboard of color1/color2 (0xRRGGBB) squares whose size is
 * the largest power of two dividing check_size; (check_x, check_y) are the checkerboard
 * coordinates of the rectangle's top-left pixel. */
TAMBA_API void pixops_composite_color (guchar *dest_buf, int render_x0, int render_y0,
                                       int render_x1, int render_y1, int dest_rowstride,
                                       int dest_channels, gboolean dest_has_alpha,
                                       const guchar *src_buf, int src_width, int src_height,
                                       int src_rowstride, int src_channels,
                                       gboolean src_has_alpha, double scale_x, double scale_y,
                                       PixopsInterpType interp_type, int overall_alpha,
                                       int check_x, int check_y, int check_size, guint32 color1,
                                       guint32 color2);

G_END_DECLS

#endif /* TAMBA_PIXOPS_H */
