// SPDX-License-Identifier: LGPL-2.1-or-later
// Image-level scaling and compositing: argument checks, then one call of the engine with the
// render rectangle in the scaled source's coordinates.
#include <cmath>
#include <cstdint>

#include "pixops/pixops-private.h"
#include "tamba-private.h"

namespace tamba::detail {

namespace {

// The rectangle's position in the scaled source's pixel grid.
struct RenderRect {
    int x0, y0, x1, y1;
};

// Offsets are rounded to whole pixels, halves up. Offsets so far away that the rectangle's
// coordinates in the scaled source do not fit in an int (or that are not numbers) are refused.
bool render_rect (int dest_x, int dest_y, int dest_width, int dest_height, double offset_x,
                  double offset_y, RenderRect *out)
{
    offset_x = std::floor (offset_x + 0.5);
    offset_y = std::floor (offset_y + 0.5);
    const double v[4] = {dest_x - offset_x, dest_y - offset_y,
                         double (dest_x) + dest_width - offset_x,
                         double (dest_y) + dest_height - offset_y};
    for (double c : v)
        if (!(c >= double (G_MININT) && c <= double (G_MAXINT))) return false;
    *out = {int (v[0]), int (v[1]), int (v[2]), int (v[3])};
    return true;
}

// The _simple forms ask the engine before they allocate, so a request it would refuse gives
// NULL rather than an image whose pixels were never written.
bool simple_request_ok (const char *function, PixopsOp op, const Tamba *src, int dest_width,
                        int dest_height, int interp_type, int overall_alpha, int check_size)
{
    PixopsPass pass{};
    pass.dest_channels = src->has_alpha ? 4 : 3;
    pass.dest_has_alpha = src->has_alpha != 0;
    pass.src_width = src->width;
    pass.src_height = src->height;
    pass.src_channels = src->n_channels;
    pass.src_has_alpha = src->has_alpha != 0;
    pass.scale_x = double (dest_width) / src->width;
    pass.scale_y = double (dest_height) / src->height;
    pass.check_size = check_size;
    return pixops_request_ok (function, op, pass, interp_type, overall_alpha);
}

guchar *rect_origin (Tamba *dest, int dest_x, int dest_y)
{
    return dest->pixels + std::ptrdiff_t (dest_y) * dest->rowstride +
           std::ptrdiff_t (dest_x) * dest->n_channels;
}

constexpr char kRenderRect[] = "the offsets place the rectangle within G_MININT..G_MAXINT";

}  // namespace

}  // namespace tamba::detail

using namespace tamba::detail;

// The rectangle checks shared by the three operations; `return` leaves the caller.
#define TAMBA_CHECK_RECT()                                                                      \
    TAMBA_RETURN_IF_FAIL (src != nullptr, "src != NULL");                                       \
    TAMBA_RETURN_IF_FAIL (dest != nullptr, "dest != NULL");                                     \
    TAMBA_RETURN_IF_FAIL (dest_x >= 0 && std::int64_t (dest_x) + dest_width <= dest->width,     \
                          "dest_x >= 0 && dest_x + dest_width <= dest->width");                 \
    TAMBA_RETURN_IF_FAIL (dest_y >= 0 && std::int64_t (dest_y) + dest_height <= dest->height,   \
                          "dest_y >= 0 && dest_y + dest_height <= dest->height")

// The rendered region of the scaled source that the rectangle covers, as r; refuses offsets
// that would place it outside the int range.
#define TAMBA_RENDER_RECT(r)                                                                    \
    RenderRect r;                                                                               \
    TAMBA_RETURN_IF_FAIL (                                                                      \
        render_rect (dest_x, dest_y, dest_width, dest_height, offset_x, offset_y, &r),          \
        kRenderRect)

extern "C" void tamba_scale (const Tamba *src, Tamba *dest, int dest_x, int dest_y, int dest_width,
                             int dest_height, double offset_x, double offset_y, double scale_x,
                             double scale_y, GdkInterpType interp_type)
{
    TAMBA_CHECK_RECT ();
    TAMBA_RENDER_RECT (r);
    pixops_scale (rect_origin (dest, dest_x, dest_y), r.x0, r.y0, r.x1, r.y1, dest->rowstride,
                  dest->n_channels, dest->has_alpha, src->pixels, src->width, src->height,
                  src->rowstride, src->n_channels, src->has_alpha, scale_x, scale_y,
                  PixopsInterpType (interp_type));
}

