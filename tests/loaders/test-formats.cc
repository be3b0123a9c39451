// SPDX-License-Identifier: LGPL-2.1-or-later
// The modules on data made here or cut from the corpus, for what the conformance run cannot show:
// refusals and their reasons, update bands, what a cut file leaves, and per format GIF frame
// records and LZW bounds, BMP RLE clipping, the ICO entry chosen, JPEG errors after prepare,
// libtiff kept quiet, and the shared row conversion.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>

#include "corpus.h"
#include "image-writers.h"
#include "log-capture.h"
#include "modules.h"
#include "pixel-rows.h"

namespace tamba::test {
namespace {

using Strings = std::vector<std::string>;
using Rgba = std::vector<int>;

Bytes patched (Bytes b, size_t at, std::uint8_t v) { return b[at] = v, b; }
// The first n bytes, or (n negative) all but the last -n.
Bytes head (Bytes b, long n) { return b.resize (size_t (n < 0 ? long (b.size ()) + n : n)), b; }

// Pixel (x, y) as R, G, B, A (255 for an image without alpha).
Rgba rgba_at (const Tamba *image, int x, int y)
{
    const guchar *p = image->pixels + size_t (y) * size_t (image->rowstride) + size_t (x) * size_t (image->n_channels);
    return {p[0], p[1], p[2], image->has_alpha ? p[3] : 255};
}

// Loads the bytes whole-file, and records a failure where a progressive load in any piece size
// breaks the protocol, fails or gives other pixels.
ImagePtr decode_all_ways (const std::string &format, const Bytes &bytes)
{
    ImagePtr whole (module_for (format).load_bytes (bytes));
    for (size_t piece : kPieceSizes) {
        const auto p = load_in_pieces (module_for (format), bytes, piece);
        EXPECT_TRUE (p.protocol_error.empty () && p.increments_ok && p.updates_in_bounds) << "pieces of " << piece;
        EXPECT_EQ (compare_images (whole.get (), p.image), "") << "pieces of " << piece;
    }
    return whole;
}

// BMP: a bitmap of zero pixels.
Bytes bmp_of (const BmpLayout &s)
{
    return write_bmp (s, Bytes (size_t ((s.width * s.bpp + 31) / 32 * 4 * std::max (s.height, 0)), 0));
}

// GIF: red, green, blue, white.
const Bytes kTable = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};

Bytes gif_with_code_size (int size) { return make_gif (1, 1, kTable, {{.min_code_size = size, .raw_data = {1, 0, 0}}}); }

// ICO: a 32-bit BMP entry of w x h in one colour (its header counts the AND mask's rows too; the
// mask is clear).
Bytes dib_entry (int w, int h, const Rgba &c)
{
    Bytes data;
    for (int i = 0; i < w * h; ++i) data.insert (data.end (), {std::uint8_t (c[2]), std::uint8_t (c[1]), std::uint8_t (c[0]), 255});
    data.resize (data.size () + size_t ((w + 31) / 32 * 4 * h), 0);
    return write_bmp ({w, 2 * h, 32, 0, {}, 0}, data, false);
}

const Bytes kIcon = write_ico ({{4, 4, 32, dib_entry (4, 4, {1, 2, 3})}});


const char *const kStoredPng = kStoredPngFile;
const char *const kJpeg = "jpeg/generated/baseline-444.jpg", *const kProgressiveJpeg = "jpeg/generated/progressive-444.jpg";




const std::string kXbm = "#define b_width 10\n#define b_height 2\nstatic char b_bits[] = ";

// XPM: the strings of an image as a file, with comments between them.
Bytes xpm_file (const Strings &strings)
{
    std::string text = "/* XPM */\n// a line comment\nstatic const char *image[] = {\n";
    for (const auto &s : strings) text += "/* \"quoted\" in a comment */ \"" + s + "\",\n";
    return bytes_of (text + "};\n");
}

// Data a module must refuse (of the format its name begins with), and a part of the warning it
// must give.
struct Refusal {
    const char *name;
    Bytes bytes;
    const char *reason;
    Strings xpm = {};  // XPM data, which load_xpm_data must refuse the same way as its file
};

Refusal xpm_refusal (const char *name, const Strings &xpm, const char *reason) { return {name, xpm_file (xpm), reason, xpm}; }

class Refused : public ::testing::TestWithParam<Refusal> {};

TEST_P (Refused, FailsWithItsReason)
{
    const Refusal &c = GetParam ();
    const Module &module = module_for (std::string (c.name).substr (0, std::string (c.name).find ('_')));
    ASSERT_TRUE (module.ok ());
    LogCapture log;  // through the progressive loads too, which warn as well
    for (bool data : {false, true}) {
        if (data && c.xpm.empty ()) break;
        log.clear ();
        EXPECT_EQ (ImagePtr (data ? module.load_xpm_strings (c.xpm) : module.load_bytes (c.bytes)), nullptr);
        EXPECT_TRUE (log.warned (c.reason)) << (data ? "load_xpm_data" : "whole file");
        EXPECT_EQ (log.warnings ().size (), 1u) << "one warning per failure";
    }
    // Progressively the data is refused, or at least never reported as a complete image.
    for (size_t piece : {size_t (7), size_t (0)}) {
        const auto p = load_in_pieces (module, c.bytes, piece);
        EXPECT_EQ (p.protocol_error, "");
        EXPECT_FALSE (p.increments_ok && p.complete_before_stop) << "pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P (
    Formats, Refused,
    ::testing::ValuesIn (std::vector<Refusal> {
        {"bmp_too_wide", head (bmp_of ({.width = 70000, .height = 1}), 200), "image size 70000x1 is outside the supported range"},
        {"bmp_zero_height", bmp_of ({.height = 0}), "image size 4x0 is outside the supported range"},
        {"bmp_noncontiguous_mask", bmp_of ({.bpp = 16, .compression = 3, .masks = {0x0f0f, 0x00f0, 0xf000}}),
         "bit-field mask 0x00000f0f is not contiguous"},
        {"bmp_palette_larger_than_room", patched (bmp_of ({.bpp = 8, .palette_colours = 4}), 46, 200),
         "palette of 200 colours does not fit before the pixel data"},
        {"bmp_rle8_with_24_bits", bmp_of ({.compression = 1}), "unsupported bit depth 24 for compression 1"},
        {"bmp_offset_inside_header", patched (bmp_of ({}), 10, 20), "pixel data offset 20 lies inside the header"},
        {"bmp_jpeg_compression", bmp_of ({.compression = 4}), "unsupported compression 4"},
        {"bmp_truncated", head (bmp_of ({}), -5), "premature end of data"},
        {"gif_code_size_0", gif_with_code_size (0), "LZW minimum code size is outside 2..8"},
        {"gif_code_size_9", gif_with_code_size (9), "LZW minimum code size is outside 2..8"},
        {"gif_unknown_version", patched (make_gif (2, 2, kTable, {{.width = 2, .height = 2, .indices = Bytes (4, 1)}}), 4, '8'),
         "not a GIF87a or GIF89a file"},
        {"gif_screen_over_2_28_pixels", make_gif (65535, 65535, kTable, {{}}), "logical screen is too large"},
        {"gif_header_only", head (make_gif (2, 2, kTable, {}), 13), "the data holds no image"},
        {"gif_no_image_before_the_trailer", make_gif (2, 2, kTable, {}), "the data holds no image"},
        {"ico_offset_inside_directory", patched (kIcon, 18, 6), "no usable entry in the directory"},
        {"ico_entry_past_end_of_data", head (kIcon, -1), "premature end of data"},
        {"ico_bitmap_larger_than_entry", patched (kIcon, 22 + 4, 40), "bitmap data runs past the entry"},  // 40 wide
        {"ico_no_entries", write_ico ({}), "the directory has no entries"},
        {"ico_broken_png", write_ico ({{32, 32, 32, head (corpus_file ("png/pngsuite/basn6a08.png"), -20)}}), "PNG data ends early"},
        {"jpeg_over_pixel_limit", with_frame_size (corpus_file (kJpeg), 30000, 30000), "is outside the supported range"},
        {"jpeg_over_pixel_limit_progressive", with_frame_size (corpus_file (kProgressiveJpeg), 20000, 20000),
         "is outside the supported range"},
        {"jpeg_no_frame", {0xFF, 0xD8, 0xFF, 0xD9}, ""},
        {"jpeg_header_cut", {0xFF, 0xD8, 0xFF, 0xE0, 0x00}, "ends before the image header"},
        {"jpeg_zero_width", with_frame_size (corpus_file ("jpeg/generated/gray.jpg"), 0, 8), ""},
        {"png_over_pixel_limit", png_of_size (20000, 20000), "is outside the supported range"},
        {"png_over_side_limit", png_of_size ((1u << 24) + 1, 1), "exceeds user limit"},
        {"png_truncated", head (corpus_file (kStoredPng), 1600), "the image data is incomplete"},
        {"png_short_image_data", png_of_size (32, 64), "incomplete"},  // 32 rows of 64
        {"png_header_only", head (corpus_file (kStoredPng), 20), "ends before the image header"},
        {"pnm_p7", bytes_of ("P7\n2 2\n255\n............"), "not a PNM file"},
        {"pnm_letter_in_header", bytes_of ("P6\n2 x2\n255\n............"), "bad character in the header"},
        {"pnm_maxval_zero", bytes_of ("P5 2 2 0\n...."), "maxval 0 is not 1 to 65535"},
        {"pnm_maxval_too_big", bytes_of ("P2 1 1 65536\n1\n"), "maxval 65536 is not 1 to 65535"},
        {"pnm_letter_in_samples", bytes_of ("P3 1 1 255\n1 2 z\n"), "bad character in the samples"},
        {"pnm_huge", bytes_of ("P6 70000 1 255\n"), "image size 70000x1 is outside the supported range"},
        {"pnm_truncated", bytes_of ("P6 2 2 255\n.........."), "premature end of data"},
        {"ras_depth16", ras_header ({4, 4, 16, 0, 1, 0, 0}), "unsupported depth 16"},
        {"ras_type5", ras_header ({4, 4, 8, 0, 5, 0, 0}), "unsupported raster type 5"},
        {"ras_map_not_rgb_triples", ras_header ({4, 4, 8, 0, 1, 1, 10}), "colour map of 10 bytes is not 1 to 256 RGB entries"},
        {"ras_map_over_256", ras_header ({4, 4, 8, 0, 1, 1, 771}), "colour map of 771 bytes is not 1 to 256 RGB entries"},
        {"ras_huge", ras_header ({100000, 100000, 24, 0, 1, 0, 0}), "image size 100000x100000 is outside the supported range"},
        {"ras_truncated", ras_header ({40, 40, 24, 0, 1, 0, 0}), "premature end of data"},
        {"tiff_over_pixel_limit", tiff_of (20000, 20000), "is outside the supported range"},  // data for a few rows
        {"tiff_directory_outside_file", {'I', 'I', 42, 0, 0xF0, 0xFF, 0, 0, 0, 0}, ""},
        {"tiff_header_only", {'M', 'M', 0, 42}, ""},
        {"xbm_one_value_short", bytes_of (kXbm + "{1, 0, 0xaa};"), "fewer data values than the size needs"},
        {"xbm_one_value_too_many", bytes_of (kXbm + "{1, 0, 0xaa, 2, 0};"), "more data than the size needs"},
        {"xbm_char_over_255", bytes_of (kXbm + "{1, 0, 0x100, 2};"), "data value out of range"},
        {"xbm_short_over_65535", bytes_of ("#define b_width 10\n#define b_height 2\nstatic short b_bits[] = {1, 0x10000};"),
         "data value out of range"},
        {"xbm_data_cut_short", bytes_of (kXbm + "{1, 0, 0xaa, 2"), "the data ends before the end of the bitmap"},
        {"xbm_no_height", bytes_of ("#define b_width 10\nstatic char b_bits[] = {1, 0};"), "missing or unsupported bitmap size"},
        {"xbm_huge_size", bytes_of ("#define b_width 65536\n#define b_height 1\nstatic char b_bits[] = {0};"),
         "missing or unsupported bitmap size"},
        {"xbm_bad_value", bytes_of (kXbm + "{1, 0, 0xag, 2};"), "malformed data value"},
        {"xbm_missing_comma", bytes_of (kXbm + "{1 0, 0xaa, 2};"), "expected ',' or '}' in the data"},
        {"xbm_other_directive", bytes_of ("#define b_width 10\n#include <x.h>\n"), "only #define may precede the data"},
        {"xbm_shorter_than_the_signature", bytes_of ("#def"), "the data does not start with \"#define \""},
        {"xbm_leading_comment", bytes_of ("/* c */\n" + kXbm + "{1, 0, 0xaa, 2};"), "the data does not start with \"#define \""},
        {"xpm_no_signature", bytes_of ("static char *x[] = {\"1 1 1 1\", \". c red\", \".\"};"),
         "the data does not start with the XPM comment"},
        {"xpm_open_string", bytes_of ("/* XPM */ static char *x[] = {\"1 1 1 1\", \". c red\", \"."), "unterminated or over-long string"},
        xpm_refusal ("xpm_row_short", {"3 1 1 1", ". c red", ".."}, "row shorter than the image width"),
        xpm_refusal ("xpm_row_short_two_chars", {"2 1 1 2", ".. c red", "..."}, "row shorter than the image width"),
        xpm_refusal ("xpm_unknown_code", {"2 1 1 1", ". c red", ".x"}, "pixel code not in the colour table"),
        xpm_refusal ("xpm_missing_rows", {"1 3 1 1", ". c red", "."}, "the data ends before the last row"),
        xpm_refusal ("xpm_missing_colours", {"1 1 3 1", ". c red"}, "the data ends before the last row"),
        xpm_refusal ("xpm_nine_chars", {"1 1 1 9", "......... c red", "........."}, "characters per pixel must be 1 to 8"),
        xpm_refusal ("xpm_zero_width", {"0 1 1 1", ". c red", ""}, "image size is outside the supported range"),
        xpm_refusal ("xpm_over_2_28_pixels", {"65535 65535 1 1", ". c red"}, "image size is outside the supported range"),
        xpm_refusal ("xpm_too_many_colours", {"1 1 257 1", ". c red"}, "colour count out of range"),
        xpm_refusal ("xpm_values_not_numbers", {"1 x 1 1", ". c red", "."}, "malformed values string"),
        xpm_refusal ("xpm_values_missing", {"1 1 1"}, "malformed values string"),
        xpm_refusal ("xpm_entry_without_key", {"1 1 1 1", ". red", "."}, "colour entry without a colour"),
        xpm_refusal ("xpm_entry_shorter_than_code", {"1 1 1 2", ".", ".."}, "colour entry shorter than its pixel code")}),
    [] (const auto &info) { return std::string (info.param.name); });

// A file cut short: the progressive image holds the rows that arrived as the whole file gives
// them, and the fill below; a whole-file load gives that image too, or fails with one warning,
// and then the progressive load warns too.
struct Cut {
    const char *format, *file;  // in the corpus
    double kept;                // the share of the file that arrives
    bool loads;                 // whole-file
    Rgba fill;                  // of the rows that never arrived
    bool bottom_up = false;     // the rows are stored from the bottom
};

class CutShort : public ::testing::TestWithParam<Cut> {};

TEST_P (CutShort, KeepsWhatArrivedAndFillsTheRest)
{
    const Cut &c = GetParam ();
    const Module &module = module_for (c.format);
    const Bytes full = corpus_file (c.file);
    const ImagePtr want (module.load_bytes (full));
    ASSERT_NE (want, nullptr);
    const Bytes bytes (full.begin (), full.begin () + long (double (full.size ()) * c.kept));
    LogCapture log;
    const ImagePtr whole (module.load_bytes (bytes));
    EXPECT_EQ (whole != nullptr, c.loads);
    EXPECT_EQ (log.warnings ().size (), c.loads ? 0u : 1u);
    const int first = c.bottom_up ? want->height - 1 : 0, last = want->height - 1 - first;
    for (size_t piece : {size_t (13), size_t (0)}) {
        SCOPED_TRACE ("pieces of " + std::to_string (piece));
        log.clear ();
        const auto p = load_in_pieces (module, bytes, piece);
        EXPECT_EQ (log.warnings ().empty (), c.loads);
        EXPECT_EQ (p.protocol_error, "");
        EXPECT_TRUE (p.frames.empty ());
        ASSERT_NE (p.image, nullptr);
        EXPECT_EQ (whole ? compare_images (whole.get (), p.image) : "", "");
        for (int x = 0; x < want->width; ++x) {
            ASSERT_EQ (rgba_at (p.image, x, first), rgba_at (want.get (), x, first)) << "x " << x;
            ASSERT_EQ (rgba_at (p.image, x, last), c.fill) << "x " << x;
        }
    }
}

INSTANTIATE_TEST_SUITE_P (
    Formats, CutShort,
    ::testing::Values (Cut {"bmp", "bmp/bmpsuite/g/rgb24.bmp", 0.5, false, {0, 0, 0, 255}, true},
                       // No frame is handed over, but the partial image stays with the loader.
                       Cut {"gif", "gif/giflib/porsche.gif", 0.5, true, {0, 0, 0, 255}},
                       // The rest is decoded from no data: mid grey.
                       Cut {"jpeg", kJpeg, 0.67, true, {128, 128, 128, 255}},
                       Cut {"png", kStoredPng, 0.5, false, {0, 0, 0, 255}},
                       Cut {"xbm", "xbm/cpython/python.xbm", 0.5, false, {255, 255, 255, 255}},
                       Cut {"xpm", "xpm/generated/comments-and-spacing.xpm", 0.5, false, {0, 0, 0, 255}}),
    [] (const auto &info) { return std::string (info.param.format); });

struct Band {
    const char *format;
    const char *file;  // in the corpus
    bool merged;       // the rows that one piece of data completes come as one update
    bool once;         // the image is updated once, complete: when its last scan or entry is in, or at stop
    bool at_stop;      // the image is prepared and updated only once the data has ended
};

class UpdateBands : public ::testing::TestWithParam<Band> {};

TEST_P (UpdateBands, CoverEveryRowOnce)
{
    const Band &b = GetParam ();
    const Bytes bytes = corpus_file (b.file);
    for (size_t piece : {size_t (1), size_t (13), size_t (0)}) {
        SCOPED_TRACE ("pieces of " + std::to_string (piece));
        const auto p = load_in_pieces (module_for (b.format), bytes, piece);
        ASSERT_TRUE (p.increments_ok);
        ASSERT_EQ (p.prepared, 1);
        ASSERT_FALSE (p.row_updates.empty ());
        EXPECT_EQ (p.row_updates, std::vector<int> (p.row_updates.size (), 1));
        EXPECT_EQ (p.prepared_before_stop + p.updates_before_stop == 0, b.at_stop);
        EXPECT_EQ (p.image_updates == 1, piece == 0 ? b.merged : b.once) << p.image_updates << " updates";
    }
}

INSTANTIATE_TEST_SUITE_P (
    Formats, UpdateBands,
    // BMP rows arrive bottom-up, so no two updates are adjacent in the order they come.
    ::testing::Values (Band {"bmp", "bmp/cpython/python.bmp", false, false, false},
                       Band {"gif", "gif/cpython/python.gif", true, false, false},
                       Band {"ico", "ico/real/cpython-idle.ico", true, true, false},
                       Band {"jpeg", kJpeg, true, false, false},
                       Band {"jpeg", kProgressiveJpeg, true, true, false},
                       Band {"png", "png/cpython/python.png", true, false, false},
                       Band {"pnm", "pnm/cpython/python.ppm", true, false, false},
                       Band {"ras", "ras/cpython/python.ras", true, false, false},
                       Band {"tiff", "tiff/cpython/python.tiff", true, true, true},
                       Band {"xbm", "xbm/cpython/python.xbm", true, false, false},
                       Band {"xpm", "xpm/generated/comments-and-spacing.xpm", true, false, false}),
    [] (const auto &info) { return std::string (info.param.format) + (info.param.file == kProgressiveJpeg ? "_progressive" : ""); });

// RLE codes that reach past the row or the image are clipped; every pixel stays defined. On a
// 3 x 2 image: a run of 255 and a literal of 9, then a delta far below the image.
TEST (Bmp, HostileRleCodesStayInsideTheImage)
{
    const Bytes rle = {255, 1, 0, 9, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 2, 200, 200, 0, 1};
    const auto image = decode_all_ways ("bmp", write_bmp ({3, 2, 8, 1, {}, 2}, rle));
    ASSERT_NE (image, nullptr);
    const Bytes c = palette_colour (1);
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ (rgba_at (image.get (), x, 1), (Rgba {c[0], c[1], c[2], 255}));
        EXPECT_EQ (rgba_at (image.get (), x, 0), (Rgba {0, 0, 0, 0}));
    }
}

// Offsets, delays (hundredths of a second, as stored) and actions reach the frame records, and
// a transparent index gives alpha to its frame only.
TEST (Gif, FramesKeepOffsetsDelaysAndActions)
{
    const std::vector<GifImage> images = {{.x = 0, .y = 0, .width = 8, .height = 6, .indices = Bytes (48, 1), .delay = 7},
                                          {.x = 2, .y = 1, .width = 3, .height = 4, .indices = Bytes (12, 1), .transparent = 1,
                                           .delay = 65535, .disposal = 2},
                                          {.x = 5, .y = 5, .width = 3, .height = 1, .indices = Bytes (3, 0), .disposal = 3},
                                          {.x = 1, .y = 1, .indices = {3}, .delay = 2, .disposal = 1}};
    const TambaFrameAction action[] = {TAMBA_FRAME_RETAIN, TAMBA_FRAME_DISPOSE, TAMBA_FRAME_REVERT, TAMBA_FRAME_RETAIN};
    TambaAnimation *a = module_for ("gif").load_animation_bytes (make_gif (8, 6, kTable, images));
    ASSERT_NE (a, nullptr);
    EXPECT_EQ (a->ref_count, 1);
    EXPECT_EQ (a->width, 8);
    ASSERT_EQ (a->n_frames, 4);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE ("frame " + std::to_string (i));
        const auto *f = static_cast<const TambaFrame *> (g_list_nth_data (a->frames, guint (i)));
        EXPECT_EQ (f->x_offset, images[i].x);
        EXPECT_EQ (f->y_offset, images[i].y);
        EXPECT_EQ (f->delay_time, images[i].delay);
        EXPECT_EQ (f->action, action[i]);
        EXPECT_EQ (f->tamba->width, images[i].width);
        EXPECT_EQ (bool (f->tamba->has_alpha), i == 1);
    }
    free_animation (a);
}

