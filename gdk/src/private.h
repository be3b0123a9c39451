// SPDX-License-Identifier: LGPL-2.1-or-later
// The layer's private records and helpers. Each record starts with its public struct, so a
// public pointer is the private record.
#ifndef GDK_SRC_PRIVATE_H
#define GDK_SRC_PRIVATE_H

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <gdk/gdk.h>
#include <gdk/gdklayer.h>
#include <gdk/gdkx.h>

#include <vector>

#define GDK_LOG_DOMAIN "Gdk"

// A failed precondition: a critical message in the layer's domain naming the expression.
#define GDKL_RETURN_VAL_IF_FAIL(expr, text, val)                                               \
    do {                                                                                       \
        if (G_LIKELY (expr)) break;                                                            \
        gdkl::precondition_failed (__FILE__, __LINE__, __func__, text);                       \
        return (val);                                                                          \
    } while (0)

#define GDKL_RETURN_IF_FAIL(expr, text)                                                        \
    do {                                                                                       \
        if (G_LIKELY (expr)) break;                                                            \
        gdkl::precondition_failed (__FILE__, __LINE__, __func__, text);                       \
        return;                                                                                \
    } while (0)

// Calls that need the server refuse to run before the display is open.
#define GDKL_NEED_DISPLAY_VAL(val) GDKL_RETURN_VAL_IF_FAIL (gdk_display != nullptr, "gdk_display != NULL", val)
#define GDKL_NEED_DISPLAY() GDKL_RETURN_IF_FAIL (gdk_display != nullptr, "gdk_display != NULL")

namespace gdkl {

void precondition_failed (const char *file, int line, const char *func, const char *text);

struct VisualPrivate {
    GdkVisual visual;
    Visual *xvisual;
    VisualID xvisualid;
};

struct ColormapPrivate {
    GdkColormap colormap;
    Colormap xcmap;
    GdkVisual *visual;
    int ref_count;
    bool is_default;
    bool owned;  // freed with XFreeColormap at the last reference
};

struct DrawablePrivate {
    GdkWindow window;
    Drawable xid;
    GdkWindowType type;
    int width, height, depth;
    GdkVisual *visual;      // windows only
    GdkColormap *colormap;  // windows made here; holds a reference
    DrawablePrivate *parent;
    int ref_count;
    bool destroyed;
};

struct GCPrivate {
    GdkGC gc;
    GC xgc;
    int depth;
    int ref_count;
};

struct ImagePrivate {
    GdkImage image;
    XImage *ximage;
    bool owns_data;
};

inline VisualPrivate *priv (GdkVisual *v) { return reinterpret_cast<VisualPrivate *> (v); }
inline ColormapPrivate *priv (GdkColormap *c) { return reinterpret_cast<ColormapPrivate *> (c); }
inline DrawablePrivate *priv (GdkWindow *w) { return reinterpret_cast<DrawablePrivate *> (w); }
inline GCPrivate *priv (GdkGC *g) { return reinterpret_cast<GCPrivate *> (g); }
inline ImagePrivate *priv (GdkImage *i) { return reinterpret_cast<ImagePrivate *> (i); }

// Visuals (visual.cc).
void visuals_init ();
const std::vector<GdkVisual *> &all_visuals ();
GdkVisual *visual_from_xvisual (Visual *xvisual);
// Index of the lowest set bit and the run of set bits from there; 0 and 0 for a zero mask.
void decompose_mask (guint32 mask, gint *shift, gint *prec);

// Colormaps (colormap.cc).
GdkColormap *colormap_wrap (Colormap xcmap, GdkVisual *visual, bool is_default, bool owned);
void colormap_refresh (GdkColormap *cmap);

// Drawables (window.cc).
DrawablePrivate *drawable_new (Drawable xid, GdkWindowType type, int width, int height,
                               int depth);
void root_init ();
// The depths XListPixmapFormats lists, with their bits per pixel.
int pixmap_format_bpp (int depth);

// Shared memory for GdkRGB (shm.cc): a segment of at least size bytes that the server reads
// images from, or NULL when MIT-SHM is off or unusable; shm_put sends an image held in it.
guchar *shm_buffer (size_t size);
void shm_put (Drawable d, GC gc, XImage *image, int x, int y, unsigned width, unsigned height);

// Images (image.cc).
ImagePrivate *image_from_ximage (XImage *ximage, GdkVisual *visual);

}  // namespace gdkl

#endif  // GDK_SRC_PRIVATE_H
