// SPDX-License-Identifier: LGPL-2.1-or-later
// Conformance of the png, jpeg and tiff modules on the image corpus: every file decodes to its
// reference (or fails, as the index says), whole-file and progressively in pieces of several
// sizes, with identical pixels and one warning per failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "corpus.h"
#include "log-capture.h"

namespace tamba::test {

namespace {

// Feeding one byte at a time through the sanitizer build is slow; files above this size are
// fed in the larger pieces only.
constexpr size_t kOneBytePiecesMaxFile = 64 * 1024;
constexpr size_t kPieceSizes[] = {1, 13, 787, 4096, 0 /* the whole file */};

const Module &module_for (const std::string &format)
{
    static const Module png (TAMBA_PNG_MODULE, "png");
    static const Module jpeg (TAMBA_JPEG_MODULE, "jpeg");
    static const Module tiff (TAMBA_TIFF_MODULE, "tiff");
    return format == "png" ? png : format == "jpeg" ? jpeg : tiff;
}

// Three PngSuite references ignore the tRNS colour of an RGB image (white in each), so white
// pixels there are opaque; the PNG rules make exactly those pixels transparent, as the
// cross-check decoder does too. Their references are corrected here before comparing.
bool reference_ignores_trns (const CorpusEntry &e)
{
    for (const char *name : {"/tbrn2c08.png", "/tbbn2c16.png", "/tbgn2c16.png"})
        if (e.path.ends_with (name)) return true;
    return false;
}

void make_white_transparent (Pam &ref)
{
    for (size_t i = 0; i + 3 < ref.samples.size (); i += 4)
        if (ref.samples[i] == 255 && ref.samples[i + 1] == 255 && ref.samples[i + 2] == 255)
            ref.samples[i + 3] = 0;
}

// Associated-alpha TIFFs store premultiplied colour, which the module turns back into straight
// colour rounded to nearest. Multiplying the result by alpha again must give exactly the
// stored samples, which libtiff's own RGBA reading returns (the .ref-rgbaimage.pam file where
// the reference decoder un-premultiplied differently, else the reference itself).
bool is_associated_alpha_tiff (const CorpusEntry &e)
{
    return e.format == "tiff" && e.notes.find ("assoc-alpha") != std::string::npos
           && e.notes.find ("unassoc-alpha") == std::string::npos;
}

Tamba *premultiplied_copy (const Tamba *image)
{
    Tamba *copy = tamba_copy (image);
    for (int y = 0; y < copy->height; ++y) {
        guchar *p = copy->pixels + size_t (y) * size_t (copy->rowstride);
        for (int x = 0; x < copy->width; ++x, p += 4)
            for (int c = 0; c < 3; ++c) p[c] = guchar ((p[c] * p[3] + 127) / 255);
    }
    return copy;
}

std::string compare_tiff_associated (const Tamba *image, const CorpusEntry &e)
{
    auto ref = read_reference (e.path + ".ref-rgbaimage.pam");
    if (!ref) ref = read_reference (e.ref);
    if (!ref || !image || !image->has_alpha) return "no reference or no alpha";
    Tamba *premultiplied = premultiplied_copy (image);
    std::string diff = compare_with_ref (premultiplied, *ref);
    tamba_unref (premultiplied);
    return diff;
}

// Pillow, and netpbm for 16-bit grey, keep the high byte of 16-bit TIFF samples; the module
// rounds (as the netpbm RGB references do), so those references may be one level off.
int tolerance_for (const CorpusEntry &e)
{
    if (e.format == "jpeg") return 1;  // the reference decoder's IDCT is the same; allow one
    const auto has = [&] (const char *text) { return e.notes.find (text) != std::string::npos; };
    if (e.format == "tiff" && has ("bits=16") && (has ("ref: Pillow") || has ("photometric=min-is-")))
        return 1;
    return 0;
}

// libtiff's RGBA reader skews the rows of clipped tiles in 16-bit grey (it steps the sample
// pointer by half the skip), and this reference came through it: its last, clipped tile column
// (x >= 192) is wrong, as the raw tile data shows. Only the full tiles are compared.
constexpr int kSkewedGreyTileColumnsStart = 192;

bool reference_has_skewed_tiles (const CorpusEntry &e)
{
    return e.path.ends_with ("/gray16-tile64-deflate.tif");
}

std::string compare_left_part (const Tamba *image, Pam ref, int width, int tolerance)
{
    Pam cropped {width, ref.height, ref.depth, {}};
    for (int y = 0; y < ref.height; ++y) {
        const auto row = ref.samples.begin () + long (y) * ref.width * ref.depth;
        cropped.samples.insert (cropped.samples.end (), row, row + width * ref.depth);
    }
    Tamba view = *image;
    view.width = width;
    return compare_with_ref (&view, cropped, tolerance);
}

// The largest JPEG sample difference seen over the run, reported at the end.
int g_jpeg_max_diff = -1;

class CorpusFile : public ::testing::TestWithParam<CorpusEntry> {};

TEST_P (CorpusFile, DecodesAsIndexedWholeAndInPieces)
{
    const CorpusEntry &e = GetParam ();
    const Module &module = module_for (e.format);
    ASSERT_TRUE (module.ok ()) << "module for " << e.format << " did not open";

    // Files the format table does not route to this module (a broken signature) only have to
    // be survived here; recognising them is not the module's business.
    const bool unrecognised = e.notes.find ("not recognised") != std::string::npos;
    const std::string expect = unrecognised ? "either" : e.expect;

    Tamba *whole = nullptr;
    {
        LogCapture log;
        whole = module.load_file (e.path);
        if (expect == "ok") {
            EXPECT_TRUE (log.warnings ().empty ());
        } else if (expect == "fail") {
            EXPECT_EQ (log.warnings ().size (), 1u) << "one warning per failure";
        }
    }
    if (expect == "ok") {
        ASSERT_NE (whole, nullptr);
        auto ref = read_reference (e.ref);
        ASSERT_TRUE (ref.has_value ()) << e.ref;
        if (reference_ignores_trns (e) || reference_has_skewed_tiles (e)) {
            ASSERT_TRUE (ref->pixels.has_value ()) << "the reference's pixels are needed: " << e.ref;
        }
        if (reference_ignores_trns (e)) make_white_transparent (*ref->pixels);
        int max_diff = 0;
        if (reference_has_skewed_tiles (e))
            EXPECT_EQ (compare_left_part (whole, *ref->pixels, kSkewedGreyTileColumnsStart,
                                          tolerance_for (e)), "");
        else if (is_associated_alpha_tiff (e))
            EXPECT_EQ (compare_tiff_associated (whole, e), "");
        else
            EXPECT_EQ (compare_with_ref (whole, *ref, tolerance_for (e), &max_diff), "");
        if (e.format == "jpeg") g_jpeg_max_diff = std::max (g_jpeg_max_diff, max_diff);
    } else if (expect == "fail") {
        EXPECT_EQ (whole, nullptr);
    }

    const auto bytes = read_file (e.path);
    for (size_t piece : kPieceSizes) {
        if (piece == 0) piece = std::max<size_t> (bytes.size (), 1);
        if (piece == 1 && bytes.size () > kOneBytePiecesMaxFile) continue;
        SCOPED_TRACE ("pieces of " + std::to_string (piece) + " bytes");
        LogCapture log;
        Progressive p = load_in_pieces (module, bytes, piece);
        EXPECT_EQ (p.protocol_error, "");
        EXPECT_TRUE (p.updates_in_bounds);
        EXPECT_LE (p.prepared, 1);
        EXPECT_LE (log.warnings ().size (), 1u);
        if (expect == "ok") {
            EXPECT_TRUE (p.increments_ok);
            EXPECT_EQ (p.prepared, 1);
            EXPECT_GT (p.updates, 0);
            EXPECT_EQ (compare_images (p.image, whole), "");
        } else if (expect == "fail") {
            EXPECT_TRUE (!p.increments_ok || !p.image) << "a bad file loaded progressively";
        } else if (whole && p.increments_ok && p.image) {
            EXPECT_EQ (compare_images (p.image, whole), "");
        }
    }
    if (whole) tamba_unref (whole);
}

std::vector<CorpusEntry> png_jpeg_tiff_entries ()
{
    std::vector<CorpusEntry> all;
    for (const char *format : {"png", "jpeg", "tiff"}) {
        auto some = corpus_entries (format);
        all.insert (all.end (), some.begin (), some.end ());
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P (PngJpegTiff, CorpusFile, ::testing::ValuesIn (png_jpeg_tiff_entries ()),
                          [] (const auto &info) { return corpus_test_name (info.param); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST (CorpusFile);

TEST (Corpus, FolderPresent)
{
    if (corpus_dir ().empty ())
        GTEST_SKIP () << "image corpus not found: set TAMBA_CORPUS_DIR to the folder holding "
                         "index.tsv to run the png/jpeg/tiff conformance tests";
    EXPECT_FALSE (png_jpeg_tiff_entries ().empty ());
}

// Each CTest test runs one case, so the figure is printed per JPEG file as well.
class JpegDiffReport : public ::testing::EmptyTestEventListener {
    void OnTestProgramEnd (const ::testing::UnitTest &) override
    {
        if (g_jpeg_max_diff >= 0)
            std::printf ("largest JPEG sample difference from the references: %d\n",
                         g_jpeg_max_diff);
    }
};

const bool kListenerAdded = [] {
    ::testing::UnitTest::GetInstance ()->listeners ().Append (new JpegDiffReport);
    return true;
}();

}  // namespace
}  // namespace tamba::test