// Codes of width 3 (minimum code size 2): clear 4, end 5, first free entry 6. A bad code ends
// the image data with one warning; what came before it stays.
TEST (Gif, InvalidLzwCodesEndTheImageData)
{
    const struct {
        std::vector<int> codes;
        int good_pixels;
    } cases[] = {{{4, 1, 7, 1, 1, 5}, 1}, {{4, 6, 1, 5}, 0}, {{4, 1, 4, 6, 5}, 1}};
    for (const auto &c : cases) {
        CodeWriter w;
        for (int code : c.codes) w.put (code, 3);
        LogCapture log;
        const ImagePtr t (module_for ("gif").load_bytes (make_gif (4, 1, kTable, {{.width = 4, .raw_data = w.blocks ()}})));
        ASSERT_NE (t, nullptr);
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ (rgba_at (t.get (), x, 0), x < c.good_pixels ? (Rgba {0, 255, 0, 255}) : (Rgba {0, 0, 0, 255}));
        EXPECT_EQ (log.warnings ().size (), 1u);
        EXPECT_TRUE (log.warned ("invalid LZW code"));
    }
}

// The largest entry wins, then the deepest; a cursor's directory holds a hotspot where an
// icon's holds the depth, so there it plays no part.
TEST (Ico, ChoosesTheLargestThenTheDeepestEntry)
{
    const Rgba first = {10, 20, 30, 255}, chosen = {40, 50, 60, 255}, other = {70, 80, 90, 255};
    const struct {
        std::vector<IcoEntry> entries;
        int type, size;
    } cases[] = {{{{3, 3, 32, dib_entry (3, 3, other)}, {5, 4, 8, dib_entry (5, 4, other)}, {5, 4, 32, dib_entry (5, 4, chosen)},
                   {4, 5, 8, dib_entry (4, 5, other)}}, 1, 5},
                 {{{4, 4, 1, dib_entry (4, 4, first)}, {4, 4, 32, dib_entry (4, 4, other)}}, 2, 4}};
    for (const auto &c : cases) {
        const auto image = decode_all_ways ("ico", write_ico (c.entries, c.type));
        ASSERT_NE (image, nullptr);
        EXPECT_EQ (image->width, c.size);
        EXPECT_EQ (rgba_at (image.get (), 1, 1), c.type == 1 ? chosen : first);
    }
}

