// SPDX-License-Identifier: LGPL-2.1-or-later
// Client-side images: new, fetched from a drawable, or wrapped around caller memory.
#include "private.h"

#include <cstdlib>
#include <cstring>

using gdkl::ImagePrivate;
using gdkl::priv;

namespace {

constexpr int kMaxField = 65535;  // width, height and bpl are 16-bit fields

bool fits_fields (const XImage *x)
{
    return x->width <= kMaxField && x->height <= kMaxField && x->bytes_per_line <= kMaxField;
}

// Reverses the bits of a byte, turning a least-significant-first bitmap byte into the other.
guchar reverse_bits (guchar b)
{
    b = guchar ((b & 0xf0) >> 4 | (b & 0x0f) << 4);
    b = guchar ((b & 0xcc) >> 2 | (b & 0x33) << 2);
    return guchar ((b & 0xaa) >> 1 | (b & 0x55) << 1);
}

// Rewrites a 1-bit image so that pixel x of a row is bit 7 - (x mod 8) of byte x / 8, which is
// how the image's users read bitmaps whatever the server's bit and byte order.
void make_msb_first (XImage *x)
{
    const size_t size = size_t (x->bytes_per_line) * size_t (x->height);
    auto *data = reinterpret_cast<guchar *> (x->data);
    const bool msb_layout = x->bitmap_bit_order == MSBFirst
                            && (x->byte_order == MSBFirst || x->bitmap_unit == 8);
    if (msb_layout) {
        // Already in reading order.
    } else if (x->bitmap_bit_order == LSBFirst
               && (x->byte_order == LSBFirst || x->bitmap_unit == 8)) {
        for (size_t i = 0; i < size; ++i) data[i] = reverse_bits (data[i]);
    } else {
        // Mixed orders inside a 16- or 32-bit unit: go through Xlib, one pixel at a time.
        auto *out = static_cast<guchar *> (std::calloc (size ? size : 1, 1));
        if (!out) return;
        for (int y = 0; y < x->height; ++y)
            for (int i = 0; i < x->width; ++i)
                if (XGetPixel (x, i, y) & 1)
                    out[size_t (y) * size_t (x->bytes_per_line) + size_t (i / 8)] |=
                        guchar (0x80 >> (i % 8));
        std::memcpy (data, out, size);
        std::free (out);
    }
    x->bitmap_bit_order = MSBFirst;
    x->bitmap_unit = 8;
    XInitImage (x);
}

}  // namespace

namespace gdkl {

ImagePrivate *image_from_ximage (XImage *x, GdkVisual *visual)
{
    auto *p = g_new0 (ImagePrivate, 1);
    GdkImage &img = p->image;
    img.type = GDK_IMAGE_NORMAL;
    img.visual = visual;
    img.byte_order = x->byte_order == MSBFirst ? GDK_MSB_FIRST : GDK_LSB_FIRST;
    img.width = guint16 (x->width);
    img.height = guint16 (x->height);
    img.depth = guint16 (x->depth);
    img.bpp = guint16 (x->bits_per_pixel);
    img.bpl = guint16 (x->bytes_per_line);
    img.mem = x->data;
    p->ximage = x;
    p->owns_data = true;
    return p;
}

}  // namespace gdkl

extern "C" GdkImage *gdk_image_new (GdkImageType, GdkVisual *visual, gint width, gint height)
{
    GDKL_NEED_DISPLAY_VAL (nullptr);
    GDKL_RETURN_VAL_IF_FAIL (visual != nullptr, "visual != NULL", nullptr);
    GDKL_RETURN_VAL_IF_FAIL (width > 0 && height > 0, "width > 0 && height > 0", nullptr);
    // Shared memory is not used: every type gives a normal image.
    XImage *x = XCreateImage (gdk_display, priv (visual)->xvisual, unsigned (visual->depth),
                              ZPixmap, 0, nullptr, unsigned (width), unsigned (height), 32, 0);
    if (!x) return nullptr;
    if (!fits_fields (x)) {
        XDestroyImage (x);
        return nullptr;
    }
    x->data = static_cast<char *> (std::calloc (size_t (x->bytes_per_line), size_t (height)));
    if (!x->data) {
        XDestroyImage (x);
        return nullptr;
    }
    return &gdkl::image_from_ximage (x, visual)->image;
}

