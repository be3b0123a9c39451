// SPDX-License-Identifier: LGPL-2.1-or-later
// RGB -> pixel conversion with an 8x8 ordered dither.
#include "rgb_convert.h"

#include <cstring>
#include <utility>

namespace gdkl {

namespace {

// A channel field of prec bits from an 8-bit sample: truncation up to 8 bits, the sample's bits
// repeated downward above 8 so that 255 fills the field.
guint32 true_field (int v, int prec)
{
    if (prec <= 0) return 0;
    if (prec <= 8) return guint32 (v) >> (8 - prec);
    guint32 f = 0;
    int filled = 0;
    while (filled < prec) {
        const int take = prec - filled < 8 ? prec - filled : 8;
        f = (f << take) | (guint32 (v) >> (8 - take));
        filled += take;
    }
    return f;
}

int grey_of (int r, int g, int b)
{
    return (r + 2 * g + b + 2) / 4;
}

int nearest_level (int v, int levels)
{
    return (v * (levels - 1) + 127) / 255;
}

}  // namespace

const std::array<std::array<guint8, 8>, 8> &bayer_matrix ()
{
    static const auto matrix = [] {
        std::array<std::array<guint8, 8>, 8> m{};
        // Doubling from the 1x1 matrix {0}: quadrants 4A, 4A + 2 / 4A + 3, 4A + 1.
        for (int size = 1; size < 8; size *= 2) {
            for (int y = size - 1; y >= 0; --y)
                for (int x = size - 1; x >= 0; --x) {
                    const int a = 4 * m[y][x];
                    m[y][x] = guint8 (a);
                    m[y][x + size] = guint8 (a + 2);
                    m[y + size][x] = guint8 (a + 3);
                    m[y + size][x + size] = guint8 (a + 1);
                }
        }
        return m;
    }();
    return matrix;
}

int quantize_dithered (int v, int levels, int m)
{
    return (v * (levels - 1) * 128 + (2 * m + 1) * 255) / (255 * 128);
}

RgbConverter::RgbConverter (PixelFormat format) : format_ (std::move (format))
{
    const PixelFormat &f = format_;
    switch (f.kind) {
    case PixelKind::kTrue: {
        bool below_8 = false;
        for (int c = 0; c < 3; ++c) {
            below_8 = below_8 || f.prec[c] < 8;
            for (int v = 0; v < 256; ++v) true_part_[c][v] = true_field (v, f.prec[c]) << f.shift[c];
        }
        dither_max_ = below_8;
        break;
    }
    case PixelKind::kCube:
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 256; ++v) shade_[c][v] = guint8 (nearest_level (v, f.cube_shades[c]));
        dither_max_ = dither_normal_ = true;
        break;
    case PixelKind::kGrey:
        dither_max_ = dither_normal_ = f.grey_levels < 256;
        break;
    }
}

bool RgbConverter::dithers (GdkRgbDither dither) const
{
    return dither == GDK_RGB_DITHER_MAX ? dither_max_
                                        : dither == GDK_RGB_DITHER_NORMAL && dither_normal_;
}

guint32 RgbConverter::pixel (int r, int g, int b) const
{
    const PixelFormat &f = format_;
    switch (f.kind) {
    case PixelKind::kTrue: return true_part_[0][r] | true_part_[1][g] | true_part_[2][b];
    case PixelKind::kCube:
        return f.cube_pixels[size_t ((shade_[0][r] * f.cube_shades[1] + shade_[1][g])
                                         * f.cube_shades[2]
                                     + shade_[2][b])];
    case PixelKind::kGrey: {
        const int k = nearest_level (grey_of (r, g, b), f.grey_levels);
        return f.grey_pixels.empty () ? guint32 (k) : f.grey_pixels[size_t (k)];
    }
    }
    return 0;
}

guint32 RgbConverter::dithered_pixel (int r, int g, int b, int m) const
{
    const PixelFormat &f = format_;
    // Red and blue follow the matrix, green its complement, so the channels do not step together.
    const int mc[3] = {m, 63 - m, m};
    const int v[3] = {r, g, b};
    switch (f.kind) {
    case PixelKind::kTrue: {
        guint32 p = 0;
        for (int c = 0; c < 3; ++c) {
            const guint32 field = f.prec[c] <= 8
                                      ? guint32 (quantize_dithered (v[c], 1 << f.prec[c], mc[c]))
                                      : true_field (v[c], f.prec[c]);
            p |= field << f.shift[c];
        }
        return p;
    }
    case PixelKind::kCube: {
        int k[3];
        for (int c = 0; c < 3; ++c) k[c] = quantize_dithered (v[c], f.cube_shades[c], mc[c]);
        return f.cube_pixels[size_t ((k[0] * f.cube_shades[1] + k[1]) * f.cube_shades[2] + k[2])];
    }
    case PixelKind::kGrey: {
        const int k = quantize_dithered (grey_of (r, g, b), f.grey_levels, m);
        return f.grey_pixels.empty () ? guint32 (k) : f.grey_pixels[size_t (k)];
    }
    }
    return 0;
}

