// SPDX-License-Identifier: LGPL-2.1-or-later
// PNG module: sizes over the limits, data that ends early, and what a progressive load leaves.
#include <zlib.h>

#include "format-test.h"

namespace tamba::test {
namespace {

Bytes chunk (const char *type, const Bytes &data)
{
    Bytes out;
    put_be (out, std::uint32_t (data.size ()), 4);
    out.insert (out.end (), type, type + 4);
    out.insert (out.end (), data.begin (), data.end ());
    put_be (out, std::uint32_t (crc32 (0, out.data () + 4, uInt (out.size () - 4))), 4);  // type and data
    return out;
}

// An 8-bit RGB PNG of the given size whose image data holds `rows` zero rows of the width.
Bytes png_of (std::uint32_t width, std::uint32_t height, int rows, bool interlaced = false)
{
    Bytes ihdr;
    put_be (ihdr, width, 4);
    put_be (ihdr, height, 4);
    ihdr.insert (ihdr.end (), {8, 2, 0, 0, std::uint8_t (interlaced)});
    const Bytes raw (size_t (rows) * (3 * width + 1), 0);
    Bytes idat (compressBound (uLong (raw.size ())));
    uLongf size = uLongf (idat.size ());
    compress (idat.data (), &size, raw.data (), uLong (raw.size ()));
    idat.resize (size);
    Bytes out {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    for (const Bytes &c : {chunk ("IHDR", ihdr), chunk ("IDAT", idat), chunk ("IEND", {})})
        out.insert (out.end (), c.begin (), c.end ());
    return out;
}

// A 64 x 64 RGB PNG of noise (so that it does not compress away), its first half only.
Bytes truncated_png ()
{
    Bytes rgb (64 * 64 * 3);
    for (size_t i = 0; i < rgb.size (); ++i) rgb[i] = std::uint8_t ((i * 2654435761u) >> 13);
    Bytes png = write_png (64, 64, false, rgb);
    png.resize (png.size () / 2);
    return png;
}

INSTANTIATE_TEST_SUITE_P (
    Png, Refused,
    ::testing::Values (
        Refusal {"over_pixel_limit", "png", png_of (20000, 20000, 0), "is outside the supported range"},
        Refusal {"over_side_limit", "png", png_of ((1u << 24) + 1, 1, 0), "exceeds user limit"},
        Refusal {"truncated", "png", truncated_png (), "the image data is incomplete"},
        Refusal {"short_image_data", "png", png_of (8, 8, 4), "incomplete"},
        Refusal {"header_only", "png", [] {
                     Bytes b = png_of (8, 8, 8);
                     b.resize (20);
                     return b;
                 }(), "ends before the image header"}),
    refusal_name);

// The image a progressive load of a cut file already handed out has every row defined: what
// arrived, then black. An interlaced image whose data stops in a late pass fails whole-file too.
TEST (Png, TruncatedProgressiveImageIsDefinedBelowWhatArrived)
{
    EXPECT_EQ (ImagePtr (module_for ("png").load_bytes (png_of (8, 8, 4, true))), nullptr);
    const auto p = load_in_pieces (module_for ("png"), truncated_png (), 4096);
    ASSERT_NE (p.image, nullptr);
    EXPECT_NE (rgba_at (p.image, 0, 0), (std::vector<int> {0, 0, 0, 255}));
    for (int x = 0; x < 64; ++x) EXPECT_EQ (rgba_at (p.image, x, 63), (std::vector<int> {0, 0, 0, 255}));
}

}  // namespace
}  // namespace tamba::test
