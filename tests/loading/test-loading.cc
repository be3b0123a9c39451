// SPDX-License-Identifier: LGPL-2.1-or-later
// The format table, whole-file loading up to the point where a module would be opened,
// animation records, and the progressive loader's checks. No module is opened here.
#include <gtest/gtest.h>

#include "loading-test.h"
#include "log-capture.h"
#include "tamba-loading.h"

namespace {

using tamba::test::bytes_of;
using tamba::test::LogCapture;
using tamba::test::TempFile;

struct SignatureCase : tamba::test::NamedCase {
    std::string prefix;
    size_t size;
    const char *format;  // nullptr: no match
};

const std::string kPng ("\x89PNG\r\n\x1a\n", 8);

class Signatures : public ::testing::TestWithParam<SignatureCase> {};

TEST_P (Signatures, RecogniseFormat)
{
    const SignatureCase &c = GetParam ();
    std::vector<guchar> bytes = bytes_of (c.prefix, c.size);
    LogCapture log;
    TambaModule *m = tamba_get_module (bytes.data (), guint (bytes.size ()));
    if (c.format) {
        ASSERT_NE (m, nullptr);
        EXPECT_STREQ (m->module_name, c.format);
        EXPECT_EQ (m->module, nullptr);  // recognising opens nothing
    } else {
        EXPECT_EQ (m, nullptr) << m->module_name;
    }
    EXPECT_TRUE (log.messages ().empty ());
}

INSTANTIATE_TEST_SUITE_P (
    Table, Signatures,
    ::testing::Values (
        SignatureCase {"png", kPng, 28, "png"}, SignatureCase {"png_short", kPng, 27, nullptr},
        SignatureCase {"jpeg", "\xff\xd8", 10, "jpeg"},
        SignatureCase {"jpeg_short", "\xff\xd8", 9, nullptr},
        SignatureCase {"tiff_intel", std::string ("II\x2a\x00", 4), 10, "tiff"},
        SignatureCase {"tiff_intel_short", std::string ("II\x2a\x00", 4), 9, nullptr},
        SignatureCase {"tiff_motorola", std::string ("MM\x00\x2a", 4), 10, "tiff"},
        SignatureCase {"gif87a", "GIF87a", 20, "gif"},
        SignatureCase {"gif_short", "GIF89a", 19, nullptr},
        SignatureCase {"xpm", "/* XPM */", 20, "xpm"},
        SignatureCase {"pnm_p6", "P6", 20, "pnm"}, SignatureCase {"pnm_p1", "P1", 20, "pnm"},
        SignatureCase {"pnm_p7", "P7", 20, nullptr}, SignatureCase {"pnm_short", "P6", 19, nullptr},
        SignatureCase {"ras", "\x59\xa6\x6a\x95", 32, "ras"},
        SignatureCase {"ras_short", "\x59\xa6\x6a\x95", 31, nullptr},
        SignatureCase {"ico", std::string ("\x00\x00\x01\x00\x07\x00", 6), 6, "ico"},
        SignatureCase {"cursor", std::string ("\x00\x00\x02\x00\xff\x00", 6), 6, "ico"},
        SignatureCase {"ico_byte5", std::string ("\x00\x00\x01\x00\x07\x01", 6), 6, nullptr},
        SignatureCase {"ico_type3", std::string ("\x00\x00\x03\x00\x07\x00", 6), 6, nullptr},
        SignatureCase {"ico_short", std::string ("\x00\x00\x01\x00\x07", 5), 5, nullptr},
        SignatureCase {"bmp", "BM", 20, "bmp"}, SignatureCase {"bmp_short", "BM", 19, nullptr},
        SignatureCase {"xbm", "#define ", 20, "xbm"},
        SignatureCase {"xbm_tab", "#define\t", 20, nullptr},
        SignatureCase {"nothing", "", 128, nullptr}),
    tamba::test::CaseName ());

// A size past the signed range is still "enough bytes", not a negative count.
TEST (Signatures, HugeSizeStillMatches)
{
    std::vector<guchar> bytes = bytes_of ("BM", 32);
    TambaModule *m = tamba_get_module (bytes.data (), G_MAXUINT);
    ASSERT_NE (m, nullptr);
    EXPECT_STREQ (m->module_name, "bmp");
}

// Failures before a module is needed: which ones are quiet and which warn.
struct FileCase : tamba::test::NamedCase {
    bool exists;
    std::vector<guchar> bytes;
    bool warns;
};

class FileFailures : public ::testing::TestWithParam<FileCase> {};

TEST_P (FileFailures, ReturnNull)
{
    const FileCase &c = GetParam ();
    TempFile file (c.bytes);
    const std::string path = c.exists ? file.path () : std::string (file.path ()) + ".missing";
    const std::vector<std::string> expected =
        c.warns ? std::vector<std::string> {"Unable to find handler for file: " + path}
                : std::vector<std::string> {};
    LogCapture log;
    EXPECT_EQ (tamba_new_from_file (path.c_str ()), nullptr);
    EXPECT_EQ (log.warnings (), expected);
    EXPECT_EQ (log.messages ().size (), expected.size ());
    log.clear ();
    EXPECT_EQ (tamba_animation_new_from_file (path.c_str ()), nullptr);
    EXPECT_EQ (log.warnings (), expected);
}

INSTANTIATE_TEST_SUITE_P (
    Table, FileFailures,
    ::testing::Values (FileCase {"missing", false, {}, false}, FileCase {"empty", true, {}, false},
                       FileCase {"unknown", true, bytes_of ("hello", 300), true},
                       FileCase {"png_too_short", true, bytes_of (kPng, 27), true}),
    tamba::test::CaseName ());

TEST (Preconditions, NullArguments)
{
    LogCapture log;
    EXPECT_EQ (tamba_new_from_file (nullptr), nullptr);
    EXPECT_EQ (tamba_animation_new_from_file (nullptr), nullptr);
    EXPECT_EQ (tamba_animation_ref (nullptr), nullptr);
    tamba_animation_unref (nullptr);
    EXPECT_EQ (tamba_animation_get_width (nullptr), -1);
    EXPECT_EQ (tamba_animation_get_height (nullptr), -1);
    EXPECT_EQ (tamba_animation_get_num_frames (nullptr), -1);
    EXPECT_EQ (tamba_animation_get_frames (nullptr), nullptr);
    EXPECT_EQ (tamba_frame_get_tamba (nullptr), nullptr);
    EXPECT_EQ (tamba_frame_get_x_offset (nullptr), -1);
    EXPECT_EQ (tamba_frame_get_y_offset (nullptr), -1);
    EXPECT_EQ (tamba_frame_get_delay_time (nullptr), -1);
    EXPECT_EQ (tamba_frame_get_action (nullptr), TAMBA_FRAME_RETAIN);
    tamba_load_module (nullptr);
    EXPECT_EQ (log.criticals (),
               (std::vector<std::string> {"filename != NULL", "filename != NULL",
                                          "animation != NULL", "animation != NULL",
                                          "animation != NULL", "animation != NULL",
                                          "animation != NULL", "animation != NULL",
                                          "frame != NULL", "frame != NULL", "frame != NULL",
                                          "frame != NULL", "frame != NULL",
                                          "image_module != NULL"}));
    EXPECT_EQ (log.messages ().size (), log.criticals ().size ());
}

TEST (Preconditions, OpenedModuleIsRefused)
{
    TambaModule record {};
    record.module_name = const_cast<char *> ("png");
    record.module = reinterpret_cast<GModule *> (&record);
    LogCapture log;
    tamba_load_module (&record);
    EXPECT_EQ (log.criticals (), std::vector<std::string> {"image_module->module == NULL"});
}

// An animation as a module builds it: each frame holds one reference to its image.
TEST (Animation, LastUnrefReleasesFramesAndImages)
{
    tamba::test::ReleaseCounter counter;
    auto *animation = static_cast<TambaAnimation *> (g_malloc0 (sizeof (TambaAnimation)));
    animation->ref_count = 1;
    for (int i = 0; i < 3; i++) {
        Tamba *image = tamba_new (GDK_COLORSPACE_RGB, FALSE, 8, 2 + i, 1);
        counter.watch (image);
        TambaFrame frame {image, i, 2 * i, 10 * i, TambaFrameAction (i)};
        animation->frames = g_list_append (animation->frames, g_memdup2 (&frame, sizeof frame));
        animation->n_frames++;
    }
    animation->width = 6;
    animation->height = 5;

    EXPECT_EQ (tamba_animation_get_width (animation), 6);
    EXPECT_EQ (tamba_animation_get_height (animation), 5);
    EXPECT_EQ (tamba_animation_get_num_frames (animation), 3);
    GList *frames = tamba_animation_get_frames (animation);
    auto *last = static_cast<TambaFrame *> (g_list_last (frames)->data);
    EXPECT_EQ (tamba_get_width (tamba_frame_get_tamba (last)), 4);
    EXPECT_EQ (tamba_frame_get_x_offset (last), 2);
    EXPECT_EQ (tamba_frame_get_y_offset (last), 4);
    EXPECT_EQ (tamba_frame_get_delay_time (last), 20);
    EXPECT_EQ (tamba_frame_get_action (last), TAMBA_FRAME_REVERT);

    EXPECT_EQ (tamba_animation_ref (animation), animation);
    tamba_animation_unref (animation);
    EXPECT_EQ (counter.released, 0);
    tamba_animation_unref (animation);
    EXPECT_EQ (counter.released, 3);
}

TEST (Animation, DeadAnimationIsRefused)
{
    TambaAnimation dead {};
    LogCapture log;
    EXPECT_EQ (tamba_animation_ref (&dead), nullptr);
    tamba_animation_unref (&dead);
    EXPECT_EQ (log.criticals (), (std::vector<std::string> {"animation->ref_count > 0",
                                                             "animation->ref_count > 0"}));
}

// The loader on its own: checks, and data that no format claims.
class Loader : public ::testing::Test {
protected:
    void SetUp () override
    {
        loader = tamba_loader_new ();
        tamba::test::note_signals (loader, &note);
    }
    void TearDown () override
    {
        if (loader) g_object_unref (loader);
    }
    std::vector<std::string> signals;
    std::function<void (std::string)> note = [this] (std::string s) { signals.push_back (s); };
    TambaLoader *loader = nullptr;
};

TEST_F (Loader, Preconditions)
{
    const guchar byte = 0;
    GObject *other = G_OBJECT (g_object_new (G_TYPE_OBJECT, nullptr));
    auto *not_loader = reinterpret_cast<TambaLoader *> (other);
    LogCapture log;
    EXPECT_FALSE (tamba_loader_write (nullptr, &byte, 1));
    EXPECT_FALSE (tamba_loader_write (not_loader, &byte, 1));
    EXPECT_FALSE (tamba_loader_write (loader, nullptr, 1));
    tamba_loader_close (nullptr);
    tamba_loader_close (not_loader);
    EXPECT_EQ (tamba_loader_get_tamba (nullptr), nullptr);
    EXPECT_EQ (tamba_loader_get_animation (not_loader), nullptr);
    EXPECT_EQ (log.criticals (),
               (std::vector<std::string> {"loader != NULL", "GDK_IS_TAMBA_LOADER (loader)",
                                          "buf != NULL", "loader != NULL",
                                          "GDK_IS_TAMBA_LOADER (loader)", "loader != NULL",
                                          "GDK_IS_TAMBA_LOADER (loader)"}));
    g_object_unref (other);
    EXPECT_TRUE (signals.empty ());
}

TEST_F (Loader, TypeAndSignals)
{
    EXPECT_STREQ (g_type_name (TAMBA_TYPE_LOADER), "TambaLoader");
    EXPECT_TRUE (g_type_is_a (TAMBA_TYPE_LOADER, G_TYPE_OBJECT));
    EXPECT_TRUE (TAMBA_IS_LOADER (loader));
    const char *names[] = {"area_prepared", "area_updated", "frame_done", "animation_done",
                           "closed"};
    const guint n_params[] = {0, 4, 1, 0, 0};
    for (int i = 0; i < 5; i++) {
        // GObject keeps names with dashes; the underscored names find the same signals.
        const guint id = g_signal_lookup (names[i], TAMBA_TYPE_LOADER);
        ASSERT_NE (id, 0u) << names[i];
        GSignalQuery q;
        g_signal_query (id, &q);
        EXPECT_EQ (q.n_params, n_params[i]);
        EXPECT_EQ (q.return_type, G_TYPE_NONE);
        EXPECT_TRUE (q.signal_flags & G_SIGNAL_RUN_LAST);
    }
    EXPECT_EQ (tamba_loader_get_tamba (loader), nullptr);
    EXPECT_EQ (tamba_loader_get_animation (loader), nullptr);
}

TEST_F (Loader, UnrecognisedDataFailsQuietlyUntilClosed)
{
    const std::vector<guchar> bytes = bytes_of ("", 300);
    LogCapture log;
    EXPECT_TRUE (tamba_loader_write (loader, bytes.data (), 100));
    EXPECT_FALSE (tamba_loader_write (loader, bytes.data () + 100, 100));
    EXPECT_FALSE (tamba_loader_write (loader, bytes.data () + 200, 100));
    tamba_loader_close (loader);
    EXPECT_TRUE (log.messages ().empty ());
    EXPECT_EQ (signals, std::vector<std::string> {"closed"});
}

TEST_F (Loader, ZeroByteWriteWhileCollectingHeaderFails)
{
    const guchar byte = 0;
    EXPECT_FALSE (tamba_loader_write (loader, &byte, 0));
    EXPECT_TRUE (tamba_loader_write (loader, &byte, 1));
}

TEST_F (Loader, NothingAfterClose)
{
    const guchar byte = 0;
    tamba_loader_close (loader);
    LogCapture log;
    EXPECT_FALSE (tamba_loader_write (loader, &byte, 1));
    tamba_loader_close (loader);
    EXPECT_EQ (log.criticals (),
               (std::vector<std::string> {"priv->closed == FALSE", "priv->closed == FALSE"}));
    EXPECT_EQ (signals, std::vector<std::string> {"closed"});
}

TEST_F (Loader, ReleasingAnUnclosedLoaderClosesIt)
{
    std::vector<guchar> bytes = bytes_of ("", 10);
    EXPECT_TRUE (tamba_loader_write (loader, bytes.data (), bytes.size ()));
    g_object_unref (std::exchange (loader, nullptr));
    EXPECT_EQ (signals, std::vector<std::string> {"closed"});
}

}  // namespace
