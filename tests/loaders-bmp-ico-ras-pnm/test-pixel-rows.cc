// SPDX-License-Identifier: LGPL-2.1-or-later
// The SIMD row conversion gives the same bytes as the scalar one at every length and alignment,
// and writes nothing past the row.
#include <gtest/gtest.h>

#include <vector>

#include "pixel-rows.h"

namespace {

TEST (PixelRows, BgrToRgbMatchesScalarAtEveryLength)
{
    for (size_t offset = 0; offset < 4; ++offset)
        for (size_t n = 0; n < 70; ++n) {
            std::vector<guchar> src (offset + 3 * n), fast (offset + 3 * n + 8, 0xee), slow (offset + 3 * n + 8, 0xee);
            for (size_t i = 0; i < src.size (); ++i) src[i] = guchar (i * 37 + 11);
            tamba::detail::bgr_to_rgb (src.data () + offset, fast.data () + offset, n);
            tamba::detail::bgr_to_rgb_scalar (src.data () + offset, slow.data () + offset, n);
            ASSERT_EQ (fast, slow) << "offset " << offset << ", " << n << " pixels";
        }
}

}  // namespace
