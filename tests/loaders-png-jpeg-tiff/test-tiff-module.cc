// SPDX-License-Identifier: LGPL-2.1-or-later
// The tiff module on images written here with libtiff: sample layouts, alpha kinds, planes,
// tiles, progressive decoding at stop, silenced libtiff warnings and damaged files.
#include <tiffio.h>

#include <cstdarg>
#include <cstring>
#include <unistd.h>

#include "feature-support.h"
#include "log-capture.h"

namespace tamba::test {
namespace {

const Module &tiff_module ()
{
    static const Module module (TAMBA_TIFF_MODULE, "tiff");
    return module;
}

enum class Alpha { kNone, kUnassociated, kAssociated };

struct TiffCase {
    const char *name;
    int colour_samples;  // 1 grey, 3 RGB
    int bits;            // 8 or 16
    Alpha alpha;
    bool separate_planes;
    bool tiled;
    int compression;
};

constexpr int kWidth = 45, kHeight = 37;

unsigned sample16 (int x, int y, int c)
{
    return (unsigned (x) * 40503u + unsigned (y) * 9973u + unsigned (c) * 31337u) % 65536u;
}

Bytes read_back (const std::string &path)
{
    Bytes bytes = read_file (path);
    unlink (path.c_str ());
    return bytes;
}

std::string temp_tiff_path ()
{
    static int counter = 0;
    return ::testing::TempDir () + "tamba-tiff-" + std::to_string (getpid ()) + "-"
           + std::to_string (counter++) + ".tif";
}

// Writes the case and fills expected with the straight RGBA the module must return.
Bytes write_tiff (const TiffCase &tc, std::vector<std::vector<int>> &expected,
                  bool with_private_tag = false)
{
    const std::string path = temp_tiff_path ();
    TIFF *tif = TIFFOpen (path.c_str (), "w");
    static const TIFFFieldInfo kPrivateTag[] = {
        {65000, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char *> ("TambaTestTag")}};
    const int extra = tc.alpha == Alpha::kNone ? 0 : 1;
    const int spp = tc.colour_samples + extra;
    TIFFSetField (tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField (tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField (tif, TIFFTAG_BITSPERSAMPLE, tc.bits);
    TIFFSetField (tif, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField (tif, TIFFTAG_PHOTOMETRIC,
                  tc.colour_samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField (tif, TIFFTAG_PLANARCONFIG,
                  tc.separate_planes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField (tif, TIFFTAG_COMPRESSION, tc.compression);
    if (extra) {
        uint16_t kind = tc.alpha == Alpha::kAssociated ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
        TIFFSetField (tif, TIFFTAG_EXTRASAMPLES, 1, &kind);
    }
    if (tc.tiled) {
        TIFFSetField (tif, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField (tif, TIFFTAG_TILELENGTH, 16);
    } else {
        TIFFSetField (tif, TIFFTAG_ROWSPERSTRIP, 8);
    }
    if (with_private_tag) {
        TIFFMergeFieldInfo (tif, kPrivateTag, 1);
        TIFFSetField (tif, 65000, "not known to readers");
    }

    // Samples per pixel, 16-bit values; 8-bit images use the high byte.
    auto value = [&] (int x, int y, int c) -> unsigned {
        unsigned v = sample16 (x, y, c);
        const unsigned alpha16 = sample16 (x, y, 7);
        if (tc.alpha == Alpha::kAssociated && c < tc.colour_samples) {
            // Premultiplied colour, computed at the stored depth.
            const unsigned max = tc.bits == 16 ? 65535 : 255;
            const unsigned a = tc.bits == 16 ? alpha16 : alpha16 >> 8;
            const unsigned colour = tc.bits == 16 ? v : v >> 8;
            return (colour * a + max / 2) / max;
        }
        if (c == tc.colour_samples) v = alpha16;
        return tc.bits == 16 ? v : v >> 8;
    };
    auto to8 = [&] (unsigned v) { return int (tc.bits == 16 ? (v * 255 + 32767) / 65535 : v); };

    expected.clear ();
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            std::vector<int> px;
            for (int c = 0; c < 3; ++c) px.push_back (to8 (value (x, y, tc.colour_samples == 3 ? c : 0)));
            px.push_back (extra ? to8 (value (x, y, tc.colour_samples)) : 255);
            if (tc.alpha == Alpha::kAssociated && px[3] != 0 && px[3] != 255)
                for (int c = 0; c < 3; ++c) px[size_t (c)] = std::min (255, (px[size_t (c)] * 255 + px[3] / 2) / px[3]);
            expected.push_back (px);
        }

    const int bytes_per_sample = tc.bits / 8;
    auto put = [&] (std::uint8_t *dest, unsigned v) {
        if (bytes_per_sample == 2) {
            const uint16_t w = uint16_t (v);
            std::memcpy (dest, &w, 2);
        } else {
            *dest = std::uint8_t (v);
        }
    };
    const int planes = tc.separate_planes ? spp : 1;
    const int per_plane = tc.separate_planes ? 1 : spp;
    for (int plane = 0; plane < planes; ++plane) {
        if (tc.tiled) {
            for (int ty = 0; ty < kHeight; ty += 16)
                for (int tx = 0; tx < kWidth; tx += 16) {
                    Bytes tile (size_t (16 * 16 * per_plane * bytes_per_sample), 0);
                    for (int y = 0; y < 16; ++y)
                        for (int x = 0; x < 16; ++x)
                            for (int c = 0; c < per_plane; ++c)
                                if (tx + x < kWidth && ty + y < kHeight)
                                    put (&tile[size_t (((y * 16 + x) * per_plane + c) * bytes_per_sample)],
                                         value (tx + x, ty + y, planes > 1 ? plane : c));
                    TIFFWriteTile (tif, tile.data (), uint32_t (tx), uint32_t (ty), 0, uint16_t (plane));
                }
        } else {
            for (int y = 0; y < kHeight; ++y) {
                Bytes row (size_t (kWidth * per_plane * bytes_per_sample));
                for (int x = 0; x < kWidth; ++x)
                    for (int c = 0; c < per_plane; ++c)
                        put (&row[size_t ((x * per_plane + c) * bytes_per_sample)],
                             value (x, y, planes > 1 ? plane : c));
                TIFFWriteScanline (tif, row.data (), uint32_t (y), uint16_t (plane));
            }
        }
    }
    TIFFClose (tif);
    return read_back (path);
}

class TiffFeature : public ::testing::TestWithParam<TiffCase> {};

TEST_P (TiffFeature, DecodesEveryPixelWholeAndInPieces)
{
    const TiffCase &tc = GetParam ();
    std::vector<std::vector<int>> expected;
    Tamba *image = load_everywhere (tiff_module (), write_tiff (tc, expected));
    ASSERT_NE (image, nullptr);
    EXPECT_EQ (bool (image->has_alpha), tc.alpha != Alpha::kNone);
    expect_pixels (image, expected, kWidth, kHeight);
    tamba_unref (image);
}

INSTANTIATE_TEST_SUITE_P (
    Layouts, TiffFeature,
    ::testing::Values (
        TiffCase {"rgb8", 3, 8, Alpha::kNone, false, false, COMPRESSION_NONE},
        TiffCase {"rgb8_lzw_tiles", 3, 8, Alpha::kNone, false, true, COMPRESSION_LZW},
        TiffCase {"rgb16_deflate", 3, 16, Alpha::kNone, false, false, COMPRESSION_ADOBE_DEFLATE},
        TiffCase {"grey8_packbits", 1, 8, Alpha::kNone, false, false, COMPRESSION_PACKBITS},
        TiffCase {"grey16", 1, 16, Alpha::kNone, false, false, COMPRESSION_NONE},
        TiffCase {"grey16_clipped_tiles", 1, 16, Alpha::kNone, false, true, COMPRESSION_LZW},
        TiffCase {"rgba8_unassociated", 3, 8, Alpha::kUnassociated, false, false, COMPRESSION_LZW},
        TiffCase {"rgba8_unassociated_planes", 3, 8, Alpha::kUnassociated, true, false, COMPRESSION_NONE},
        TiffCase {"rgba16_unassociated", 3, 16, Alpha::kUnassociated, false, false, COMPRESSION_NONE},
        TiffCase {"rgba16_unassociated_planes_tiles", 3, 16, Alpha::kUnassociated, true, true, COMPRESSION_NONE},
        TiffCase {"rgba8_associated", 3, 8, Alpha::kAssociated, false, false, COMPRESSION_NONE},
        TiffCase {"rgba8_associated_tiles", 3, 8, Alpha::kAssociated, false, true, COMPRESSION_LZW},
        TiffCase {"grey_alpha8_unassociated", 1, 8, Alpha::kUnassociated, false, false, COMPRESSION_NONE}),
    [] (const auto &info) { return std::string (info.param.name); });

// The whole image appears at stop: nothing is prepared while bytes are still arriving.
TEST (TiffProgressive, PreparesAndUpdatesOnlyAtStop)
{
    std::vector<std::vector<int>> expected;
    const Bytes bytes = write_tiff ({"rgb", 3, 8, Alpha::kNone, false, false, COMPRESSION_LZW}, expected);
    Observed seen;
    const auto &m = tiff_module ().entries ();
    gpointer ctx = begin_observed (tiff_module (), seen);
    ASSERT_NE (ctx, nullptr);
    EXPECT_TRUE (m.load_increment (ctx, bytes.data (), guint (bytes.size ())));
    EXPECT_EQ (seen.prepared, 0);
    EXPECT_EQ (seen.updates, 0);
    m.stop_load (ctx);
    EXPECT_EQ (seen.prepared, 1);
    EXPECT_EQ (seen.updates, 1);
    EXPECT_EQ (seen.last_width, guint (kWidth));
    EXPECT_EQ (seen.last_height, guint (kHeight));
}

int g_libtiff_messages = 0;
void count_libtiff_message (const char *, const char *, va_list)
{
    ++g_libtiff_messages;
}

// libtiff's warnings (an unknown tag here) reach neither stderr nor the log.
TEST (TiffMessages, UnknownTagsAreNotReported)
{
    std::vector<std::vector<int>> expected;
    const Bytes bytes = write_tiff ({"tagged", 3, 8, Alpha::kNone, false, false, COMPRESSION_NONE},
                                    expected, true);
    TIFFErrorHandler old_warning = TIFFSetWarningHandler (count_libtiff_message);
    TIFFErrorHandler old_error = TIFFSetErrorHandler (count_libtiff_message);
    std::vector<std::string> warnings;
    Tamba *image = load_bytes (tiff_module (), bytes, &warnings);
    TIFFSetWarningHandler (old_warning);
    TIFFSetErrorHandler (old_error);
    ASSERT_NE (image, nullptr);
    EXPECT_EQ (g_libtiff_messages, 0);
    EXPECT_TRUE (warnings.empty ());
    tamba_unref (image);
}

class TiffFailures : public ::testing::TestWithParam<ExpectedFailure> {};

TEST_P (TiffFailures, GiveNullAndOneWarning)
{
    expect_whole_file_failure (tiff_module (), GetParam ());
    Progressive p = load_in_pieces (tiff_module (), GetParam ().bytes, 13);
    EXPECT_EQ (p.image, nullptr);
    EXPECT_EQ (p.prepared, 0);
}

// A TIFF whose header claims a huge image; only its first row is written.
Bytes oversized_tiff ()
{
    const std::string path = temp_tiff_path ();
    TIFF *tif = TIFFOpen (path.c_str (), "w");
    TIFFSetField (tif, TIFFTAG_IMAGEWIDTH, 20000);
    TIFFSetField (tif, TIFFTAG_IMAGELENGTH, 20000);
    TIFFSetField (tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField (tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField (tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField (tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField (tif, TIFFTAG_ROWSPERSTRIP, 20000);
    Bytes row (20000, 0);
    TIFFWriteScanline (tif, row.data (), 0, 0);
    TIFFClose (tif);
    return read_back (path);
}

INSTANTIATE_TEST_SUITE_P (
    Damaged, TiffFailures,
    ::testing::Values (
        ExpectedFailure {"over_pixel_limit", oversized_tiff (), "outside the supported range"},
        ExpectedFailure {"directory_outside_file", Bytes {'I', 'I', 42, 0, 0xF0, 0xFF, 0, 0, 0, 0}, "TIFF"},
        ExpectedFailure {"header_only", Bytes {'M', 'M', 0, 42}, "TIFF"}),
    [] (const auto &info) { return std::string (info.param.name); });

}  // namespace
}  // namespace tamba::test
