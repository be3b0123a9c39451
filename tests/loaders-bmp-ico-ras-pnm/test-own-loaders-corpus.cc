// The BMP, ICO, Sun raster and PNM decoders against the image corpus: every "ok" file decodes to
// its reference, every "fail" file is refused, and every file gives the same pixels whole and
// in pieces of 1, 13, 787 and 4096 bytes. "either" files must not crash or leak; those listed
// below are decoded on purpose and checked against their reference too.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "corpus.h"

namespace {

using tamba::test::CorpusEntry;
using tamba::test::Module;

const Module &module_for (const std::string &format)
{
    static std::map<std::string, std::unique_ptr<Module>> modules;
    auto &m = modules[format];
    if (!m) {
        const char *path = format == "bmp"   ? TAMBA_BMP_MODULE
                           : format == "ico" ? TAMBA_ICO_MODULE
                           : format == "ras" ? TAMBA_RAS_MODULE
                                             : TAMBA_PNM_MODULE;
        m = std::make_unique<Module> (path, format);
    }
    return *m;
}

// "either" files this project decodes, with the largest difference from the reference that is
// accepted (-1: no reference to compare with).
const std::map<std::string, int> &decoded_either ()
{
    static const std::map<std::string, int> files = {
        {"placeholder", 0},
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
    const Module &module = module_for (e.format);
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
            const auto ref = tamba::test::read_pam (e.ref);
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
