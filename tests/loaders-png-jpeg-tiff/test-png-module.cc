// SPDX-License-Identifier: LGPL-2.1-or-later
// The png module on images written here with libpng: every colour type and bit depth, tRNS,
// Adam7, all piece sizes, and the failures a damaged or oversized file must give.
#include <png.h>
#include <zlib.h>

#include "feature-support.h"

namespace tamba::test {
namespace {

const Module &png_module ()
{
    static const Module module (TAMBA_PNG_MODULE, "png");
    return module;
}

struct PngCase {
    const char *name;
    int color_type;
    int depth;
    bool interlaced;
    bool trns;
    int width = 37;
    int height = 23;
};

int channels_of (int color_type)
{
    switch (color_type) {
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
    }
}

unsigned raw_sample (int x, int y, int c, unsigned maxval)
{
    return ((unsigned (x) * 7919u + unsigned (y) * 104729u + unsigned (c) * 1299709u) >> 3) % (maxval + 1);
}

int to_8bit (unsigned v, int depth)
{
    const unsigned maxval = (1u << depth) - 1;
    return int ((v * 255 + maxval / 2) / maxval);
}

std::vector<int> palette_colour (unsigned i)
{
    return {int (i * 37 % 256), int (i * 91 % 256), int (i * 157 % 256)};
}

// Writes the case's image and fills expected with the RGBA pixels the module must produce.
Bytes write_png (const PngCase &pc, std::vector<std::vector<int>> &expected)
{
    Bytes out;
    png_structp png = png_create_write_struct (PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct (png);
    png_set_write_fn (png, &out,
                      [] (png_structp p, png_bytep data, png_size_t n) {
                          auto *o = static_cast<Bytes *> (png_get_io_ptr (p));
                          o->insert (o->end (), data, data + n);
                      },
                      nullptr);
    png_set_IHDR (png, info, png_uint_32 (pc.width), png_uint_32 (pc.height), pc.depth,
                  pc.color_type, pc.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                  PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const unsigned maxval = (1u << pc.depth) - 1;
    const int nc = channels_of (pc.color_type);
    const bool palette = pc.color_type == PNG_COLOR_TYPE_PALETTE;
    std::vector<png_color> colours;
    std::vector<png_byte> alphas;
    if (palette) {
        for (unsigned i = 0; i <= maxval; ++i) {
            auto c = palette_colour (i);
            colours.push_back ({png_byte (c[0]), png_byte (c[1]), png_byte (c[2])});
            alphas.push_back (png_byte (i * 53 % 256));
        }
        png_set_PLTE (png, info, colours.data (), int (colours.size ()));
    }
    // The transparent colour is the first pixel's, so some pixels match it.
    png_color_16 trns_colour {};
    if (pc.trns && palette) {
        png_set_tRNS (png, info, alphas.data (), int (alphas.size () / 2 + 1), nullptr);
    } else if (pc.trns) {
        trns_colour.gray = png_uint_16 (raw_sample (0, 0, 0, maxval));
        trns_colour.red = trns_colour.gray;
        trns_colour.green = png_uint_16 (raw_sample (0, 0, 1, maxval));
        trns_colour.blue = png_uint_16 (raw_sample (0, 0, 2, maxval));
        png_set_tRNS (png, info, nullptr, 0, &trns_colour);
    }

    const size_t row_bytes = (size_t (pc.width) * size_t (nc) * size_t (pc.depth) + 7) / 8;
    std::vector<Bytes> rows (size_t (pc.height), Bytes (row_bytes, 0));
    expected.clear ();
    for (int y = 0; y < pc.height; ++y)
        for (int x = 0; x < pc.width; ++x) {
            std::vector<unsigned> s (static_cast<size_t> (nc));
            for (int c = 0; c < nc; ++c) {
                s[size_t (c)] = raw_sample (x, y, c, maxval);
                const size_t bit = (size_t (x) * size_t (nc) + size_t (c)) * size_t (pc.depth);
                Bytes &row = rows[size_t (y)];
                if (pc.depth == 16) {
                    row[bit / 8] = png_byte (s[size_t (c)] >> 8);
                    row[bit / 8 + 1] = png_byte (s[size_t (c)]);
                } else {
                    row[bit / 8] |= png_byte (s[size_t (c)] << (8 - pc.depth - int (bit % 8)));
                }
            }
            std::vector<int> px;
            if (palette) {
                px = palette_colour (s[0]);
                px.push_back (pc.trns && s[0] < alphas.size () / 2 + 1 ? alphas[s[0]] : 255);
            } else if (nc <= 2) {
                const int g = to_8bit (s[0], pc.depth);
                px = {g, g, g, nc == 2 ? to_8bit (s[1], pc.depth) : 255};
                if (pc.trns && s[0] == trns_colour.gray) px[3] = 0;
            } else {
                px = {to_8bit (s[0], pc.depth), to_8bit (s[1], pc.depth), to_8bit (s[2], pc.depth),
                      nc == 4 ? to_8bit (s[3], pc.depth) : 255};
                if (pc.trns && s[0] == trns_colour.red && s[1] == trns_colour.green
                    && s[2] == trns_colour.blue)
                    px[3] = 0;
            }
            expected.push_back (px);
        }
    std::vector<png_bytep> pointers;
    for (auto &r : rows) pointers.push_back (r.data ());
    png_write_info (png, info);
    png_write_image (png, pointers.data ());
    png_write_end (png, info);
    png_destroy_write_struct (&png, &info);
    return out;
}

class PngFeature : public ::testing::TestWithParam<PngCase> {};

TEST_P (PngFeature, DecodesEveryPixelWholeAndInPieces)
{
    const PngCase &pc = GetParam ();
    std::vector<std::vector<int>> expected;
    const Bytes bytes = write_png (pc, expected);
    Tamba *image = load_everywhere (png_module (), bytes);
    ASSERT_NE (image, nullptr);
    const bool alpha = (pc.color_type & PNG_COLOR_MASK_ALPHA) || pc.trns;
    EXPECT_EQ (bool (image->has_alpha), alpha);
    expect_pixels (image, expected, pc.width, pc.height);
    tamba_unref (image);
}

constexpr int kGrey = PNG_COLOR_TYPE_GRAY, kGreyAlpha = PNG_COLOR_TYPE_GRAY_ALPHA,
              kRgb = PNG_COLOR_TYPE_RGB, kRgba = PNG_COLOR_TYPE_RGB_ALPHA,
              kPalette = PNG_COLOR_TYPE_PALETTE;

INSTANTIATE_TEST_SUITE_P (
    Layouts, PngFeature,
    ::testing::Values (PngCase {"grey1", kGrey, 1, false, false},
                       PngCase {"grey2", kGrey, 2, false, false},
                       PngCase {"grey4", kGrey, 4, false, false},
                       PngCase {"grey8", kGrey, 8, false, false},
                       PngCase {"grey16", kGrey, 16, false, false},
                       PngCase {"grey4_trns", kGrey, 4, false, true},
                       PngCase {"grey16_trns", kGrey, 16, false, true},
                       PngCase {"grey_alpha8", kGreyAlpha, 8, false, false},
                       PngCase {"grey_alpha16", kGreyAlpha, 16, false, false},
                       PngCase {"rgb8", kRgb, 8, false, false},
                       PngCase {"rgb16", kRgb, 16, false, false},
                       PngCase {"rgb8_trns", kRgb, 8, false, true},
                       PngCase {"rgb16_trns", kRgb, 16, false, true},
                       PngCase {"rgba8", kRgba, 8, false, false},
                       PngCase {"rgba16", kRgba, 16, false, false},
                       PngCase {"palette1", kPalette, 1, false, false},
                       PngCase {"palette2", kPalette, 2, false, false},
                       PngCase {"palette4_trns", kPalette, 4, false, true},
                       PngCase {"palette8_trns", kPalette, 8, false, true},
                       PngCase {"adam7_grey2", kGrey, 2, true, false},
                       PngCase {"adam7_rgba16", kRgba, 16, true, false},
                       PngCase {"adam7_palette8_trns", kPalette, 8, true, true},
                       PngCase {"adam7_rgb8_1x1", kRgb, 8, true, false, 1, 1},
                       PngCase {"adam7_rgb8_3x1", kRgb, 8, true, false, 3, 1},
                       PngCase {"adam7_rgb8_1x9", kRgb, 8, true, false, 1, 9}),
    [] (const auto &info) { return std::string (info.param.name); });

// An interlaced image is shown pass by pass: every row is reported more than once.
TEST (PngProgressive, InterlacedRowsAreUpdatedPassByPass)
{
    std::vector<std::vector<int>> expected;
    const Bytes bytes = write_png ({"adam7", kRgb, 8, true, false, 16, 16}, expected);
    Progressive p = load_in_pieces (png_module (), bytes, 64);
    ASSERT_TRUE (p.increments_ok);
    EXPECT_EQ (p.prepared, 1);
    EXPECT_GT (p.updates, 16);
}

// A file cut short fails, but the image a progressive load already handed out has every row
// defined: what arrived, then black.
TEST (PngTruncated, ProgressiveImageIsDefinedBelowWhatArrived)
{
    std::vector<std::vector<int>> expected;
    Bytes bytes = write_png ({"rgb", kRgb, 8, false, false, 64, 64}, expected);
    bytes.resize (bytes.size () / 2);
    Progressive p = load_in_pieces (png_module (), bytes, 4096);
    ASSERT_NE (p.image, nullptr);
    EXPECT_EQ (pixel_at (p.image, 0, 0), expected[0]);
    for (int x = 0; x < 64; ++x) EXPECT_EQ (pixel_at (p.image, x, 63), (std::vector<int> {0, 0, 0, 255}));
}

Bytes chunk (const char *type, const Bytes &data)
{
    Bytes out {png_byte (data.size () >> 24), png_byte (data.size () >> 16),
               png_byte (data.size () >> 8), png_byte (data.size ())};
    for (int i = 0; i < 4; ++i) out.push_back (png_byte (type[i]));
    for (png_byte b : data) out.push_back (b);
    // The CRC covers the type and the data.
    const uLong crc = crc32 (0, out.data () + 4, uInt (out.size () - 4));
    for (int shift : {24, 16, 8, 0}) out.push_back (png_byte (crc >> shift));
    return out;
}

Bytes png_with_size (guint32 width, guint32 height)
{
    Bytes out {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr;
    for (guint32 v : {width, height})
        for (int shift : {24, 16, 8, 0}) ihdr.push_back (png_byte (v >> shift));
    for (png_byte b : {8, 2, 0, 0, 0}) ihdr.push_back (b);  // 8-bit RGB, no interlace
    for (const Bytes &c : {chunk ("IHDR", ihdr), chunk ("IDAT", {}), chunk ("IEND", {})})
        for (png_byte b : c) out.push_back (b);
    return out;
}

class PngFailures : public ::testing::TestWithParam<ExpectedFailure> {};

TEST_P (PngFailures, GiveNullAndOneWarning)
{
    expect_whole_file_failure (png_module (), GetParam ());
}

// A well-formed file whose compressed data holds only the first half of the rows.
Bytes png_with_short_data (bool interlaced)
{
    Bytes out {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    const Bytes ihdr {0, 0, 0, 8, 0, 0, 0, 8, 8, 0, 0, 0, png_byte (interlaced ? 1 : 0)};
    Bytes raw;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x <= 8; ++x) raw.push_back (png_byte (x == 0 ? 0 : y * 10));
    Bytes idat (compressBound (uLong (raw.size ())));
    uLongf size = uLongf (idat.size ());
    compress (idat.data (), &size, raw.data (), uLong (raw.size ()));
    idat.resize (size);
    for (const Bytes &c : {chunk ("IHDR", ihdr), chunk ("IDAT", idat), chunk ("IEND", {})})
        for (png_byte b : c) out.push_back (b);
    return out;
}

Bytes first_bytes (Bytes bytes, size_t n)
{
    bytes.resize (n);
    return bytes;
}

Bytes truncated_png ()
{
    std::vector<std::vector<int>> expected;
    Bytes bytes = write_png ({"rgb", kRgb, 8, false, false, 64, 64}, expected);
    bytes.resize (bytes.size () / 2);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P (
    Damaged, PngFailures,
    ::testing::Values (
        ExpectedFailure {"over_pixel_limit", png_with_size (20000, 20000), "outside the supported range"},
        ExpectedFailure {"over_side_limit", png_with_size ((1u << 24) + 1, 1), "exceeds user limit"},
        ExpectedFailure {"truncated", truncated_png (), "the image data is incomplete"},
        ExpectedFailure {"short_image_data", png_with_short_data (false), "incomplete"},
        ExpectedFailure {"short_interlaced_image_data", png_with_short_data (true), "PNG"},
        ExpectedFailure {"header_only", first_bytes (png_with_size (8, 8), 20), "ends before the image header"}),
    [] (const auto &info) { return std::string (info.param.name); });

}  // namespace
}  // namespace tamba::test