// A fatal error after the image was handed out (a later scan with impossible parameters): the
// whole-file load fails, and the progressive image is left fully defined rather than with rows
// never written.
TEST (Jpeg, FatalErrorAfterPrepareLeavesNoUndefinedRows)
{
    Bytes bytes = corpus_file (kProgressiveJpeg);
    int scans = 0;
    for (size_t i = 2; i + 4 < bytes.size (); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA && ++scans == 2) {
            const size_t ns = bytes[i + 4];
            bytes[i + 5 + 2 * ns] = 10;  // Ss after Se: no decoder accepts that
            bytes[i + 6 + 2 * ns] = 5;
            break;
        }
    ASSERT_EQ (scans, 2);
    LogCapture log;
    EXPECT_EQ (ImagePtr (module_for ("jpeg").load_bytes (bytes)), nullptr);
    EXPECT_EQ (log.warnings ().size (), 1u);
    const auto p = load_in_pieces (module_for ("jpeg"), bytes, 100);
    EXPECT_FALSE (p.increments_ok);
    ASSERT_NE (p.image, nullptr);
    for (int y = 0; y < p.image->height; ++y)
        for (int x = 0; x < p.image->width; ++x) ASSERT_EQ (rgba_at (p.image, x, y), (Rgba {128, 128, 128, 255})) << x << "," << y;
}

