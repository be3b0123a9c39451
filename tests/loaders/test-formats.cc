// SPDX-License-Identifier: LGPL-2.1-or-later
// What every module shares: data it must refuse fails cleanly with its reason, progressive
// updates cover every row exactly once, in one band where a piece of data completes many rows,
// and the shared row conversion.
#include <algorithm>

#include "corpus.h"
#include "format-test.h"
#include "pixel-rows.h"

namespace tamba::test {
namespace {

TEST_P (Refused, FailsWithItsReason)
{
    const Refusal &c = GetParam ();
    const Module &module = module_for (c.format);
    ASSERT_TRUE (module.ok ());
    LogCapture log;
    EXPECT_EQ (ImagePtr (module.load_bytes (c.bytes)), nullptr);
    std::string all;
    for (const auto &w : log.warnings ()) all += w + "\n";
    EXPECT_TRUE (log.warned (c.reason)) << all;
    EXPECT_EQ (std::count (all.begin (), all.end (), '\n'), long (log.warnings ().size ())) << all;
    // Progressively the data is refused, or at least never reported as a complete image.
    for (size_t piece : {size_t (7), size_t (0)}) {
        const auto p = load_in_pieces (module, c.bytes, piece);
        EXPECT_EQ (p.protocol_error, "");
        EXPECT_FALSE (p.increments_ok && p.complete_before_stop) << "pieces of " << piece;
    }
}

struct Band {
    const char *format;
    const char *file;  // in the corpus
    // The rows that one piece of data completes come as one update (else in several).
    bool merged;
};

class UpdateBands : public ::testing::TestWithParam<Band> {};

TEST_P (UpdateBands, CoverEveryRowOnce)
{
    const Band &b = GetParam ();
    const Bytes bytes = corpus_file (b.file);
    ASSERT_FALSE (bytes.empty ()) << "the corpus lacks " << b.file;
    for (size_t piece : {size_t (1), size_t (13), size_t (0)}) {
        SCOPED_TRACE ("pieces of " + std::to_string (piece));
        const auto p = load_in_pieces (module_for (b.format), bytes, piece);
        ASSERT_TRUE (p.increments_ok);
        ASSERT_EQ (p.prepared, 1);
        ASSERT_FALSE (p.row_updates.empty ());
        EXPECT_EQ (p.row_updates, std::vector<int> (p.row_updates.size (), 1));
        if (piece == 0) {
            EXPECT_EQ (p.image_updates == 1, b.merged) << p.image_updates << " updates";
        }
    }
}

INSTANTIATE_TEST_SUITE_P (
    Formats, UpdateBands,
    // BMP rows arrive bottom-up, so no two updates are adjacent in the order they come.
    ::testing::Values (Band {"bmp", "bmp/cpython/python.bmp", false},
                       Band {"gif", "gif/cpython/python.gif", true},
                       Band {"ico", "ico/real/cpython-idle.ico", true},
                       Band {"jpeg", "jpeg/cpython/python.jpg", true},
                       Band {"png", "png/cpython/python.png", true},
                       Band {"pnm", "pnm/cpython/python.ppm", true},
                       Band {"ras", "ras/cpython/python.ras", true},
                       Band {"tiff", "tiff/cpython/python.tiff", true},
                       Band {"xbm", "xbm/cpython/python.xbm", true},
                       Band {"xpm", "xpm/generated/comments-and-spacing.xpm", true}),
    [] (const auto &info) { return std::string (info.param.format); });

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
