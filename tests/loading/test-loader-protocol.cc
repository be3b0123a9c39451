// SPDX-License-Identifier: LGPL-2.1-or-later
// The progressive loader against test modules: what the module receives and when, what the
// loader makes of its callbacks, and how it survives modules that break the protocol.
#include <gtest/gtest.h>

#include "loading-test.h"
#include "log-capture.h"
#include "recorder.h"

namespace tamba::test {
namespace {

using Trace = std::vector<std::string>;

// What a module does with an image it made: hand it to prepare and drop its own reference, so
// the loader's is the only one.
Tamba *prepare_image (const Callbacks &cb, int width, int height)
{
    Tamba *image = filled_image (width, height, 7);
    cb.prepare (image, cb.user_data);
    tamba_unref (image);
    return image;
}

TambaFrame *new_frame (Tamba *image, int x_offset, int y_offset)
{
    auto *frame = g_new0 (TambaFrame, 1);
    *frame = {image, x_offset, y_offset, 5, TAMBA_FRAME_DISPOSE};
    return frame;
}

class Protocol : public ::testing::Test {
protected:
    void SetUp () override { restart (); }
    void TearDown () override { restart (false); }
    // A fresh loader (none when !again) and recorder, for each case of a table.
    void restart (bool again = true)
    {
        if (loader) g_object_unref (loader);
        recorder ().reset ();
        loader = again ? tamba_loader_new () : nullptr;
        if (loader) note_signals (loader, &note);
    }
    bool write (size_t from, size_t count) { return tamba_loader_write (loader, bytes.data () + from, count); }

