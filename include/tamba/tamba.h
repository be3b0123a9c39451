/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* tamba: reference-counted RGB/RGBA images in memory.
 *
 * The whole public interface of libtamba. Plain C (C11 or C++), over GLib's basic types.
 */
#ifndef TAMBA_TAMBA_H
#define TAMBA_TAMBA_H

#include <glib.h>
#include <glib-object.h>
#include <gmodule.h>
#include <stdio.h>

/* The X drawing layer's records (drawables, GCs, colormaps, dither modes). */
#include <gdk/gdktypes.h>
#include <gdk/gdkrgb.h>

#if defined(TAMBA_COMPILATION)
#  define TAMBA_API __attribute__ ((visibility ("default")))
#else
#  define TAMBA_API
#endif

G_BEGIN_DECLS

/* ---------------------------------------------------------------------------------------------
 * Enumerations shared with the X drawing layer. Whichever header comes first declares them; the
 * guard keeps the second from declaring them again.
 */
#ifndef GDK_TAMBA_SHARED_ENUMS
#define GDK_TAMBA_SHARED_ENUMS
typedef enum { GDK_COLORSPACE_RGB = 0 } GdkColorspace;

typedef enum {
  GDK_INTERP_NEAREST = 0,
  GDK_INTERP_TILES = 1,
  GDK_INTERP_BILINEAR = 2,
  GDK_INTERP_HYPER = 3
} GdkInterpType;
#endif

typedef enum { TAMBA_ALPHA_BILEVEL = 0, TAMBA_ALPHA_FULL = 1 } TambaAlphaMode;

/* ---------------------------------------------------------------------------------------------
 * The image record.
 */
typedef struct _Tamba Tamba;

/* Releases pixel memory when an image is finalized. */
typedef void (*TambaDestroyNotify) (guchar *pixels, gpointer data);
/* Called instead of finalization when the last reference is dropped; the count is still 1. */
typedef void (*TambaLastUnref) (Tamba *tamba, gpointer data);

/* Pixel (x, y) starts at pixels + y * rowstride + x * n_channels; samples are R, G, B[, A]. */
struct _Tamba {
  int ref_count;
  GdkColorspace colorspace;
  int n_channels;
  int bits_per_sample;
  int width;
  int height;
  int rowstride;
  guchar *pixels;
  TambaDestroyNotify destroy_fn;
  gpointer destroy_fn_data;
  TambaLastUnref last_unref_fn;
  gpointer last_unref_fn_data;
  guint has_alpha : 1;
};

/* Library version, fixed at build time. */
extern TAMBA_API const guint32 tamba_major_version;
extern TAMBA_API const guint32 tamba_minor_version;
extern TAMBA_API const guint32 tamba_micro_version;
extern TAMBA_API const char *tamba_version;

/* Exported for compatibility; the library never reads or writes them. */
extern TAMBA_API struct _XDisplay *tamba_dpy;
extern TAMBA_API int tamba_screen;

/* A new image with uninitialised pixels and rows padded to 4 bytes; NULL if the size overflows
 * or memory runs out. Only GDK_COLORSPACE_RGB and 8 bits per sample are supported. */
TAMBA_API Tamba *tamba_new (GdkColorspace colorspace, gboolean has_alpha, int bits_per_sample,
                            int width, int height);

/* Wraps caller memory (not copied) as an image; destroy_fn, if any, releases it at finalization.
 * rowstride is taken as given. */
TAMBA_API Tamba *tamba_new_from_data (const guchar *data, GdkColorspace colorspace,
                                      gboolean has_alpha, int bits_per_sample, int width,
                                      int height, int rowstride, TambaDestroyNotify destroy_fn,
                                      gpointer destroy_fn_data);

/* A new image holding a copy of the pixels, with the same rowstride; NULL if memory runs out. */
TAMBA_API Tamba *tamba_copy (const Tamba *tamba);

