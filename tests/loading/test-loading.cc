// SPDX-License-Identifier: LGPL-2.1-or-later
// The format table, whole-file loading up to the point where a module would be opened, and the
// checks of the loading calls and the progressive loader. No module is opened here.
#include <gtest/gtest.h>

#include "loading-test.h"
#include "log-capture.h"
#include "tamba-loading.h"

namespace tamba::test {
namespace {

using Strings = std::vector<std::string>;
const std::string kPng ("\x89PNG\r\n\x1a\n", 8);

// Each format's signature, and the shortest data it is recognised in (format nullptr: no match).
TEST (Signatures, RecogniseFormats)
{
    const struct { std::string prefix; guint size; const char *format; } cases[] = {
        {kPng, 28, "png"}, {kPng, 27, nullptr}, {"\xff\xd8", 10, "jpeg"}, {"\xff\xd8", 9, nullptr},
        {std::string ("II\x2a\x00", 4), 10, "tiff"}, {std::string ("II\x2a\x00", 4), 9, nullptr},
        {std::string ("MM\x00\x2a", 4), 10, "tiff"}, {"GIF87a", 20, "gif"}, {"GIF89a", 19, nullptr},
        {"/* XPM */", 20, "xpm"}, {"P6", 20, "pnm"}, {"P1", 20, "pnm"}, {"P7", 20, nullptr},
        {"P6", 19, nullptr}, {"\x59\xa6\x6a\x95", 32, "ras"}, {"\x59\xa6\x6a\x95", 31, nullptr},
        {std::string ("\x00\x00\x01\x00\x07\x00", 6), 6, "ico"}, {std::string ("\x00\x00\x02\x00\xff\x00", 6), 6, "ico"},
        {std::string ("\x00\x00\x01\x00\x07\x01", 6), 6, nullptr}, {std::string ("\x00\x00\x03\x00\x07\x00", 6), 6, nullptr},
        {std::string ("\x00\x00\x01\x00\x07", 5), 5, nullptr}, {"BM", 20, "bmp"}, {"BM", 19, nullptr},
        {"#define ", 20, "xbm"}, {"#define\t", 20, nullptr}, {"", 128, nullptr},
    };
    for (const auto &c : cases) {
        std::vector<guchar> bytes = bytes_of (c.prefix, c.size);
        LogCapture log;
        TambaModule *m = tamba_get_module (bytes.data (), guint (bytes.size ()));
        EXPECT_STREQ (m ? m->module_name : nullptr, c.format) << c.prefix << ", " << c.size << " bytes";
        EXPECT_TRUE (!m || !m->module) << "recognising opens nothing";
        EXPECT_TRUE (log.messages ().empty ());
    }
    // A size past the signed range is still "enough bytes", not a negative count.
    std::vector<guchar> bytes = bytes_of ("BM", 32);
    EXPECT_STREQ (tamba_get_module (bytes.data (), G_MAXUINT)->module_name, "bmp");
}

// Failures before a module is needed: a missing or empty file is quiet, unknown data warns.
TEST (WholeFile, FailuresBeforeAModule)
{
    const struct { bool exists; std::vector<guchar> bytes; bool warns; } cases[] = {
        {false, {}, false}, {true, {}, false}, {true, bytes_of ("hello", 300), true}, {true, bytes_of (kPng, 27), true}};
    for (const auto &c : cases) {
        TempFile file (c.bytes);
        const std::string path = c.exists ? file.path () : std::string (file.path ()) + ".missing";
        const std::string warning = "Unable to find handler for file: " + path;
        LogCapture log;
        EXPECT_EQ (tamba_new_from_file (path.c_str ()), nullptr);
        EXPECT_EQ (tamba_animation_new_from_file (path.c_str ()), nullptr);
        EXPECT_EQ (log.warnings (), (c.warns ? Strings {warning, warning} : Strings {})) << path;
        EXPECT_EQ (log.messages ().size (), log.warnings ().size ());
    }
}

// The loader on its own. Its signals' arguments are read by the handlers of the module tests.
class Loader : public ::testing::Test {
protected:
    void SetUp () override { note_signals (loader, &note); }
    void TearDown () override { g_object_unref (loader); }
    Strings signals;
    Note note = [this] (std::string s) { signals.push_back (s); };
    TambaLoader *loader = tamba_loader_new ();
    const guchar byte = 0;
};

// One call per kind of check: the failure value, and the expression the critical names. A closed
// loader takes nothing more, and closes only once.
TEST_F (Loader, Preconditions)
{
    EXPECT_STREQ (g_type_name (TAMBA_TYPE_LOADER), "TambaLoader");
    EXPECT_EQ (tamba_loader_get_tamba (loader), nullptr);
    EXPECT_EQ (tamba_loader_get_animation (loader), nullptr);
    TambaModule opened {};
    opened.module_name = const_cast<char *> ("png");
    opened.module = reinterpret_cast<GModule *> (&opened);
    TambaAnimation dead {};
    GObject *other = G_OBJECT (g_object_new (G_TYPE_OBJECT, nullptr));
    auto *not_loader = reinterpret_cast<TambaLoader *> (other);
    LogCapture log;
    EXPECT_EQ (tamba_new_from_file (nullptr), nullptr);
    EXPECT_EQ (tamba_animation_ref (nullptr), nullptr);
    EXPECT_EQ (tamba_animation_get_width (nullptr), -1);
    EXPECT_EQ (tamba_frame_get_delay_time (nullptr), -1);
    EXPECT_EQ (tamba_frame_get_action (nullptr), TAMBA_FRAME_RETAIN);
    tamba_load_module (nullptr);
    tamba_load_module (&opened);
    EXPECT_EQ (tamba_animation_ref (&dead), nullptr);
    tamba_animation_unref (&dead);
    EXPECT_FALSE (tamba_loader_write (nullptr, &byte, 1));
    EXPECT_FALSE (tamba_loader_write (not_loader, &byte, 1));
    EXPECT_FALSE (tamba_loader_write (loader, nullptr, 1));
    tamba_loader_close (nullptr);
    tamba_loader_close (not_loader);
    EXPECT_EQ (tamba_loader_get_tamba (nullptr), nullptr);
    EXPECT_EQ (tamba_loader_get_animation (not_loader), nullptr);
    tamba_loader_close (loader);
    EXPECT_FALSE (tamba_loader_write (loader, &byte, 1));
    tamba_loader_close (loader);
    EXPECT_EQ (log.criticals (), (Strings {"filename != NULL", "animation != NULL", "animation != NULL", "frame != NULL",
                                           "frame != NULL", "image_module != NULL", "image_module->module == NULL",
                                           "animation->ref_count > 0", "animation->ref_count > 0", "loader != NULL",
                                           "GDK_IS_TAMBA_LOADER (loader)", "buf != NULL", "loader != NULL",
                                           "GDK_IS_TAMBA_LOADER (loader)", "loader != NULL", "GDK_IS_TAMBA_LOADER (loader)",
                                           "priv->closed == FALSE", "priv->closed == FALSE"}));
    EXPECT_EQ (log.messages ().size (), log.criticals ().size ());
    g_object_unref (other);
    EXPECT_EQ (signals, Strings {"closed"});
}

}  // namespace
}  // namespace tamba::test
