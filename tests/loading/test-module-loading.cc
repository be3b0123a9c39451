// SPDX-License-Identifier: LGPL-2.1-or-later
// Whole-file, animation and XPM-data loading through test modules, and where modules are found.
#include <gtest/gtest.h>

#include "loading-test.h"
#include "log-capture.h"
#include "recorder.h"

namespace tamba::test {
namespace {

using Trace = std::vector<std::string>;

class WholeFile : public ::testing::Test {
protected:
    void SetUp () override { recorder ().reset (); }
    void TearDown () override { recorder ().reset (); }
};

// The module directory comes first; a module found only by the library search loads as
// quietly. The module reads the file from its first byte; XPM data reaches its own entry.
TEST_F (WholeFile, LoadsFromTheRightPlace)
{
    // origin 1: the module directory, 2: the library search.
    const struct { std::string prefix; int origin; } cases[] = {{"P6", 1}, {std::string ("\x59\xa6\x6a\x95", 4), 2}, {"GIF89a", 2}};
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
        ASSERT_EQ (recorder ().calls.size (), 1u);
        EXPECT_EQ (recorder ().calls[0].entry, "load");
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

// A module without an animation entry: the still image becomes one frame that holds the
// image's only reference, released with the animation's last reference.
TEST_F (WholeFile, StillImageAsAnimation)
{
    TempFile file (bytes_of ("GIF89a", 64));
    TambaAnimation *animation = tamba_animation_new_from_file (file.path ());
    ASSERT_NE (animation, nullptr);
    EXPECT_EQ (animation->ref_count, 1);
    ASSERT_EQ (tamba_animation_get_num_frames (animation), 1);
    auto *frame = static_cast<TambaFrame *> (tamba_animation_get_frames (animation)->data);
    Tamba *image = tamba_frame_get_tamba (frame);
    EXPECT_EQ (tamba_frame_get_x_offset (frame), 0);
    EXPECT_EQ (tamba_frame_get_y_offset (frame), 0);
    EXPECT_EQ (tamba_frame_get_delay_time (frame), -1);
    EXPECT_EQ (tamba_frame_get_action (frame), TAMBA_FRAME_RETAIN);
    EXPECT_EQ (tamba_animation_get_width (animation), tamba_get_width (image));
    EXPECT_EQ (tamba_animation_get_height (animation), tamba_get_height (image));
    EXPECT_EQ (image->ref_count, 1);
    ReleaseCounter counter;
    counter.watch (image);
    EXPECT_EQ (tamba_animation_ref (animation), animation);
    tamba_animation_unref (animation);
    EXPECT_EQ (counter.released, 0);
    tamba_animation_unref (animation);
    EXPECT_EQ (counter.released, 1);
}

// A module's animation entry is used even for still images, its frames read back as made, and a
// NULL from it is final.
TEST_F (WholeFile, AnimationEntryIsFinal)
{
    TempFile file (bytes_of (std::string ("\x00\x00\x01\x00\x01\x00", 6), 64));
    TambaAnimation *animation = tamba_animation_new_from_file (file.path ());
    ASSERT_NE (animation, nullptr);
    EXPECT_EQ (tamba_animation_get_num_frames (animation), 2);
    EXPECT_EQ (tamba_animation_get_width (animation), 7);
    EXPECT_EQ (tamba_animation_get_height (animation), 3);
    auto *last = static_cast<TambaFrame *> (g_list_last (tamba_animation_get_frames (animation))->data);
    EXPECT_EQ (tamba_get_width (tamba_frame_get_tamba (last)), 2);
    EXPECT_EQ (tamba_frame_get_x_offset (last), 5);
    EXPECT_EQ (tamba_frame_get_y_offset (last), 1);
    EXPECT_EQ (tamba_frame_get_delay_time (last), 20);
    EXPECT_EQ (tamba_frame_get_action (last), TAMBA_FRAME_DISPOSE);
    tamba_animation_unref (animation);
    recorder ().failing.insert ("load_animation");
    EXPECT_EQ (tamba_animation_new_from_file (file.path ()), nullptr);
    EXPECT_EQ (recorder ().trace (), (Trace {"ico:load_animation", "ico:load_animation"}));
}

}  // namespace
}  // namespace tamba::test
