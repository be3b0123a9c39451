// SPDX-License-Identifier: LGPL-2.1-or-later
// Saving through the real modules and loading back, the ways saving fails, and loading at a
// size (a reduced JPEG decode among them). The modules are found through the library search.
#include <gtest/gtest.h>

#include <glib/gstdio.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "log-capture.h"
#include "modules.h"
#include "tamba-loading.h"

namespace tamba::test {
namespace {

// A w x h image whose rows carry 5 bytes of padding filled with 0xEE, which no saver may write.
// Smooth images are gradients (fit for JPEG); the others vary from pixel to pixel, alpha too.
ImagePtr test_image (int w, int h, bool alpha, bool smooth)
{
    const int nc = alpha ? 4 : 3, stride = w * nc + 5;
    auto *data = static_cast<guchar *> (g_malloc (size_t (stride) * size_t (h)));
    std::memset (data, 0xEE, size_t (stride) * size_t (h));
    guint32 seed = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < nc; ++c) {
                seed = seed * 1103515245u + 12345u;
                data[y * stride + x * nc + c] = smooth ? guchar ((x * 255 / (w - 1) * (c + 1) + y * 255 / (h - 1)) / (c + 2))
                                                       : c == 3 && x == 0 ? 0 : guchar (seed >> 16);
            }
    return ImagePtr (tamba_new_from_data (data, GDK_COLORSPACE_RGB, alpha, 8, w, h, stride,
                                          [] (guchar *pixels, gpointer) { g_free (pixels); }, nullptr));
}

// The largest difference between two images' RGB samples, or 999 when their sizes differ.
int max_rgb_difference (const Tamba *a, const Tamba *b)
{
    if (!a || !b || a->width != b->width || a->height != b->height) return 999;
    int worst = 0;
    for (int y = 0; y < a->height; ++y)
        for (int x = 0; x < a->width; ++x)
            for (int c = 0; c < 3; ++c)
                worst = std::max (worst, std::abs (a->pixels[y * a->rowstride + x * a->n_channels + c]
                                                   - b->pixels[y * b->rowstride + x * b->n_channels + c]));
    return worst;
}

std::string save_warning (const std::string &file, const std::string &reason)
{
    gchar *text = g_strdup_printf (tamba::detail::kSaveFailed, file.c_str (), reason.c_str ());
    std::string s (text);
    g_free (text);
    return s;
}

// A fresh folder, removed with the fixture.
class Save : public ::testing::Test {
protected:
    void SetUp () override { dir_ = g_dir_make_tmp ("tamba-save-XXXXXX", nullptr); }
    void TearDown () override
    {
        if (GDir *d = g_dir_open (dir_, 0, nullptr)) {
            while (const char *name = g_dir_read_name (d)) g_remove (path (name).c_str ());
            g_dir_close (d);
        }
        g_rmdir (dir_);
        g_free (dir_);
    }
    std::string path (const std::string &name) const { return std::string (dir_) + "/" + name; }
    gchar *dir_ = nullptr;
};

TEST_F (Save, LoadsBackTheSamePixels)
{
    const struct {
        const char *format;
        bool alpha, loaded_alpha;
        int tolerance;  // 0: the very same bytes
    } cases[] = {{"png", false, false, 0}, {"png", true, true, 0}, {"pnm", false, false, 0},
                 {"bmp", false, false, 0}, {"bmp", true, true, 0}, {"jpeg", false, false, 10},
                 {"jpeg", true, false, 10}};
    for (const auto &c : cases) {
        SCOPED_TRACE (std::string (c.format) + (c.alpha ? " with alpha" : ""));
        // 13 pixels make BMP rows need padding in both depths' row sizes.
        const ImagePtr src = test_image (13, 7, c.alpha, c.tolerance > 0);
        const std::string file = path (std::string ("out.") + c.format);
        LogCapture log;
        ASSERT_TRUE (tamba_save (src.get (), file.c_str (), c.format));
        const ImagePtr back (tamba_new_from_file (file.c_str ()));
        ASSERT_NE (back, nullptr);
        EXPECT_TRUE (log.messages ().empty ());
        EXPECT_EQ (bool (back->has_alpha), c.loaded_alpha);
        if (c.tolerance == 0) {
            EXPECT_EQ (compare_images (src.get (), back.get ()), "");
        }
        EXPECT_LE (max_rgb_difference (src.get (), back.get ()), c.tolerance);
    }
}

// One warning and no file; a file size limit makes every writer fail part way.
TEST_F (Save, FailuresWarnOnceAndLeaveNoFile)
{
    const struct {
        const char *format, *file;
        int quality;
        bool bad_image, size_limit;
        std::string reason;
    } cases[] = {
        {"tga", "a.tga", 90, false, false, "unknown format \"tga\""},
        {"gif", "a.gif", 90, false, false, "the gif module cannot save"},
        {"png", "no/such/a.png", 90, false, false, "cannot open for writing: No such file or directory"},
        {"jpeg", "a.jpg", 0, false, false, "quality 0 is not in 1..100"},
        {"png", "a.png", 101, false, false, "quality 101 is not in 1..100"},
        {"bmp", "a.bmp", 90, true, false, "not a valid 8-bit RGB or RGBA image"},
        {"png", "p.png", 90, false, true, std::string ("write error: ") + g_strerror (EFBIG)},
        {"jpeg", "p.jpg", 90, false, true, std::string ("write error: ") + g_strerror (EFBIG)},
        {"pnm", "p.pnm", 90, false, true, std::string ("write error: ") + g_strerror (EFBIG)},
        {"bmp", "p.bmp", 90, false, true, std::string ("write error: ") + g_strerror (EFBIG)},
    };
    std::signal (SIGXFSZ, SIG_IGN);
    for (const auto &c : cases) {
        SCOPED_TRACE (c.reason);
        ImagePtr src = test_image (64, 64, true, false);
        if (c.bad_image) src->rowstride = 11;  // shorter than a row
        const std::string file = path (c.file);
        rlimit old {};
        getrlimit (RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = c.size_limit ? 600 : old.rlim_cur;
        ASSERT_EQ (setrlimit (RLIMIT_FSIZE, &small), 0);
        LogCapture log;
        const gboolean saved = tamba_save_with_quality (src.get (), file.c_str (), c.format, c.quality);
        setrlimit (RLIMIT_FSIZE, &old);
        EXPECT_FALSE (saved);
        EXPECT_EQ (log.messages ().size (), 1u);
        EXPECT_EQ (log.warnings (), std::vector<std::string> {save_warning (file, c.reason)});
        EXPECT_FALSE (g_file_test (file.c_str (), G_FILE_TEST_EXISTS));
    }
    // A device is written to but never removed.
    LogCapture log;
    EXPECT_FALSE (tamba_save (test_image (4, 3, false, false).get (), "/dev/full", "pnm"));
    EXPECT_EQ (log.warnings (), std::vector<std::string> {save_warning ("/dev/full", std::string ("write error: ") + g_strerror (ENOSPC))});
    EXPECT_TRUE (g_file_test ("/dev/full", G_FILE_TEST_EXISTS));
}

TEST_F (Save, NullArgumentsAreRefused)
{
    const ImagePtr src = test_image (2, 2, false, false);
    LogCapture log;
    EXPECT_FALSE (tamba_save (nullptr, "x.png", "png"));
    EXPECT_FALSE (tamba_save (src.get (), nullptr, "png"));
    EXPECT_FALSE (tamba_save_with_quality (src.get (), "x.png", nullptr, 90));
    EXPECT_EQ (log.criticals (), (std::vector<std::string> {"tamba != NULL", "filename != NULL", "format != NULL"}));
}

// Loading at a size gives what a whole load scaled by tamba_scale_simple gives: from a 40 x 20
// PNG (decoded only at full size) exactly, from a 200 x 150 JPEG (decoded at 1/2, 1/4 or 1/8
// where that covers the size) closely.
TEST_F (Save, AtSizeMatchesScaleSimple)
{
    ASSERT_TRUE (tamba_save (test_image (40, 20, true, false).get (), path ("src.png").c_str (), "png"));
    ASSERT_TRUE (tamba_save_with_quality (test_image (200, 150, false, true).get (), path ("src.jpg").c_str (), "jpeg", 95));
    const struct {
        const char *file;
        int width, height;
        bool aspect;
        int want_w, want_h, tolerance;
        GdkInterpType interp;  // fewer pixels than the source: hyper
    } cases[] = {
        {"src.png", 20, 20, true, 20, 10, 0, GDK_INTERP_HYPER},
        {"src.png", 80, 80, true, 80, 40, 0, GDK_INTERP_BILINEAR},
        {"src.png", 3, 100, true, 3, 2, 0, GDK_INTERP_HYPER},       // 1.5 rounds up
        {"src.png", 1, 1000, true, 1, 1, 0, GDK_INTERP_HYPER},      // 0.5 rounds up to the minimum
        {"src.png", 7, 90, false, 7, 90, 0, GDK_INTERP_HYPER},      // taller but 630 pixels of 800
        {"src.png", 50, 19, false, 50, 19, 0, GDK_INTERP_BILINEAR}, // narrower but 950 pixels
        {"src.png", 40, 500, true, 40, 20, 0, GDK_INTERP_HYPER},    // room to spare: as it is
        {"src.jpg", 24, 24, true, 24, 18, 6, GDK_INTERP_HYPER},     // from 1/8
        {"src.jpg", 64, 64, true, 64, 48, 6, GDK_INTERP_HYPER},     // from 1/2
        {"src.jpg", 30, 100, false, 30, 100, 6, GDK_INTERP_HYPER},  // the height needs it all
        {"src.jpg", 400, 400, true, 400, 300, 6, GDK_INTERP_BILINEAR},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE (std::string (c.file) + " " + std::to_string (c.width) + "x" + std::to_string (c.height));
        const ImagePtr full (tamba_new_from_file (path (c.file).c_str ()));
        LogCapture log;
        const ImagePtr got (tamba_new_from_file_at_size (path (c.file).c_str (), c.width, c.height, c.aspect));
        ASSERT_NE (got, nullptr);
        EXPECT_TRUE (log.messages ().empty ());
        EXPECT_EQ (got->width, c.want_w);
        EXPECT_EQ (got->height, c.want_h);
        const bool same = c.want_w == full->width && c.want_h == full->height;
        const ImagePtr expected (same ? tamba_copy (full.get ()) : tamba_scale_simple (full.get (), c.want_w, c.want_h, c.interp));
        if (c.tolerance == 0) {
            EXPECT_EQ (compare_images (got.get (), expected.get ()), "");
        }
        EXPECT_LE (max_rgb_difference (got.get (), expected.get ()), c.tolerance);
    }
}

// The JPEG entry picks the smallest scale that covers the size; libjpeg rounds scaled sides up:
// 1/8 of 200 x 150 is 25 x 19, 1/4 is 50 x 38, 1/2 100 x 75.
TEST_F (Save, JpegAtSizeEntryPicksTheSmallestScaleThatCovers)
{
    ASSERT_TRUE (tamba_save_with_quality (test_image (200, 150, false, true).get (), path ("src.jpg").c_str (), "jpeg", 95));
    const Module &jpeg = module_for ("jpeg");
    ASSERT_NE (jpeg.entries ().load_at_size, nullptr);
    const int cases[][4] = {{1, 1, 25, 19},     {25, 19, 25, 19},   {26, 19, 50, 38},   {25, 20, 50, 38},
                            {100, 75, 100, 75}, {101, 10, 200, 150}, {10, 76, 200, 150}, {300, 19, 200, 150}};
    for (const auto &c : cases) {
        FILE *f = std::fopen (path ("src.jpg").c_str (), "rb");
        const ImagePtr got (jpeg.entries ().load_at_size (f, c[0], c[1]));
        std::fclose (f);
        ASSERT_NE (got, nullptr);
        EXPECT_EQ (got->width, c[2]) << c[0] << "x" << c[1];
        EXPECT_EQ (got->height, c[3]) << c[0] << "x" << c[1];
    }
}

TEST_F (Save, AtSizeRefusesBadArgumentsAndBrokenFiles)
{
    ASSERT_TRUE (tamba_save_with_quality (test_image (200, 150, false, true).get (), path ("src.jpg").c_str (), "jpeg", 95));
    const Bytes whole = read_file (path ("src.jpg"));
    g_file_set_contents (path ("cut.jpg").c_str (), reinterpret_cast<const char *> (whole.data ()), 150, nullptr);
    const struct {
        const char *file;
        int width, height;
        const char *expression;  // nullptr: no precondition, just no image
        size_t warnings;
    } cases[] = {
        {nullptr, 10, 10, "filename != NULL", 0}, {"src.jpg", 0, 10, "width > 0", 0},
        {"src.jpg", 10, -1, "height > 0", 0},     {"missing.png", 10, 10, nullptr, 0},
        {"cut.jpg", 20, 20, nullptr, 1},
    };
    for (const auto &c : cases)
        for (bool aspect : {false, true}) {
            const std::string file = c.file ? path (c.file) : "";
            LogCapture log;
            EXPECT_EQ (ImagePtr (tamba_new_from_file_at_size (c.file ? file.c_str () : nullptr, c.width, c.height, aspect)), nullptr);
            EXPECT_EQ (log.criticals (), c.expression ? std::vector<std::string> {c.expression} : std::vector<std::string> {});
            EXPECT_EQ (log.warnings ().size (), c.warnings) << file;
        }
}

}  // namespace
}  // namespace tamba::test
