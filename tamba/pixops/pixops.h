// The pixel-operations engine: resampling one raw pixel buffer into a rectangle of another.
//
// The three entry points know nothing of the image record; the caller passes pointers, sizes,
// strides and channel layouts. Accepted layouts: 3 channels without alpha, 4 with alpha, and
// 4 without alpha (a fourth byte that is not alpha).
//
// Limits of this engine (refused with a logged precondition, nothing written):
//  - channel counts other than 3 and 4, and a source without pixels;
//  - interp_type outside PIXOPS_INTERP_NEAREST..PIXOPS_INTERP_HYPER;
//  - scale factors that are negative, NaN or infinite, or whose step 65536 / scale is below 1 or
//    above G_MAXINT (a zero factor is a silent no-op);
//  - a check_size of 0 on the checkerboard operation, unless the call is handed to scaling.
// Source positions are kept in 64 bits, so images up to 2^30 pixels a side are handled.
// Filter tables are capped at kPixopsMaxFilterBytes (64 MiB); a reduction so strong that its
// table would be larger first averages the source by an integer box factor per axis and then
// filters the averaged source, so only such extreme reductions differ from one single pass.
#ifndef TAMBA_PIXOPS_PIXOPS_H
#define TAMBA_PIXOPS_PIXOPS_H

#include "tamba/tamba.h"

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

#endif /* TAMBA_PIXOPS_PIXOPS_H */