/* Adds a reference and returns the image. */
TAMBA_API Tamba *tamba_ref (Tamba *tamba);

/* Drops a reference; the last one calls the last-unref handler if set, else finalizes. */
TAMBA_API void tamba_unref (Tamba *tamba);

/* Sets (or with NULL removes) the handler called when the last reference is dropped. */
TAMBA_API void tamba_set_last_unref_handler (Tamba *tamba, TambaLastUnref last_unref_fn,
                                             gpointer last_unref_fn_data);

/* Releases the pixels (through destroy_fn) and the record; the count must be exactly 1. */
TAMBA_API void tamba_finalize (Tamba *tamba);

/* Module initialisation hooks; both do nothing. */
TAMBA_API void tamba_preinit (gpointer app, gpointer modinfo);
TAMBA_API void tamba_postinit (gpointer app, gpointer modinfo);

/* Accessors. On NULL each logs a critical message and returns GDK_COLORSPACE_RGB, -1 or NULL
 * (tamba_get_has_alpha returns -1 too). */
TAMBA_API GdkColorspace tamba_get_colorspace (const Tamba *tamba);
TAMBA_API int tamba_get_n_channels (const Tamba *tamba);
TAMBA_API gboolean tamba_get_has_alpha (const Tamba *tamba);
TAMBA_API int tamba_get_bits_per_sample (const Tamba *tamba);
TAMBA_API guchar *tamba_get_pixels (const Tamba *tamba);
TAMBA_API int tamba_get_width (const Tamba *tamba);
TAMBA_API int tamba_get_height (const Tamba *tamba);
TAMBA_API int tamba_get_rowstride (const Tamba *tamba);

/* ---------------------------------------------------------------------------------------------
 * Animations and the loader-module contract.
 */
typedef enum {
  TAMBA_FRAME_RETAIN = 0,
  TAMBA_FRAME_DISPOSE = 1,
  TAMBA_FRAME_REVERT = 2
} TambaFrameAction;

typedef struct _TambaFrame TambaFrame;
typedef struct _TambaAnimation TambaAnimation;

/* One image of an animation, placed at (x_offset, y_offset); owns one reference to tamba.
 * delay_time is as the module gives it (-1 for the single frame of a still image); the GIF
 * module gives the file's delay unchanged, in hundredths of a second. */
struct _TambaFrame {
  Tamba *tamba;
  int x_offset;
  int y_offset;
  int delay_time;
  TambaFrameAction action;
};

/* A reference-counted list of frames in display order; owns the list and the frames. */
struct _TambaAnimation {
  int ref_count;
  int n_frames;
  GList *frames;
  int width;
  int height;
};

/* Callbacks a module makes while loading progressively; user data is what begin_load received. */
typedef void (*TambaPrepareFunc) (Tamba *tamba, gpointer user_data);
typedef void (*TambaUpdateFunc) (Tamba *tamba, guint x, guint y, guint width, guint height,
                                 gpointer user_data);
typedef void (*TambaFrameDoneFunc) (TambaFrame *frame, gpointer user_data);
typedef void (*TambaAnimationDoneFunc) (Tamba *tamba, gpointer user_data);

/* One image format: its name, its signature test and the entry points of its module, bound by
 * name ("tamba__" + name + "_image_load", ...) when the module is opened. */
