// SPDX-License-Identifier: LGPL-2.1-or-later
// ICO module: which entry is chosen, PNG entries, and directories that point outside the data.
#include "format-test.h"

namespace tamba::test {
namespace {

// The colour of pixel (x, y) of an entry of width w: opaque, different for each size and tint.
Bytes entry_colour (int w, int x, int y, int tint)
{
    return {std::uint8_t (x * 30), std::uint8_t (y * 30), std::uint8_t (w * 9 + tint)};
}

// A 32-bit BMP entry of w x h (its header counts the AND mask's rows too; the mask is clear).
Bytes dib_entry (int w, int h, int tint = 0)
{
    Bytes data;
    for (int y = h - 1; y >= 0; --y)
        for (int x = 0; x < w; ++x) {
            const Bytes c = entry_colour (w, x, y, tint);
            data.insert (data.end (), {c[2], c[1], c[0], 255});
        }
    data.resize (data.size () + size_t ((w + 31) / 32 * 4 * h), 0);
    return write_bmp ({w, 2 * h, 32, 40, 0, {}, 0}, data, false);
}

Bytes png_entry (int w, int h)
{
    Bytes rgba;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Bytes c = entry_colour (w, x, y, 0);
            rgba.insert (rgba.end (), {c[0], c[1], c[2], 255});
        }
    return write_png (w, h, true, rgba);
}

void expect_entry (const Tamba *image, int w, int h, int tint)
{
    ASSERT_NE (image, nullptr);
    ASSERT_EQ (image->width, w);
    ASSERT_EQ (image->height, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Bytes c = entry_colour (w, x, y, tint);
            ASSERT_EQ (rgba_at (image, x, y), (std::vector<int> {c[0], c[1], c[2], 255})) << x << "," << y;
        }
}

// The largest entry wins, then the deepest; a cursor's directory holds a hotspot where an
// icon's holds the depth, so there it plays no part.
TEST (Ico, ChoosesTheLargestThenTheDeepestEntry)
{
    const std::vector<IcoEntry> entries = {
        {3, 3, 32, dib_entry (3, 3)}, {5, 4, 8, dib_entry (5, 4, 50)}, {5, 4, 32, png_entry (5, 4)},
        {4, 5, 8, dib_entry (4, 5)}};
    expect_entry (decode_all_ways ("ico", write_ico (entries)).get (), 5, 4, 0);
    const auto cursor = decode_all_ways ("ico", write_ico ({{4, 4, 1, dib_entry (4, 4, 50)},
                                                            {4, 4, 32, dib_entry (4, 4)}}, 2));
    expect_entry (cursor.get (), 4, 4, 50);
}

Bytes patched (Bytes b, size_t at, std::uint8_t v) { return b[at] = v, b; }

const Bytes kIcon = write_ico ({{4, 4, 32, dib_entry (4, 4)}});

INSTANTIATE_TEST_SUITE_P (
    Ico, Refused,
    ::testing::Values (
        // The entry's offset points into the directory.
        Refusal {"offset_inside_directory", "ico", patched (kIcon, 18, 6), "no usable entry in the directory"},
        Refusal {"entry_past_end_of_data", "ico", Bytes (kIcon.begin (), kIcon.end () - 1), "premature end of data"},
        // A 40-pixel-wide bitmap in an entry sized for 4.
        Refusal {"bitmap_larger_than_entry", "ico", patched (kIcon, 22 + 4, 40), "bitmap data runs past the entry"},
        Refusal {"no_entries", "ico", write_ico ({}), "the directory has no entries"},
        Refusal {"broken_png", "ico", [] {
                     Bytes png = png_entry (4, 4);
                     png.resize (png.size () - 20);
                     return write_ico ({{4, 4, 32, png}});
                 }(), "PNG data ends early"}),
    refusal_name);

}  // namespace
}  // namespace tamba::test
