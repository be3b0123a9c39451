// SPDX-License-Identifier: LGPL-2.1-or-later
// The BMP, ICO, Sun raster and PNM decoders against the image corpus: every "ok" file decodes to
// its reference, every "fail" file is refused, and every file gives the same pixels whole and
// in pieces of 1, 13, 787 and 4096 bytes. "either" files must not crash or leak; those listed
// below are decoded on purpose and checked against their reference too.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "own-loaders-test.h"

namespace {

using tamba::test::CorpusEntry;
using tamba::test::Module;

// "either" files this project decodes, with the largest difference from the reference that is
// accepted. 1: bit fields of other than 8 bits scale as v * 255 / max, truncated, where the
// reference rounds. -1: not compared, the reference decoder reads the file differently (invalid
// RLE codes and palette indices, a mask with no blue, a 1-bit alpha field).
const std::map<std::string, int> &decoded_either ()
{
    static const std::map<std::string, int> files = {
        {"bmp/bmpsuite/b/badbitssize.bmp", 0},
        {"bmp/bmpsuite/b/baddens1.bmp", 0},
        {"bmp/bmpsuite/b/baddens2.bmp", 0},
        {"bmp/bmpsuite/b/badfilesize.bmp", 0},
        {"bmp/bmpsuite/b/badplanes.bmp", 0},
        {"bmp/bmpsuite/b/rletopdown.bmp", 0},
        {"bmp/bmpsuite/q/pal1p1.bmp", 0},
        {"bmp/bmpsuite/q/pal2.bmp", 0},
        {"bmp/bmpsuite/q/pal2color.bmp", 0},
        {"bmp/bmpsuite/q/pal4rlecut.bmp", 0},
        {"bmp/bmpsuite/q/pal4rletrns.bmp", 0},
        {"bmp/bmpsuite/q/pal8offs.bmp", 0},
        {"bmp/bmpsuite/q/pal8os2-hs.bmp", 0},
        {"bmp/bmpsuite/q/pal8os2-sz.bmp", 0},
        {"bmp/bmpsuite/q/pal8os2sp.bmp", 0},
        {"bmp/bmpsuite/q/pal8os2v2-16.bmp", 0},
        {"bmp/bmpsuite/q/pal8os2v2-40sz.bmp", 0},
        {"bmp/bmpsuite/q/pal8os2v2-sz.bmp", 0},
        {"bmp/bmpsuite/q/pal8os2v2.bmp", 0},
        {"bmp/bmpsuite/q/pal8oversizepal.bmp", 0},
        {"bmp/bmpsuite/q/pal8rlecut.bmp", 0},
        {"bmp/bmpsuite/q/pal8rletrns.bmp", 0},
        {"bmp/bmpsuite/q/rgb16faketrns.bmp", 0},
        {"bmp/bmpsuite/q/rgb24largepal.bmp", 0},
        {"bmp/bmpsuite/q/rgb24lprof.bmp", 0},
        {"bmp/bmpsuite/q/rgb24prof.bmp", 0},
        {"bmp/bmpsuite/q/rgb24prof2.bmp", 0},
        {"bmp/bmpsuite/q/rgb32-xbgr.bmp", 0},
        {"bmp/bmpsuite/q/rgb32fakealpha.bmp", 0},
        {"bmp/bmpsuite/q/rgb32h52.bmp", 0},
        {"bmp/bmpsuite/q/rgba16-4444.bmp", 0},
        {"bmp/bmpsuite/q/rgba32-1.bmp", 0},
        {"bmp/bmpsuite/q/rgba32-2.bmp", 0},
        {"bmp/bmpsuite/q/rgba32abf.bmp", 0},
        {"bmp/bmpsuite/q/rgba32h56.bmp", 0},
        {"bmp/bmpsuite/q/rgb16-231.bmp", 1},
        {"bmp/bmpsuite/q/rgb16-3103.bmp", 1},
        {"bmp/bmpsuite/q/rgb32-111110.bmp", 1},
        {"bmp/bmpsuite/q/rgb32-7187.bmp", 1},
        {"bmp/bmpsuite/q/rgba16-1924.bmp", 1},
        {"bmp/bmpsuite/q/rgba32-1010102.bmp", 1},
        {"bmp/bmpsuite/q/rgba32-61754.bmp", 1},
        {"bmp/bmpsuite/q/rgba32-81284.bmp", 1},
        {"bmp/bmpsuite/b/badrle.bmp", -1},
        {"bmp/bmpsuite/b/badrle4.bmp", -1},
        {"bmp/bmpsuite/b/badrle4bis.bmp", -1},
        {"bmp/bmpsuite/b/badrle4ter.bmp", -1},
        {"bmp/bmpsuite/b/badrlebis.bmp", -1},
        {"bmp/bmpsuite/b/badrleter.bmp", -1},
        {"bmp/bmpsuite/b/pal8badindex.bmp", -1},
        {"bmp/bmpsuite/b/rgb16-880.bmp", -1},
        {"bmp/bmpsuite/q/rgba16-5551.bmp", -1},
        {"ico/generated/handmade-32bit-zero-alpha-use-andmask.ico", 0},
        {"ico/generated/handmade-cursor-32bit-hotspot.cur", 0},
        {"ico/generated/handmade-mixed-bmp16-png48.ico", 0},
        {"ico/generated/handmade-png-entry-32.ico", 0},
        {"ico/generated/imagemagick-256png-and-32.ico", 0},
        {"ras/generated/depth1-colormap2-red-blue.ras", 0},
        {"ras/generated/depth24-old-type0-len0.ras", 0},
        {"ras/generated/depth32-alpha-imagemagick.ras", 0},
    };
    return files;
}

std::string relative (const CorpusEntry &e)
{
    const std::string dir = tamba::test::corpus_dir ();
    return e.path.substr (dir.size () + 1);
}

std::vector<CorpusEntry> own_entries ()
{
    std::vector<CorpusEntry> all;
    for (const char *f : {"bmp", "ico", "ras", "pnm"})
        for (auto &e : tamba::test::corpus_entries (f)) all.push_back (e);
    return all;
}

TEST (OwnLoadersCorpus, Available)
{
    if (tamba::test::corpus_dir ().empty ())
        GTEST_SKIP () << "image corpus not found (set TAMBA_CORPUS_DIR); conformance not run";
    EXPECT_FALSE (own_entries ().empty ());
}

class OwnLoadersCorpus : public ::testing::TestWithParam<CorpusEntry> {};

TEST_P (OwnLoadersCorpus, File)
{
    const CorpusEntry &e = GetParam ();
    const Module &module = tamba::test::own_module (e.format);
    ASSERT_TRUE (module.ok ()) << "module for " << e.format << " did not open";
    const std::string rel = relative (e);
    const auto either = decoded_either ().find (rel);

    Tamba *whole = module.load_file (e.path);
    if (e.expect == "fail") {
        EXPECT_EQ (whole, nullptr) << "a file that must fail was decoded";
    } else if (e.expect == "ok" || either != decoded_either ().end ()) {
        ASSERT_NE (whole, nullptr) << "decode failed";
        const int tolerance = e.expect == "ok" ? 0 : either->second;
        if (!e.ref.empty () && tolerance >= 0) {
            const auto ref = tamba::test::read_reference (e.ref);
            ASSERT_TRUE (ref.has_value ()) << "unreadable reference " << e.ref;
            EXPECT_EQ (tamba::test::compare_with_ref (whole, *ref, tolerance), "");
        }
    }

    const auto bytes = tamba::test::read_file (e.path);
    for (size_t piece : {size_t (1), size_t (13), size_t (787), size_t (4096), bytes.size ()}) {
        SCOPED_TRACE ("pieces of " + std::to_string (piece) + " bytes");
        const auto p = tamba::test::load_in_pieces (module, bytes, piece);
        EXPECT_EQ (p.protocol_error, "");
        EXPECT_TRUE (p.updates_in_bounds);
        EXPECT_LE (p.prepared, 1);
        if (e.expect == "fail") {
            EXPECT_TRUE (!p.increments_ok || !p.image) << "a file that must fail was accepted";
        } else if (whole) {
            EXPECT_TRUE (p.increments_ok);
            EXPECT_EQ (tamba::test::compare_images (whole, p.image), "");
        }
    }
    if (whole) tamba_unref (whole);
}

INSTANTIATE_TEST_SUITE_P (Files, OwnLoadersCorpus, ::testing::ValuesIn (own_entries ()),
                          [] (const auto &info) { return tamba::test::corpus_test_name (info.param); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST (OwnLoadersCorpus);

}  // namespace
