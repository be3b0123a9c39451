// SPDX-License-Identifier: LGPL-2.1-or-later
// Nearest-neighbour paths: each destination pixel takes the one source pixel under its centre.
// Sampling positions outside the source are clamped to its edge rows and columns.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "pixops/pixops-fixed.h"
#include "pixops/pixops-kernels.h"
#include "pixops/pixops-private.h"
#include "pixops/pixops-simd.h"

namespace tamba::detail {

namespace {

struct Grid {
    std::int64_t x_step, y_step, width, height;
};

Grid grid_of (const PixopsPass &pass)
{
    return {pixops_step (pass.scale_x), pixops_step (pass.scale_y),
            std::max<std::int64_t> (0, std::int64_t (pass.render_x1) - pass.render_x0),
            std::max<std::int64_t> (0, std::int64_t (pass.render_y1) - pass.render_y0)};
}

const guchar *source_row (const PixopsPass &pass, const Grid &grid, std::int64_t i)
{
    const std::int64_t y = fx::pixel ((pass.render_y0 + i) * grid.y_step + grid.y_step / 2);
    return pass.src_buf + std::clamp<std::int64_t> (y, 0, pass.src_height - 1) *
                              std::ptrdiff_t (pass.src_rowstride);
}

guchar *dest_row (const PixopsPass &pass, std::int64_t i)
{
    return pass.dest_buf + i * std::ptrdiff_t (pass.dest_rowstride);
}

// Calls pixel (j, d, p) for every column j of a row: the columns left of the source take its
// first pixel, those right of it its last, and only the middle ones step through it, so the
// interior needs no clamp per pixel. A run (d, p, count) that returns true has done the middle
// columns itself.
template <int SrcChannels, int DestChannels, typename Pixel, typename Run>
inline void walk_row (const PixopsPass &pass, const Grid &grid, const guchar *src, guchar *dest,
                      Pixel &&pixel, Run &&run)
{
    const std::int64_t x0 = pass.render_x0 * grid.x_step + grid.x_step / 2;
    const std::int64_t end = std::int64_t (pass.src_width) << fx::kShift;
    const std::int64_t j_lo =
        std::clamp<std::int64_t> (fx::ceil_div (-x0, grid.x_step), 0, grid.width);
    const std::int64_t j_hi =
        std::clamp<std::int64_t> (fx::ceil_div (end - x0, grid.x_step), j_lo, grid.width);
    std::int64_t j = 0;
    for (; j < j_lo; j++) pixel (j, dest + j * DestChannels, src);
    std::int64_t x = x0 + j_lo * grid.x_step;
    if (j < j_hi &&
        run (dest + j * DestChannels, src + fx::pixel (x) * SrcChannels, j_hi - j)) {
        j = j_hi;
    }
    for (; j < j_hi; j++, x += grid.x_step)
        pixel (j, dest + j * DestChannels, src + fx::pixel (x) * SrcChannels);
    const guchar *last = src + std::ptrdiff_t (pass.src_width - 1) * SrcChannels;
    for (; j < grid.width; j++) pixel (j, dest + j * DestChannels, last);
}

template <int SrcChannels, int DestChannels, typename Pixel>
inline void walk_row (const PixopsPass &pass, const Grid &grid, const guchar *src, guchar *dest,
                      Pixel &&pixel)
{
    walk_row<SrcChannels, DestChannels> (pass, grid, src, dest, pixel,
                                         [] (guchar *, const guchar *, std::int64_t) {
                                             return false;
                                         });
}

template <int SrcChannels, int DestChannels>
void scale_rows (const PixopsPass &pass, const Grid &grid)
{
    // At scale 1 the in-range part of a row is one contiguous copy.
    const bool unit_copy = grid.x_step == fx::kOne && SrcChannels == DestChannels;
    // A row is a function of its source row alone, so when enlarging vertically a row that
    // samples the same source row as the one above is a copy of it (if the rows do not overlap).
    const std::size_t row_bytes = std::size_t (grid.width) * DestChannels;
    const bool rows_apart = std::uint64_t (std::abs (std::int64_t (pass.dest_rowstride))) >=
                            row_bytes;
    // Whole rows at scale 1 between separate buffers without row padding: one copy of the
    // block, which lets memcpy stream a large one.
    const std::size_t block = row_bytes * std::size_t (grid.height);
    if (unit_copy && grid.y_step == fx::kOne && pass.render_x0 == 0 && pass.render_y0 >= 0 &&
        std::int64_t (pass.render_x1) == pass.src_width &&
        std::int64_t (pass.render_y1) <= pass.src_height &&
        std::int64_t (pass.dest_rowstride) == std::int64_t (row_bytes) &&
        pass.src_rowstride == pass.dest_rowstride) {
        const guchar *from = source_row (pass, grid, 0);
        if (pass.dest_buf + block <= from || from + block <= pass.dest_buf) {
            std::memcpy (pass.dest_buf, from, block);
            return;
        }
    }
    const guchar *previous_src = nullptr;
    for (std::int64_t i = 0; i < grid.height; i++) {
        const guchar *src = source_row (pass, grid, i);
        guchar *dest = dest_row (pass, i);
        if (src == previous_src && rows_apart) {
            std::memcpy (dest, dest_row (pass, i - 1), row_bytes);
            continue;
        }
        previous_src = src;
        if (unit_copy && pass.render_x0 >= 0 &&
            std::int64_t (pass.render_x1) <= std::int64_t (pass.src_width)) {
            std::memcpy (dest, src + std::ptrdiff_t (pass.render_x0) * SrcChannels, row_bytes);
            continue;
        }
        walk_row<SrcChannels, DestChannels> (
            pass, grid, src, dest, [] (std::int64_t, guchar *d, const guchar *p) {
                if constexpr (SrcChannels == 4 && DestChannels == 4) {
                    std::memcpy (d, p, 4);
                } else {
                    d[0] = p[0];
                    d[1] = p[1];
                    d[2] = p[2];
                    if constexpr (DestChannels == 4) d[3] = 255;
                }
            });
    }
}

// Source over destination for one effective alpha a0 (1..254 when the destination has alpha).
template <bool DestAlpha>
inline void blend_over (guchar *d, const guchar *p, guint a0)
{
    if constexpr (DestAlpha) {
        const guint w0 = 255 * a0;
        const guint w1 = (255 - a0) * d[3];
        const guint w = w0 + w1;
        for (int ch = 0; ch < 3; ch++) d[ch] = guchar ((w0 * p[ch] + w1 * d[ch]) / w);
        d[3] = guchar (w / 255);
    } else {
        // Exact at a0 = 0 and 255 as well, so this path needs no branch on the alpha.
        for (int ch = 0; ch < 3; ch++) d[ch] = kernels::blend_rounded (a0, p[ch], d[ch]);
    }
}

// FullOpacity: overall_alpha is 255, so the effective alpha is the source's own.
template <int SrcChannels, bool SrcAlpha, int DestChannels, bool DestAlpha, bool FullOpacity>
void composite_rows_at (const PixopsPass &pass, const Grid &grid, int overall_alpha)
{
    // RGBA over an opaque destination at a unit step: the interior is consecutive pixels,
    // blended in bulk.
    constexpr bool kBulk = SrcAlpha && FullOpacity && !DestAlpha;
    const bool unit_step = grid.x_step == fx::kOne;
    const PixopsRunFunc over = DestChannels == 3 ? kernel_table ().over_rgb_rounded
                                                 : kernel_table ().over_rgbx_rounded;
    for (std::int64_t i = 0; i < grid.height; i++) {
        walk_row<SrcChannels, DestChannels> (
            pass, grid, source_row (pass, grid, i), dest_row (pass, i),
            [overall_alpha] (std::int64_t, guchar *d, const guchar *p) {
                const guint a0 = !SrcAlpha     ? guint (overall_alpha)
                                 : FullOpacity ? guint (p[3])
                                               : guint (p[3] * overall_alpha) / 255;
                if constexpr (!DestAlpha) {
                    blend_over<false> (d, p, a0);
                    return;
                }
                if (a0 == 0) return;
                if (a0 == 255) {
                    d[0] = p[0];
                    d[1] = p[1];
                    d[2] = p[2];
                    if constexpr (DestAlpha) d[3] = 255;
                    return;
                }
                blend_over<DestAlpha> (d, p, a0);
            },
            [unit_step, over] (guchar *d, const guchar *p, std::int64_t count) {
                if (!kBulk || !unit_step) return false;
                over (d, p, count);
                return true;
            });
    }
}

template <int SrcChannels, bool SrcAlpha, int DestChannels, bool DestAlpha>
void composite_rows (const PixopsPass &pass, const Grid &grid, int overall_alpha)
{
    if (overall_alpha == 255)
        composite_rows_at<SrcChannels, SrcAlpha, DestChannels, DestAlpha, true> (pass, grid, 255);
    else
        composite_rows_at<SrcChannels, SrcAlpha, DestChannels, DestAlpha, false> (pass, grid,
                                                                                 overall_alpha);
}

template <int SrcChannels, bool SrcAlpha, int DestChannels>
void composite_color_rows (const PixopsPass &pass, const Grid &grid, int overall_alpha)
{
    const int check_shift = get_check_shift (pass.check_size);
    for (std::int64_t i = 0; i < grid.height; i++) {
        const bool odd_row = ((i + pass.check_y) >> check_shift) & 1;
        const std::int64_t check_x = pass.check_x;
        walk_row<SrcChannels, DestChannels> (
            pass, grid, source_row (pass, grid, i), dest_row (pass, i),
            [&] (std::int64_t j, guchar *d, const guchar *p) {
                const bool odd_column = ((j + check_x) >> check_shift) & 1;
                const guint32 c = odd_row == odd_column ? pass.color1 : pass.color2;
                const int check[3] = {int ((c & 0xff0000) >> 16), int ((c & 0xff00) >> 8),
                                      int (c & 0xff)};
                const int a0 = SrcAlpha ? (p[3] * overall_alpha + 0xff) >> 8 : overall_alpha;
                for (int ch = 0; ch < 3; ch++) {
                    if (a0 == 0) {
                        d[ch] = guchar (check[ch]);
                    } else if (a0 == 255) {
                        d[ch] = p[ch];
                    } else {
                        const int tmp = (p[ch] - check[ch]) * a0;
                        d[ch] = guchar (check[ch] + ((tmp + (tmp >> 8) + 0x80) >> 8));
                    }
                }
                if constexpr (DestChannels == 4) d[3] = 255;
            });
    }
}

template <template <int, bool, int, bool> class Rows, typename... Args>
void dispatch_layouts (const PixopsPass &pass, Args... args)
{
    const int s = pass.src_channels == 3 ? 0 : pass.src_has_alpha ? 2 : 1;
    const int d = pass.dest_channels == 3 ? 0 : pass.dest_has_alpha ? 2 : 1;
    switch (s * 3 + d) {
    case 0: Rows<3, false, 3, false>::run (pass, args...); break;
    case 1: Rows<3, false, 4, false>::run (pass, args...); break;
    case 2: Rows<3, false, 4, true>::run (pass, args...); break;
    case 3: Rows<4, false, 3, false>::run (pass, args...); break;
    case 4: Rows<4, false, 4, false>::run (pass, args...); break;
    case 5: Rows<4, false, 4, true>::run (pass, args...); break;
    case 6: Rows<4, true, 3, false>::run (pass, args...); break;
    case 7: Rows<4, true, 4, false>::run (pass, args...); break;
    default: Rows<4, true, 4, true>::run (pass, args...); break;
    }
}

template <int S, bool SA, int D, bool DA>
struct ScaleRows {
    static void run (const PixopsPass &pass) { scale_rows<S, D> (pass, grid_of (pass)); }
};
template <int S, bool SA, int D, bool DA>
struct CompositeRows {
    static void run (const PixopsPass &pass, int overall_alpha)
    {
        composite_rows<S, SA, D, DA> (pass, grid_of (pass), overall_alpha);
    }
};
template <int S, bool SA, int D, bool DA>
struct CompositeColorRows {
    static void run (const PixopsPass &pass, int overall_alpha)
    {
        composite_color_rows<S, SA, D> (pass, grid_of (pass), overall_alpha);
    }
};

}  // namespace

// The entry points have checked the layouts (3 or 4 channels, never 3 with alpha) and the steps.
void pixops_scale_nearest (const PixopsPass &pass) { dispatch_layouts<ScaleRows> (pass); }

void pixops_composite_nearest (const PixopsPass &pass, int overall_alpha)
{
    dispatch_layouts<CompositeRows> (pass, overall_alpha);
}

void pixops_composite_color_nearest (const PixopsPass &pass, int overall_alpha)
{
    dispatch_layouts<CompositeColorRows> (pass, overall_alpha);
}

}  // namespace tamba::detail
