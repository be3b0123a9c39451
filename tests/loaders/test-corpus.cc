// SPDX-License-Identifier: LGPL-2.1-or-later
// The conformance run over the image corpus: every "ok" file decodes to its reference, every
// "fail" file is refused with one warning, and each file gives the same pixels whole-file, in
// pieces of several sizes, and through the library's own roads (tamba_new_from_file and the
// progressive loader). "either" files must not crash or leak; those that decode are compared
// with their reference too. The sanitizer build checks that nothing is read out of bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "corpus.h"
#include "log-capture.h"
#include "modules.h"

namespace tamba::test {
namespace {

// Feeding one byte at a time through the sanitizer build is slow; larger files skip that size.
constexpr size_t kOneBytePiecesMaxFile = 64 * 1024;

// "either" files compared with their reference within more than 0, or (-1) not at all. 1: bit
// fields of other than 8 bits scale as v * 255 / max, truncated, where the reference rounds.
// -1: the reference decoder reads the file differently (invalid RLE codes and palette indices,
// a mask with no blue, a 1-bit alpha field), or only the hash of a JPEG's reference is kept,
// which the one level JPEG decoders may differ by cannot be applied to.
const std::map<std::string, int> kEitherTolerance = {
    {"bmp/bmpsuite/q/rgb16-231.bmp", 1},      {"bmp/bmpsuite/q/rgb16-3103.bmp", 1},
    {"bmp/bmpsuite/q/rgb32-111110.bmp", 1},   {"bmp/bmpsuite/q/rgb32-7187.bmp", 1},
    {"bmp/bmpsuite/q/rgba16-1924.bmp", 1},    {"bmp/bmpsuite/q/rgba32-1010102.bmp", 1},
    {"bmp/bmpsuite/q/rgba32-61754.bmp", 1},   {"bmp/bmpsuite/q/rgba32-81284.bmp", 1},
    {"bmp/bmpsuite/b/badrle.bmp", -1},        {"bmp/bmpsuite/b/badrle4.bmp", -1},
    {"bmp/bmpsuite/b/badrle4bis.bmp", -1},    {"bmp/bmpsuite/b/badrle4ter.bmp", -1},
    {"bmp/bmpsuite/b/badrlebis.bmp", -1},     {"bmp/bmpsuite/b/badrleter.bmp", -1},
    {"bmp/bmpsuite/b/pal8badindex.bmp", -1},  {"bmp/bmpsuite/b/rgb16-880.bmp", -1},
    {"bmp/bmpsuite/q/rgba16-5551.bmp", -1},   {"jpeg/generated/arithmetic-progressive.jpg", -1},
    {"jpeg/generated/cmyk-adobe.jpg", -1},    {"jpeg/generated/ycck-adobe.jpg", -1},
    {"jpeg/libjpeg-turbo/testimgari.jpg", -1},
};

// "either" files with a reference that this project refuses; every other one must decode.
const std::set<std::string> kEitherRefused = {"bmp/bmpsuite/q/pal1huffmsb.bmp", "bmp/bmpsuite/q/rgb24png.bmp",
                                               "bmp/bmpsuite/q/rgb24rle24.bmp", "bmp/bmpsuite/q/rgba64.bmp"};

// Three PngSuite references ignore the tRNS colour of an RGB image (white in each); the PNG rules
// make exactly those pixels transparent, as the cross-check decoder does too.
bool reference_ignores_trns (const CorpusEntry &e)
{
    for (const char *name : {"/tbrn2c08.png", "/tbbn2c16.png", "/tbgn2c16.png"})
        if (e.rel.ends_with (name)) return true;
    return false;
}

// libtiff's RGBA reader skews the rows of clipped tiles in 16-bit grey, and this reference came
// through it: its last, clipped tile column (x >= 192) is wrong, so only the full tiles count.
constexpr int kSkewedTilesFrom = 192;
bool reference_has_skewed_tiles (const CorpusEntry &e) { return e.rel.ends_with ("/gray16-tile64-deflate.tif"); }

// Associated-alpha TIFFs store premultiplied colour, which the module turns back into straight
// colour rounded to nearest: multiplied by alpha again it must give exactly the stored samples,
// which libtiff's RGBA reading returns (.ref-rgbaimage.pam where the reference decoder
// un-premultiplied differently, else the reference itself).
bool is_associated_alpha (const CorpusEntry &e)
{
    return e.format == "tiff" && e.notes.find ("assoc-alpha") != std::string::npos
           && e.notes.find ("unassoc-alpha") == std::string::npos;
}

int tolerance_for (const CorpusEntry &e)
{
    if (e.expect == "either" && kEitherTolerance.count (e.rel)) return kEitherTolerance.at (e.rel);
    if (e.format == "jpeg") return 1;  // the reference decoder's IDCT is the same; allow one
    const auto has = [&] (const char *text) { return e.notes.find (text) != std::string::npos; };
    // Pillow, and netpbm for 16-bit grey, keep the high byte of 16-bit TIFF samples; the module
    // rounds, so those references may be one level off.
    if (e.format == "tiff" && has ("bits=16") && (has ("ref: Pillow") || has ("photometric=min-is-")))
        return 1;
    return 0;
}

std::string compare_to_reference (const Tamba *image, const CorpusEntry &e)
{
    auto ref = read_reference (is_associated_alpha (e) && read_reference (e.path + ".ref-rgbaimage.pam")
                                   ? e.path + ".ref-rgbaimage.pam" : e.ref);
    if (!ref) return "unreadable reference " + e.ref;
    const bool adjusted = reference_ignores_trns (e) || reference_has_skewed_tiles (e);
    if (adjusted && !ref->has_pixels ()) return "the reference's pixels are needed: " + e.ref;
    if (reference_ignores_trns (e))
        for (size_t i = 0; i + 3 < ref->samples.size (); i += 4)
            if (ref->samples[i] == 255 && ref->samples[i + 1] == 255 && ref->samples[i + 2] == 255)
                ref->samples[i + 3] = 0;
    ImagePtr copy (tamba_copy (image));
    if (reference_has_skewed_tiles (e)) {
        Reference left {kSkewedTilesFrom, ref->height, ref->depth, {}, ""};
        for (int y = 0; y < ref->height; ++y) {
            const auto row = ref->samples.begin () + long (y) * ref->width * ref->depth;
            left.samples.insert (left.samples.end (), row, row + kSkewedTilesFrom * ref->depth);
        }
        *ref = left;
        copy->width = kSkewedTilesFrom;
    }
    if (is_associated_alpha (e) && copy->has_alpha)
        for (int y = 0; y < copy->height; ++y)
            for (guchar *p = copy->pixels + y * copy->rowstride, *end = p + 4 * copy->width; p < end; p += 4)
                for (int c = 0; c < 3; ++c) p[c] = guchar ((p[c] * p[3] + 127) / 255);
    return compare_with_ref (copy.get (), *ref, tolerance_for (e));
}

std::vector<const TambaFrame *> frames_of (const TambaAnimation *a)
{
    std::vector<const TambaFrame *> out;
    for (const GList *l = a ? a->frames : nullptr; l; l = l->next)
        out.push_back (static_cast<const TambaFrame *> (l->data));
    return out;
}

// "" when both lists hold the same frames: placement, timing, action and pixels.
template <typename Frames>
std::string frames_differ (const Frames &got, const TambaAnimation *want)
{
    const auto w = frames_of (want);
    if (got.size () != w.size ()) return "frame counts differ";
    for (size_t i = 0; i < w.size (); ++i) {
        if (got[i]->x_offset != w[i]->x_offset || got[i]->y_offset != w[i]->y_offset
            || got[i]->delay_time != w[i]->delay_time || got[i]->action != w[i]->action)
            return "frame " + std::to_string (i) + " placed or timed differently";
        if (auto d = compare_images (got[i]->tamba, w[i]->tamba); !d.empty ()) return d;
    }
    return "";
}

// The quoted strings of an XPM file, in order, as load_xpm_data takes them.
std::vector<std::string> xpm_strings (const Bytes &file)
{
    std::vector<std::string> out;
    const std::string text (file.begin (), file.end ());
    for (size_t i = 0; i < text.size (); ++i) {
        if (text.compare (i, 2, "/*") == 0) i = std::min (text.find ("*/", i + 2), text.size ()) + 1;
        else if (text[i] == '"') {
            const size_t end = std::min (text.find ('"', i + 1), text.size ());
            out.push_back (text.substr (i + 1, end - i - 1));
            i = end;
        }
    }
    return out;
}

class Corpus : public ::testing::TestWithParam<CorpusEntry> {};

TEST_P (Corpus, File)
{
    const CorpusEntry &e = GetParam ();
    const Module &module = module_for (e.format);
    ASSERT_TRUE (module.ok ()) << "module for " << e.format << " did not open";
    // Files the format table does not route to this module (a broken signature) only have to be
    // survived by the module; recognising them is not its business.
    const bool unrecognised = e.notes.find ("not recognised") != std::string::npos;
    const std::string expect = unrecognised ? "either" : e.expect;
    const bool decodes = expect == "ok" || (expect == "either" && !e.ref.empty ()
                                             && !kEitherRefused.count (e.rel));
    const bool animated = module.entries ().load_animation != nullptr;

    const Bytes bytes = read_file (e.path);
    LogCapture log;
    ImagePtr whole (module.load_bytes (bytes));
    // No warning for a good file, and one per failure.
    EXPECT_TRUE (expect == "either" || log.warnings ().size () == (expect == "fail" ? 1u : 0u)) << log.warnings ().size ();
    EXPECT_TRUE (!whole || (expect != "fail" && !kEitherRefused.count (e.rel))) << "a refused file loaded";
    if (decodes) {
        ASSERT_NE (whole, nullptr) << "decode failed";
        EXPECT_EQ (tolerance_for (e) < 0 ? "" : compare_to_reference (whole.get (), e), "");
    }
    TambaAnimation *animation = animated ? module.load_animation_bytes (bytes) : nullptr;
    EXPECT_EQ (animation != nullptr, animated && whole);
    if (e.format == "xpm" && whole) {
        // An array holds no length, so only files that load whole are given in this form.
        EXPECT_EQ (compare_images (ImagePtr (module.load_xpm_strings (xpm_strings (bytes))).get (), whole.get ()), "")
            << "load_xpm_data";
    }

    for (size_t piece : kPieceSizes) {
        if (piece == 1 && bytes.size () > kOneBytePiecesMaxFile) continue;
        SCOPED_TRACE ("pieces of " + std::to_string (piece) + " bytes");
        const auto p = load_in_pieces (module, bytes, piece);
        EXPECT_EQ (p.protocol_error, "");
        EXPECT_TRUE (p.updates_in_bounds);
        EXPECT_TRUE (animated || p.prepared <= 1);
        EXPECT_TRUE (expect != "fail" || !p.increments_ok || !p.image) << "a bad file loaded";
        // An "either" file may be refused progressively, but what it gives must agree.
        if (!whole || (expect == "either" && !p.increments_ok)) continue;
        EXPECT_TRUE (p.increments_ok);
        EXPECT_EQ (std::count (p.row_updates.begin (), p.row_updates.end (), 0), 0) << "rows never updated";
        EXPECT_EQ (animated ? frames_differ (p.frames, animation) : compare_images (p.image, whole.get ()), "");
        EXPECT_EQ (p.animation_done, animated ? 1 : p.animation_done);
    }

    // A reduced decode is never larger than the whole image, nor below the size asked for
    // where the whole image is not.
    for (int side : {1, whole ? whole->width / 3 + 1 : 0}) {
        if (!whole || !module.entries ().load_at_size) break;
        FILE *f = std::fopen (e.path.c_str (), "rb");
        const ImagePtr reduced (module.entries ().load_at_size (f, side, side));
        std::fclose (f);
        ASSERT_NE (reduced, nullptr);
        EXPECT_TRUE (reduced->width >= std::min (side, whole->width) && reduced->width <= whole->width);
        EXPECT_TRUE (reduced->height >= std::min (side, whole->height) && reduced->height <= whole->height);
    }

    // The library's roads give what the module gives; a file the signature tests do not
    // recognise never reaches the module.
    ImagePtr loaded (tamba_new_from_file (e.path.c_str ()));
    if (!whole) {
        EXPECT_EQ (loaded, nullptr);
    } else if (!unrecognised) {
        EXPECT_EQ (compare_images (loaded.get (), whole.get ()), "");
    }
    for (size_t piece : {size_t (4096), bytes.size () + 1}) {
        TambaLoader *loader = tamba_loader_new ();
        bool writes_ok = true;
        for (size_t off = 0; off < bytes.size () && writes_ok; off += piece)
            writes_ok = tamba_loader_write (loader, bytes.data () + off, std::min (piece, bytes.size () - off));
        tamba_loader_close (loader);
        const auto frames = frames_of (tamba_loader_get_animation (loader));
        EXPECT_TRUE (expect != "fail" || !writes_ok || !tamba_loader_get_tamba (loader));
        if (expect == "ok" && !unrecognised) {
            EXPECT_TRUE (writes_ok) << "loader, pieces of " << piece;
            EXPECT_EQ (frames.empty () ? compare_images (tamba_loader_get_tamba (loader), loaded.get ())
                                       : frames_differ (frames, animation), "");
        }
        g_object_unref (loader);
    }
    free_animation (animation);
}

INSTANTIATE_TEST_SUITE_P (Files, Corpus, ::testing::ValuesIn (corpus_entries ()),
                          [] (const auto &info) {
                              std::string name = info.param.rel;
                              for (char &c : name)
                                  if (!std::isalnum (static_cast<unsigned char> (c))) c = '_';
                              return name;
                          });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST (Corpus);

TEST (CorpusFolder, Present)
{
    if (corpus_dir ().empty ())
        GTEST_SKIP () << "image corpus not found (set TAMBA_CORPUS_DIR); conformance not run";
    EXPECT_FALSE (corpus_entries ().empty ());
}

}  // namespace
}  // namespace tamba::test