    Note note = [] (std::string s) { recorder ().note (std::move (s)); };
    TambaLoader *loader = nullptr;
    const std::vector<guchar> bytes = bytes_of ("GIF89a", 1000);
};

// The module gets the 128 header bytes in one call, then the rest of the write that completed
// them, then each later write unchanged, read from the caller's buffer; the write reports the
// module's answer. failing: the increment (from 1) that fails, 0 none.
TEST_F (Protocol, HeaderBufferedThenHandedOver)
{
    const struct { std::vector<size_t> writes; int failing; std::vector<bool> results; Trace trace; } cases[] = {
        {{100, 100}, 0, {true, true}, {"gif:begin_load", "gif:load_increment(128)", "gif:load_increment(72)"}},
        {{100, 100}, 2, {true, false}, {"gif:begin_load", "gif:load_increment(128)", "gif:load_increment(72)"}},
        {{100, 100}, 1, {true, false}, {"gif:begin_load", "gif:load_increment(128)"}},
        {{128}, 0, {true}, {"gif:begin_load", "gif:load_increment(128)"}},
        {{128}, 1, {false}, {"gif:begin_load", "gif:load_increment(128)"}},
        {{128, 0}, 0, {true, true}, {"gif:begin_load", "gif:load_increment(128)"}},
        {{0}, 0, {false}, {}},
        {{1, 127, 5, 3}, 0, {true, true, true, true},
         {"gif:begin_load", "gif:load_increment(128)", "gif:load_increment(5)", "gif:load_increment(3)"}},
        {{129, 871}, 0, {true, true}, {"gif:begin_load", "gif:load_increment(128)", "gif:load_increment(1)", "gif:load_increment(871)"}},
    };
    for (const auto &c : cases) {
        restart ();
        int increments = 0;
        recorder ().on_increment = [&] (const Callbacks &, const Call &) { return ++increments != c.failing; };
        std::vector<bool> results;
        size_t offset = 0;
        for (size_t n : c.writes) results.push_back (write ((offset += n) - n, n));
        EXPECT_EQ (results, c.results);
        EXPECT_EQ (recorder ().trace (), c.trace);
        std::vector<guchar> got;
        for (const Call &call : recorder ().calls) got.insert (got.end (), call.bytes.begin (), call.bytes.end ());
        EXPECT_TRUE (std::equal (got.begin (), got.end (), bytes.begin ()));
        for (size_t i = 2, at = 128; i < recorder ().calls.size (); at += recorder ().calls[i++].bytes.size ())
            EXPECT_EQ (recorder ().calls[i].address, bytes.data () + at) << "nothing is copied after the header";
    }
}

// At close a short file is recognised if it can be, and a started module is stopped. A start
// that fails (failing: the entry the module fails) warns once: the whole text, or its start when
// it ends with ": ". Later writes are refused without reaching the module.
TEST_F (Protocol, StartAndClose)
{
    const struct { std::string prefix; size_t size; const char *failing; std::string warning; Trace trace; } cases[] = {
        {"GIF89a", 50, "", "", {"gif:begin_load", "gif:load_increment(50)", "gif:stop_load", "closed"}},
        {"GIF89a", 200, "", "", {"gif:begin_load", "gif:load_increment(128)", "gif:load_increment(72)", "gif:stop_load", "closed"}},
        {"\x89PNG\r\n\x1a\n", 10, "", "", {"closed"}},
        {"", 0, "", "", {"closed"}},
        {std::string ("II\x2a\x00", 4), 300, "", "Unable to load module: libtambaloader-tiff.so: ", {"closed"}},
        {"BM", 300, "", "module bmp does not support incremental loading.\n", {"closed"}},
        {"GIF89a", 300, "begin_load", "Failed to begin progressive load", {"gif:begin_load", "closed"}},
    };
    for (const auto &c : cases) {
        restart ();
        recorder ().failing.insert (c.failing);
        const std::vector<guchar> data = bytes_of (c.prefix, c.size);
        LogCapture log;
        for (size_t at = 0; at < data.size (); at += 128)
            EXPECT_EQ (tamba_loader_write (loader, data.data () + at, std::min<size_t> (128, data.size () - at)),
                       c.warning.empty ()) << c.prefix << " at " << at;
        tamba_loader_close (loader);
        EXPECT_EQ (recorder ().trace (), c.trace);
        const Trace warnings = log.warnings ();
        EXPECT_EQ (log.messages ().size (), warnings.size ());
        ASSERT_EQ (warnings.size (), c.warning.empty () ? 0u : 1u) << c.prefix;
        if (!c.warning.empty ()) {
            EXPECT_EQ (warnings[0].substr (0, c.warning.back () == ' ' ? c.warning.size () : std::string::npos), c.warning);
        }
    }
}

// Areas wider than the image are clamped to it, areas reaching past it are clipped, areas inside
// pass unchanged.
TEST_F (Protocol, UpdatesStayInsideTheImage)
{
    const struct { guint x, y, width, height; const char *reported; } areas[] = {
        {0, 0, 10, 5, "area_updated(0,0,10,5)"},   {2, 1, 3, 2, "area_updated(2,1,3,2)"},
        {0, 0, 20, 9, "area_updated(0,0,10,5)"},   {8, 1, 5, 2, "area_updated(8,1,2,2)"},
        {0, 4, 10, G_MAXUINT, "area_updated(0,4,10,1)"}, {12, 1, 3, 3, "area_updated(9,1,0,3)"},
        {G_MAXUINT, G_MAXUINT, 1, 1, "area_updated(9,4,0,0)"},
    };
    recorder ().on_increment = [&] (const Callbacks &cb, const Call &) {
        Tamba *image = prepare_image (cb, 10, 5);
        for (const auto &a : areas) cb.update (image, a.x, a.y, a.width, a.height, cb.user_data);
        return true;
    };
    EXPECT_TRUE (write (0, 128));
    Trace expected {"gif:begin_load", "gif:load_increment(128)", "area_prepared"};
    for (const auto &a : areas) expected.push_back (a.reported);
    EXPECT_EQ (recorder ().trace (), expected);
}

// Two frames become an animation that holds their images; the loader's references move to the
// frames and go away with the loader.
TEST_F (Protocol, FramesAssembleAnimation)
{
    ReleaseCounter counter;
    Tamba *first = nullptr, *seen_before_frame = nullptr;
    recorder ().on_increment = [&] (const Callbacks &cb, const Call &) {
        EXPECT_EQ (tamba_loader_get_tamba (loader), nullptr);
        counter.watch (first = prepare_image (cb, 4, 3));
        seen_before_frame = tamba_loader_get_tamba (loader);
        cb.update (first, 0, 0, 4, 3, cb.user_data);
        cb.frame_done (new_frame (first, 0, 0), cb.user_data);
        Tamba *second = prepare_image (cb, 2, 2);
        counter.watch (second);
        cb.frame_done (new_frame (second, 5, 1), cb.user_data);
        cb.animation_done (nullptr, cb.user_data);
        return true;
    };
    EXPECT_TRUE (write (0, 128));
    EXPECT_EQ (seen_before_frame, first);
    EXPECT_EQ (tamba_loader_get_tamba (loader), first);
    TambaAnimation *animation = tamba_loader_get_animation (loader);
    ASSERT_NE (animation, nullptr);
    EXPECT_EQ (animation->ref_count, 1);
    EXPECT_EQ (tamba_animation_get_num_frames (animation), 2);
    EXPECT_EQ (tamba_animation_get_width (animation), 7);
    EXPECT_EQ (tamba_animation_get_height (animation), 3);
    EXPECT_EQ (first->ref_count, 1);
    EXPECT_EQ (recorder ().trace (), (Trace {"gif:begin_load", "gif:load_increment(128)", "area_prepared",
                                             "area_updated(0,0,4,3)", "frame_done", "area_prepared", "frame_done",
                                             "animation_done"}));
    tamba_loader_close (loader);
    EXPECT_EQ (counter.released, 0);
    g_object_unref (std::exchange (loader, nullptr));
    EXPECT_EQ (counter.released, 2);
}

// Releasing a loader mid-load stops the module, which may still finish a frame, emits
// "closed", then drops the animation and its images.
TEST_F (Protocol, ReleasingUnclosedLoaderStopsModule)
{
    ReleaseCounter counter;
    Tamba *image = nullptr;
    recorder ().on_increment = [&] (const Callbacks &cb, const Call &) {
        counter.watch (image = prepare_image (cb, 2, 2));
        return true;
    };
    recorder ().on_stop = [&] (const Callbacks &cb) { cb.frame_done (new_frame (image, 0, 0), cb.user_data); };
    EXPECT_TRUE (write (0, 128));
    g_object_unref (std::exchange (loader, nullptr));
    EXPECT_EQ (recorder ().trace (), (Trace {"gif:begin_load", "gif:load_increment(128)", "area_prepared",
                                             "gif:stop_load", "frame_done", "closed"}));
    EXPECT_EQ (counter.released, 1);
}

// A module that calls back after it was stopped changes nothing, whether its loader is merely
// closed or already gone; what it hands over stays its own.
TEST_F (Protocol, CallbacksAfterStopAreRefused)
{
    EXPECT_TRUE (write (0, 128));
    const Callbacks cb = recorder ().last;
    Tamba *image = filled_image (2, 2, 1);
    TambaFrame *frame = new_frame (image, 0, 0);
    const auto call_all = [&] {
        cb.prepare (image, cb.user_data);
        cb.update (image, 0, 0, 1, 1, cb.user_data);
        cb.frame_done (frame, cb.user_data);
        cb.animation_done (image, cb.user_data);
    };
    tamba_loader_close (loader);
    const Trace before = recorder ().trace ();
    LogCapture log;
    call_all ();
    EXPECT_EQ (log.criticals (), Trace (4, "priv->closed == FALSE"));
    EXPECT_EQ (tamba_loader_get_tamba (loader), nullptr);
    EXPECT_EQ (tamba_loader_get_animation (loader), nullptr);
    g_object_unref (std::exchange (loader, nullptr));
    log.clear ();
    call_all ();
    EXPECT_EQ (log.criticals (), Trace (4, "GDK_IS_TAMBA_LOADER (loader)"));
    EXPECT_EQ (recorder ().trace (), before);
    EXPECT_EQ (image->ref_count, 1);
    g_free (frame);
    tamba_unref (image);
}

// A handler that closes the loader in the middle of a write: the module is stopped once and
// gets no more bytes.
TEST_F (Protocol, HandlerClosesLoaderDuringWrite)
{
    recorder ().on_increment = [] (const Callbacks &cb, const Call &call) {
        if (call.bytes.size () == 128) prepare_image (cb, 2, 2);
        return true;
    };
    g_signal_connect (loader, "area_prepared", G_CALLBACK (tamba_loader_close), nullptr);
    EXPECT_FALSE (write (0, 200));
    EXPECT_EQ (recorder ().trace (),
               (Trace {"gif:begin_load", "gif:load_increment(128)", "area_prepared", "gif:stop_load", "closed"}));
}

// A second image before the first became a frame is the module's bug: the process ends.
TEST_F (Protocol, SecondImageBeforeFrameIsFatal)
{
    recorder ().on_increment = [] (const Callbacks &cb, const Call &) {
        prepare_image (cb, 2, 2);
        prepare_image (cb, 2, 2);
        return true;
    };
    EXPECT_DEATH (write (0, 128), "assertion failed: \\(priv->tamba == NULL\\)");
}

}  // namespace
}  // namespace tamba::test
