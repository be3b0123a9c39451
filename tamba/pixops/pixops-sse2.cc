// SPDX-License-Identifier: LGPL-2.1-or-later
// SSE2 variants of the 2 x 2 RGB scaling kernel and of its separable form (SSE2 is part of
// every x86-64 CPU).
//
// pmaddwd multiplies signed 16-bit lanes into 32-bit sums. Weights reach 65536, so each weight
// is split as w = 256 * hi + lo (hi = w >> 8, lo = w & 255); both halves fit 16 bits for any
// weight of magnitude below 2^23, and (sum of hi * q) * 256 + (sum of lo * q) is the scalar
// kernel's 32-bit sum, wrap-around included. Blocks with larger weights go to the scalar kernel.
#if defined(__x86_64__)

#include <emmintrin.h>

#include <cstring>

#include "pixops/pixops-fixed.h"
#include "pixops/pixops-simd.h"
#include "pixops/pixops-x86.h"

namespace tamba::detail::kernels {

namespace {

inline __m128i lanes_a (int w1, int w2, int w3, int w4)
{
    return _mm_setr_epi16 (short (w1), short (w3), short (w1), short (w3), short (w1),
                           short (w3), short (w2), short (w4));
}

inline __m128i lanes_b (int w2, int w4)
{
    return _mm_setr_epi16 (short (w2), short (w4), short (w2), short (w4), 0, 0, 0, 0);
}

inline __m128i madd_split (__m128i q, __m128i hi, __m128i lo)
{
    return _mm_add_epi32 (_mm_slli_epi32 (_mm_madd_epi16 (q, hi), 8), _mm_madd_epi16 (q, lo));
}

}  // namespace

bool split_phases (const int *weights, SplitPhase *phases)
{
    constexpr int kLimit = 1 << 23;
    for (int p = 0; p < fx::kPhases; p++) {
        const int *w = weights + 4 * p;
        int hi[4], lo[4];
        for (int k = 0; k < 4; k++) {
            if (w[k] < -kLimit || w[k] >= kLimit) return false;
            hi[k] = w[k] >> 8;
            lo[k] = w[k] & 255;
        }
        phases[p] = {lanes_a (hi[0], hi[1], hi[2], hi[3]), lanes_a (lo[0], lo[1], lo[2], lo[3]),
                     lanes_b (hi[1], hi[3]), lanes_b (lo[1], lo[3])};
    }
    return true;
}

guchar *scale_line_22_33_sse2 (const int *weights, int n_x, int n_y, guchar *dest,
                               std::int64_t dest_x, guchar *dest_end, int dest_channels,
                               int dest_has_alpha, const guchar *const *src, int src_channels,
                               gboolean src_has_alpha, std::int64_t x, std::int64_t x_step,
                               int src_width, int check_size, guint32 color1,
                               guint32 color2) noexcept
{
    SplitPhase phases[fx::kPhases];
    if (split_phases (weights, phases)) {
        const __m128i zero = _mm_setzero_si128 ();
        const __m128i half = _mm_set1_epi32 (0x8000);
        const __m128i low_byte = _mm_set1_epi32 (0xff);
        const guchar *src0 = src[0];
        const guchar *src1 = src[1];
        // Each pixel loads 8 bytes per row (two past its taps) and stores 4 (one into the next
        // pixel, rewritten after): stop while both stay inside the row and the run.
        for (; dest + 4 <= dest_end && fx::pixel (x) + 3 <= src_width; dest += 3, x += x_step) {
            const SplitPhase &w = phases[fx::phase (x)];
            const std::ptrdiff_t offset = 3 * fx::pixel (x);
            const __m128i rows = _mm_unpacklo_epi8 (
                _mm_loadl_epi64 (reinterpret_cast<const __m128i *> (src0 + offset)),
                _mm_loadl_epi64 (reinterpret_cast<const __m128i *> (src1 + offset)));
            const __m128i sa = madd_split (_mm_unpacklo_epi8 (rows, zero), w.a_hi, w.a_lo);
            const __m128i sb = madd_split (_mm_unpackhi_epi8 (rows, zero), w.b_hi, w.b_lo);
            // Lanes: sa = (r left, g left, b left, r right), sb = (g right, b right, 0, 0).
            __m128i sum = _mm_add_epi32 (_mm_add_epi32 (sa, _mm_slli_si128 (sb, 4)),
                                         _mm_srli_si128 (sa, 12));
            sum = _mm_and_si128 (_mm_srli_epi32 (_mm_add_epi32 (sum, half), 16), low_byte);
            sum = _mm_packs_epi32 (sum, sum);
            const int bytes = _mm_cvtsi128_si32 (_mm_packus_epi16 (sum, sum));
            std::memcpy (dest, &bytes, 4);
        }
    }
    return scale_line_22_33 (weights, n_x, n_y, dest, dest_x, dest_end, dest_channels,
                             dest_has_alpha, src, src_channels, src_has_alpha, x, x_step,
                             src_width, check_size, color1, color2);
}

// Each pixel loads 8 bytes from its left tap (two past its right one) and stores four sums,
// the fourth into the next pixel's, which is written after it. The products and their sums stay
// below 2^16 (255 * 256 at most), so 16-bit lanes hold them exactly.
void filter_row_22_3_sse2 (void *row_sums, void *, const guchar *row,
                           const PixopsColumn *columns, std::int64_t count, int src_width,
                           const PixopsSeparable &separable) noexcept
{
    guint16 *const sums = static_cast<guint16 *> (row_sums);
    __m128i weights[fx::kPhases];
    for (int p = 0; p < fx::kPhases; p++) {
        const short w0 = short (separable.x[p][0]), w1 = short (separable.x[p][1]);
        weights[p] = _mm_setr_epi16 (w0, w0, w0, w1, w1, w1, 0, 0);
    }
    const __m128i zero = _mm_setzero_si128 ();
    std::int64_t k = 0;
    for (; k < count && columns[k].first + 3 <= src_width; k++) {
        const __m128i taps = _mm_unpacklo_epi8 (
            _mm_loadl_epi64 (reinterpret_cast<const __m128i *> (row + 3 * columns[k].first)),
            zero);
        const __m128i products = _mm_mullo_epi16 (taps, weights[columns[k].phase]);
        _mm_storel_epi64 (reinterpret_cast<__m128i *> (sums + 3 * k),
                          _mm_add_epi16 (products, _mm_srli_si128 (products, 6)));
    }
    for (; k < count; k++) {
        const int *w = separable.x[columns[k].phase];
        const guchar *q = row + 3 * columns[k].first;
        for (int c = 0; c < 3; c++) sums[3 * k + c] = guint16 (w[0] * q[c] + w[1] * q[3 + c]);
    }
}

// pmaddwd is signed: the sums go in offset by -32768 and the offset times y0 + y1 is added back.
void combine_sums_sse2 (guchar *dest, const guint16 *upper, const guint16 *lower, int y0, int y1,
                        std::int64_t count) noexcept
{
    const __m128i flip = _mm_set1_epi16 (short (0x8000));
    const __m128i pair = _mm_set1_epi32 (int (guint (y1) << 16 | guint (y0)));
    const __m128i bias = _mm_set1_epi32 (32768 * (y0 + y1) + 0x8000);
    const auto eight = [&] (std::int64_t n) {
        const __m128i a =
            _mm_xor_si128 (_mm_loadu_si128 (reinterpret_cast<const __m128i *> (upper + n)), flip);
        const __m128i b =
            _mm_xor_si128 (_mm_loadu_si128 (reinterpret_cast<const __m128i *> (lower + n)), flip);
        const __m128i lo = _mm_add_epi32 (_mm_madd_epi16 (_mm_unpacklo_epi16 (a, b), pair), bias);
        const __m128i hi = _mm_add_epi32 (_mm_madd_epi16 (_mm_unpackhi_epi16 (a, b), pair), bias);
        return _mm_packs_epi32 (_mm_srli_epi32 (lo, 16), _mm_srli_epi32 (hi, 16));
    };
    std::int64_t n = 0;
    for (; n + 16 <= count; n += 16)
        _mm_storeu_si128 (reinterpret_cast<__m128i *> (dest + n),
                          _mm_packus_epi16 (eight (n), eight (n + 8)));
    for (; n < count; n++)
        dest[n] = guchar ((guint (y0) * upper[n] + guint (y1) * lower[n] + 0x8000) >> 16);
}

void scale_rows_22_33_sse2 (guchar *dest, const void *upper, const void *lower, int y0, int y1,
                            std::int64_t pixels) noexcept
{
    combine_sums_sse2 (dest, static_cast<const guint16 *> (upper),
                       static_cast<const guint16 *> (lower), y0, y1, 3 * pixels);
}

}  // namespace tamba::detail::kernels

#endif  // __x86_64__
