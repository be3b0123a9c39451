// SPDX-License-Identifier: LGPL-2.1-or-later
// Integer box pre-reduction for reductions whose filter table would exceed the cap: the source is
// averaged over factor_x x factor_y blocks first, so that the filter of the remaining scale fits.
#include <algorithm>
#include <cstdlib>

#include "pixops/pixops-reduce.h"

namespace tamba::detail {

namespace {

constexpr double kBoxTarget = 16;

std::size_t table_bytes (int n_x, int n_y)
{
    return std::size_t (n_x) * std::size_t (n_y) * 1024;
}

}  // namespace

BoxFactors box_factors_for (int (*taps) (double), double scale_x, double scale_y)
{
    if (table_bytes (taps (scale_x), taps (scale_y)) <= kPixopsMaxFilterBytes) return {1, 1};
    // Past the cap every weight is tiny and rounding dominates it, so reduce generously: each
    // axis that shrinks by more than kBoxTarget is averaged down to between 1/16 and 1/8 of
    // its remaining reduction, which leaves a small table of well-resolved weights.
    const auto factor = [] (double scale) {
        return scale * kBoxTarget < 1.0 ? std::max (1, int (1.0 / (kBoxTarget * scale))) : 1;
    };
    return {factor (scale_x), factor (scale_y)};
}

guchar *box_reduce (const PixopsPass &pass, BoxFactors f, int *width, int *height, int *rowstride)
{
    const int w = int ((std::int64_t (pass.src_width) + f.x - 1) / f.x);
    const int h = int ((std::int64_t (pass.src_height) + f.y - 1) / f.y);
    const int channels = pass.src_channels;
    const std::size_t stride = std::size_t (w) * std::size_t (channels);
    if (stride > std::size_t (G_MAXINT)) return nullptr;
    auto *out = static_cast<guchar *> (std::malloc (stride * std::size_t (h)));
    if (!out) return nullptr;

    for (int by = 0; by < h; by++) {
        const int y0 = by * f.y;
        const int y1 = int (std::min<std::int64_t> (std::int64_t (y0) + f.y, pass.src_height));
        for (int bx = 0; bx < w; bx++) {
            const int x0 = bx * f.x;
            const int x1 = int (std::min<std::int64_t> (std::int64_t (x0) + f.x, pass.src_width));
            // Colours are averaged weighted by alpha when there is alpha, so that transparent
            // pixels do not darken the block; every average rounds to nearest.
            std::uint64_t sum[4] = {0, 0, 0, 0};
            std::uint64_t count = 0;
            for (int y = y0; y < y1; y++) {
                const guchar *p = pass.src_buf + std::ptrdiff_t (y) * pass.src_rowstride +
                                  std::ptrdiff_t (x0) * channels;
                for (int x = x0; x < x1; x++, p += channels, count++) {
                    const std::uint64_t weight = pass.src_has_alpha ? p[3] : 1;
                    for (int ch = 0; ch < 3; ch++) sum[ch] += weight * p[ch];
                    if (channels == 4) sum[3] += p[3];
                }
            }
            guchar *d = out + std::size_t (by) * stride + std::size_t (bx) * channels;
            const std::uint64_t colour_weight = pass.src_has_alpha ? sum[3] : count;
            for (int ch = 0; ch < 3; ch++)
                d[ch] = colour_weight ? guchar ((sum[ch] + colour_weight / 2) / colour_weight) : 0;
            if (channels == 4) d[3] = guchar ((sum[3] + count / 2) / count);
        }
    }
    *width = w;
    *height = h;
    *rowstride = int (stride);
    return out;
}

}  // namespace tamba::detail
