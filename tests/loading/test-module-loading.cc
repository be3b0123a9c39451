// SPDX-License-Identifier: LGPL-2.1-or-later
// The library against test modules: where modules are found, whole-file, animation and XPM-data
// loading, and the progressive loader: what the module receives and when, what the loader makes
// of its callbacks, and how it survives modules that break the protocol.
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

class WholeFile : public Protocol {};  // the same fresh recorder; the loader goes unused

// The module directory comes first; a module found only by the library search loads as
// quietly. The module reads the file from its first byte; XPM data reaches its own entry.
TEST_F (WholeFile, LoadsFromTheRightPlace)
{
    // origin 1: the module directory, 2: the library search.
    const struct { std::string prefix, module; int origin; } cases[] = {
        {"P6", "pnm", 1}, {std::string ("\x59\xa6\x6a\x95", 4), "ras", 2}, {"GIF89a", "gif", 2}};
    for (const auto &c : cases) {
        recorder ().reset ();
        const std::vector<guchar> bytes = bytes_of (c.prefix, 200);
        TempFile file (bytes);
        LogCapture log;
        Tamba *image = tamba_new_from_file (file.path ());
        ASSERT_NE (image, nullptr);
        EXPECT_EQ (image->pixels[0], c.origin);
        tamba_unref (image);
        EXPECT_TRUE (log.messages ().empty ());
        ASSERT_EQ (recorder ().trace (), Trace {c.module + ":load"});
        EXPECT_EQ (recorder ().calls[0].origin, c.origin);
        EXPECT_EQ (recorder ().calls[0].bytes, std::vector<guchar> (bytes.begin (), bytes.begin () + 16));
    }
    recorder ().reset ();
    const char *xpm[] = {"2 2 1 1", "  c None", "  ", "  ", nullptr};
    LogCapture log;
    tamba_unref (tamba_new_from_xpm_data (xpm));
    EXPECT_TRUE (log.messages ().empty ());
    ASSERT_EQ (recorder ().trace (), Trace {"xpm:load_xpm_data"});
    EXPECT_EQ (std::string (recorder ().calls[0].bytes.begin (), recorder ().calls[0].bytes.end ()), xpm[0]);
}

// Quiet failures: the module fails, or lacks the entry; a missing module is reported by the
// module search, again at every attempt.
TEST_F (WholeFile, FailuresReturnNull)
{
    TempFile gif (bytes_of ("GIF89a", 64)), png (bytes_of ("\x89PNG\r\n\x1a\n", 64));
    TempFile tiff (bytes_of (std::string ("MM\x00\x2a", 4), 64));
    recorder ().failing.insert ("load");
    LogCapture log;
    EXPECT_EQ (tamba_new_from_file (gif.path ()), nullptr);
    EXPECT_EQ (tamba_new_from_file (png.path ()), nullptr);
    EXPECT_TRUE (log.messages ().empty ());
    EXPECT_EQ (tamba_new_from_file (tiff.path ()), nullptr);
    EXPECT_EQ (tamba_animation_new_from_file (tiff.path ()), nullptr);
    const Trace warnings = log.warnings ();
    ASSERT_EQ (warnings.size (), 2u);
    for (const std::string &w : warnings)
        EXPECT_EQ (w.rfind ("Unable to load module: libtambaloader-tiff.so: ", 0), 0u) << w;
    EXPECT_EQ (recorder ().trace (), Trace {"gif:load"});
}

// A module without an animation entry (gif): the still image becomes one frame that holds the
// image's only reference, released with the animation's last reference. A module's animation
// entry (ico) is used even for still images, its frames read back as made, and a NULL from it is
// final.
TEST_F (WholeFile, Animations)
{
    TempFile gif (bytes_of ("GIF89a", 64)), ico (bytes_of (std::string ("\x00\x00\x01\x00\x01\x00", 6), 64));
    TambaAnimation *animation = tamba_animation_new_from_file (gif.path ());
    ASSERT_NE (animation, nullptr);
    ASSERT_EQ (tamba_animation_get_num_frames (animation), 1);
    auto *frame = static_cast<TambaFrame *> (tamba_animation_get_frames (animation)->data);
    Tamba *image = tamba_frame_get_tamba (frame);
    EXPECT_EQ (tamba_frame_get_x_offset (frame), 0);
    EXPECT_EQ (tamba_frame_get_y_offset (frame), 0);
    EXPECT_EQ (tamba_frame_get_delay_time (frame), -1);
    EXPECT_EQ (tamba_frame_get_action (frame), TAMBA_FRAME_RETAIN);
    EXPECT_EQ (tamba_animation_get_width (animation), tamba_get_width (image));
    EXPECT_EQ (tamba_animation_get_height (animation), tamba_get_height (image));
    ReleaseCounter counter;
    counter.watch (image);
    EXPECT_EQ (tamba_animation_ref (animation), animation);
    tamba_animation_unref (animation);
    EXPECT_EQ (counter.released, 0);
    tamba_animation_unref (animation);
    EXPECT_EQ (counter.released, 1);

    animation = tamba_animation_new_from_file (ico.path ());
    ASSERT_NE (animation, nullptr);
    EXPECT_EQ (tamba_animation_get_num_frames (animation), 2);
    EXPECT_EQ (tamba_animation_get_width (animation), 7);
    EXPECT_EQ (tamba_animation_get_height (animation), 3);
    frame = static_cast<TambaFrame *> (g_list_last (tamba_animation_get_frames (animation))->data);
    EXPECT_EQ (tamba_get_width (tamba_frame_get_tamba (frame)), 2);
    EXPECT_EQ (tamba_frame_get_x_offset (frame), 5);
    EXPECT_EQ (tamba_frame_get_y_offset (frame), 1);
    EXPECT_EQ (tamba_frame_get_delay_time (frame), 20);
    EXPECT_EQ (tamba_frame_get_action (frame), TAMBA_FRAME_DISPOSE);
    tamba_animation_unref (animation);
    recorder ().failing.insert ("load_animation");
    EXPECT_EQ (tamba_animation_new_from_file (ico.path ()), nullptr);
    EXPECT_EQ (recorder ().trace (), (Trace {"gif:load", "ico:load_animation", "ico:load_animation"}));
}

