// SPDX-License-Identifier: LGPL-2.1-or-later
// SSSE3 variants of the run kernels (RGBA over an opaque destination), used only when the CPU
// reports SSSE3.
//
// Four pixels per step: a byte shuffle turns 16 source bytes into the colour bytes and the alpha
// repeated under each of them, so the destination bytes are blended in place. Every
// intermediate fits an unsigned 16-bit lane: a * p + (255 - a) * d <= 65025, plus at most
// 0x80 + 254 for the rounding below; the formulas are those of the scalar kernels
// ((X + 1 + (X >> 8)) >> 8 equals X / 255 for every X <= 65025, which the tests check).
#if defined(__x86_64__)

#include <tmmintrin.h>

#include <cstring>

#include "pixops/pixops-simd.h"

namespace tamba::detail::kernels {

namespace {

enum class Blend { kRounded, kTruncated, kShifted };

template <Blend B>
__attribute__ ((target ("ssse3"))) inline __m128i blend_half (__m128i p, __m128i a, __m128i d)
{
    const __m128i x = _mm_add_epi16 (
        _mm_mullo_epi16 (a, p), _mm_mullo_epi16 (_mm_sub_epi16 (_mm_set1_epi16 (255), a), d));
    if constexpr (B == Blend::kRounded) {
        const __m128i t = _mm_add_epi16 (x, _mm_set1_epi16 (0x80));
        return _mm_srli_epi16 (_mm_add_epi16 (t, _mm_srli_epi16 (t, 8)), 8);
    } else if constexpr (B == Blend::kTruncated) {
        const __m128i t = _mm_add_epi16 (x, _mm_set1_epi16 (1));
        return _mm_srli_epi16 (_mm_add_epi16 (t, _mm_srli_epi16 (x, 8)), 8);
    } else {
        return _mm_srli_epi16 (x, 8);
    }
}

// Blends 16 bytes of colours p over d with the alphas a under them.
template <Blend B>
__attribute__ ((target ("ssse3"))) inline __m128i blend (__m128i p, __m128i a, __m128i d)
{
    const __m128i zero = _mm_setzero_si128 ();
    const __m128i lo = blend_half<B> (_mm_unpacklo_epi8 (p, zero), _mm_unpacklo_epi8 (a, zero),
                                      _mm_unpacklo_epi8 (d, zero));
    const __m128i hi = blend_half<B> (_mm_unpackhi_epi8 (p, zero), _mm_unpackhi_epi8 (a, zero),
                                      _mm_unpackhi_epi8 (d, zero));
    return _mm_packus_epi16 (lo, hi);
}

template <Blend B>
__attribute__ ((target ("ssse3"))) void over_rgb (guchar *dest, const guchar *src,
                                                  std::int64_t n)
{
    const __m128i colours = _mm_setr_epi8 (0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m128i alphas = _mm_setr_epi8 (3, 3, 3, 7, 7, 7, 11, 11, 11, 15, 15, 15, -1, -1, -1, -1);
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4, dest += 12, src += 16) {
        const __m128i s = _mm_loadu_si128 (reinterpret_cast<const __m128i *> (src));
        int tail;
        std::memcpy (&tail, dest + 8, 4);
        const __m128i d = _mm_unpacklo_epi64 (
            _mm_loadl_epi64 (reinterpret_cast<const __m128i *> (dest)), _mm_cvtsi32_si128 (tail));
        const __m128i out =
            blend<B> (_mm_shuffle_epi8 (s, colours), _mm_shuffle_epi8 (s, alphas), d);
        _mm_storel_epi64 (reinterpret_cast<__m128i *> (dest), out);
        tail = _mm_cvtsi128_si32 (_mm_srli_si128 (out, 8));
        std::memcpy (dest + 8, &tail, 4);
    }
    if constexpr (B == Blend::kRounded)
        tamba::detail::over_rgb_rounded (dest, src, n - k);
    else
        tamba::detail::over_rgb_truncated (dest, src, n - k);
}

// 4-byte destinations: the colour bytes blend in place; the fourth byte keeps the destination's
// (rounded) or takes the source alpha (shifted).
template <Blend B>
__attribute__ ((target ("ssse3"))) void over_rgbx (guchar *dest, const guchar *src,
                                                   std::int64_t n)
{
    const __m128i alphas = _mm_setr_epi8 (3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15, 15, 15);
    const __m128i fourth = _mm_set1_epi32 (int (0xff000000u));
    std::int64_t k = 0;
    for (; k + 4 <= n; k += 4, dest += 16, src += 16) {
        const __m128i s = _mm_loadu_si128 (reinterpret_cast<const __m128i *> (src));
        const __m128i d = _mm_loadu_si128 (reinterpret_cast<const __m128i *> (dest));
        const __m128i out = blend<B> (s, _mm_shuffle_epi8 (s, alphas), d);
        const __m128i kept = B == Blend::kShifted ? s : d;
        _mm_storeu_si128 (reinterpret_cast<__m128i *> (dest),
                          _mm_or_si128 (_mm_andnot_si128 (fourth, out),
                                        _mm_and_si128 (fourth, kept)));
    }
    if constexpr (B == Blend::kRounded)
        tamba::detail::over_rgbx_rounded (dest, src, n - k);
    else
        tamba::detail::over_rgbx_shifted (dest, src, n - k);
}

}  // namespace

void over_rgb_rounded_ssse3 (guchar *dest, const guchar *src, std::int64_t n)
{
    over_rgb<Blend::kRounded> (dest, src, n);
}

void over_rgb_truncated_ssse3 (guchar *dest, const guchar *src, std::int64_t n)
{
    over_rgb<Blend::kTruncated> (dest, src, n);
}

void over_rgbx_rounded_ssse3 (guchar *dest, const guchar *src, std::int64_t n)
{
    over_rgbx<Blend::kRounded> (dest, src, n);
}

void over_rgbx_shifted_ssse3 (guchar *dest, const guchar *src, std::int64_t n)
{
    over_rgbx<Blend::kShifted> (dest, src, n);
}

}  // namespace tamba::detail::kernels

#endif  // __x86_64__
