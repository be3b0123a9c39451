// AVX2 variant of the 2 x 2 RGB scaling kernel, used only when the CPU reports AVX2: the SSE2
// arithmetic (see pixops-sse2.cc) on two pixels at once, one in each 128-bit half.
#if defined(__x86_64__)

#include <immintrin.h>

#include <cstring>

#include "pixops/pixops-fixed.h"
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

}  // namespace

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

}  // namespace tamba::detail::kernels

#endif  // __x86_64__