// The module gets the 128 header bytes in one call, then the rest of the write that completed
// them, then each later write unchanged, read from the caller's buffer; the write reports the
// module's answer. failing: the increment (from 1) that fails, 0 none.
TEST_F (Protocol, HeaderBufferedThenHandedOver)
{
    const struct { std::vector<size_t> writes; int failing; std::vector<bool> results; Trace trace; } cases[] = {
        {{100, 100}, 0, {true, true}, {"gif:begin_load", "gif:load_increment(128)", "gif:load_increment(72)"}},
        {{100, 100}, 2, {true, false}, {"gif:begin_load", "gif:load_increment(128)", "gif:load_increment(72)"}},
        {{100, 100}, 1, {true, false}, {"gif:begin_load", "gif:load_increment(128)"}},
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
        for (size_t n : c.writes) results.push_back (write (offset, n)), offset += n;
        EXPECT_EQ (results, c.results);
        EXPECT_EQ (recorder ().trace (), c.trace);
        std::vector<guchar> got;
        for (const Call &call : recorder ().calls) got.insert (got.end (), call.bytes.begin (), call.bytes.end ());
        EXPECT_TRUE (std::equal (got.begin (), got.end (), bytes.begin ()));
        for (size_t i = 2, at = 128; i < recorder ().calls.size (); at += recorder ().calls[i++].bytes.size ())
            EXPECT_EQ (recorder ().calls[i].address, bytes.data () + at) << "nothing is copied after the header";
    }
}

// At close a short file is recognised if it can be, and a started module is stopped. Once the
// header is full, data no format claims is refused quietly; a start that fails (failing: the
// entry the module fails) warns once, with the module search's reason after a text ending in
// ": ". Refused data never reaches a module.
TEST_F (Protocol, StartAndClose)
{
    const struct { std::string prefix; size_t size; const char *failing; bool refused; std::string warning; Trace trace; } cases[] = {
        {"GIF89a", 50, "", false, "", {"gif:begin_load", "gif:load_increment(50)", "gif:stop_load", "closed"}},
        {"GIF89a", 200, "", false, "", {"gif:begin_load", "gif:load_increment(128)", "gif:load_increment(72)", "gif:stop_load", "closed"}},
        {"\x89PNG\r\n\x1a\n", 10, "", false, "", {"closed"}},
        {"", 0, "", false, "", {"closed"}},
        {"", 300, "", true, "", {"closed"}},
        {std::string ("II\x2a\x00", 4), 300, "", true, "Unable to load module: libtambaloader-tiff.so: ", {"closed"}},
        {"BM", 300, "", true, "module bmp does not support incremental loading.\n", {"closed"}},
        {"GIF89a", 300, "begin_load", true, "Failed to begin progressive load", {"gif:begin_load", "closed"}},
    };
    for (const auto &c : cases) {
        restart ();
        recorder ().failing.insert (c.failing);
        const std::vector<guchar> data = bytes_of (c.prefix, c.size);
        LogCapture log;
        for (size_t at = 0; at < data.size (); at += 128)
            EXPECT_EQ (tamba_loader_write (loader, data.data () + at, std::min<size_t> (128, data.size () - at)),
                       !c.refused) << c.prefix << " at " << at;
        tamba_loader_close (loader);
        EXPECT_EQ (recorder ().trace (), c.trace);
        const Trace w = log.warnings ();
        EXPECT_EQ (log.messages ().size (), w.size ());
        ASSERT_EQ (w.size (), c.warning.empty () ? 0u : 1u) << c.prefix;
        EXPECT_EQ (w.empty () ? std::string () : w[0].substr (0, c.warning.size ()), c.warning);
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
