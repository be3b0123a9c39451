// SPDX-License-Identifier: LGPL-2.1-or-later
// PNM module: headers and samples it must refuse, and the scale of every sample value.
#include "format-test.h"

namespace tamba::test {
namespace {

INSTANTIATE_TEST_SUITE_P (
    Pnm, Refused,
    ::testing::Values (
        Refusal {"p7", "pnm", bytes_of ("P7\n2 2\n255\n............"), "not a PNM file"},
        Refusal {"letter_in_header", "pnm", bytes_of ("P6\n2 x2\n255\n............"), "bad character in the header"},
        Refusal {"maxval_zero", "pnm", bytes_of ("P5 2 2 0\n...."), "maxval 0 is not 1 to 65535"},
        Refusal {"maxval_too_big", "pnm", bytes_of ("P2 1 1 65536\n1\n"), "maxval 65536 is not 1 to 65535"},
        Refusal {"letter_in_samples", "pnm", bytes_of ("P3 1 1 255\n1 2 z\n"), "bad character in the samples"},
        Refusal {"huge", "pnm", bytes_of ("P6 70000 1 255\n"), "image size 70000x1 is outside the supported range"},
        Refusal {"truncated", "pnm", bytes_of ("P6 2 2 255\n.........."), "premature end of data"}),
    refusal_name);

// A sample v of maxval m is round(v * 255 / m), at each value of a few maxvals.
TEST (Pnm, ScalesEveryValueRounded)
{
    for (int maxval : {1, 2, 5, 100, 254, 256, 4095}) {
        std::string data = "P2 " + std::to_string (maxval + 1) + " 1 " + std::to_string (maxval) + "\n";
        for (int v = 0; v <= maxval; ++v) data += std::to_string (v) + " ";
        const auto image = decode_all_ways ("pnm", bytes_of (data));
        ASSERT_NE (image, nullptr);
        for (int v = 0; v <= maxval; ++v)
            ASSERT_EQ (image->pixels[3 * v], (v * 255 + maxval / 2) / maxval) << v << " of " << maxval;
    }
}

}  // namespace
}  // namespace tamba::test