extern "C" void tamba_composite (const Tamba *src, Tamba *dest, int dest_x, int dest_y,
                                 int dest_width, int dest_height, double offset_x,
                                 double offset_y, double scale_x, double scale_y,
                                 GdkInterpType interp_type, int overall_alpha)
{
    TAMBA_CHECK_RECT ();
    TAMBA_RETURN_IF_FAIL (guint (overall_alpha) <= 255,
                          "overall_alpha >= 0 && overall_alpha <= 255");
    TAMBA_RENDER_RECT (r);
    pixops_composite (rect_origin (dest, dest_x, dest_y), r.x0, r.y0, r.x1, r.y1,
                      dest->rowstride, dest->n_channels, dest->has_alpha, src->pixels,
                      src->width, src->height, src->rowstride, src->n_channels, src->has_alpha,
                      scale_x, scale_y, PixopsInterpType (interp_type), overall_alpha);
}

extern "C" void tamba_composite_color (const Tamba *src, Tamba *dest, int dest_x, int dest_y,
                                       int dest_width, int dest_height, double offset_x,
                                       double offset_y, double scale_x, double scale_y,
                                       GdkInterpType interp_type, int overall_alpha, int check_x,
                                       int check_y, int check_size, guint32 color1,
                                       guint32 color2)
{
    TAMBA_CHECK_RECT ();
    TAMBA_RETURN_IF_FAIL (guint (overall_alpha) <= 255,
                          "overall_alpha >= 0 && overall_alpha <= 255");
    TAMBA_RENDER_RECT (r);
    pixops_composite_color (rect_origin (dest, dest_x, dest_y), r.x0, r.y0, r.x1, r.y1,
                            dest->rowstride, dest->n_channels, dest->has_alpha, src->pixels,
                            src->width, src->height, src->rowstride, src->n_channels,
                            src->has_alpha, scale_x, scale_y, PixopsInterpType (interp_type),
                            overall_alpha, check_x, check_y, check_size, color1, color2);
}

// The new destination, or NULL (dropping it) when the engine ran out of memory before writing it.
static Tamba *handed_out (Tamba *dest)
{
    if (!pixops_out_of_memory) return dest;
    tamba_unref (dest);
    return nullptr;
}

extern "C" Tamba *tamba_scale_simple (const Tamba *src, int dest_width, int dest_height,
                                      GdkInterpType interp_type)
{
    TAMBA_RETURN_VAL_IF_FAIL (src != nullptr, "src != NULL", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (dest_width > 0, "dest_width > 0", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (dest_height > 0, "dest_height > 0", nullptr);

    if (!simple_request_ok ("pixops_scale", PixopsOp::kScale, src, dest_width, dest_height,
                            interp_type, 255, 0))
        return nullptr;
    Tamba *dest = tamba_new (GDK_COLORSPACE_RGB, src->has_alpha, 8, dest_width, dest_height);
    if (!dest) return nullptr;
    pixops_out_of_memory = false;
    tamba_scale (src, dest, 0, 0, dest_width, dest_height, 0.0, 0.0,
                 double (dest_width) / src->width, double (dest_height) / src->height,
                 interp_type);
    return handed_out (dest);
}

extern "C" Tamba *tamba_composite_color_simple (const Tamba *src, int dest_width,
                                                int dest_height, GdkInterpType interp_type,
                                                int overall_alpha, int check_size,
                                                guint32 color1, guint32 color2)
{
    TAMBA_RETURN_VAL_IF_FAIL (src != nullptr, "src != NULL", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (dest_width > 0, "dest_width > 0", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (dest_height > 0, "dest_height > 0", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (guint (overall_alpha) <= 255,
                              "overall_alpha >= 0 && overall_alpha <= 255", nullptr);

    if (!simple_request_ok ("pixops_composite_color", PixopsOp::kCompositeColor, src, dest_width,
                            dest_height, interp_type, overall_alpha, check_size))
        return nullptr;
    Tamba *dest = tamba_new (GDK_COLORSPACE_RGB, src->has_alpha, 8, dest_width, dest_height);
    if (!dest) return nullptr;
    pixops_out_of_memory = false;
    tamba_composite_color (src, dest, 0, 0, dest_width, dest_height, 0.0, 0.0,
                           double (dest_width) / src->width, double (dest_height) / src->height,
                           interp_type, overall_alpha, 0, 0, check_size, color1, color2);
    return handed_out (dest);
}