typedef struct _TambaModule TambaModule;
struct _TambaModule {
  char *module_name;
  gboolean (*format_check) (guchar *buffer, int size);
  GModule *module;
  Tamba *(*load) (FILE *f);
  Tamba *(*load_xpm_data) (const char **data);
  gpointer (*begin_load) (TambaPrepareFunc prepare_func, TambaUpdateFunc update_func,
                          TambaFrameDoneFunc frame_done_func,
                          TambaAnimationDoneFunc anim_done_func, gpointer user_data);
  void (*stop_load) (gpointer context);
  gboolean (*load_increment) (gpointer context, const guchar *buf, guint size);
  TambaAnimation *(*load_animation) (FILE *f);
  /* Writes the whole image to f ("tamba__" + name + "_image_save"); NULL when the module cannot
   * save. quality (1..100) matters to JPEG only. Returns FALSE on any failure, without logging:
   * the library reports it. */
  gboolean (*save) (FILE *f, const Tamba *tamba, int quality);
  /* Decodes the whole file at a reduced size when that is cheaper ("tamba__" + name +
   * "_image_load_at_size"); NULL when the module only decodes at full size. The image may be
   * smaller than the file's but never narrower than width nor lower than height, except on a
   * side where the file's image is smaller still (then that side is the full one). Used only by
   * tamba_new_from_file_at_size. */
  Tamba *(*load_at_size) (FILE *f, int width, int height);
};

/* ---------------------------------------------------------------------------------------------
 * Loading.
 */

/* The format record whose signature matches the first size bytes of buffer, or NULL. The module
 * is not opened here. */
TAMBA_API TambaModule *tamba_get_module (guchar *buffer, guint size);

/* Opens the format's module ("tambaloader-" + name, from the module directory, else through the
 * library search) and binds its entry points; warns and leaves the record unopened on failure. */
TAMBA_API void tamba_load_module (TambaModule *image_module);

/* Loads a whole file through its format's module: a new image owned by the caller, or NULL.
 * Every module refuses, before allocating, an image over 2^28 pixels (1 GiB as RGBA) or over
 * 65535 on a side (PNG, JPEG and TIFF: 2^24); the frames of one GIF hold at most 2^29 pixels in
 * all, each frame counting 64 more, and a GIF whose first frame does not cover its screen loads
 * whole only when frame and screen together stay within 2^28. A small file may still claim a
 * large image (a PNG of one colour inflates 1000-fold): a caller that cannot afford that uses a
 * progressive loader and closes it at "area_prepared" when the size is too large (every format
 * but TIFF, which decodes once all its data is in, emits it before decoding a row). */
TAMBA_API Tamba *tamba_new_from_file (const char *filename);

/* Loads a whole file and scales it to fit width x height (both > 0): exactly that size, or with
 * preserve_aspect the largest size inside the box with the image's aspect (each side at least 1,
 * rounded to nearest). The scaling is tamba_scale_simple's, with GDK_INTERP_HYPER when the result
 * has fewer pixels than the file's image and GDK_INTERP_BILINEAR otherwise. When the size is the
 * image's own, the loaded image is returned as it is. NULL when loading fails.
 * A module may decode at a reduced size first (JPEG scales its DCT by 1/2, 1/4 or 1/8, never
 * below the result's size), and the engine scales from there: callers may not rely on the pixels
 * being byte-identical to a full decode followed by scaling. */
TAMBA_API Tamba *tamba_new_from_file_at_size (const char *filename, int width, int height,
                                              gboolean preserve_aspect);

/* Builds an image from XPM data held in memory, through the xpm module; NULL on failure. */
TAMBA_API Tamba *tamba_new_from_xpm_data (const char **data);

/* Loads an animation; a still image becomes one frame at 0,0 with delay -1. NULL on failure. */
TAMBA_API TambaAnimation *tamba_animation_new_from_file (const char *filename);

/* Adds a reference and returns the animation. */
TAMBA_API TambaAnimation *tamba_animation_ref (TambaAnimation *animation);

/* Drops a reference; the last one releases every frame, its image reference and the list. */
TAMBA_API void tamba_animation_unref (TambaAnimation *animation);

/* Accessors; nothing is copied or referenced. On NULL each logs a critical message and returns
 * -1, NULL or TAMBA_FRAME_RETAIN. */
