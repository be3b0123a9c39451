// SPDX-License-Identifier: LGPL-2.1-or-later
// JPEG module: when rows appear, data that ends early or breaks mid-way, and refused headers.
#include "format-test.h"

namespace tamba::test {
namespace {

constexpr int kWidth = 61, kHeight = 45;
const std::vector<int> kGrey = {128, 128, 128, 255};

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

INSTANTIATE_TEST_SUITE_P (
    Jpeg, Refused,
    ::testing::Values (
        Refusal {"over_pixel_limit", "jpeg", with_frame_size (write_jpeg (kWidth, kHeight, false), 30000, 30000),
                 "is outside the supported range"},
        Refusal {"over_pixel_limit_progressive", "jpeg",
                 with_frame_size (write_jpeg (kWidth, kHeight, true), 20000, 20000), "is outside the supported range"},
        Refusal {"no_frame", "jpeg", Bytes {0xFF, 0xD8, 0xFF, 0xD9}, ""},
        Refusal {"header_cut", "jpeg", Bytes {0xFF, 0xD8, 0xFF, 0xE0, 0x00}, "ends before the image header"},
        Refusal {"zero_width", "jpeg", with_frame_size (write_jpeg (kWidth, kHeight, false, true), 0, 8), ""}),
    refusal_name);

// A file cut short still loads: what arrived is shown, and the rest is decoded from no data (mid
// grey), the same whatever the piece size.
TEST (Jpeg, TruncatedFileShowsWhatArrivedAndDefinesTheRest)
{
    Bytes bytes = write_jpeg (kWidth, kHeight, false);
    bytes.resize (bytes.size () * 2 / 3);
    const auto image = decode_all_ways ("jpeg", bytes);
    ASSERT_NE (image, nullptr);
    EXPECT_NEAR (rgba_at (image.get (), 0, 0)[0], jpeg_source (kWidth, kHeight, 0, 0)[0], 2);
    for (int x = 0; x < kWidth; ++x) EXPECT_EQ (rgba_at (image.get (), x, kHeight - 1), kGrey);
}

// A sequential JPEG shows its rows as they are decoded; a progressive one is shown once,
// complete, after its last scan.
TEST (Jpeg, SequentialRowsComeEarlyMultiScanImagesAtTheEnd)
{
    for (bool progressive : {false, true}) {
        SCOPED_TRACE (progressive ? "progressive" : "baseline");
        const Bytes bytes = write_jpeg (kWidth, kHeight, progressive);
        const Bytes most (bytes.begin (), bytes.begin () + long (bytes.size () * 3 / 4));
        const auto p = load_in_pieces (module_for ("jpeg"), most, 0);
        EXPECT_EQ (p.prepared, 1);
        EXPECT_EQ (p.updates_before_stop > 0, !progressive);
        EXPECT_GT (load_in_pieces (module_for ("jpeg"), bytes, 0).updates, 0);
    }
}

// A fatal error after the image was handed out (a later scan with impossible parameters): the
// whole-file load fails, and the progressive image is left fully defined rather than with rows
// never written.
TEST (Jpeg, FatalErrorAfterPrepareLeavesNoUndefinedRows)
{
    Bytes bytes = write_jpeg (kWidth, kHeight, true);
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
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) ASSERT_EQ (rgba_at (p.image, x, y), kGrey) << x << "," << y;
}

}  // namespace
}  // namespace tamba::test
