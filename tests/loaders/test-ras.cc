// SPDX-License-Identifier: LGPL-2.1-or-later
// Sun raster module: headers it must refuse.
#include "format-test.h"

namespace tamba::test {
namespace {

Bytes ras_header (std::uint32_t w, std::uint32_t h, std::uint32_t depth, std::uint32_t type,
                  std::uint32_t map_type, std::uint32_t map_length)
{
    Bytes b;
    for (std::uint32_t v : {0x59a66a95u, w, h, depth, 0u, type, map_type, map_length}) put_be (b, v, 4);
    b.resize (b.size () + 64, 0);
    return b;
}

INSTANTIATE_TEST_SUITE_P (
    Ras, Refused,
    ::testing::Values (
        Refusal {"depth16", "ras", ras_header (4, 4, 16, 1, 0, 0), "unsupported depth 16"},
        Refusal {"type5", "ras", ras_header (4, 4, 8, 5, 0, 0), "unsupported raster type 5"},
        Refusal {"map_not_rgb_triples", "ras", ras_header (4, 4, 8, 1, 1, 10),
                 "colour map of 10 bytes is not 1 to 256 RGB entries"},
        Refusal {"map_over_256", "ras", ras_header (4, 4, 8, 1, 1, 771),
                 "colour map of 771 bytes is not 1 to 256 RGB entries"},
        Refusal {"huge", "ras", ras_header (100000, 100000, 24, 1, 0, 0),
                 "image size 100000x100000 is outside the supported range"},
        Refusal {"truncated", "ras", ras_header (40, 40, 24, 1, 0, 0), "premature end of data"}),
    refusal_name);

}  // namespace
}  // namespace tamba::test
