// SPDX-License-Identifier: LGPL-2.1-or-later
// The engine's fixed-point vocabulary: 16.16 source positions with 16 sub-pixel phases, and
// weights where 65536 stands for 1.0.
#ifndef TAMBA_PIXOPS_PIXOPS_FIXED_H
#define TAMBA_PIXOPS_PIXOPS_FIXED_H

#include <cstdint>

namespace tamba::fx {

inline constexpr int kShift = 16;
inline constexpr int kOne = 1 << kShift;  // 65536: 1.0 for positions and weights
inline constexpr int kPhases = 16;        // sub-pixel phases per source pixel
inline constexpr std::uint32_t kOpaque = 0xff0000;  // a tap sum of full weight times alpha 255

// Positions are 64-bit so that sources wider than 32767 pixels do not overflow; for positions
// that fit in 32 bits the integer part and the phase are the same bits as before.
constexpr std::int64_t pixel (std::int64_t pos) { return pos >> kShift; }
constexpr int phase (std::int64_t pos) { return int ((pos >> 12) & 15); }

// Floor division (toward minus infinity) for a positive divisor.
constexpr std::int64_t floor_div (std::int64_t a, std::int64_t b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Ceiling division for a positive divisor, exact for negative dividends too.
constexpr std::int64_t ceil_div (std::int64_t a, std::int64_t b)
{
    return floor_div (a + b - 1, b);
}

// Trailing zero bits of a non-zero size: the checkerboard squares are 2^shift pixels wide.
constexpr int trailing_zeros (int size) { return __builtin_ctz (unsigned (size)); }

static_assert (phase (0x12345) == 2);
static_assert (pixel (-1) == -1 && phase (-1) == 15);
static_assert (floor_div (-7, 2) == -4 && floor_div (7, 2) == 3 && floor_div (-8, 2) == -4);
static_assert (ceil_div (212992, 32768) == 7 && ceil_div (-5, 4) == -1);
static_assert (trailing_zeros (8) == 3 && trailing_zeros (12) == 2 && trailing_zeros (-8) == 3);

}  // namespace tamba::fx

#endif  // TAMBA_PIXOPS_PIXOPS_FIXED_H
