/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Records and enumerations of the GDK 1.2 drawing layer (the subset libtamba uses). */
#ifndef GDK_GDKTYPES_H
#define GDK_GDKTYPES_H

#include <glib.h>

G_BEGIN_DECLS

typedef struct _GdkColor GdkColor;
typedef struct _GdkColormap GdkColormap;
typedef struct _GdkVisual GdkVisual;
typedef struct _GdkWindowAttr GdkWindowAttr;
typedef struct _GdkWindow GdkWindow;
/* One record type serves every drawable. */
typedef struct _GdkWindow GdkPixmap;
typedef struct _GdkWindow GdkBitmap;
typedef struct _GdkWindow GdkDrawable;
typedef struct _GdkImage GdkImage;
typedef struct _GdkGC GdkGC;

typedef enum { GDK_LSB_FIRST = 0, GDK_MSB_FIRST = 1 } GdkByteOrder;

typedef enum {
  GDK_VISUAL_STATIC_GRAY = 0,
  GDK_VISUAL_GRAYSCALE = 1,
  GDK_VISUAL_STATIC_COLOR = 2,
  GDK_VISUAL_PSEUDO_COLOR = 3,
  GDK_VISUAL_TRUE_COLOR = 4,
  GDK_VISUAL_DIRECT_COLOR = 5
} GdkVisualType;

typedef enum {
  GDK_WINDOW_ROOT = 0,
  GDK_WINDOW_TOPLEVEL = 1,
  GDK_WINDOW_CHILD = 2,
  GDK_WINDOW_DIALOG = 3,
  GDK_WINDOW_TEMP = 4,
  GDK_WINDOW_PIXMAP = 5,
  GDK_WINDOW_FOREIGN = 6
} GdkWindowType;

typedef enum { GDK_INPUT_OUTPUT = 0, GDK_INPUT_ONLY = 1 } GdkWindowClass;

typedef enum { GDK_IMAGE_NORMAL = 0, GDK_IMAGE_SHARED = 1, GDK_IMAGE_FASTEST = 2 } GdkImageType;

/* Only these attribute flags are honoured. */
typedef enum {
  GDK_WA_TITLE = 1 << 1,
  GDK_WA_X = 1 << 2,
  GDK_WA_Y = 1 << 3,
  GDK_WA_COLORMAP = 1 << 5,
  GDK_WA_VISUAL = 1 << 6,
  GDK_WA_NOREDIR = 1 << 8
} GdkWindowAttributesType;

struct _GdkColor {
  guint32 pixel;
  guint16 red, green, blue; /* 0..65535 */
};

struct _GdkVisual {
  GdkVisualType type;
  gint depth;
  GdkByteOrder byte_order; /* the server's image byte order */
  gint colormap_size;
  gint bits_per_rgb;
  guint32 red_mask;
  gint red_shift;
  gint red_prec;
  guint32 green_mask;
  gint green_shift;
  gint green_prec;
  guint32 blue_mask;
  gint blue_shift;
  gint blue_prec;
};

/* colors is NULL for TrueColor; otherwise it has at least 256 entries (zero beyond size). */
struct _GdkColormap {
  gint size;
  GdkColor *colors;
};

/* bpp is in bits per pixel; bpl is bytes per row of mem. */
struct _GdkImage {
  GdkImageType type;
  GdkVisual *visual; /* NULL for images of pixmaps */
  GdkByteOrder byte_order;
  guint16 width, height, depth;
  guint16 bpp;
  guint16 bpl;
  gpointer mem;
};

struct _GdkWindow {
  gpointer user_data;
};

struct _GdkGC {
  gint dummy_var;
};

struct _GdkWindowAttr {
  gchar *title;
  gint event_mask; /* accepted and ignored: there is no event loop */
  gint16 x, y, width, height;
  GdkWindowClass wclass;
  GdkVisual *visual;
  GdkColormap *colormap;
  GdkWindowType window_type;
  gboolean override_redirect;
};

G_END_DECLS

#endif /* GDK_GDKTYPES_H */
