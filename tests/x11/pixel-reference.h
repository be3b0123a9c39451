// SPDX-License-Identifier: LGPL-2.1-or-later
// Reference helpers for what pixel values mean, written apart from the library's own code.
#ifndef TAMBA_TESTS_PIXEL_REFERENCE_H
#define TAMBA_TESTS_PIXEL_REFERENCE_H

#include <gdk/gdk.h>
#include <glib.h>

#include <algorithm>
#include <array>
#include <memory>
#include <random>

#include <tamba/tamba.h>

namespace tamba::test {

// A field of prec bits widened to 8 by repeating its bits downward (top 8 bits above 8).
inline guchar widen (guint32 field, int prec)
{
    if (prec <= 0) return 0;
    if (prec >= 8) return guchar (field >> (prec - 8));
    guint32 v = 0;
    int bits = 0;
    for (; bits < 8; bits += prec) v = (v << prec) | field;
    return guchar (v >> (bits - 8));
}

using Rgb = std::array<guchar, 3>;

// The 8-bit colour a pixel value stands for: true-colour fields widened by repeating their bits,
// DirectColor fields and palette values through the colormap's cells (the last cell for values
// beyond it, black for an empty colormap); a channel without a mask is 0.
inline Rgb colour_of_pixel (guint32 pixel, const GdkVisual *v, const GdkColormap *cmap)
{
    const guint32 masks[3] = {v->red_mask, v->green_mask, v->blue_mask};
    const int shifts[3] = {v->red_shift, v->green_shift, v->blue_shift};
    const int precs[3] = {v->red_prec, v->green_prec, v->blue_prec};
    const bool fields = v->type == GDK_VISUAL_TRUE_COLOR || v->type == GDK_VISUAL_DIRECT_COLOR;
    Rgb out;
    for (int c = 0; c < 3; ++c) {
        const guint32 field = (pixel & masks[c]) >> shifts[c];
        if (v->type == GDK_VISUAL_TRUE_COLOR || (fields && !masks[c])) {
            out[c] = widen (field, masks[c] ? precs[c] : 0);
        } else if (cmap->size == 0) {
            out[c] = 0;
        } else {
            const GdkColor &cell = cmap->colors[std::min<guint32> (fields ? field : pixel, guint32 (cmap->size - 1))];
            out[c] = guchar ((c == 0 ? cell.red : c == 1 ? cell.green : cell.blue) & 0xff);
        }
    }
    return out;
}

struct ImageDeleter {
    void operator() (Tamba *t) const { tamba_unref (t); }
};
// An image reference that is dropped at the end of its scope.
using Image = std::unique_ptr<Tamba, ImageDeleter>;

// An image of random samples, alpha and row padding included.
inline Image random_image (int width, int height, bool alpha, unsigned seed)
{
    Image img (tamba_new (GDK_COLORSPACE_RGB, alpha, 8, width, height));
    std::mt19937 rng (seed);
    for (int i = 0; i < height * img->rowstride; ++i) img->pixels[i] = guchar (rng ());
    return img;
}

inline const guchar *at (const Tamba *t, int x, int y) { return t->pixels + y * t->rowstride + x * t->n_channels; }

}  // namespace tamba::test

#endif