TAMBA_API int tamba_animation_get_width (TambaAnimation *animation);
TAMBA_API int tamba_animation_get_height (TambaAnimation *animation);
TAMBA_API int tamba_animation_get_num_frames (TambaAnimation *animation);
TAMBA_API GList *tamba_animation_get_frames (TambaAnimation *animation);
TAMBA_API Tamba *tamba_frame_get_tamba (TambaFrame *frame);
TAMBA_API int tamba_frame_get_x_offset (TambaFrame *frame);
TAMBA_API int tamba_frame_get_y_offset (TambaFrame *frame);
TAMBA_API int tamba_frame_get_delay_time (TambaFrame *frame);
TAMBA_API TambaFrameAction tamba_frame_get_action (TambaFrame *frame);

/* The progressive loader: a GObject fed with bytes in pieces of any size. It buffers the first
 * 128 bytes to recognise the format, then hands every byte to the module and turns the module's
 * callbacks into the signals "area_prepared", "area_updated" (x, y, width, height),
 * "frame_done" (frame), "animation_done" and "closed". Release it with g_object_unref; a loader
 * that was not closed is closed then. */
typedef struct _TambaLoader TambaLoader;
typedef struct _TambaLoaderClass TambaLoaderClass;

#define TAMBA_TYPE_LOADER (tamba_loader_get_type ())
#define TAMBA_LOADER(obj) (G_TYPE_CHECK_INSTANCE_CAST ((obj), TAMBA_TYPE_LOADER, TambaLoader))
#define TAMBA_LOADER_CLASS(klass) \
  (G_TYPE_CHECK_CLASS_CAST ((klass), TAMBA_TYPE_LOADER, TambaLoaderClass))
#define TAMBA_IS_LOADER(obj) (G_TYPE_CHECK_INSTANCE_TYPE ((obj), TAMBA_TYPE_LOADER))
#define TAMBA_IS_LOADER_CLASS(klass) (G_TYPE_CHECK_CLASS_TYPE ((klass), TAMBA_TYPE_LOADER))

struct _TambaLoader {
  GObject object;
  gpointer priv;
};

/* Default handlers of the five signals; the loader itself leaves them all NULL. */
struct _TambaLoaderClass {
  GObjectClass parent_class;
  void (*area_prepared) (TambaLoader *loader);
  void (*area_updated) (TambaLoader *loader, gint x, gint y, gint width, gint height);
  void (*frame_done) (TambaLoader *loader, TambaFrame *frame);
  void (*animation_done) (TambaLoader *loader);
  void (*closed) (TambaLoader *loader);
};

/* The GType of TambaLoader, registered on the first call. */
TAMBA_API GType tamba_loader_get_type (void);

/* A new loader collecting the header; the caller owns its one reference. */
TAMBA_API TambaLoader *tamba_loader_new (void);

/* Feeds count bytes. FALSE when the data was not recognised, the module could not be started or
 * refused the bytes; TRUE while the header is still being collected. */
TAMBA_API gboolean tamba_loader_write (TambaLoader *loader, const guchar *buf, gsize count);

/* Starts the module on a short header if need be, stops it and emits "closed". */
TAMBA_API void tamba_loader_close (TambaLoader *loader);

/* The image being loaded (the first frame's once an animation has frames), or NULL; no reference
 * is added. */
TAMBA_API Tamba *tamba_loader_get_tamba (TambaLoader *loader);

/* The animation assembled from finished frames, or NULL; no reference is added. */
TAMBA_API TambaAnimation *tamba_loader_get_animation (TambaLoader *loader);

/* ---------------------------------------------------------------------------------------------
 * Saving.
 */

/* Writes an 8-bit RGB or RGBA image to filename through the module of format ("png", "jpeg",
 * "pnm", "bmp", or any format whose module can save), as tamba_save_with_quality with quality
 * 90. */
TAMBA_API gboolean tamba_save (const Tamba *tamba, const char *filename, const char *format);

