// SPDX-License-Identifier: LGPL-2.1-or-later
// Capture's pixel-format conversion, visible to the library's own tests.
#ifndef TAMBA_TAMBA_DRAWABLE_H
#define TAMBA_TAMBA_DRAWABLE_H

#include <gdk/gdk.h>

namespace tamba::detail {

// A conversion routine: the fetched image's pixels into RGB (or RGBA with alpha 255) rows.
using ConvertFunc = void (*) (GdkImage *image, guchar *pixels, int rowstride,
                              GdkColormap *colormap);

// The index into convert_map for this image and visual, or -1 for the generic conversion.
int convert_index (const GdkImage *image, const GdkVisual *visual, bool alpha);

// Converts image into pixels with the pixel format judged by visual; cmap supplies palette
// colours (palette and DirectColor visuals).
void convert_with_visual (GdkImage *image, guchar *pixels, int rowstride, bool alpha,
                          GdkColormap *cmap, const GdkVisual *visual);

}  // namespace tamba::detail

#endif  // TAMBA_TAMBA_DRAWABLE_H
