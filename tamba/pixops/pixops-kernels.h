// SPDX-License-Identifier: LGPL-2.1-or-later
// The innermost arithmetic of the filtered paths, as templates over the source and destination
// layouts, so that the interior of a row runs with no branch on the layout and no indirect call.
// A later SIMD variant replaces one instantiation at a time and must give the same bytes.
#ifndef TAMBA_PIXOPS_PIXOPS_KERNELS_H
#define TAMBA_PIXOPS_PIXOPS_KERNELS_H

#include <cstdint>

#include "pixops/pixops-fixed.h"
#include "pixops/pixops-private.h"

namespace tamba::detail::kernels {

struct Sums {
    guint r, g, b, a;
};

// Sums the n_x x n_y taps of one pixel whose first column is x_scaled. With AlphaWeighted each
// tap counts as weight times its alpha (or 255 without alpha), as compositing needs; without, the
// plain weights, as scaling an opaque source needs. Taps > 0 fixes the filter size at compile
// time (Taps x Taps), so the tap loops unroll; 0 takes n_x and n_y as given.
template <int SrcChannels, bool SrcAlpha, bool AlphaWeighted, int Taps>
inline Sums gather (const int *pixel_weights, int n_x_given, int n_y_given,
                    const guchar *const *src, std::int64_t x_scaled) noexcept
{
    const int n_x = Taps ? Taps : n_x_given, n_y = Taps ? Taps : n_y_given;
    Sums s{0, 0, 0, 0};
    for (int i = 0; i < n_y; i++) {
        const guchar *q = src[i] + x_scaled * SrcChannels;
        const int *row_weights = pixel_weights + i * n_x;
        for (int j = 0; j < n_x; j++, q += SrcChannels) {
            const guint w = guint (row_weights[j]);
            if constexpr (AlphaWeighted) {
                const guint ta = SrcAlpha ? w * q[3] : w * 255;
                s.r += ta * q[0];
                s.g += ta * q[1];
                s.b += ta * q[2];
                s.a += ta;
            } else {
                s.r += w * q[0];
                s.g += w * q[1];
                s.b += w * q[2];
            }
        }
    }
    return s;
}

// Scaling a source with alpha: the alpha-weighted mean colour, truncated; coverage a >> 16.
inline void write_scaled_alpha (guchar *dest, const Sums &s) noexcept
{
    if (s.a != 0) {
        dest[0] = guchar (s.r / s.a);
        dest[1] = guchar (s.g / s.a);
        dest[2] = guchar (s.b / s.a);
        dest[3] = guchar (s.a >> 16);
    } else {
        dest[0] = dest[1] = dest[2] = dest[3] = 0;
    }
}

// One channel of a source pixel with alpha a over an opaque destination value d: the quotient
// (a * p + (255 - a) * d) / 255 rounded to nearest, exact at a = 0 and a = 255 as well.
inline guchar blend_rounded (guint a, guint p, guint d) noexcept
{
    const guint tmp = a * p + (255 - a) * d + 0x80;
    return guchar ((tmp + (tmp >> 8)) >> 8);
}

// The same quotient truncated. write_composite gives exactly this for a single tap of weight
// 65536 over an opaque destination: every term carries the factor 65536, which cancels.
inline guchar blend_truncated (guint a, guint p, guint d) noexcept
{
    return guchar ((a * p + (255 - a) * d) / 255);
}

// The same sum divided by 256. composite_line_22_4a4 gives exactly this for a single tap of
// weight 65536 over a 4-byte destination: it divides by 2^24 where the sum carries 65536.
inline guchar blend_shifted (guint a, guint p, guint d) noexcept
{
    return guchar ((a * p + (255 - a) * d) >> 8);
}

// Compositing over the destination's own pixel.
inline void write_composite (guchar *dest, bool dest_has_alpha, const Sums &s) noexcept
{
    if (dest_has_alpha) {
        const guint w0 = s.a - (s.a >> 8);
        const guint w1 = ((fx::kOpaque - s.a) >> 8) * dest[3];
        const guint w = w0 + w1;
        if (w != 0) {
            dest[0] = guchar ((s.r - (s.r >> 8) + w1 * dest[0]) / w);
            dest[1] = guchar ((s.g - (s.g >> 8) + w1 * dest[1]) / w);
            dest[2] = guchar ((s.b - (s.b >> 8) + w1 * dest[2]) / w);
            dest[3] = guchar (w / 0xff00);
        } else {
            dest[0] = dest[1] = dest[2] = dest[3] = 0;
        }
    } else {
        const guint rest = fx::kOpaque - s.a;
        dest[0] = guchar ((s.r + rest * dest[0]) / fx::kOpaque);
        dest[1] = guchar ((s.g + rest * dest[1]) / fx::kOpaque);
        dest[2] = guchar ((s.b + rest * dest[2]) / fx::kOpaque);
    }
}

// Compositing over a check colour (0xRRGGBB); the old destination colour is not read.
inline void write_over_check (guchar *dest, int dest_channels, bool dest_has_alpha,
                              guint32 check, const Sums &s) noexcept
{
    const guint rest = fx::kOpaque - s.a;
    dest[0] = guchar ((rest * ((check >> 16) & 0xff) + s.r) >> 24);
    dest[1] = guchar ((rest * ((check >> 8) & 0xff) + s.g) >> 24);
    dest[2] = guchar ((rest * (check & 0xff) + s.b) >> 24);
    if (dest_has_alpha)
        dest[3] = 255;
    else if (dest_channels == 4)
        dest[3] = guchar (s.a >> 16);
}

template <int SrcChannels, bool SrcAlpha, int DestChannels, bool DestAlpha, int Taps>
guchar *scale_line (const int *weights, int n_x, int n_y, guchar *dest, std::int64_t,
                    guchar *dest_end, int, int, const guchar *const *src, int, gboolean,
                    std::int64_t x, std::int64_t x_step, int, int, guint32, guint32) noexcept
{
    const int matrix = Taps ? Taps * Taps : n_x * n_y;
    for (; dest < dest_end; dest += DestChannels, x += x_step) {
        const int *pixel_weights = weights + fx::phase (x) * matrix;
        if constexpr (SrcAlpha && DestChannels == 4) {
            write_scaled_alpha (dest, gather<SrcChannels, true, true, Taps> (
                                          pixel_weights, n_x, n_y, src, fx::pixel (x)));
        } else {
            // Opaque source: plain weights, rounded up.
            const Sums s = gather<SrcChannels, SrcAlpha, false, Taps> (pixel_weights, n_x, n_y,
                                                                       src, fx::pixel (x));
            dest[0] = guchar ((s.r + 0xffff) >> 16);
            dest[1] = guchar ((s.g + 0xffff) >> 16);
            dest[2] = guchar ((s.b + 0xffff) >> 16);
            if constexpr (DestAlpha) dest[3] = 255;
        }
    }
    return dest;
}

template <int SrcChannels, bool SrcAlpha, int DestChannels, bool DestAlpha, int Taps>
guchar *composite_line (const int *weights, int n_x, int n_y, guchar *dest, std::int64_t,
                        guchar *dest_end, int, int, const guchar *const *src, int, gboolean,
                        std::int64_t x, std::int64_t x_step, int, int, guint32,
                        guint32) noexcept
{
    const int matrix = Taps ? Taps * Taps : n_x * n_y;
    for (; dest < dest_end; dest += DestChannels, x += x_step) {
        const int *pixel_weights = weights + fx::phase (x) * matrix;
        write_composite (dest, DestAlpha,
                         gather<SrcChannels, SrcAlpha, true, Taps> (pixel_weights, n_x, n_y, src,
                                                              fx::pixel (x)));
    }
    return dest;
}

template <int SrcChannels, bool SrcAlpha, int DestChannels, bool DestAlpha, int Taps>
guchar *composite_line_color (const int *weights, int n_x, int n_y, guchar *dest,
                              std::int64_t dest_x, guchar *dest_end, int, int,
                              const guchar *const *src, int, gboolean, std::int64_t x,
                              std::int64_t x_step, int, int check_size, guint32 color1,
                              guint32 color2) noexcept;

}  // namespace tamba::detail::kernels

#endif  // TAMBA_PIXOPS_PIXOPS_KERNELS_H
