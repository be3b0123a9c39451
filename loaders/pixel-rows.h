// SPDX-License-Identifier: LGPL-2.1-or-later
// Row conversions shared by the decoders' hot paths.
#ifndef TAMBA_LOADERS_PIXEL_ROWS_H
#define TAMBA_LOADERS_PIXEL_ROWS_H

#include <glib.h>

#include <cstddef>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TAMBA_PIXEL_ROWS_X86 1
#endif

namespace tamba::detail {

inline void bgr_to_rgb_scalar (const guchar *src, guchar *dst, size_t n) noexcept
{
    for (size_t i = 0; i < n; ++i, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
    }
}

#ifdef TAMBA_PIXEL_ROWS_X86
// Five pixels per 16-byte shuffle. The 16th byte stored is the next pixel's first byte, which
// the next step (or the scalar tail) overwrites; the loop stops while 16 bytes remain on both
// sides, so nothing outside the two rows is read or written.
__attribute__ ((target ("ssse3"))) inline void bgr_to_rgb_ssse3 (const guchar *src, guchar *dst,
                                                                size_t n) noexcept
{
    const __m128i order = _mm_setr_epi8 (2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    size_t i = 0;
    for (; i + 6 <= n; i += 5) {
        const __m128i v = _mm_loadu_si128 (reinterpret_cast<const __m128i *> (src + 3 * i));
        _mm_storeu_si128 (reinterpret_cast<__m128i *> (dst + 3 * i), _mm_shuffle_epi8 (v, order));
    }
    bgr_to_rgb_scalar (src + 3 * i, dst + 3 * i, n - i);
}
#endif

// Copies n 3-byte pixels, swapping the first and third byte of each (BGR to RGB). The rows
// must not overlap. The SIMD path is chosen once, at run time, and gives the same bytes.
inline void bgr_to_rgb (const guchar *src, guchar *dst, size_t n) noexcept
{
#ifdef TAMBA_PIXEL_ROWS_X86
    static const bool ssse3 = __builtin_cpu_supports ("ssse3");
    if (ssse3) {
        bgr_to_rgb_ssse3 (src, dst, n);
        return;
    }
#endif
    bgr_to_rgb_scalar (src, dst, n);
}

}  // namespace tamba::detail

#endif  // TAMBA_LOADERS_PIXEL_ROWS_H
