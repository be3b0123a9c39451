// SPDX-License-Identifier: LGPL-2.1-or-later
// Line and pixel kernels: the two unrolled 2 x 2 kernels, the checkerboard kernels, the pixel
// kernels of the edge columns, and the tables that pick an instantiation per layout.
#include "pixops/pixops-kernels.h"

#include "pixops/pixops-simd.h"

#include "tamba-private.h"

namespace tamba::detail {

using kernels::Sums;

int get_check_shift (int check_size)
{
    TAMBA_RETURN_VAL_IF_FAIL (check_size >= 0, "check_size >= 0", 4);
    // 0 has no lowest set bit; the entry points refuse it before a checkerboard is drawn.
    return check_size == 0 ? 0 : fx::trailing_zeros (check_size);
}

namespace kernels {

template <int SrcChannels, bool SrcAlpha, int DestChannels, bool DestAlpha, int Taps>
guchar *composite_line_color (const int *weights, int n_x, int n_y, guchar *dest,
                              std::int64_t dest_x, guchar *dest_end, int, int,
                              const guchar *const *src, int, gboolean, std::int64_t x,
                              std::int64_t x_step, int, int check_size, guint32 color1,
                              guint32 color2) noexcept
{
    TAMBA_RETURN_VAL_IF_FAIL (check_size != 0, "check_size != 0", dest);
    const int check_shift = get_check_shift (check_size);
    const int matrix = Taps ? Taps * Taps : n_x * n_y;
    for (; dest < dest_end; dest += DestChannels, x += x_step, dest_x++) {
        const int *pixel_weights = weights + fx::phase (x) * matrix;
        const Sums s =
            gather<SrcChannels, SrcAlpha, true, Taps> (pixel_weights, n_x, n_y, src, fx::pixel (x));
        write_over_check (dest, DestChannels, DestAlpha,
                          ((dest_x >> check_shift) & 1) ? color2 : color1, s);
    }
    return dest;
}

// 2 x 2 filter, RGB to RGB: four weights per phase, rounded to nearest.
guchar *scale_line_22_33 (const int *weights, int, int, guchar *dest, std::int64_t,
                          guchar *dest_end, int, int, const guchar *const *src, int, gboolean,
                          std::int64_t x, std::int64_t x_step, int, int, guint32,
                          guint32) noexcept
{
    const guchar *src0 = src[0];
    const guchar *src1 = src[1];
    for (; dest < dest_end; dest += 3, x += x_step) {
        const int *w = weights + fx::phase (x) * 4;
        const guint w1 = guint (w[0]), w2 = guint (w[1]), w3 = guint (w[2]), w4 = guint (w[3]);
        const guchar *q0 = src0 + 3 * fx::pixel (x);
        const guchar *q1 = src1 + 3 * fx::pixel (x);
        for (int ch = 0; ch < 3; ch++)
            dest[ch] = guchar ((w1 * q0[ch] + w2 * q0[3 + ch] + w3 * q1[ch] + w4 * q1[3 + ch] +
                                0x8000) >> 16);
    }
    return dest;
}

namespace {

// The index of the only non-zero weight of a matrix when that weight is 65536, else -1.
int full_tap (const int *m, int matrix) noexcept
{
    int tap = -1;
    for (int k = 0; k < matrix; k++) {
        if (m[k] == 0) continue;
        if (tap != -1 || m[k] != fx::kOne) return -1;
        tap = k;
    }
    return tap;
}

}  // namespace

// 2 x 2 filter, RGBA over a 4-byte destination; divides by 2^24 and stores the source coverage.
guchar *composite_line_22_4a4 (const int *weights, int, int, guchar *dest, std::int64_t,
                               guchar *dest_end, int, int, const guchar *const *src,
                               int src_channels, gboolean src_has_alpha, std::int64_t x,
                               std::int64_t x_step, int, int, guint32, guint32) noexcept
{
    TAMBA_RETURN_VAL_IF_FAIL (src_channels != 3, "src_channels != 3", dest);
    TAMBA_RETURN_VAL_IF_FAIL (src_has_alpha, "src_has_alpha", dest);
    // A unit step with one full tap (scale 1 at full opacity) is the shifted blend of one source
    // pixel per destination pixel, done in bulk.
    if (const int tap = x_step == fx::kOne && dest < dest_end
                            ? full_tap (weights + fx::phase (x) * 4, 4)
                            : -1;
        tap >= 0) {
        const std::int64_t n = (dest_end - dest + 3) / 4;
        kernel_table ().over_rgbx_shifted (dest, src[tap / 2] + (fx::pixel (x) + tap % 2) * 4, n);
        return dest + n * 4;
    }
    const guchar *src0 = src[0];
    const guchar *src1 = src[1];
    for (; dest < dest_end; dest += 4, x += x_step) {
        const int *pixel_weights = weights + fx::phase (x) * 4;
        const guchar *q0 = src0 + 4 * fx::pixel (x);
        const guchar *q1 = src1 + 4 * fx::pixel (x);
        const guint w1 = guint (pixel_weights[0]) * q0[3];
        const guint w2 = guint (pixel_weights[1]) * q0[7];
        const guint w3 = guint (pixel_weights[2]) * q1[3];
        const guint w4 = guint (pixel_weights[3]) * q1[7];
        const guint a = w1 + w2 + w3 + w4;
        const guint rest = fx::kOpaque - a;
        for (int ch = 0; ch < 3; ch++) {
            const guint sum = w1 * q0[ch] + w2 * q0[4 + ch] + w3 * q1[ch] + w4 * q1[4 + ch];
            dest[ch] = guchar ((rest * dest[ch] + sum) >> 24);
        }
        dest[3] = guchar (a >> 16);
    }
    return dest;
}

// 2 x 2 filter, RGBA over RGBA: the general compositing arithmetic, unrolled.
guchar *composite_line_22_4a4a (const int *weights, int n_x, int n_y, guchar *dest,
                                std::int64_t dest_x, guchar *dest_end, int dest_channels,
                                int dest_has_alpha, const guchar *const *src, int src_channels,
                                gboolean src_has_alpha, std::int64_t x, std::int64_t x_step,
                                int src_width, int check_size, guint32 color1,
                                guint32 color2) noexcept
{
    return composite_line<4, true, 4, true, 2> (weights, n_x, n_y, dest, dest_x, dest_end,
                                                dest_channels, dest_has_alpha, src, src_channels,
                                                src_has_alpha, x, x_step, src_width, check_size,
                                                color1, color2);
}

// RGBA over RGB. At a unit step the phase never changes, and when its matrix is one tap of weight
// 65536 (every pixel of a scale-1 bilinear or tiles filter at full opacity) each pixel is the
// truncated blend of a single source pixel, which the run kernels compute in bulk.
template <int Taps>
guchar *composite_line_4a3 (const int *weights, int n_x, int n_y, guchar *dest,
                            std::int64_t dest_x, guchar *dest_end, int dest_channels,
                            int dest_has_alpha, const guchar *const *src, int src_channels,
                            gboolean src_has_alpha, std::int64_t x, std::int64_t x_step,
                            int src_width, int check_size, guint32 color1,
                            guint32 color2) noexcept
{
    const int nx = Taps ? Taps : n_x, matrix = Taps ? Taps * Taps : n_x * n_y;
    if (const int tap = x_step == fx::kOne && dest < dest_end
                            ? full_tap (weights + fx::phase (x) * matrix, matrix)
                            : -1;
        tap >= 0) {
        const std::int64_t n = (dest_end - dest + 2) / 3;
        kernel_table ().over_rgb_truncated (dest, src[tap / nx] + (fx::pixel (x) + tap % nx) * 4,
                                            n);
        return dest + n * 3;
    }
    return composite_line<4, true, 3, false, Taps> (weights, n_x, n_y, dest, dest_x, dest_end,
                                                    dest_channels, dest_has_alpha, src,
                                                    src_channels, src_has_alpha, x, x_step,
                                                    src_width, check_size, color1, color2);
}

}  // namespace kernels

namespace {

template <guchar (*Blend) (guint, guint, guint) noexcept, int DestChannels = 3,
          bool StoreAlpha = false>
void over_run (guchar *dest, const guchar *src, std::int64_t n)
{
    for (std::int64_t k = 0; k < n; k++, dest += DestChannels, src += 4) {
        for (int ch = 0; ch < 3; ch++) dest[ch] = Blend (src[3], src[ch], dest[ch]);
        if constexpr (StoreAlpha) dest[3] = src[3];
    }
}

}  // namespace

void over_rgb_rounded (guchar *dest, const guchar *src, std::int64_t n)
{
    over_run<kernels::blend_rounded> (dest, src, n);
}

void over_rgb_truncated (guchar *dest, const guchar *src, std::int64_t n)
{
    over_run<kernels::blend_truncated> (dest, src, n);
}

void over_rgbx_rounded (guchar *dest, const guchar *src, std::int64_t n)
{
    over_run<kernels::blend_rounded, 4> (dest, src, n);
}

void over_rgbx_shifted (guchar *dest, const guchar *src, std::int64_t n)
{
    over_run<kernels::blend_shifted, 4, true> (dest, src, n);
}

const PixopsLineFunc scale_line_22_33 = &kernels::scale_line_22_33;
const PixopsLineFunc composite_line_22_4a4 = &kernels::composite_line_22_4a4;

void scale_pixel (guchar *dest, std::int64_t, int, int dest_has_alpha, int src_has_alpha, int,
                  guint32, guint32, guint r, guint g, guint b, guint a)
{
    if (src_has_alpha) {
        kernels::write_scaled_alpha (dest, Sums{r, g, b, a});
        return;
    }
    // The sums carry the factor 255 here, hence the shift by 24, rounding up.
    dest[0] = guchar ((r + 0xffffff) >> 24);
    dest[1] = guchar ((g + 0xffffff) >> 24);
    dest[2] = guchar ((b + 0xffffff) >> 24);
    if (dest_has_alpha) dest[3] = 255;
}

void composite_pixel (guchar *dest, std::int64_t, int, int dest_has_alpha, int, int, guint32,
                      guint32, guint r, guint g, guint b, guint a)
{
    kernels::write_composite (dest, dest_has_alpha, Sums{r, g, b, a});
}

void composite_pixel_color (guchar *dest, std::int64_t dest_x, int dest_channels,
                            int dest_has_alpha, int, int check_size, guint32 color1,
                            guint32 color2, guint r, guint g, guint b, guint a)
{
    const int check_shift = get_check_shift (check_size);
    kernels::write_over_check (dest, dest_channels, dest_has_alpha,
                               ((dest_x >> check_shift) & 1) ? color2 : color1,
                               Sums{r, g, b, a});
}

namespace {

// Layout index: 0 = 3 channels, 1 = 4 channels without alpha, 2 = 4 channels with alpha.
int layout_index (int channels, bool has_alpha)
{
    if (channels == 3 && !has_alpha) return 0;
    if (channels == 4) return has_alpha ? 2 : 1;
    return -1;
}

// The instantiation of Kernel for two layouts; Taps 2 for the common 2 x 2 filter, 0 for any.
template <template <int, bool, int, bool, int> class Kernel, int Taps>
PixopsLineFunc pick (int dest_channels, bool dest_has_alpha, int src_channels,
                     bool src_has_alpha)
{
    static constexpr PixopsLineFunc table[3][3] = {
        {Kernel<3, false, 3, false, Taps>::fn, Kernel<3, false, 4, false, Taps>::fn,
         Kernel<3, false, 4, true, Taps>::fn},
        {Kernel<4, false, 3, false, Taps>::fn, Kernel<4, false, 4, false, Taps>::fn,
         Kernel<4, false, 4, true, Taps>::fn},
        {Kernel<4, true, 3, false, Taps>::fn, Kernel<4, true, 4, false, Taps>::fn,
         Kernel<4, true, 4, true, Taps>::fn},
    };
    const int s = layout_index (src_channels, src_has_alpha);
    const int d = layout_index (dest_channels, dest_has_alpha);
    return s < 0 || d < 0 ? nullptr : table[s][d];
}

template <template <int, bool, int, bool, int> class Kernel>
PixopsLineFunc pick_sized (int n_x, int n_y, int dest_channels, bool dest_has_alpha,
                           int src_channels, bool src_has_alpha)
{
    if (n_x == 2 && n_y == 2)
        return pick<Kernel, 2> (dest_channels, dest_has_alpha, src_channels, src_has_alpha);
    return pick<Kernel, 0> (dest_channels, dest_has_alpha, src_channels, src_has_alpha);
}

template <int S, bool SA, int D, bool DA, int Taps>
struct ScaleLine {
    static constexpr PixopsLineFunc fn = &kernels::scale_line<S, SA, D, DA, Taps>;
};
template <int S, bool SA, int D, bool DA, int Taps>
struct CompositeLine {
    static constexpr PixopsLineFunc fn = &kernels::composite_line<S, SA, D, DA, Taps>;
};
template <int S, bool SA, int D, bool DA, int Taps>
struct CompositeLineColor {
    static constexpr PixopsLineFunc fn = &kernels::composite_line_color<S, SA, D, DA, Taps>;
};

}  // namespace

PixopsLineFunc scale_line_for (int dest_channels, bool dest_has_alpha, int src_channels,
                               bool src_has_alpha)
{
    return pick<ScaleLine, 0> (dest_channels, dest_has_alpha, src_channels, src_has_alpha);
}

PixopsLineFunc composite_line_for (int dest_channels, bool dest_has_alpha, int src_channels,
                                   bool src_has_alpha)
{
    return pick<CompositeLine, 0> (dest_channels, dest_has_alpha, src_channels, src_has_alpha);
}

PixopsLineFunc composite_line_color_for (int dest_channels, bool dest_has_alpha,
                                         int src_channels, bool src_has_alpha)
{
    return pick<CompositeLineColor, 0> (dest_channels, dest_has_alpha, src_channels,
                                        src_has_alpha);
}

PixopsKernels select_kernels (PixopsOp op, int n_x, int n_y, int dest_channels,
                              bool dest_has_alpha, int src_channels, bool src_has_alpha)
{
    const bool two_by_two = n_x == 2 && n_y == 2;
    switch (op) {
    case PixopsOp::kScale:
        if (two_by_two && dest_channels == 3 && src_channels == 3)
            return {kernel_table ().scale_line_22_33, scale_pixel};
        // Larger filters read each source row premultiplied once rather than each tap for
        // every pixel that reads it.
        if (src_has_alpha && src_channels == 4 && dest_channels == 4 && dest_has_alpha &&
            kernel_table ().scale_line_4a4a)
            return {kernel_table ().scale_line_4a4a, scale_pixel,
                    two_by_two ? nullptr : kernel_table ().scale_line_4a4a_premultiplied};
        if (!src_has_alpha && kernel_table ().scale_line_opaque) {
            const int d = layout_index (dest_channels, dest_has_alpha);
            if (d >= 0 && (src_channels == 3 || src_channels == 4))
                return {kernel_table ().scale_line_opaque[src_channels - 3][d], scale_pixel};
        }
        return {pick_sized<ScaleLine> (n_x, n_y, dest_channels, dest_has_alpha, src_channels,
                                       src_has_alpha),
                scale_pixel};
    case PixopsOp::kComposite:
        if (two_by_two && dest_channels == 4 && src_channels == 4 && src_has_alpha &&
            !dest_has_alpha)
            return {composite_line_22_4a4, composite_pixel};
        if (two_by_two && dest_channels == 4 && src_channels == 4 && src_has_alpha &&
            dest_has_alpha)
            return {kernel_table ().composite_line_22_4a4a, composite_pixel};
        if (dest_channels == 3 && src_channels == 4 && src_has_alpha)
            return {two_by_two ? &kernels::composite_line_4a3<2> : &kernels::composite_line_4a3<0>,
                    composite_pixel};
        return {pick_sized<CompositeLine> (n_x, n_y, dest_channels, dest_has_alpha, src_channels,
                                           src_has_alpha),
                composite_pixel};
    case PixopsOp::kCompositeColor:
        break;
    }
    return {pick_sized<CompositeLineColor> (n_x, n_y, dest_channels, dest_has_alpha, src_channels,
                                            src_has_alpha),
            composite_pixel_color};
}

}  // namespace tamba::detail
