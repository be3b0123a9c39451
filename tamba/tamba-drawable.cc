// SPDX-License-Identifier: LGPL-2.1-or-later
// Capture: a rectangle of a window or pixmap read back into an image, converting the visual's
// pixel format to 8-bit RGB. Common formats have table routines; the rest go through a generic
// conversion that asks for each pixel value.
#include <array>
#include <cstdint>

#include "tamba-drawable.h"
#include "tamba-private.h"

namespace {

using tamba::detail::ConvertFunc;
using Rgba = std::array<guchar, 4>;

// mask_table[d] keeps the low d bits of a pixel value.
constexpr std::array<guint32, 33> mask_table = [] {
    std::array<guint32, 33> t{};
    for (int i = 0; i < 32; ++i) t[size_t (i)] = (guint32 (1) << i) - 1;
    t[32] = 0xffffffffu;
    return t;
}();

// The colour of colormap entry index as output samples (low bytes of the 16-bit channels). An
// index beyond the colormap reads its last entry, so no value ever reads outside it.
Rgba palette_entry (const GdkColormap *cmap, guint32 index)
{
    if (!cmap || !cmap->colors || cmap->size <= 0) return {0, 0, 0, 255};
    if (index >= guint32 (cmap->size)) index = guint32 (cmap->size - 1);
    const GdkColor &c = cmap->colors[index];
    return {guchar (c.red & 0xff), guchar (c.green & 0xff), guchar (c.blue & 0xff), 255};
}

template <int N> std::array<Rgba, N> palette_table (const GdkColormap *cmap)
{
    std::array<Rgba, N> t;
    for (int i = 0; i < N; ++i) t[size_t (i)] = palette_entry (cmap, guint32 (i));
    return t;
}

template <bool Alpha> inline guchar *put (guchar *o, const Rgba &c)
{
    o[0] = c[0];
    o[1] = c[1];
    o[2] = c[2];
    if constexpr (Alpha) {
        o[3] = 255;
        return o + 4;
    }
    return o + 3;
}

template <bool Alpha> inline guchar *put (guchar *o, guchar r, guchar g, guchar b)
{
    return put<Alpha> (o, Rgba{r, g, b, 255});
}

// 1 bit per pixel, most significant bit first whatever the byte order.
template <bool Alpha> void convert_1 (GdkImage *image, guchar *pixels, int rowstride, GdkColormap *cmap)
{
    const auto table = palette_table<2> (cmap);
    const auto *mem = static_cast<const guchar *> (image->mem);
    for (int y = 0; y < image->height; ++y) {
        const guchar *s = mem + std::ptrdiff_t (y) * image->bpl;
        guchar *o = pixels + std::ptrdiff_t (y) * rowstride;
        for (int x = 0; x < image->width; ++x)
            o = put<Alpha> (o, table[(s[x >> 3] >> (7 - (x & 7))) & 1]);
    }
}

// 1 byte per pixel, a colormap index of depth bits.
template <bool Alpha> void convert_8 (GdkImage *image, guchar *pixels, int rowstride, GdkColormap *cmap)
{
    const auto table = palette_table<256> (cmap);
    const guint32 mask = mask_table[image->depth > 32 ? 32 : image->depth];
    const auto *mem = static_cast<const guchar *> (image->mem);
    for (int y = 0; y < image->height; ++y) {
        const guchar *s = mem + std::ptrdiff_t (y) * image->bpl;
        guchar *o = pixels + std::ptrdiff_t (y) * rowstride;
        for (int x = 0; x < image->width; ++x) o = put<Alpha> (o, table[s[x] & mask]);
    }
}

// A 5- or 6-bit field widened to 8 bits by repeating its top bits: (f * 8) + (f / 4) for 5 bits,
// (f * 4) + (f / 16) for 6.
constexpr std::array<guchar, 64> widen_table (int bits)
{
    std::array<guchar, 64> t{};
    for (unsigned f = 0; f < (1u << bits); ++f)
        t[f] = guchar (bits == 5 ? (f << 3) | (f >> 2) : (f << 2) | (f >> 4));
    return t;
}
constexpr std::array<guchar, 64> widen5 = widen_table (5), widen6 = widen_table (6);

// 16 bits per pixel, 5-5-5 (GreenBits 5) or 5-6-5 (GreenBits 6). Without alpha, two pixels (4
// source bytes, 6 output bytes) per step and a single last pixel for an odd width; the result is
// that of pixel-by-pixel conversion.
template <int GreenBits, bool Msb>
inline guchar *put_16 (guchar *o, const guchar *s, bool alpha)
{
    const unsigned v = Msb ? (unsigned (s[0]) << 8 | s[1]) : (unsigned (s[1]) << 8 | s[0]);
    o[0] = widen5[(v >> (5 + GreenBits)) & 0x1f];
    o[1] = (GreenBits == 6 ? widen6 : widen5)[(v >> 5) & ((1u << GreenBits) - 1)];
    o[2] = widen5[v & 0x1f];
    if (!alpha) return o + 3;
    o[3] = 255;
    return o + 4;
}

template <int GreenBits, bool Msb, bool Alpha>
void convert_16 (GdkImage *image, guchar *pixels, int rowstride, GdkColormap *)
{
    const auto *mem = static_cast<const guchar *> (image->mem);
    const int width = image->width;
    for (int y = 0; y < image->height; ++y) {
        const guchar *s = mem + std::ptrdiff_t (y) * image->bpl;
        guchar *o = pixels + std::ptrdiff_t (y) * rowstride;
        int x = 0;
        if constexpr (!Alpha)
            for (; x + 2 <= width; x += 2, s += 4) {
                o = put_16<GreenBits, Msb> (o, s, false);
                o = put_16<GreenBits, Msb> (o, s + 2, false);
            }
        for (; x < width; ++x, s += 2) o = put_16<GreenBits, Msb> (o, s, Alpha);
    }
}

// 32 bits per pixel, 8-8-8 in the low three bytes of the value.
template <bool Msb, bool Alpha>
void convert_888 (GdkImage *image, guchar *pixels, int rowstride, GdkColormap *)
{
    const auto *mem = static_cast<const guchar *> (image->mem);
    for (int y = 0; y < image->height; ++y) {
        const guchar *s = mem + std::ptrdiff_t (y) * image->bpl;
        guchar *o = pixels + std::ptrdiff_t (y) * rowstride;
        for (int x = 0; x < image->width; ++x, s += 4)
            o = Msb ? put<Alpha> (o, s[1], s[2], s[3]) : put<Alpha> (o, s[2], s[1], s[0]);
    }
}

constexpr ConvertFunc rgb1 = &convert_1<false>;
constexpr ConvertFunc rgb1a = &convert_1<true>;
constexpr ConvertFunc rgb8 = &convert_8<false>;
constexpr ConvertFunc rgb8a = &convert_8<true>;
constexpr ConvertFunc rgb555lsb = &convert_16<5, false, false>;
constexpr ConvertFunc rgb555msb = &convert_16<5, true, false>;
constexpr ConvertFunc rgb555alsb = &convert_16<5, false, true>;
constexpr ConvertFunc rgb555amsb = &convert_16<5, true, true>;
constexpr ConvertFunc rgb565lsb = &convert_16<6, false, false>;
constexpr ConvertFunc rgb565msb = &convert_16<6, true, false>;
constexpr ConvertFunc rgb565alsb = &convert_16<6, false, true>;
constexpr ConvertFunc rgb565amsb = &convert_16<6, true, true>;
constexpr ConvertFunc rgb888lsb = &convert_888<false, false>;
constexpr ConvertFunc rgb888msb = &convert_888<true, false>;
constexpr ConvertFunc rgb888alsb = &convert_888<false, true>;
constexpr ConvertFunc rgb888amsb = &convert_888<true, true>;

// Indexed by bank * 4 + (alpha ? 2 : 0) + (MSB first ? 1 : 0).
constexpr std::array<ConvertFunc, 20> convert_map = {
    rgb1,       rgb1,       rgb1a,      rgb1a,
    rgb8,       rgb8,       rgb8a,      rgb8a,
    rgb555lsb,  rgb555msb,  rgb555alsb, rgb555amsb,
    rgb565lsb,  rgb565msb,  rgb565alsb, rgb565amsb,
    rgb888lsb,  rgb888msb,  rgb888alsb, rgb888amsb,
};

// The field of a channel moved to the top of a 32-bit word; 0 for a precision of 0 or a field
// that does not fit in 32 bits, so no shift ever reaches 32.
guint32 field_at_top (guint32 value, guint32 mask, int shift, int prec)
{
    if (prec <= 0 || shift < 0 || shift + prec > 32) return 0;
    return (value & mask) << (32 - shift - prec);
}

// The top field bits repeated downward to fill 8 bits.
guchar replicate_to_8 (guint32 top, int prec)
{
    if (prec <= 0) return 0;
    guint32 s = 0;
    for (int sh = 24; sh < 32; sh += prec) s |= top >> sh;
    return guchar (s);
}

void convert_real_slow (GdkImage *image, guchar *pixels, int rowstride, bool alpha,
                        const GdkColormap *cmap, const GdkVisual *v)
{
    const int masks_prec[3] = {v->red_prec, v->green_prec, v->blue_prec};
    const int shifts[3] = {v->red_shift, v->green_shift, v->blue_shift};
    const guint32 masks[3] = {v->red_mask, v->green_mask, v->blue_mask};
    for (int y = 0; y < image->height; ++y) {
        guchar *o = pixels + std::ptrdiff_t (y) * rowstride;
        for (int x = 0; x < image->width; ++x) {
            const guint32 value = gdk_image_get_pixel (image, x, y);
            Rgba c{0, 0, 0, 255};
            if (v->type == GDK_VISUAL_TRUE_COLOR) {
                for (int i = 0; i < 3; ++i)
                    c[size_t (i)] = replicate_to_8 (
                        field_at_top (value, masks[i], shifts[i], masks_prec[i]), masks_prec[i]);
            } else if (v->type == GDK_VISUAL_DIRECT_COLOR) {
                // Each channel's field value indexes that channel's cells. (Taking the field's
                // top 8 bits instead would only be right for 8-bit channels.)
                for (int i = 0; i < 3; ++i) {
                    if (masks_prec[i] <= 0 || shifts[i] < 0 || shifts[i] >= 32) continue;
                    const guint32 index = (value & masks[i]) >> shifts[i];
                    c[size_t (i)] = palette_entry (cmap, index)[size_t (i)];
                }
            } else {
                c = palette_entry (cmap, value);
            }
            o = alpha ? put<true> (o, c) : put<false> (o, c);
        }
    }
}

}  // namespace

