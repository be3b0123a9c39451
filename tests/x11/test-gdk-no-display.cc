// SPDX-License-Identifier: LGPL-2.1-or-later
// The X layer without a display: a failed open is reported, calls that need the server refuse
// with a message instead of crashing, and wrapped images work regardless.
#include <gtest/gtest.h>

#include <gdk/gdk.h>
#include <gdk/gdklayer.h>
#include <gdk/gdkx.h>

#include <string>
#include <vector>

#include "log-capture.h"

namespace {

using tamba::test::LogCapture;

TEST (NoDisplay, OpeningANonexistentDisplayFailsQuietlyAndTakesTheOption)
{
    std::string prog = "t", opt = "--display=:4095", keep = "--other";
    char *argv[] = {prog.data (), opt.data (), keep.data (), nullptr};
    int argc = 3;
    char **argvp = argv;
    LogCapture log ("Gdk");
    EXPECT_FALSE (gdk_init_check (&argc, &argvp));
    EXPECT_EQ (argc, 2);
    EXPECT_STREQ (argv[1], "--other");
    EXPECT_STREQ (gdk_get_display (), ":4095");
    EXPECT_EQ (gdk_display, nullptr);
    EXPECT_TRUE (log.messages ().empty ());
}

TEST (NoDisplay, CallsThatNeedTheServerRefuse)
{
    LogCapture log ("Gdk");
    EXPECT_EQ (gdk_screen_width (), 0);
    EXPECT_EQ (gdk_pixmap_new (nullptr, 4, 4, 1), nullptr);
    EXPECT_EQ (gdk_rgb_get_visual (), nullptr);
    gdk_flush ();
    EXPECT_EQ (log.criticals (), std::vector<std::string> (4, "gdk_display != NULL"));
}

TEST (NoDisplay, WrappedImagesNeedNoServer)
{
    guchar mem[8] = {0x12, 0x34, 0x56, 0x78, 0, 0, 0, 0};
    for (auto [order, want] : {std::pair{GDK_LSB_FIRST, 0x3412u}, {GDK_MSB_FIRST, 0x1234u}}) {
        GdkImage *image = gdkl_image_wrap (nullptr, order, 16, 16, 2, 1, 8, mem);
        ASSERT_NE (image, nullptr);
        EXPECT_EQ (image->bpp, 16);
        EXPECT_EQ (image->mem, mem);
        EXPECT_EQ (gdk_image_get_pixel (image, 0, 0), want);
        gdk_image_destroy (image);  // the memory stays the caller's
    }
    LogCapture log ("Gdk");
    EXPECT_EQ (gdkl_image_wrap (nullptr, GDK_LSB_FIRST, 16, 16, 5, 1, 8, mem), nullptr);
    EXPECT_EQ (gdkl_image_wrap (nullptr, GDK_LSB_FIRST, 24, 12, 1, 1, 8, mem), nullptr);
    EXPECT_EQ (log.criticals (), (std::vector<std::string>{"bpl holds a row",
                                                           "depth >= 1 && depth <= bits_per_pixel"}));
}

}  // namespace