extern "C" GdkImage *gdk_image_get (GdkWindow *window, gint x, gint y, gint width, gint height)
{
    GDKL_NEED_DISPLAY_VAL (nullptr);
    GDKL_RETURN_VAL_IF_FAIL (window != nullptr, "window != NULL", nullptr);
    gdkl::DrawablePrivate *d = priv (window);
    if (width < 1 || height < 1 || width > kMaxField || height > kMaxField || d->destroyed)
        return nullptr;
    gdk_error_trap_push ();
    XImage *xi = XGetImage (gdk_display, d->xid, x, y, unsigned (width), unsigned (height),
                            AllPlanes, ZPixmap);
    XSync (gdk_display, False);
    const int error = gdk_error_trap_pop ();
    if (error || !xi) {
        if (xi) XDestroyImage (xi);
        return nullptr;
    }
    if (!fits_fields (xi)) {
        XDestroyImage (xi);
        return nullptr;
    }
    if (xi->bits_per_pixel == 1) make_msb_first (xi);
    GdkVisual *visual = d->type == GDK_WINDOW_PIXMAP ? nullptr : d->visual;
    return &gdkl::image_from_ximage (xi, visual)->image;
}

extern "C" GdkImage *gdkl_image_wrap (GdkVisual *visual, GdkByteOrder byte_order, gint depth,
                                      gint bits_per_pixel, gint width, gint height, gint bpl,
                                      gpointer mem)
{
    GDKL_RETURN_VAL_IF_FAIL (mem != nullptr, "mem != NULL", nullptr);
    GDKL_RETURN_VAL_IF_FAIL (width > 0 && height > 0 && width <= kMaxField
                                 && height <= kMaxField,
                             "width > 0 && height > 0", nullptr);
    GDKL_RETURN_VAL_IF_FAIL (depth >= 1 && depth <= 32 && depth <= bits_per_pixel,
                             "depth >= 1 && depth <= bits_per_pixel", nullptr);
    GDKL_RETURN_VAL_IF_FAIL (bits_per_pixel == 1 || bits_per_pixel == 4 || bits_per_pixel == 8
                                 || bits_per_pixel == 16 || bits_per_pixel == 24
                                 || bits_per_pixel == 32,
                             "bits_per_pixel is 1, 4, 8, 16, 24 or 32", nullptr);
    GDKL_RETURN_VAL_IF_FAIL (bpl <= kMaxField
                                 && gint64 (bpl) * 8 >= gint64 (width) * bits_per_pixel,
                             "bpl holds a row", nullptr);
    auto *x = g_new0 (XImage, 1);
    x->width = width;
    x->height = height;
    x->format = depth == 1 ? XYBitmap : ZPixmap;
    x->data = static_cast<char *> (mem);
    x->byte_order = byte_order == GDK_MSB_FIRST ? MSBFirst : LSBFirst;
    x->bitmap_unit = 32;
    x->bitmap_bit_order = x->byte_order;
    x->bitmap_pad = 32;
    x->depth = depth;
    x->bytes_per_line = bpl;
    x->bits_per_pixel = bits_per_pixel;
    if (visual) {
        x->red_mask = visual->red_mask;
        x->green_mask = visual->green_mask;
        x->blue_mask = visual->blue_mask;
    }
    if (!XInitImage (x)) {
        g_free (x);
        return nullptr;
    }
    ImagePrivate *p = gdkl::image_from_ximage (x, visual);
    p->owns_data = false;
    return &p->image;
}

extern "C" guint32 gdk_image_get_pixel (GdkImage *image, gint x, gint y)
{
    GDKL_RETURN_VAL_IF_FAIL (image != nullptr, "image != NULL", 0);
    GDKL_RETURN_VAL_IF_FAIL (x >= 0 && x < image->width, "x >= 0 && x < image->width", 0);
    GDKL_RETURN_VAL_IF_FAIL (y >= 0 && y < image->height, "y >= 0 && y < image->height", 0);
    return guint32 (XGetPixel (priv (image)->ximage, x, y));
}

extern "C" void gdk_image_put_pixel (GdkImage *image, gint x, gint y, guint32 pixel)
{
    GDKL_RETURN_IF_FAIL (image != nullptr, "image != NULL");
    GDKL_RETURN_IF_FAIL (x >= 0 && x < image->width, "x >= 0 && x < image->width");
    GDKL_RETURN_IF_FAIL (y >= 0 && y < image->height, "y >= 0 && y < image->height");
    XPutPixel (priv (image)->ximage, x, y, pixel);
}

extern "C" void gdk_image_destroy (GdkImage *image)
{
    GDKL_RETURN_IF_FAIL (image != nullptr, "image != NULL");
    ImagePrivate *p = priv (image);
    if (p->owns_data)
        XDestroyImage (p->ximage);
    else
        g_free (p->ximage);  // made by hand around the caller's memory
    g_free (p);
}

extern "C" XImage *gdkx_image_ximage (GdkImage *image)
{
    GDKL_RETURN_VAL_IF_FAIL (image != nullptr, "image != NULL", nullptr);
    return priv (image)->ximage;
}