namespace tamba::detail {

int convert_index (const GdkImage *image, const GdkVisual *v, bool alpha)
{
    int bank = -1;
    if (v->type == GDK_VISUAL_TRUE_COLOR) {
        const bool m565 = v->red_mask == 0xf800 && v->green_mask == 0x07e0 && v->blue_mask == 0x001f;
        const bool m555 = v->red_mask == 0x7c00 && v->green_mask == 0x03e0 && v->blue_mask == 0x001f;
        const bool m888 = v->red_mask == 0xff0000 && v->green_mask == 0x00ff00
                          && v->blue_mask == 0x0000ff;
        if (image->depth == 16 && m565 && image->bpp == 16)
            bank = 3;
        else if (image->depth == 15 && m555 && image->bpp == 16)
            bank = 2;
        else if ((image->depth == 24 || image->depth == 32) && m888 && image->bpp == 32)
            bank = 4;
    } else if (v->type >= GDK_VISUAL_STATIC_GRAY && v->type <= GDK_VISUAL_PSEUDO_COLOR) {
        if (image->bpp == 1)
            bank = 0;
        else if (image->bpp == 8)
            bank = 1;
    }
    if (bank < 0) return -1;
    return bank * 4 + (alpha ? 2 : 0) + (image->byte_order == GDK_MSB_FIRST ? 1 : 0);
}

void convert_with_visual (GdkImage *image, guchar *pixels, int rowstride, bool alpha,
                          GdkColormap *cmap, const GdkVisual *visual)
{
    const int index = convert_index (image, visual, alpha);
    if (index >= 0)
        convert_map[size_t (index)] (image, pixels, rowstride, cmap);
    else
        convert_real_slow (image, pixels, rowstride, alpha, cmap, visual);
}

}  // namespace tamba::detail