/* As tamba_save, with a JPEG quality of 1..100 (other formats check the range but ignore the
 * value). "png" keeps alpha, "jpeg" drops it, "pnm" writes P6 or, with alpha, a P7 PAM (which
 * the library itself does not read), "bmp" writes 24 bits or, with alpha, 32 bits with an alpha
 * mask. On failure returns FALSE with one warning naming the file and the reason (unknown
 * format, module without a saver, the file cannot be opened, a write error, an invalid quality
 * or image); a partly written file is removed. */
TAMBA_API gboolean tamba_save_with_quality (const Tamba *tamba, const char *filename,
                                            const char *format, int quality);

/* ---------------------------------------------------------------------------------------------
 * Scaling, compositing and pixel utilities.
 *
 * The source, scaled by (scale_x, scale_y), is placed with its top-left corner at
 * (offset_x, offset_y) of the destination (offsets rounded to whole pixels, halves up); only the
 * rectangle (dest_x, dest_y, dest_width, dest_height), which must lie inside dest, is written.
 * Parts of the rectangle beyond the scaled source repeat its edge pixels. Scale factors must be
 * positive with 65536 / scale in 1..G_MAXINT; a zero factor writes nothing.
 */

/* Replaces the rectangle with the scaled source. A source with alpha needs a destination with
 * alpha. */
TAMBA_API void tamba_scale (const Tamba *src, Tamba *dest, int dest_x, int dest_y, int dest_width,
                            int dest_height, double offset_x, double offset_y, double scale_x,
                            double scale_y, GdkInterpType interp_type);

/* Blends the scaled source, at opacity overall_alpha (0..255), over the rectangle. */
TAMBA_API void tamba_composite (const Tamba *src, Tamba *dest, int dest_x, int dest_y,
                                int dest_width, int dest_height, double offset_x, double offset_y,
                                double scale_x, double scale_y, GdkInterpType interp_type,
                                int overall_alpha);

/* Blends the scaled source over a checkerboard of color1/color2 (0xRRGGBB) squares as wide as the
 * largest power of two dividing check_size (not 0); (check_x, check_y) are the checkerboard
 * coordinates of the rectangle's top-left pixel. */
TAMBA_API void tamba_composite_color (const Tamba *src, Tamba *dest, int dest_x, int dest_y,
                                      int dest_width, int dest_height, double offset_x,
                                      double offset_y, double scale_x, double scale_y,
                                      GdkInterpType interp_type, int overall_alpha, int check_x,
                                      int check_y, int check_size, guint32 color1,
                                      guint32 color2);

/* A new image of dest_width x dest_height (with alpha when src has it) holding the whole source
 * scaled to that size; NULL if it cannot be allocated or the engine refuses the request (an
 * interpolation type out of range, a size whose scale factor it cannot step by). */
TAMBA_API Tamba *tamba_scale_simple (const Tamba *src, int dest_width, int dest_height,
                                     GdkInterpType interp_type);

/* A new image of dest_width x dest_height holding the whole source scaled and blended over a
 * checkerboard that starts with color1 at its top-left corner; NULL if it cannot be allocated or
 * the engine refuses the request (as tamba_scale_simple, or a check_size of 0). */
TAMBA_API Tamba *tamba_composite_color_simple (const Tamba *src, int dest_width, int dest_height,
                                               GdkInterpType interp_type, int overall_alpha,
                                               int check_size, guint32 color1, guint32 color2);

/* A new RGBA copy of an RGB image, alpha 255 except where substitute_color is set and the pixel
 * is exactly (r, g, b), which becomes transparent; an RGBA image is simply copied. NULL if memory
 * runs out. */
TAMBA_API Tamba *tamba_add_alpha (const Tamba *tamba, gboolean substitute_color, guchar r,
                                  guchar g, guchar b);

/* Copies the width x height rectangle at (src_x, src_y) of src_tamba to (dest_x, dest_y) of
 * dest_tamba; both rectangles must lie inside their images. */
