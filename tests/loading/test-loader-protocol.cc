// SPDX-License-Identifier: LGPL-2.1-or-later
// The progressive loader against test modules: what the module receives and when, what the
// loader makes of its callbacks, and how it survives modules that break the protocol.
#include <gtest/gtest.h>

#include "loading-test.h"
#include "log-capture.h"
#include "recorder.h"
#include "tamba-loading.h"

namespace {

using tamba::test::bytes_of;
using tamba::test::Callbacks;
using tamba::test::LogCapture;
using tamba::test::recorder;
using Trace = std::vector<std::string>;

// What a module does with an image it made: hand it to prepare and drop its own reference, so
// the loader's is the only one.
Tamba *prepare_image (const Callbacks &cb, int width, int height)
{
    Tamba *image = tamba::test::filled_image (width, height, 7);
    cb.prepare (image, cb.user_data);
    tamba_unref (image);
    return image;
}

TambaFrame *new_frame (Tamba *image, int x_offset, int y_offset)
{
    auto *frame = static_cast<TambaFrame *> (g_malloc0 (sizeof (TambaFrame)));
    *frame = {image, x_offset, y_offset, 5, TAMBA_FRAME_DISPOSE};
    return frame;
}

class Protocol : public ::testing::Test {
protected:
    void SetUp () override { restart (); }
    void TearDown () override
    {
        if (loader) g_object_unref (loader);
        recorder ().reset ();
    }
    // A fresh loader and recorder, for each case of a table.
    void restart ()
    {
        if (loader) g_object_unref (loader);
        recorder ().reset ();
        loader = new_loader ();
    }
    TambaLoader *new_loader ()
    {
        TambaLoader *l = tamba_loader_new ();
        tamba::test::note_signals (l, &note);
        return l;
    }
    bool write (const std::vector<guchar> &bytes, size_t from, size_t count)
    {
        return tamba_loader_write (loader, bytes.data () + from, count);
    }
    // Everything the module received, in order.
    static std::vector<guchar> received ()
    {
        std::vector<guchar> out;
        for (const auto &c : recorder ().calls) out.insert (out.end (), c.bytes.begin (), c.bytes.end ());
        return out;
    }

