// SPDX-License-Identifier: LGPL-2.1-or-later
// Pieces shared by the x86 vector kernels of the 2 x 2 RGB scaling kernel and its separable form.
#ifndef TAMBA_PIXOPS_PIXOPS_X86_H
#define TAMBA_PIXOPS_PIXOPS_X86_H

#include <emmintrin.h>

#include <cstdint>

#include "pixops/pixops.h"

namespace tamba::detail::kernels {

// One phase's weights, each split as w = 256 * hi + lo, laid out for pmaddwd over the lanes
// (r0 r0' g0 g0' b0 b0' r1 r1') ("a") and (g1 g1' b1 b1' - - - -) ("b"), where r0 is the left
// tap of the upper row, r0' the left tap of the lower row and r1 the right taps.
struct SplitPhase {
    __m128i a_hi, a_lo, b_hi, b_lo;
};

// Fills the 16 phases of a 2 x 2 weight block; false when a weight's magnitude reaches 2^23,
// so that its high half would not fit 16 bits.
bool split_phases (const int *weights, SplitPhase *phases);

// The bytes (y0 * upper[n] + y1 * lower[n] + 0x8000) >> 16 for n < count: two across-filtered
// RGB rows combined, the rounding of the 2 x 2 RGB kernel.
void combine_sums_sse2 (guchar *dest, const guint16 *upper, const guint16 *lower, int y0, int y1,
                        std::int64_t count) noexcept;

}  // namespace tamba::detail::kernels

#endif  // TAMBA_PIXOPS_PIXOPS_X86_H
