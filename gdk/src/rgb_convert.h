// SPDX-License-Identifier: LGPL-2.1-or-later
// RGB -> pixel memory for a described pixel format. Pure: no X calls, so every format (both byte
// orders, packed 24 bits, 1 and 4 bits per pixel) can be tested without a server.
#ifndef GDK_SRC_RGB_CONVERT_H
#define GDK_SRC_RGB_CONVERT_H

#include <glib.h>

#include <gdk/gdkrgb.h>
#include <gdk/gdktypes.h>

#include <array>
#include <cstdint>
#include <vector>

namespace gdkl {

enum class PixelKind { kTrue, kCube, kGrey };

struct PixelFormat {
    PixelKind kind = PixelKind::kTrue;
    int depth = 24;
    int bpp = 32;                        // 1, 4, 8, 16, 24 or 32
    GdkByteOrder byte_order = GDK_LSB_FIRST;
    GdkByteOrder bit_order = GDK_LSB_FIRST;  // bits of 1-bpp pixels within a byte
    // kTrue: per channel (red, green, blue) shift and precision.
    std::array<int, 3> shift{16, 8, 0};
    std::array<int, 3> prec{8, 8, 8};
    // kCube: shades per channel and the pixel of each cube entry, red outermost.
    std::array<int, 3> cube_shades{};
    std::vector<guint32> cube_pixels;
    // kGrey: number of levels, and the pixel of each level (empty: pixel = level).
    int grey_levels = 0;
    std::vector<guint32> grey_pixels;
};

// The 8x8 ordered-dither matrix, entries 0..63.
const std::array<std::array<guint8, 8>, 8> &bayer_matrix ();

// Level (0 .. levels - 1) of an 8-bit sample, for matrix entry m (dithered) or nearest/truncated.
int quantize_dithered (int v, int levels, int m);

// Converts rows of packed 8-bit RGB into pixel memory of one format.
class RgbConverter {
public:
    explicit RgbConverter (PixelFormat format);

    const PixelFormat &format () const { return format_; }
    // Whether this dither mode dithers this format.
    bool dithers (GdkRgbDither dither) const;
    // The undithered pixel of one colour.
    guint32 pixel (int r, int g, int b) const;
    // Converts width x height pixels; (dx, dy) is the position of the first pixel in the dither
    // pattern (its drawable coordinates plus the dither offsets).
    void convert (const guchar *rgb, int rowstride, int width, int height, guchar *out,
                  int out_bpl, GdkRgbDither dither, int dx, int dy) const;

private:
    guint32 dithered_pixel (int r, int g, int b, int m) const;
    void store_row (const guint32 *pixels, int width, guchar *out) const;
    template <typename Pixel>
    void convert_true_native (const guchar *rgb, int rowstride, int width, int height,
                              guchar *out, int out_bpl, guint32 depth_mask) const;

    PixelFormat format_;
    std::array<std::array<guint32, 256>, 3> true_part_{};  // kTrue: channel field already shifted
    std::array<std::array<guint8, 256>, 3> shade_{};       // kCube: nearest shade per channel
    bool dither_max_ = false;     // DITHER_MAX dithers
    bool dither_normal_ = false;  // DITHER_NORMAL dithers
};

}  // namespace gdkl

#endif  // GDK_SRC_RGB_CONVERT_H
