// SPDX-License-Identifier: LGPL-2.1-or-later
// TIFF module: the image appears at stop, libtiff's own messages stay silent, refused files.
#include <tiffio.h>

#include <cstdarg>

#include "format-test.h"

namespace tamba::test {
namespace {

// The whole image appears at stop: nothing is prepared while bytes are still arriving.
TEST (Tiff, PreparesAndUpdatesOnlyAtStop)
{
    struct Seen {
        int prepared = 0;
        std::vector<guint> updates;
    } seen;
    const Bytes bytes = write_tiff (45, 37);
    const auto &m = module_for ("tiff").entries ();
    gpointer ctx = m.begin_load ([] (Tamba *, gpointer s) { static_cast<Seen *> (s)->prepared++; },
                                 [] (Tamba *, guint x, guint y, guint w, guint h, gpointer s) {
                                     static_cast<Seen *> (s)->updates.insert (static_cast<Seen *> (s)->updates.end (), {x, y, w, h});
                                 },
                                 nullptr, nullptr, &seen);
    ASSERT_NE (ctx, nullptr);
    EXPECT_TRUE (m.load_increment (ctx, bytes.data (), guint (bytes.size ())));
    EXPECT_EQ (seen.prepared, 0);
    EXPECT_TRUE (seen.updates.empty ());
    m.stop_load (ctx);
    EXPECT_EQ (seen.prepared, 1);
    EXPECT_EQ (seen.updates, (std::vector<guint> {0, 0, 45, 37}));
}

int g_libtiff_messages = 0;

// libtiff's warnings (an unknown tag here) reach neither stderr nor the log.
TEST (Tiff, UnknownTagsAreNotReported)
{
    const Bytes bytes = write_tiff (8, 8, -1, true);
    const TIFFErrorHandler count = [] (const char *, const char *, va_list) { ++g_libtiff_messages; };
    const TIFFErrorHandler old_warning = TIFFSetWarningHandler (count), old_error = TIFFSetErrorHandler (count);
    LogCapture log;
    const ImagePtr image (module_for ("tiff").load_bytes (bytes));
    TIFFSetWarningHandler (old_warning);
    TIFFSetErrorHandler (old_error);
    ASSERT_NE (image, nullptr);
    EXPECT_EQ (g_libtiff_messages, 0);
    EXPECT_TRUE (log.messages ().empty ());
}

INSTANTIATE_TEST_SUITE_P (
    Tiff, Refused,
    ::testing::Values (
        // The header claims a huge image; only its first row is written.
        Refusal {"over_pixel_limit", "tiff", write_tiff (20000, 20000, 1), "is outside the supported range"},
        Refusal {"directory_outside_file", "tiff", Bytes {'I', 'I', 42, 0, 0xF0, 0xFF, 0, 0, 0, 0}, ""},
        Refusal {"header_only", "tiff", Bytes {'M', 'M', 0, 42}, ""}),
    refusal_name);

}  // namespace
}  // namespace tamba::test
