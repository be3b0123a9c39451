// SPDX-License-Identifier: LGPL-2.1-or-later
// The jpeg module on images written here with libjpeg: colour spaces, subsampling,
// progressive scans, restart markers, truncation and oversized headers.
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <cstdlib>

#include "feature-support.h"

namespace tamba::test {
namespace {

const Module &jpeg_module ()
{
    static const Module module (TAMBA_JPEG_MODULE, "jpeg");
    return module;
}

enum class Space { kGrey, kYcc420, kYcc444, kRgb, kAdobeCmyk, kYcck };

struct JpegCase {
    const char *name;
    Space space;
    bool progressive;
    int restart_rows;
    int tolerance;  // largest difference allowed from the source pixels (lossy coding)
};

constexpr int kWidth = 61, kHeight = 45;

// A smooth picture, so lossy coding stays close to it.
std::vector<int> source_rgb (int x, int y)
{
    return {x * 255 / (kWidth - 1), y * 255 / (kHeight - 1), 255 - (x + y) * 255 / (kWidth + kHeight - 2)};
}

Bytes write_jpeg (const JpegCase &jc)
{
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr err {};
    cinfo.err = jpeg_std_error (&err);
    jpeg_create_compress (&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest (&cinfo, &buffer, &size);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    const bool cmyk = jc.space == Space::kAdobeCmyk || jc.space == Space::kYcck;
    cinfo.input_components = jc.space == Space::kGrey ? 1 : cmyk ? 4 : 3;
    cinfo.in_color_space = jc.space == Space::kGrey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults (&cinfo);
    jpeg_set_quality (&cinfo, 98, TRUE);
    if (jc.space == Space::kRgb) jpeg_set_colorspace (&cinfo, JCS_RGB);
    if (jc.space == Space::kYcck) jpeg_set_colorspace (&cinfo, JCS_YCCK);
    if (jc.space != Space::kYcc420)
        for (int c = 0; c < cinfo.num_components; ++c)
            cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    if (jc.progressive) jpeg_simple_progression (&cinfo);
    cinfo.restart_in_rows = jc.restart_rows;
    jpeg_start_compress (&cinfo, TRUE);
    std::vector<JSAMPLE> row (size_t (kWidth) * size_t (cinfo.input_components));
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = int (cinfo.next_scanline);
        for (int x = 0; x < kWidth; ++x) {
            const auto rgb = source_rgb (x, y);
            JSAMPLE *p = row.data () + size_t (x) * size_t (cinfo.input_components);
            if (jc.space == Space::kGrey) {
                p[0] = JSAMPLE (rgb[0]);
            } else if (cmyk) {
                // Inverted CMYK with no black, as Adobe writes it: stored value = 255 - ink,
                // ink = 255 - colour, so the stored value is the colour itself.
                p[0] = JSAMPLE (rgb[0]), p[1] = JSAMPLE (rgb[1]), p[2] = JSAMPLE (rgb[2]), p[3] = 255;
            } else {
                p[0] = JSAMPLE (rgb[0]), p[1] = JSAMPLE (rgb[1]), p[2] = JSAMPLE (rgb[2]);
            }
        }
        JSAMPROW rows[] = {row.data ()};
        jpeg_write_scanlines (&cinfo, rows, 1);
    }
    jpeg_finish_compress (&cinfo);
    jpeg_destroy_compress (&cinfo);
    Bytes out (buffer, buffer + size);
    std::free (buffer);
    return out;
}

class JpegFeature : public ::testing::TestWithParam<JpegCase> {};

TEST_P (JpegFeature, DecodesCloseToTheSourceWholeAndInPieces)
{
    const JpegCase &jc = GetParam ();
    Tamba *image = load_everywhere (jpeg_module (), write_jpeg (jc));
    ASSERT_NE (image, nullptr);
    ASSERT_EQ (image->width, kWidth);
    ASSERT_EQ (image->height, kHeight);
    EXPECT_FALSE (image->has_alpha);
    int worst = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const auto got = pixel_at (image, x, y);
            auto want = source_rgb (x, y);
            if (jc.space == Space::kGrey) want = {want[0], want[0], want[0]};
            for (int c = 0; c < 3; ++c) worst = std::max (worst, std::abs (got[size_t (c)] - want[size_t (c)]));
        }
    EXPECT_LE (worst, jc.tolerance);
    tamba_unref (image);
}

INSTANTIATE_TEST_SUITE_P (
    Kinds, JpegFeature,
    ::testing::Values (JpegCase {"grey", Space::kGrey, false, 0, 2},
                       JpegCase {"grey_progressive", Space::kGrey, true, 0, 2},
                       JpegCase {"ycbcr_420", Space::kYcc420, false, 0, 6},
                       JpegCase {"ycbcr_444", Space::kYcc444, false, 0, 3},
                       JpegCase {"ycbcr_420_progressive", Space::kYcc420, true, 0, 6},
                       JpegCase {"ycbcr_420_restart_every_row", Space::kYcc420, false, 1, 6},
                       JpegCase {"rgb", Space::kRgb, false, 0, 3},
                       JpegCase {"adobe_inverted_cmyk", Space::kAdobeCmyk, false, 0, 3},
                       JpegCase {"ycck", Space::kYcck, false, 0, 4}),
    [] (const auto &info) { return std::string (info.param.name); });

// A file cut short still loads: what arrived is shown, and the rest of the picture is decoded
// from no data (mid grey), the same whatever the piece size.
TEST (JpegTruncated, ShowsWhatArrivedAndDefinesTheRest)
{
    for (bool progressive : {false, true}) {
        SCOPED_TRACE (progressive ? "progressive" : "baseline");
        Bytes bytes = write_jpeg ({"cut", Space::kYcc444, progressive, 0, 0});
        bytes.resize (bytes.size () * 2 / 3);
        Tamba *image = load_everywhere (jpeg_module (), bytes);
        ASSERT_NE (image, nullptr);
        if (!progressive) {
            EXPECT_EQ (pixel_at (image, 0, 0)[0], source_rgb (0, 0)[0]);
            for (int x = 0; x < kWidth; ++x)
                EXPECT_EQ (pixel_at (image, x, kHeight - 1), (std::vector<int> {128, 128, 128, 255}));
        }
        tamba_unref (image);
    }
}

// A sequential JPEG shows its rows as they are decoded; a progressive-mode one is shown once,
// complete, after its last scan (not scan by scan).
TEST (JpegProgressive, SequentialRowsComeEarlyMultiScanImagesAtTheEnd)
{
    for (bool progressive : {false, true}) {
        SCOPED_TRACE (progressive ? "progressive" : "baseline");
        const Bytes bytes = write_jpeg ({"", Space::kYcc444, progressive, 0, 0});
        const size_t most = bytes.size () * 3 / 4;
        Observed seen;
        const auto &m = jpeg_module ().entries ();
        gpointer ctx = begin_observed (jpeg_module (), seen);
        ASSERT_NE (ctx, nullptr);
        EXPECT_TRUE (m.load_increment (ctx, bytes.data (), guint (most)));
        EXPECT_EQ (seen.prepared, 1);
        if (progressive) EXPECT_EQ (seen.updates, 0);
        else EXPECT_GT (seen.updates, 0);
        EXPECT_TRUE (m.load_increment (ctx, bytes.data () + most, guint (bytes.size () - most)));
        EXPECT_GT (seen.updates, 0);
        m.stop_load (ctx);
    }
}

// A fatal error after the image was handed out (a later scan with impossible parameters): the
// whole-file load fails, and the progressive image is left fully defined (mid grey) rather than
// with rows never written.
TEST (JpegFatalError, AfterPrepareLeavesNoUndefinedRows)
{
    Bytes bytes = write_jpeg ({"", Space::kYcc444, true, 0, 0});
    int scans = 0;
    for (size_t i = 2; i + 4 < bytes.size (); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA && ++scans == 2) {
            const size_t ns = bytes[i + 4];
            bytes[i + 5 + 2 * ns] = 10;  // Ss after Se: no decoder accepts that
            bytes[i + 6 + 2 * ns] = 5;
            break;
        }
    ASSERT_EQ (scans, 2);
    expect_whole_file_failure (jpeg_module (), {"bad scan", bytes, "JPEG"});
    Progressive p = load_in_pieces (jpeg_module (), bytes, 100);
    EXPECT_FALSE (p.increments_ok);
    ASSERT_NE (p.image, nullptr);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            ASSERT_EQ (pixel_at (p.image, x, y), (std::vector<int> {128, 128, 128, 255}));
}

// Replaces the frame size in the first SOF marker.
Bytes with_frame_size (Bytes bytes, unsigned width, unsigned height)
{
    for (size_t i = 2; i + 9 < bytes.size (); ++i)
        if (bytes[i] == 0xFF && (bytes[i + 1] == 0xC0 || bytes[i + 1] == 0xC2)) {
            bytes[i + 5] = std::uint8_t (height >> 8), bytes[i + 6] = std::uint8_t (height);
            bytes[i + 7] = std::uint8_t (width >> 8), bytes[i + 8] = std::uint8_t (width);
            break;
        }
    return bytes;
}

class JpegFailures : public ::testing::TestWithParam<ExpectedFailure> {};

TEST_P (JpegFailures, GiveNullAndOneWarningWholeAndFalseInPieces)
{
    expect_whole_file_failure (jpeg_module (), GetParam ());
    Progressive p = load_in_pieces (jpeg_module (), GetParam ().bytes, 7);
    EXPECT_TRUE (!p.increments_ok || !p.image);
}

INSTANTIATE_TEST_SUITE_P (
    Damaged, JpegFailures,
    ::testing::Values (
        ExpectedFailure {"over_pixel_limit",
                     with_frame_size (write_jpeg ({"", Space::kYcc420, false, 0, 0}), 30000, 30000),
                     "outside the supported range"},
        ExpectedFailure {"over_pixel_limit_progressive",
                     with_frame_size (write_jpeg ({"", Space::kYcc420, true, 0, 0}), 20000, 20000),
                     "outside the supported range"},
        ExpectedFailure {"no_frame", Bytes {0xFF, 0xD8, 0xFF, 0xD9}, "JPEG"},
        ExpectedFailure {"header_cut", Bytes {0xFF, 0xD8, 0xFF, 0xE0, 0x00}, "ends before the image header"},
        ExpectedFailure {"zero_width",
                     with_frame_size (write_jpeg ({"", Space::kGrey, false, 0, 0}), 0, 8),
                     "JPEG"}),
    [] (const auto &info) { return std::string (info.param.name); });

}  // namespace
}  // namespace tamba::test