TAMBA_API void tamba_copy_area (const Tamba *src_tamba, int src_x, int src_y, int width,
                                int height, Tamba *dest_tamba, int dest_x, int dest_y);

/* ---------------------------------------------------------------------------------------------
 * Rendering and capture. Drawables, graphics contexts, colormaps and the dither modes are those of
 * the X drawing layer (libtamba-gdk), whose record headers need only GLib.
 */

/* Sets the bitmap's pixels in the destination rectangle to 1 where the source alpha is at least
 * alpha_threshold (0..255) and to 0 elsewhere; an image without alpha gives all 1 (all 0 for a
 * threshold of 255). Pixels outside the rectangle are untouched. */
TAMBA_API void tamba_render_threshold_alpha (Tamba *tamba, GdkBitmap *bitmap, int src_x,
                                             int src_y, int dest_x, int dest_y, int width,
                                             int height, int alpha_threshold);

/* Draws a rectangle of the image opaquely (alpha is ignored) through gc, converting to the
 * drawable's visual with the given dithering; x_dither/y_dither shift the dither pattern. */
TAMBA_API void tamba_render_to_drawable (Tamba *tamba, GdkDrawable *drawable, GdkGC *gc,
                                         int src_x, int src_y, int dest_x, int dest_y, int width,
                                         int height, GdkRgbDither dither, int x_dither,
                                         int y_dither);

/* Draws a rectangle of the image painting only pixels whose alpha reaches alpha_threshold; both
 * alpha modes give this bi-level result. An image without alpha is drawn whole. */
TAMBA_API void tamba_render_to_drawable_alpha (Tamba *tamba, GdkDrawable *drawable, int src_x,
                                               int src_y, int dest_x, int dest_y, int width,
                                               int height, TambaAlphaMode alpha_mode,
                                               int alpha_threshold, GdkRgbDither dither,
                                               int x_dither, int y_dither);

/* Makes a new pixmap of the whole image (in GdkRGB's visual depth) and, for an image with alpha,
 * a new bitmap mask thresholded at alpha_threshold (NULL without alpha). Either return pointer
 * may be NULL; the caller owns what is returned. */
TAMBA_API void tamba_render_pixmap_and_mask (Tamba *tamba, GdkPixmap **pixmap_return,
                                             GdkBitmap **mask_return, int alpha_threshold);

/* Copies a width x height rectangle of a viewable window (wholly on screen) or of a pixmap into
 * dest at (dest_x, dest_y), or into a new RGB image when dest is NULL. cmap interprets a
 * pixmap's pixel values; a window's own colormap is used for windows. Returns the image, or NULL
 * on failure (dest is then unchanged). */
TAMBA_API Tamba *tamba_get_from_drawable (Tamba *dest, GdkDrawable *src, GdkColormap *cmap,
                                          int src_x, int src_y, int dest_x, int dest_y,
                                          int width, int height);

/* ---------------------------------------------------------------------------------------------
 * Colour names.
 */

/* A colour with 16 bits per channel (an 8-bit value v is stored as v * 257). */
typedef struct {
  guint16 red;
  guint16 green;
  guint16 blue;
} TambaRgbTriple;

/* One entry of the built-in colour database. */
typedef struct {
  const char *name;
  TambaRgbTriple rgb;
} TambaNamedColor;

/* The X11 Release 6 colour database, names in lower case; ends with a NULL name. */
extern TAMBA_API const TambaNamedColor local_rgb_txt[753];

/* Parses "#rgb", "#rrggbb", "#rrrgggbbb", "#rrrrggggbbbb" or an X11 colour name (case-folded,
 * spaces significant). Stores the channels whose pointers are not NULL and returns TRUE, or
 * returns FALSE and stores nothing. */
TAMBA_API gboolean tamba_parse_color (const char *spec, guint16 *red, guint16 *green,
                                      guint16 *blue);

G_END_DECLS

#endif /* TAMBA_TAMBA_H */
