// SPDX-License-Identifier: LGPL-2.1-or-later
// AVX2 variants, used only when the CPU reports AVX2:
// - the 2 x 2 RGB scaling kernel: the SSE2 arithmetic (see pixops-sse2.cc) on two pixels at
//   once, one in each 128-bit half;
// - scaling an opaque source with any filter size: the split-weight multiply-add of the 2 x 2
//   kernel over four taps per step;
// - scaling RGBA: 2 x 2 filters, and larger ones from rows premultiplied once, their divisions
//   as in the compositing kernel below;
// - the run kernels, eight pixels per step;
// - the separable 2 x 2 forms: RGB rows combined 32 bytes per step, RGBA rows filtered across
//   premultiplied and combined eight pixels per step, dividing without a divide instruction
//   (see bounded_quotients);
// - the 2 x 2 RGBA kernel compositing over a destination with alpha: the scalar sums in 32-bit
//   lanes (vpmulld wraps exactly as the unsigned scalar products do) and its divisions exact in
//   vector lanes (see quotients).
#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "pixops/pixops-fixed.h"
#include "pixops/pixops-kernels.h"
#include "pixops/pixops-simd.h"
#include "pixops/pixops-x86.h"

namespace tamba::detail::kernels {

namespace {

__attribute__ ((target ("avx2"))) inline __m256i halves (__m128i low, __m128i high)
{
    return _mm256_inserti128_si256 (_mm256_castsi128_si256 (low), high, 1);
}

// The two rows' 8 bytes at a pixel's taps, interleaved byte by byte.
__attribute__ ((target ("avx2"))) inline __m128i taps (const guchar *src0, const guchar *src1,
                                                       std::int64_t x)
{
    const std::ptrdiff_t offset = 3 * fx::pixel (x);
    return _mm_unpacklo_epi8 (_mm_loadl_epi64 (reinterpret_cast<const __m128i *> (src0 + offset)),
                              _mm_loadl_epi64 (reinterpret_cast<const __m128i *> (src1 + offset)));
}

__attribute__ ((target ("avx2"))) inline __m256i madd_split (__m256i q, __m256i hi, __m256i lo)
{
    return _mm256_add_epi32 (_mm256_slli_epi32 (_mm256_madd_epi16 (q, hi), 8),
                             _mm256_madd_epi16 (q, lo));
}

// Unsigned 32-bit lanes as doubles, exactly: flip the sign bit, convert signed, add it back.
__attribute__ ((target ("avx2"))) inline __m256d to_double (__m128i v)
{
    const __m128i sign = _mm_set1_epi32 (int (0x80000000u));
    return _mm256_add_pd (_mm256_cvtepi32_pd (_mm_xor_si128 (v, sign)),
                          _mm256_set1_pd (2147483648.0));
}

// num / den truncated, lane by lane, for integers 0 <= num < 2^32 and 0 < den < 2^32 given as
// doubles. Both are exact and below 2^53, so the correctly rounded quotient never reaches the
// next integer: its truncation is the integer quotient. Shifted down by 2^31, exact for an
// integer below 2^32, it converts without overflow, and its low bits are those of the unsigned
// quotient.
__attribute__ ((target ("avx2"))) inline __m128i divide (__m256d num, __m256d den)
{
    const __m256d t =
        _mm256_round_pd (_mm256_div_pd (num, den), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    return _mm_xor_si128 (_mm256_cvttpd_epi32 (_mm256_sub_pd (t, _mm256_set1_pd (2147483648.0))),
                          _mm_set1_epi32 (int (0x80000000u)));
}

// Unsigned 32-bit lanes as floats, rounded once: both 16-bit halves convert exactly.
__attribute__ ((target ("avx2"))) inline __m256 to_float (__m256i v)
{
    const __m256 hi = _mm256_cvtepi32_ps (_mm256_srli_epi32 (v, 16));
    const __m256 lo = _mm256_cvtepi32_ps (_mm256_and_si256 (v, _mm256_set1_epi32 (0xffff)));
    return _mm256_add_ps (_mm256_mul_ps (hi, _mm256_set1_ps (65536.0f)), lo);
}

// num / den truncated in eight unsigned 32-bit lanes (den > 0). When every den is below 2^30
// and every quotient below 2^19 (the sums of real filters: quotients up to 256), the
// single-precision quotient is within 1/4 of the exact one, so its truncation t is off by at
// most one; the remainder num - t * den, exact in wrapping 32-bit arithmetic because its true
// value lies in (-2^30, 2^31), corrects it. Other lanes take the double-precision division.
__attribute__ ((target ("avx2"))) inline __m256i quotients (__m256i num, __m256i den)
{
    const __m256 q = _mm256_div_ps (to_float (num), to_float (den));
    const __m256i outside =
        _mm256_or_si256 (_mm256_srli_epi32 (den, 30),
                         _mm256_castps_si256 (_mm256_cmp_ps (q, _mm256_set1_ps (524288.0f),
                                                             _CMP_GE_OQ)));
    if (!_mm256_testz_si256 (outside, outside)) {
        const __m128i lo = divide (to_double (_mm256_castsi256_si128 (num)),
                                   to_double (_mm256_castsi256_si128 (den)));
        const __m128i hi = divide (to_double (_mm256_extracti128_si256 (num, 1)),
                                   to_double (_mm256_extracti128_si256 (den, 1)));
        return _mm256_inserti128_si256 (_mm256_castsi128_si256 (lo), hi, 1);
    }
    const __m256i t = _mm256_cvttps_epi32 (q);
    const __m256i rem = _mm256_sub_epi32 (num, _mm256_mullo_epi32 (t, den));
    // The compare masks are -1: add one where rem >= den, take one where rem < 0.
    return _mm256_add_epi32 (
        _mm256_sub_epi32 (t, _mm256_cmpgt_epi32 (rem, _mm256_sub_epi32 (den,
                                                                         _mm256_set1_epi32 (1)))),
        _mm256_cmpgt_epi32 (_mm256_setzero_si256 (), rem));
}

// A divisor of bounded_quotients: den (0 < den < 2^25), den - 1, and the reciprocal estimate
// of den (relative error below 1.5 * 2^-12) scaled by 1 - 2^-10.
struct Divisor {
    __m256i den, below;
    __m256 rcp;
};

__attribute__ ((target ("avx2"))) inline Divisor divisor (__m256i den)
{
    return {den, _mm256_sub_epi32 (den, _mm256_set1_epi32 (1)),
            _mm256_mul_ps (_mm256_rcp_ps (_mm256_cvtepi32_ps (den)),
                           _mm256_set1_ps (1.0f - 1.0f / 1024))};
}

// num / den truncated in eight unsigned 32-bit lanes for quotients of at most 256, as the sums
// of filters whose weights are non-negative and total 65536 at most give, without a division.
// With the single-precision num (rounded at most twice) the estimate num * rcp lies within a
// factor (1 - 2^-10)(1 +- 3.7e-4) of the exact quotient q: below it, and by less than 0.35 at
// q <= 256. So its truncation is q or q - 1, and the exact remainder (in [0, 2 den), so exact in
// 32-bit lanes) tells which.
__attribute__ ((target ("avx2"))) inline __m256i bounded_quotients (__m256i num,
                                                                   const Divisor &d)
{
    // The signed conversion gives num - 2^32 for num >= 2^31 (its sign bit set); adding 2^32
    // back there rounds once more.
    const __m256 signed_num = _mm256_cvtepi32_ps (num);
    const __m256 num_f = _mm256_blendv_ps (
        signed_num, _mm256_add_ps (signed_num, _mm256_set1_ps (4294967296.0f)), signed_num);
    const __m256i t = _mm256_cvttps_epi32 (_mm256_mul_ps (num_f, d.rcp));
    const __m256i rem = _mm256_sub_epi32 (num, _mm256_mullo_epi32 (t, d.den));
    return _mm256_sub_epi32 (t, _mm256_cmpgt_epi32 (rem, d.below));
}

// Writes one or two pixels (one per 128-bit half of num) whose alpha lane holds the divisor of
// their colour lanes: the colours divide by it, the alpha lane by AlphaDivisor, and a zero
// divisor gives a transparent black pixel (dividing by 1 instead).
template <int AlphaDivisor>
__attribute__ ((target ("avx2"))) inline void store_quotients (guchar *dest, __m256i num,
                                                               bool two)
{
    const __m256i w = _mm256_shuffle_epi32 (num, 0xff);
    const __m256i den =
        _mm256_max_epu32 (_mm256_blend_epi32 (w, _mm256_set1_epi32 (AlphaDivisor), 0x88),
                          _mm256_set1_epi32 (1));
    const __m256i empty = _mm256_cmpeq_epi32 (w, _mm256_setzero_si256 ());
    const __m256i q = _mm256_andnot_si256 (empty, quotients (num, den));
    const __m256i low_bytes =
        _mm256_setr_epi8 (0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8,
                          12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i bytes = _mm256_shuffle_epi8 (q, low_bytes);
    const int first = _mm256_cvtsi256_si32 (bytes);
    std::memcpy (dest, &first, 4);
    if (two) {
        const int second = _mm_cvtsi128_si32 (_mm256_extracti128_si256 (bytes, 1));
        std::memcpy (dest + 4, &second, 4);
    }
}

__attribute__ ((target ("avx2"))) inline __m256i pixel_pair (__m128i first, __m128i second)
{
    return _mm256_inserti128_si256 (_mm256_castsi128_si256 (first), second, 1);
}

// One phase's 2 x 2 weights, each repeated over the four channel lanes of its tap: (upper left,
// upper right) and (lower left, lower right).
struct AlphaPhase {
    __m256i upper, lower;
};

__attribute__ ((target ("avx2"))) inline void spread_phases (const int *weights,
                                                             AlphaPhase *phases)
{
    for (int p = 0; p < fx::kPhases; p++) {
        const int *w = weights + 4 * p;
        phases[p] = {_mm256_setr_epi32 (w[0], w[0], w[0], w[0], w[1], w[1], w[1], w[1]),
                     _mm256_setr_epi32 (w[2], w[2], w[2], w[2], w[3], w[3], w[3], w[3])};
    }
}

// Eight 16-bit lanes (r g b a | r g b a) of two RGBA pixels, premultiplied: a * r, a * g, a * b
// and a itself, each below 2^16. The alpha-weighted sums of the scalar kernels are sums of
// w * a * c; modulo 2^32 that is w times these, whatever w.
__attribute__ ((target ("avx2"))) inline __m128i premultiplied (__m128i bytes)
{
    const __m128i p = _mm_cvtepu8_epi16 (bytes);
    const __m128i a = _mm_shuffle_epi8 (p, _mm_setr_epi8 (6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14, 15,
                                                          14, 15, 14, 15));
    return _mm_mullo_epi16 (_mm_blend_epi16 (p, _mm_set1_epi16 (1), 0x88), a);
}

// The alpha-weighted tap sums (r g b a) of a pixel from its 2 x 2 taps at offset in the rows.
__attribute__ ((target ("avx2"))) inline __m128i alpha_sums_22 (const AlphaPhase &w,
                                                                const guchar *src0,
                                                                const guchar *src1,
                                                                std::ptrdiff_t offset)
{
    const __m256i upper = _mm256_cvtepu16_epi32 (
        premultiplied (_mm_loadl_epi64 (reinterpret_cast<const __m128i *> (src0 + offset))));
    const __m256i lower = _mm256_cvtepu16_epi32 (
        premultiplied (_mm_loadl_epi64 (reinterpret_cast<const __m128i *> (src1 + offset))));
    const __m256i both = _mm256_add_epi32 (_mm256_mullo_epi32 (w.upper, upper),
                                           _mm256_mullo_epi32 (w.lower, lower));
    return _mm_add_epi32 (_mm256_castsi256_si128 (both), _mm256_extracti128_si256 (both, 1));
}

// The dividends of two destination pixels (one per half) from their sums s and their own bytes
// d: lanes s - (s >> 8) + w1 * d for the colours, where w1 = ((opaque - a) >> 8) * d[3], and in
// the alpha lane the divisor w = w0 + w1 of the colours.
__attribute__ ((target ("avx2"))) inline __m256i dividends (__m256i s, __m256i d)
{
    const __m256i w1 = _mm256_mullo_epi32 (
        _mm256_shuffle_epi32 (
            _mm256_srli_epi32 (_mm256_sub_epi32 (_mm256_set1_epi32 (int (fx::kOpaque)), s), 8),
            0xff),
        _mm256_shuffle_epi32 (d, 0xff));
    // With d's alpha lane replaced by 1, the alpha lane sums to w0 + w1.
    return _mm256_add_epi32 (
        _mm256_sub_epi32 (s, _mm256_srli_epi32 (s, 8)),
        _mm256_mullo_epi32 (w1, _mm256_blend_epi32 (d, _mm256_set1_epi32 (1), 0x88)));
}

}  // namespace

__attribute__ ((target ("avx2"))) void quotients_avx2 (const guint32 *num, const guint32 *den,
                                                      guint32 *out, std::size_t n)
{
    for (std::size_t k = 0; k + 8 <= n; k += 8) {
        const __m256i q =
            quotients (_mm256_loadu_si256 (reinterpret_cast<const __m256i *> (num + k)),
                       _mm256_loadu_si256 (reinterpret_cast<const __m256i *> (den + k)));
        _mm256_storeu_si256 (reinterpret_cast<__m256i *> (out + k), q);
    }
    for (std::size_t k = n & ~std::size_t (7); k < n; k++) out[k] = num[k] / den[k];
}

__attribute__ ((target ("avx2"))) void bounded_quotients_avx2 (const guint32 *num,
                                                              const guint32 *den, guint32 *out,
                                                              std::size_t n)
{
    for (std::size_t k = 0; k + 8 <= n; k += 8) {
        const __m256i d = _mm256_loadu_si256 (reinterpret_cast<const __m256i *> (den + k));
        const __m256i q = bounded_quotients (
            _mm256_loadu_si256 (reinterpret_cast<const __m256i *> (num + k)), divisor (d));
        _mm256_storeu_si256 (reinterpret_cast<__m256i *> (out + k), q);
    }
    for (std::size_t k = n & ~std::size_t (7); k < n; k++) out[k] = num[k] / den[k];
}

__attribute__ ((target ("avx2"))) guchar *composite_line_22_4a4a_avx2 (
    const int *weights, int, int, guchar *dest, std::int64_t, guchar *dest_end, int, int,
    const guchar *const *src, int, gboolean, std::int64_t x, std::int64_t x_step, int, int,
    guint32, guint32) noexcept
{
    AlphaPhase phases[fx::kPhases];
    spread_phases (weights, phases);
    const guchar *src0 = src[0];
    const guchar *src1 = src[1];
    // Two pixels per step (the second one of an odd run is a dummy that is not stored).
    for (; dest < dest_end; dest += 8, x += 2 * x_step) {
        const bool two = dest + 4 < dest_end;
        const __m128i first = alpha_sums_22 (phases[fx::phase (x)], src0, src1, 4 * fx::pixel (x));
        __m128i second = _mm_setzero_si128 (), old;
        if (two) {
            second = alpha_sums_22 (phases[fx::phase (x + x_step)], src0, src1,
                                    4 * fx::pixel (x + x_step));
            old = _mm_loadl_epi64 (reinterpret_cast<const __m128i *> (dest));
        } else {
            int one;
            std::memcpy (&one, dest, 4);
            old = _mm_cvtsi32_si128 (one);
        }
        store_quotients<0xff00> (
            dest, dividends (pixel_pair (first, second), _mm256_cvtepu8_epi32 (old)), two);
        if (!two) return dest + 4;
    }
    return dest;
}

namespace {

// Four consecutive taps of one filter row as two pairs, one in each 128-bit half: the 16 bytes
// from the first tap, shuffled into 16-bit lanes (c c' per channel, for r, g, b, then two zero
// lanes), where c is the first tap of the pair and c' the second.
template <int SrcChannels>
__attribute__ ((target ("avx2"))) inline __m256i tap_pairs (const guchar *q, __m256i order)
{
    return _mm256_shuffle_epi8 (
        _mm256_broadcastsi128_si256 (_mm_loadu_si128 (reinterpret_cast<const __m128i *> (q))),
        order);
}

template <int SrcChannels>
__attribute__ ((target ("avx2"))) inline __m256i pair_order ()
{
    constexpr int c = SrcChannels;
    return _mm256_setr_epi8 (0, -1, c, -1, 1, -1, c + 1, -1, 2, -1, c + 2, -1, -1, -1, -1, -1,
                             2 * c, -1, 3 * c, -1, 2 * c + 1, -1, 3 * c + 1, -1, 2 * c + 2, -1,
                             3 * c + 2, -1, -1, -1, -1, -1);
}

// The weights of one filter row's group of four taps in the lanes of tap_pairs, split as
// w = 256 * hi + lo; taps past the row's last have weight 0.
struct SplitGroup {
    __m256i hi, lo;
};

// Weights of magnitude 2^23 or more have no 16-bit high half.
bool split_fits (const int *weights, int count)
{
    constexpr int kLimit = 1 << 23;
    for (int k = 0; k < count; k++)
        if (weights[k] < -kLimit || weights[k] >= kLimit) return false;
    return true;
}

__attribute__ ((target ("avx2"))) SplitGroup split_group (const int *row, int first, int n_x)
{
    short hi[4], lo[4];
    for (int k = 0; k < 4; k++) {
        const int w = first + k < n_x ? row[first + k] : 0;
        hi[k] = short (w >> 8);
        lo[k] = short (w & 255);
    }
    return {_mm256_setr_epi16 (hi[0], hi[1], hi[0], hi[1], hi[0], hi[1], 0, 0, hi[2], hi[3],
                               hi[2], hi[3], hi[2], hi[3], 0, 0),
            _mm256_setr_epi16 (lo[0], lo[1], lo[0], lo[1], lo[0], lo[1], 0, 0, lo[2], lo[3],
                               lo[2], lo[3], lo[2], lo[3], 0, 0)};
}

}  // namespace

namespace {

// The interior loop of scale_line_opaque_avx2 over the pixels whose groups stay inside the
// row; Rows > 0 fixes n_y at compile time for filters of one group per row (n_x <= 4), so that
// the tap loops unroll. Returns where it stopped.
template <int SrcChannels, int DestChannels, bool DestAlpha, int Rows>
__attribute__ ((target ("avx2"))) guchar *opaque_run (const SplitGroup *table, int n_y_given,
                                                     int groups_given, guchar *dest,
                                                     guchar *dest_end,
                                                     const guchar *const *src, std::int64_t &x,
                                                     std::int64_t x_step, int src_width) noexcept
{
    const int n_y = Rows ? Rows : n_y_given, groups = Rows ? 1 : groups_given;
    const __m256i order = pair_order<SrcChannels> ();
    const __m128i round = _mm_set1_epi32 (0xffff);
    const __m128i out_order =
        _mm_setr_epi8 (2, 6, 10, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    // Bytes past a pixel's first tap that its last group reads.
    const std::int64_t reach = SrcChannels * 4 * (groups - 1) + 16;
    for (; dest < dest_end &&
           SrcChannels * fx::pixel (x) + reach <= std::int64_t (SrcChannels) * src_width;
         dest += DestChannels, x += x_step) {
        const SplitGroup *w = table + std::size_t (fx::phase (x)) * n_y * groups;
        const std::ptrdiff_t offset = SrcChannels * fx::pixel (x);
        __m256i hi = _mm256_setzero_si256 (), lo = _mm256_setzero_si256 ();
        for (int i = 0; i < n_y; i++) {
            const guchar *q = src[i] + offset;
            for (int g = 0; g < groups; g++, w++, q += 4 * SrcChannels) {
                const __m256i taps = tap_pairs<SrcChannels> (q, order);
                hi = _mm256_add_epi32 (hi, _mm256_madd_epi16 (taps, w->hi));
                lo = _mm256_add_epi32 (lo, _mm256_madd_epi16 (taps, w->lo));
            }
        }
        // (r g b 0) sums of both halves, each 256 * hi + lo, then rounded up as the scalar
        // kernel does: bits 16..23 of sum + 0xffff are the bytes.
        const __m256i sums = _mm256_add_epi32 (_mm256_slli_epi32 (hi, 8), lo);
        const __m128i sum = _mm_add_epi32 (
            _mm_add_epi32 (_mm256_castsi256_si128 (sums), _mm256_extracti128_si256 (sums, 1)),
            round);
        int bytes = _mm_cvtsi128_si32 (_mm_shuffle_epi8 (sum, out_order));
        if constexpr (DestAlpha) bytes |= int (0xff000000u);
        // Three-byte pixels store four where the next pixel, written after, takes the fourth;
        // a fourth byte without alpha is left as it was.
        if (DestAlpha || (DestChannels == 3 && dest + 4 <= dest_end))
            std::memcpy (dest, &bytes, 4);
        else
            std::memcpy (dest, &bytes, 3);
    }
    return dest;
}

}  // namespace

// Scaling an opaque source (3 or 4 bytes a pixel) with an n_x x n_y filter: each filter row
// takes ceil(n_x / 4) groups of four taps. Each group loads 16 bytes from its first tap, so a
// pixel goes to the scalar kernel once that would read past the end of the source row, and so do
// whole rows whose weights do not split into 16-bit halves.
template <int SrcChannels, int DestChannels, bool DestAlpha>
__attribute__ ((target ("avx2"))) guchar *scale_line_opaque_avx2 (
    const int *weights, int n_x, int n_y, guchar *dest, std::int64_t dest_x, guchar *dest_end,
    int dest_channels, int dest_has_alpha, const guchar *const *src, int src_channels,
    gboolean src_has_alpha, std::int64_t x, std::int64_t x_step, int src_width, int check_size,
    guint32 color1, guint32 color2) noexcept
{
    const int groups = (n_x + 3) / 4, matrix = n_x * n_y;
    // The split table costs about as much as 16 pixels, so short runs stay scalar.
    const std::size_t entries = std::size_t (fx::kPhases) * std::size_t (n_y) * groups;
    std::unique_ptr<SplitGroup, decltype (&std::free)> table (nullptr, &std::free);
    if (dest_end - dest >= 16 * DestChannels && split_fits (weights, fx::kPhases * matrix))
        table.reset (static_cast<SplitGroup *> (
            std::aligned_alloc (alignof (SplitGroup), entries * sizeof (SplitGroup))));
    if (table) {
        for (int p = 0; p < fx::kPhases; p++)
            for (int i = 0; i < n_y; i++)
                for (int g = 0; g < groups; g++)
                    table.get ()[(std::size_t (p) * n_y + i) * groups + g] =
                        split_group (weights + p * matrix + i * n_x, 4 * g, n_x);
        constexpr auto run = opaque_run<SrcChannels, DestChannels, DestAlpha, 0>;
        using Run = decltype (run);
        // Hyper enlarging and mild reductions have 3 x 3 or 4 x 4 filters.
        const Run fixed = groups != 1 ? nullptr
                          : n_y == 2  ? opaque_run<SrcChannels, DestChannels, DestAlpha, 2>
                          : n_y == 3  ? opaque_run<SrcChannels, DestChannels, DestAlpha, 3>
                          : n_y == 4  ? opaque_run<SrcChannels, DestChannels, DestAlpha, 4>
                                      : nullptr;
        dest = (fixed ? fixed : run) (table.get (), n_y, groups, dest, dest_end, src, x, x_step,
                                      src_width);
    }
    return scale_line<SrcChannels, false, DestChannels, DestAlpha, 0> (
        weights, n_x, n_y, dest, dest_x, dest_end, dest_channels, dest_has_alpha, src,
        src_channels, src_has_alpha, x, x_step, src_width, check_size, color1, color2);
}

const PixopsLineFunc scale_line_opaque_avx2_table[2][3] = {
    {scale_line_opaque_avx2<3, 3, false>, scale_line_opaque_avx2<3, 4, false>,
     scale_line_opaque_avx2<3, 4, true>},
    {scale_line_opaque_avx2<4, 3, false>, scale_line_opaque_avx2<4, 4, false>,
     scale_line_opaque_avx2<4, 4, true>},
};

namespace {

// The alpha-weighted tap sums (r g b a) of one pixel whose first tap is column, from rows of
// premultiply_row's 16-bit quads: each filter row two taps at a time in 32-bit lanes, an odd
// last tap alone, so nothing past the taps is read. Taps > 0 fixes the filter at Taps x Taps so
// that the loops unroll.
template <int Taps>
__attribute__ ((target ("avx2"))) inline __m128i premultiplied_sums (const int *w, int n_x_given,
                                                                    int n_y_given,
                                                                    const guchar *const *rows,
                                                                    std::int64_t column)
{
    const int n_x = Taps ? Taps : n_x_given, n_y = Taps ? Taps : n_y_given;
    const __m256i spread = _mm256_setr_epi32 (0, 0, 0, 0, 1, 1, 1, 1);
    __m256i sums = _mm256_setzero_si256 ();
    for (int i = 0; i < n_y; i++, w += n_x) {
        const guint16 *q = reinterpret_cast<const guint16 *> (rows[i]) + 4 * column;
        int j = 0;
        for (; j + 1 < n_x; j += 2) {
            const __m256i taps = _mm256_cvtepu16_epi32 (
                _mm_loadu_si128 (reinterpret_cast<const __m128i *> (q + 4 * j)));
            const __m128i weights = _mm_loadl_epi64 (reinterpret_cast<const __m128i *> (w + j));
            const __m256i pair =
                _mm256_permutevar8x32_epi32 (_mm256_castsi128_si256 (weights), spread);
            sums = _mm256_add_epi32 (sums, _mm256_mullo_epi32 (pair, taps));
        }
        if (j < n_x) {
            const __m256i tap = _mm256_cvtepu16_epi32 (
                _mm_loadl_epi64 (reinterpret_cast<const __m128i *> (q + 4 * j)));
            sums = _mm256_add_epi32 (sums, _mm256_mullo_epi32 (_mm256_set1_epi32 (w[j]), tap));
        }
    }
    return _mm_add_epi32 (_mm256_castsi256_si128 (sums), _mm256_extracti128_si256 (sums, 1));
}

template <int Taps>
__attribute__ ((target ("avx2"))) guchar *premultiplied_run (const int *weights, int n_x,
                                                            int n_y, guchar *dest,
                                                            guchar *dest_end,
                                                            const guchar *const *src,
                                                            std::int64_t x,
                                                            std::int64_t x_step) noexcept
{
    const int matrix = n_x * n_y;
    for (; dest < dest_end; dest += 8, x += 2 * x_step) {
        const bool two = dest + 4 < dest_end;
        const __m128i first = premultiplied_sums<Taps> (weights + fx::phase (x) * matrix, n_x,
                                                        n_y, src, fx::pixel (x));
        const __m128i second =
            two ? premultiplied_sums<Taps> (weights + fx::phase (x + x_step) * matrix, n_x, n_y,
                                            src, fx::pixel (x + x_step))
                : _mm_setzero_si128 ();
        store_quotients<65536> (dest, pixel_pair (first, second), two);
        if (!two) return dest + 4;
    }
    return dest;
}

}  // namespace

__attribute__ ((target ("avx2"))) void premultiply_row_avx2 (guint16 *out, const guchar *row,
                                                            int width) noexcept
{
    int k = 0;
    for (; k + 2 <= width; k += 2)
        _mm_storeu_si128 (reinterpret_cast<__m128i *> (out + 4 * k),
                          premultiplied (_mm_loadl_epi64 (
                              reinterpret_cast<const __m128i *> (row + 4 * k))));
    for (; k < width; k++) {
        const guchar *p = row + 4 * k;
        for (int c = 0; c < 3; c++) out[4 * k + c] = guint16 (p[3] * p[c]);
        out[4 * k + 3] = p[3];
    }
}

// Square filters of 3 to 5 taps (hyper enlarging, tiles and bilinear down to 1/4) unroll.
__attribute__ ((target ("avx2"))) guchar *scale_line_4a4a_premultiplied_avx2 (
    const int *weights, int n_x, int n_y, guchar *dest, std::int64_t, guchar *dest_end, int, int,
    const guchar *const *src, int, gboolean, std::int64_t x, std::int64_t x_step, int, int,
    guint32, guint32) noexcept
{
    const auto run = n_x != n_y  ? premultiplied_run<0>
                     : n_x == 3 ? premultiplied_run<3>
                     : n_x == 4 ? premultiplied_run<4>
                     : n_x == 5 ? premultiplied_run<5>
                                : premultiplied_run<0>;
    return run (weights, n_x, n_y, dest, dest_end, src, x, x_step);
}

// Scaling RGBA with a 2 x 2 filter: colours are the alpha-weighted sums divided by the alpha
// sum, the coverage is that sum divided by 65536, two pixels per step. Larger filters go through
// the premultiplied kernel, and to the scalar one only when the driver cannot have its rows.
__attribute__ ((target ("avx2"))) guchar *scale_line_4a4a_avx2 (
    const int *weights, int n_x, int n_y, guchar *dest, std::int64_t dest_x, guchar *dest_end,
    int dest_channels, int dest_has_alpha, const guchar *const *src, int src_channels,
    gboolean src_has_alpha, std::int64_t x, std::int64_t x_step, int src_width, int check_size,
    guint32 color1, guint32 color2) noexcept
{
    if (n_x != 2 || n_y != 2)
        return scale_line<4, true, 4, true, 0> (weights, n_x, n_y, dest, dest_x, dest_end,
                                                dest_channels, dest_has_alpha, src, src_channels,
                                                src_has_alpha, x, x_step, src_width, check_size,
                                                color1, color2);
    // The common 2 x 2 filter with its phases' weights spread out once.
    AlphaPhase phases[fx::kPhases];
    spread_phases (weights, phases);
    for (; dest < dest_end; dest += 8, x += 2 * x_step) {
        const bool two = dest + 4 < dest_end;
        const __m128i first =
            alpha_sums_22 (phases[fx::phase (x)], src[0], src[1], 4 * fx::pixel (x));
        const __m128i second = two ? alpha_sums_22 (phases[fx::phase (x + x_step)], src[0],
                                                    src[1], 4 * fx::pixel (x + x_step))
                                   : _mm_setzero_si128 ();
        store_quotients<65536> (dest, pixel_pair (first, second), two);
        if (!two) return dest + 4;
    }
    return dest;
}

namespace {

// The run kernels' blends (see pixops-ssse3.cc for the arithmetic) on eight pixels per step; every
// shuffle, unpack and pack works within 128-bit halves, so each half is one SSSE3 step.
enum class Blend { kRounded, kTruncated, kShifted };

template <Blend B>
__attribute__ ((target ("avx2"))) inline __m256i blend_half (__m256i p, __m256i a, __m256i d)
{
    const __m256i x =
        _mm256_add_epi16 (_mm256_mullo_epi16 (a, p),
                          _mm256_mullo_epi16 (_mm256_sub_epi16 (_mm256_set1_epi16 (255), a), d));
    if constexpr (B == Blend::kRounded) {
        const __m256i t = _mm256_add_epi16 (x, _mm256_set1_epi16 (0x80));
        return _mm256_srli_epi16 (_mm256_add_epi16 (t, _mm256_srli_epi16 (t, 8)), 8);
    } else if constexpr (B == Blend::kTruncated) {
        const __m256i t = _mm256_add_epi16 (x, _mm256_set1_epi16 (1));
        return _mm256_srli_epi16 (_mm256_add_epi16 (t, _mm256_srli_epi16 (x, 8)), 8);
    } else {
        return _mm256_srli_epi16 (x, 8);
    }
}

template <Blend B>
__attribute__ ((target ("avx2"))) inline __m256i blend (__m256i p, __m256i a, __m256i d)
{
    const __m256i zero = _mm256_setzero_si256 ();
    const __m256i lo = blend_half<B> (_mm256_unpacklo_epi8 (p, zero),
                                      _mm256_unpacklo_epi8 (a, zero),
                                      _mm256_unpacklo_epi8 (d, zero));
    const __m256i hi = blend_half<B> (_mm256_unpackhi_epi8 (p, zero),
                                      _mm256_unpackhi_epi8 (a, zero),
                                      _mm256_unpackhi_epi8 (d, zero));
    return _mm256_packus_epi16 (lo, hi);
}

// 12 destination bytes of four RGB pixels, read and written exactly.
__attribute__ ((target ("avx2"))) inline __m128i load12 (const guchar *p)
{
    int tail;
    std::memcpy (&tail, p + 8, 4);
    return _mm_unpacklo_epi64 (_mm_loadl_epi64 (reinterpret_cast<const __m128i *> (p)),
                               _mm_cvtsi32_si128 (tail));
}

__attribute__ ((target ("avx2"))) inline void store12 (guchar *p, __m128i v)
{
    _mm_storel_epi64 (reinterpret_cast<__m128i *> (p), v);
    const int tail = _mm_cvtsi128_si32 (_mm_srli_si128 (v, 8));
    std::memcpy (p + 8, &tail, 4);
}

template <Blend B>
__attribute__ ((target ("avx2"))) void over_rgb (guchar *dest, const guchar *src, std::int64_t n)
{
    const __m256i colours = _mm256_setr_epi8 (0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1,
                                              -1, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1,
                                              -1, -1);
    const __m256i alphas = _mm256_setr_epi8 (3, 3, 3, 7, 7, 7, 11, 11, 11, 15, 15, 15, -1, -1, -1,
                                             -1, 3, 3, 3, 7, 7, 7, 11, 11, 11, 15, 15, 15, -1, -1,
                                             -1, -1);
    std::int64_t k = 0;
    for (; k + 8 <= n; k += 8, dest += 24, src += 32) {
        const __m256i s = _mm256_loadu_si256 (reinterpret_cast<const __m256i *> (src));
        const __m256i d = _mm256_inserti128_si256 (_mm256_castsi128_si256 (load12 (dest)),
                                                   load12 (dest + 12), 1);
        const __m256i out =
            blend<B> (_mm256_shuffle_epi8 (s, colours), _mm256_shuffle_epi8 (s, alphas), d);
        store12 (dest, _mm256_castsi256_si128 (out));
        store12 (dest + 12, _mm256_extracti128_si256 (out, 1));
    }
    if constexpr (B == Blend::kRounded)
        over_rgb_rounded_ssse3 (dest, src, n - k);
    else
        over_rgb_truncated_ssse3 (dest, src, n - k);
}

template <Blend B>
__attribute__ ((target ("avx2"))) void over_rgbx (guchar *dest, const guchar *src, std::int64_t n)
{
    const __m256i alphas = _mm256_setr_epi8 (3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15, 15,
                                             15, 3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15,
                                             15, 15);
    const __m256i fourth = _mm256_set1_epi32 (int (0xff000000u));
    std::int64_t k = 0;
    for (; k + 8 <= n; k += 8, dest += 32, src += 32) {
        const __m256i s = _mm256_loadu_si256 (reinterpret_cast<const __m256i *> (src));
        const __m256i d = _mm256_loadu_si256 (reinterpret_cast<const __m256i *> (dest));
        const __m256i out = blend<B> (s, _mm256_shuffle_epi8 (s, alphas), d);
        const __m256i kept = B == Blend::kShifted ? s : d;
        _mm256_storeu_si256 (reinterpret_cast<__m256i *> (dest),
                             _mm256_blendv_epi8 (out, kept, fourth));
    }
    if constexpr (B == Blend::kRounded)
        over_rgbx_rounded_ssse3 (dest, src, n - k);
    else
        over_rgbx_shifted_ssse3 (dest, src, n - k);
}

}  // namespace

void over_rgb_rounded_avx2 (guchar *dest, const guchar *src, std::int64_t n)
{
    over_rgb<Blend::kRounded> (dest, src, n);
}

void over_rgb_truncated_avx2 (guchar *dest, const guchar *src, std::int64_t n)
{
    over_rgb<Blend::kTruncated> (dest, src, n);
}

void over_rgbx_rounded_avx2 (guchar *dest, const guchar *src, std::int64_t n)
{
    over_rgbx<Blend::kRounded> (dest, src, n);
}

void over_rgbx_shifted_avx2 (guchar *dest, const guchar *src, std::int64_t n)
{
    over_rgbx<Blend::kShifted> (dest, src, n);
}

__attribute__ ((target ("avx2"))) guchar *scale_line_22_33_avx2 (
    const int *weights, int n_x, int n_y, guchar *dest, std::int64_t dest_x, guchar *dest_end,
    int dest_channels, int dest_has_alpha, const guchar *const *src, int src_channels,
    gboolean src_has_alpha, std::int64_t x, std::int64_t x_step, int src_width, int check_size,
    guint32 color1, guint32 color2) noexcept
{
    SplitPhase phases[fx::kPhases];
    if (split_phases (weights, phases)) {
        const __m256i zero = _mm256_setzero_si256 ();
        const __m256i half = _mm256_set1_epi32 (0x8000);
        const __m256i low_byte = _mm256_set1_epi32 (0xff);
        const guchar *src0 = src[0];
        const guchar *src1 = src[1];
        // Two pixels per step; the second pixel's 4-byte store ends one byte into the pixel
        // after it, and its loads end two bytes past its taps.
        for (; dest + 7 <= dest_end && fx::pixel (x + x_step) + 3 <= src_width;
             dest += 6, x += 2 * x_step) {
            const SplitPhase &a = phases[fx::phase (x)];
            const SplitPhase &b = phases[fx::phase (x + x_step)];
            const __m256i rows = halves (taps (src0, src1, x), taps (src0, src1, x + x_step));
            const __m256i sa = madd_split (_mm256_unpacklo_epi8 (rows, zero),
                                           halves (a.a_hi, b.a_hi), halves (a.a_lo, b.a_lo));
            const __m256i sb = madd_split (_mm256_unpackhi_epi8 (rows, zero),
                                           halves (a.b_hi, b.b_hi), halves (a.b_lo, b.b_lo));
            __m256i sum = _mm256_add_epi32 (_mm256_add_epi32 (sa, _mm256_slli_si256 (sb, 4)),
                                            _mm256_srli_si256 (sa, 12));
            sum = _mm256_and_si256 (_mm256_srli_epi32 (_mm256_add_epi32 (sum, half), 16),
                                    low_byte);
            sum = _mm256_packs_epi32 (sum, sum);
            sum = _mm256_packus_epi16 (sum, sum);
            const int first = _mm256_cvtsi256_si32 (sum);
            const int second = _mm_cvtsi128_si32 (_mm256_extracti128_si256 (sum, 1));
            std::memcpy (dest, &first, 4);
            std::memcpy (dest + 3, &second, 4);
        }
    }
    return scale_line_22_33_sse2 (weights, n_x, n_y, dest, dest_x, dest_end, dest_channels,
                                  dest_has_alpha, src, src_channels, src_has_alpha, x, x_step,
                                  src_width, check_size, color1, color2);
}

namespace {

// Sixteen combined sums from n on, as 16-bit lanes in the order of the 128-bit halves.
__attribute__ ((target ("avx2"))) inline __m256i combined (const guint16 *upper,
                                                          const guint16 *lower, __m256i pair,
                                                          __m256i bias)
{
    const __m256i flip = _mm256_set1_epi16 (short (0x8000));
    const __m256i a =
        _mm256_xor_si256 (_mm256_loadu_si256 (reinterpret_cast<const __m256i *> (upper)), flip);
    const __m256i b =
        _mm256_xor_si256 (_mm256_loadu_si256 (reinterpret_cast<const __m256i *> (lower)), flip);
    const __m256i lo =
        _mm256_add_epi32 (_mm256_madd_epi16 (_mm256_unpacklo_epi16 (a, b), pair), bias);
    const __m256i hi =
        _mm256_add_epi32 (_mm256_madd_epi16 (_mm256_unpackhi_epi16 (a, b), pair), bias);
    return _mm256_packs_epi32 (_mm256_srli_epi32 (lo, 16), _mm256_srli_epi32 (hi, 16));
}

}  // namespace

// The SSE2 combiner's arithmetic (see pixops-sse2.cc) on 32 sums per step. The unpacks and
// packs work within 128-bit halves, so one cross-half permute puts the bytes in order.
__attribute__ ((target ("avx2"))) void scale_rows_22_33_avx2 (guchar *dest,
                                                             const void *upper_sums,
                                                             const void *lower_sums, int y0,
                                                             int y1, std::int64_t pixels) noexcept
{
    const guint16 *const upper = static_cast<const guint16 *> (upper_sums);
    const guint16 *const lower = static_cast<const guint16 *> (lower_sums);
    const std::int64_t count = 3 * pixels;
    const __m256i pair = _mm256_set1_epi32 (int (guint (y1) << 16 | guint (y0)));
    const __m256i bias = _mm256_set1_epi32 (32768 * (y0 + y1) + 0x8000);
    std::int64_t n = 0;
    for (; n + 32 <= count; n += 32) {
        const __m256i bytes =
            _mm256_packus_epi16 (combined (upper + n, lower + n, pair, bias),
                                 combined (upper + n + 16, lower + n + 16, pair, bias));
        _mm256_storeu_si256 (reinterpret_cast<__m256i *> (dest + n),
                             _mm256_permute4x64_epi64 (bytes, 0xd8));
    }
    combine_sums_sse2 (dest + n, upper + n, lower + n, y0, y1, count - n);
}

// RGBA filtered rows are planar, so that the combiners take eight columns per lane: the sums of
// column k for channel c (r, g, b, then alpha) at c * rgba_plane (columns) + k. The planes have
// eight columns of room beyond the row's, left zero (the driver allocates them so).
constexpr std::int64_t rgba_plane (std::int64_t columns) { return columns + 7; }

// The row is first premultiplied into pair entries, entry c (for -1 <= c < width) holding the
// 16-bit lanes (r, r', g, g', b, b', a, a') of the premultiplied source pixels c and c + 1,
// clamped into the row, each less 32768 (flipped sign bit). A column's taps are then one entry
// and its sums one signed multiply-add: x0 (p - 32768) + x1 (p' - 32768) + 2^23 is
// x0 p + x1 p', as x0 + x1 = 256. Four columns are transposed into the planes together.
__attribute__ ((target ("avx2"))) void filter_row_22_4a_avx2 (
    void *row_sums, void *scratch, const guchar *row, const PixopsColumn *columns,
    std::int64_t count, int src_width, const PixopsSeparable &separable) noexcept
{
    guint32 *const sums = static_cast<guint32 *> (row_sums);
    __m128i *const entries = static_cast<__m128i *> (scratch) + 1;  // entries[-1] exists
    const std::int64_t plane = rgba_plane (count);
    const __m128i pairs = _mm_setr_epi8 (0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    const __m128i flip = _mm_set1_epi16 (short (0x8000));
    // The entry of two pixels given as the 8 bytes of both.
    const auto entry = [&] (__m128i bytes) __attribute__ ((target ("avx2"))) {
        return _mm_xor_si128 (_mm_shuffle_epi8 (premultiplied (bytes), pairs), flip);
    };
    // The edges pair a pixel with itself.
    const auto twice = [] (const guchar *pixel) {
        int p;
        std::memcpy (&p, pixel, 4);
        return _mm_set1_epi32 (p);
    };
    entries[-1] = entry (twice (row));
    for (int c = 0; c + 1 < src_width; c++)
        entries[c] = entry (_mm_loadl_epi64 (reinterpret_cast<const __m128i *> (row + 4 * c)));
    entries[src_width - 1] = entry (twice (row + 4 * (src_width - 1)));

    __m128i weights[fx::kPhases];
    for (int p = 0; p < fx::kPhases; p++)
        weights[p] =
            _mm_set1_epi32 (int (guint (separable.x[p][1]) << 16 | guint (separable.x[p][0])));
    const __m128i bias = _mm_set1_epi32 (1 << 23);
    const auto column = [&] (std::int64_t k) __attribute__ ((target ("avx2"))) {
        return _mm_add_epi32 (
            _mm_madd_epi16 (entries[columns[k].first], weights[columns[k].phase]), bias);
    };
    std::int64_t k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m128i c0 = column (k), c1 = column (k + 1), c2 = column (k + 2),
                      c3 = column (k + 3);
        const __m128i rg01 = _mm_unpacklo_epi32 (c0, c1), ba01 = _mm_unpackhi_epi32 (c0, c1);
        const __m128i rg23 = _mm_unpacklo_epi32 (c2, c3), ba23 = _mm_unpackhi_epi32 (c2, c3);
        guint32 *const out = sums + k;
        _mm_storeu_si128 (reinterpret_cast<__m128i *> (out), _mm_unpacklo_epi64 (rg01, rg23));
        _mm_storeu_si128 (reinterpret_cast<__m128i *> (out + plane),
                          _mm_unpackhi_epi64 (rg01, rg23));
        _mm_storeu_si128 (reinterpret_cast<__m128i *> (out + 2 * plane),
                          _mm_unpacklo_epi64 (ba01, ba23));
        _mm_storeu_si128 (reinterpret_cast<__m128i *> (out + 3 * plane),
                          _mm_unpackhi_epi64 (ba01, ba23));
    }
    for (; k < count; k++) {
        alignas (16) guint32 lanes[4];
        _mm_store_si128 (reinterpret_cast<__m128i *> (lanes), column (k));
        for (int c = 0; c < 4; c++) sums[c * plane + k] = lanes[c];
    }
}

namespace {

// Eight columns' sums of one channel from two filtered rows, y0 * upper + y1 * lower, taken as
// 256 * lower + y0 * (upper - lower) since y0 + y1 = 256: one product instead of two, and the
// same number modulo 2^32, which it is below.
__attribute__ ((target ("avx2"))) inline __m256i plane_sums (const guint32 *upper,
                                                            const guint32 *lower, __m256i y0)
{
    const __m256i u = _mm256_loadu_si256 (reinterpret_cast<const __m256i *> (upper));
    const __m256i l = _mm256_loadu_si256 (reinterpret_cast<const __m256i *> (lower));
    return _mm256_add_epi32 (_mm256_slli_epi32 (l, 8),
                             _mm256_mullo_epi32 (_mm256_sub_epi32 (u, l), y0));
}

// Eight RGBA pixels from their channels' lanes (colours at most 255; of the alpha only the low
// byte counts, as in the scalar stores), written whole or, for a last group, the first n.
__attribute__ ((target ("avx2"))) inline void store_pixels (guchar *dest, __m256i r, __m256i g,
                                                           __m256i b, __m256i a, std::int64_t n)
{
    const __m256i pixels =
        _mm256_or_si256 (_mm256_or_si256 (r, _mm256_slli_epi32 (g, 8)),
                         _mm256_or_si256 (_mm256_slli_epi32 (b, 16), _mm256_slli_epi32 (a, 24)));
    if (n >= 8) {
        _mm256_storeu_si256 (reinterpret_cast<__m256i *> (dest), pixels);
    } else {
        alignas (32) guchar bytes[32];
        _mm256_store_si256 (reinterpret_cast<__m256i *> (bytes), pixels);
        std::memcpy (dest, bytes, std::size_t (n) * 4);
    }
}

// The four channels' sums of eight columns.
struct PlaneSums {
    __m256i r, g, b, a;
};

__attribute__ ((target ("avx2"))) inline PlaneSums column_sums (const guint32 *upper,
                                                               const guint32 *lower,
                                                               std::int64_t plane, __m256i y0)
{
    return {plane_sums (upper, lower, y0), plane_sums (upper + plane, lower + plane, y0),
            plane_sums (upper + 2 * plane, lower + 2 * plane, y0),
            plane_sums (upper + 3 * plane, lower + 3 * plane, y0)};
}

}  // namespace

// As scale_line_4a4a: colours the sums divided by the alpha sum, the coverage that sum / 65536,
// a zero alpha sum a transparent black pixel; eight pixels per step, one reciprocal for three
// quotients.
__attribute__ ((target ("avx2"))) void scale_rows_22_4a4a_avx2 (guchar *dest,
                                                               const void *upper_sums,
                                                               const void *lower_sums, int y0,
                                                               int, std::int64_t pixels) noexcept
{
    const guint32 *const upper = static_cast<const guint32 *> (upper_sums);
    const guint32 *const lower = static_cast<const guint32 *> (lower_sums);
    const std::int64_t plane = rgba_plane (pixels);
    const __m256i w0 = _mm256_set1_epi32 (y0);
    const __m256i one = _mm256_set1_epi32 (1);
    for (std::int64_t k = 0; k < pixels; k += 8) {
        // A zero alpha sum has zero colour sums too, which divided by 1 give the black pixel.
        const PlaneSums s = column_sums (upper + k, lower + k, plane, w0);
        const __m256i den = _mm256_max_epu32 (s.a, one);
        const Divisor div = divisor (den);
        store_pixels (dest + 4 * k, bounded_quotients (s.r, div), bounded_quotients (s.g, div),
                      bounded_quotients (s.b, div),
                      _mm256_srli_epi32 (s.a, 16), pixels - k);
    }
}

// As composite_line_22_4a4a (see write_composite): with the destination's own channels d and
// w1 = ((opaque - a) >> 8) * d.alpha, each colour is (s - (s >> 8) + w1 * d) / w for
// w = a - (a >> 8) + w1, the alpha w / 0xff00, and w = 0 gives a transparent black pixel.
__attribute__ ((target ("avx2"))) void composite_rows_22_4a4a_avx2 (guchar *dest,
                                                                   const void *upper_sums,
                                                                   const void *lower_sums,
                                                                   int y0, int,
                                                                   std::int64_t pixels) noexcept
{
    const guint32 *const upper = static_cast<const guint32 *> (upper_sums);
    const guint32 *const lower = static_cast<const guint32 *> (lower_sums);
    const std::int64_t plane = rgba_plane (pixels);
    const __m256i w0 = _mm256_set1_epi32 (y0);
    const __m256i one = _mm256_set1_epi32 (1), low = _mm256_set1_epi32 (0xff);
    const __m256i opaque = _mm256_set1_epi32 (int (fx::kOpaque));
    // The alpha w / 0xff00 = (w >> 8) / 255, and v / 255 = (v + 1 + (v >> 8)) >> 8 for the
    // v = w >> 8 <= 0xff00 that occur (w <= 0xff0000).
    const auto alpha = [one] (__m256i w) __attribute__ ((target ("avx2"))) {
        const __m256i v = _mm256_srli_epi32 (w, 8);
        return _mm256_srli_epi32 (_mm256_add_epi32 (_mm256_add_epi32 (v, one),
                                                    _mm256_srli_epi32 (v, 8)),
                                  8);
    };
    const auto group = [&] (std::int64_t k) __attribute__ ((target ("avx2"))) {
        guchar *const d = dest + 4 * k;
        __m256i old;
        if (pixels - k >= 8) {
            old = _mm256_loadu_si256 (reinterpret_cast<const __m256i *> (d));
        } else {
            alignas (32) guchar bytes[32] = {};
            std::memcpy (bytes, d, std::size_t (pixels - k) * 4);
            old = _mm256_load_si256 (reinterpret_cast<const __m256i *> (bytes));
        }
        const PlaneSums s = column_sums (upper + k, lower + k, plane, w0);
        const __m256i keep = _mm256_mullo_epi32 (
            _mm256_srli_epi32 (_mm256_sub_epi32 (opaque, s.a), 8), _mm256_srli_epi32 (old, 24));
        const auto dividend = [&] (__m256i sum, int shift) __attribute__ ((target ("avx2"))) {
            const __m256i channel = _mm256_and_si256 (_mm256_srli_epi32 (old, shift), low);
            return _mm256_add_epi32 (_mm256_sub_epi32 (sum, _mm256_srli_epi32 (sum, 8)),
                                     _mm256_mullo_epi32 (keep, channel));
        };
        const __m256i w =
            _mm256_add_epi32 (_mm256_sub_epi32 (s.a, _mm256_srli_epi32 (s.a, 8)), keep);
        // w = 0 only when both its terms are 0, so when the alpha sum and with it every
        // dividend is 0: divided by 1 they give the transparent black pixel.
        const Divisor div = divisor (_mm256_max_epu32 (w, one));
        store_pixels (d, bounded_quotients (dividend (s.r, 0), div),
                      bounded_quotients (dividend (s.g, 8), div),
                      bounded_quotients (dividend (s.b, 16), div), alpha (w), pixels - k);
    };
    for (std::int64_t k = 0; k < pixels; k += 8) group (k);
}

}  // namespace tamba::detail::kernels

#endif  // __x86_64__
