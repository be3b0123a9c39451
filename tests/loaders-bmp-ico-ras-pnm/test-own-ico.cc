// SPDX-License-Identifier: LGPL-2.1-or-later
// ICO module on files built here: which entry is chosen, the AND mask as alpha, 32-bit alpha,
// PNG entries, and directories that point outside the data.
#include <gtest/gtest.h>
#include <png.h>

#include <functional>

#include "own-loaders-test.h"

namespace tamba::test {
namespace {

struct Entry {
    int dir_width, dir_height, dir_bpp;
    Bytes data;
};

Bytes write_ico (const std::vector<Entry> &entries, int type = 1)
{
    Bytes b;
    put_le (b, 0, 2);
    put_le (b, std::uint32_t (type), 2);
    put_le (b, std::uint32_t (entries.size ()), 2);
    std::uint32_t offset = std::uint32_t (6 + 16 * entries.size ());
    for (const auto &e : entries) {
        b.push_back (std::uint8_t (e.dir_width));
        b.push_back (std::uint8_t (e.dir_height));
        b.push_back (0);
        b.push_back (0);
        put_le (b, 1, 2);
        put_le (b, std::uint32_t (e.dir_bpp), 2);
        put_le (b, std::uint32_t (e.data.size ()), 4);
        put_le (b, offset, 4);
        offset += std::uint32_t (e.data.size ());
    }
    for (const auto &e : entries) b.insert (b.end (), e.data.begin (), e.data.end ());
    return b;
}

// The colour of pixel (x, y) of a test entry, and whether its AND bit is set.
std::array<std::uint8_t, 4> entry_colour (int x, int y)
{
    return {std::uint8_t (x * 30), std::uint8_t (y * 30), std::uint8_t (x ^ y), std::uint8_t (x * 16 + y)};
}
bool masked (int x, int y) { return (x + 2 * y) % 3 == 0; }

// A BMP entry of w x h at 8 bits (palette index = x, palette colour = entry_colour (x, 0))
// or 32 bits (BGRA from entry_colour), with its AND mask.
Bytes dib_entry (int w, int h, int bpp)
{
    Bytes b;
    put_le (b, 40, 4);
    put_le (b, std::uint32_t (w), 4);
    put_le (b, std::uint32_t (2 * h), 4);
    put_le (b, 1, 2);
    put_le (b, std::uint32_t (bpp), 2);
    b.resize (40, 0);
    if (bpp == 8) {
        for (int i = 0; i < 256; ++i) {
            const auto c = entry_colour (i, 0);
            b.insert (b.end (), {c[2], c[1], c[0], 0});
        }
    }
    const size_t stride = size_t ((w * bpp + 31) / 32 * 4), mask_stride = size_t ((w + 31) / 32 * 4);
    for (int r = 0; r < h; ++r) {
        const int y = h - 1 - r;
        Bytes row (stride, 0);
        for (int x = 0; x < w; ++x) {
            const auto c = entry_colour (x, y);
            if (bpp == 8) row[size_t (x)] = std::uint8_t (x);
            else std::copy_n (std::array<std::uint8_t, 4> {c[2], c[1], c[0], c[3]}.begin (), 4, row.begin () + 4 * x);
        }
        b.insert (b.end (), row.begin (), row.end ());
    }
    for (int r = 0; r < h; ++r) {
        Bytes row (mask_stride, 0);
        for (int x = 0; x < w; ++x)
            if (masked (x, h - 1 - r)) row[size_t (x / 8)] |= std::uint8_t (0x80 >> (x % 8));
        b.insert (b.end (), row.begin (), row.end ());
    }
    return b;
}

Pixels expected_dib (int w, int h, int bpp)
{
    Pixels want (w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto c = bpp == 8 ? entry_colour (x, 0) : entry_colour (x, y);
            // 32-bit entries carry their own alpha; the others take it from the AND mask.
            const std::uint8_t a = bpp == 32 ? c[3] : masked (x, y) ? 0 : 255;
            want.set (x, y, c[0], c[1], c[2], a);
        }
    return want;
}

TEST (Ico, ChoosesTheLargestThenTheDeepestEntry)
{
    const auto image = decode_all_ways ("ico", write_ico ({{3, 3, 32, dib_entry (3, 3, 32)},
                                                           {5, 4, 8, dib_entry (5, 4, 8)},
                                                           {5, 4, 32, dib_entry (5, 4, 32)},
                                                           {4, 5, 8, dib_entry (4, 5, 8)}}));
    EXPECT_EQ (diff_pixels (image.get (), expected_dib (5, 4, 32)), "");
}

TEST (Ico, AndMaskGivesAlphaToPalettedEntries)
{
    const auto image = decode_all_ways ("ico", write_ico ({{7, 3, 8, dib_entry (7, 3, 8)}}));
    EXPECT_EQ (diff_pixels (image.get (), expected_dib (7, 3, 8)), "");
}

// Cursors keep a hotspot where icons keep the depth, so it plays no part in the choice.
TEST (Ico, CursorIgnoresHotspotWhenChoosing)
{
    // Read as depths, the second entry's 32 would win.
    const auto image = decode_all_ways (
        "ico", write_ico ({{4, 4, 8, dib_entry (4, 4, 8)}, {4, 4, 32, dib_entry (4, 4, 32)}}, 2));
    EXPECT_EQ (diff_pixels (image.get (), expected_dib (4, 4, 8)), "");
}

Bytes png_entry (int w, int h)
{
    png_image img {};
    img.version = PNG_IMAGE_VERSION;
    img.width = png_uint_32 (w);
    img.height = png_uint_32 (h);
    img.format = PNG_FORMAT_RGBA;
    Bytes rgba;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto c = entry_colour (x, y);
            rgba.insert (rgba.end (), c.begin (), c.end ());
        }
    png_alloc_size_t size = 0;
    png_image_write_to_memory (&img, nullptr, &size, 0, rgba.data (), 0, nullptr);
    Bytes out (size);
    EXPECT_TRUE (png_image_write_to_memory (&img, out.data (), &size, 0, rgba.data (), 0, nullptr));
    out.resize (size);
    return out;
}

TEST (Ico, DecodesPngEntries)
{
    const auto image = decode_all_ways ("ico", write_ico ({{4, 4, 32, dib_entry (4, 4, 32)},
                                                           {6, 5, 32, png_entry (6, 5)}}));
    EXPECT_EQ (diff_pixels (image.get (), expected_dib (6, 5, 32)), "");
}

INSTANTIATE_TEST_SUITE_P (
    Ico, Refused,
    ::testing::Values (
        RefusedFile {"offset_inside_directory", "ico", [] {
                          Bytes b = write_ico ({{4, 4, 8, dib_entry (4, 4, 8)}});
                          b[18] = 6;  // the entry's offset now points into the directory
                          return b;
                      } (), "ICO: no usable entry in the directory"},
        RefusedFile {"entry_past_end_of_data", "ico", [] {
                          Bytes b = write_ico ({{4, 4, 8, dib_entry (4, 4, 8)}});
                          b.resize (b.size () - 1);
                          return b;
                      } (), "ICO: premature end of data"},
        RefusedFile {"bitmap_larger_than_entry", "ico", [] {
                          Bytes b = write_ico ({{4, 4, 8, dib_entry (4, 4, 8)}});
                          b[22 + 4] = 40;  // a 40-pixel-wide bitmap in an entry sized for 4
                          return b;
                      } (), "ICO: bitmap data runs past the entry"},
        RefusedFile {"no_entries", "ico", write_ico ({}), "ICO: the directory has no entries"},
        RefusedFile {"broken_png", "ico", [] {
                          Bytes png = png_entry (4, 4);
                          png.resize (png.size () - 20);
                          return write_ico ({{4, 4, 32, png}});
                      } (), "ICO: PNG entry: PNG data ends early"}),
    refused_name);

}  // namespace
}  // namespace tamba::test
