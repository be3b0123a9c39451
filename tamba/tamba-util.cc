// SPDX-License-Identifier: LGPL-2.1-or-later
// Pixel utilities: adding an alpha channel and copying a rectangle between images.
#include <cstdint>

#include "tamba-private.h"

extern "C" Tamba *tamba_add_alpha (const Tamba *tamba, gboolean substitute_color, guchar r,
                                   guchar g, guchar b)
{
    TAMBA_RETURN_VAL_IF_FAIL (tamba != nullptr, "tamba != NULL", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (tamba->colorspace == GDK_COLORSPACE_RGB,
                              "tamba->colorspace == GDK_COLORSPACE_RGB", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (tamba->n_channels == 3 || tamba->n_channels == 4,
                              "tamba->n_channels == 3 || tamba->n_channels == 4", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (tamba->bits_per_sample == 8, "tamba->bits_per_sample == 8",
                              nullptr);

    if (tamba->has_alpha) return tamba_copy (tamba);

    Tamba *out = tamba_new (GDK_COLORSPACE_RGB, TRUE, 8, tamba->width, tamba->height);
    if (!out) return nullptr;
    for (int y = 0; y < tamba->height; y++) {
        const guchar *s = tamba->pixels + std::ptrdiff_t (y) * tamba->rowstride;
        guchar *d = out->pixels + std::ptrdiff_t (y) * out->rowstride;
        for (int x = 0; x < tamba->width; x++, s += 3, d += 4) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            d[3] = substitute_color && s[0] == r && s[1] == g && s[2] == b ? 0 : 255;
        }
    }
    return out;
}

extern "C" void tamba_copy_area (const Tamba *src_tamba, int src_x, int src_y, int width,
                                 int height, Tamba *dest_tamba, int dest_x, int dest_y)
{
    TAMBA_RETURN_IF_FAIL (src_tamba != nullptr, "src_tamba != NULL");
    TAMBA_RETURN_IF_FAIL (dest_tamba != nullptr, "dest_tamba != NULL");
    // The sums are formed in 64 bits so that a huge width cannot wrap past the check.
    TAMBA_RETURN_IF_FAIL (src_x >= 0 && std::int64_t (src_x) + width <= src_tamba->width,
                          "src_x >= 0 && src_x + width <= src_tamba->width");
    TAMBA_RETURN_IF_FAIL (src_y >= 0 && std::int64_t (src_y) + height <= src_tamba->height,
                          "src_y >= 0 && src_y + height <= src_tamba->height");
    TAMBA_RETURN_IF_FAIL (dest_x >= 0 && std::int64_t (dest_x) + width <= dest_tamba->width,
                          "dest_x >= 0 && dest_x + width <= dest_tamba->width");
    TAMBA_RETURN_IF_FAIL (dest_y >= 0 && std::int64_t (dest_y) + height <= dest_tamba->height,
                          "dest_y >= 0 && dest_y + height <= dest_tamba->height");

    tamba_scale (src_tamba, dest_tamba, dest_x, dest_y, width, height, double (dest_x - src_x),
                 double (dest_y - src_y), 1.0, 1.0, GDK_INTERP_NEAREST);
}
