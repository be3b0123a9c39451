// SPDX-License-Identifier: LGPL-2.1-or-later
// How the viewer turns a canvas into what the window shows: images with alpha go over a
// checkerboard. Kept in one place so that other programs can reproduce a view exactly.
#ifndef TAMBA_VIEW_LOOK_H
#define TAMBA_VIEW_LOOK_H

#include <tamba/tamba.h>

namespace tamba::view {

inline constexpr int kCheckSize = 8;              // pixels per square
inline constexpr guint32 kCheckLight = 0x999999;  // the square at the top-left corner
inline constexpr guint32 kCheckDark = 0x666666;
inline constexpr GdkInterpType kInterp = GDK_INTERP_BILINEAR;

// A delay of 0 or less (a still frame, or a file that gives none) plays at this many
// hundredths of a second.
inline constexpr int kDefaultDelay = 10;

// A new RGB image of width x height showing canvas as the window does: scaled, and over the
// checkerboard when it has alpha. NULL when memory runs out.
inline Tamba *view_image (const Tamba *canvas, int width, int height)
{
    if (!canvas->has_alpha) return tamba_scale_simple (canvas, width, height, kInterp);
    Tamba *view = tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    if (view)
        tamba_composite_color (canvas, view, 0, 0, width, height, 0, 0,
                               double (width) / canvas->width, double (height) / canvas->height,
                               kInterp, 255, 0, 0, kCheckSize, kCheckLight, kCheckDark);
    return view;
}

}  // namespace tamba::view

#endif
