// SPDX-License-Identifier: LGPL-2.1-or-later
// BMP module: hostile headers and RLE codes, and data that stops early.
#include <algorithm>

#include "format-test.h"

namespace tamba::test {
namespace {

// A 24-bit BMP of zero pixels after edit changes the header fields or the bytes.
Bytes bmp_with (void (*edit) (BmpLayout &), void (*bytes) (Bytes &) = nullptr)
{
    BmpLayout s;
    edit (s);
    Bytes b = write_bmp (s, Bytes (size_t ((s.width * s.bpp + 31) / 32 * 4 * std::max (s.height, 0)), 0));
    if (bytes) bytes (b);
    return b;
}

INSTANTIATE_TEST_SUITE_P (
    Bmp, Refused,
    ::testing::Values (
        Refusal {"too_wide", "bmp", bmp_with ([] (BmpLayout &s) { s.width = 70000, s.height = 1; },
                                              [] (Bytes &b) { b.resize (200); }),
                 "image size 70000x1 is outside the supported range"},
        Refusal {"zero_height", "bmp", bmp_with ([] (BmpLayout &s) { s.height = 0; }),
                 "image size 4x0 is outside the supported range"},
        Refusal {"noncontiguous_mask", "bmp",
                 bmp_with ([] (BmpLayout &s) { s.bpp = 16, s.compression = 3, s.masks = {0x0f0f, 0x00f0, 0xf000}; }),
                 "bit-field mask 0x00000f0f is not contiguous"},
        Refusal {"palette_larger_than_room", "bmp",
                 bmp_with ([] (BmpLayout &s) { s.bpp = 8, s.palette_colours = 4; }, [] (Bytes &b) { b[46] = 200; }),
                 "palette of 200 colours does not fit before the pixel data"},
        Refusal {"rle8_with_24_bits", "bmp", bmp_with ([] (BmpLayout &s) { s.compression = 1; }),
                 "unsupported bit depth 24 for compression 1"},
        Refusal {"offset_inside_header", "bmp", bmp_with ([] (BmpLayout &) {}, [] (Bytes &b) { b[10] = 20; }),
                 "pixel data offset 20 lies inside the header"},
        Refusal {"jpeg_compression", "bmp", bmp_with ([] (BmpLayout &s) { s.compression = 4; }),
                 "unsupported compression 4"},
        Refusal {"truncated", "bmp", bmp_with ([] (BmpLayout &) {}, [] (Bytes &b) { b.resize (b.size () - 5); }),
                 "premature end of data"}),
    refusal_name);

// RLE codes that reach past the row or the image are clipped; every pixel stays defined. On a
// 3 x 2 image: a run of 255 and a literal of 9, then a delta far below the image.
TEST (Bmp, HostileRleCodesStayInsideTheImage)
{
    const Bytes rle = {255, 1, 0, 9, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 2, 200, 200, 0, 1};
    const auto image = decode_all_ways ("bmp", write_bmp ({3, 2, 8, 40, 1, {}, 2}, rle));
    ASSERT_NE (image, nullptr);
    const Bytes c = palette_colour (1);
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ (rgba_at (image.get (), x, 1), (std::vector<int> {c[0], c[1], c[2], 255}));
        EXPECT_EQ (rgba_at (image.get (), x, 0), (std::vector<int> {0, 0, 0, 0}));
    }
}

// Data that stops early: the progressive image keeps the rows that arrived (the bottom ones,
// stored first) and the rest stays black.
TEST (Bmp, TruncatedProgressiveImageKeepsTheRowsThatArrived)
{
    Bytes b = write_bmp ({2, 3, 24, 40, 0, {}, 0}, Bytes (24, 0xff));
    b.resize (b.size () - 5);
    const auto p = load_in_pieces (module_for ("bmp"), b, 13);
    ASSERT_NE (p.image, nullptr);
    EXPECT_EQ (p.row_updates, (std::vector<int> {0, 1, 1}));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ (rgba_at (p.image, x, y)[0], y == 0 ? 0 : 255) << x << "," << y;
}

}  // namespace
}  // namespace tamba::test
