// SPDX-License-Identifier: LGPL-2.1-or-later
// The GIF, XPM and XBM sets of the image corpus: ok files decode to their reference, whole and
// progressively in pieces; fail files fail cleanly; either files run without fault (the
// sanitizer build checks that nothing is read out of bounds or leaked).
#include <gtest/gtest.h>

#include "module-paths.h"

namespace tamba::test {

namespace {

std::vector<CorpusEntry> entries ()
{
    std::vector<CorpusEntry> out;
    for (const char *format : {"gif", "xpm", "xbm"})
        for (auto &e : corpus_entries (format)) out.push_back (e);
    return out;
}

const Module &module_for (const std::string &format)
{
    return format == "gif" ? gif_module () : format == "xpm" ? xpm_module () : xbm_module ();
}

TEST (GifXpmXbmCorpus, Present)
{
    if (corpus_dir ().empty ())
        GTEST_SKIP () << "image corpus not found (set TAMBA_CORPUS_DIR); corpus tests skipped";
    EXPECT_FALSE (entries ().empty ());
}

class GifXpmXbmFile : public ::testing::TestWithParam<CorpusEntry> {};

// The frames of a progressive GIF load against those of load_animation.
void expect_same_frames (const Progressive &p, const TambaAnimation *animation, size_t piece)
{
    ASSERT_NE (animation, nullptr);
    ASSERT_EQ (p.frames.size (), size_t (animation->n_frames)) << "piece " << piece;
    const GList *l = animation->frames;
    for (size_t i = 0; i < p.frames.size (); ++i, l = l->next) {
        const auto *want = static_cast<const TambaFrame *> (l->data);
        const TambaFrame *got = p.frames[i];
        EXPECT_EQ (got->x_offset, want->x_offset) << "frame " << i << ", piece " << piece;
        EXPECT_EQ (got->y_offset, want->y_offset) << "frame " << i << ", piece " << piece;
        EXPECT_EQ (got->delay_time, want->delay_time) << "frame " << i << ", piece " << piece;
        EXPECT_EQ (got->action, want->action) << "frame " << i << ", piece " << piece;
        EXPECT_EQ (compare_images (got->tamba, want->tamba), "") << "frame " << i << ", piece "
                                                                 << piece;
    }
}

TEST_P (GifXpmXbmFile, Decodes)
{
    const CorpusEntry &e = GetParam ();
    const Module &module = module_for (e.format);
    ASSERT_TRUE (module.ok ());
    const auto bytes = read_file (e.path);
    std::optional<Reference> ref;
    if (e.expect == "ok") {
        ref = read_reference (e.ref);
        ASSERT_TRUE (ref) << "unreadable reference " << e.ref;
    }

    Tamba *whole = module.load_file (e.path);
    if (e.expect == "ok") {
        EXPECT_EQ (compare_with_ref (whole, *ref), "") << "whole-file load";
    } else if (e.expect == "fail") {
        EXPECT_EQ (whole, nullptr) << "whole-file load";
    }

    TambaAnimation *animation = nullptr;
    if (e.format == "gif") {
        animation = module.load_animation_file (e.path);
        if (e.expect == "ok") {
            ASSERT_NE (animation, nullptr);
            ASSERT_GE (animation->n_frames, 1);
            const auto *first = static_cast<const TambaFrame *> (animation->frames->data);
            EXPECT_EQ (compare_with_ref (first->tamba, *ref), "") << "first animation frame";
        }
        if (e.expect == "fail") {
            EXPECT_EQ (animation, nullptr);
        }
    }

    if (e.format == "xpm") {
        const auto strings = xpm_strings (bytes);
        std::vector<const char *> data;
        for (const auto &s : strings) data.push_back (s.c_str ());
        // An array holds no length, so only complete files are given in this form.
        if (e.expect == "ok") {
            Tamba *from_data = module.entries ().load_xpm_data (data.data ());
            EXPECT_EQ (compare_with_ref (from_data, *ref), "") << "load_xpm_data";
            if (from_data) tamba_unref (from_data);
        }
    }

    for (size_t piece : kPieceSizes) {
        const size_t size = piece ? piece : std::max<size_t> (bytes.size (), 1);
        Progressive p = load_in_pieces (module, bytes, size);
        EXPECT_EQ (p.protocol_error, "") << "piece " << piece;
        EXPECT_TRUE (p.updates_in_bounds) << "piece " << piece;
        if (e.expect == "fail") {
            EXPECT_FALSE (p.increments_ok) << "piece " << piece;
            continue;
        }
        if (e.expect != "ok") continue;
        EXPECT_TRUE (p.increments_ok) << "piece " << piece;
        if (e.format == "gif") {
            ASSERT_FALSE (p.frames.empty ()) << "piece " << piece;
            EXPECT_EQ (compare_with_ref (p.frames[0]->tamba, *ref), "") << "piece " << piece;
            expect_same_frames (p, animation, piece);
            EXPECT_EQ (p.animation_done, 1) << "piece " << piece;
        } else {
            EXPECT_EQ (compare_with_ref (p.image, *ref), "") << "piece " << piece;
            EXPECT_EQ (compare_images (p.image, whole), "") << "piece " << piece;
        }
    }
    if (animation) free_animation (animation);
    if (whole) tamba_unref (whole);
}

INSTANTIATE_TEST_SUITE_P (Corpus, GifXpmXbmFile, ::testing::ValuesIn (entries ()),
                          [] (const auto &info) { return corpus_test_name (info.param); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST (GifXpmXbmFile);

}  // namespace
}  // namespace tamba::test
