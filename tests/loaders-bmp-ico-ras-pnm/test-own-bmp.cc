// SPDX-License-Identifier: LGPL-2.1-or-later
// BMP module: header versions, bit depths, bit fields, RLE with its skips, and hostile headers,
// on files built here. Each decode also runs in pieces and must agree with the whole-file one.
#include <gtest/gtest.h>

#include <functional>

#include "own-loaders-test.h"

namespace tamba::test {
namespace {

// Palette colour i, for indexed images.
std::array<std::uint8_t, 3> palette_colour (int i)
{
    return {std::uint8_t (i * 40 + 5), std::uint8_t (250 - i * 30), std::uint8_t (i * 7 + 1)};
}

struct BmpLayout {
    int width = 5, height = 3, bpp = 8;
    int header_size = 40;
    bool top_down = false;
    std::uint32_t compression = 0;
    std::vector<std::uint32_t> masks;   // stored after a 40-byte header, or inside larger ones
    int palette_colours = 0;            // written to the file (and to colours-used)
    bool implied_palette = false;       // leave colours-used at 0
};

// Builds a BMP whose stored pixel at (x, y) (y counted in file order) is value(x, y): a palette
// index for up to 8 bits, the packed little-endian pixel otherwise. rle: the pixel data as is.
Bytes write_bmp (const BmpLayout &l, const std::function<std::uint32_t (int, int)> &value,
                 const Bytes &rle = {})
{
    const bool core = l.header_size == 12;
    const int entry = core ? 3 : 4;
    const size_t stride = size_t ((l.width * l.bpp + 31) / 32 * 4);
    const size_t extra = l.header_size == 40 ? l.masks.size () * 4 : 0;
    const size_t offset = 14 + size_t (l.header_size) + extra + size_t (l.palette_colours * entry);
    Bytes data;
    if (!rle.empty ()) {
        data = rle;
    } else {
        for (int y = 0; y < l.height; ++y) {
            Bytes row (stride, 0);
            for (int x = 0; x < l.width; ++x) {
                const std::uint32_t v = value (x, y);
                if (l.bpp < 8) {
                    const int shift = 8 - l.bpp * (x % (8 / l.bpp) + 1);
                    row[size_t (x * l.bpp / 8)] |= std::uint8_t (v << shift);
                } else {
                    for (int i = 0; i < l.bpp / 8; ++i)
                        row[size_t (x * l.bpp / 8 + i)] = std::uint8_t (v >> (8 * i));
                }
            }
            data.insert (data.end (), row.begin (), row.end ());
        }
    }
    Bytes b;
    put_text (b, "BM");
    put_le (b, std::uint32_t (offset + data.size ()), 4);
    put_le (b, 0, 4);
    put_le (b, std::uint32_t (offset), 4);
    put_le (b, std::uint32_t (l.header_size), 4);
    if (core) {
        put_le (b, std::uint32_t (l.width), 2);
        put_le (b, std::uint32_t (l.height), 2);
        put_le (b, 1, 2);
        put_le (b, std::uint32_t (l.bpp), 2);
    } else {
        const size_t start = b.size () - 4;
        put_le (b, std::uint32_t (l.width), 4);
        put_le (b, std::uint32_t (l.top_down ? -l.height : l.height), 4);
        put_le (b, 1, 2);
        put_le (b, std::uint32_t (l.bpp), 2);
        if (l.header_size > 16) {
            put_le (b, l.compression, 4);
            put_le (b, std::uint32_t (data.size ()), 4);
            put_le (b, 2835, 4);
            put_le (b, 2835, 4);
            put_le (b, l.implied_palette ? 0 : std::uint32_t (l.palette_colours), 4);
            put_le (b, 0, 4);
        }
        if (l.header_size > 40)
            for (size_t i = 0; i < l.masks.size (); ++i) put_le (b, l.masks[i], 4);
        b.resize (start + size_t (l.header_size), 0);
    }
    if (l.header_size == 40)
        for (std::uint32_t m : l.masks) put_le (b, m, 4);
    for (int i = 0; i < l.palette_colours; ++i) {
        const auto c = palette_colour (i);
        b.push_back (c[2]);
        b.push_back (c[1]);
        b.push_back (c[0]);
        if (!core) b.push_back (0);
    }
    b.insert (b.end (), data.begin (), data.end ());
    return b;
}

// Image row of file row y.
int image_y (const BmpLayout &l, int y) { return l.top_down ? y : l.height - 1 - y; }

struct IndexedCase {
    int bpp, header_size;
    bool top_down;
};

class BmpIndexed : public ::testing::TestWithParam<IndexedCase> {};

TEST_P (BmpIndexed, DecodesEveryPixelThroughThePalette)
{
    const auto c = GetParam ();
    BmpLayout l;
    l.width = 13;
    l.height = 4;
    l.bpp = c.bpp;
    l.header_size = c.header_size;
    l.top_down = c.top_down;
    l.palette_colours = 1 << std::min (c.bpp, 3);
    auto index = [&] (int x, int y) { return std::uint32_t ((x + 3 * y) % l.palette_colours); };
    const auto image = decode_all_ways ("bmp", write_bmp (l, index));
    Pixels want (l.width, l.height);
    for (int y = 0; y < l.height; ++y)
        for (int x = 0; x < l.width; ++x) {
            const auto rgb = palette_colour (int (index (x, y)));
            want.set (x, image_y (l, y), rgb[0], rgb[1], rgb[2]);
        }
    EXPECT_EQ (diff_pixels (image.get (), want), "");
}

INSTANTIATE_TEST_SUITE_P (Depths, BmpIndexed,
                          ::testing::Values (IndexedCase {1, 40, false}, IndexedCase {2, 40, false},
                                             IndexedCase {4, 40, false}, IndexedCase {8, 40, false},
                                             IndexedCase {8, 40, true}, IndexedCase {1, 12, false},
                                             IndexedCase {8, 12, false}, IndexedCase {4, 64, false},
                                             IndexedCase {8, 16, false}, IndexedCase {8, 108, true},
                                             IndexedCase {4, 124, false}));

// Direct colour: the stored value of a pixel and the colour it must decode to.
struct DirectCase {
    const char *name;
    int bpp, header_size;
    std::uint32_t compression;
    std::vector<std::uint32_t> masks;
    bool has_alpha;
    std::function<std::uint32_t (int, int)> value;
    std::function<std::array<std::uint8_t, 4> (std::uint32_t)> colour;
};

std::uint32_t pattern (int x, int y) { return std::uint32_t (x * 0x01377531 + y * 0x00a5c3e1) ^ 0x5a5a5a5a; }

std::vector<DirectCase> direct_cases ()
{
    auto bits = [] (std::uint32_t v, int shift, int n) {
        const std::uint32_t max = (1u << n) - 1;
        return std::uint8_t (((v >> shift) & max) * 255 / max);
    };
    return {
        {"rgb24", 24, 40, 0, {}, false, [] (int x, int y) { return pattern (x, y) & 0xffffff; },
         [] (std::uint32_t v) { return std::array<std::uint8_t, 4> {std::uint8_t (v >> 16), std::uint8_t (v >> 8), std::uint8_t (v), 255}; }},
        // The fourth byte of a plain 32-bit pixel is padding, whatever it holds.
        {"rgb32_pad_ignored", 32, 40, 0, {}, false, pattern,
         [] (std::uint32_t v) { return std::array<std::uint8_t, 4> {std::uint8_t (v >> 16), std::uint8_t (v >> 8), std::uint8_t (v), 255}; }},
        {"rgb16_555_default", 16, 40, 0, {}, false, [] (int x, int y) { return pattern (x, y) & 0xffff; },
         [bits] (std::uint32_t v) { return std::array<std::uint8_t, 4> {bits (v, 10, 5), bits (v, 5, 5), bits (v, 0, 5), 255}; }},
        {"rgb16_565_bitfields", 16, 40, 3, {0xf800, 0x07e0, 0x001f}, false,
         [] (int x, int y) { return pattern (x, y) & 0xffff; },
         [bits] (std::uint32_t v) { return std::array<std::uint8_t, 4> {bits (v, 11, 5), bits (v, 5, 6), bits (v, 0, 5), 255}; }},
        {"rgba16_4444_v5", 16, 124, 3, {0x0f00, 0x00f0, 0x000f, 0xf000}, true,
         [] (int x, int y) { return pattern (x, y) & 0xffff; },
         [bits] (std::uint32_t v) { return std::array<std::uint8_t, 4> {bits (v, 8, 4), bits (v, 4, 4), bits (v, 0, 4), bits (v, 12, 4)}; }},
        {"rgba32_v4_alpha_mask", 32, 108, 3, {0xff0000, 0xff00, 0xff, 0xff000000}, true, pattern,
         [] (std::uint32_t v) { return std::array<std::uint8_t, 4> {std::uint8_t (v >> 16), std::uint8_t (v >> 8), std::uint8_t (v), std::uint8_t (v >> 24)}; }},
        // Alpha that is 0 in every pixel is read as no alpha at all.
        {"rgba32_all_zero_alpha_is_opaque", 32, 124, 3, {0xff0000, 0xff00, 0xff, 0xff000000}, true,
         [] (int x, int y) { return pattern (x, y) & 0xffffff; },
         [] (std::uint32_t v) { return std::array<std::uint8_t, 4> {std::uint8_t (v >> 16), std::uint8_t (v >> 8), std::uint8_t (v), 255}; }},
        {"rgba32_alphabitfields", 32, 40, 6, {0xff, 0xff00, 0xff0000, 0xff000000}, true, pattern,
         [] (std::uint32_t v) { return std::array<std::uint8_t, 4> {std::uint8_t (v), std::uint8_t (v >> 8), std::uint8_t (v >> 16), std::uint8_t (v >> 24)}; }},
        {"rgb32_10_11_11_v2", 32, 52, 3, {0xffe00000, 0x001ffc00, 0x000003ff}, false, pattern,
         [bits] (std::uint32_t v) { return std::array<std::uint8_t, 4> {bits (v, 21, 11), bits (v, 10, 11), bits (v, 0, 10), 255}; }},
    };
}

class BmpDirect : public ::testing::TestWithParam<DirectCase> {};

TEST_P (BmpDirect, DecodesMasksAndAlpha)
{
    const auto &c = GetParam ();
    BmpLayout l;
    l.width = 11;
    l.height = 3;
    l.bpp = c.bpp;
    l.header_size = c.header_size;
    l.compression = c.compression;
    l.masks = c.masks;
    const auto image = decode_all_ways ("bmp", write_bmp (l, c.value));
    ASSERT_NE (image, nullptr);
    EXPECT_EQ (bool (image->has_alpha), c.has_alpha);
    Pixels want (l.width, l.height);
    for (int y = 0; y < l.height; ++y)
        for (int x = 0; x < l.width; ++x) {
            const auto p = c.colour (c.value (x, y));
            want.set (x, image_y (l, y), p[0], p[1], p[2], p[3]);
        }
    EXPECT_EQ (diff_pixels (image.get (), want), "");
}

INSTANTIATE_TEST_SUITE_P (Formats, BmpDirect, ::testing::ValuesIn (direct_cases ()),
                          [] (const auto &info) { return std::string (info.param.name); });

// RLE: 4 x 3, palette 0..3. Bottom row: a run of 2 and a literal of 3 that overruns the row
// (the extra pixel is dropped), end of line. Middle row: one pixel, then a delta to x 2 of the
// top row, a run of 2 and end of bitmap. Skipped pixels are transparent.
TEST (BmpRle, Rle8RunsLiteralsDeltasAndSkippedPixels)
{
    BmpLayout l;
    l.width = 4;
    l.height = 3;
    l.compression = 1;
    l.palette_colours = 4;
    const Bytes rle = {2, 1, 0, 3, 2, 3, 1, 0, 0, 0, 1, 2, 0, 2, 1, 1, 2, 3, 0, 1};
    const auto image = decode_all_ways ("bmp", write_bmp (l, nullptr, rle));
    ASSERT_NE (image, nullptr);
    Pixels want (4, 3);
    auto put = [&] (int x, int y, int i) {
        const auto c = palette_colour (i);
        want.set (x, y, c[0], c[1], c[2]);
    };
    put (0, 2, 1); put (1, 2, 1); put (2, 2, 2); put (3, 2, 3);
    put (0, 1, 2); want.set (1, 1, 0, 0, 0, 0); want.set (2, 1, 0, 0, 0, 0); want.set (3, 1, 0, 0, 0, 0);
    want.set (0, 0, 0, 0, 0, 0); want.set (1, 0, 0, 0, 0, 0); put (2, 0, 3); put (3, 0, 3);
    EXPECT_EQ (diff_pixels (image.get (), want), "");
}

TEST (BmpRle, Rle4AlternatesNibblesAndPadsLiterals)
{
    BmpLayout l;
    l.width = 6;
    l.height = 1;
    l.bpp = 4;
    l.compression = 2;
    l.palette_colours = 4;
    // A run of 3 from 0x12 is 1 2 1; a literal of 3 nibbles 3 0 2 takes 2 bytes, already even.
    const Bytes rle = {3, 0x12, 0, 3, 0x30, 0x20, 0, 1};
    const auto image = decode_all_ways ("bmp", write_bmp (l, nullptr, rle));
    Pixels want (6, 1);
    const int idx[] = {1, 2, 1, 3, 0, 2};
    for (int x = 0; x < 6; ++x) {
        const auto c = palette_colour (idx[x]);
        want.set (x, 0, c[0], c[1], c[2]);
    }
    EXPECT_EQ (diff_pixels (image.get (), want), "");
}

// Codes that reach past the row or the image are clipped; every pixel stays defined.
TEST (BmpRle, HostileCodesStayInsideTheImage)
{
    BmpLayout l;
    l.width = 3;
    l.height = 2;
    l.compression = 1;
    l.palette_colours = 2;
    // A run of 255 and a literal of 9 on a 3-pixel row, then a delta far below the image.
    const Bytes rle = {255, 1, 0, 9, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 2, 200, 200, 0, 1};
    const auto image = decode_all_ways ("bmp", write_bmp (l, nullptr, rle));
    ASSERT_NE (image, nullptr);
    Pixels want (3, 2);
    const auto c = palette_colour (1);
    for (int x = 0; x < 3; ++x) want.set (x, 1, c[0], c[1], c[2]);
    for (int x = 0; x < 3; ++x) want.set (x, 0, 0, 0, 0, 0);
    EXPECT_EQ (diff_pixels (image.get (), want), "");
}

// A palette shorter than the depth implies (OS/2 style) is read as far as it goes; indices
// beyond it are black.
TEST (BmpPalette, ImpliedPaletteShorterThanDepth)
{
    BmpLayout l;
    l.width = 4;
    l.height = 1;
    l.header_size = 12;
    l.palette_colours = 2;
    const auto image = decode_all_ways ("bmp", write_bmp (l, [] (int x, int) { return std::uint32_t (x); }));
    Pixels want (4, 1);
    for (int x = 0; x < 2; ++x) {
        const auto c = palette_colour (x);
        want.set (x, 0, c[0], c[1], c[2]);
    }
    want.set (2, 0, 0, 0, 0);
    want.set (3, 0, 0, 0, 0);
    EXPECT_EQ (diff_pixels (image.get (), want), "");
}

// A BMP of 5 x 3 zero pixels after edit changes the layout or the bytes.
Bytes bmp_with (const std::function<void (BmpLayout &)> &layout,
                const std::function<void (Bytes &)> &bytes = nullptr)
{
    BmpLayout l;
    l.bpp = 24;
    layout (l);
    Bytes b = write_bmp (l, [] (int, int) { return 0u; });
    if (bytes) bytes (b);
    return b;
}

const char kTooWide[] =
    "BMP: image size 70000x1 is outside the supported range (1 to 65535 per side, at most "
    "268435456 pixels)";
const char kZeroHeight[] =
    "BMP: image size 5x0 is outside the supported range (1 to 65535 per side, at most 268435456 "
    "pixels)";

INSTANTIATE_TEST_SUITE_P (
    Bmp, Refused,
    ::testing::Values (
        RefusedFile {"too_wide", "bmp",
                     bmp_with ([] (BmpLayout &l) { l.width = 70000; l.height = 1; },
                               [] (Bytes &b) { b.resize (200); }),
                     kTooWide},
        RefusedFile {"zero_height", "bmp", bmp_with ([] (BmpLayout &l) { l.height = 0; }), kZeroHeight},
        RefusedFile {"noncontiguous_mask", "bmp",
                     bmp_with ([] (BmpLayout &l) {
                         l.bpp = 16;
                         l.compression = 3;
                         l.masks = {0x0f0f, 0x00f0, 0xf000};
                     }),
                     "BMP: bit-field mask 0x00000f0f is not contiguous"},
        RefusedFile {"palette_larger_than_room", "bmp",
                     bmp_with ([] (BmpLayout &l) { l.bpp = 8; l.palette_colours = 4; },
                               [] (Bytes &b) { b[46] = 200; }),  // colours used
                     "BMP: palette of 200 colours does not fit before the pixel data"},
        RefusedFile {"rle8_with_24_bits", "bmp", bmp_with ([] (BmpLayout &l) { l.compression = 1; }),
                     "BMP: unsupported bit depth 24 for compression 1"},
        RefusedFile {"offset_inside_header", "bmp", bmp_with ([] (BmpLayout &) {}, [] (Bytes &b) { b[10] = 20; }),
                     "BMP: pixel data offset 20 lies inside the header"},
        RefusedFile {"jpeg_compression", "bmp", bmp_with ([] (BmpLayout &l) { l.compression = 4; }),
                     "BMP: unsupported compression 4"}),
    refused_name);

// Data that stops early: the whole-file load fails, the progressive image keeps the rows that
// arrived and the rest stays defined (black).
TEST (BmpTruncated, WholeFileFailsProgressiveKeepsDecodedRows)
{
    BmpLayout l;
    l.width = 2;
    l.height = 3;
    l.bpp = 24;
    Bytes b = write_bmp (l, [] (int, int) { return 0xffffffu; });
    b.resize (b.size () - 5);  // the top row is cut
    LogCapture log;
    FILE *f = std::tmpfile ();
    std::fwrite (b.data (), 1, b.size (), f);
    std::rewind (f);
    EXPECT_EQ (own_module ("bmp").entries ().load (f), nullptr);
    std::fclose (f);
    const auto p = load_in_pieces (own_module ("bmp"), b, 13);
    ASSERT_NE (p.image, nullptr);
    EXPECT_TRUE (p.increments_ok);
    EXPECT_EQ (p.updates, 2);
    Pixels want (2, 3);
    want.set (0, 0, 0, 0, 0);
    want.set (1, 0, 0, 0, 0);
    for (int y = 1; y < 3; ++y)
        for (int x = 0; x < 2; ++x) want.set (x, y, 255, 255, 255);
    EXPECT_EQ (diff_pixels (p.image, want), "");
    EXPECT_TRUE (has_warning (log, "BMP: premature end of data")) << warnings_text (log);
}

TEST (BmpEntries, NullContextIsRefused)
{
    EXPECT_FALSE (own_module ("bmp").entries ().load_increment (nullptr, (const guchar *) "BM", 2));
}

}  // namespace
}  // namespace tamba::test