extern "C" Tamba *tamba_get_from_drawable (Tamba *dest, GdkDrawable *src, GdkColormap *cmap,
                                           int src_x, int src_y, int dest_x, int dest_y,
                                           int width, int height)
{
    TAMBA_RETURN_VAL_IF_FAIL (src != nullptr, "src != NULL", nullptr);
    const bool is_window = gdk_window_get_type (src) != GDK_WINDOW_PIXMAP;
    if (is_window)
        TAMBA_RETURN_VAL_IF_FAIL (gdk_window_is_viewable (src), "gdk_window_is_viewable (src)",
                                  nullptr);
    else
        TAMBA_RETURN_VAL_IF_FAIL (cmap != nullptr, "cmap != NULL", nullptr);
    if (dest) {
        TAMBA_RETURN_VAL_IF_FAIL (dest->colorspace == GDK_COLORSPACE_RGB,
                                  "dest->colorspace == GDK_COLORSPACE_RGB", nullptr);
        TAMBA_RETURN_VAL_IF_FAIL (dest->n_channels == 3 || dest->n_channels == 4,
                                  "dest->n_channels == 3 || dest->n_channels == 4", nullptr);
        TAMBA_RETURN_VAL_IF_FAIL (dest->bits_per_sample == 8, "dest->bits_per_sample == 8",
                                  nullptr);
    } else {
        TAMBA_RETURN_VAL_IF_FAIL (dest_x == 0 && dest_y == 0, "dest_x == 0 && dest_y == 0",
                                  nullptr);
    }
    // An empty or negative rectangle has nothing to capture and would make no image.
    TAMBA_RETURN_VAL_IF_FAIL (width > 0 && height > 0, "width > 0 && height > 0", nullptr);

    gint src_width = 0, src_height = 0;
    gdk_window_get_size (src, &src_width, &src_height);
    TAMBA_RETURN_VAL_IF_FAIL (src_x >= 0 && src_y >= 0, "src_x >= 0 && src_y >= 0", nullptr);
    TAMBA_RETURN_VAL_IF_FAIL (std::int64_t (src_x) + width <= src_width
                                  && std::int64_t (src_y) + height <= src_height,
                              "src_x + width <= src_width && src_y + height <= src_height",
                              nullptr);
    if (dest) {
        TAMBA_RETURN_VAL_IF_FAIL (dest_x >= 0 && dest_y >= 0, "dest_x >= 0 && dest_y >= 0",
                                  nullptr);
        TAMBA_RETURN_VAL_IF_FAIL (std::int64_t (dest_x) + width <= dest->width,
                                  "dest_x + width <= dest->width", nullptr);
        TAMBA_RETURN_VAL_IF_FAIL (std::int64_t (dest_y) + height <= dest->height,
                                  "dest_y + height <= dest->height", nullptr);
    }
    if (is_window) {
        gint xorigin = 0, yorigin = 0;
        const gint ret = gdk_window_get_origin (src, &xorigin, &yorigin);
        TAMBA_RETURN_VAL_IF_FAIL (ret != FALSE, "ret != FALSE", nullptr);
        const std::int64_t screen_srcx = std::int64_t (xorigin) + src_x;
        const std::int64_t screen_srcy = std::int64_t (yorigin) + src_y;
        const gint screen_width = gdk_screen_width (), screen_height = gdk_screen_height ();
        TAMBA_RETURN_VAL_IF_FAIL (screen_srcx >= 0 && screen_srcy >= 0,
                                  "screen_srcx >= 0 && screen_srcy >= 0", nullptr);
        TAMBA_RETURN_VAL_IF_FAIL (screen_srcx + width <= screen_width,
                                  "screen_srcx + width <= screen_width", nullptr);
        TAMBA_RETURN_VAL_IF_FAIL (screen_srcy + height <= screen_height,
                                  "screen_srcy + height <= screen_height", nullptr);
    }

    GdkImage *image = gdk_image_get (src, src_x, src_y, width, height);
    if (!image) return nullptr;
    if (is_window) cmap = gdk_window_get_colormap (src);
    GdkVisual *visual = cmap ? gdk_colormap_get_visual (cmap) : nullptr;
    // The image must hold the whole rectangle; anything else is a fetch that failed.
    if (!visual || image->width != width || image->height != height) {
        gdk_image_destroy (image);
        return nullptr;
    }

    const bool made_dest = dest == nullptr;
    if (made_dest) {
        dest = tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, width, height);
        if (!dest) {
            gdk_image_destroy (image);
            return nullptr;
        }
    }
    guchar *pixels = dest->pixels + std::ptrdiff_t (dest_y) * dest->rowstride
                     + std::ptrdiff_t (dest_x) * (dest->has_alpha ? 4 : 3);
    tamba::detail::convert_with_visual (image, pixels, dest->rowstride, dest->has_alpha, cmap,
                                        visual);
    gdk_image_destroy (image);
    return dest;
}