void RgbConverter::store_row (const guint32 *pixels, int width, guchar *out) const
{
    const PixelFormat &f = format_;
    const bool msb = f.byte_order == GDK_MSB_FIRST;
    switch (f.bpp) {
    case 8:
        for (int i = 0; i < width; ++i) out[i] = guchar (pixels[i]);
        break;
    case 16:
        for (int i = 0; i < width; ++i, out += 2) {
            const guint32 p = pixels[i];
            out[msb ? 1 : 0] = guchar (p);
            out[msb ? 0 : 1] = guchar (p >> 8);
        }
        break;
    case 24:
        for (int i = 0; i < width; ++i, out += 3) {
            const guint32 p = pixels[i];
            out[msb ? 2 : 0] = guchar (p);
            out[1] = guchar (p >> 8);
            out[msb ? 0 : 2] = guchar (p >> 16);
        }
        break;
    case 32:
        if (!msb && G_BYTE_ORDER == G_LITTLE_ENDIAN) {
            std::memcpy (out, pixels, size_t (width) * 4);
            break;
        }
        for (int i = 0; i < width; ++i, out += 4) {
            const guint32 p = pixels[i];
            out[msb ? 3 : 0] = guchar (p);
            out[msb ? 2 : 1] = guchar (p >> 8);
            out[msb ? 1 : 2] = guchar (p >> 16);
            out[msb ? 0 : 3] = guchar (p >> 24);
        }
        break;
    case 4:
        // Nibble order follows the byte order.
        for (int i = 0; i < width; ++i) {
            guchar &byte = out[i / 2];
            const bool high = (i % 2 == 0) == msb;
            const guchar nib = guchar (pixels[i] & 0x0f);
            byte = high ? guchar ((byte & 0x0f) | (nib << 4)) : guchar ((byte & 0xf0) | nib);
        }
        break;
    case 1:
        for (int i = 0; i < width; ++i) {
            const guchar bit = f.bit_order == GDK_MSB_FIRST ? guchar (0x80 >> (i % 8))
                                                            : guchar (1 << (i % 8));
            if (pixels[i] & 1)
                out[i / 8] |= bit;
            else
                out[i / 8] &= guchar (~bit);
        }
        break;
    default: break;
    }
}

template <typename Pixel>
void RgbConverter::convert_true_native (const guchar *rgb, int rowstride, int width, int height,
                                        guchar *out, int out_bpl, guint32 depth_mask) const
{
    const auto &tr = true_part_[0], &tg = true_part_[1], &tb = true_part_[2];
    for (int y = 0; y < height; ++y) {
        const guchar *s = rgb + std::ptrdiff_t (y) * rowstride;
        guchar *o = out + std::ptrdiff_t (y) * out_bpl;
        for (int i = 0; i < width; ++i, s += 3, o += sizeof (Pixel)) {
            const Pixel p = Pixel ((tr[s[0]] | tg[s[1]] | tb[s[2]]) & depth_mask);
            std::memcpy (o, &p, sizeof p);
        }
    }
}

void RgbConverter::convert (const guchar *rgb, int rowstride, int width, int height, guchar *out,
                            int out_bpl, GdkRgbDither dither, int dx, int dy) const
{
    if (width < 1 || height < 1) return;
    const bool dith = dithers (dither);
    const auto &matrix = bayer_matrix ();
    const guint32 depth_mask = format_.depth >= 32 ? 0xffffffffu : (1u << format_.depth) - 1;
    const bool native_order = (format_.byte_order == GDK_LSB_FIRST) == (G_BYTE_ORDER == G_LITTLE_ENDIAN);
    if (!dith && format_.kind == PixelKind::kTrue && native_order
        && (format_.bpp == 32 || format_.bpp == 16)) {
        // The common case, written straight into the output: a table lookup per channel.
        if (format_.bpp == 32)
            convert_true_native<guint32> (rgb, rowstride, width, height, out, out_bpl, depth_mask);
        else
            convert_true_native<guint16> (rgb, rowstride, width, height, out, out_bpl, depth_mask);
        return;
    }
    std::vector<guint32> row (size_t (width), 0);
    for (int y = 0; y < height; ++y) {
        const guchar *s = rgb + std::ptrdiff_t (y) * rowstride;
        if (!dith && format_.kind == PixelKind::kTrue) {
            for (int i = 0; i < width; ++i, s += 3)
                row[size_t (i)] = (true_part_[0][s[0]] | true_part_[1][s[1]] | true_part_[2][s[2]])
                                  & depth_mask;
        } else if (!dith) {
            for (int i = 0; i < width; ++i, s += 3) row[size_t (i)] = pixel (s[0], s[1], s[2]) & depth_mask;
        } else {
            const auto &mrow = matrix[size_t ((dy + y) & 7)];
            for (int i = 0; i < width; ++i, s += 3)
                row[size_t (i)] = dithered_pixel (s[0], s[1], s[2], mrow[size_t ((dx + i) & 7)])
                                  & depth_mask;
        }
        store_row (row.data (), width, out + std::ptrdiff_t (y) * out_bpl);
    }
}

}  // namespace gdkl