    std::function<void (std::string)> note = [] (std::string s) { recorder ().note (std::move (s)); };
    TambaLoader *loader = nullptr;
};

// The module gets the 128 header bytes in one call, then the rest of the write that completed
// them, then each later write unchanged; the write reports the module's answer.
TEST_F (Protocol, HeaderBufferedThenHandedOver)
{
    const struct {
        std::vector<size_t> writes;
        int failing_increment;  // 1-based; 0: none fails
        std::vector<bool> results;
        Trace trace;
    } cases[] = {
        {{100, 100}, 0, {true, true}, {"gif:begin_load", "gif:load_increment(128)", "gif:load_increment(72)"}},
        {{100, 100}, 2, {true, false}, {"gif:begin_load", "gif:load_increment(128)", "gif:load_increment(72)"}},
        {{100, 100}, 1, {true, false}, {"gif:begin_load", "gif:load_increment(128)"}},
        {{128}, 0, {true}, {"gif:begin_load", "gif:load_increment(128)"}},
        {{128}, 1, {false}, {"gif:begin_load", "gif:load_increment(128)"}},
        {{128, 0}, 0, {true, true}, {"gif:begin_load", "gif:load_increment(128)"}},
        {{0}, 0, {false}, {}},
        {{1, 127, 5, 3}, 0, {true, true, true, true},
         {"gif:begin_load", "gif:load_increment(128)", "gif:load_increment(5)", "gif:load_increment(3)"}},
    };
    const std::vector<guchar> bytes = bytes_of ("GIF89a", 1000);
    for (const auto &c : cases) {
        restart ();
        int increments = 0;
        recorder ().on_increment = [&] (const Callbacks &, const tamba::test::Call &) {
            return ++increments != c.failing_increment;
        };
        std::vector<bool> results;
        size_t offset = 0;
        for (size_t n : c.writes) {
            results.push_back (write (bytes, offset, n));
            offset += n;
        }
        EXPECT_EQ (results, c.results);
        EXPECT_EQ (recorder ().trace (), c.trace);
        const std::vector<guchar> got = received ();
        EXPECT_TRUE (std::equal (got.begin (), got.end (), bytes.begin ()));
    }
}

// After the header the module reads the caller's own buffer: nothing is copied.
TEST_F (Protocol, EveryByteReachesTheModuleInOrder)
{
    const std::vector<guchar> bytes = bytes_of ("GIF89a", 1000);
    for (size_t piece : {1, 13, 127, 128, 129, 1000}) {
        restart ();
        for (size_t offset = 0; offset < bytes.size (); offset += piece)
            ASSERT_TRUE (write (bytes, offset, std::min (piece, bytes.size () - offset)));
        EXPECT_EQ (received (), bytes);
        ASSERT_GE (recorder ().calls.size (), 2u);
        EXPECT_EQ (recorder ().calls[1].bytes.size (), 128u);
        size_t offset = 128;
        for (size_t i = 2; i < recorder ().calls.size (); i++) {
            EXPECT_EQ (recorder ().calls[i].address, bytes.data () + offset) << "pieces of " << piece;
            offset += recorder ().calls[i].bytes.size ();
        }
    }
}

// A short file is recognised at close if it can be; the module is stopped only if started.
TEST_F (Protocol, CloseStartsStopsAndEmitsClosed)
{
    const struct {
        std::string prefix;
        size_t size;
        Trace trace;
    } cases[] = {
        {"GIF89a", 50, {"gif:begin_load", "gif:load_increment(50)", "gif:stop_load", "closed"}},
        {"\x89PNG\r\n\x1a\n", 10, {"closed"}},
        {"", 0, {"closed"}},
        {"GIF89a", 200, {"gif:begin_load", "gif:load_increment(128)", "gif:load_increment(72)", "gif:stop_load", "closed"}},
    };
    for (const auto &c : cases) {
        restart ();
        const std::vector<guchar> bytes = bytes_of (c.prefix, c.size);
        LogCapture log;
        if (!bytes.empty ()) {
            EXPECT_TRUE (write (bytes, 0, bytes.size ()));
        }
        tamba_loader_close (loader);
        EXPECT_EQ (recorder ().trace (), c.trace);
        EXPECT_TRUE (log.messages ().empty ());
    }
}

// One warning for the failed start; later writes are refused without reaching the module, and
// close does not stop a module that never started.
TEST_F (Protocol, FailedStartRefusesLaterWrites)
{
    const struct {
        std::string prefix;
        const char *failing;  // entry the module fails, or ""
        std::string warning;  // the whole text, or its start when it ends with ": "
        Trace trace;
    } cases[] = {
        {std::string ("II\x2a\x00", 4), "", "Unable to load module: libtambaloader-tiff.so: ", {"closed"}},
        {"BM", "", "module bmp does not support incremental loading.\n", {"closed"}},
        {"GIF89a", "begin_load", "Failed to begin progressive load", {"gif:begin_load", "closed"}},
    };
    for (const auto &c : cases) {
        restart ();
        if (*c.failing) recorder ().failing.insert (c.failing);
        const std::vector<guchar> bytes = bytes_of (c.prefix, 300);
        LogCapture log;
        EXPECT_FALSE (write (bytes, 0, 128));
        EXPECT_FALSE (write (bytes, 128, 100));
        EXPECT_FALSE (write (bytes, 228, 72));
        tamba_loader_close (loader);
        ASSERT_EQ (log.messages ().size (), 1u);
        ASSERT_EQ (log.warnings ().size (), 1u);
        EXPECT_EQ (log.warnings ()[0].substr (0, c.warning.back () == ' ' ? c.warning.size () : std::string::npos), c.warning);
        EXPECT_EQ (recorder ().trace (), c.trace);
    }
}

// Areas wider than the image are clamped to it, areas reaching past it are clipped, areas inside
// pass unchanged.
TEST_F (Protocol, UpdatesStayInsideTheImage)
{
    struct Area {
        guint x, y, width, height;
        const char *reported;
    };
    const Area areas[] = {
        {0, 0, 10, 5, "area_updated(0,0,10,5)"},   {2, 1, 3, 2, "area_updated(2,1,3,2)"},
        {0, 0, 20, 9, "area_updated(0,0,10,5)"},   {8, 1, 5, 2, "area_updated(8,1,2,2)"},
        {0, 4, 10, G_MAXUINT, "area_updated(0,4,10,1)"},
        {12, 1, 3, 3, "area_updated(9,1,0,3)"},
        {G_MAXUINT, G_MAXUINT, 1, 1, "area_updated(9,4,0,0)"},
    };
    recorder ().on_increment = [&] (const Callbacks &cb, const tamba::test::Call &) {
        Tamba *image = prepare_image (cb, 10, 5);
        for (const Area &a : areas) cb.update (image, a.x, a.y, a.width, a.height, cb.user_data);
        return true;
    };
    const std::vector<guchar> bytes = bytes_of ("GIF89a", 128);
    EXPECT_TRUE (write (bytes, 0, bytes.size ()));
    Trace expected {"gif:begin_load", "gif:load_increment(128)", "area_prepared"};
    for (const Area &a : areas) expected.push_back (a.reported);
    EXPECT_EQ (recorder ().trace (), expected);
}

// Two frames become an animation that holds their images; the loader's references move to the
// frames and go away with the loader.
TEST_F (Protocol, FramesAssembleAnimation)
{
    tamba::test::ReleaseCounter counter;
    Tamba *first = nullptr;
    Tamba *seen_before_frame = nullptr;
    recorder ().on_increment = [&] (const Callbacks &cb, const tamba::test::Call &call) {
        if (call.bytes.size () != 128) return true;
        EXPECT_EQ (tamba_loader_get_tamba (loader), nullptr);
        first = prepare_image (cb, 4, 3);
        counter.watch (first);
        seen_before_frame = tamba_loader_get_tamba (loader);
        cb.update (first, 0, 0, 4, 3, cb.user_data);
        cb.frame_done (new_frame (first, 0, 0), cb.user_data);
        Tamba *second = prepare_image (cb, 2, 2);
        counter.watch (second);
        cb.frame_done (new_frame (second, 5, 1), cb.user_data);
        cb.animation_done (nullptr, cb.user_data);
        return true;
    };
    const std::vector<guchar> bytes = bytes_of ("GIF89a", 128);
    EXPECT_TRUE (write (bytes, 0, bytes.size ()));

    EXPECT_EQ (seen_before_frame, first);
    EXPECT_EQ (tamba_loader_get_tamba (loader), first);
    TambaAnimation *animation = tamba_loader_get_animation (loader);
    ASSERT_NE (animation, nullptr);
    EXPECT_EQ (animation->ref_count, 1);
    EXPECT_EQ (tamba_animation_get_num_frames (animation), 2);
    EXPECT_EQ (tamba_animation_get_width (animation), 7);
    EXPECT_EQ (tamba_animation_get_height (animation), 3);
    EXPECT_EQ (first->ref_count, 1);
    EXPECT_EQ (recorder ().trace (),
               (Trace {"gif:begin_load", "gif:load_increment(128)", "area_prepared",
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
    tamba::test::ReleaseCounter counter;
    Tamba *image = nullptr;
    recorder ().on_increment = [&] (const Callbacks &cb, const tamba::test::Call &) {
        image = prepare_image (cb, 2, 2);
        counter.watch (image);
        return true;
    };
    recorder ().on_stop = [&] (const Callbacks &cb) {
        cb.frame_done (new_frame (image, 0, 0), cb.user_data);
    };
    const std::vector<guchar> bytes = bytes_of ("GIF89a", 128);
    EXPECT_TRUE (write (bytes, 0, bytes.size ()));
    g_object_unref (std::exchange (loader, nullptr));
    EXPECT_EQ (recorder ().trace (),
               (Trace {"gif:begin_load", "gif:load_increment(128)", "area_prepared",
                       "gif:stop_load", "frame_done", "closed"}));
    EXPECT_EQ (counter.released, 1);
}

// A module that calls back after it was stopped changes nothing, whether its loader is merely
// closed or already gone; what it hands over stays its own.
TEST_F (Protocol, CallbacksAfterStopAreRefused)
{
    const std::vector<guchar> bytes = bytes_of ("GIF89a", 128);
    EXPECT_TRUE (write (bytes, 0, bytes.size ()));
    const Callbacks cb = recorder ().last;
    Tamba *image = tamba::test::filled_image (2, 2, 1);
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
    recorder ().on_increment = [] (const Callbacks &cb, const tamba::test::Call &call) {
        if (call.bytes.size () == 128) prepare_image (cb, 2, 2);
        return true;
    };
    g_signal_connect (loader, "area_prepared", G_CALLBACK (tamba_loader_close), nullptr);
    const std::vector<guchar> bytes = bytes_of ("GIF89a", 200);
    EXPECT_FALSE (write (bytes, 0, bytes.size ()));
    EXPECT_EQ (recorder ().trace (),
               (Trace {"gif:begin_load", "gif:load_increment(128)", "area_prepared",
                       "gif:stop_load", "closed"}));
}

// A second image before the first became a frame is the module's bug: the process ends.
TEST (ProtocolDeathTest, SecondImageBeforeFrameIsFatal)
{
    recorder ().reset ();
    recorder ().on_increment = [] (const Callbacks &cb, const tamba::test::Call &) {
        prepare_image (cb, 2, 2);
        prepare_image (cb, 2, 2);
        return true;
    };
    const std::vector<guchar> bytes = bytes_of ("GIF89a", 128);
    EXPECT_DEATH (
        {
            TambaLoader *loader = tamba_loader_new ();
            tamba_loader_write (loader, bytes.data (), bytes.size ());
        },
        "assertion failed: \\(priv->tamba == NULL\\)");
    recorder ().reset ();
}

}  // namespace
