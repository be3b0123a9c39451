// SPDX-License-Identifier: LGPL-2.1-or-later
// Every corpus file through the library's own roads: tamba_new_from_file,
// tamba_animation_new_from_file and the progressive loader must give exactly what the format's
// module gives when called directly.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "corpus.h"
#include "tamba/tamba.h"

using namespace tamba::test;

namespace {

bool module_built (const std::string &format)
{
    return std::ifstream (std::string (TAMBA_LOADER_DIR) + "/libtambaloader-" + format + ".so")
        .good ();
}

struct LoaderRun {
    bool writes_ok = true;
    Tamba *image = nullptr;  // no reference of its own
    TambaLoader *loader = nullptr;
    ~LoaderRun () { if (loader) g_object_unref (loader); }
};

void run_loader (LoaderRun &run, const std::vector<std::uint8_t> &bytes, size_t piece)
{
    run.loader = tamba_loader_new ();
    for (size_t off = 0; off < bytes.size () && run.writes_ok; off += piece) {
        const size_t n = std::min (piece, bytes.size () - off);
        run.writes_ok = tamba_loader_write (run.loader, bytes.data () + off, n);
    }
    tamba_loader_close (run.loader);
    run.image = tamba_loader_get_tamba (run.loader);
}

std::string frames_differ (TambaAnimation *a, TambaAnimation *b)
{
    if (!a || !b) return a == b ? "" : "one side has no animation";
    if (a->n_frames != b->n_frames) return "frame counts differ";
    for (GList *x = a->frames, *y = b->frames; x && y; x = x->next, y = y->next) {
        auto *f = static_cast<TambaFrame *> (x->data);
        auto *g = static_cast<TambaFrame *> (y->data);
        if (f->x_offset != g->x_offset || f->y_offset != g->y_offset
            || f->delay_time != g->delay_time || f->action != g->action)
            return "frame placement differs";
        if (auto d = compare_images (f->tamba, g->tamba); !d.empty ()) return d;
    }
    return "";
}

class LibraryLoading : public ::testing::TestWithParam<CorpusEntry> {};

TEST_P (LibraryLoading, MatchesTheModuleCalledDirectly)
{
    const CorpusEntry &e = GetParam ();
    if (!module_built (e.format)) GTEST_SKIP () << "no " << e.format << " module built";
    const Module module (std::string (TAMBA_LOADER_DIR) + "/libtambaloader-" + e.format + ".so",
                         e.format);
    ASSERT_TRUE (module.ok ());

    Tamba *direct = module.load_file (e.path);
    Tamba *loaded = tamba_new_from_file (e.path.c_str ());
    if (e.expect == "fail") {
        EXPECT_EQ (loaded, nullptr);
    }
    if (e.expect == "ok") {
        ASSERT_NE (loaded, nullptr);
    }
    // A file the signature tests do not recognise never reaches the module.
    if (direct && loaded) {
        EXPECT_EQ (compare_images (loaded, direct), "");
    }

    const auto bytes = read_file (e.path);
    for (size_t piece : {size_t (4096), bytes.size () + 1}) {
        LoaderRun run;
        run_loader (run, bytes, piece);
        if (e.expect == "ok") {
            EXPECT_TRUE (run.writes_ok) << "piece " << piece;
            TambaAnimation *anim = tamba_loader_get_animation (run.loader);
            TambaAnimation *whole = tamba_animation_new_from_file (e.path.c_str ());
            if (anim && anim->n_frames > 0) {
                EXPECT_EQ (frames_differ (anim, whole), "") << "piece " << piece;
            } else {
                EXPECT_EQ (compare_images (run.image, loaded), "") << "piece " << piece;
            }
            if (whole) tamba_animation_unref (whole);
        } else if (e.expect == "fail") {
            EXPECT_TRUE (!run.writes_ok || run.image == nullptr) << "piece " << piece;
        }
    }
    if (direct) tamba_unref (direct);
    if (loaded) tamba_unref (loaded);
}

std::vector<CorpusEntry> all_entries ()
{
    auto entries = corpus_entries ("");
    if (entries.empty ()) entries.push_back ({});  // one case that reports the skip
    return entries;
}

INSTANTIATE_TEST_SUITE_P (Corpus, LibraryLoading, ::testing::ValuesIn (all_entries ()),
                          [] (const auto &info) {
                              return info.param.path.empty () ? std::string ("missing")
                                                              : corpus_test_name (info.param);
                          });

}  // namespace