// An interlaced image whose data stops in its last pass fails whole-file too, though the earlier
// passes touched every row.
TEST (Png, InterlacedDataCutInTheLastPassFails)
{
    const Bytes png = corpus_file ("png/pngsuite/basi2c08.png");
    LogCapture log;
    EXPECT_EQ (ImagePtr (module_for ("png").load_bytes (head (png, long (png.size () * 3 / 4)))), nullptr);
    EXPECT_TRUE (log.warned ("incomplete"));
}

int g_libtiff_messages = 0;

// libtiff's warnings (an unknown tag here) reach neither stderr nor the log.
TEST (Tiff, UnknownTagsAreNotReported)
{
    const TIFFErrorHandler count = [] (const char *, const char *, va_list) { ++g_libtiff_messages; };
    const TIFFErrorHandler old_warning = TIFFSetWarningHandler (count), old_error = TIFFSetErrorHandler (count);
    LogCapture log;
    const ImagePtr image (module_for ("tiff").load_bytes (tiff_of (8, 8, true)));
    TIFFSetWarningHandler (old_warning);
    TIFFSetErrorHandler (old_error);
    ASSERT_NE (image, nullptr);
    EXPECT_EQ (g_libtiff_messages, 0);
    EXPECT_TRUE (log.messages ().empty ());
}

// The SIMD row conversion of the BMP and Sun raster modules gives the scalar one's bytes at every
// length and alignment, and writes nothing past the row.
TEST (PixelRows, BgrToRgbMatchesScalar)
{
    for (size_t offset = 0; offset < 4; ++offset)
        for (size_t n = 0; n < 70; ++n) {
            std::vector<guchar> src (offset + 3 * n), fast (offset + 3 * n + 8, 0xee), slow (fast);
            for (size_t i = 0; i < src.size (); ++i) src[i] = guchar (i * 37 + 11);
            tamba::detail::bgr_to_rgb (src.data () + offset, fast.data () + offset, n);
            tamba::detail::bgr_to_rgb_scalar (src.data () + offset, slow.data () + offset, n);
            ASSERT_EQ (fast, slow) << "offset " << offset << ", " << n << " pixels";
        }
}

}  // namespace
}  // namespace tamba::test
