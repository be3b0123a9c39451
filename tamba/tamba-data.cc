// SPDX-License-Identifier: LGPL-2.1-or-later
// Wrapping caller memory as an image.
#include "tamba-private.h"

extern "C" Tamba *tamba_new_from_data (const guchar *data, GdkColorspace colorspace,
                                       gboolean has_alpha, int bits_per_sample, int width,
                                       int height, int rowstride, TambaDestroyNotify destroy_fn,
                                       gpointer destroy_fn_data)
{
    TAMBA_RETURN_VAL_IF_FAIL (data != nullptr, "data != NULL", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (colorspace == GDK_COLORSPACE_RGB,
                              "colorspace == GDK_COLORSPACE_RGB", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (bits_per_sample == 8, "bits_per_sample == 8", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (width > 0, "width > 0", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (height > 0, "height > 0", nullptr);

    auto *tamba = static_cast<Tamba *> (g_malloc0 (sizeof (Tamba)));
    tamba->ref_count = 1;
    tamba->colorspace = colorspace;
    tamba->has_alpha = has_alpha ? 1 : 0;
    tamba->n_channels = has_alpha ? 4 : 3;
    tamba->bits_per_sample = bits_per_sample;
    tamba->width = width;
    tamba->height = height;
    tamba->rowstride = rowstride;
    tamba->pixels = const_cast<guchar *> (data);
    tamba->destroy_fn = destroy_fn;
    tamba->destroy_fn_data = destroy_fn_data;
    return tamba;
}
